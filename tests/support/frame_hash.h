// A 64-bit fingerprint of a whole picture, for tests that pin frames to the pixels they had.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace lapquill::test {

// FNV-1a over the ARGB words, byte by byte, with the size mixed in first; as hex text, so that a
// failure prints the new value.
inline std::string FrameHash(const std::uint32_t* pixels, std::int32_t width,
                             std::int32_t height) {
    std::uint64_t h = 14695981039346656037ull;
    auto mix = [&h](std::uint32_t word) {
        for (int shift = 0; shift < 32; shift += 8) {
            h ^= (word >> shift) & 0xFF;
            h *= 1099511628211ull;
        }
    };
    mix(static_cast<std::uint32_t>(width));
    mix(static_cast<std::uint32_t>(height));
    for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height; ++i) mix(pixels[i]);
    char text[24];
    std::snprintf(text, sizeof text, "0x%016llX", static_cast<unsigned long long>(h));
    return text;
}

}  // namespace lapquill::test
