// Named tolerances for the tests, each with the reason it is what it is. Failure messages
// print both values (EXPECT_NEAR does).
#pragma once

namespace lapquill::test {

// One step of fixed point with 16 fraction bits: what a position loses through a file.
inline constexpr float kFixedPointStep = 1.0f / 65536.0f;
// Single-precision arithmetic on values of order 1.
inline constexpr float kFloatTolerance = 1e-5f;
// Colour channels after blending or filtering: one step of 8-bit rounding.
inline constexpr int kColourChannelTolerance = 1;

// Glyph metrics are whole pixels at every size: the ascent and the descent are each rounded, so
// a cell rasterised at half the size is within 1.5 pixels of half the full cell (0.75 each).
inline constexpr float kGlyphRoundingPixels = 1.5f;

}  // namespace lapquill::test
