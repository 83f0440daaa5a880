#pragma once

#include <QImage>

#include <cstddef>
#include <span>

namespace vx {

// Decodes a JPEG image with libjpeg into an RGB image; a null image when data is no
// JPEG image or a damaged one.
QImage DecodeJpeg(std::span<const unsigned char> data);

}  // namespace vx
