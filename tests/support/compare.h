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

// Positions of up to a few thousand metres in single precision: a few steps of the float's
// resolution there (about 0.5 mm at 4096 m) after a handful of operations.
inline constexpr float kMetreTolerance = 2e-3f;
// A point projected to the screen and picked back, in pixels: the float resolution of metre
// coordinates scaled by the pixels per metre of a default view.
inline constexpr float kPixelTolerance = 0.02f;

// A demo record's step against its speed × 0.01 s: the speed is read from the profile at the
// record while the position advances by midpoint steps between records, so they differ by
// the change of speed within one record, well under 2 % even under full braking.
inline constexpr double kDemoStepTolerance = 0.02;
// Absolute part of the same comparison: a position's float rounding at a few hundred metres.
inline constexpr double kDemoPositionNoise = 2e-4;

}  // namespace lapquill::test
