#include "render/texture_font.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "render/software_device.h"
#include "support/compare.h"
#include "tools/png_writer.h"

namespace lapquill {
namespace {

using test::kColourChannelTolerance;
using test::kFloatTolerance;
using test::kGlyphRoundingPixels;

constexpr std::int32_t kWidth = 320;   // back buffer, pixels
constexpr std::int32_t kHeight = 200;  // back buffer, pixels

std::unique_ptr<SoftwareDevice> MakeDevice(std::uint32_t maxTextureWidth = 4096,
                                           std::int32_t width = kWidth,
                                           std::int32_t height = kHeight) {
    SoftwareDeviceOptions options;
    options.threadCount = 1;
    options.maxTextureWidth = maxTextureWidth;
    options.maxTextureHeight = maxTextureWidth;
    return std::make_unique<SoftwareDevice>(width, height, options);
}

// A font with its texture and draw resources on `device`.
std::unique_ptr<TextureFont> MakeFont(RenderDevice* device, const char* face, std::uint32_t points,
                                      std::uint32_t flags = 0) {
    auto font = std::make_unique<TextureFont>(face, points, flags);
    EXPECT_EQ(font->CreateGlyphTexture(device), S_OK) << face;
    EXPECT_EQ(font->CreateDrawResources(), S_OK) << face;
    return font;
}

// The cell of character c in texels.
struct Cell {
    float x, y, w, h;  // texels
};
Cell CellOf(const TextureFont& font, unsigned char c) {
    const float* g = font.glyphCoords[c - 32];
    const float tw = float(font.textureWidth), th = float(font.textureHeight);
    return {g[0] * tw, g[1] * th, (g[2] - g[0]) * tw, (g[3] - g[1]) * th};
}

TextSize Measure(const TextureFont& font, const char* text) {
    TextSize size{-1, -1};
    EXPECT_EQ(font.MeasureText(text, &size), S_OK);
    return size;
}

// The 16-bit texels of the glyph texture, row by row.
std::vector<std::uint16_t> ReadTexels(const TextureFont& font) {
    std::vector<std::uint16_t> texels;
    D3DLOCKED_RECT locked{};
    if (font.glyphTexture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY) != D3D_OK) return texels;
    for (std::uint32_t y = 0; y < font.textureHeight; ++y) {
        const auto* row = reinterpret_cast<const std::uint16_t*>(
            static_cast<const std::uint8_t*>(locked.pBits) + std::size_t(y) * locked.Pitch);
        texels.insert(texels.end(), row, row + font.textureWidth);
    }
    font.glyphTexture->UnlockRect(0);
    return texels;
}

std::uint32_t Pixel(const PresentedFrame& frame, int x, int y) {
    return frame.pixels[std::size_t(y) * std::size_t(frame.pitch / 4) + std::size_t(x)];
}

// ---------------------------------------------------------------------------------------------

// The side starts from the point size's and doubles until every glyph fits (the Latin-1 half
// of the code page does not fit the starting side of the larger sizes, nor any size at twice
// the DPI).
TEST(TextureFontCreateGlyphTexture, TextureSideFollowsThePointSizeAndGrowsUntilTheGlyphsFit) {
    struct Case {
        std::uint32_t points;
        int dpi;
        std::uint32_t side;
    };
    const Case cases[] = {{9, 96, 256},   {12, 96, 256},  {20, 96, 512},
                          {21, 96, 512},  {40, 96, 1024}, {41, 96, 1024},
                          {9, 192, 512},  {12, 192, 512}};
    auto device = MakeDevice();
    for (const auto& [points, dpi, side] : cases) {
        SCOPED_TRACE(testing::Message() << points << " pt at " << dpi << " dpi");
        TextureFont font("Arial", points);
        ASSERT_EQ(font.CreateGlyphTexture(device.get(), dpi), S_OK) << points;
        EXPECT_EQ(font.textureWidth, side) << points;
        EXPECT_FLOAT_EQ(font.textScale, 1.0f) << points;
        D3DSURFACE_DESC desc{};
        ASSERT_EQ(font.glyphTexture->GetLevelDesc(0, &desc), D3D_OK);
        EXPECT_EQ(desc.Width, side) << points;
        EXPECT_EQ(desc.Height, side) << points;
        EXPECT_EQ(desc.Format, D3DFMT_A4R4G4B4);
        EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
        EXPECT_LE(font.glyphCoords[0xFF - 32][3], 1.0f) << points;  // the last row still fits
    }
}

TEST(TextureFontCreateGlyphTexture, LaysCellsOutInRowsOneTexelApart) {
    auto device = MakeDevice();
    TextureFont font("Times New Roman", 9);
    ASSERT_EQ(font.CreateGlyphTexture(device.get()), S_OK);
    const Cell space = CellOf(font, ' ');
    EXPECT_EQ(space.x, 0.0f);
    EXPECT_EQ(space.y, 0.0f);
    EXPECT_GT(space.h, 0.0f);
    int rows = 1;
    for (int c = 33; c <= 126; ++c) {
        const Cell prev = CellOf(font, static_cast<unsigned char>(c - 1));
        const Cell cell = CellOf(font, static_cast<unsigned char>(c));
        EXPECT_EQ(cell.h, space.h) << "character " << c;
        EXPECT_GT(cell.w, 0.0f) << "character " << c;
        EXPECT_LE(cell.x + cell.w + 1.0f, float(font.textureWidth)) << "character " << c;
        if (cell.y == prev.y) {
            EXPECT_EQ(cell.x, prev.x + prev.w + 1.0f) << "character " << c;
        } else {
            ++rows;
            EXPECT_EQ(cell.x, 0.0f) << "character " << c;
            EXPECT_EQ(cell.y, prev.y + prev.h + 1.0f) << "character " << c;
            // It wrapped only because it did not fit after its neighbour.
            EXPECT_GT(prev.x + prev.w + 1.0f + cell.w + 1.0f, float(font.textureWidth));
        }
    }
    EXPECT_GE(rows, 2);
    for (float v : font.glyphCoords[127 - 32]) EXPECT_EQ(v, 0.0f);  // DEL has no cell
}

// Names are Windows-1252: their bytes from 0x80 on are drawn as its characters, and the
// bytes it leaves unassigned take no space like the control characters.
TEST(TextureFontCreateGlyphTexture, BytesFromTheHighHalfAreWindows1252Characters) {
    auto device = MakeDevice();
    TextureFont font("Times New Roman", 9);
    ASSERT_EQ(font.CreateGlyphTexture(device.get()), S_OK);
    const std::vector<std::uint16_t> texels = ReadTexels(font);
    const auto ink = [&](unsigned char c) {
        const Cell cell = CellOf(font, c);
        std::vector<std::uint16_t> out;
        for (int y = int(cell.y); y < int(cell.y + cell.h); ++y)
            for (int x = int(cell.x); x < int(cell.x + cell.w); ++x)
                out.push_back(texels[std::size_t(y) * font.textureWidth + x]);
        return out;
    };
    const auto inked = [&](unsigned char c) {
        const auto t = ink(c);
        return std::count_if(t.begin(), t.end(), [](std::uint16_t v) { return v != 0; });
    };
    // e acute has ink of its own, more than the plain e (its accent); the euro sign (0x80),
    // o umlaut and the y diaeresis (0xFF) have cells with ink.
    EXPECT_GT(inked(0xE9), inked('e'));
    for (unsigned char c : {0x80, 0x8A, 0xF6, 0xFF}) EXPECT_GT(inked(c), 0) << int(c);
    EXPECT_EQ(Measure(font, "Ren\xE9").cx, Measure(font, "Ren").cx + int(CellOf(font, 0xE9).w));
    // DEL, an unassigned byte and a C0 control take no space and have no cell.
    EXPECT_EQ(Measure(font, "a\x7F\x81\x9D\x01" "b").cx, Measure(font, "ab").cx);
    for (unsigned char c : {0x7F, 0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
        for (float v : font.glyphCoords[c - 32]) EXPECT_EQ(v, 0.0f) << int(c);
    }
}

TEST(TextureFontCreateGlyphTexture, TexelsAreWhiteWithFourBitCoverageAlpha) {
    auto device = MakeDevice();
    TextureFont font("Arial", 12);
    ASSERT_EQ(font.CreateGlyphTexture(device.get()), S_OK);
    const std::vector<std::uint16_t> texels = ReadTexels(font);
    ASSERT_EQ(texels.size(), std::size_t(font.textureWidth) * font.textureHeight);
    for (std::uint16_t t : texels) {
        ASSERT_TRUE(t == 0 || ((t & 0x0FFF) == 0x0FFF && (t >> 12) != 0)) << std::hex << t;
    }
    auto inkIn = [&](const Cell& cell) {
        int count = 0, full = 0;
        for (int y = int(cell.y); y < int(cell.y + cell.h); ++y)
            for (int x = int(cell.x); x < int(cell.x + cell.w); ++x) {
                const std::uint16_t t = texels[std::size_t(y) * font.textureWidth + x];
                count += t != 0;
                full += (t >> 12) == 15;
            }
        return std::pair{count, full};
    };
    EXPECT_EQ(inkIn(CellOf(font, ' ')).first, 0);
    const auto [hInk, hSolid] = inkIn(CellOf(font, 'H'));
    EXPECT_GT(hSolid, 10);    // the stems of an H are solid
    EXPECT_GT(hInk, hSolid);  // and anti-aliasing leaves partial texels
    // Nothing below the last row of cells.
    const Cell last = CellOf(font, 0xFF);
    for (std::size_t i = std::size_t(last.y + last.h + 1) * font.textureWidth; i < texels.size();
         ++i)
        ASSERT_EQ(texels[i], 0) << "texel " << i;
}

TEST(TextureFontCreateGlyphTexture, SmallDeviceGetsSmallerTextureAndScale) {
    auto small = MakeDevice(128);
    auto large = MakeDevice();
    TextureFont halved("Courier New", 9), full("Courier New", 9);
    ASSERT_EQ(halved.CreateGlyphTexture(small.get()), S_OK);
    ASSERT_EQ(full.CreateGlyphTexture(large.get()), S_OK);
    EXPECT_EQ(halved.textureWidth, 128u);
    EXPECT_EQ(halved.textureHeight, 128u);
    EXPECT_FLOAT_EQ(halved.textScale, 0.5f);

    // Rasterised at half the size: each cell about half as large, and measured unscaled.
    for (unsigned char c : std::string("Wi8 ")) {
        const Cell h = CellOf(halved, c), f = CellOf(full, c);
        EXPECT_NEAR(h.w, f.w / 2, kGlyphRoundingPixels) << c;
        EXPECT_NEAR(h.h, f.h / 2, kGlyphRoundingPixels) << c;
    }
    const TextSize measured = Measure(halved, "W");
    EXPECT_EQ(measured.cx, int(CellOf(halved, 'W').w));
    EXPECT_EQ(measured.cy, int(CellOf(halved, 'W').h));

    // Drawn stretched back: the quad is twice the cell.
    std::vector<TexturedScreenVertex> quad;
    BuildStringVertices(halved, 0, 0, 0xFFFFFFFF, "W", &quad);
    ASSERT_EQ(quad.size(), 6u);
    EXPECT_NEAR(quad[2].x - quad[0].x, 2 * CellOf(halved, 'W').w, kFloatTolerance);
    EXPECT_NEAR(quad[0].y - quad[1].y, 2 * CellOf(halved, 'W').h, kFloatTolerance);
}

TEST(TextureFontCreateGlyphTexture, HigherDpiGivesLargerGlyphs) {
    auto device = MakeDevice();
    TextureFont normal("Arial", 12), dense("Arial", 12);
    ASSERT_EQ(normal.CreateGlyphTexture(device.get()), S_OK);
    ASSERT_EQ(dense.CreateGlyphTexture(device.get(), 192), S_OK);
    EXPECT_NEAR(CellOf(dense, ' ').h, 2 * CellOf(normal, ' ').h, 2 * kGlyphRoundingPixels);
}

TEST(TextureFontCreateGlyphTexture, FailuresAreReported) {
    auto device = MakeDevice();
    device->FailTextureCreationAfter(0);
    TextureFont font("Arial", 12);
    EXPECT_EQ(font.CreateGlyphTexture(device.get()), D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(font.glyphTexture, nullptr);

    // Without a buffer there are no state blocks and nothing to draw with.
    auto other = MakeDevice();
    other->FailVertexBufferCreationAfter(0);
    TextureFont noBuffer("Arial", 12);
    ASSERT_EQ(noBuffer.CreateGlyphTexture(other.get()), S_OK);
    EXPECT_EQ(noBuffer.CreateDrawResources(), D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(noBuffer.savedStateBlock, 0u);
    EXPECT_EQ(noBuffer.drawStateBlock, 0u);
    EXPECT_EQ(noBuffer.DrawString(0, 0, 0xFFFFFFFF, "A"), E_FAIL);

    // A font of no size cannot be made.
    TextureFont empty("Arial", 0);
    EXPECT_EQ(empty.CreateGlyphTexture(other.get()), E_FAIL);
}

// ---------------------------------------------------------------------------------------------

TEST(TextureFontDrawResources, MakeDynamicBufferAndTwoStateBlocks) {
    auto device = MakeDevice();
    TextureFont font("Arial", 12);
    ASSERT_EQ(font.CreateGlyphTexture(device.get()), S_OK);
    ASSERT_EQ(font.CreateDrawResources(), S_OK);
    ASSERT_NE(font.vertexBuffer, nullptr);
    D3DVERTEXBUFFER_DESC desc{};
    ASSERT_EQ(font.vertexBuffer->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Size, 8400u);
    EXPECT_EQ(desc.Usage, D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC);
    EXPECT_EQ(desc.Pool, D3DPOOL_DEFAULT);
    EXPECT_NE(font.savedStateBlock, 0u);
    EXPECT_NE(font.drawStateBlock, 0u);
    EXPECT_NE(font.savedStateBlock, font.drawStateBlock);

    // Recording leaves the device as it was.
    std::uint32_t cull = 0;
    device->GetRenderState(D3DRS_CULLMODE, &cull);
    EXPECT_EQ(cull, D3DCULL_CCW);
}

TEST(TextureFontDrawResources, ReleaseFreesWhatAResetNeedsFreed) {
    auto device = MakeDevice();
    {
        auto font = MakeFont(device.get(), "Arial", 12);
        device->BeginScene();
        font->DrawString(5, 5, 0xFFFFFFFF, "Bound");
        device->EndScene();
        // The buffer lives in the default pool: the device cannot reset under it.
        EXPECT_EQ(device->Reset(kWidth, kHeight), D3DERR_INVALIDCALL);
        EXPECT_EQ(font->ReleaseDrawResources(), S_OK);
        EXPECT_EQ(font->vertexBuffer, nullptr);
        EXPECT_EQ(font->savedStateBlock, 0u);
        EXPECT_EQ(font->drawStateBlock, 0u);
        EXPECT_EQ(device->Reset(kWidth, kHeight), D3D_OK);
        EXPECT_EQ(font->ReleaseGlyphTexture(), S_OK);
        EXPECT_EQ(font->device, nullptr);
        EXPECT_EQ(font->glyphTexture, nullptr);
        EXPECT_EQ(font->DrawString(0, 0, 0xFFFFFFFF, "A"), E_FAIL);

        // A second set-up on the reset device works like the first.
        EXPECT_EQ(font->CreateGlyphTexture(device.get()), S_OK);
        EXPECT_EQ(font->CreateDrawResources(), S_OK);
    }
    // Destruction released the second set's buffer.
    EXPECT_EQ(device->Reset(kWidth, kHeight), D3D_OK);
}

// ---------------------------------------------------------------------------------------------

class TextureFontText : public ::testing::Test {
  protected:
    void SetUp() override { font = MakeFont(device.get(), "Times New Roman", 9); }
    float LineHeight() const { return CellOf(*font, ' ').h; }
    float Advance(unsigned char c) const { return CellOf(*font, c).w; }

    std::unique_ptr<SoftwareDevice> device = MakeDevice();
    std::unique_ptr<TextureFont> font;
};

TEST_F(TextureFontText, MeasuresLinesAndSkipsUnprintableBytes) {
    const int h = int(LineHeight());
    const TextSize empty = Measure(*font, "");
    EXPECT_EQ(empty.cx, 0);
    EXPECT_EQ(empty.cy, h);

    const TextSize two = Measure(*font, "i\nW");
    EXPECT_EQ(two.cx, int(Advance('W')));  // the wider line
    EXPECT_EQ(two.cy, 2 * h);
    EXPECT_EQ(Measure(*font, "W\ni").cx, int(Advance('W')));
    EXPECT_EQ(Measure(*font, "\n\n").cy, 3 * h);

    const TextSize plain = Measure(*font, "AB");
    const TextSize noisy = Measure(*font,
                                   "\tA\r\x7f\x81\x9d"
                                   "B\x01");
    EXPECT_EQ(noisy.cx, plain.cx);
    EXPECT_EQ(noisy.cy, plain.cy);
    EXPECT_EQ(Measure(*font, "A B").cx, int(Advance('A') + Advance(' ') + Advance('B')));

    TextSize size;
    EXPECT_EQ(font->MeasureText(nullptr, &size), E_FAIL);
    EXPECT_EQ(font->MeasureText("A", nullptr), E_FAIL);
}

TEST_F(TextureFontText, GlyphQuadCoversItsCellWithHalfPixelOffset) {
    std::vector<TexturedScreenVertex> v;
    BuildStringVertices(*font, 10, 20, 0x80FF0000u, "A", &v);
    ASSERT_EQ(v.size(), 6u);
    const float* g = font->glyphCoords['A' - 32];
    const float w = Advance('A'), h = LineHeight();
    const float l = 9.5f, t = 19.5f, r = 9.5f + w, b = 19.5f + h;
    const std::array<std::array<float, 4>, 6> expected = {{{l, b, g[0], g[3]},
                                                           {l, t, g[0], g[1]},
                                                           {r, b, g[2], g[3]},
                                                           {r, t, g[2], g[1]},
                                                           {r, b, g[2], g[3]},
                                                           {l, t, g[0], g[1]}}};
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_NEAR(v[i].x, expected[i][0], kFloatTolerance) << "vertex " << i;
        EXPECT_NEAR(v[i].y, expected[i][1], kFloatTolerance) << "vertex " << i;
        EXPECT_EQ(v[i].u, expected[i][2]) << "vertex " << i;
        EXPECT_EQ(v[i].v, expected[i][3]) << "vertex " << i;
        EXPECT_EQ(v[i].z, 0.9f);
        EXPECT_EQ(v[i].rhw, 1.0f);
        EXPECT_EQ(v[i].colour, 0x80FF0000u);
    }
}

TEST_F(TextureFontText, SpacesAdvanceAndLineFeedsReturnWithoutQuads) {
    std::vector<TexturedScreenVertex> v;
    BuildStringVertices(*font, 10, 20, 0xFFFFFFFF, "", &v);
    EXPECT_TRUE(v.empty());
    BuildStringVertices(*font, 10, 20, 0xFFFFFFFF, "   \t\r\x81\x8f", &v);
    EXPECT_TRUE(v.empty());

    BuildStringVertices(*font, 10, 20, 0xFFFFFFFF, "A B\nC\tD", &v);
    ASSERT_EQ(v.size(), 4u * 6u);
    const float left = 9.5f, top = 19.5f;
    EXPECT_NEAR(v[1].x, left, kFloatTolerance);                                // A
    EXPECT_NEAR(v[7].x, left + Advance('A') + Advance(' '), kFloatTolerance);  // B
    EXPECT_NEAR(v[7].y, top, kFloatTolerance);
    EXPECT_NEAR(v[13].x, left, kFloatTolerance);  // C
    EXPECT_NEAR(v[13].y, top + LineHeight(), kFloatTolerance);
    EXPECT_NEAR(v[19].x, left + Advance('C'), kFloatTolerance);  // D: no tab
    EXPECT_NEAR(v[19].y, top + LineHeight(), kFloatTolerance);
}

TEST_F(TextureFontText, DrawsFiftyGlyphsPerCall) {
    device->recordDrawCalls = true;
    device->BeginScene();
    const std::string visible(120, 'x');
    ASSERT_EQ(font->DrawString(0, 0, 0xFFFFFFFF, visible.c_str()), S_OK);
    ASSERT_EQ(device->drawCallLog.size(), 3u);
    const std::uint32_t expected[] = {100, 100, 40};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(device->drawCallLog[i].primitiveCount, expected[i]) << "batch " << i;
        EXPECT_EQ(device->drawCallLog[i].startVertex, 0u);
        EXPECT_EQ(device->drawCallLog[i].fvf, 0x144u);
        EXPECT_EQ(device->drawCallLog[i].stride, 28u);
        EXPECT_EQ(device->drawCallLog[i].cullMode, D3DCULL_CCW);
    }

    // Exactly one full batch is one call; spaces and line feeds cost nothing.
    device->ResetCounters();
    const std::string fifty = std::string(25, 'y') + " \n " + std::string(25, 'z');
    font->DrawString(0, 0, 0xFFFFFFFF, fifty.c_str());
    ASSERT_EQ(device->drawCallLog.size(), 1u);
    EXPECT_EQ(device->drawCallLog[0].primitiveCount, 100u);
    device->ResetCounters();
    font->DrawString(0, 0, 0xFFFFFFFF, " \n ");
    font->DrawString(0, 0, 0xFFFFFFFF, "");
    EXPECT_EQ(device->counters.drawCalls, 0);
    device->EndScene();

    TextureFont unset("Arial", 12);
    EXPECT_EQ(unset.DrawString(0, 0, 0xFFFFFFFF, "A"), E_FAIL);
}

TEST_F(TextureFontText, LeavesEveryDeviceStateAsItFoundIt) {
    // A caller's state unlike anything text drawing uses.
    Texture* otherTexture = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &otherTexture),
              D3D_OK);
    VertexBuffer* otherBuffer = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(3 * sizeof(ScreenVertex), D3DUSAGE_WRITEONLY,
                                         kScreenVertexFvf, D3DPOOL_MANAGED, &otherBuffer),
              D3D_OK);
    device->SetTexture(0, otherTexture);
    device->SetVertexShader(kScreenVertexFvf);
    device->SetStreamSource(0, otherBuffer, sizeof(ScreenVertex));
    // clang-format off
    const std::pair<D3DRENDERSTATETYPE, std::uint32_t> renderStates[] = {
        {D3DRS_ZENABLE, 1}, {D3DRS_ALPHABLENDENABLE, 0}, {D3DRS_SRCBLEND, D3DBLEND_ONE},
        {D3DRS_DESTBLEND, D3DBLEND_ZERO}, {D3DRS_ALPHATESTENABLE, 0}, {D3DRS_ALPHAREF, 200},
        {D3DRS_ALPHAFUNC, D3DCMP_LESS}, {D3DRS_FILLMODE, D3DFILL_WIREFRAME},
        {D3DRS_CULLMODE, D3DCULL_CW}, {D3DRS_STENCILENABLE, 1}, {D3DRS_CLIPPING, 0},
        {D3DRS_EDGEANTIALIAS, 1}, {D3DRS_CLIPPLANEENABLE, 3}, {D3DRS_VERTEXBLEND, 2},
        {D3DRS_INDEXEDVERTEXBLENDENABLE, 1}, {D3DRS_FOGENABLE, 1}};
    // clang-format on
    for (const auto& [state, value] : renderStates) device->SetRenderState(state, value);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
    device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    device->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTEXF_POINT);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 1);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);

    auto snapshot = [&] {
        std::vector<std::uint32_t> s;
        for (std::uint32_t i = 0; i < kRenderStateCount; ++i) {
            std::uint32_t value = 0xDEADBEEF;
            device->GetRenderState(static_cast<D3DRENDERSTATETYPE>(i), &value);
            s.push_back(value);
        }
        for (std::uint32_t stage = 0; stage < kTextureStageCount; ++stage) {
            for (std::uint32_t i = 0; i < kTextureStageStateCount; ++i) {
                std::uint32_t value = 0xDEADBEEF;
                device->GetTextureStageState(stage, static_cast<D3DTEXTURESTAGESTATETYPE>(i),
                                             &value);
                s.push_back(value);
            }
            Texture* texture = nullptr;
            device->GetTexture(stage, &texture);
            s.push_back(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(texture)));
            if (texture) texture->Release();
        }
        return s;
    };
    const std::vector<std::uint32_t> before = snapshot();
    device->BeginScene();
    ASSERT_EQ(font->DrawString(3, 4, 0xFFFFFFFF, "Restored"), S_OK);
    EXPECT_EQ(snapshot(), before);
    ASSERT_EQ(font->DrawString(3, 30, 0xFFFFFFFF, "Filtered", DrawFiltered), S_OK);
    EXPECT_EQ(snapshot(), before);

    // Format and stream source are back too: the caller's next draw reads its own buffer.
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    device->recordDrawCalls = true;
    ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3D_OK);
    ASSERT_EQ(device->drawCallLog.size(), 1u);
    EXPECT_EQ(device->drawCallLog[0].fvf, kScreenVertexFvf);
    EXPECT_EQ(device->drawCallLog[0].stride, sizeof(ScreenVertex));
    EXPECT_EQ(device->drawCallLog[0].cullMode, D3DCULL_CW);
    device->EndScene();

    device->SetTexture(0, nullptr);
    device->SetStreamSource(0, nullptr, 0);
    otherTexture->Release();
    otherBuffer->Release();
}

TEST_F(TextureFontText, PointSampledGlyphCopiesItsTexels) {
    const std::vector<std::uint16_t> texels = ReadTexels(*font);
    const int x0 = 40, y0 = 30;
    for (const std::uint32_t colour : {0xFFFFFFFFu, 0xFF00FF80u}) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000u, 1.0f, 0);
        device->BeginScene();
        ASSERT_EQ(font->DrawString(float(x0), float(y0), colour, "R"), S_OK);
        device->EndScene();
        ASSERT_EQ(device->Present(), D3D_OK);
        const PresentedFrame frame = device->GetPresentedFrame();
        ASSERT_NE(frame.pixels, nullptr);

        const Cell cell = CellOf(*font, 'R');
        int inked = 0;
        // One pixel of guard around the cell: nothing is drawn outside it.
        for (int y = y0 - 1; y <= y0 + int(cell.h); ++y) {
            for (int x = x0 - 1; x <= x0 + int(cell.w); ++x) {
                const bool inside =
                    x >= x0 && x < x0 + int(cell.w) && y >= y0 && y < y0 + int(cell.h);
                int alpha = 0;  // 8-bit
                if (inside) {
                    const std::uint16_t t =
                        texels[std::size_t(int(cell.y) + y - y0) * font->textureWidth +
                               std::size_t(int(cell.x) + x - x0)];
                    alpha = (t >> 12) * 17;
                    inked += alpha != 0;
                }
                const std::uint32_t p = Pixel(frame, x, y);
                for (int shift : {16, 8, 0}) {
                    const int want = int((colour >> shift) & 0xFF) * alpha / 255;
                    const int got = int((p >> shift) & 0xFF);
                    ASSERT_NEAR(got, want, kColourChannelTolerance)
                        << "pixel " << x << ", " << y << " channel " << shift << " colour "
                        << std::hex << colour;
                }
            }
        }
        EXPECT_GT(inked, 10);
    }
}

// ---------------------------------------------------------------------------------------------

TEST(TextureFontViewFonts, ResolveAndMeasureTheNumberTemplate) {
    auto device = MakeDevice();
    auto fps = MakeFont(device.get(), "Arial", 12);
    auto value = MakeFont(device.get(), "Courier New", 9);
    auto label = MakeFont(device.get(), "Times New Roman", 9);
    for (const TextureFont* font : {fps.get(), value.get(), label.get()}) {
        EXPECT_EQ(font->textureWidth, 256u) << font->fontName;
        EXPECT_GT(Measure(*font, "Lap Time").cx, 0) << font->fontName;
    }

    const char* const kTemplate = "+8888888.81234";
    const float advance = CellOf(*value, '8').w;
    EXPECT_GT(advance, 0.0f);
    for (const char* p = kTemplate; *p; ++p)
        EXPECT_EQ(CellOf(*value, static_cast<unsigned char>(*p)).w, advance) << *p;
    const TextSize size = Measure(*value, kTemplate);
    EXPECT_EQ(size.cx, int(14 * advance));
    EXPECT_GE(size.cy, 13);  // a 12-pixel em plus the face's leading
    EXPECT_LE(size.cy, 16);
    // The proportional label face is not monospaced.
    EXPECT_NE(CellOf(*label, 'i').w, CellOf(*label, 'W').w);
}

// ---------------------------------------------------------------------------------------------

// Draws sample strings in the view's fonts and checks that every inked pixel lies in the box
// MeasureText gives for its string. With LAPQUILL_TEXT_PNG set, the picture is written there.
TEST(TextureFontRendering, InkStaysInsideMeasuredBoxes) {
    auto device = MakeDevice(4096, 480, 260);
    auto fps = MakeFont(device.get(), "Arial", 12);
    auto value = MakeFont(device.get(), "Courier New", 9);
    auto label = MakeFont(device.get(), "Times New Roman", 9);
    auto big = MakeFont(device.get(), "Arial", 21, FontBold);
    struct Line {
        TextureFont* font;
        float x, y;
        std::uint32_t colour;
        const char* text;
    };
    const Line lines[] = {
        {fps.get(), 2, 0, 0xFFFFFF00u, "99.7 fps"},
        {label.get(), 10, 30, 0xFFFFFFFFu, "Speed (km/h)\nTrack Distance (m)\nLap Time"},
        {value.get(), 200, 30, 0xFFFFFFFFu, "     148.32\n    1234.50\n    1:23.45"},
        {value.get(), 200, 90, 0xFF80C0FFu, "+8888888.81234"},
        {label.get(), 10, 100, 0xD0FF4040u, "The quick brown fox jumps over the lazy dog."},
        {value.get(), 10, 120, 0xFF40FF40u, "!\"#$%&'()*+,-./0123456789:;<=>?@"},
        {label.get(), 10, 140, 0xFFFFFFFFu,
         "ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~"},
        {big.get(), 10, 170, 0xFFFFC040u, "Sync replay to: Lap"},
    };
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF202020u, 1.0f, 0);
    device->BeginScene();
    for (const Line& line : lines)
        ASSERT_EQ(line.font->DrawString(line.x, line.y, line.colour, line.text), S_OK);
    device->EndScene();
    ASSERT_EQ(device->Present(), D3D_OK);
    const PresentedFrame frame = device->GetPresentedFrame();
    ASSERT_NE(frame.pixels, nullptr);

    std::vector<bool> inBox(std::size_t(frame.width) * frame.height, false);
    for (const Line& line : lines) {
        const TextSize size = Measure(*line.font, line.text);
        for (int y = int(line.y); y < int(line.y) + size.cy && y < frame.height; ++y)
            for (int x = int(line.x); x < int(line.x) + size.cx && x < frame.width; ++x)
                inBox[std::size_t(y) * frame.width + x] = true;
    }
    int inked = 0;
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            if ((Pixel(frame, x, y) & 0xFFFFFF) == 0x202020u) continue;
            ++inked;
            ASSERT_TRUE(inBox[std::size_t(y) * frame.width + x]) << "ink at " << x << ", " << y;
        }
    EXPECT_GT(inked, 2000);

    if (const char* path = std::getenv("LAPQUILL_TEXT_PNG")) {
        std::string error;
        EXPECT_TRUE(WritePng(path, frame, &error)) << path << ": " << error;
    }
}

}  // namespace
}  // namespace lapquill
