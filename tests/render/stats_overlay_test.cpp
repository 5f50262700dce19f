#include "render/stats_overlay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "render/software_device.h"
#include "render/texture_font.h"

namespace lapquill {
namespace {

constexpr std::int32_t kClientWidth = 1280;
constexpr std::int32_t kClientHeight = 800;
constexpr std::uint32_t kGrey = 0xFF808080u;

// A table of the text model's rows (labels, kinds and gauge colours from the row table) with
// neutral values; tests change the cells they look at.
StatsTable MakeTable(int columns, int sectors) {
    StatsTable table;
    std::vector<StatsCell> cells;
    const DisplayUnits units;
    for (const StatsRow& row : StatsRows()) {
        const int repeats = !row.drawn ? 0 : row.perSector ? sectors : 1;
        for (int k = 0; k < repeats; ++k) {
            StatsCell c{row.label(units, static_cast<std::size_t>(k)), row.kind, "", 0,
                        row.colour};
            if (row.kind == StatsRowKind::Name) c.text = c.label == "Player" ? "Driver" : "Clear";
            if (row.kind == StatsRowKind::Time)
                c.text = row.perSector ? "    0:27.81" : "    1:23.45";
            if (row.kind == StatsRowKind::Number) c.text = "     12.34";
            if (c.label == "Throttle") c.gauge = 0.5f;
            if (c.label == "Clutch") c.gauge = 1.0f;
            cells.push_back(c);
        }
    }
    for (const StatsCell& c : cells) table.labels.push_back(c.label);
    for (int i = 0; i < columns; ++i) {
        StatsColumn column{"lap" + std::to_string(i), cells};
        if (i == 0) {
            for (StatsCell& c : column.cells) {
                if (c.label == "Track Segment:") c.text = "Custom Segment";
                if (c.label == "Sync replay to:") c.text = "Lap";
            }
        }
        table.columns.push_back(std::move(column));
    }
    table.segmentText = "Custom Segment";
    table.syncText = "Lap";
    return table;
}

StatsCell& CellOf(StatsTable& table, int column, const std::string& label) {
    auto& cells = table.columns[static_cast<std::size_t>(column)].cells;
    auto it = std::find_if(cells.begin(), cells.end(),
                           [&](const StatsCell& c) { return c.label == label; });
    EXPECT_NE(it, cells.end()) << label;
    return *it;
}

int RowOf(const StatsTable& table, const std::string& label) {
    const auto it = std::find(table.labels.begin(), table.labels.end(), label);
    return static_cast<int>(it - table.labels.begin());
}

// The extent and end colours of one quad of six vertices.
struct Quad {
    float left, top, right, bottom;
    std::uint32_t first, last;  // colour of the top-left and of the bottom-right corner
};

Quad QuadAt(const std::vector<ScreenVertex>& v, std::size_t quad) {
    const ScreenVertex* q = &v[quad * kQuadVertices];
    Quad out{q[0].x, q[0].y, q[0].x, q[0].y, q[0].colour, q[5].colour};
    for (int i = 1; i < kQuadVertices; ++i) {
        out.left = std::min(out.left, q[i].x);
        out.right = std::max(out.right, q[i].x);
        out.top = std::min(out.top, q[i].y);
        out.bottom = std::max(out.bottom, q[i].y);
    }
    return out;
}

// The gauge quads of a column, in the order they are appended.
enum GaugeQuad { kThrottle, kBrake, kSteerBar, kCentreMark, kClutch, kHandbrake };

Quad GaugeOf(const StatsOverlayDraws& draws, int column, GaugeQuad which) {
    return QuadAt(draws.bars, static_cast<std::size_t>(column * kGaugeQuadsPerColumn +
                                                       static_cast<int>(which)));
}

const OverlayText* FindText(const StatsOverlayDraws& draws, const std::string& text) {
    for (const OverlayText& t : draws.texts) {
        if (t.text == text) return &t;
    }
    return nullptr;
}

std::uint32_t Channel(std::uint32_t colour, int shift) {
    return (colour >> shift) & 0xFFu;
}

// A device with the three fonts of the view, and the overlay measured as the view measures it.
class StatsOverlayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        device = std::make_unique<SoftwareDevice>(kClientWidth, kClientHeight);
        for (TextureFont* font : {&fpsFont, &valueFont, &labelFont}) {
            ASSERT_EQ(font->CreateGlyphTexture(device.get()), S_OK) << font->fontName;
            ASSERT_EQ(font->CreateDrawResources(), S_OK) << font->fontName;
        }
        fonts = {&fpsFont, &valueFont, &labelFont};
    }
    void TearDown() override {
        ReleaseStatsPanel(&overlay);
        for (TextureFont* font : {&fpsFont, &valueFont, &labelFont}) {
            font->ReleaseDrawResources();
            font->ReleaseGlyphTexture();
        }
    }

    void Measure(int replays, int sectors) {
        ASSERT_EQ(
            BuildStatsPanel(&overlay, device.get(), valueFont, kClientWidth, replays, sectors),
            S_OK);
        ASSERT_GT(overlay.numberFieldWidth, 40);
        ASSERT_GT(overlay.lineHeight, 8);
    }

    StatsOverlayDraws Build(const StatsTable& table) {
        return BuildStatsOverlayDraws(overlay, table, labelFont, kClientWidth, kClientHeight);
    }

    // Clears to grey, draws the overlay with the states the frame leaves, and returns the result.
    HRESULT DrawFrame(const StatsTable& table, std::uint32_t cullMode) {
        device->SetRenderState(D3DRS_CULLMODE, cullMode);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
        device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, kGrey, 1.0f, 0);
        device->BeginScene();
        const HRESULT hr =
            DrawStatsOverlay(overlay, device.get(), fonts, table, kClientWidth, kClientHeight);
        device->EndScene();
        device->Present();
        return hr;
    }

    std::uint32_t Pixel(int x, int y) const {
        const PresentedFrame f = device->GetPresentedFrame();
        return f.pixels[static_cast<std::size_t>(y) * (static_cast<std::size_t>(f.pitch) / 4) +
                        static_cast<std::size_t>(x)] |
               0xFF000000u;
    }

    std::unique_ptr<SoftwareDevice> device;
    TextureFont fpsFont{"Arial", 12};
    TextureFont valueFont{"Courier New", 9};
    TextureFont labelFont{"Times New Roman", 9};
    OverlayFonts fonts;
    StatsOverlay overlay;
};

// ---- AppendQuad ---------------------------------------------------------------------------------

TEST(AppendQuad, RunsCounterClockwiseWithGradientAcrossOrDown) {
    constexpr std::uint32_t a = 0xAAAAAAAAu, b = 0xBBBBBBBBu;
    std::vector<ScreenVertex> v;
    AppendQuad(&v, true, 10, 20, 30, 4, a, b);
    AppendQuad(&v, false, 10, 20, 30, 4, a, b);
    ASSERT_EQ(v.size(), 12u);
    // Top-left, bottom-left, top-right, top-right, bottom-left, bottom-right.
    const float xs[] = {10, 10, 40, 40, 10, 40};
    const float ys[] = {20, 24, 20, 20, 24, 24};
    const std::uint32_t across[] = {a, a, b, b, a, b};
    const std::uint32_t down[] = {a, b, a, a, b, b};
    for (std::size_t i = 0; i < 12; ++i) {
        EXPECT_EQ(v[i].x, xs[i % 6]) << "vertex " << i;
        EXPECT_EQ(v[i].y, ys[i % 6]) << "vertex " << i;
        EXPECT_EQ(v[i].rhw, 1.0f);
        EXPECT_EQ(v[i].colour, i < 6 ? across[i] : down[i - 6]) << "vertex " << i;
    }
}

// ---- BuildStatsPanel ----------------------------------------------------------------------------

TEST_F(StatsOverlayTest, PanelOfSixColumnsEndsAtTheRightEdgeWithFadingRule) {
    constexpr int kSectors = 3;
    Measure(6, kSectors);
    const std::int32_t k = overlay.columnWidth;
    const std::int32_t h = overlay.lineHeight;
    EXPECT_EQ(k, overlay.numberFieldWidth + 3);
    EXPECT_EQ(overlay.statsPanelTriangleCount, 4 * 6 + 2);
    ASSERT_NE(overlay.statsPanelBuffer, nullptr);

    const std::vector<ScreenVertex> v = BuildStatsPanelVertices(overlay, kClientWidth, 6, kSectors);
    ASSERT_EQ(v.size(), static_cast<std::size_t>(26 * 3));
    // Quads: the label column's band, then per replay column its band and its left line.
    const Quad labelBand = QuadAt(v, 0);
    EXPECT_EQ(labelBand.left, static_cast<float>(kClientWidth - 7 * k + 1));
    EXPECT_EQ(labelBand.top, static_cast<float>(h));
    EXPECT_EQ(labelBand.bottom, static_cast<float>(h + 2));
    EXPECT_EQ(labelBand.first, WithAlpha(kReplayColours[0], 0));  // fades in
    EXPECT_EQ(labelBand.last, kReplayColours[0]);
    const std::int32_t bottomOfLastRow = h + 2 + (kSectors + 24) * h;
    for (int j = 0; j < 6; ++j) {
        const Quad band = QuadAt(v, static_cast<std::size_t>(1 + 2 * j));
        const Quad line = QuadAt(v, static_cast<std::size_t>(2 + 2 * j));
        const auto x = static_cast<float>(kClientWidth - (6 - j) * k + 1);
        EXPECT_EQ(band.left, x) << "column " << j;
        EXPECT_EQ(band.right, x + static_cast<float>(k)) << "column " << j;
        EXPECT_EQ(band.first, kReplayColours[static_cast<std::size_t>(j)]);
        EXPECT_EQ(line.left, x);
        EXPECT_EQ(line.right, x + 1);
        EXPECT_EQ(line.top, 0.0f);
        EXPECT_EQ(line.bottom, static_cast<float>(bottomOfLastRow));
        EXPECT_EQ(line.first, kReplayColours[static_cast<std::size_t>(j)]);
        EXPECT_EQ(line.last, WithAlpha(kReplayColours[static_cast<std::size_t>(j)], 0x10));
    }
    const Quad lastBand = QuadAt(v, 11);
    EXPECT_EQ(lastBand.right, static_cast<float>(kClientWidth + 1));
    EXPECT_EQ(lastBand.last, WithAlpha(kReplayColours[5], 0));  // fades out
}

TEST_F(StatsOverlayTest, PanelWithoutReplaysOrWithoutBufferMemoryHasNoBuffer) {
    Measure(0, 3);
    EXPECT_EQ(overlay.statsPanelBuffer, nullptr);
    EXPECT_EQ(overlay.statsPanelTriangleCount, 0);

    device->FailVertexBufferCreationAfter(0);
    EXPECT_LT(BuildStatsPanel(&overlay, device.get(), valueFont, kClientWidth, 2, 3), 0);
    EXPECT_EQ(overlay.statsPanelBuffer, nullptr);
    EXPECT_EQ(overlay.statsPanelTriangleCount, 0);
    EXPECT_GT(overlay.numberFieldWidth, 0);  // measured all the same
}

// ---- Layout of the table ------------------------------------------------------------------------

TEST_F(StatsOverlayTest, SixColumnsStandFlushAgainstTheRightEdge) {
    Measure(6, 3);
    StatsTable table = MakeTable(6, 3);
    CellOf(table, 5, "Gear").text = "       3";
    const StatsOverlayDraws draws = Build(table);
    const std::int32_t k = overlay.columnWidth;
    const std::int32_t h = overlay.lineHeight;
    EXPECT_EQ(draws.bars.size(), static_cast<std::size_t>(6 * kGaugeQuadsPerColumn * 6));

    // Labels at the left of the seventh column from the right, one row per line height.
    const OverlayText* player = FindText(draws, "Player");
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(player->x, static_cast<float>(kClientWidth - 7 * k + 3));
    EXPECT_EQ(player->y, static_cast<float>(h + 2));
    const OverlayText* exitLabel = FindText(draws, "Exit speed");
    ASSERT_NE(exitLabel, nullptr);
    EXPECT_EQ(exitLabel->y, static_cast<float>(h + 2 + (3 + 23) * h));

    // The last column's numbers end on the client's right edge.
    const OverlayText* gear = FindText(draws, "       3");
    ASSERT_NE(gear, nullptr);
    EXPECT_EQ(gear->font, OverlayFont::Value);
    EXPECT_EQ(gear->y, static_cast<float>(h + 2 + RowOf(table, "Gear") * h));
    TextSize field;
    valueFont.MeasureText(kNumberFieldTemplate, &field);
    EXPECT_EQ(static_cast<std::int32_t>(gear->x) + field.cx, kClientWidth);

    // Titles centred over their columns in the slot colour; the span texts over all six.
    for (int i = 0; i < 6; ++i) {
        const std::string title = "lap" + std::to_string(i);
        const OverlayText* t = FindText(draws, title);
        ASSERT_NE(t, nullptr) << title;
        TextSize size;
        labelFont.MeasureText(title.c_str(), &size);
        EXPECT_EQ(t->x, static_cast<float>(kClientWidth - (6 - i) * k + 3 + (k - size.cx) / 2));
        EXPECT_EQ(t->y, 0.0f);
        EXPECT_EQ(t->colour, WithAlpha(kReplayColours[static_cast<std::size_t>(i)], 0xD0));
    }
    const OverlayText* segment = FindText(draws, "Custom Segment");
    ASSERT_NE(segment, nullptr);
    TextSize size;
    labelFont.MeasureText("Custom Segment", &size);
    EXPECT_EQ(segment->x, static_cast<float>(kClientWidth - 6 * k + 3 + (6 * k - size.cx) / 2));
    EXPECT_EQ(std::count_if(draws.texts.begin(), draws.texts.end(),
                            [](const OverlayText& t) { return t.text == "Lap"; }),
              1);
}

TEST_F(StatsOverlayTest, NamesAreShortenedToTheNumberFieldButSegmentTextIsNot) {
    Measure(1, 1);
    const std::string longName = "Wolfgang Amadeus Maximilian von Hohenzollern-Sigmaringen";
    const std::string fitted = FitToNumberField(overlay, labelFont, longName);
    ASSERT_LT(fitted.size(), longName.size());
    ASSERT_FALSE(fitted.empty());
    EXPECT_EQ(longName.compare(0, fitted.size(), fitted), 0);  // a leading part
    TextSize size;
    labelFont.MeasureText(fitted.c_str(), &size);
    EXPECT_LE(size.cx, overlay.numberFieldWidth);
    const std::string oneMore = longName.substr(0, fitted.size() + 1);
    labelFont.MeasureText(oneMore.c_str(), &size);
    EXPECT_GT(size.cx, overlay.numberFieldWidth);  // the longest that fits

    EXPECT_EQ(FitToNumberField(overlay, labelFont, "Kim"), "Kim");
    StatsOverlay narrow = overlay;
    narrow.numberFieldWidth = 0;
    EXPECT_EQ(FitToNumberField(narrow, labelFont, "Kim"), "");

    StatsTable table = MakeTable(1, 1);
    CellOf(table, 0, "Player").text = longName;
    CellOf(table, 0, "Weather").text = longName;
    table.columns[0].title = longName;
    const std::string longSegment = "The Very Long Esses Complex Before The Back Straight";
    CellOf(table, 0, "Track Segment:").text = longSegment;
    const StatsOverlayDraws draws = Build(table);
    EXPECT_EQ(std::count_if(draws.texts.begin(), draws.texts.end(),
                            [&](const OverlayText& t) { return t.text == fitted; }),
              3);
    EXPECT_EQ(FindText(draws, longName), nullptr);
    EXPECT_NE(FindText(draws, longSegment), nullptr);
}

// ---- Gauges -------------------------------------------------------------------------------------

TEST_F(StatsOverlayTest, SteeringBarGrowsLeftForPositiveAndRightForNegativeAngles) {
    Measure(2, 1);
    StatsTable table = MakeTable(2, 1);
    CellOf(table, 0, "Input Steer").gauge = 10.0f;
    CellOf(table, 1, "Input Steer").gauge = -25.0f;
    const StatsOverlayDraws draws = Build(table);
    const std::int32_t w = overlay.numberFieldWidth;
    const std::int32_t h = overlay.lineHeight;
    const float rowY = static_cast<float>(h + 2 + RowOf(table, "Input Steer") * h);

    for (int i = 0; i < 2; ++i) {
        const std::int32_t x = kClientWidth - (2 - i) * overlay.columnWidth + 3;
        const auto centre = static_cast<float>(x + w / 2);
        const Quad bar = GaugeOf(draws, i, kSteerBar);
        const Quad mark = GaugeOf(draws, i, kCentreMark);
        EXPECT_EQ(bar.top, rowY + 1);
        EXPECT_EQ(bar.bottom, rowY + static_cast<float>(h) - 1);
        EXPECT_EQ(mark.left, centre);
        EXPECT_EQ(mark.right, centre + 1);
        EXPECT_EQ(mark.first, 0xFFFF0000u);
        if (i == 0) {  // 10 degrees left: bright outer end on the left
            const auto length = static_cast<float>(static_cast<std::int32_t>(10.0f * 0.02f * w));
            EXPECT_EQ(bar.right, centre);
            EXPECT_EQ(bar.left, centre - length);
            EXPECT_EQ(bar.last, 0xFF006000u);
            EXPECT_EQ(bar.first,
                      0xFF000000u | (static_cast<std::uint32_t>(
                                         255 - static_cast<int>(std::floor(159.0f * 15.0f * 0.04f)))
                                     << 8));
        } else {  // full lock right: half the field, bright at the right
            EXPECT_EQ(bar.left, centre);
            EXPECT_EQ(bar.right, centre + static_cast<float>(static_cast<std::int32_t>(0.5f * w)));
            EXPECT_EQ(bar.first, 0xFF006000u);
            EXPECT_EQ(bar.last, 0xFF00FF00u);
        }
    }
}

TEST_F(StatsOverlayTest, ClutchBarIsEmptyWhenPressedAndFullWhenReleased) {
    Measure(2, 1);
    StatsTable table = MakeTable(2, 1);
    CellOf(table, 0, "Clutch").gauge = 0.0f;  // pedal fully down
    CellOf(table, 1, "Clutch").gauge = 1.0f;  // pedal up
    const StatsOverlayDraws draws = Build(table);
    const Quad pressed = GaugeOf(draws, 0, kClutch);
    const Quad released = GaugeOf(draws, 1, kClutch);
    EXPECT_EQ(pressed.right - pressed.left, 0.0f);
    EXPECT_EQ(pressed.first, 0xFF006000u);
    EXPECT_EQ(pressed.last, 0xFF006000u);  // the dark colour: 0x60 at fraction 0
    EXPECT_EQ(released.right - released.left, static_cast<float>(overlay.numberFieldWidth));
    EXPECT_EQ(released.first, 0xFF006000u);
    EXPECT_EQ(released.last, 0xFF00FF00u);
}

// Fractions the gauges do not expect must neither reach past the number field nor carry into
// the neighbouring colour channels.
TEST_F(StatsOverlayTest, GaugeValuesOutOfRangeStayInTheColumnAndTheirChannel) {
    Measure(1, 1);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Row {
        const char* name;
        float fraction;
        float degrees;
    };
    const Row rows[] = {{"below zero", -0.5f, -400.0f},
                        {"above one", 1.5f, 400.0f},
                        {"far above", 1e9f, 1e9f},
                        {"infinite", inf, -inf},
                        {"NaN", nan, nan}};
    const std::int32_t x = kClientWidth - overlay.columnWidth + 3;
    const auto left = static_cast<float>(x);
    const auto right = static_cast<float>(x + overlay.numberFieldWidth);
    struct Expect {
        GaugeQuad quad;
        int shift;  // the channel the bright end may use
    };
    const Expect gauges[] = {
        {kThrottle, 0}, {kBrake, 16}, {kClutch, 8}, {kHandbrake, 16}, {kSteerBar, 8}};
    for (const Row& row : rows) {
        StatsTable table = MakeTable(1, 1);
        for (const char* label : {"Throttle", "Brake", "Clutch", "Handbrake"}) {
            CellOf(table, 0, label).gauge = row.fraction;
        }
        CellOf(table, 0, "Input Steer").gauge = row.degrees;
        const StatsOverlayDraws draws = Build(table);
        ASSERT_EQ(draws.bars.size(), static_cast<std::size_t>(36)) << row.name;
        for (const ScreenVertex& v : draws.bars) {
            EXPECT_GE(v.x, left) << row.name;
            EXPECT_LE(v.x, right) << row.name;
        }
        for (const Expect& e : gauges) {
            const Quad q = GaugeOf(draws, 0, e.quad);
            for (std::uint32_t colour : {q.first, q.last}) {
                EXPECT_EQ(colour >> 24, 0xFFu) << row.name << " gauge " << e.quad;
                EXPECT_EQ(colour & ~(0xFF000000u | (0xFFu << e.shift)), 0u)
                    << row.name << " gauge " << e.quad << std::hex << " colour " << colour;
                EXPECT_GE(Channel(colour, e.shift), 0x60u) << row.name << " gauge " << e.quad;
            }
            EXPECT_LE(q.right - q.left, static_cast<float>(overlay.numberFieldWidth)) << row.name;
        }
    }
}

// ---- Drawing ------------------------------------------------------------------------------------

TEST_F(StatsOverlayTest, QuadsShowUnderClockwiseCullingAndVanishUnderCounterClockwise) {
    Measure(1, 1);
    StatsTable table = MakeTable(1, 1);
    CellOf(table, 0, "Throttle").gauge = 1.0f;
    const std::int32_t h = overlay.lineHeight;
    const std::int32_t x = kClientWidth - overlay.columnWidth + 3;
    const int barY = h + 2 + RowOf(table, "Throttle") * h + h / 2;
    const int barX = x + overlay.numberFieldWidth / 2;
    const int lineX = x - 2;  // the column's left line
    const int lineY = h + 2 + RowOf(table, "Brake") * h + h / 2;

    ASSERT_EQ(DrawFrame(table, D3DCULL_CW), S_OK);
    const std::uint32_t bar = Pixel(barX, barY);
    EXPECT_GT(Channel(bar, 0), 0x90u) << std::hex << bar;  // blue gauge, opaque
    EXPECT_EQ(Channel(bar, 16), 0u) << std::hex << bar;
    EXPECT_EQ(Channel(bar, 8), 0u) << std::hex << bar;
    // The blue column line at alpha 0x80 fading down, over grey: bluer than the background.
    const std::uint32_t line = Pixel(lineX, lineY);
    EXPECT_GT(Channel(line, 0), Channel(line, 16) + 0x20) << std::hex << line;

    ASSERT_EQ(DrawFrame(table, D3DCULL_CCW), S_OK);
    EXPECT_EQ(Pixel(barX, barY), kGrey);
    EXPECT_EQ(Pixel(lineX, lineY), kGrey);
}

TEST_F(StatsOverlayTest, DrawsLinesTextsThenBarsOrNothingWhenHidden) {
    Measure(2, 1);
    const StatsTable table = MakeTable(2, 1);
    device->recordDrawCalls = true;
    ASSERT_EQ(DrawFrame(table, D3DCULL_CW), S_OK);
    ASSERT_GE(device->drawCallLog.size(), 3u);
    const DrawCallRecord& first = device->drawCallLog.front();
    const DrawCallRecord& last = device->drawCallLog.back();
    EXPECT_EQ(first.fvf, kScreenVertexFvf);
    EXPECT_EQ(first.primitiveCount, static_cast<std::uint32_t>(4 * 2 + 2));
    EXPECT_EQ(last.fvf, kScreenVertexFvf);
    EXPECT_EQ(last.primitiveCount, static_cast<std::uint32_t>(2 * 12));  // 6 quads per column
    EXPECT_EQ(last.cullMode, D3DCULL_CW);
    for (std::size_t i = 1; i + 1 < device->drawCallLog.size(); ++i) {
        EXPECT_EQ(device->drawCallLog[i].fvf, kTexturedScreenVertexFvf) << "draw " << i;
    }

    device->ResetCounters();
    overlay.statsVisible = false;
    ASSERT_EQ(DrawFrame(table, D3DCULL_CW), S_OK);
    EXPECT_EQ(device->counters.drawCalls, 0);
    overlay.statsVisible = true;
    ASSERT_EQ(DrawFrame(StatsTable{}, D3DCULL_CW), S_OK);
    EXPECT_EQ(device->counters.drawCalls, 0);

    // Without memory for the bar buffer the frame keeps its lines and texts.
    device->FailVertexBufferCreationAfter(0);
    EXPECT_LT(DrawFrame(table, D3DCULL_CW), 0);
    ASSERT_GE(device->drawCallLog.size(), 2u);
    EXPECT_EQ(device->drawCallLog.front().fvf, kScreenVertexFvf);
    EXPECT_EQ(device->drawCallLog.back().fvf, kTexturedScreenVertexFvf);
}

TEST_F(StatsOverlayTest, SpeedReadoutOnlyWithASpeedText) {
    Measure(1, 1);
    StatsTable table = MakeTable(1, 1);
    table.speedText = "-2.00x";
    StatsOverlayDraws draws = Build(table);
    const OverlayText* speed = FindText(draws, "-2.00x");
    ASSERT_NE(speed, nullptr);
    EXPECT_EQ(speed->font, OverlayFont::Label);
    EXPECT_EQ(speed->x, kClientWidth * 0.5f);
    EXPECT_EQ(speed->y, static_cast<float>(kClientHeight - overlay.lineHeight));
    EXPECT_EQ(speed->colour, 0xFFFFFFFFu);

    table.speedText.clear();
    draws = Build(table);
    for (const OverlayText& t : draws.texts) {
        EXPECT_NE(t.y, static_cast<float>(kClientHeight - overlay.lineHeight)) << t.text;
    }
}

// ---- Frame rate ---------------------------------------------------------------------------------

TEST(CountFrame, RefreshesAfterMoreThanOneSecond) {
    StatsOverlay overlay;
    CountFrame(&overlay, 10.0);  // the first frame already refreshes: the last time starts at 0
    EXPECT_EQ(overlay.fpsText, "0.10");
    constexpr double kStep = 1.0 / 32.0;  // exact in binary
    for (int k = 1; k <= 32; ++k) CountFrame(&overlay, 10.0 + k * kStep);
    EXPECT_EQ(overlay.fpsText, "0.10");  // exactly one second is not more than one
    CountFrame(&overlay, 10.0 + 33 * kStep);
    EXPECT_EQ(overlay.fpsText, "32.00");
    EXPECT_EQ(overlay.fpsFrameCount, 0);
}

TEST(CountFrame, KeepsFrameResolutionAfterDaysOfUptime) {
    StatsOverlay overlay;
    constexpr double kStart = 1'000'000.0;  // s, about eleven and a half days
    CountFrame(&overlay, kStart);
    constexpr double kStep = 1.0 / 64.0;
    for (int k = 1; k <= 65; ++k) CountFrame(&overlay, kStart + k * kStep);
    EXPECT_EQ(overlay.fpsText, "64.00");
}

TEST(AppendFrameRateText, YellowAtTheTopLeftOnlyWhenVisible) {
    StatsOverlay overlay;
    overlay.fpsText = "59.94";
    std::vector<OverlayText> texts;
    AppendFrameRateText(overlay, &texts);
    EXPECT_TRUE(texts.empty());
    overlay.fpsVisible = true;
    AppendFrameRateText(overlay, &texts);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].font, OverlayFont::Fps);
    EXPECT_EQ(texts[0].x, 2.0f);
    EXPECT_EQ(texts[0].y, 0.0f);
    EXPECT_EQ(texts[0].colour, 0xFFFFFF00u);
    EXPECT_EQ(texts[0].text, "59.94");
}

}  // namespace
}  // namespace lapquill
