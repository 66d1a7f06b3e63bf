#include "preview/preview.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "preview/raster.h"

namespace cubewright {
namespace {

constexpr int fit_width = 1600;
constexpr int fit_height = 1200;
constexpr int max_pixels_per_bin = 32;
constexpr std::int64_t max_bins = 400;
constexpr std::int64_t frame_margin = 2;   // cells around everything shown
constexpr int panel_pad = 30;              // pixels around a drawing area, for axis labels
constexpr int axis_reach = panel_pad / 3;  // pixels an axis runs past its drawing area
constexpr int gap = 16;                    // pixels between panels and at the edges
constexpr int text_scale = 2;
constexpr int grid_period = 8;

constexpr rgb_colour background{206, 211, 218};
// A cool middle tone: white, black and grey voxels all stand out from it.
constexpr rgb_colour panel_background{158, 172, 192};
constexpr rgb_colour grid_colour{144, 158, 178};
constexpr rgb_colour text_colour{24, 26, 30};
constexpr rgb_colour axis_colours[3] = {{205, 30, 30}, {20, 140, 40}, {30, 70, 215}};
constexpr const char* axis_names[3] = {"x", "y", "z"};
constexpr int ghost_fill_alpha = 96;

// The cells a model covers, inclusive; `empty` when it has no voxel.
struct cell_bounds {
  bool empty = true;
  std::int64_t low[3] = {0, 0, 0};
  std::int64_t high[3] = {0, 0, 0};
};

// The lowest and highest cells of `count` voxels along each axis; at least
// one voxel. The loop has no branch.
void box_of(const cell_voxel* voxels, std::size_t count, std::int32_t (&low)[3],
            std::int32_t (&high)[3]) {
  low[0] = high[0] = voxels[0].x;
  low[1] = high[1] = voxels[0].y;
  low[2] = high[2] = voxels[0].z;
  for (std::size_t i = 1; i < count; ++i) {
    const cell_voxel& v = voxels[i];
    low[0] = std::min(low[0], v.x);
    low[1] = std::min(low[1], v.y);
    low[2] = std::min(low[2], v.z);
    high[0] = std::max(high[0], v.x);
    high[1] = std::max(high[1], v.y);
    high[2] = std::max(high[2], v.z);
  }
}

cell_bounds bounds_of(const std::vector<cell_voxel>* voxels) {
  cell_bounds bounds;
  if (voxels == nullptr || voxels->empty()) return bounds;
  std::int32_t low[3];
  std::int32_t high[3];
  box_of(voxels->data(), voxels->size(), low, high);
  bounds.empty = false;
  for (int a = 0; a < 3; ++a) {
    bounds.low[a] = low[a];
    bounds.high[a] = high[a];
  }
  return bounds;
}

std::string bounds_text(std::string_view label, const cell_bounds& bounds) {
  std::string text(label);
  if (bounds.empty) return text + " empty";
  for (int a = 0; a < 3; ++a) {
    text += "  ";
    text += axis_names[a];
    text += ' ';
    text += std::to_string(bounds.low[a]);
    text += "..";
    text += std::to_string(bounds.high[a]);
  }
  return text;
}

// How a flat panel looks at the frame: the axis across the picture, the axis
// down it, and the axis toward the viewer, whose largest cell is nearest.
// Flipped axes grow leftward or upward.
struct flat_view {
  int across;
  bool across_flipped;
  int down;
  bool down_flipped;
  int depth;
};

constexpr flat_view flat_views[3] = {
    {0, false, 1, true, 2},   // front, from +z: x right, y up
    {2, true, 1, true, 0},    // side, from +x: z left, y up
    {0, false, 2, false, 1},  // top, from +y: x right, z down
};

constexpr const char* panel_titles[4] = {
    "FRONT  from +z: x right, y up",
    "SIDE  from +x: z left, y up",
    "TOP  from +y: x right, z down",
    "THREE-QUARTER  from +x +y +z",
};

std::vector<std::string> caption_lines(preview_panel panel, const cell_bounds& model,
                                       const cell_bounds& compare, bool has_compare) {
  std::vector<std::string> lines{panel_titles[static_cast<int>(panel)],
                                 bounds_text("model  ", model)};
  if (has_compare) lines.push_back(bounds_text("compare", compare));
  return lines;
}

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return q * b > a ? q - 1 : q;
}

int int_of(std::int64_t value) { return static_cast<int>(value); }

// Position of bin `bin` along a panel axis in pixels from the drawing area's
// edge: its first pixel, counted from the far end when the axis is flipped.
int bin_pixel(const preview_layout& layout, int axis, bool flipped, std::int64_t bin) {
  const std::int64_t slot = flipped ? layout.bins[axis] - 1 - bin : bin;
  return int_of(slot) * layout.pixels_per_bin;
}

// The pixel on which the low edge of `bin` lies, from the drawing area's edge.
int edge_pixel(const preview_layout& layout, int axis, bool flipped, std::int64_t bin) {
  if (!flipped) return int_of(bin) * layout.pixels_per_bin;
  return int_of(layout.bins[axis] - bin) * layout.pixels_per_bin - 1;
}

std::int64_t bin_of(const preview_layout& layout, int axis, std::int64_t cell) {
  return floor_div(cell - layout.frame_low[axis], layout.cells_per_bin);
}

struct iso_point {
  int u;
  int v;
};

// Projection of a point in bin units onto the three-quarter drawing area.
iso_point project(const preview_layout& layout, std::int64_t x, std::int64_t y, std::int64_t z) {
  const std::int64_t h = layout.iso_half;
  return iso_point{int_of((x - z) * 2 * h + layout.bins[2] * 2 * h),
                   int_of((x + z) * h - y * 2 * h + layout.bins[1] * 2 * h)};
}

std::string label_text(int axis) { return std::string("+") + axis_names[axis]; }

bool overlap(const pixel_rect& a, const pixel_rect& b) {
  return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

// The axes' names go beyond each axis's + end, beside its line. Near a
// corner of a small drawing area, or with the origin near the frame's end
// (large coordinates put several cells in a bin and leave it one bin from
// the end), two would meet; then one moves clear of the other.
void place_labels(preview_layout& layout) {
  const int line_width = text_width("+x", text_scale);
  const int raised = 8 * text_scale;  // a glyph's height above its descender
  const auto box = [](int axis, int x, int y) {
    return pixel_rect{x, y, text_width(label_text(axis), text_scale), 10 * text_scale};
  };
  for (int p = 0; p < 3; ++p) {
    const pixel_rect& area = layout.panels[p];
    const flat_view& view = flat_views[p];
    const pixel_rect o = origin_pixel(layout, static_cast<preview_panel>(p));
    const pixel_rect down =
        box(view.down, o.x + 5,
            view.down_flipped ? area.y - axis_reach : area.y + area.height + axis_reach - raised);
    pixel_rect across = box(
        view.across,
        view.across_flipped ? area.x - axis_reach : area.x + area.width + axis_reach - line_width,
        o.y - raised - 4);
    if (overlap(across, down)) {
      // Past the other name, to the side of the axis line away from it.
      across.y = view.down_flipped ? std::max(o.y + 4, down.y + down.height + 2)
                                   : std::min(o.y - raised - 4, down.y - across.height - 2);
    }
    layout.labels[p][view.across] = across;
    layout.labels[p][view.down] = down;
    layout.labels[p][view.depth] = pixel_rect{};
  }

  // Right of the +x end, above the +y end, left of the +z end.
  const std::int64_t origin[3] = {bin_of(layout, 0, 0), bin_of(layout, 1, 0), bin_of(layout, 2, 0)};
  const pixel_rect& area = layout.panels[3];
  pixel_rect* names = layout.labels[3];
  for (int a = 0; a < 3; ++a) {
    std::int64_t end[3] = {origin[0], origin[1], origin[2]};
    end[a] = layout.bins[a];
    const iso_point q = project(layout, end[0], end[1], end[2]);
    const int x = a == 0 ? q.u + 4 : a == 1 ? q.u - line_width / 2 : q.u - line_width - 4;
    const int y = a == 1 ? q.v - raised - 4 : q.v - raised / 2;
    names[a] = box(a, area.x + x, area.y + y);
  }
  // +x and +z lie apart, on either side of the origin's column; +y, above
  // that column, rises clear of whichever it would meet.
  for (int a : {0, 2}) {
    if (overlap(names[1], names[a])) names[1].y = names[a].y - names[1].height - 2;
  }
}

}  // namespace

namespace {

preview_layout layout_for(const preview_request& request, const cell_bounds& model,
                          const cell_bounds& compare) {
  const bool has_compare = request.compare != nullptr;
  preview_layout layout;

  std::int64_t low[3] = {0, 0, 0};
  std::int64_t high[3] = {0, 0, 0};
  for (const cell_bounds* b : {&model, &compare}) {
    if (b->empty) continue;
    for (int a = 0; a < 3; ++a) {
      low[a] = std::min(low[a], b->low[a]);
      high[a] = std::max(high[a], b->high[a]);
    }
  }
  std::int64_t widest = 0;
  for (int a = 0; a < 3; ++a) {
    low[a] -= frame_margin;
    high[a] += frame_margin;
    widest = std::max(widest, high[a] - low[a] + 1);
  }
  layout.cells_per_bin = (widest + max_bins - 1) / max_bins;
  for (int a = 0; a < 3; ++a) {
    // Bins start on a multiple of their width, so the origin is a bin edge.
    layout.frame_low[a] = floor_div(low[a], layout.cells_per_bin) * layout.cells_per_bin;
    layout.bins[a] = (high[a] - layout.frame_low[a]) / layout.cells_per_bin + 1;
  }

  const int line = text_line_height(text_scale);
  int caption_width[4] = {0, 0, 0, 0};
  int caption_height = 0;
  for (int p = 0; p < 4; ++p) {
    const std::vector<std::string> lines =
        caption_lines(static_cast<preview_panel>(p), model, compare, has_compare);
    for (const std::string& text : lines)
      caption_width[p] = std::max(caption_width[p], text_width(text, text_scale) + gap);
    caption_height = static_cast<int>(lines.size()) * line + 4;
  }
  const int title_height = line + gap;
  const int nx = int_of(layout.bins[0]);
  const int ny = int_of(layout.bins[1]);
  const int nz = int_of(layout.bins[2]);

  int area_width[4] = {};
  int area_height[4] = {};
  int column[2] = {};
  int row[2] = {};
  for (int s = max_pixels_per_bin; s >= 1; --s) {
    const int h = std::max(1, s / 2);
    area_width[0] = nx * s;
    area_height[0] = ny * s;
    area_width[1] = nz * s;
    area_height[1] = ny * s;
    area_width[2] = nx * s;
    area_height[2] = nz * s;
    area_width[3] = (nx + nz) * 2 * h;
    area_height[3] = (nx + nz) * h + ny * 2 * h;
    for (int c = 0; c < 2; ++c) {
      column[c] = std::max({area_width[c] + 2 * panel_pad, area_width[c + 2] + 2 * panel_pad,
                            caption_width[c], caption_width[c + 2]});
    }
    row[0] = std::max(area_height[0], area_height[1]) + 2 * panel_pad;
    row[1] = std::max(area_height[2], area_height[3]) + 2 * panel_pad;
    layout.pixels_per_bin = s;
    layout.iso_half = h;
    layout.width = gap + column[0] + gap + column[1] + gap;
    layout.height = gap + title_height + 2 * (caption_height + gap) + row[0] + row[1];
    if (layout.width <= fit_width && layout.height <= fit_height) break;
  }
  const int title_width = text_width(request.title, text_scale) + 2 * gap;
  layout.width = std::max(layout.width, std::min(title_width, fit_width));

  for (int p = 0; p < 4; ++p) {
    const int c = p % 2;
    const int r = p / 2;
    const int left = gap + (c == 0 ? 0 : column[0] + gap);
    const int top =
        gap + title_height + caption_height + (r == 0 ? 0 : row[0] + gap + caption_height);
    layout.captions[p] = pixel_rect{left, top - caption_height, column[c], caption_height};
    layout.panels[p] = pixel_rect{left + panel_pad, top + panel_pad, area_width[p], area_height[p]};
  }
  place_labels(layout);
  return layout;
}

}  // namespace

pixel_rect origin_pixel(const preview_layout& layout, preview_panel panel) {
  const pixel_rect& area = layout.panels[static_cast<int>(panel)];
  if (panel == preview_panel::three_quarter) {
    const iso_point o =
        project(layout, bin_of(layout, 0, 0), bin_of(layout, 1, 0), bin_of(layout, 2, 0));
    return pixel_rect{area.x + o.u, area.y + o.v, 1, 1};
  }
  const flat_view& view = flat_views[static_cast<int>(panel)];
  return pixel_rect{
      area.x + edge_pixel(layout, view.across, view.across_flipped, bin_of(layout, view.across, 0)),
      area.y + edge_pixel(layout, view.down, view.down_flipped, bin_of(layout, view.down, 0)), 1,
      1};
}

pixel_rect cell_pixels(const preview_layout& layout, preview_panel panel, std::int32_t x,
                       std::int32_t y, std::int32_t z) {
  const std::int64_t bin[3] = {bin_of(layout, 0, x), bin_of(layout, 1, y), bin_of(layout, 2, z)};
  const pixel_rect& area = layout.panels[static_cast<int>(panel)];
  if (panel == preview_panel::three_quarter) {
    // The top face's middle is the projection of the cell's top middle.
    const iso_point p = project(layout, bin[0], bin[1] + 1, bin[2]);
    return pixel_rect{area.x + p.u, area.y + p.v + layout.iso_half, 1, 1};
  }
  const flat_view& view = flat_views[static_cast<int>(panel)];
  const int s = layout.pixels_per_bin;
  return pixel_rect{area.x + bin_pixel(layout, view.across, view.across_flipped, bin[view.across]),
                    area.y + bin_pixel(layout, view.down, view.down_flipped, bin[view.down]), s, s};
}

namespace {

// The nearest voxel of each bin of a flat panel, or of each spot of the
// three-quarter panel's lattice. An entry packs the depth key (larger is
// nearer) above the colour, so keeping the nearest voxel is keeping the
// largest entry; 0 is no voxel. Of voxels on one cell the largest colour wins.
struct depth_buffer {
  int columns = 0;
  int rows = 0;
  std::vector<std::uint64_t, large_page_allocator<std::uint64_t>> entries;

  void reset(int width, int height) {
    columns = width;
    rows = height;
    entries.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
  }
  std::size_t index(int column, int row) const {
    return static_cast<std::size_t>(row) * static_cast<std::size_t>(columns) +
           static_cast<std::size_t>(column);
  }
  bool has(int column, int row) const {
    return column >= 0 && row >= 0 && column < columns && row < rows &&
           entries[index(column, row)] != 0;
  }
  void offer(std::size_t at, std::int32_t key, rgb_colour c) {
    keep_nearer(entries[at], key_part(key) | colour_part(c.r, c.g, c.b));
  }
  // The two parts of an entry, and keeping the nearer of two entries.
  static std::uint64_t key_part(std::int64_t key) {
    return (static_cast<std::uint64_t>(key) + 1) << 24;
  }
  static std::uint64_t colour_part(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return std::uint64_t{r} << 16 | std::uint64_t{g} << 8 | b;
  }
  static void keep_nearer(std::uint64_t& entry, std::uint64_t offered) {
    entry = std::max(entry, offered);
  }
  static std::int32_t key_of(std::uint64_t entry) {
    return static_cast<std::int32_t>((entry >> 24) - 1);
  }
  static rgb_colour colour_of(std::uint64_t entry) {
    return rgb_colour{static_cast<std::uint8_t>(entry >> 16), static_cast<std::uint8_t>(entry >> 8),
                      static_cast<std::uint8_t>(entry)};
  }
};

// Everything the panels show of one model.
struct model_views {
  std::array<depth_buffer, 3> flat;
  // The three-quarter view looks along (1, 1, 1), so the voxels of a line in
  // that direction share one sprite place. Lines are indexed by column
  // bx - by and row bz - by (each shifted to start at 0), which keeps the
  // voxels of an x row next to each other; the key is by, nearer when larger.
  depth_buffer lattice;
  std::int32_t low[3] = {0, 0, 0};  // bins the model covers, for the depth shading
  std::int32_t high[3] = {0, 0, 0};

  // Empty views of a frame `bins` wide.
  void reset(const std::int64_t (&bins)[3]) {
    const int nx = int_of(bins[0]);
    const int ny = int_of(bins[1]);
    const int nz = int_of(bins[2]);
    flat[0].reset(nx, ny);
    flat[1].reset(nz, ny);
    flat[2].reset(nx, nz);
    lattice.reset(nx + ny - 1, nz + ny - 1);
    for (int a = 0; a < 3; ++a) {
      low[a] = int_of(bins[a]);
      high[a] = -1;
    }
  }
};

// Offers each voxel to every view. The voxels must lie in the layout's frame.
template <bool whole_cells>
void sort_into_views(const cell_voxel* voxels, std::size_t count, const preview_layout& layout,
                     model_views& views) {
  const int nx = int_of(layout.bins[0]);
  const int ny = int_of(layout.bins[1]);
  const int nz = int_of(layout.bins[2]);
  const std::int64_t per_bin = layout.cells_per_bin;
  const auto bin = [&](std::int32_t cell, int axis) {
    const std::int64_t offset = std::int64_t{cell} - layout.frame_low[axis];
    return static_cast<std::int32_t>(whole_cells ? offset : offset / per_bin);
  };
  const int lattice_columns = nx + ny - 1;
  std::int32_t low[3] = {views.low[0], views.low[1], views.low[2]};
  std::int32_t high[3] = {views.high[0], views.high[1], views.high[2]};
  for (const cell_voxel* end = voxels + count; voxels != end; ++voxels) {
    const cell_voxel& v = *voxels;
    const std::int32_t bx = bin(v.x, 0);
    const std::int32_t by = bin(v.y, 1);
    const std::int32_t bz = bin(v.z, 2);
    const rgb_colour c{v.r, v.g, v.b};
    const auto up = static_cast<std::size_t>(ny - 1 - by);
    views.flat[0].offer(up * static_cast<std::size_t>(nx) + static_cast<std::size_t>(bx), bz, c);
    views.flat[1].offer(up * static_cast<std::size_t>(nz) + static_cast<std::size_t>(nz - 1 - bz),
                        bx, c);
    views.flat[2].offer(
        static_cast<std::size_t>(bz) * static_cast<std::size_t>(nx) + static_cast<std::size_t>(bx),
        by, c);
    const auto column = static_cast<std::size_t>(bx - by + ny - 1);
    const auto row = static_cast<std::size_t>(bz - by + ny - 1);
    views.lattice.offer(row * static_cast<std::size_t>(lattice_columns) + column, by, c);
    low[0] = std::min(low[0], bx);
    low[1] = std::min(low[1], by);
    low[2] = std::min(low[2], bz);
    high[0] = std::max(high[0], bx);
    high[1] = std::max(high[1], by);
    high[2] = std::max(high[2], bz);
  }
  for (int a = 0; a < 3; ++a) {
    views.low[a] = low[a];
    views.high[a] = high[a];
  }
}

model_views views_of(const std::vector<cell_voxel>* voxels, const preview_layout& layout) {
  model_views views;
  views.reset(layout.bins);
  if (voxels == nullptr) return views;
  if (layout.cells_per_bin == 1) {
    sort_into_views<true>(voxels->data(), voxels->size(), layout, views);
  } else {
    sort_into_views<false>(voxels->data(), voxels->size(), layout, views);
  }
  return views;
}

rgb_colour scaled(rgb_colour c, int factor) {
  return rgb_colour{static_cast<std::uint8_t>(c.r * factor >> 8),
                    static_cast<std::uint8_t>(c.g * factor >> 8),
                    static_cast<std::uint8_t>(c.b * factor >> 8)};
}

bool on_grid(const preview_layout& layout, int axis, std::int64_t bin) {
  const std::int64_t first = layout.frame_low[axis] / layout.cells_per_bin;
  return (first + bin) % grid_period == 0;
}

void draw_label(rgba_image& image, int x, int y, int axis) {
  draw_text(image, x, y, label_text(axis), axis_colours[axis], text_scale);
}

// A square ring around the origin, dark outside and light inside, so it shows
// on any voxel colour while the cells around it stay visible.
void draw_origin_mark(rgba_image& image, int x, int y) {
  for (int r = 4; r >= 3; --r) {
    const rgb_colour c = r == 4 ? rgb_colour{0, 0, 0} : rgb_colour{255, 255, 255};
    draw_line(image, x - r, y - r, x + r, y - r, c);
    draw_line(image, x - r, y + r, x + r, y + r, c);
    draw_line(image, x - r, y - r, x - r, y + r, c);
    draw_line(image, x + r, y - r, x + r, y + r, c);
  }
}

void paint_flat_panel(rgba_image& image, const preview_layout& layout, int panel,
                      const model_views& model, const model_views* compare) {
  const pixel_rect& area = layout.panels[panel];
  const flat_view& view = flat_views[panel];
  const int s = layout.pixels_per_bin;
  const int columns = int_of(layout.bins[view.across]);
  const int rows = int_of(layout.bins[view.down]);
  fill_rect(image, area.x - panel_pad, area.y - panel_pad, area.width + 2 * panel_pad,
            area.height + 2 * panel_pad, panel_background);

  for (std::int64_t b = 0; b < columns; ++b) {
    if (!on_grid(layout, view.across, b)) continue;
    fill_rect(image, area.x + edge_pixel(layout, view.across, view.across_flipped, b), area.y, 1,
              area.height, grid_colour);
  }
  for (std::int64_t b = 0; b < rows; ++b) {
    if (!on_grid(layout, view.down, b)) continue;
    fill_rect(image, area.x, area.y + edge_pixel(layout, view.down, view.down_flipped, b),
              area.width, 1, grid_colour);
  }

  const depth_buffer& ours = model.flat[static_cast<std::size_t>(panel)];
  if (compare != nullptr) {
    const depth_buffer& theirs = compare->flat[static_cast<std::size_t>(panel)];
    for (int row = 0; row < rows; ++row) {
      for (int column = 0; column < columns; ++column) {
        if (theirs.has(column, row) && !ours.has(column, row))
          fill_rect(image, area.x + column * s, area.y + row * s, s, s, ghost_colour,
                    ghost_fill_alpha);
      }
    }
  }

  // Nearer voxels are drawn brighter: up to 30 % darker across the model's
  // depth, a shade for each depth the model has.
  const std::int32_t near = model.high[view.depth];
  const std::int32_t span = std::max(1, near - model.low[view.depth]);
  std::vector<int> shades(static_cast<std::size_t>(std::max(near - model.low[view.depth], 0)) + 1);
  for (std::size_t d = 0; d < shades.size(); ++d) {
    shades[d] = 256 - 77 * static_cast<int>(d) / span;
  }
  for (int row = 0; row < rows; ++row) {
    for (int column = 0; column < columns; ++column) {
      const std::uint64_t entry = ours.entries[ours.index(column, row)];
      if (entry == 0) continue;
      const int shade = shades[static_cast<std::size_t>(near - depth_buffer::key_of(entry))];
      fill_rect(image, area.x + column * s, area.y + row * s, s, s,
                scaled(depth_buffer::colour_of(entry), shade));
    }
  }

  if (compare != nullptr) {
    const depth_buffer& theirs = compare->flat[static_cast<std::size_t>(panel)];
    for (int row = 0; row < rows; ++row) {
      for (int column = 0; column < columns; ++column) {
        if (!theirs.has(column, row)) continue;
        const int x = area.x + column * s;
        const int y = area.y + row * s;
        if (!theirs.has(column - 1, row)) fill_rect(image, x, y, 1, s, ghost_colour);
        if (!theirs.has(column + 1, row)) fill_rect(image, x + s - 1, y, 1, s, ghost_colour);
        if (!theirs.has(column, row - 1)) fill_rect(image, x, y, s, 1, ghost_colour);
        if (!theirs.has(column, row + 1)) fill_rect(image, x, y + s - 1, s, 1, ghost_colour);
      }
    }
  }

  const pixel_rect origin = origin_pixel(layout, static_cast<preview_panel>(panel));
  const int origin_x = origin.x;
  const int origin_y = origin.y;
  fill_rect(image, area.x - axis_reach, origin_y, area.width + 2 * axis_reach, 1,
            axis_colours[view.across]);
  fill_rect(image, origin_x, area.y - axis_reach, 1, area.height + 2 * axis_reach,
            axis_colours[view.down]);
  draw_origin_mark(image, origin_x, origin_y);

  for (int axis : {view.across, view.down}) {
    draw_label(image, layout.labels[panel][axis].x, layout.labels[panel][axis].y, axis);
  }
}

// Which face of a cube each pixel of its sprite shows: 0 none, 1 the top,
// 2 the +z face (lower left), 3 the +x face (lower right). The sprite is
// 4h pixels square; its top face is a diamond 4h wide and 2h high.
std::vector<std::uint8_t> cube_sprite(int h) {
  const int size = 4 * h;
  std::vector<std::uint8_t> faces(static_cast<std::size_t>(size) * static_cast<std::size_t>(size));
  for (int j = 0; j < size; ++j) {
    for (int i = 0; i < size; ++i) {
      // Pixel centres in half pixels from the sprite's top middle.
      const int du = 2 * i + 1 - 4 * h;
      const int dv = 2 * j + 1;
      const int across = du < 0 ? -du : du;
      std::uint8_t face = 0;
      if (2 * dv >= across && 2 * (8 * h - dv) >= across) {
        const int from_top_middle = dv - 2 * h < 0 ? 2 * h - dv : dv - 2 * h;
        face = across + 2 * from_top_middle <= 4 * h ? 1 : du < 0 ? 2 : 3;
      }
      faces[static_cast<std::size_t>(j) * static_cast<std::size_t>(size) +
            static_cast<std::size_t>(i)] = face;
    }
  }
  return faces;
}

// Where the sprite of a lattice line goes in the three-quarter drawing area.
int sprite_left(const preview_layout& layout, int column, int row) {
  return (column - row + int_of(layout.bins[2]) - 1) * 2 * layout.iso_half;
}
int sprite_top(const preview_layout& layout, int column, int row) {
  return (column + row) * layout.iso_half;
}

// The three-quarter panel's grid, axes and origin mark: all under the
// model, since drawn over it they would cross cubes they pass behind.
void draw_three_quarter_frame(rgba_image& image, const preview_layout& layout) {
  const pixel_rect& area = layout.panels[3];
  // The grid lies on the plane y = 0, under the model.
  const std::int64_t origin[3] = {bin_of(layout, 0, 0), bin_of(layout, 1, 0), bin_of(layout, 2, 0)};
  const auto line = [&](iso_point a, iso_point b, rgb_colour c) {
    draw_line(image, area.x + a.u, area.y + a.v, area.x + b.u, area.y + b.v, c);
  };
  for (std::int64_t b = 0; b <= layout.bins[0]; ++b) {
    if (on_grid(layout, 0, b))
      line(project(layout, b, origin[1], 0), project(layout, b, origin[1], layout.bins[2]),
           grid_colour);
  }
  for (std::int64_t b = 0; b <= layout.bins[2]; ++b) {
    if (on_grid(layout, 2, b))
      line(project(layout, 0, origin[1], b), project(layout, layout.bins[0], origin[1], b),
           grid_colour);
  }

  // The axes and the origin mark go under the model: drawn over it they would
  // cross cubes they pass behind. The flat panels show where the model meets
  // them.
  const std::int64_t ends[3] = {layout.bins[0], layout.bins[1], layout.bins[2]};
  for (int a = 0; a < 3; ++a) {
    std::int64_t from[3] = {origin[0], origin[1], origin[2]};
    std::int64_t to[3] = {origin[0], origin[1], origin[2]};
    from[a] = 0;
    to[a] = ends[a];
    const iso_point p = project(layout, from[0], from[1], from[2]);
    const iso_point q = project(layout, to[0], to[1], to[2]);
    line(p, q, axis_colours[a]);
  }

  const pixel_rect o = origin_pixel(layout, preview_panel::three_quarter);
  draw_origin_mark(image, o.x, o.y);
}

// The compare model's outline over the three-quarter panel, and a faint fill
// where it shows no cube of the model (`covered_by_model`, by pixel of the
// area).
void draw_compare_ghost(rgba_image& image, const preview_layout& layout, const model_views& compare,
                        const std::vector<std::uint8_t>& sprite,
                        const picture_bytes& covered_by_model) {
  const pixel_rect& area = layout.panels[3];
  const int size = 4 * layout.iso_half;
  const std::size_t area_pixels =
      static_cast<std::size_t>(area.width) * static_cast<std::size_t>(area.height);
  picture_bytes covered(area_pixels, 0);
  const depth_buffer& theirs = compare.lattice;
  for (int row = 0; row < theirs.rows; ++row) {
    for (int column = 0; column < theirs.columns; ++column) {
      if (!theirs.has(column, row)) continue;
      for (int j = 0; j < size; ++j) {
        for (int i = 0; i < size; ++i) {
          if (sprite[static_cast<std::size_t>(j) * static_cast<std::size_t>(size) +
                     static_cast<std::size_t>(i)] == 0)
            continue;
          covered[static_cast<std::size_t>(sprite_top(layout, column, row) + j) *
                      static_cast<std::size_t>(area.width) +
                  static_cast<std::size_t>(sprite_left(layout, column, row) + i)] = 1;
        }
      }
    }
  }
  const auto inside = [&](int x, int y) {
    return x >= 0 && y >= 0 && x < area.width && y < area.height &&
           covered[static_cast<std::size_t>(y) * static_cast<std::size_t>(area.width) +
                   static_cast<std::size_t>(x)] != 0;
  };
  for (int y = 0; y < area.height; ++y) {
    for (int x = 0; x < area.width; ++x) {
      if (!inside(x, y)) continue;
      const bool edge =
          !inside(x - 1, y) || !inside(x + 1, y) || !inside(x, y - 1) || !inside(x, y + 1);
      const std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(area.width) +
                             static_cast<std::size_t>(x);
      if (edge) {
        fill_rect(image, area.x + x, area.y + y, 1, 1, ghost_colour);
      } else if (covered_by_model[at] == 0) {
        fill_rect(image, area.x + x, area.y + y, 1, 1, ghost_colour, ghost_fill_alpha);
      }
    }
  }
}

void paint_three_quarter_panel(rgba_image& image, const preview_layout& layout,
                               const model_views& model, const model_views* compare) {
  const pixel_rect& area = layout.panels[3];
  const int h = layout.iso_half;
  fill_rect(image, area.x - panel_pad, area.y - panel_pad, area.width + 2 * panel_pad,
            area.height + 2 * panel_pad, panel_background);

  draw_three_quarter_frame(image, layout);

  const std::vector<std::uint8_t> sprite = cube_sprite(h);
  const int size = 4 * h;
  const std::size_t area_pixels =
      static_cast<std::size_t>(area.width) * static_cast<std::size_t>(area.height);
  // The sprite's pixels that show a face: where each lies from the sprite's
  // top left pixel, in the picture and in the drawing area.
  const auto row_bytes = static_cast<std::size_t>(image.width) * 4;
  struct face_pixel {
    std::size_t picture_offset;
    std::size_t area_offset;
    std::uint8_t face;
  };
  std::vector<face_pixel> faces;
  for (int j = 0; j < size; ++j) {
    for (int i = 0; i < size; ++i) {
      const std::uint8_t face =
          sprite[static_cast<std::size_t>(j) * static_cast<std::size_t>(size) +
                 static_cast<std::size_t>(i)];
      if (face == 0) continue;
      faces.push_back({static_cast<std::size_t>(j) * row_bytes + static_cast<std::size_t>(i) * 4,
                       static_cast<std::size_t>(j) * static_cast<std::size_t>(area.width) +
                           static_cast<std::size_t>(i),
                       face});
    }
  }

  // The cubes go from the farthest to the nearest, so that a nearer one
  // covers what it hides: by their key (larger is nearer: bx + by + bz
  // less a constant), and those of one key in the lattice's order. Of
  // cubes that meet on a pixel, the last of the nearest shows.
  const depth_buffer& lattice = model.lattice;
  const auto key_at = [&lattice](int column, int row) {
    const std::int32_t key =
        column + row + 3 * depth_buffer::key_of(lattice.entries[lattice.index(column, row)]);
    return static_cast<std::size_t>(key);
  };
  std::vector<std::uint32_t> firsts(static_cast<std::size_t>(lattice.columns + lattice.rows) +
                                        3 * static_cast<std::size_t>(layout.bins[1]) + 1,
                                    0);
  for (int row = 0; row < lattice.rows; ++row) {
    for (int column = 0; column < lattice.columns; ++column) {
      if (lattice.has(column, row)) ++firsts[key_at(column, row) + 1];
    }
  }
  for (std::size_t key = 1; key < firsts.size(); ++key) firsts[key] += firsts[key - 1];
  struct spot {
    int column;
    int row;
  };
  std::vector<spot> order(firsts.back());
  for (int row = 0; row < lattice.rows; ++row) {
    for (int column = 0; column < lattice.columns; ++column) {
      if (lattice.has(column, row)) order[firsts[key_at(column, row)]++] = {column, row};
    }
  }
  // Only the compare model's ghost asks which pixels the model covers.
  picture_bytes covered_by_model(compare != nullptr ? area_pixels : 0, 0);
  for (const spot& at : order) {
    const rgb_colour c = depth_buffer::colour_of(lattice.entries[lattice.index(at.column, at.row)]);
    // Each face's pixel, opaque as every pixel of the picture is.
    const rgb_colour left_face = scaled(c, 170);
    const rgb_colour right_face = scaled(c, 212);
    const std::uint8_t shades[4][4] = {{},
                                       {c.r, c.g, c.b, 255},
                                       {left_face.r, left_face.g, left_face.b, 255},
                                       {right_face.r, right_face.g, right_face.b, 255}};
    const int left = sprite_left(layout, at.column, at.row);
    const int top = sprite_top(layout, at.column, at.row);
    std::uint8_t* const corner = &image.pixels[static_cast<std::size_t>(area.y + top) * row_bytes +
                                               static_cast<std::size_t>(area.x + left) * 4];
    for (const face_pixel& pixel : faces) {
      std::memcpy(corner + pixel.picture_offset, shades[pixel.face], 4);
    }
    if (compare != nullptr) {
      const std::size_t from =
          static_cast<std::size_t>(top) * static_cast<std::size_t>(area.width) +
          static_cast<std::size_t>(left);
      for (const face_pixel& pixel : faces) covered_by_model[from + pixel.area_offset] = 1;
    }
  }

  if (compare != nullptr) draw_compare_ghost(image, layout, *compare, sprite, covered_by_model);
  // The axes' names go over everything, so that no cube hides one.
  for (int a = 0; a < 3; ++a) draw_label(image, layout.labels[3][a].x, layout.labels[3][a].y, a);
}

}  // namespace

struct preview_sketch::views {
  std::int32_t low[3] = {0, 0, 0};  // the box every voxel must lie in
  std::int32_t high[3] = {0, 0, 0};
  // The widest frame a model in the box can get (widest_frame). A model that
  // reaches the box's ends is drawn in this very frame, and its views are
  // drawn as they are.
  preview_layout frame;
  model_views seen;
};

namespace {

// The cells the model covers, from the views of its box.
cell_bounds bounds_of(const preview_sketch::views& sketch) {
  cell_bounds bounds;
  if (sketch.seen.high[0] < sketch.seen.low[0]) return bounds;
  bounds.empty = false;
  for (int a = 0; a < 3; ++a) {
    bounds.low[a] = sketch.frame.frame_low[a] + sketch.seen.low[a];
    bounds.high[a] = sketch.frame.frame_low[a] + sketch.seen.high[a];
  }
  return bounds;
}

cell_bounds model_bounds(const preview_request& request) {
  return request.sketch != nullptr ? bounds_of(request.sketch->seen()) : bounds_of(request.model);
}

// The views of a sketched model in the layout's frame. Each entry of the
// sketch's views is a voxel: its spot in a view gives two of its cells, its
// key the third. Those of all four views include the nearest of every line
// of sight and the model's ends along every axis, so sorting them alone into
// the frame's views gives the views of the whole model.
model_views placed_views(const preview_sketch::views& sketch, const preview_layout& layout) {
  model_views views;
  views.reset(layout.bins);
  const std::int64_t* low = sketch.frame.frame_low;
  const int ny = int_of(sketch.frame.bins[1]);
  const int nz = int_of(sketch.frame.bins[2]);
  std::array<cell_voxel, 512> gathered;
  std::size_t count = 0;
  const auto sort = [&] {
    if (layout.cells_per_bin == 1) {
      sort_into_views<true>(gathered.data(), count, layout, views);
    } else {
      sort_into_views<false>(gathered.data(), count, layout, views);
    }
    count = 0;
  };
  const auto take = [&](const depth_buffer& buffer, auto cell_of) {
    for (int row = 0; row < buffer.rows; ++row) {
      for (int column = 0; column < buffer.columns; ++column) {
        const std::uint64_t entry = buffer.entries[buffer.index(column, row)];
        if (entry == 0) continue;
        std::int64_t cell[3];
        cell_of(column, row, depth_buffer::key_of(entry), cell);
        const rgb_colour c = depth_buffer::colour_of(entry);
        gathered[count++] = {static_cast<std::int32_t>(low[0] + cell[0]),
                             static_cast<std::int32_t>(low[1] + cell[1]),
                             static_cast<std::int32_t>(low[2] + cell[2]),
                             c.r,
                             c.g,
                             c.b};
        if (count == gathered.size()) sort();
      }
    }
  };
  const model_views& seen = sketch.seen;
  // The index of each view as sort_into_views works it out, undone.
  take(seen.flat[0], [&](int column, int row, std::int32_t key, std::int64_t(&cell)[3]) {
    cell[0] = column;
    cell[1] = ny - 1 - row;
    cell[2] = key;
  });
  take(seen.flat[1], [&](int column, int row, std::int32_t key, std::int64_t(&cell)[3]) {
    cell[0] = key;
    cell[1] = ny - 1 - row;
    cell[2] = nz - 1 - column;
  });
  take(seen.flat[2], [&](int column, int row, std::int32_t key, std::int64_t(&cell)[3]) {
    cell[0] = column;
    cell[1] = key;
    cell[2] = row;
  });
  take(seen.lattice, [&](int column, int row, std::int32_t key, std::int64_t(&cell)[3]) {
    cell[0] = std::int64_t{column} + key - (ny - 1);
    cell[1] = key;
    cell[2] = std::int64_t{row} + key - (ny - 1);
  });
  sort();
  return views;
}

}  // namespace

namespace {

// The frame of a model reaching cells `low`..`high` drawn one cell a bin,
// as layout_for works it out: the model and the origin, and the margin.
preview_layout widest_frame(const std::int32_t (&low)[3], const std::int32_t (&high)[3]) {
  preview_layout frame;
  for (int a = 0; a < 3; ++a) {
    frame.frame_low[a] = std::min<std::int64_t>(low[a], 0) - frame_margin;
    frame.bins[a] = std::max<std::int64_t>(high[a], 0) + frame_margin - frame.frame_low[a] + 1;
  }
  return frame;
}

}  // namespace

bool preview_sketch::fits(const std::int32_t (&low)[3], const std::int32_t (&high)[3]) {
  const preview_layout frame = widest_frame(low, high);
  for (int a = 0; a < 3; ++a) {
    if (low[a] > high[a] || frame.bins[a] > max_bins) return false;
  }
  return true;
}

preview_sketch::preview_sketch(const std::int32_t (&low)[3], const std::int32_t (&high)[3])
    : views_(std::make_unique<views>()) {
  for (int a = 0; a < 3; ++a) {
    views_->low[a] = low[a];
    views_->high[a] = high[a];
  }
  views_->frame = widest_frame(low, high);
  views_->seen.reset(views_->frame.bins);
}

preview_sketch::preview_sketch(preview_sketch&&) noexcept = default;
preview_sketch& preview_sketch::operator=(preview_sketch&&) noexcept = default;
preview_sketch::~preview_sketch() = default;

void preview_sketch::add(const cell_voxel* voxels, std::size_t count) {
  if (spoilt_) return;
  // As sort_into_views offers them, a run of voxels on one y and z at a
  // time, as an export's rows give them: the run shares its rows of the
  // views and its keys of y and z, and offers the side view only its
  // nearest voxel. Checked against the box a run at a time.
  const preview_layout& frame = views_->frame;
  model_views& seen = views_->seen;
  const std::int32_t(&box_low)[3] = views_->low;
  const std::int32_t(&box_high)[3] = views_->high;
  const auto nx = static_cast<std::size_t>(frame.bins[0]);
  const auto ny = static_cast<std::size_t>(frame.bins[1]);
  const auto nz = static_cast<std::size_t>(frame.bins[2]);
  const auto first_x = static_cast<std::int32_t>(frame.frame_low[0]);
  std::uint64_t* const front = seen.flat[0].entries.data();
  std::uint64_t* const side = seen.flat[1].entries.data();
  std::uint64_t* const top = seen.flat[2].entries.data();
  std::uint64_t* const lattice = seen.lattice.entries.data();
  for (std::size_t at = 0; at < count;) {
    const std::int32_t y = voxels[at].y;
    const std::int32_t z = voxels[at].z;
    std::int32_t x_low = voxels[at].x;
    std::int32_t x_high = x_low;
    std::size_t end = at + 1;
    for (; end < count && voxels[end].y == y && voxels[end].z == z; ++end) {
      x_low = std::min(x_low, voxels[end].x);
      x_high = std::max(x_high, voxels[end].x);
    }
    if (x_low < box_low[0] || x_high > box_high[0] || y < box_low[1] || y > box_high[1] ||
        z < box_low[2] || z > box_high[2]) {
      spoilt_ = true;
      return;
    }
    const auto by = static_cast<std::size_t>(y - frame.frame_low[1]);
    const auto bz = static_cast<std::size_t>(z - frame.frame_low[2]);
    const std::size_t up = ny - 1 - by;
    std::uint64_t* const front_row = front + up * nx;
    std::uint64_t* const top_row = top + bz * nx;
    // Lattice column bx - by + ny - 1, row bz - by + ny - 1.
    std::uint64_t* const lattice_row = lattice + (bz + up) * (nx + ny - 1) + up;
    const std::uint64_t front_key = depth_buffer::key_part(static_cast<std::int64_t>(bz));
    const std::uint64_t height_key = depth_buffer::key_part(static_cast<std::int64_t>(by));
    std::uint64_t nearest_side = 0;
    for (std::size_t i = at; i < end; ++i) {
      const cell_voxel& v = voxels[i];
      const std::int32_t bx = v.x - first_x;
      const std::uint64_t colour = depth_buffer::colour_part(v.r, v.g, v.b);
      const auto column = static_cast<std::size_t>(bx);
      depth_buffer::keep_nearer(front_row[column], front_key | colour);
      depth_buffer::keep_nearer(top_row[column], height_key | colour);
      depth_buffer::keep_nearer(lattice_row[column], height_key | colour);
      depth_buffer::keep_nearer(nearest_side, depth_buffer::key_part(bx) | colour);
    }
    depth_buffer::keep_nearer(side[up * nz + nz - 1 - bz], nearest_side);
    const std::int32_t bins[3][2] = {
        {x_low - first_x, x_high - first_x},
        {static_cast<std::int32_t>(by), static_cast<std::int32_t>(by)},
        {static_cast<std::int32_t>(bz), static_cast<std::int32_t>(bz)}};
    for (int a = 0; a < 3; ++a) {
      seen.low[a] = std::min(seen.low[a], bins[a][0]);
      seen.high[a] = std::max(seen.high[a], bins[a][1]);
    }
    at = end;
  }
  added_ += count;
}

preview_layout layout_preview(const preview_request& request) {
  return layout_for(request, model_bounds(request), bounds_of(request.compare));
}

rgba_image render_preview(const preview_request& request) {
  const cell_bounds model_cells = model_bounds(request);
  const cell_bounds compare_bounds = bounds_of(request.compare);
  const preview_layout layout = layout_for(request, model_cells, compare_bounds);
  rgba_image image = make_image(layout.width, layout.height, background);
  model_views own_views;
  const model_views* sketched = nullptr;
  if (request.sketch != nullptr) {
    const preview_layout& frame = request.sketch->seen().frame;
    const bool same_frame = std::equal(frame.frame_low, frame.frame_low + 3, layout.frame_low) &&
                            std::equal(frame.bins, frame.bins + 3, layout.bins);
    if (same_frame) {
      sketched = &request.sketch->seen().seen;
    } else {
      own_views = placed_views(request.sketch->seen(), layout);
    }
  } else {
    own_views = views_of(request.model, layout);
  }
  const model_views& model = sketched != nullptr ? *sketched : own_views;
  model_views compare_views;
  const model_views* compare = nullptr;
  if (request.compare != nullptr) {
    compare_views = views_of(request.compare, layout);
    compare = &compare_views;
  }

  draw_text(image, gap, gap, request.title, text_colour, text_scale);
  const int line = text_line_height(text_scale);
  for (int p = 0; p < 4; ++p) {
    const std::vector<std::string> lines = caption_lines(static_cast<preview_panel>(p), model_cells,
                                                         compare_bounds, compare != nullptr);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      draw_text(image, layout.captions[p].x, layout.captions[p].y + static_cast<int>(i) * line,
                lines[i], i == 2 ? ghost_colour : text_colour, text_scale);
    }
  }
  for (int p = 0; p < 3; ++p) paint_flat_panel(image, layout, p, model, compare);
  paint_three_quarter_panel(image, layout, model, compare);
  return image;
}

}  // namespace cubewright
