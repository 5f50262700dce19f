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

TEST(Utf8OrWindows1252, KeepsUtf8AndReadsOtherBytesAsTheCodePage) {
    EXPECT_TRUE(IsUtf8("Caf\u00E9 \u20AC \U0001F3C1"));
    EXPECT_FALSE(IsUtf8("x\xE9y"));           // a Latin-1 byte alone
    EXPECT_FALSE(IsUtf8("\xC0\xAF"));         // overlong
    EXPECT_FALSE(IsUtf8("\xED\xA0\x80"));     // a surrogate
    EXPECT_FALSE(IsUtf8("\xE2\x82"));         // cut short
    EXPECT_EQ(Utf8OrWindows1252("Caf\u00E9"), "Caf\u00E9");
    // One stray byte makes the whole name Windows-1252, so "\xC3\xA9" is not half decoded.
    EXPECT_EQ(Utf8OrWindows1252("Jos\xE9_\x80"), "Jos\u00E9_\u20AC");
    EXPECT_TRUE(IsUtf8(Utf8OrWindows1252("\xC3\xA9\xE9")));
}

}  // namespace
}  // namespace lapquill
