#include "preview/raster.h"

#include <stb_easy_font.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace cubewright {
namespace {

std::size_t offset_of(const rgba_image& image, int x, int y) {
  return (static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) +
          static_cast<std::size_t>(x)) *
         4;
}

void plot(rgba_image& image, int x, int y, rgb_colour colour) {
  if (x < 0 || y < 0 || x >= image.width || y >= image.height) return;
  std::uint8_t* p = &image.pixels[offset_of(image, x, y)];
  p[0] = colour.r;
  p[1] = colour.g;
  p[2] = colour.b;
}

// The font has glyphs for the bytes 32 to 126 only.
char printable(char c) { return c >= 32 && c <= 126 ? c : '?'; }

// Advance of one glyph at scale 1.
int glyph_advance(char c) {
  char text[2] = {printable(c), '\0'};
  return stb_easy_font_width(text);
}

}  // namespace

rgba_image make_image(int width, int height, rgb_colour background) {
  rgba_image image;
  image.width = std::max(width, 0);
  image.height = std::max(height, 0);
  const std::size_t count =
      static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
  // One byte a row to spare: the PNG encoder filters the rows in place.
  image.pixels.reserve(count * 4 + static_cast<std::size_t>(image.height));
  image.pixels.resize(count * 4);
  const std::uint8_t pixel[4] = {background.r, background.g, background.b, 255};
  std::uint8_t* p = image.pixels.data();
  for (std::size_t i = 0; i < count; ++i, p += 4) std::memcpy(p, pixel, 4);
  return image;
}

rgb_colour pixel_at(const rgba_image& image, int x, int y) {
  const std::uint8_t* p = &image.pixels[offset_of(image, x, y)];
  return rgb_colour{p[0], p[1], p[2]};
}

void draw_line(rgba_image& image, int x0, int y0, int x1, int y1, rgb_colour colour) {
  const int dx = std::abs(x1 - x0);
  const int dy = -std::abs(y1 - y0);
  const int step_x = x0 < x1 ? 1 : -1;
  const int step_y = y0 < y1 ? 1 : -1;
  int error = dx + dy;
  for (;;) {
    plot(image, x0, y0, colour);
    if (x0 == x1 && y0 == y1) return;
    const int twice = 2 * error;
    if (twice >= dy) {
      error += dy;
      x0 += step_x;
    }
    if (twice <= dx) {
      error += dx;
      y0 += step_y;
    }
  }
}

int text_line_height(int scale) { return 12 * scale; }

int text_width(std::string_view text, int scale) {
  int width = 0;
  for (char c : text) width += glyph_advance(c);
  return width * scale;
}

int draw_text(rgba_image& image, int x, int y, std::string_view text, rgb_colour colour,
              int scale) {
  // One glyph at a time keeps the vertex buffer small and fixed: a glyph is
  // a few segments, each a quad of four 16-byte vertices.
  char buffer[64 * 64];
  int pen = x;
  for (char c : text) {
    char glyph[2] = {printable(c), '\0'};
    const int quads = stb_easy_font_print(0.0f, 0.0f, glyph, nullptr, buffer, sizeof buffer);
    for (std::size_t q = 0; q < static_cast<std::size_t>(quads); ++q) {
      // A quad's first and third vertices are opposite corners.
      float corner[2][2];
      std::memcpy(corner[0], buffer + q * 64, sizeof corner[0]);
      std::memcpy(corner[1], buffer + q * 64 + 32, sizeof corner[1]);
      const int left = static_cast<int>(corner[0][0]);
      const int top = static_cast<int>(corner[0][1]);
      const int right = static_cast<int>(corner[1][0]);
      const int bottom = static_cast<int>(corner[1][1]);
      fill_rect(image, pen + left * scale, y + top * scale, (right - left) * scale,
                (bottom - top) * scale, colour);
    }
    pen += glyph_advance(c) * scale;
  }
  return pen - x;
}

}  // namespace cubewright
