// Fixed-width text fields of the data files: a field ends at its first zero byte or, when
// it has none, at the end of its width. Nothing reads past a field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace lapquill {

// Where a text field sits in a header and how wide it is.
struct TextField {
    int at;
    int width;
};

inline std::string_view FieldText(const std::uint8_t* field, std::size_t width) {
    const void* zero = std::memchr(field, 0, width);
    const std::size_t n =
        zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - field) : width;
    return {reinterpret_cast<const char*>(field), n};
}

inline std::string_view FieldText(const std::uint8_t* header, TextField f) {
    return FieldText(header + f.at, static_cast<std::size_t>(f.width));
}

// Fills a field with the text, cut to the field's width, and zeros after it.
inline void SetFieldText(std::uint8_t* field, std::size_t width, std::string_view text) {
    std::memset(field, 0, width);
    if (!text.empty()) std::memcpy(field, text.data(), text.size() < width ? text.size() : width);
}
inline void SetFieldText(std::uint8_t* header, TextField f, std::string_view text) {
    SetFieldText(header + f.at, static_cast<std::size_t>(f.width), text);
}

// Every data file starts with the same marker: a magic of six letters, its zero, one free
// byte and the version. Loaders read it first, on its own.
inline constexpr int kFileMarkerSize = 9;
inline constexpr int kFileVersionAt = 8;

// Compares the first bytes of a header, as a zero-terminated text, with a magic: the magic's
// characters must match and the byte after them must be the terminator.
inline bool MagicMatches(const std::uint8_t* bytes, std::string_view magic) {
    return std::memcmp(bytes, magic.data(), magic.size()) == 0 && bytes[magic.size()] == 0;
}

}  // namespace lapquill
