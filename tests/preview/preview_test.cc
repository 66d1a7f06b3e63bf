#include "preview/preview.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "preview/png.h"
#include "preview/raster.h"

namespace cubewright {
namespace {

constexpr rgb_colour red{255, 0, 0};
constexpr rgb_colour blue{0, 0, 255};
constexpr rgb_colour green{0, 200, 0};

cell_voxel voxel(std::int32_t x, std::int32_t y, std::int32_t z, rgb_colour c) {
  return cell_voxel{x, y, z, c.r, c.g, c.b};
}

struct picture {
  preview_layout layout;
  rgba_image image;
};

picture draw(const std::vector<cell_voxel>& model, const std::vector<cell_voxel>* compare = nullptr,
             std::string title = "title") {
  const preview_request request{&model, compare, std::move(title)};
  return picture{layout_preview(request), render_preview(request)};
}

// The middle pixel of a cell in a panel, where no axis, grid line or
// outline is drawn when cells are several pixels wide.
rgb_colour middle_of(const picture& p, preview_panel panel, std::int32_t x, std::int32_t y,
                     std::int32_t z) {
  const pixel_rect r = cell_pixels(p.layout, panel, x, y, z);
  return pixel_at(p.image, r.x + r.width / 2, r.y + r.height / 2);
}

bool inside(const pixel_rect& outer, const pixel_rect& inner) {
  return inner.x >= outer.x && inner.y >= outer.y &&
         inner.x + inner.width <= outer.x + outer.width &&
         inner.y + inner.height <= outer.y + outer.height;
}

TEST(PreviewPanels, FrontShowsXRightAndYUpFromTheOrigin) {
  const picture p = draw({voxel(0, 0, 0, red), voxel(5, 0, 0, blue), voxel(0, 3, 0, green)});
  ASSERT_GT(p.layout.pixels_per_bin, 4);
  EXPECT_EQ(middle_of(p, preview_panel::front, 0, 0, 0), red);
  EXPECT_EQ(middle_of(p, preview_panel::front, 5, 0, 0), blue);
  EXPECT_EQ(middle_of(p, preview_panel::front, 0, 3, 0), green);

  const pixel_rect origin = origin_pixel(p.layout, preview_panel::front);
  const pixel_rect at_0 = cell_pixels(p.layout, preview_panel::front, 0, 0, 0);
  const pixel_rect at_5 = cell_pixels(p.layout, preview_panel::front, 5, 0, 0);
  const pixel_rect up_3 = cell_pixels(p.layout, preview_panel::front, 0, 3, 0);
  // Cell (0, 0, 0) starts at the origin and lies right of it and above it.
  EXPECT_EQ(at_0.x, origin.x);
  EXPECT_EQ(at_0.y + at_0.height - 1, origin.y);
  EXPECT_EQ(at_5.x, at_0.x + 5 * at_0.width);
  EXPECT_EQ(at_5.y, at_0.y);
  EXPECT_EQ(up_3.x, at_0.x);
  EXPECT_EQ(up_3.y, at_0.y - 3 * at_0.height);
  // Nothing of the model is drawn where the mirrored cells would be.
  EXPECT_NE(middle_of(p, preview_panel::front, -1, 0, 0), red);
  EXPECT_NE(middle_of(p, preview_panel::front, -5, 0, 0), blue);
}

TEST(PreviewPanels, MirroredModelLandsLeftOfTheOrigin) {
  const picture p = draw({voxel(0, 0, 0, red), voxel(-5, 0, 0, blue)});
  const pixel_rect origin = origin_pixel(p.layout, preview_panel::front);
  const pixel_rect mirrored = cell_pixels(p.layout, preview_panel::front, -5, 0, 0);
  EXPECT_EQ(middle_of(p, preview_panel::front, -5, 0, 0), blue);
  EXPECT_LT(mirrored.x + mirrored.width, origin.x);
  EXPECT_NE(middle_of(p, preview_panel::front, 5, 0, 0), blue);
  // The three-quarter panel agrees: -x goes up and to the left.
  const pixel_rect iso_origin = origin_pixel(p.layout, preview_panel::three_quarter);
  const pixel_rect iso = cell_pixels(p.layout, preview_panel::three_quarter, -5, 0, 0);
  EXPECT_LT(iso.x, iso_origin.x);
  EXPECT_EQ(pixel_at(p.image, iso.x, iso.y), blue);
}

// Where a cell one step along each axis goes in each panel, in pixels
// relative to cell (0, 0, 0): the orientation every panel promises.
TEST(PreviewPanels, EveryPanelHasItsOrientation) {
  struct step {
    std::int32_t x, y, z;
    int right;  // -1 left, 0 same column, 1 right
    int down;   // -1 up, 0 same row, 1 down
  };
  const struct {
    preview_panel panel;
    std::vector<step> steps;
  } cases[] = {
      {preview_panel::front, {{4, 0, 0, 1, 0}, {0, 4, 0, 0, -1}}},
      {preview_panel::side, {{0, 0, 4, -1, 0}, {0, 4, 0, 0, -1}}},
      {preview_panel::top, {{4, 0, 0, 1, 0}, {0, 0, 4, 0, 1}}},
      {preview_panel::three_quarter, {{4, 0, 0, 1, 1}, {0, 4, 0, 0, -1}, {0, 0, 4, -1, 1}}},
  };
  const auto sign = [](int v) { return (v > 0) - (v < 0); };
  for (const auto& c : cases) {
    for (const step& s : c.steps) {
      const picture p = draw({voxel(0, 0, 0, red), voxel(s.x, s.y, s.z, blue)});
      const pixel_rect at_0 = cell_pixels(p.layout, c.panel, 0, 0, 0);
      const pixel_rect moved = cell_pixels(p.layout, c.panel, s.x, s.y, s.z);
      const std::string where = "panel " + std::to_string(static_cast<int>(c.panel)) + " step " +
                                std::to_string(s.x) + "," + std::to_string(s.y) + "," +
                                std::to_string(s.z);
      EXPECT_EQ(sign(moved.x - at_0.x), s.right) << where;
      EXPECT_EQ(sign(moved.y - at_0.y), s.down) << where;
      EXPECT_EQ(middle_of(p, c.panel, 0, 0, 0), red) << where;
      EXPECT_EQ(middle_of(p, c.panel, s.x, s.y, s.z), blue) << where;
      EXPECT_TRUE(inside(p.layout.panels[static_cast<int>(c.panel)], moved)) << where;
    }
  }
}

TEST(PreviewPanels, EachFlatPanelShowsTheNearestVoxelAndDarkensFartherOnes) {
  // Red behind blue along each viewing direction; green alone at the back.
  const struct {
    preview_panel panel;
    cell_voxel behind, front, alone;
  } cases[] = {
      {preview_panel::front, voxel(0, 0, 0, red), voxel(0, 0, 4, blue), voxel(3, 0, 0, green)},
      {preview_panel::side, voxel(0, 0, 0, red), voxel(4, 0, 0, blue), voxel(0, 3, 0, green)},
      {preview_panel::top, voxel(0, 0, 0, red), voxel(0, 4, 0, blue), voxel(3, 0, 0, green)},
  };
  for (const auto& c : cases) {
    const picture p = draw({c.behind, c.front, c.alone});
    EXPECT_EQ(middle_of(p, c.panel, c.front.x, c.front.y, c.front.z), blue);
    const rgb_colour back = middle_of(p, c.panel, c.alone.x, c.alone.y, c.alone.z);
    EXPECT_EQ(back.r, 0);
    EXPECT_EQ(back.b, 0);
    EXPECT_LT(back.g, green.g);
    EXPECT_GT(back.g, green.g / 2);
  }
}

TEST(PreviewCompare, GhostIsDrawnAtItsOwnPlaceAndLeavesTheModelsColours) {
  const std::vector<cell_voxel> compare = {voxel(0, 0, 0, blue), voxel(3, 2, 0, blue)};
  const picture p = draw({voxel(0, 0, 0, red)}, &compare);
  for (preview_panel panel : {preview_panel::front, preview_panel::side, preview_panel::top}) {
    const pixel_rect ghost = cell_pixels(p.layout, panel, 3, 2, 0);
    // Outlined in the ghost colour, filled with a tint of it.
    EXPECT_EQ(pixel_at(p.image, ghost.x + ghost.width / 2, ghost.y + ghost.height - 1),
              ghost_colour);
    const rgb_colour fill = middle_of(p, panel, 3, 2, 0);
    EXPECT_NE(fill, ghost_colour);
    EXPECT_GT(fill.r, fill.g + 30);
    // Where both models have a voxel, ours keeps its colour.
    EXPECT_EQ(middle_of(p, panel, 0, 0, 0), red);
  }
  const rgb_colour iso = middle_of(p, preview_panel::three_quarter, 3, 2, 0);
  EXPECT_GT(iso.r, iso.g + 30);
}

TEST(PreviewCompare, FrameHoldsACompareModelFarFromOurs) {
  const std::vector<cell_voxel> compare = {voxel(-60, 40, -9, blue)};
  const picture p = draw({voxel(0, 0, 0, red)}, &compare);
  for (int panel = 0; panel < 4; ++panel) {
    EXPECT_TRUE(inside(p.layout.panels[panel],
                       cell_pixels(p.layout, static_cast<preview_panel>(panel), -60, 40, -9)));
  }
}

TEST(PreviewScale, FitsAboutSixteenHundredByTwelveHundredWithAtLeastAPixelACell) {
  const struct {
    std::int32_t side;
    std::int64_t cells_per_bin;
  } cases[] = {{2, 1}, {12, 1}, {128, 1}, {390, 1}, {3000, 8}};
  for (const auto& c : cases) {
    const std::vector<cell_voxel> model = {voxel(0, 0, 0, red),
                                           voxel(c.side - 1, c.side - 1, c.side - 1, blue)};
    const picture p = draw(model);
    EXPECT_EQ(p.layout.cells_per_bin, c.cells_per_bin) << c.side;
    EXPECT_GE(p.layout.pixels_per_bin, 1) << c.side;
    EXPECT_LE(p.layout.pixels_per_bin, 32) << c.side;
    if (c.side <= 128) {
      EXPECT_LE(p.image.width, 1600) << c.side;
      EXPECT_LE(p.image.height, 1200) << c.side;
    }
    EXPECT_LE(p.image.width, 2400) << c.side;
    EXPECT_LE(p.image.height, 2400) << c.side;
    EXPECT_EQ(p.image.pixels.size(), static_cast<std::size_t>(p.image.width) *
                                         static_cast<std::size_t>(p.image.height) * 4);
    EXPECT_EQ(middle_of(p, preview_panel::front, c.side - 1, c.side - 1, c.side - 1), blue)
        << c.side;
  }
}

TEST(PreviewScale, ExtremeCoordinatesShareBinsAndStayInTheirPanels) {
  constexpr std::int32_t low = std::numeric_limits<std::int32_t>::min();
  constexpr std::int32_t high = std::numeric_limits<std::int32_t>::max();
  const std::vector<cell_voxel> model = {voxel(low, high, low, red), voxel(high, low, high, blue)};
  const picture p = draw(model);
  // Wider only by the captions' long numbers.
  EXPECT_LE(p.image.width, 3400);
  EXPECT_LE(p.image.height, 2400);
  for (int panel = 0; panel < 4; ++panel) {
    for (const cell_voxel& v : model) {
      EXPECT_TRUE(inside(p.layout.panels[panel],
                         cell_pixels(p.layout, static_cast<preview_panel>(panel), v.x, v.y, v.z)))
          << panel;
    }
  }
}

TEST(PreviewEdgeCases, EmptyModelStillGetsPanelsAndAxes) {
  const std::vector<cell_voxel> empty;
  for (const std::vector<cell_voxel>* compare :
       {static_cast<const std::vector<cell_voxel>*>(nullptr), &empty}) {
    const picture p = draw(empty, compare);
    ASSERT_GT(p.image.width, 0);
    ASSERT_GT(p.image.height, 0);
    for (int panel = 0; panel < 4; ++panel) {
      const pixel_rect o = origin_pixel(p.layout, static_cast<preview_panel>(panel));
      EXPECT_TRUE(inside(p.layout.panels[panel], o) ||
                  panel == static_cast<int>(preview_panel::three_quarter));
      EXPECT_EQ(pixel_at(p.image, o.x + 4, o.y + 4), (rgb_colour{0, 0, 0})) << panel;
    }
  }
}

TEST(PreviewEdgeCases, VoxelsOnOneCellDrawOneOfThem) {
  const picture p = draw({voxel(2, 2, 2, red), voxel(2, 2, 2, blue), voxel(2, 2, 2, red)});
  for (int panel = 0; panel < 4; ++panel) {
    const rgb_colour c = middle_of(p, static_cast<preview_panel>(panel), 2, 2, 2);
    EXPECT_TRUE(c == red || c == blue) << panel;
  }
}

TEST(PreviewEdgeCases, TitleOfAnyBytesIsWritten) {
  const picture p = draw({voxel(0, 0, 0, red)}, nullptr, "caf\xc3\xa9 \x01\x7f\xff ~ done");
  int dark = 0;
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 400; ++x) dark += pixel_at(p.image, x, y).r < 60;
  }
  EXPECT_GT(dark, 100);
}

// A character of UTF-8 is one "?", however many bytes it takes; a byte that
// is not part of a well-formed character is one "?" of its own.
TEST(PreviewText, EachCharacterOutsideAsciiIsOneQuestionMark) {
  const struct {
    const char* text;
    const char* shown;
  } cases[] = {
      {"caf\xc3\xa9", "caf?"},
      {"\xd0\x9c\xd0\xbe\xd0\xb4\xd0\xb5\xd0\xbb\xd0\xb8", "??????"},  // Cyrillic, 2 bytes each
      {"\xe2\x82\xac"
       "5",
       "?5"},  // 3 bytes
      {"a\xf0\x9f\x99\x82"
       "b",
       "a?b"},                                 // 4 bytes
      {"\xf4\x8f\xbf\xbf", "?"},               // the last character
      {"\x01\x7f\t", "???"},                   // ASCII controls
      {"\x80\xbf x", "?? x"},                  // continuations alone
      {"\xe2\x82 x", "?? x"},                  // cut short by a blank
      {"end\xf0\x9f\x99", "end???"},           // cut short by the end
      {"\xc0\xaf\xe0\x80\xaf", "?????"},       // overlong forms
      {"\xed\xa0\x80", "???"},                 // a surrogate
      {"\xf4\x90\x80\x80\xf5\xff", "??????"},  // past U+10FFFF
      {"\xc3\xc3\xa9", "??"},                  // a lead, then a character
  };
  for (const auto& c : cases) {
    EXPECT_EQ(text_width(c.text, 2), text_width(c.shown, 2)) << c.shown;
    rgba_image drawn = make_image(300, 30, blue);
    rgba_image expected = make_image(300, 30, blue);
    EXPECT_EQ(draw_text(drawn, 3, 3, c.text, red, 2), draw_text(expected, 3, 3, c.shown, red, 2));
    EXPECT_TRUE(drawn.pixels == expected.pixels) << c.shown;
  }
  EXPECT_TRUE(draw({voxel(0, 0, 0, red)}, nullptr, "\xd0\x9c\xd0\xbe\xd0\xb4 1").image.pixels ==
              draw({voxel(0, 0, 0, red)}, nullptr, "??? 1").image.pixels);
}

// The axes' names of every panel, whatever the model's shape, size and
// place: flat, long, thin, a single voxel, far from the origin on every
// side (where the origin lands near a corner of the frame, one bin from its
// end), and at the ends of 32-bit positions.
TEST(PreviewLabels, NeverMeetAndStayInTheirPanelsMargins) {
  constexpr int margin = 30;
  std::vector<std::vector<cell_voxel>> models = {
      {voxel(0, 0, 0, red)},
      {voxel(0, 0, 0, red), voxel(40, 0, 40, blue)},   // flat
      {voxel(0, 0, 0, red), voxel(399, 0, 0, blue)},   // long
      {voxel(0, 0, 0, red), voxel(0, 0, 2999, blue)},  // long, several cells a bin
      {voxel(0, 0, 0, red), voxel(0, 700, 0, blue)},   // tall
      {voxel(-1000000, 0, 0, red), voxel(-999990, 3, 2, blue)},
      {voxel(std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(),
             std::numeric_limits<std::int32_t>::min(), red)},
  };
  for (const std::int32_t far : {3, 9, 200, 5000, 123456789}) {
    for (int corner = 0; corner < 8; ++corner) {
      const std::int32_t x = corner & 1 ? far : -far;
      const std::int32_t y = corner & 2 ? far : -far;
      const std::int32_t z = corner & 4 ? far : -far;
      models.push_back({voxel(x, y, z, red)});
      models.push_back({voxel(x, y, z, red), voxel(x / 3, y, z / 3, blue)});
    }
  }
  for (const std::vector<cell_voxel>& model : models) {
    const picture p = draw(model);
    const std::string where = "model from " + std::to_string(model.front().x) + "," +
                              std::to_string(model.front().y) + "," +
                              std::to_string(model.front().z);
    std::vector<std::pair<int, pixel_rect>> labels;  // panel, place
    for (int panel = 0; panel < 4; ++panel) {
      const pixel_rect& area = p.layout.panels[panel];
      const pixel_rect padded{area.x - margin, area.y - margin, area.width + 2 * margin,
                              area.height + 2 * margin};
      for (int axis = 0; axis < 3; ++axis) {
        const pixel_rect& label = p.layout.labels[panel][axis];
        if (label.width == 0) continue;
        labels.emplace_back(panel, label);
        EXPECT_TRUE(inside(padded, label)) << where << " panel " << panel << " axis " << axis;
        // The name is drawn there, in its axis's colour.
        int coloured = 0;
        for (int y = label.y; y < label.y + label.height; ++y) {
          for (int x = label.x; x < label.x + label.width; ++x) {
            const rgb_colour c = pixel_at(p.image, x, y);
            coloured += c == rgb_colour{205, 30, 30} || c == rgb_colour{20, 140, 40} ||
                        c == rgb_colour{30, 70, 215};
          }
        }
        EXPECT_GE(coloured, 40) << where << " panel " << panel << " axis " << axis;
      }
    }
    ASSERT_EQ(labels.size(), 9u) << where;
    for (std::size_t i = 0; i < labels.size(); ++i) {
      for (std::size_t j = i + 1; j < labels.size(); ++j) {
        const pixel_rect& a = labels[i].second;
        const pixel_rect& b = labels[j].second;
        const bool apart = a.x + a.width <= b.x || b.x + b.width <= a.x || a.y + a.height <= b.y ||
                           b.y + b.height <= a.y;
        EXPECT_TRUE(apart) << where << " panels " << labels[i].first << " and " << labels[j].first
                           << " at " << a.x << "," << a.y << " and " << b.x << "," << b.y;
      }
    }
  }
}

// A model's sketch, its voxels added a few at a time.
preview_sketch sketch_of(const std::vector<cell_voxel>& voxels, const std::int32_t (&low)[3],
                         const std::int32_t (&high)[3]) {
  preview_sketch sketch(low, high);
  for (std::size_t at = 0; at < voxels.size(); at += 7) {
    sketch.add(voxels.data() + at, std::min<std::size_t>(7, voxels.size() - at));
  }
  return sketch;
}

TEST(PreviewSketch, DrawsWhatTheWholeModelDraws) {
  // Voxels in part of a larger box, some on one cell in several colours, in
  // boxes on both sides of the origin and away from it.
  std::mt19937 random(41);
  const std::int32_t corners[][3] = {{0, 0, 0}, {-40, 5, -3}, {100, -150, 20}, {-7, -7, -7}};
  for (const auto& corner : corners) {
    for (int n = 0; n < 6; ++n) {
      const std::int32_t low[3] = {corner[0], corner[1], corner[2]};
      const std::int32_t high[3] = {corner[0] + 30, corner[1] + 12, corner[2] + 25};
      ASSERT_TRUE(preview_sketch::fits(low, high));
      std::vector<cell_voxel> model;
      const int count = n == 0 ? 0 : static_cast<int>(random() % 600);
      for (int i = 0; i < count; ++i) {
        const cell_voxel v{
            low[0] + 3 + static_cast<std::int32_t>(random() % 20),
            low[1] + static_cast<std::int32_t>(random() % 13),
            low[2] + 2 + static_cast<std::int32_t>(random() % static_cast<unsigned>(n + 3)),
            static_cast<std::uint8_t>(random()),
            static_cast<std::uint8_t>(random()),
            static_cast<std::uint8_t>(random() % 4)};
        model.push_back(v);
      }
      if (n % 2 == 1) {
        // Reaching the box's ends, the model is drawn in the sketch's own
        // frame.
        model.push_back(voxel(low[0], low[1], low[2], red));
        model.push_back(voxel(high[0], high[1], high[2], blue));
      }
      if (n % 3 != 0) {
        // In rows, as an export gives them: y down, z up, and x up, or down
        // when mirrored; the sketch takes a row at a time.
        const bool mirrored = n % 3 == 1;
        std::stable_sort(model.begin(), model.end(), [&](const cell_voxel& a, const cell_voxel& b) {
          if (a.y != b.y) return a.y > b.y;
          if (a.z != b.z) return a.z < b.z;
          return mirrored ? a.x > b.x : a.x < b.x;
        });
      }
      const preview_sketch sketch = sketch_of(model, low, high);
      EXPECT_FALSE(sketch.spoilt());
      EXPECT_EQ(sketch.added(), model.size());
      preview_request whole{&model, nullptr, "t"};
      preview_request sketched{nullptr, nullptr, "t", &sketch};
      const preview_layout a = layout_preview(whole);
      const preview_layout b = layout_preview(sketched);
      EXPECT_EQ(a.width, b.width);
      EXPECT_EQ(a.height, b.height);
      EXPECT_EQ(b.cells_per_bin, 1);
      EXPECT_TRUE(render_preview(whole).pixels == render_preview(sketched).pixels)
          << "corner " << corner[0] << " model of " << model.size();
    }
  }
}

TEST(PreviewSketch, FitsWhatIsDrawnOneCellABinAndTakesNothingOutsideItsBox) {
  // The frame holds the origin and two cells around everything: 400 cells
  // wide at most for one cell a bin.
  const std::int32_t low[3] = {0, -10, 3};
  const std::int32_t fitting[3] = {395, 10, 3};
  const std::int32_t too_wide[3] = {396, 10, 3};
  EXPECT_TRUE(preview_sketch::fits(low, fitting));
  EXPECT_FALSE(preview_sketch::fits(low, too_wide));
  const std::int32_t far_low[3] = {1000, 0, 0};
  const std::int32_t far_high[3] = {1010, 0, 0};
  EXPECT_FALSE(preview_sketch::fits(far_low, far_high));  // 1,015 cells with the origin
  EXPECT_FALSE(preview_sketch::fits(fitting, low));       // no cell at all
  for (const auto* high : {&fitting, &too_wide}) {
    const std::vector<cell_voxel> ends = {voxel(0, -10, 3, red), voxel((*high)[0], 10, 3, blue)};
    EXPECT_EQ(draw(ends).layout.cells_per_bin, high == &fitting ? 1 : 2);
  }

  preview_sketch sketch(low, fitting);
  const std::vector<cell_voxel> inside = {voxel(0, 0, 3, red), voxel(395, 10, 3, blue)};
  sketch.add(inside.data(), inside.size());
  EXPECT_FALSE(sketch.spoilt());
  const std::vector<cell_voxel> outside = {voxel(5, 5, 3, red), voxel(5, 5, 4, red)};
  sketch.add(outside.data(), outside.size());
  EXPECT_TRUE(sketch.spoilt());
  sketch.add(inside.data(), inside.size());
  EXPECT_EQ(sketch.added(), 2u);
}

std::vector<unsigned char> inflate(const std::string& stream) {
  int size = 0;
  char* bytes = stbi_zlib_decode_malloc_guesssize_headerflag(
      stream.data(), static_cast<int>(stream.size()), 1024, &size, 1);
  std::vector<unsigned char> result;
  if (bytes == nullptr) return result;
  result.assign(bytes, bytes + size);
  std::free(bytes);
  return result;
}

TEST(FastZlib, InflatesBackToItsInput) {
  std::vector<std::vector<unsigned char>> inputs;
  inputs.emplace_back();
  inputs.emplace_back(1, 7);
  inputs.emplace_back(100000, 0);           // runs longer than one match
  inputs.emplace_back(5552 * 3 + 7, 0xFF);  // the largest sums of the check
  std::vector<unsigned char> noise(70000);
  std::uint32_t state = 12345;
  for (unsigned char& b : noise) {
    state = state * 1103515245u + 12345u;
    b = static_cast<unsigned char>(state >> 24);
  }
  inputs.push_back(noise);
  // Pixels that repeat along a row and rows that repeat a row above, with
  // changes that cut runs at every length near the match limits.
  std::vector<unsigned char> rows;
  for (int row = 0; row < 64; ++row) {
    for (int i = 0; i < 1201; ++i) {
      rows.push_back(static_cast<unsigned char>(row % 3 == 0 ? (i * 7 / (row + 3)) & 0xFF
                                                             : (i % 4) * 50 + row / 3));
    }
  }
  inputs.push_back(rows);
  // Long enough to be compressed in two halves with two threads: rows that
  // repeat and change, so that matches run up to the split and reach back
  // across it.
  std::vector<unsigned char> halves(rows);
  while (halves.size() < (std::size_t{1} << 20) + 5000) {
    halves.insert(halves.end(), rows.begin(), rows.begin() + 1201 * 5);
    halves.insert(halves.end(), noise.begin(), noise.begin() + 1201);
  }
  inputs.push_back(halves);
  for (const auto& input : inputs) {
    for (const auto& [far, threads] :
         {std::pair<std::size_t, int>{4, 1}, {1201, 1}, {32768, 1}, {1201, 2}, {4, 2}}) {
      const std::string stream = fast_zlib(input.data(), input.size(), 4, far, threads);
      EXPECT_EQ(inflate(stream), input) << input.size() << " far " << far << " threads " << threads;
      // The check at the end, which the reader here does not look at, by
      // its definition: two sums modulo 65521, the second of the first.
      std::uint32_t a = 1;
      std::uint32_t b = 0;
      for (unsigned char byte : input) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
      }
      std::uint32_t check = 0;
      for (std::size_t i = stream.size() - 4; i < stream.size(); ++i) {
        check = check << 8 | static_cast<unsigned char>(stream[i]);
      }
      EXPECT_EQ(check, b << 16 | a) << input.size();
    }
  }
}

// Every chunk's CRC-32 by its definition, one bit at a time; the reader
// below does not look at them.
void expect_chunk_checks(const picture_bytes& png) {
  const auto word = [&png](std::size_t at) {
    return std::uint32_t{png[at]} << 24 | std::uint32_t{png[at + 1]} << 16 |
           std::uint32_t{png[at + 2]} << 8 | png[at + 3];
  };
  std::size_t at = 8;
  int chunks = 0;
  while (at + 12 <= png.size()) {
    const std::size_t length = word(at);
    ASSERT_LE(at + 12 + length, png.size());
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = at + 4; i < at + 8 + length; ++i) {
      crc ^= png[i];
      for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) != 0 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    EXPECT_EQ(word(at + 8 + length), ~crc) << "chunk " << chunks;
    at += 12 + length;
    ++chunks;
  }
  EXPECT_EQ(at, png.size());
  EXPECT_GE(chunks, 3);
}

void expect_png_reads_back(const rgba_image& image, int threads = 1) {
  const picture_bytes png = encode_png(image, threads);
  ASSERT_FALSE(png.empty());
  expect_chunk_checks(png);
  int width = 0;
  int height = 0;
  int channels = 0;
  unsigned char* pixels =
      stbi_load_from_memory(reinterpret_cast<const unsigned char*>(png.data()),
                            static_cast<int>(png.size()), &width, &height, &channels, 4);
  ASSERT_NE(pixels, nullptr);
  EXPECT_EQ(width, image.width);
  EXPECT_EQ(height, image.height);
  EXPECT_EQ(channels, 4);
  const picture_bytes decoded(pixels, pixels + image.pixels.size());
  stbi_image_free(pixels);
  EXPECT_TRUE(decoded == image.pixels);
}

TEST(EncodePng, ReadsBackToThePicture) {
  const std::vector<cell_voxel> compare = {voxel(1, 1, 1, blue)};
  expect_png_reads_back(draw({voxel(0, 0, 0, red), voxel(4, 1, -2, green)}, &compare).image);
  // One pixel; and rows too long for a match with the row above.
  expect_png_reads_back(make_image(1, 1, red));
  rgba_image wide = make_image(9000, 3, green);
  fill_rect(wide, 100, 1, 5000, 1, blue, 100);
  expect_png_reads_back(wide);
  EXPECT_TRUE(encode_png(rgba_image{}).empty());
}

// The rows are filtered in the picture's own memory when it has room for
// one byte a row more, and in memory of their own when not; a large picture
// may be compressed on two threads. The file is the same every way.
TEST(EncodePng, SameFileWhereverTheRowsAreFiltered) {
  rgba_image image = make_image(700, 500, green);
  std::uint32_t state = 99;
  for (int y = 0; y < image.height; y += 3) {
    for (int x = 0; x < image.width; x += 1 + y % 7) {
      state = state * 1103515245u + 12345u;
      fill_rect(image, x, y, 1 + x % 3, 1 + y % 4,
                rgb_colour{static_cast<std::uint8_t>(state >> 24),
                           static_cast<std::uint8_t>(state >> 16), 40});
    }
  }
  const rgba_image kept = image;  // a copy has no room to spare
  ASSERT_GE(image.pixels.capacity(), image.pixels.size() + 500);
  const auto with_room = [&kept] {
    rgba_image copy = make_image(kept.width, kept.height, green);
    std::copy(kept.pixels.begin(), kept.pixels.end(), copy.pixels.begin());
    return copy;
  };
  EXPECT_TRUE(encode_png(std::move(image)) == encode_png(kept));
  const picture_bytes halves = encode_png(kept, 2);
  EXPECT_TRUE(encode_png(with_room(), 2) == halves);
  EXPECT_TRUE(encode_png(with_room(), 1) == halves);
  expect_png_reads_back(kept);
  // Decoded by a reader of its own, the two-thread file is the picture.
  expect_png_reads_back(kept, 2);
}

}  // namespace
}  // namespace cubewright
