// A picture in memory: what the preview draws and the PNG encoder writes.
#pragma once

#include <cstdint>
#include <vector>

#include "memory/large_pages.h"

namespace cubewright {

/// An opaque colour.
struct rgb_colour {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
};

inline bool operator==(rgb_colour left, rgb_colour right) {
  return left.r == right.r && left.g == right.g && left.b == right.b;
}
inline bool operator!=(rgb_colour left, rgb_colour right) { return !(left == right); }

/// Bytes of a picture, or of the file made of it, in large pages where the
/// system has them: a picture is filled once, and each fresh page costs more
/// than drawing on it.
using picture_bytes = std::vector<std::uint8_t, large_page_allocator<std::uint8_t>>;

/// Four bytes a pixel (r, g, b, a), rows top to bottom, no padding: the
/// pixels hold exactly width * height * 4 bytes.
struct rgba_image {
  int width = 0;
  int height = 0;
  picture_bytes pixels;
};

}  // namespace cubewright
