// The vertex layouts the program hands to the RenderDevice, packed exactly as the device
// reads them from a vertex buffer. Plain data: whoever fills a buffer owns the arrays.
// Colours are 32-bit ARGB (alpha in the top byte); world positions are metres, Z up;
// screen positions are pixels of the back buffer, origin top-left, y down.
#pragma once

#include <cstdint>

namespace lapquill {

// Flexible vertex format codes of the three layouts (the D3DFVF_* bits they combine).
inline constexpr std::uint32_t kMapVertexFvf = 0x042;             // XYZ | DIFFUSE
inline constexpr std::uint32_t kScreenVertexFvf = 0x044;          // XYZRHW | DIFFUSE
inline constexpr std::uint32_t kTexturedScreenVertexFvf = 0x144;  // XYZRHW | DIFFUSE | TEX1

// A point of the track mesh, the segment markers or a path ribbon.
struct MapVertex {
    float x, y, z;         // world position, metres
    std::uint32_t colour;  // ARGB
};

// A pre-transformed point of the overlay: already in pixels, never clipped or lit.
struct ScreenVertex {
    float x, y;            // pixels; the pixel (i, j) is sampled at (i, j) exactly
    float z;               // depth 0..1; unused, there is no depth buffer
    float rhw;             // reciprocal of the homogeneous w; 1 for flat overlay geometry
    std::uint32_t colour;  // ARGB
};

// A pre-transformed textured point: the glyph quads of the text renderer.
struct TexturedScreenVertex {
    float x, y;            // pixels
    float z;               // depth 0..1; unused
    float rhw;             // reciprocal of the homogeneous w
    std::uint32_t colour;  // ARGB, modulated with the texel
    float u, v;            // texture coordinates, 0..1 across the texture
};

static_assert(sizeof(MapVertex) == 16);
static_assert(sizeof(ScreenVertex) == 20);
static_assert(sizeof(TexturedScreenVertex) == 28);

}  // namespace lapquill
