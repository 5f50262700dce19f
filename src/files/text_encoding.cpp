#include "files/text_encoding.h"

#include <cstdint>

namespace lapquill {

namespace {

// Code points of bytes 0x80-0x9F; the rest of the code page equals Latin-1.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(char32_t c, std::string* out) {
    if (c < 0x80) {
        out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (c >> 6)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xE0 | (c >> 12)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

}  // namespace

char32_t Windows1252CodePoint(unsigned char byte) {
    return byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80] : byte;
}

std::string DecodeWindows1252(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        AppendUtf8(Windows1252CodePoint(static_cast<unsigned char>(ch)), &out);
    }
    return out;
}

namespace {

// The code point of the UTF-8 sequence that starts at byte i, and its length; a length of 0
// when the bytes there are no valid sequence (cut, overlong, a surrogate, beyond U+10FFFF).
std::size_t Utf8Sequence(std::string_view utf8, std::size_t i, char32_t* code) {
    const auto b = static_cast<std::uint8_t>(utf8[i]);
    std::size_t n = 0;
    char32_t c = 0, least = 0;
    if (b < 0x80) {
        n = 1, c = b;
    } else if ((b & 0xE0) == 0xC0) {
        n = 2, c = b & 0x1F, least = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        n = 3, c = b & 0x0F, least = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        n = 4, c = b & 0x07, least = 0x10000;
    }
    bool valid = n > 0 && i + n <= utf8.size();
    for (std::size_t k = 1; valid && k < n; ++k) {
        const auto t = static_cast<std::uint8_t>(utf8[i + k]);
        valid = (t & 0xC0) == 0x80;
        c = (c << 6) | (t & 0x3F);
    }
    valid = valid && c >= least && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
    *code = c;
    return valid ? n : 0;
}

}  // namespace

bool IsUtf8(std::string_view bytes) {
    char32_t c = 0;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t n = Utf8Sequence(bytes, i, &c);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string Utf8OrWindows1252(std::string_view bytes) {
    return IsUtf8(bytes) ? std::string(bytes) : DecodeWindows1252(bytes);
}

std::string TerminalText(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        char32_t c = 0;
        const std::size_t n = Utf8Sequence(utf8, i, &c);
        if (n == 0) {
            out.push_back('?');
            ++i;
            continue;
        }
        const bool control = c < 0x20 || (c >= 0x7F && c < 0xA0);
        if (control) {
            out.push_back('?');
        } else {
            out.append(utf8.substr(i, n));
        }
        i += n;
    }
    return out;
}

}  // namespace lapquill
