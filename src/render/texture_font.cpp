#include "render/texture_font.h"

#include <cstring>

#include "files/text_encoding.h"
#include "render/glyph_rasteriser.h"

namespace lapquill {

static_assert(kTextVertexBufferBytes == 8400);

namespace {

constexpr std::uint32_t kTextVertexStride = sizeof(TexturedScreenVertex);  // bytes
constexpr float kTextZ = 0.9f;
constexpr float kTextRhw = 1.0f;
constexpr float kPixelCentreOffset = 0.5f;  // texel centres onto pixel centres
constexpr std::uint32_t kTextAlphaRef = 8;  // texels of alpha 0 are not drawn at all

constexpr unsigned char kFirstGlyph = 32;  // space
constexpr int kLastGlyph = 255;
constexpr unsigned char kLineFeed = 10;
constexpr std::uint32_t kLargestTexture = 4096;  // texels a side the glyphs may grow a texture to

// Printable bytes: ASCII from the space to '~', and from 0x80 on every byte Windows-1252 gives a
// character (not DEL, nor the C1 controls it leaves unassigned).
bool IsGlyph(unsigned char c) {
    if (c < kFirstGlyph || c == 0x7F) return false;
    return c < 0x80 || Windows1252CodePoint(c) >= 0xA0;
}

// Lays the glyphs' cells out left to right in rows, one empty texel between neighbours and
// between rows, calling place(byte, x, y, cell) for each; returns the height the rows take.
template <typename Place>
std::int64_t LayOutGlyphs(const GlyphRasteriser& rasteriser, std::uint32_t width, Place place) {
    std::int64_t x = 0, y = 0, rowHeight = 0;
    for (int c = kFirstGlyph; c <= kLastGlyph; ++c) {
        const auto byte = static_cast<unsigned char>(c);
        if (!IsGlyph(byte)) continue;
        const GlyphCell cell = rasteriser.MeasureChar(Windows1252CodePoint(byte));
        if (x + cell.cx + 1 > static_cast<std::int64_t>(width)) {
            x = 0;
            y += cell.cy + 1;
        }
        place(byte, static_cast<int>(x), static_cast<int>(y), cell);
        rowHeight = cell.cy;
        x += cell.cx + 1;
    }
    return y + rowHeight;
}

// The texture side wanted for a font size in points; larger sizes need room for larger glyphs.
std::uint32_t WantedTextureSize(std::uint32_t points) {
    if (points > 40) return 1024;
    if (points > 20) return 512;
    return 256;
}

// The 16-bit A4R4G4B4 texel of an 8-bit coverage: white with the coverage's upper four bits as
// alpha; no coverage at all is fully transparent black.
std::uint16_t CoverageToTexel(std::uint8_t coverage) {
    const std::uint16_t a = coverage >> 4;
    return a != 0 ? static_cast<std::uint16_t>((a << 12) | 0x0FFF) : 0;
}

// The states of text drawing, recorded into a state block. Recording the same calls twice gives
// one block to capture the caller's state into and one to apply for drawing; the vertex format
// and stream source are recorded too so that the caller gets them back as well.
void RecordTextDrawState(RenderDevice* device, Texture* texture, VertexBuffer* buffer,
                         bool depthTest) {
    device->SetTexture(0, texture);
    device->SetRenderState(D3DRS_ZENABLE, depthTest ? D3DZB_TRUE : D3DZB_FALSE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, 1);
    device->SetRenderState(D3DRS_ALPHAREF, kTextAlphaRef);
    device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    device->SetRenderState(D3DRS_STENCILENABLE, 0);
    device->SetRenderState(D3DRS_CLIPPING, 1);
    device->SetRenderState(D3DRS_EDGEANTIALIAS, 0);
    device->SetRenderState(D3DRS_CLIPPLANEENABLE, 0);
    device->SetRenderState(D3DRS_VERTEXBLEND, D3DVBF_DISABLE);
    device->SetRenderState(D3DRS_INDEXEDVERTEXBLENDENABLE, 0);
    device->SetRenderState(D3DRS_FOGENABLE, 0);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_POINT);
    device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_POINT);
    device->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTEXF_NONE);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    device->SetVertexShader(kTexturedScreenVertexFvf);
    device->SetStreamSource(0, buffer, kTextVertexStride);
}

std::uint32_t RecordTextStateBlock(RenderDevice* device, Texture* texture, VertexBuffer* buffer,
                                   bool depthTest) {
    if (device->BeginStateBlock() != D3D_OK) return 0;
    RecordTextDrawState(device, texture, buffer, depthTest);
    std::uint32_t token = 0;
    if (device->EndStateBlock(&token) != D3D_OK) return 0;
    return token;
}

}  // namespace

std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c) {
    if (c == 0) return -1;
    const std::int64_t product = std::int64_t(a) * std::int64_t(b);
    const bool negative = (product < 0) != (c < 0);
    const std::int64_t num = product < 0 ? -product : product;
    const std::int64_t den = c < 0 ? -std::int64_t(c) : std::int64_t(c);
    const std::int64_t q = (num + den / 2) / den;
    return static_cast<std::int32_t>(negative ? -q : q);
}

TextureFont::TextureFont(const char* faceName, std::uint32_t heightPoints, std::uint32_t flags)
    : fontName{}, fontHeight(heightPoints), fontFlags(flags) {
    if (faceName) {
        const std::size_t length = strnlen(faceName, kFontNameSize - 1);
        std::memcpy(fontName, faceName, length);
        fontName[length] = '\0';
    }
}

TextureFont::~TextureFont() {
    ReleaseDrawResources();
    ReleaseGlyphTexture();
}

HRESULT TextureFont::CreateGlyphTexture(RenderDevice* newDevice, int dpi) {
    device = newDevice;
    textScale = 1.0f;
    if (!device) return E_FAIL;
    if (glyphTexture) {  // a second set-up without a tear-down: do not leak the first texture
        glyphTexture->Release();
        glyphTexture = nullptr;
    }

    // Square texture, doubled until the glyphs fit (large sizes, high DPI); when the device
    // cannot hold it, a smaller one with glyphs rasterised smaller by the same factor and drawn
    // stretched back.
    std::uint32_t size = WantedTextureSize(fontHeight);
    const bool bold = (fontFlags & FontBold) != 0, italic = (fontFlags & FontItalic) != 0;
    {
        GlyphRasteriser measure;
        const std::int32_t em = MulDiv(static_cast<std::int32_t>(fontHeight), dpi, 72);
        if (measure.Open(fontName, bold, italic, em)) {
            const auto noPlace = [](unsigned char, int, int, const GlyphCell&) {};
            while (size < kLargestTexture &&
                   LayOutGlyphs(measure, size, noPlace) > static_cast<std::int64_t>(size)) {
                size *= 2;
            }
        }
    }
    D3DCAPS8 caps{};
    if (device->GetDeviceCaps(&caps) == D3D_OK && caps.MaxTextureWidth > 0 &&
        size > caps.MaxTextureWidth) {
        textScale = static_cast<float>(caps.MaxTextureWidth) / static_cast<float>(size);
        size = caps.MaxTextureWidth;
    }
    textureWidth = size;
    textureHeight = size;

    const HRESULT created =
        device->CreateTexture(size, size, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED, &glyphTexture);
    if (created != D3D_OK) {
        glyphTexture = nullptr;
        return created;
    }

    // A negative height asks for a character (em) height of that many pixels.
    const int scaledDpi = static_cast<int>(static_cast<float>(dpi) * textScale);
    const std::int32_t height = -MulDiv(static_cast<std::int32_t>(fontHeight), scaledDpi, 72);
    GlyphRasteriser rasteriser;
    if (!rasteriser.Open(fontName, bold, italic, -height)) return E_FAIL;

    CoverageBitmap bitmap(static_cast<int>(textureWidth), static_cast<int>(textureHeight));
    const float texW = static_cast<float>(textureWidth);
    const float texH = static_cast<float>(textureHeight);
    LayOutGlyphs(rasteriser, textureWidth,
                 [&](unsigned char c, int x, int y, const GlyphCell& cell) {
                     rasteriser.DrawChar(Windows1252CodePoint(c), x, y, &bitmap);
                     float* coords = glyphCoords[c - kFirstGlyph];
                     coords[0] = static_cast<float>(x) / texW;
                     coords[1] = static_cast<float>(y) / texH;
                     coords[2] = static_cast<float>(x + cell.cx) / texW;
                     coords[3] = static_cast<float>(y + cell.cy) / texH;
                 });

    D3DLOCKED_RECT locked{};
    if (glyphTexture->LockRect(0, &locked, nullptr, 0) == D3D_OK && locked.pBits) {
        auto* rowBytes = static_cast<std::uint8_t*>(locked.pBits);
        for (int row = 0; row < bitmap.height; ++row) {
            auto* texels = reinterpret_cast<std::uint16_t*>(rowBytes);
            for (int col = 0; col < bitmap.width; ++col)
                texels[col] = CoverageToTexel(bitmap.At(col, row));
            rowBytes += locked.Pitch;
        }
        glyphTexture->UnlockRect(0);
    }
    return S_OK;
}

HRESULT TextureFont::CreateDrawResources() {
    if (!device) return E_FAIL;
    ReleaseDrawResources();  // a second set-up without a tear-down leaks nothing
    const HRESULT created =
        device->CreateVertexBuffer(kTextVertexBufferBytes, D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC, 0,
                                   D3DPOOL_DEFAULT, &vertexBuffer);
    if (created != D3D_OK) {
        vertexBuffer = nullptr;
        return created;
    }
    const bool depthTest = (fontFlags & FontDepthTest) != 0;
    savedStateBlock = RecordTextStateBlock(device, glyphTexture, vertexBuffer, depthTest);
    drawStateBlock = RecordTextStateBlock(device, glyphTexture, vertexBuffer, depthTest);
    return S_OK;
}

HRESULT TextureFont::ReleaseDrawResources() {
    if (vertexBuffer) {
        vertexBuffer->Release();
        vertexBuffer = nullptr;
    }
    if (device) {
        if (savedStateBlock != 0) device->DeleteStateBlock(savedStateBlock);
        if (drawStateBlock != 0) device->DeleteStateBlock(drawStateBlock);
    }
    savedStateBlock = 0;
    drawStateBlock = 0;
    return S_OK;
}

HRESULT TextureFont::ReleaseGlyphTexture() {
    if (glyphTexture) {
        glyphTexture->Release();
        glyphTexture = nullptr;
    }
    device = nullptr;
    return S_OK;
}

HRESULT TextureFont::MeasureText(const char* text, TextSize* size) const {
    if (!text || !size) return E_FAIL;
    const float texW = static_cast<float>(textureWidth);
    const float lineHeight =
        (glyphCoords[0][3] - glyphCoords[0][1]) * static_cast<float>(textureHeight);
    float width = 0.0f;
    float widest = 0.0f;
    float height = lineHeight;
    for (const char* p = text; *p; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == kLineFeed) {
            width = 0.0f;
            height += lineHeight;
        } else if (IsGlyph(c)) {
            const float* coords = glyphCoords[c - kFirstGlyph];
            width += (coords[2] - coords[0]) * texW;
            if (width > widest) widest = width;
        }
    }
    size->cx = static_cast<std::int32_t>(widest);
    size->cy = static_cast<std::int32_t>(height);
    return S_OK;
}

void BuildStringVertices(const TextureFont& font, float x, float y, std::uint32_t colour,
                         const char* text, std::vector<TexturedScreenVertex>* out) {
    if (!text || !out) return;
    const float texW = static_cast<float>(font.textureWidth);
    const float texH = static_cast<float>(font.textureHeight);
    const float lineHeight = (font.glyphCoords[0][3] - font.glyphCoords[0][1]) * texH;
    float sx = x;
    float sy = y;
    for (const char* p = text; *p; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == kLineFeed) {
            sx = x;
            sy += lineHeight;
            continue;
        }
        if (!IsGlyph(c)) continue;
        const float* coords = font.glyphCoords[c - kFirstGlyph];
        const float uL = coords[0], vT = coords[1], uR = coords[2], vB = coords[3];
        const float w = (uR - uL) * texW / font.textScale;
        const float h = (vB - vT) * texH / font.textScale;
        if (c != ' ') {
            const float left = sx - kPixelCentreOffset;
            const float top = sy - kPixelCentreOffset;
            const float right = sx + w - kPixelCentreOffset;
            const float bottom = sy + h - kPixelCentreOffset;
            out->push_back({left, bottom, kTextZ, kTextRhw, colour, uL, vB});
            out->push_back({left, top, kTextZ, kTextRhw, colour, uL, vT});
            out->push_back({right, bottom, kTextZ, kTextRhw, colour, uR, vB});
            out->push_back({right, top, kTextZ, kTextRhw, colour, uR, vT});
            out->push_back({right, bottom, kTextZ, kTextRhw, colour, uR, vB});
            out->push_back({left, top, kTextZ, kTextRhw, colour, uL, vT});
        }
        sx += w;
    }
}

HRESULT TextureFont::DrawString(float x, float y, std::uint32_t colour, const char* text,
                                std::uint32_t flags) {
    if (!device || !vertexBuffer) return E_FAIL;

    if (savedStateBlock != 0) device->CaptureStateBlock(savedStateBlock);
    if (drawStateBlock != 0) device->ApplyStateBlock(drawStateBlock);
    device->SetVertexShader(kTexturedScreenVertexFvf);
    device->SetStreamSource(0, vertexBuffer, kTextVertexStride);
    if (flags & DrawFiltered) {
        device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
        device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    }

    std::vector<TexturedScreenVertex> vertices;
    BuildStringVertices(*this, x, y, colour, text, &vertices);

    // The buffer holds one batch of glyphs; each full batch is drawn and the buffer refilled.
    constexpr std::size_t kBatchVertices = kTextGlyphsPerBatch * kTextVerticesPerGlyph;
    std::uint8_t* data = nullptr;
    bool locked = vertexBuffer->Lock(0, 0, &data, D3DLOCK_DISCARD) == D3D_OK && data;
    std::size_t pending = 0;  // vertices in the locked buffer
    for (std::size_t first = 0; locked && first < vertices.size(); first += kTextVerticesPerGlyph) {
        std::memcpy(data + pending * kTextVertexStride, &vertices[first],
                    kTextVerticesPerGlyph * kTextVertexStride);
        pending += kTextVerticesPerGlyph;
        if (pending == kBatchVertices) {
            vertexBuffer->Unlock();
            device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, static_cast<std::uint32_t>(pending / 3));
            pending = 0;
            locked = vertexBuffer->Lock(0, 0, &data, D3DLOCK_DISCARD) == D3D_OK && data;
        }
    }
    if (locked) {
        vertexBuffer->Unlock();
        if (pending > 0)
            device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, static_cast<std::uint32_t>(pending / 3));
    }

    if (savedStateBlock != 0) device->ApplyStateBlock(savedStateBlock);
    return S_OK;
}

}  // namespace lapquill
