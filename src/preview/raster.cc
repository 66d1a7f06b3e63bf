#include "preview/raster.h"

#include <stb_easy_font.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

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

// How many bytes the well-formed UTF-8 character at the start of `text`
// takes, 0 when it does not start with one. Overlong forms, surrogates and
// values past U+10FFFF are not well-formed.
std::size_t character_length(std::string_view text) {
  const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  unsigned char second_low = 0x80;
  unsigned char second_high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) second_low = 0xA0;
    if (lead == 0xED) second_high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) second_low = 0x90;
    if (lead == 0xF4) second_high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < second_low || byte(1) > second_high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

// The glyphs that show `text`: the font has glyphs for the bytes 32 to 126
// only, so any other character is one "?", as is each byte that is not
// part of a well-formed character.
std::string glyphs_of(std::string_view text) {
  std::string glyphs;
  glyphs.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const char c = text[at];
    if (c >= 32 && c <= 126) {
      glyphs += c;
      ++at;
      continue;
    }
    glyphs += '?';
    at += std::max<std::size_t>(character_length(text.substr(at)), 1);
  }
  return glyphs;
}

// Advance of one glyph at scale 1.
int glyph_advance(char glyph) {
  char text[2] = {glyph, '\0'};
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
  for (char glyph : glyphs_of(text)) width += glyph_advance(glyph);
  return width * scale;
}

int draw_text(rgba_image& image, int x, int y, std::string_view text, rgb_colour colour,
              int scale) {
  // One glyph at a time keeps the vertex buffer small and fixed: a glyph is
  // a few segments, each a quad of four 16-byte vertices.
  char buffer[64 * 64];
  int pen = x;
  for (char c : glyphs_of(text)) {
    char glyph[2] = {c, '\0'};
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
