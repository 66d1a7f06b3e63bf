// Drawing on an RGBA picture in memory: rectangles, lines and text, every one
// clipped to the picture, for the preview's panels.
#pragma once

#include <string_view>

#include "preview/rgba_image.h"

namespace cubewright {

/// A picture of the given size, every pixel opaque in `background`, with
/// room for one byte a row more (see encode_png).
rgba_image make_image(int width, int height, rgb_colour background);

/// The colour of one pixel, which must lie inside the picture.
rgb_colour pixel_at(const rgba_image& image, int x, int y);

/// Paints a rectangle; `alpha` out of 256 mixes it over what is there.
void fill_rect(rgba_image& image, int x, int y, int width, int height, rgb_colour colour,
               int alpha = 256);

/// Paints the pixels of a straight line from (x0, y0) to (x1, y1), both ends
/// included.
void draw_line(rgba_image& image, int x0, int y0, int x1, int y1, rgb_colour colour);

/// Height in pixels of a line of text at `scale`, spacing included.
int text_line_height(int scale);

/// Width in pixels of `text` on one line at `scale`.
int text_width(std::string_view text, int scale);

/// Writes one line of text with its top left corner at (x, y). Bytes outside
/// printable ASCII are drawn as "?". Returns the width drawn.
int draw_text(rgba_image& image, int x, int y, std::string_view text, rgb_colour colour, int scale);

}  // namespace cubewright
