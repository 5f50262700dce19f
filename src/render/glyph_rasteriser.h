// GlyphRasteriser: characters of a named font as 8-bit coverage, for TextureFont's glyph
// texture. fontconfig finds the face (family plus bold/italic, so "Arial" finds its metric twin);
// FreeType renders it anti-aliased. Each object owns its FreeType library and face. Whole pixels:
// a cell is the advance width by ascent + descent, top at the cell's y, baseline at y + ascent.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace lapquill {

// A greyscale picture the glyphs are drawn into: 0 is background, 255 full ink.
struct CoverageBitmap {
    int width = 0;                     // pixels
    int height = 0;                    // pixels
    std::vector<std::uint8_t> pixels;  // row-major, width bytes per row, top row first

    CoverageBitmap() = default;
    CoverageBitmap(int w, int h) : width(w), height(h), pixels(std::size_t(w) * std::size_t(h)) {}
    std::uint8_t At(int x, int y) const {
        return pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)];
    }
};

// The size of one character's cell.
struct GlyphCell {
    int cx = 0;  // advance width, pixels
    int cy = 0;  // ascent + descent of the font, pixels
};

class GlyphRasteriser {
  public:
    GlyphRasteriser();
    ~GlyphRasteriser();
    GlyphRasteriser(const GlyphRasteriser&) = delete;
    GlyphRasteriser& operator=(const GlyphRasteriser&) = delete;

    // Finds the best face for `family` with the weight and slant asked for and sizes it to an em
    // of `emPixels` pixels. False when no face can be found or opened, or emPixels is not positive.
    bool Open(const char* family, bool bold, bool italic, int emPixels);
    bool IsOpen() const;

    int Ascent() const;              // pixels above the baseline, rounded to whole pixels
    int Descent() const;             // pixels below the baseline, rounded to whole pixels
    std::string FacePath() const;    // the font file fontconfig chose; empty when not open
    std::string FamilyName() const;  // the family of that file

    // The cell of one character (a Unicode code point); (0, cy) for one the face cannot load.
    GlyphCell MeasureChar(char32_t c) const;

    // Draws c with its cell's top-left corner at (x, y), as text drawn with an opaque
    // background: the cell is first cleared to 0, then the glyph's ink is laid over what is
    // there. Ink that reaches outside the cell is kept (no clipping but the bitmap's edges).
    void DrawChar(char32_t c, int x, int y, CoverageBitmap* target) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace lapquill
