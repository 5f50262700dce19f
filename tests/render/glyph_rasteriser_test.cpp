#include "render/glyph_rasteriser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace lapquill {
namespace {

// Sum of the coverage in a rectangle [x0, x1) x [y0, y1).
long InkIn(const CoverageBitmap& bitmap, int x0, int y0, int x1, int y1) {
    long sum = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) sum += bitmap.At(x, y);
    return sum;
}

// Mean column of the ink in rows [y0, y1), weighted by coverage.
double InkCentreX(const CoverageBitmap& bitmap, int y0, int y1) {
    double weighted = 0.0;
    double total = 0.0;
    for (int y = y0; y < y1; ++y)
        for (int x = 0; x < bitmap.width; ++x) {
            weighted += double(x) * bitmap.At(x, y);
            total += bitmap.At(x, y);
        }
    return total > 0.0 ? weighted / total : -1.0;
}

TEST(GlyphRasteriserOpen, FindsTheViewFontsOrTheirMetricTwins) {
    struct Row {
        const char* requested;
        const char* twin;
    };
    const Row rows[] = {{"Arial", "Liberation Sans"},
                        {"Courier New", "Liberation Mono"},
                        {"Times New Roman", "Liberation Serif"}};
    for (const Row& row : rows) {
        GlyphRasteriser rasteriser;
        ASSERT_TRUE(rasteriser.Open(row.requested, false, false, 12)) << row.requested;
        const std::string family = rasteriser.FamilyName();
        EXPECT_TRUE(family == row.requested || family == row.twin)
            << row.requested << " resolved to " << family << " (" << rasteriser.FacePath() << ")";
    }
}

TEST(GlyphRasteriserDrawChar, InkSitsOnTheBaselineInsideTheCell) {
    GlyphRasteriser rasteriser;
    ASSERT_TRUE(rasteriser.Open("Arial", false, false, 32));
    const int ascent = rasteriser.Ascent();
    const GlyphCell cell = rasteriser.MeasureChar('H');
    EXPECT_EQ(cell.cy, ascent + rasteriser.Descent());
    CoverageBitmap bitmap(100, 100);
    const int x = 20, y = 10;
    rasteriser.DrawChar('H', x, y, &bitmap);

    const long total = InkIn(bitmap, 0, 0, 100, 100);
    EXPECT_GT(total, 0);
    EXPECT_EQ(InkIn(bitmap, x, y, x + cell.cx, y + cell.cy), total);  // all ink in the cell
    // A capital stands on the baseline: ink in the row just above it, none below it.
    EXPECT_GT(InkIn(bitmap, x, y + ascent - 1, x + cell.cx, y + ascent), 0);
    EXPECT_EQ(InkIn(bitmap, x, y + ascent + 1, x + cell.cx, y + cell.cy), 0);
    // A descender reaches below the baseline.
    CoverageBitmap g(100, 100);
    rasteriser.DrawChar('g', x, y, &g);
    EXPECT_GT(InkIn(g, 0, y + ascent + 1, 100, y + cell.cy), 0);
}

TEST(GlyphRasteriserDrawChar, ClearsItsCellAndLeavesTheRest) {
    GlyphRasteriser rasteriser;
    ASSERT_TRUE(rasteriser.Open("Courier New", false, false, 12));
    const GlyphCell cell = rasteriser.MeasureChar(' ');
    CoverageBitmap bitmap(40, 40);
    std::fill(bitmap.pixels.begin(), bitmap.pixels.end(), std::uint8_t{200});
    rasteriser.DrawChar(' ', 5, 6, &bitmap);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) {
            const bool inCell = x >= 5 && x < 5 + cell.cx && y >= 6 && y < 6 + cell.cy;
            ASSERT_EQ(bitmap.At(x, y), inCell ? 0 : 200) << "at " << x << ", " << y;
        }
}

TEST(GlyphRasteriserStyles, BoldIsHeavierAndItalicLeansRight) {
    GlyphRasteriser regular, bold, italic;
    ASSERT_TRUE(regular.Open("Arial", false, false, 40));
    ASSERT_TRUE(bold.Open("Arial", true, false, 40));
    ASSERT_TRUE(italic.Open("Arial", false, true, 40));
    CoverageBitmap r(80, 80), b(80, 80), i(80, 80);
    regular.DrawChar('l', 20, 0, &r);
    bold.DrawChar('l', 20, 0, &b);
    italic.DrawChar('l', 20, 0, &i);
    EXPECT_GT(InkIn(b, 0, 0, 80, 80), InkIn(r, 0, 0, 80, 80) * 5 / 4);

    // The stem of an upright 'l' is vertical; an italic one is further right at the top.
    const int ascent = italic.Ascent();
    const double regularLean = InkCentreX(r, 0, ascent / 2) - InkCentreX(r, ascent / 2, ascent);
    const double italicLean = InkCentreX(i, 0, ascent / 2) - InkCentreX(i, ascent / 2, ascent);
    EXPECT_NEAR(regularLean, 0.0, 0.5);
    EXPECT_GT(italicLean, 2.0);  // about 12 degrees over a glyph of 29 px
}

}  // namespace
}  // namespace lapquill
