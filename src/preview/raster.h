// Drawing on an RGBA picture in memory: rectangles, lines and text, every one
// clipped to the picture, for the preview's panels.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "preview/rgba_image.h"

namespace cubewright {

/// A picture of the given size, every pixel opaque in `background`, with
/// room for one byte a row more (see encode_png).
rgba_image make_image(int width, int height, rgb_colour background);

/// The colour of one pixel, which must lie inside the picture.
rgb_colour pixel_at(const rgba_image& image, int x, int y);

/// Paints a rectangle; `alpha` out of 256 mixes it over what is there.
/// Inline: a panel paints a small square for every voxel it shows.
inline void fill_rect(rgba_image& image, int x, int y, int width, int height, rgb_colour colour,
                      int alpha = 256) {
  const int x0 = std::max(x, 0);
  const int y0 = std::max(y, 0);
  const int x1 = std::min(x + width, image.width);
  const int y1 = std::min(y + height, image.height);
  if (x0 >= x1) return;
  const auto row_bytes = static_cast<std::size_t>(image.width) * 4;
  std::uint8_t* first = image.pixels.data() + static_cast<std::size_t>(x0) * 4;
  const std::ptrdiff_t length = std::ptrdiff_t{4} * (x1 - x0);
  const auto mix = [alpha](std::uint8_t over, std::uint8_t under) {
    return static_cast<std::uint8_t>((over * alpha + under * (256 - alpha)) >> 8);
  };
  for (int row = y0; row < y1; ++row) {
    std::uint8_t* const line = first + static_cast<std::size_t>(row) * row_bytes;
    for (std::uint8_t* p = line; p != line + length; p += 4) {
      if (alpha >= 256) {
        p[0] = colour.r;
        p[1] = colour.g;
        p[2] = colour.b;
      } else {
        p[0] = mix(colour.r, p[0]);
        p[1] = mix(colour.g, p[1]);
        p[2] = mix(colour.b, p[2]);
      }
    }
  }
}

/// Paints the pixels of a straight line from (x0, y0) to (x1, y1), both ends
/// included.
void draw_line(rgba_image& image, int x0, int y0, int x1, int y1, rgb_colour colour);

/// Height in pixels of a line of text at `scale`, spacing included.
int text_line_height(int scale);

/// Width in pixels of `text`, UTF-8, on one line at `scale`.
int text_width(std::string_view text, int scale);

/// Writes one line of UTF-8 text with its top left corner at (x, y). Each
/// character outside printable ASCII is drawn as one "?", and so is each
/// byte that is not part of a well-formed character. Returns the width drawn.
int draw_text(rgba_image& image, int x, int y, std::string_view text, rgb_colour colour, int scale);

}  // namespace cubewright
