#include "render/glyph_rasteriser.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>

#if defined(__SANITIZE_ADDRESS__)
#define LAPQUILL_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LAPQUILL_LEAK_CHECKED 1
#endif
#endif

#ifdef LAPQUILL_LEAK_CHECKED
// fontconfig loses a few hundred bytes once, while parsing its configuration files on the first
// FcInit; nothing the caller can free. Every program that draws text links this file, so the
// leak checker is told here rather than in each test.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
#endif

namespace lapquill {

struct GlyphRasteriser::Impl {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    int ascent = 0;                // pixels
    int descent = 0;               // pixels
    bool syntheticBold = false;    // the matched face is lighter than asked: embolden
    bool syntheticItalic = false;  // the matched face is upright but italic was asked: slant
    std::string path;
    std::string family;

    ~Impl() {
        if (face) FT_Done_Face(face);
        if (library) FT_Done_FreeType(library);
    }

    // Loads c into the glyph slot with the synthetic styles applied; false when it cannot.
    bool Load(char32_t c) const {
        if (!face) return false;
        if (FT_Load_Char(face, c, FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP) != 0) return false;
        if (syntheticItalic) FT_GlyphSlot_Oblique(face->glyph);
        if (syntheticBold) FT_GlyphSlot_Embolden(face->glyph);
        return true;
    }
};

namespace {

// Rounds value * em / unitsPerEm to the nearest whole pixel, as a font's design units are scaled
// to a pixel size.
int ScaleDesignUnits(long value, int em, int unitsPerEm) {
    if (unitsPerEm <= 0) return 0;
    const long long scaled = static_cast<long long>(value) * em;
    const long long half = unitsPerEm / 2;
    return static_cast<int>(scaled >= 0 ? (scaled + half) / unitsPerEm
                                        : -((-scaled + half) / unitsPerEm));
}

// The file, face index and synthetic styles fontconfig chooses for a family and style.
struct FaceChoice {
    std::string path;
    int index = 0;
    std::string family;
    bool embolden = false;
    bool upright = true;
};

bool ChooseFace(const char* family, bool bold, bool italic, FaceChoice* choice) {
    if (!FcInit()) return false;
    FcPattern* pattern = FcPatternCreate();
    if (!pattern) return false;
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
    FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (!match) return false;

    bool found = false;
    FcChar8* file = nullptr;
    if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file) {
        choice->path = reinterpret_cast<const char*>(file);
        found = true;
    }
    int index = 0;
    if (FcPatternGetInteger(match, FC_INDEX, 0, &index) == FcResultMatch) choice->index = index;
    FcChar8* matchedFamily = nullptr;
    if (FcPatternGetString(match, FC_FAMILY, 0, &matchedFamily) == FcResultMatch && matchedFamily)
        choice->family = reinterpret_cast<const char*>(matchedFamily);
    FcBool embolden = FcFalse;
    if (FcPatternGetBool(match, FC_EMBOLDEN, 0, &embolden) == FcResultMatch)
        choice->embolden = embolden == FcTrue;
    int slant = FC_SLANT_ROMAN;
    if (FcPatternGetInteger(match, FC_SLANT, 0, &slant) == FcResultMatch)
        choice->upright = slant == FC_SLANT_ROMAN;
    FcPatternDestroy(match);
    return found;
}

}  // namespace

GlyphRasteriser::GlyphRasteriser() = default;
GlyphRasteriser::~GlyphRasteriser() = default;

bool GlyphRasteriser::Open(const char* family, bool bold, bool italic, int emPixels) {
    impl_.reset();
    if (!family || emPixels <= 0) return false;

    FaceChoice choice;
    if (!ChooseFace(family, bold, italic, &choice)) return false;

    auto impl = std::make_unique<Impl>();
    if (FT_Init_FreeType(&impl->library) != 0) return false;
    if (FT_New_Face(impl->library, choice.path.c_str(), choice.index, &impl->face) != 0)
        return false;
    if (FT_Set_Pixel_Sizes(impl->face, 0, static_cast<FT_UInt>(emPixels)) != 0) return false;

    // The cell height comes from the font's Windows ascent and descent, the extent that a
    // character cell is given on the platform these fonts were designed for; fonts without
    // them fall back to the typographic ascender and descender.
    FT_Face face = impl->face;
    long ascentUnits = face->ascender;
    long descentUnits = -face->descender;
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    if (os2 && os2->version != 0xFFFFu && (os2->usWinAscent != 0 || os2->usWinDescent != 0)) {
        ascentUnits = os2->usWinAscent;
        descentUnits = os2->usWinDescent;
    }
    if (FT_IS_SCALABLE(face)) {
        impl->ascent = ScaleDesignUnits(ascentUnits, emPixels, face->units_per_EM);
        impl->descent = ScaleDesignUnits(descentUnits, emPixels, face->units_per_EM);
    } else {
        impl->ascent = static_cast<int>((face->size->metrics.ascender + 32) >> 6);
        impl->descent = static_cast<int>((-face->size->metrics.descender + 32) >> 6);
    }
    impl->syntheticBold = bold && choice.embolden;
    impl->syntheticItalic = italic && choice.upright;
    impl->path = choice.path;
    impl->family = choice.family;
    impl_ = std::move(impl);
    return true;
}

bool GlyphRasteriser::IsOpen() const {
    return impl_ != nullptr;
}
int GlyphRasteriser::Ascent() const {
    return impl_ ? impl_->ascent : 0;
}
int GlyphRasteriser::Descent() const {
    return impl_ ? impl_->descent : 0;
}
std::string GlyphRasteriser::FacePath() const {
    return impl_ ? impl_->path : std::string();
}
std::string GlyphRasteriser::FamilyName() const {
    return impl_ ? impl_->family : std::string();
}

GlyphCell GlyphRasteriser::MeasureChar(char32_t c) const {
    GlyphCell cell;
    if (!impl_) return cell;
    cell.cy = impl_->ascent + impl_->descent;
    if (!impl_->Load(c)) return cell;
    // Hinted advances are whole pixels already; rounding covers unhinted faces.
    cell.cx = static_cast<int>((impl_->face->glyph->advance.x + 32) >> 6);
    return cell;
}

void GlyphRasteriser::DrawChar(char32_t c, int x, int y, CoverageBitmap* target) const {
    if (!impl_ || !target) return;
    const GlyphCell cell = MeasureChar(c);

    // Opaque background: the cell's rectangle is cleared before the ink goes on.
    const int x0 = std::max(x, 0);
    const int y0 = std::max(y, 0);
    const int x1 = std::min(x + cell.cx, target->width);
    const int y1 = std::min(y + cell.cy, target->height);
    for (int row = y0; row < y1; ++row)
        for (int col = x0; col < x1; ++col)
            target->pixels[std::size_t(row) * std::size_t(target->width) + std::size_t(col)] = 0;

    if (!impl_->Load(c)) return;
    FT_GlyphSlot slot = impl_->face->glyph;
    if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) return;
    const FT_Bitmap& bitmap = slot->bitmap;
    if (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY || bitmap.num_grays != 256) return;

    const int left = x + slot->bitmap_left;
    const int top = y + impl_->ascent - slot->bitmap_top;
    for (unsigned int r = 0; r < bitmap.rows; ++r) {
        const int ty = top + static_cast<int>(r);
        if (ty < 0 || ty >= target->height) continue;
        const unsigned char* src = bitmap.buffer + static_cast<long>(r) * bitmap.pitch;
        for (unsigned int col = 0; col < bitmap.width; ++col) {
            const int tx = left + static_cast<int>(col);
            if (tx < 0 || tx >= target->width) continue;
            const unsigned ink = src[col];
            if (ink == 0) continue;
            std::uint8_t& dst =
                target->pixels[std::size_t(ty) * std::size_t(target->width) + std::size_t(tx)];
            // White ink over what is there, with the coverage as its opacity.
            dst = static_cast<std::uint8_t>(ink + (dst * (255u - ink) + 127u) / 255u);
        }
    }
}

}  // namespace lapquill
