#include "files/text_encoding.h"

#include <gtest/gtest.h>

namespace lapquill {
namespace {

TEST(DecodeWindows1252, MapsTheCodePageToUtf8) {
    EXPECT_EQ(DecodeWindows1252("Harrow Vale"), "Harrow Vale");
    EXPECT_EQ(DecodeWindows1252("\x80\x8A\x99\x9F"), "\u20AC\u0160\u2122\u0178");
    EXPECT_EQ(DecodeWindows1252("\xE9\xFF\xA0"), "\u00E9\u00FF\u00A0");
    // Unassigned bytes keep their value as a control character.
    EXPECT_EQ(DecodeWindows1252("\x81\x9D"), "\u0081\u009D");
}

TEST(TerminalText, ReplacesControlsAndBrokenSequences) {
    EXPECT_EQ(TerminalText("Caf\u00E9 \u20AC"), "Caf\u00E9 \u20AC");
    EXPECT_EQ(TerminalText("a\x1b[2Jb\tc\x7f"), "a?[2Jb?c?");
    EXPECT_EQ(TerminalText("\u009B" "31m"), "?31m");  // the one-character CSI
    EXPECT_EQ(TerminalText("x\xE9y\xC3"), "x?y?");     // Latin-1 bytes are not UTF-8
    EXPECT_EQ(TerminalText("\xC0\xAF"), "??");         // nor overlong forms
    // Every byte decoded and made safe prints without a control character.
    std::string all;
    for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
    const std::string safe = TerminalText(DecodeWindows1252(all));
    for (const char c : safe) EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7F);
    EXPECT_EQ(safe.find("\xC2\x80"), std::string::npos);
}

}  // namespace
}  // namespace lapquill
