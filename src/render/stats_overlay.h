// The statistics overlay: the table of the loaded replays in the top-right corner, its column
// lines and input gauges, the playback-speed readout and the frame-rate readout. The view owns
// one StatsOverlay and releases its panel buffer with ReleaseStatsPanel before every device reset;
// the frame calls UpdateFrameRate and DrawStatsOverlay after the 3D scene, with culling CW.
// Coordinates are client pixels, origin top-left, y down; colours ARGB; quads run
// counter-clockwise.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/replay_set.h"
#include "analysis/stats_text.h"
#include "render/render_device.h"
#include "render/texture_font.h"
#include "render/vertex_types.h"

namespace lapquill {

// The replay slots' colours: path ribbon, column title and column lines. Alpha 0x80.
inline constexpr std::array<std::uint32_t, kMaxReplays> kReplayColours = {
    0x800000FFu, 0x80FF0000u, 0x8000FF00u, 0x80FFFF00u, 0x80FF00FFu, 0x8000FFFFu};

// The number field's template: its width and height in the value font give the column width
// and the row pitch.
inline constexpr const char* kNumberFieldTemplate = "+8888888.81234";
inline constexpr int kColumnGap = 3;              // pixels between number fields
inline constexpr int kQuadVertices = 6;           // two triangles
inline constexpr int kGaugeQuadsPerColumn = 6;    // four bars, the steering bar, its centre mark
inline constexpr int kBarArrayVertices = 600;     // the per-frame gauge array's capacity
inline constexpr int kNameBufferSize = 260;       // names are cut to 259 characters first

// What the view keeps of the overlay between frames.
struct StatsOverlay {
    std::int32_t numberFieldWidth = 0;         // pixels: template width in the value font
    std::int32_t lineHeight = 0;               // pixels: template height; the row pitch
    VertexBuffer* statsPanelBuffer = nullptr;  // owned; the column lines; null when none
    std::int32_t statsPanelTriangleCount = 0;  // triangles in statsPanelBuffer
    bool statsVisible = true;                  // table, lines and speed readout drawn
    std::int32_t columnWidth = 0;              // pixels: numberFieldWidth + kColumnGap
    bool fpsVisible = false;                   // frame-rate readout drawn
    std::array<std::uint32_t, kMaxReplays> replayColours = kReplayColours;  // ARGB
    // Legibility over any map: a translucent dark panel behind the table (built into the panel
    // buffer, so a change needs BuildStatsPanel again) and titles in a lighter shade of their
    // slot colour with a dark outline.
    bool backdropVisible = false;
    bool titleOutline = false;
    // Physical pixels per 96-dpi pixel: the table's fixed gaps, rules and outline grow with it,
    // as its fonts grow with the dpi they are rasterised at.
    float pixelScale = 1.0f;

    // Frame-rate counter. The clock is double precision: a float loses whole frames after
    // a few days of uptime.
    double fpsLastTime = 0;          // s, clock reading of the last refresh
    std::int32_t fpsFrameCount = 0;  // frames counted since then
    std::string fpsText;             // "%.2f" frames per second; empty until the first refresh
};

// The fonts the overlay draws with; not owned.
struct OverlayFonts {
    TextureFont* fpsFont = nullptr;    // "Arial" 12: frame rate
    TextureFont* valueFont = nullptr;  // "Courier New" 9: numbers and times
    TextureFont* labelFont = nullptr;  // "Times New Roman" 9: labels, names, titles, readouts
};

enum class OverlayFont : std::uint8_t { Fps, Value, Label };

// One text to draw: DrawString(x, y, colour, text, 0) in the given font.
struct OverlayText {
    OverlayFont font;
    float x, y;            // pixels, top-left of the text
    std::uint32_t colour;  // ARGB
    std::string text;
};

// One frame's draw data of the table, built before anything is sent to the device.
struct StatsOverlayDraws {
    std::vector<ScreenVertex> bars;  // the gauge quads, kGaugeQuadsPerColumn per column
    std::vector<OverlayText> texts;  // in drawing order: speed, labels, then column by column
};

// Colour c with its alpha replaced by a.
constexpr std::uint32_t WithAlpha(std::uint32_t colour, std::uint32_t alpha) {
    return (colour & 0x00FFFFFFu) | (alpha << 24);
}

// Appends one quad (six vertices, counter-clockwise on screen) covering x .. x + w, y .. y + h.
// Horizontal: colour a on the left corners, b on the right; vertical: a on top, b at the bottom.
void AppendQuad(std::vector<ScreenVertex>* out, bool horizontal, std::int32_t x, std::int32_t y,
                std::int32_t w, std::int32_t h, std::uint32_t a, std::uint32_t b);

inline constexpr std::uint32_t kBackdropColour = 0xB0141414u;  // the panel behind the table
inline constexpr std::uint32_t kTitleOutlineColour = 0xFF000000u;

// n 96-dpi pixels at the overlay's scale, never below 1 when n is not 0.
std::int32_t ScaledPixels(const StatsOverlay& overlay, std::int32_t n);

// The slot colour as a column title draws it when outlined: opaque, mixed with white just
// enough to stand 4.5:1 against the black outline (pure blue alone reaches 2.4:1).
std::uint32_t LegibleTitleColour(std::uint32_t slotColour);
// The contrast ratio of two opaque colours, 1 .. 21, from their relative luminances.
double ContrastRatio(std::uint32_t a, std::uint32_t b);

// The column lines of n replay columns against the client's right edge: a 2-pixel rule under
// the title row over all n + 1 columns, and a 1-pixel line down the left edge of each replay
// column as long as the title row and the table's rows plus 2 pixels. 4n + 2 triangles; none
// when n is 0. With backdropVisible the panel comes first: two more triangles covering the
// label column and every replay column from the top to a little below the last row.
std::vector<ScreenVertex> BuildStatsPanelVertices(const StatsOverlay& overlay,
                                                  std::int32_t clientRight, int replayCount,
                                                  int sectorCount);

// Measures the number field in the value font (sets numberFieldWidth, lineHeight, columnWidth)
// and, with replays loaded, puts the column lines into a new statsPanelBuffer. sectorCount is
// replay 0's. Returns the device's failure when the buffer cannot be made or locked (the view
// reports it); the fields are set all the same.
HRESULT BuildStatsPanel(StatsOverlay* overlay, RenderDevice* device, const TextureFont& valueFont,
                        std::int32_t clientRight, int replayCount, int sectorCount);
// Releases statsPanelBuffer; safe when there is none.
void ReleaseStatsPanel(StatsOverlay* overlay);

// The longest leading part of text no wider than numberFieldWidth in the label font, which is
// narrower than the value font the width comes from. Possibly empty.
std::string FitToNumberField(const StatsOverlay& overlay, const TextureFont& labelFont,
                             std::string_view text);

// Counts one drawn frame at clock reading now (s); about once a second fpsText becomes the
// frames per second since the last refresh.
void CountFrame(StatsOverlay* overlay, double now);
// The frame-rate readout when fpsVisible: fpsText at (2, 0) in yellow.
void AppendFrameRateText(const StatsOverlay& overlay, std::vector<OverlayText>* texts);
// Counts the frame and draws the readout; inside a scene.
void UpdateFrameRate(StatsOverlay* overlay, double now, const OverlayFonts& fonts);

// The table's texts and gauges for a client area of clientRight x clientBottom pixels; empty
// when the table has no columns. Gauge fractions are limited to 0 .. 1 (NaN counts as 0) and
// steering angles to -25 .. 25 degrees, so no bar leaves its column and no colour channel
// leaves 0x60 .. 0xFF.
StatsOverlayDraws BuildStatsOverlayDraws(const StatsOverlay& overlay, const StatsTable& table,
                                         const TextureFont& labelFont, std::int32_t clientRight,
                                         std::int32_t clientBottom);

// Sends draw data to the device: texts through their fonts (each leaves the device state as it
// was), bars through a per-frame vertex buffer in one triangle list. Returns the device's failure
// when the bar buffer cannot be made or filled; the bars of that frame are then not drawn.
void SubmitOverlayTexts(const std::vector<OverlayText>& texts, const OverlayFonts& fonts);
HRESULT SubmitOverlayBars(RenderDevice* device, const std::vector<ScreenVertex>& bars);

// The table, inside a scene, when statsVisible and the table has columns: the column lines,
// then every text, then the gauges over them. Returns S_OK or the bar buffer's failure. When
// drawn is given it receives the draw data of the frame.
HRESULT DrawStatsOverlay(const StatsOverlay& overlay, RenderDevice* device,
                         const OverlayFonts& fonts, const StatsTable& table,
                         std::int32_t clientRight, std::int32_t clientBottom,
                         StatsOverlayDraws* drawn = nullptr);

}  // namespace lapquill
