// PNG files of presented frames for lapquill-cli render, through libpng. The caller owns the
// frame and the path; nothing is kept. Pixels are 0xAARRGGBB words whose alpha is whatever
// blending left in the back buffer, so a frame is written as opaque 8-bit RGB.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "render/render_device.h"

namespace lapquill {

// Writes the frame as an 8-bit RGB PNG. False with a reason when the file cannot be written.
bool WritePng(const std::string& path, const PresentedFrame& frame, std::string* error);

// A PNG read back as 0xFFRRGGBB words, row 0 first (8-bit RGB or RGBA files; others fail).
struct PngImage {
    std::int32_t width = 0;   // pixels
    std::int32_t height = 0;  // pixels
    std::vector<std::uint32_t> pixels;

    std::uint32_t At(std::int32_t x, std::int32_t y) const {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
};
bool ReadPng(const std::string& path, PngImage* image, std::string* error);

}  // namespace lapquill
