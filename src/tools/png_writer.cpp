#include "tools/png_writer.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <memory>

namespace lapquill {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

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
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        *error = "out of memory writing " + path;
        return false;
    }
    // The rows are converted before libpng's error handler is armed, so the jump skips no
    // destructor that matters.
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
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        *error = "could not write " + path;
        return false;
    }
    png_init_io(png, file.get());
    png_set_IHDR(png, info, static_cast<png_uint_32>(frame.width),
                 static_cast<png_uint_32>(frame.height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (std::fflush(file.get()) != 0) {
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
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        *error = "out of memory reading " + path;
        return false;
    }
    std::vector<png_byte> bytes;
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        *error = "not a readable PNG: " + path;
        return false;
    }
    png_init_io(png, file.get());
    png_read_info(png, info);
    const png_uint_32 w = png_get_image_width(png, info);
    const png_uint_32 h = png_get_image_height(png, info);
    const int type = png_get_color_type(png, info);
    const int depth = png_get_bit_depth(png, info);
    const bool rgba = type == PNG_COLOR_TYPE_RGB_ALPHA;
    if (depth != 8 || (type != PNG_COLOR_TYPE_RGB && !rgba) || w == 0 || h == 0 || w > 16384 ||
        h > 16384) {
        png_destroy_read_struct(&png, &info, nullptr);
        *error = "unsupported PNG layout: " + path;
        return false;
    }
    const std::size_t channels = rgba ? 4 : 3;
    bytes.resize(static_cast<std::size_t>(w) * channels * h);
    rows.resize(h);
    for (png_uint_32 y = 0; y < h; ++y)
        rows[y] = &bytes[static_cast<std::size_t>(y) * w * channels];
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    image->width = static_cast<std::int32_t>(w);
    image->height = static_cast<std::int32_t>(h);
    image->pixels.resize(static_cast<std::size_t>(w) * h);
    for (std::size_t i = 0; i < image->pixels.size(); ++i) {
        const png_byte* p = &bytes[i * channels];
        image->pixels[i] = 0xFF000000u | static_cast<std::uint32_t>(p[0]) << 16 |
                           static_cast<std::uint32_t>(p[1]) << 8 | p[2];
    }
    return true;
}

}  // namespace lapquill
