#include "tools/png_writer.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <vector>

namespace lapquill {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The libpng calls run under its error handler (setjmp). Each such function keeps only plain
// locals that do not change after the setjmp, so a jump back leaves nothing half-destroyed;
// the vectors and strings live in the callers.
bool EncodeRgbRows(std::FILE* file, png_uint_32 width, png_uint_32 height, png_bytep* rows) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// What DecodeRows fills: the image's size and layout, and the bytes of its rows.
struct DecodedPng {
    png_uint_32 width = 0, height = 0;
    std::size_t channels = 0;
    std::vector<png_byte> bytes;
    std::vector<png_bytep> rows;
    bool supported = true;

    png_bytep* Allocate(png_uint_32 w, png_uint_32 h, int type, int depth) {
        const bool rgba = type == PNG_COLOR_TYPE_RGB_ALPHA;
        supported = depth == 8 && (type == PNG_COLOR_TYPE_RGB || rgba) && w > 0 && h > 0 &&
                    w <= 16384 && h <= 16384;
        if (!supported) return nullptr;
        width = w;
        height = h;
        channels = rgba ? 4 : 3;
        bytes.resize(static_cast<std::size_t>(w) * channels * h);
        rows.resize(h);
        for (png_uint_32 y = 0; y < h; ++y) rows[y] = &bytes[static_cast<std::size_t>(y) * w * channels];
        return rows.data();
    }
};

bool DecodeRows(std::FILE* file, DecodedPng* out) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    png_bytep* rows = out->Allocate(png_get_image_width(png, info), png_get_image_height(png, info),
                                    png_get_color_type(png, info), png_get_bit_depth(png, info));
    if (rows) {
        png_read_image(png, rows);
        png_read_end(png, nullptr);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return rows != nullptr;
}

}  // namespace

bool WritePng(const std::string& path, const PresentedFrame& frame, std::string* error) {
    if (frame.pixels == nullptr || frame.width <= 0 || frame.height <= 0) {
        *error = "no frame to write";
        return false;
    }
    File file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        *error = "could not write " + path;
        return false;
    }
    const auto w = static_cast<std::size_t>(frame.width);
    std::vector<png_byte> rgb(w * 3 * static_cast<std::size_t>(frame.height));
    std::vector<png_bytep> rows(static_cast<std::size_t>(frame.height));
    for (std::int32_t y = 0; y < frame.height; ++y) {
        const auto* src = reinterpret_cast<const std::uint32_t*>(
            reinterpret_cast<const std::uint8_t*>(frame.pixels) +
            static_cast<std::ptrdiff_t>(y) * frame.pitch);
        png_byte* dst = &rgb[static_cast<std::size_t>(y) * w * 3];
        rows[static_cast<std::size_t>(y)] = dst;
        for (std::size_t x = 0; x < w; ++x) {
            dst[3 * x] = static_cast<png_byte>(src[x] >> 16);
            dst[3 * x + 1] = static_cast<png_byte>(src[x] >> 8);
            dst[3 * x + 2] = static_cast<png_byte>(src[x]);
        }
    }
    if (!EncodeRgbRows(file.get(), static_cast<png_uint_32>(frame.width),
                       static_cast<png_uint_32>(frame.height), rows.data()) ||
        std::fflush(file.get()) != 0) {
        *error = "could not write " + path;
        return false;
    }
    return true;
}

bool ReadPng(const std::string& path, PngImage* image, std::string* error) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        *error = "could not open " + path;
        return false;
    }
    DecodedPng decoded;
    if (!DecodeRows(file.get(), &decoded)) {
        *error = decoded.supported ? "not a readable PNG: " + path : "unsupported PNG layout: " + path;
        return false;
    }
    image->width = static_cast<std::int32_t>(decoded.width);
    image->height = static_cast<std::int32_t>(decoded.height);
    image->pixels.resize(static_cast<std::size_t>(decoded.width) * decoded.height);
    for (std::size_t i = 0; i < image->pixels.size(); ++i) {
        const png_byte* p = &decoded.bytes[i * decoded.channels];
        image->pixels[i] = 0xFF000000u | static_cast<std::uint32_t>(p[0]) << 16 |
                           static_cast<std::uint32_t>(p[1]) << 8 | p[2];
    }
    return true;
}

}  // namespace lapquill
