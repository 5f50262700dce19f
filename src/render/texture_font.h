// TextureFont: the printable characters of Windows-1252 (the names in the data files are
// written in it) rasterised once per device set-up into a white 4-bit-alpha
// texture; strings drawn as screen-space textured quads. The view owns its fonts; the device
// objects code calls CreateGlyphTexture + CreateDrawResources after each set-up and
// ReleaseDrawResources + ReleaseGlyphTexture before each tear-down; the overlay measures and
// draws. Back-buffer pixels (origin top-left, y down), ARGB colours, points at a logical DPI.
#pragma once

#include <cstdint>
#include <vector>

#include "render/render_device.h"
#include "render/vertex_types.h"

namespace lapquill {

// Creation flags (fontFlags).
inline constexpr std::uint32_t FontBold = 1;       // weight 700 instead of 400
inline constexpr std::uint32_t FontItalic = 2;     // italic face
inline constexpr std::uint32_t FontDepthTest = 4;  // depth testing stays on while text is drawn

// Flags of DrawString.
inline constexpr std::uint32_t DrawFiltered = 4;  // linear instead of point sampling

inline constexpr int kDefaultFontDpi = 96;                 // logical pixels per inch
inline constexpr std::uint32_t kFontNameSize = 80;         // bytes, NUL included
inline constexpr std::uint32_t kGlyphCount = 224;          // bytes 32 to 255
inline constexpr std::uint32_t kTextVerticesPerGlyph = 6;  // two triangles
inline constexpr std::uint32_t kTextGlyphsPerBatch = 50;   // glyphs per vertex-buffer fill
inline constexpr std::uint32_t kTextVertexBufferBytes =
    kTextGlyphsPerBatch * kTextVerticesPerGlyph * sizeof(TexturedScreenVertex);  // 8400

// The extent of a text, like a Win32 SIZE.
struct TextSize {
    std::int32_t cx = 0;  // width, pixels
    std::int32_t cy = 0;  // height, pixels
};

class TextureFont {
  public:
    // Copies the face name (at most 79 characters), the height in points and the flags; no
    // device resources yet.
    TextureFont(const char* faceName, std::uint32_t heightPoints, std::uint32_t flags = 0);
    ~TextureFont();  // ReleaseDrawResources, then ReleaseGlyphTexture
    TextureFont(const TextureFont&) = delete;
    TextureFont& operator=(const TextureFont&) = delete;

    // Remembers the device and rasterises bytes 32 to 126 and the printable ones from 128 on
    // (each as its Windows-1252 character) into a new glyph texture at `dpi` logical pixels per
    // inch; the texture grows beyond the size its points ask for until they fit. Returns the device's result when the texture cannot be
    // made, E_FAIL when the face cannot be found, else S_OK.
    HRESULT CreateGlyphTexture(RenderDevice* device, int dpi = kDefaultFontDpi);
    // The dynamic vertex buffer and the two state blocks (saved and draw) of DrawString.
    HRESULT CreateDrawResources();
    // Releases the vertex buffer and deletes the state blocks; S_OK.
    HRESULT ReleaseDrawResources();
    // Releases the glyph texture and forgets the device; S_OK.
    HRESULT ReleaseGlyphTexture();

    // Width and height in pixels of `text` as laid out in the glyph texture (textScale not
    // applied); line feeds start new lines; control bytes (and the five Windows-1252 leaves
    // unassigned) take no space. E_FAIL when
    // text or size is null.
    HRESULT MeasureText(const char* text, TextSize* size) const;
    // Draws `text` with its first line's top-left corner at pixel (x, y) in an ARGB colour,
    // leaving every device state as it found it. E_FAIL without a device or vertex buffer.
    HRESULT DrawString(float x, float y, std::uint32_t colour, const char* text,
                       std::uint32_t flags = 0);

    char fontName[kFontNameSize];          // face name, NUL-terminated
    std::uint32_t fontHeight;              // points
    std::uint32_t fontFlags;               // FontBold | FontItalic | FontDepthTest
    RenderDevice* device = nullptr;        // not owned; null when none
    Texture* glyphTexture = nullptr;       // owned; null when none
    VertexBuffer* vertexBuffer = nullptr;  // owned; null when none
    std::uint32_t textureWidth = 0;        // texels
    std::uint32_t textureHeight = 0;       // texels
    float textScale = 1.0f;  // 1, or below 1 when the texture had to be smaller than wanted
    // For bytes 32 to 255: left u, top v, right u, bottom v of the glyph's cell, 0..1; the
    // printable ones are filled by CreateGlyphTexture (DEL and the unassigned bytes stay 0).
    float glyphCoords[kGlyphCount][4] = {};
    std::uint32_t savedStateBlock = 0;  // device state captured by DrawString; 0 when none
    std::uint32_t drawStateBlock = 0;   // the state text is drawn with; 0 when none
};

// The glyph quads of `text` drawn at (x, y): six vertices per visible character, appended to
// `out`, in the order DrawString sends them to the device. Spaces advance without quads; line
// feeds return to x one line lower; other bytes outside 32..126 are skipped. Quad sizes are the
// glyph cells divided by textScale, corners offset by -0.5 so texels land on pixel centres.
void BuildStringVertices(const TextureFont& font, float x, float y, std::uint32_t colour,
                         const char* text, std::vector<TexturedScreenVertex>* out);

// Win32's MulDiv: a * b / c rounded to the nearest integer, halves away from zero.
std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c);

}  // namespace lapquill
