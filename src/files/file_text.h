// Fixed-width text fields of the data files: a field ends at its first zero byte or, when
// it has none, at the end of its width. Nothing reads past a field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace lapquill {

inline std::string_view FieldText(const std::uint8_t* field, std::size_t width) {
    const void* zero = std::memchr(field, 0, width);
    const std::size_t n =
        zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - field) : width;
    return {reinterpret_cast<const char*>(field), n};
}

// Compares the first bytes of a header, as a zero-terminated text, with a magic: the magic's
// characters must match and the byte after them must be the terminator.
inline bool MagicMatches(const std::uint8_t* bytes, std::string_view magic) {
    return std::memcmp(bytes, magic.data(), magic.size()) == 0 && bytes[magic.size()] == 0;
}

}  // namespace lapquill
