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

// UTF-8 text made safe to print: control characters (C0, DEL and C1), which could move the
// cursor or start an escape sequence, and bytes that are not valid UTF-8 become '?'.
std::string TerminalText(std::string_view utf8);

}  // namespace lapquill
