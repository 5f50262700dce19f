#include "render/stats_overlay.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "render/vertex_upload.h"

namespace lapquill {

namespace {

constexpr std::uint32_t kWhite = 0xFFFFFFFFu;
constexpr std::uint32_t kFpsColour = 0xFFFFFF00u;  // yellow
constexpr std::uint32_t kTitleAlpha = 0xD0;
constexpr std::uint32_t kColumnLineFadeAlpha = 0x10;  // the column lines' bottom end
constexpr std::int32_t kRuleHeight = 2;               // pixels, the rule under the titles
constexpr std::int32_t kTableTop = 2;                 // pixels between the rule and row 1
constexpr float kFpsX = 2.0f;
constexpr float kFpsY = 0.0f;

// Gauge colours: the dark end of every bar, and the channel of the bright end's colour.
constexpr std::uint32_t kDarkBlue = 0xFF000060u;
constexpr std::uint32_t kDarkRed = 0xFF600000u;
constexpr std::uint32_t kDarkGreen = 0xFF006000u;
constexpr std::uint32_t kCentreMark = 0xFFFF0000u;
constexpr int kBlueShift = 0;
constexpr int kRedShift = 16;
constexpr int kGreenShift = 8;
constexpr float kBrightRange = 159.0f;          // 0x60 .. 0xFF
constexpr float kSteerLengthPerDegree = 0.02f;  // of the field: 25 degrees fill half of it
constexpr float kSteerColourPerDegree = 0.04f;  // 1 / 25

struct GaugeStyle {
    std::uint32_t dark;
    int brightShift;  // where the bright channel sits in the ARGB word
};

GaugeStyle StyleOf(GaugeColour colour) {
    switch (colour) {
        case GaugeColour::Blue:
            return {kDarkBlue, kBlueShift};
        case GaugeColour::Green:
            return {kDarkGreen, kGreenShift};
        case GaugeColour::Red:
        case GaugeColour::None:  // every gauge row names its colour
            break;
    }
    return {kDarkRed, kRedShift};
}

// A gauge fraction limited to 0 .. 1; NaN shows as an empty gauge.
float UnitFraction(float f) {
    if (!(f >= 0.0f)) return 0.0f;
    return f <= 1.0f ? f : 1.0f;
}

// The bright end's channel: 0x60 at fraction 0, 0xFF at fraction 1.
std::uint32_t BrightChannel(float unitFraction) {
    const int c = 255 - static_cast<int>(std::floor(kBrightRange * (1.0f - unitFraction)));
    return static_cast<std::uint32_t>(c);
}

// Gauges leave `inset` pixels of their row free above and below; the centre mark is `inset` wide.
void AppendGauge(std::vector<ScreenVertex>* bars, const GaugeStyle& style, float fraction,
                 std::int32_t x, std::int32_t y, std::int32_t fieldWidth, std::int32_t lineHeight,
                 std::int32_t inset) {
    const float f = UnitFraction(fraction);
    const auto length = static_cast<std::int32_t>(static_cast<float>(fieldWidth) * f);
    const std::uint32_t bright = 0xFF000000u | (BrightChannel(f) << style.brightShift);
    AppendQuad(bars, true, x, y + inset, length, lineHeight - 2 * inset, style.dark, bright);
}

// The steering bar from the middle of the field outwards, then the red centre mark over it.
// A positive angle (steering left) draws to the left of the centre.
void AppendSteerGauge(std::vector<ScreenVertex>* bars, float degrees, std::int32_t x,
                      std::int32_t y, std::int32_t fieldWidth, std::int32_t lineHeight,
                      std::int32_t inset) {
    float a = degrees;
    if (!(a == a)) a = 0.0f;  // NaN
    if (a > kMaxSteerDegrees) a = kMaxSteerDegrees;
    if (a < -kMaxSteerDegrees) a = -kMaxSteerDegrees;
    const float magnitude = std::fabs(a);
    const auto length = static_cast<std::int32_t>(magnitude * kSteerLengthPerDegree *
                                                  static_cast<float>(fieldWidth));
    const std::int32_t centre = x + fieldWidth / 2;
    const int c = 255 - static_cast<int>(std::floor(kBrightRange * (kMaxSteerDegrees - magnitude) *
                                                    kSteerColourPerDegree));
    const std::uint32_t bright = 0xFF000000u | (static_cast<std::uint32_t>(c) << kGreenShift);
    if (a >= 0.0f) {
        AppendQuad(bars, true, centre - length, y + inset, length, lineHeight - 2 * inset, bright,
                   kDarkGreen);
    } else {
        AppendQuad(bars, true, centre, y + inset, length, lineHeight - 2 * inset, kDarkGreen, bright);
    }
    AppendQuad(bars, true, centre, y + inset, inset, lineHeight - 2 * inset, kCentreMark, kCentreMark);
}

double Luminance(std::uint32_t colour) {
    auto channel = [colour](int shift) {
        const double c = static_cast<double>((colour >> shift) & 0xFFu) / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(16) + 0.7152 * channel(8) + 0.0722 * channel(0);
}

// Mixes an opaque colour towards white by t / 16.
std::uint32_t TowardsWhite(std::uint32_t colour, int t) {
    std::uint32_t out = 0xFF000000u;
    for (int shift : {0, 8, 16}) {
        const std::uint32_t c = (colour >> shift) & 0xFFu;
        out |= (c + (255u - c) * static_cast<std::uint32_t>(t) / 16u) << shift;
    }
    return out;
}

std::int32_t TextWidth(const TextureFont& font, const std::string& text) {
    TextSize size;
    font.MeasureText(text.c_str(), &size);
    return size.cx;
}

int ColumnCount(const StatsTable& table) {
    const auto n = static_cast<int>(table.columns.size());
    assert(n <= kMaxReplays);
    return n < kMaxReplays ? n : kMaxReplays;
}

TextureFont* FontOf(const OverlayFonts& fonts, OverlayFont which) {
    switch (which) {
        case OverlayFont::Fps:
            return fonts.fpsFont;
        case OverlayFont::Value:
            return fonts.valueFont;
        case OverlayFont::Label:
            return fonts.labelFont;
    }
    return nullptr;
}

}  // namespace

std::int32_t ScaledPixels(const StatsOverlay& overlay, std::int32_t n) {
    if (n == 0) return 0;
    const auto scaled = static_cast<std::int32_t>(std::lround(static_cast<float>(n) * overlay.pixelScale));
    return scaled >= 1 ? scaled : 1;
}

double ContrastRatio(std::uint32_t a, std::uint32_t b) {
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

std::uint32_t LegibleTitleColour(std::uint32_t slotColour) {
    constexpr double kMinimumContrast = 4.5;
    const std::uint32_t opaque = slotColour | 0xFF000000u;
    for (int t = 0; t < 16; ++t) {
        const std::uint32_t c = TowardsWhite(opaque, t);
        if (ContrastRatio(c, kTitleOutlineColour) >= kMinimumContrast) return c;
    }
    return 0xFFFFFFFFu;
}

void AppendQuad(std::vector<ScreenVertex>* out, bool horizontal, std::int32_t x, std::int32_t y,
                std::int32_t w, std::int32_t h, std::uint32_t a, std::uint32_t b) {
    const float left = static_cast<float>(x);
    const float top = static_cast<float>(y);
    const float right = static_cast<float>(x + w);
    const float bottom = static_cast<float>(y + h);
    const std::uint32_t topLeft = a;
    const std::uint32_t bottomLeft = horizontal ? a : b;
    const std::uint32_t topRight = horizontal ? b : a;
    const std::uint32_t bottomRight = b;
    // Top-left, bottom-left, top-right; top-right, bottom-left, bottom-right: counter-clockwise
    // with y growing downwards.
    out->push_back({left, top, 0.0f, 1.0f, topLeft});
    out->push_back({left, bottom, 0.0f, 1.0f, bottomLeft});
    out->push_back({right, top, 0.0f, 1.0f, topRight});
    out->push_back({right, top, 0.0f, 1.0f, topRight});
    out->push_back({left, bottom, 0.0f, 1.0f, bottomLeft});
    out->push_back({right, bottom, 0.0f, 1.0f, bottomRight});
}

std::vector<ScreenVertex> BuildStatsPanelVertices(const StatsOverlay& overlay,
                                                  std::int32_t clientRight, int replayCount,
                                                  int sectorCount) {
    std::vector<ScreenVertex> out;
    assert(replayCount <= kMaxReplays);
    const int n = replayCount < kMaxReplays ? replayCount : kMaxReplays;
    if (n <= 0) return out;
    const std::int32_t h = overlay.lineHeight;
    const std::int32_t k = overlay.columnWidth;
    // The title row and the table's rows.
    const std::int32_t height =
        (1 + sectorCount + StatsRowsBesideSectors()) * h + ScaledPixels(overlay, kTableTop);
    const auto& colours = overlay.replayColours;
    out.reserve(static_cast<std::size_t>(4 * n + 4) * 3);
    if (overlay.backdropVisible) {
        const std::int32_t left = clientRight - (n + 1) * k;
        AppendQuad(&out, true, left, 0, clientRight - left, height + ScaledPixels(overlay, kTableTop),
                   kBackdropColour, kBackdropColour);
    }
    const std::int32_t lineWidth = ScaledPixels(overlay, 1);
    for (int j = -1; j < n; ++j) {
        const std::int32_t x = clientRight - (n - j) * k + 1;
        // The rule fades in over the label column and out over the last replay's column.
        const std::uint32_t a =
            j < 0 ? WithAlpha(colours[0], 0) : colours[static_cast<std::size_t>(j)];
        const std::uint32_t b = j == n - 1 ? WithAlpha(colours[static_cast<std::size_t>(n - 1)], 0)
                                           : colours[static_cast<std::size_t>(j + 1)];
        AppendQuad(&out, true, x, h, k, ScaledPixels(overlay, kRuleHeight), a, b);
        if (j >= 0) {
            const std::uint32_t c = colours[static_cast<std::size_t>(j)];
            AppendQuad(&out, false, x, 0, lineWidth, height, c, WithAlpha(c, kColumnLineFadeAlpha));
        }
    }
    return out;
}

void ReleaseStatsPanel(StatsOverlay* overlay) {
    if (overlay->statsPanelBuffer) overlay->statsPanelBuffer->Release();
    overlay->statsPanelBuffer = nullptr;
}

HRESULT BuildStatsPanel(StatsOverlay* overlay, RenderDevice* device, const TextureFont& valueFont,
                        std::int32_t clientRight, int replayCount, int sectorCount) {
    TextSize field;
    valueFont.MeasureText(kNumberFieldTemplate, &field);
    overlay->numberFieldWidth = field.cx;
    overlay->lineHeight = field.cy;
    overlay->columnWidth = field.cx + ScaledPixels(*overlay, kColumnGap);
    overlay->statsPanelTriangleCount = 0;
    ReleaseStatsPanel(overlay);
    if (replayCount <= 0) return S_OK;

    const std::vector<ScreenVertex> vertices =
        BuildStatsPanelVertices(*overlay, clientRight, replayCount, sectorCount);
    VertexBuffer* buffer = nullptr;
    const HRESULT hr = CreateFilledVertexBuffer(device, vertices.data(),
                                                vertices.size() * sizeof(ScreenVertex),
                                                kScreenVertexFvf, &buffer);
    if (hr < 0) return hr;
    overlay->statsPanelBuffer = buffer;
    overlay->statsPanelTriangleCount = static_cast<std::int32_t>(vertices.size() / 3);
    return S_OK;
}

std::string FitToNumberField(const StatsOverlay& overlay, const TextureFont& labelFont,
                             std::string_view text) {
    std::string fitted(text.substr(0, kNameBufferSize - 1));
    while (!fitted.empty() && TextWidth(labelFont, fitted) > overlay.numberFieldWidth) {
        fitted.pop_back();
    }
    return fitted;
}

void CountFrame(StatsOverlay* overlay, double now) {
    ++overlay->fpsFrameCount;
    const double elapsed = now - overlay->fpsLastTime;
    if (elapsed > 1.0) {
        char buf[48];
        std::snprintf(buf, sizeof buf, "%.2f", overlay->fpsFrameCount / elapsed);
        overlay->fpsText = buf;
        overlay->fpsLastTime = now;
        overlay->fpsFrameCount = 0;
    }
}

void AppendFrameRateText(const StatsOverlay& overlay, std::vector<OverlayText>* texts) {
    if (!overlay.fpsVisible) return;
    texts->push_back({OverlayFont::Fps, kFpsX, kFpsY, kFpsColour, overlay.fpsText});
}

void UpdateFrameRate(StatsOverlay* overlay, double now, const OverlayFonts& fonts) {
    CountFrame(overlay, now);
    std::vector<OverlayText> texts;
    AppendFrameRateText(*overlay, &texts);
    SubmitOverlayTexts(texts, fonts);
}

StatsOverlayDraws BuildStatsOverlayDraws(const StatsOverlay& overlay, const StatsTable& table,
                                         const TextureFont& labelFont, std::int32_t clientRight,
                                         std::int32_t clientBottom) {
    StatsOverlayDraws draws;
    const int n = ColumnCount(table);
    if (n == 0) return draws;
    const std::int32_t w = overlay.numberFieldWidth;
    const std::int32_t h = overlay.lineHeight;
    const std::int32_t k = overlay.columnWidth;
    const std::int32_t gap = ScaledPixels(overlay, kColumnGap);
    const std::int32_t tableTop = ScaledPixels(overlay, kTableTop);
    const std::int32_t inset = ScaledPixels(overlay, 1);
    draws.bars.reserve(kBarArrayVertices);
    auto rowY = [h, tableTop](std::size_t row) {
        return static_cast<float>(h + tableTop + static_cast<std::int32_t>(row) * h);
    };
    auto addText = [&draws](OverlayFont font, float x, float y, std::uint32_t colour,
                            std::string text) {
        if (!text.empty()) draws.texts.push_back({font, x, y, colour, std::move(text)});
    };

    if (!table.speedText.empty()) {
        addText(OverlayFont::Label, static_cast<float>(clientRight) * 0.5f,
                static_cast<float>(clientBottom - h), kWhite, table.speedText);
    }
    const auto labelX = static_cast<float>(clientRight - (n + 1) * k + gap);
    for (std::size_t r = 0; r < table.labels.size(); ++r) {
        addText(OverlayFont::Label, labelX, rowY(r), kWhite, table.labels[r]);
    }

    for (int i = 0; i < n; ++i) {
        const StatsColumn& column = table.columns[static_cast<std::size_t>(i)];
        const std::int32_t x = clientRight - (n - i) * k + gap;
        const auto xf = static_cast<float>(x);
        const std::string title = FitToNumberField(overlay, labelFont, column.title);
        const std::int32_t titleWidth = TextWidth(labelFont, title);
        // Centred over the column, but never past the right end of its field: a title that fills
        // the field would otherwise run off the last column into the window's edge.
        const auto titleX = static_cast<float>(std::min(x + (k - titleWidth) / 2, x + w - titleWidth));
        const std::uint32_t slotColour = overlay.replayColours[static_cast<std::size_t>(i)];
        if (overlay.titleOutline && !title.empty()) {
            // The outline: the title in black at the eight neighbouring offsets, under it.
            const auto o = static_cast<float>(inset);
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    if (dx == 0 && dy == 0) continue;
                    addText(OverlayFont::Label, titleX + static_cast<float>(dx) * o,
                            static_cast<float>(dy) * o, kTitleOutlineColour, title);
                }
            }
            addText(OverlayFont::Label, titleX, 0.0f, LegibleTitleColour(slotColour), title);
        } else {
            addText(OverlayFont::Label, titleX, 0.0f, WithAlpha(slotColour, kTitleAlpha), title);
        }

        for (std::size_t r = 0; r < column.cells.size(); ++r) {
            const StatsCell& cell = column.cells[r];
            const float y = rowY(r);
            const auto rowTop = static_cast<std::int32_t>(y);
            switch (cell.kind) {
                case StatsRowKind::Name:
                    addText(OverlayFont::Label, xf, y, kWhite,
                            FitToNumberField(overlay, labelFont, cell.text));
                    break;
                case StatsRowKind::Time:
                case StatsRowKind::Number:
                    addText(OverlayFont::Value, xf, y, kWhite, cell.text);
                    break;
                case StatsRowKind::Gauge:
                    AppendGauge(&draws.bars, StyleOf(cell.colour), cell.gauge, x, rowTop, w, h,
                                inset);
                    break;
                case StatsRowKind::CentredGauge:
                    AppendSteerGauge(&draws.bars, cell.gauge, x, rowTop, w, h, inset);
                    break;
                case StatsRowKind::SpanText: {
                    // Centred over all replay columns; the text sits in the first column only.
                    const std::int32_t textWidth = TextWidth(labelFont, cell.text);
                    addText(OverlayFont::Label, static_cast<float>(x + (n * k - textWidth) / 2), y,
                            kWhite, cell.text);
                    break;
                }
                case StatsRowKind::Blank:
                    break;
            }
        }
    }
    return draws;
}

void SubmitOverlayTexts(const std::vector<OverlayText>& texts, const OverlayFonts& fonts) {
    for (const OverlayText& t : texts) {
        if (TextureFont* font = FontOf(fonts, t.font)) {
            font->DrawString(t.x, t.y, t.colour, t.text.c_str(), 0);
        }
    }
}

HRESULT SubmitOverlayBars(RenderDevice* device, const std::vector<ScreenVertex>& bars) {
    if (bars.empty()) return S_OK;
    VertexBuffer* buffer = nullptr;
    HRESULT hr = CreateFilledVertexBuffer(device, bars.data(), bars.size() * sizeof(ScreenVertex),
                                          kScreenVertexFvf, &buffer);
    if (hr < 0) return hr;
    device->SetVertexShader(kScreenVertexFvf);
    device->SetStreamSource(0, buffer, sizeof(ScreenVertex));
    hr = device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, static_cast<std::uint32_t>(bars.size() / 3));
    buffer->Release();
    return hr;
}

HRESULT DrawStatsOverlay(const StatsOverlay& overlay, RenderDevice* device,
                         const OverlayFonts& fonts, const StatsTable& table,
                         std::int32_t clientRight, std::int32_t clientBottom,
                         StatsOverlayDraws* drawn) {
    if (!overlay.statsVisible || table.columns.empty() || !fonts.labelFont) return S_OK;
    if (overlay.statsPanelBuffer && overlay.statsPanelTriangleCount > 0) {
        device->SetVertexShader(kScreenVertexFvf);
        device->SetStreamSource(0, overlay.statsPanelBuffer, sizeof(ScreenVertex));
        device->DrawPrimitive(D3DPT_TRIANGLELIST, 0,
                              static_cast<std::uint32_t>(overlay.statsPanelTriangleCount));
    }
    StatsOverlayDraws draws =
        BuildStatsOverlayDraws(overlay, table, *fonts.labelFont, clientRight, clientBottom);
    SubmitOverlayTexts(draws.texts, fonts);
    const HRESULT hr = SubmitOverlayBars(device, draws.bars);
    if (drawn) *drawn = std::move(draws);
    return hr;
}

}  // namespace lapquill
