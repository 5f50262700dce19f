// The table's legibility over any map: the dark panel behind it, outlined titles in a shade of
// their slot colour that stands out from the outline, and the layout at twice the pixel density.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "render/software_device.h"
#include "render/stats_overlay.h"
#include "render/texture_font.h"

namespace lapquill {
namespace {

constexpr std::int32_t kWidth = 1280;
constexpr std::int32_t kHeight = 800;
constexpr int kSectors = 3;

StatsTable TableOf(int columns) {
    StatsTable table;
    table.labels = {"Player", "Gear"};
    for (int i = 0; i < columns; ++i) {
        StatsColumn c;
        c.title = "Lap_" + std::to_string(i);
        c.cells = {StatsCell{"Player", StatsRowKind::Name, "Driver", 0, GaugeColour::None},
                   StatsCell{"Throttle", StatsRowKind::Gauge, "", 0.5f, GaugeColour::Green}};
        table.columns.push_back(std::move(c));
    }
    return table;
}

double Luma(std::uint32_t c) {
    return (0.299 * ((c >> 16) & 0xFF) + 0.587 * ((c >> 8) & 0xFF) + 0.114 * (c & 0xFF)) / 255.0;
}

// Fonts rasterised at a given dpi, and an overlay measured with them at the matching scale.
struct ScaledTable {
    explicit ScaledTable(int dpi) : device(std::make_unique<SoftwareDevice>(kWidth, kHeight)) {
        for (TextureFont* f : {&fps, &value, &label}) {
            EXPECT_EQ(f->CreateGlyphTexture(device.get(), dpi), S_OK);
            EXPECT_EQ(f->CreateDrawResources(), S_OK);
        }
        overlay.pixelScale = static_cast<float>(dpi) / 96.0f;
    }
    ~ScaledTable() {
        ReleaseStatsPanel(&overlay);
        for (TextureFont* f : {&fps, &value, &label}) {
            f->ReleaseDrawResources();
            f->ReleaseGlyphTexture();
        }
    }
    void Measure(int replays) {
        ASSERT_EQ(BuildStatsPanel(&overlay, device.get(), value, kWidth, replays, kSectors), S_OK);
    }
    // Draws the overlay over a white frame and returns the pixel at (x, y).
    std::uint32_t DrawAndRead(const StatsTable& table, int x, int y) {
        Draw(table);
        return PixelAt(x, y);
    }
    void Draw(const StatsTable& table) {
        RenderDevice* d = device.get();
        d->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
        d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFFu, 1.0f, 0);
        d->BeginScene();
        const OverlayFonts fonts{&fps, &value, &label};
        EXPECT_EQ(DrawStatsOverlay(overlay, d, fonts, table, kWidth, kHeight), S_OK);
        d->EndScene();
        d->Present();
    }
    std::uint32_t PixelAt(int x, int y) const {
        const PresentedFrame f = device->GetPresentedFrame();
        return f.pixels[static_cast<std::size_t>(y) * (static_cast<std::size_t>(f.pitch) / 4) +
                        static_cast<std::size_t>(x)];
    }

    std::unique_ptr<SoftwareDevice> device;
    TextureFont fps{"Arial", 12};
    TextureFont value{"Courier New", 9};
    TextureFont label{"Times New Roman", 9};
    StatsOverlay overlay;
};

TEST(LegibleTitleColour, EverySlotStandsOutFromTheOutlineAndKeepsItsHue) {
    for (const std::uint32_t slot : kReplayColours) {
        const std::uint32_t title = LegibleTitleColour(slot);
        EXPECT_EQ(title >> 24, 0xFFu) << std::hex << slot;
        EXPECT_GE(ContrastRatio(title, kTitleOutlineColour), 4.5) << std::hex << slot;
        // Full channels stay full and the order of the channels is kept: blue stays blue.
        for (int shift : {0, 8, 16}) {
            const std::uint32_t was = (slot >> shift) & 0xFF;
            const std::uint32_t now = (title >> shift) & 0xFF;
            if (was == 0xFF) {
                EXPECT_EQ(now, 0xFFu) << std::hex << slot;
            }
            for (int other : {0, 8, 16}) {
                if (((slot >> other) & 0xFF) < was) {
                    EXPECT_LT((title >> other) & 0xFF, now) << std::hex << slot;
                }
            }
        }
        // A colour that is legible already is left alone.
        if (ContrastRatio(slot | 0xFF000000u, kTitleOutlineColour) >= 4.5) {
            EXPECT_EQ(title, slot | 0xFF000000u) << std::hex << slot;
        }
    }
    EXPECT_NE(LegibleTitleColour(0x800000FFu), 0xFF0000FFu);  // pure blue is 2.4:1 on black
    EXPECT_NEAR(ContrastRatio(0xFFFFFFFFu, 0xFF000000u), 21.0, 1e-9);
    EXPECT_DOUBLE_EQ(ContrastRatio(0xFF336699u, 0xFFCCAA00u), ContrastRatio(0xFFCCAA00u, 0xFF336699u));
}

TEST(StatsBackdrop, DarkensTheTableAreaOnlyWhenVisible) {
    ScaledTable t(96);
    const StatsTable table = TableOf(2);
    const int columns = 2;
    t.Measure(columns);
    const int left = kWidth - (columns + 1) * t.overlay.columnWidth;
    const int bottom = (1 + kSectors + StatsRowsBesideSectors()) * t.overlay.lineHeight;
    EXPECT_EQ(t.overlay.statsPanelTriangleCount, 4 * columns + 2);

    t.overlay.backdropVisible = true;
    t.Measure(columns);
    EXPECT_EQ(t.overlay.statsPanelTriangleCount, 4 * columns + 4);
    t.Draw(table);
    // Inside the table (away from texts and lines) the white map is darkened; outside it is not.
    int dark = 0, samples = 0;
    for (int y = bottom - 20; y < bottom; y += 3) {
        for (int x = left + 2; x < kWidth - 2; x += 7) {
            ++samples;
            if (Luma(t.PixelAt(x, y)) < 0.4) ++dark;
        }
    }
    EXPECT_GT(dark, samples * 9 / 10);
    EXPECT_GT(Luma(t.PixelAt(left - 3, bottom / 2)), 0.99);
    EXPECT_GT(Luma(t.PixelAt(left + 4, bottom + 12)), 0.99);

    t.overlay.backdropVisible = false;
    t.Measure(columns);
    EXPECT_GT(Luma(t.DrawAndRead(table, left + 5, bottom - 4)), 0.99);
}

TEST(StatsTitles, OutlinedTitlesDrawEightDarkCopiesUnderALighterShade) {
    ScaledTable t(96);
    const StatsTable table = TableOf(3);
    t.Measure(3);
    const StatsOverlayDraws plain = BuildStatsOverlayDraws(t.overlay, table, t.label, kWidth, kHeight);
    t.overlay.titleOutline = true;
    for (const float scale : {1.0f, 2.0f}) {
        t.overlay.pixelScale = scale;
        const StatsOverlayDraws outlined =
            BuildStatsOverlayDraws(t.overlay, table, t.label, kWidth, kHeight);
        EXPECT_EQ(outlined.texts.size(), plain.texts.size() + 8 * 3);
        for (int i = 0; i < 3; ++i) {
            const std::string title = table.columns[static_cast<std::size_t>(i)].title;
            std::vector<const OverlayText*> copies;
            for (const OverlayText& x : outlined.texts) {
                if (x.text == title) copies.push_back(&x);
            }
            ASSERT_EQ(copies.size(), 9u) << title;
            const OverlayText& top = *copies.back();  // drawn last, over its outline
            EXPECT_EQ(top.colour, LegibleTitleColour(kReplayColours[static_cast<std::size_t>(i)]));
            int around = 0;
            for (std::size_t c = 0; c + 1 < copies.size(); ++c) {
                EXPECT_EQ(copies[c]->colour, kTitleOutlineColour);
                const float dx = std::fabs(copies[c]->x - top.x);
                const float dy = std::fabs(copies[c]->y - top.y);
                EXPECT_TRUE(dx == 0.0f || dx == scale) << dx;
                EXPECT_TRUE(dy == 0.0f || dy == scale) << dy;
                if (dx > 0.0f || dy > 0.0f) ++around;
            }
            EXPECT_EQ(around, 8);
        }
    }
}

TEST(StatsTitles, ATitleAsWideAsItsFieldEndsInsideTheLastColumn) {
    ScaledTable t(96);
    t.Measure(2);
    StatsTable table = TableOf(2);
    table.columns[1].title = "Tobias_KestrelGT";
    TextSize size;
    t.label.MeasureText(table.columns[1].title.c_str(), &size);
    // A field exactly as wide as the title: centred over the column with its gap, the title
    // would end a pixel past the window's edge.
    t.overlay.numberFieldWidth = size.cx;
    t.overlay.columnWidth = size.cx + 3;
    for (const bool outline : {false, true}) {
        t.overlay.titleOutline = outline;
        const StatsOverlayDraws d = BuildStatsOverlayDraws(t.overlay, table, t.label, kWidth, kHeight);
        int seen = 0;
        for (const OverlayText& x : d.texts) {
            if (x.text == table.columns[1].title && x.colour != kTitleOutlineColour) {
                ++seen;
                EXPECT_LE(x.x + static_cast<float>(size.cx), static_cast<float>(kWidth));
                EXPECT_GE(x.x, static_cast<float>(kWidth - t.overlay.columnWidth));
            }
        }
        EXPECT_EQ(seen, 1);
    }
}

TEST(StatsTableScale, TwiceTheDensityGivesATableTwiceTheSizeWithScaledGaps) {
    ScaledTable one(96), two(192);
    one.overlay.backdropVisible = two.overlay.backdropVisible = true;
    one.Measure(6);
    two.Measure(6);
    // The fonts come from FreeType at each size, so a pixel or so of rounding per measure.
    EXPECT_NEAR(two.overlay.lineHeight, 2 * one.overlay.lineHeight, 1);
    EXPECT_NEAR(two.overlay.numberFieldWidth, 2 * one.overlay.numberFieldWidth, 2);
    EXPECT_EQ(one.overlay.columnWidth - one.overlay.numberFieldWidth, 3);
    EXPECT_EQ(two.overlay.columnWidth - two.overlay.numberFieldWidth, 6);

    const auto panelHeight = [](const StatsOverlay& o) {
        const std::vector<ScreenVertex> v = BuildStatsPanelVertices(o, kWidth, 6, kSectors);
        float bottom = 0;
        for (std::size_t i = 0; i < static_cast<std::size_t>(kQuadVertices); ++i) bottom = std::max(bottom, v[i].y);
        return bottom;
    };
    const double ratio = panelHeight(two.overlay) / panelHeight(one.overlay);
    EXPECT_NEAR(ratio, 2.0, 0.08);

    // Rows, gauges and their insets follow: the throttle gauge of the first column.
    const StatsTable table = TableOf(6);
    const StatsOverlayDraws a = BuildStatsOverlayDraws(one.overlay, table, one.label, kWidth, kHeight);
    const StatsOverlayDraws b = BuildStatsOverlayDraws(two.overlay, table, two.label, kWidth, kHeight);
    ASSERT_FALSE(a.bars.empty());
    ASSERT_FALSE(b.bars.empty());
    const float aTop = a.bars[0].y, bTop = b.bars[0].y;
    const float aHeight = a.bars[1].y - a.bars[0].y, bHeight = b.bars[1].y - b.bars[0].y;
    EXPECT_NEAR(bTop, 2 * aTop, 3.0f);
    EXPECT_NEAR(bHeight, 2 * aHeight, 2.0f);
    // Each column starts its gap, 3 pixels at 96 dpi and 6 at 192, past its left line.
    EXPECT_EQ(a.bars[0].x, static_cast<float>(kWidth - 6 * one.overlay.columnWidth + 3));
    EXPECT_EQ(b.bars[0].x, static_cast<float>(kWidth - 6 * two.overlay.columnWidth + 6));
}

}  // namespace
}  // namespace lapquill
