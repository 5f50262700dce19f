// Names in the data files are 8-bit text written by a Windows program: Windows-1252. Every
// place where a name becomes text for the user (JSON, the terminal, Qt) decodes it with
// DecodeWindows1252, once, and terminal output goes through TerminalText as well.
#pragma once

#include <string>
#include <string_view>

namespace lapquill {

// Windows-1252 bytes as UTF-8. The five bytes the code page leaves unassigned (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) become the control characters of the same value, so nothing is lost.
std::string DecodeWindows1252(std::string_view bytes);
// The code point of one Windows-1252 byte, as DecodeWindows1252 decodes it.
char32_t Windows1252CodePoint(unsigned char byte);

// Whether the bytes are valid UTF-8 throughout.
bool IsUtf8(std::string_view bytes);

// Text that must be UTF-8 (JSON, CSV headers) from bytes of unknown encoding, such as a file
// name: the bytes as they are when they are valid UTF-8, else read as Windows-1252, so that
// names from a Windows system come out as they were meant and nothing is dropped.
std::string Utf8OrWindows1252(std::string_view bytes);

// UTF-8 text made safe to print: control characters (C0, DEL and C1), which could move the
// cursor or start an escape sequence, and bytes that are not valid UTF-8 become '?'.
std::string TerminalText(std::string_view utf8);

}  // namespace lapquill
