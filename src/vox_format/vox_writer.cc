#include "vox_format/vox_writer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <string_view>

namespace cubewright {
namespace {

constexpr std::size_t palette_size = 255;
constexpr std::int64_t tile_cells = 256;

std::uint32_t packed_rgb(const cell_voxel& v) {
  return std::uint32_t{v.r} << 16 | std::uint32_t{v.g} << 8 | v.b;
}

int channel(std::uint32_t rgb, int c) { return static_cast<int>(rgb >> (16 - 8 * c) & 0xff); }

std::int64_t squared_distance(std::uint32_t a, std::uint32_t b) {
  std::int64_t sum = 0;
  for (int c = 0; c < 3; ++c) {
    const std::int64_t d = channel(a, c) - channel(b, c);
    sum += d * d;
  }
  return sum;
}

struct colour_count {
  std::uint32_t rgb = 0;
  std::uint64_t count = 0;
};

// Running sums over a set of colours, each weighted by its voxel count.
struct colour_sums {
  std::uint64_t weight = 0;
  std::array<std::uint64_t, 3> sum{};
  std::uint64_t squares = 0;

  void add(const colour_count& c) {
    weight += c.count;
    for (int k = 0; k < 3; ++k) {
      const auto value = static_cast<std::uint64_t>(channel(c.rgb, k));
      sum[static_cast<std::size_t>(k)] += c.count * value;
      squares += c.count * value * value;
    }
  }
  void add(const colour_sums& other) {
    weight += other.weight;
    for (std::size_t k = 0; k < 3; ++k) sum[k] += other.sum[k];
    squares += other.squares;
  }
  colour_sums minus(const colour_sums& part) const {
    colour_sums rest = *this;
    rest.weight -= part.weight;
    for (std::size_t k = 0; k < 3; ++k) rest.sum[k] -= part.sum[k];
    rest.squares -= part.squares;
    return rest;
  }
  // The sum of squared distances from the weighted mean.
  double squared_error() const {
    if (weight == 0) return 0;
    double mean_part = 0;
    for (const std::uint64_t s : sum) mean_part += static_cast<double>(s) * static_cast<double>(s);
    return static_cast<double>(squares) - mean_part / static_cast<double>(weight);
  }
  std::uint32_t mean() const {
    std::uint32_t rgb = 0;
    for (const std::uint64_t s : sum)
      rgb = rgb << 8 | static_cast<std::uint32_t>((s + weight / 2) / weight);
    return rgb;
  }
};

// A box of the cut: a range of the distinct colours.
struct colour_box {
  std::size_t begin = 0;
  std::size_t end = 0;
  colour_sums sums;
};

colour_box make_box(const std::vector<colour_count>& colours, std::size_t begin, std::size_t end) {
  colour_box box{begin, end, {}};
  for (std::size_t i = begin; i < end; ++i) box.sums.add(colours[i]);
  return box;
}

// Cuts the box in two along the channel and at the value that leave the least
// squared error, reordering its colours so that each half is a range. False
// when it holds a single colour.
bool split_box(std::vector<colour_count>& colours, const colour_box& box, colour_box& low,
               colour_box& high) {
  double best_error = std::numeric_limits<double>::infinity();
  int best_channel = -1;
  int best_value = 0;
  for (int c = 0; c < 3; ++c) {
    std::array<colour_sums, 256> by_value{};
    for (std::size_t i = box.begin; i < box.end; ++i)
      by_value[static_cast<std::size_t>(channel(colours[i].rgb, c))].add(colours[i]);
    colour_sums below;
    for (int value = 0; value < 255; ++value) {
      below.add(by_value[static_cast<std::size_t>(value)]);
      if (below.weight == 0 || below.weight == box.sums.weight) continue;
      const double error = below.squared_error() + box.sums.minus(below).squared_error();
      if (error < best_error) {
        best_error = error;
        best_channel = c;
        best_value = value;
      }
    }
  }
  if (best_channel < 0) return false;
  const auto first = colours.begin() + static_cast<std::ptrdiff_t>(box.begin);
  const auto mid = std::partition(
      first, colours.begin() + static_cast<std::ptrdiff_t>(box.end),
      [&](const colour_count& c) { return channel(c.rgb, best_channel) <= best_value; });
  const auto cut = box.begin + static_cast<std::size_t>(mid - first);
  low = make_box(colours, box.begin, cut);
  high = make_box(colours, cut, box.end);
  return true;
}

// Cuts the colours into `palette_size` boxes, always splitting the box with
// the largest squared error where that error falls the most, and gives each
// box the mean of its colours weighted by how many voxels have them.
// `colours` is reordered.
std::vector<std::uint32_t> reduce_palette(std::vector<colour_count>& colours) {
  std::vector<colour_box> boxes{make_box(colours, 0, colours.size())};
  std::vector<double> errors{boxes[0].sums.squared_error()};
  while (boxes.size() < palette_size) {
    const auto pick =
        static_cast<std::size_t>(std::max_element(errors.begin(), errors.end()) - errors.begin());
    colour_box low;
    colour_box high;
    if (errors[pick] <= 0 || !split_box(colours, boxes[pick], low, high)) break;
    boxes[pick] = low;
    errors[pick] = low.sums.squared_error();
    boxes.push_back(high);
    errors.push_back(high.sums.squared_error());
  }
  std::vector<std::uint32_t> palette;
  palette.reserve(boxes.size());
  for (const colour_box& box : boxes) palette.push_back(box.sums.mean());
  return palette;
}

// The palette entry nearest each colour, found among entries sorted by red
// and searched outward from the colour's red until red alone is farther off
// than the best entry so far.
struct nearest_entry {
  explicit nearest_entry(const std::vector<std::uint32_t>& palette) {
    for (std::size_t i = 0; i < palette.size(); ++i) by_red.push_back({palette[i], i});
    std::sort(by_red.begin(), by_red.end());
  }

  std::size_t operator()(std::uint32_t rgb) const {
    const auto start = static_cast<std::size_t>(
        std::lower_bound(by_red.begin(), by_red.end(), std::make_pair(rgb, std::size_t{0})) -
        by_red.begin());
    std::int64_t best = std::numeric_limits<std::int64_t>::max();
    std::size_t best_index = 0;
    const auto consider = [&](std::size_t i) {
      const std::int64_t red = channel(rgb, 0) - channel(by_red[i].first, 0);
      if (red * red > best) return false;
      const std::int64_t d = squared_distance(rgb, by_red[i].first);
      if (d < best || (d == best && by_red[i].second < best_index)) {
        best = d;
        best_index = by_red[i].second;
      }
      return true;
    };
    for (std::size_t i = start; i < by_red.size() && consider(i); ++i) {
    }
    for (std::size_t i = start; i > 0 && consider(i - 1); --i) {
    }
    return best_index;
  }

  std::vector<std::pair<std::uint32_t, std::size_t>> by_red;
};

// Sorts 24-bit colours a byte at a time, in time linear in their number:
// models of millions of voxels are common.
void sort_colours(std::vector<std::uint32_t>& colours) {
  std::vector<std::uint32_t> other(colours.size());
  for (int shift = 0; shift < 24; shift += 8) {
    std::array<std::size_t, 257> start{};
    for (const std::uint32_t c : colours) ++start[(c >> shift & 0xff) + 1];
    for (std::size_t i = 1; i < start.size(); ++i) start[i] += start[i - 1];
    for (const std::uint32_t c : colours) other[start[c >> shift & 0xff]++] = c;
    colours.swap(other);
  }
}

// The palette, and the colour index (1..255) of every voxel.
struct colour_mapping {
  std::vector<std::uint32_t> palette;
  std::vector<std::uint8_t> voxel_index;
  vox_colour_report report;
};

colour_mapping map_colours(const std::vector<cell_voxel>& voxels) {
  colour_mapping mapping;
  std::vector<std::uint32_t> sorted(voxels.size());
  for (std::size_t i = 0; i < voxels.size(); ++i) sorted[i] = packed_rgb(voxels[i]);
  sort_colours(sorted);
  std::vector<colour_count> distinct;
  for (const std::uint32_t rgb : sorted) {
    if (distinct.empty() || distinct.back().rgb != rgb) distinct.push_back({rgb, 0});
    ++distinct.back().count;
  }
  mapping.report.colours_in = distinct.size();

  // `entry_of[i]` is the palette entry of distinct colour i.
  std::vector<std::uint8_t> entry_of(distinct.size());
  std::vector<std::uint32_t> distinct_rgb(distinct.size());
  for (std::size_t i = 0; i < distinct.size(); ++i) distinct_rgb[i] = distinct[i].rgb;
  if (distinct.size() <= palette_size) {
    mapping.palette = distinct_rgb;
    for (std::size_t i = 0; i < distinct.size(); ++i) entry_of[i] = static_cast<std::uint8_t>(i);
  } else {
    std::vector<colour_count> work = distinct;
    mapping.palette = reduce_palette(work);
    const nearest_entry nearest(mapping.palette);
    std::int64_t worst = 0;
    for (std::size_t i = 0; i < distinct.size(); ++i) {
      const std::size_t entry = nearest(distinct_rgb[i]);
      entry_of[i] = static_cast<std::uint8_t>(entry);
      worst = std::max(worst, squared_distance(distinct_rgb[i], mapping.palette[entry]));
    }
    mapping.report.largest_error = std::sqrt(static_cast<double>(worst));
  }
  mapping.report.colours_out = mapping.palette.size();

  mapping.voxel_index.resize(voxels.size());
  for (std::size_t i = 0; i < voxels.size(); ++i) {
    const auto at =
        std::lower_bound(distinct_rgb.begin(), distinct_rgb.end(), packed_rgb(voxels[i]));
    mapping.voxel_index[i] = static_cast<std::uint8_t>(
        entry_of[static_cast<std::size_t>(at - distinct_rgb.begin())] + 1);
  }
  return mapping;
}

// A voxel's cell in the frame of the file: W = (-x - 1, z, y).
std::array<std::int64_t, 3> world_cell(const cell_voxel& v) {
  return {-std::int64_t{v.x} - 1, std::int64_t{v.z}, std::int64_t{v.y}};
}

// The voxels of one model, as a range of the voxel order, and its box.
struct tile {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::array<std::int64_t, 3> low{};
  std::array<std::int64_t, 3> high{};
};

// Groups the voxels by 256-cell tile of the frame of the file. `order` gets
// the voxel indices tile by tile, in input order within a tile; tiles come in
// the order of their (x, y, z) tile coordinates.
std::vector<tile> cut_into_tiles(const std::vector<cell_voxel>& voxels,
                                 std::vector<std::size_t>& order) {
  std::array<std::int64_t, 3> origin{};
  origin.fill(std::numeric_limits<std::int64_t>::max());
  for (const cell_voxel& v : voxels) {
    const auto w = world_cell(v);
    for (std::size_t a = 0; a < 3; ++a) origin[a] = std::min(origin[a], w[a]);
  }
  using tile_key = std::array<std::int64_t, 3>;
  std::map<tile_key, std::size_t> first_seen;  // tile -> number in order of first voxel
  std::vector<std::size_t> tile_of(voxels.size());
  tile_key last_key{-1, -1, -1};
  std::size_t last_number = 0;
  for (std::size_t i = 0; i < voxels.size(); ++i) {
    const auto w = world_cell(voxels[i]);
    tile_key key{};
    for (std::size_t a = 0; a < 3; ++a) key[a] = (w[a] - origin[a]) / tile_cells;
    if (key != last_key) {
      last_key = key;
      last_number = first_seen.emplace(key, first_seen.size()).first->second;
    }
    tile_of[i] = last_number;
  }
  // Renumber the tiles in key order, then sort the voxels by tile, stably.
  std::vector<std::size_t> rank(first_seen.size());
  std::size_t next_rank = 0;
  for (const auto& entry : first_seen) rank[entry.second] = next_rank++;
  std::vector<tile> tiles(first_seen.size());
  for (std::size_t& t : tile_of) {
    t = rank[t];
    ++tiles[t].end;
  }
  std::size_t start = 0;
  for (tile& t : tiles) {
    const std::size_t count = t.end;
    t.begin = start;
    t.end = start;
    start += count;
    t.low.fill(std::numeric_limits<std::int64_t>::max());
    t.high.fill(std::numeric_limits<std::int64_t>::min());
  }
  order.resize(voxels.size());
  for (std::size_t i = 0; i < voxels.size(); ++i) {
    tile& t = tiles[tile_of[i]];
    order[t.end++] = i;
    const auto w = world_cell(voxels[i]);
    for (std::size_t a = 0; a < 3; ++a) {
      t.low[a] = std::min(t.low[a], w[a]);
      t.high[a] = std::max(t.high[a], w[a]);
    }
  }
  return tiles;
}

void put_u32(std::string& out, std::uint32_t value) {
  const char bytes[4] = {static_cast<char>(value & 0xff), static_cast<char>(value >> 8 & 0xff),
                         static_cast<char>(value >> 16 & 0xff),
                         static_cast<char>(value >> 24 & 0xff)};
  out.append(bytes, 4);
}

void put_i32(std::string& out, std::int64_t value) {
  put_u32(out, static_cast<std::uint32_t>(static_cast<std::int32_t>(value)));
}

void put_chunk_header(std::string& out, std::string_view id, std::size_t content,
                      std::size_t children = 0) {
  out.append(id);
  put_i32(out, static_cast<std::int64_t>(content));
  put_i32(out, static_cast<std::int64_t>(children));
}

void put_string(std::string& out, std::string_view text) {
  put_i32(out, static_cast<std::int64_t>(text.size()));
  out.append(text);
}

// A chunk whose content is built in `content`.
void put_chunk(std::string& out, std::string_view id, const std::string& content) {
  put_chunk_header(out, id, content.size());
  out.append(content);
}

std::string translation_text(const std::array<std::int64_t, 3>& t) {
  return std::to_string(t[0]) + ' ' + std::to_string(t[1]) + ' ' + std::to_string(t[2]);
}

// The scene: root transform 0 over group 1, which holds a transform and a
// shape for every model, placed at its translation, all on layer 0.
void put_scene(std::string& out, const std::vector<std::array<std::int64_t, 3>>& translations) {
  std::string content;
  const auto empty_dictionary = [&content] { put_i32(content, 0); };
  content.clear();
  put_i32(content, 0);
  empty_dictionary();
  put_i32(content, 1);   // child
  put_i32(content, -1);  // reserved
  put_i32(content, -1);  // layer
  put_i32(content, 1);   // frames
  empty_dictionary();
  put_chunk(out, "nTRN", content);

  content.clear();
  put_i32(content, 1);
  empty_dictionary();
  put_i32(content, static_cast<std::int64_t>(translations.size()));
  for (std::size_t k = 0; k < translations.size(); ++k)
    put_i32(content, static_cast<std::int64_t>(2 + 2 * k));
  put_chunk(out, "nGRP", content);

  for (std::size_t k = 0; k < translations.size(); ++k) {
    content.clear();
    put_i32(content, static_cast<std::int64_t>(2 + 2 * k));
    empty_dictionary();
    put_i32(content, static_cast<std::int64_t>(3 + 2 * k));
    put_i32(content, -1);
    put_i32(content, 0);
    put_i32(content, 1);
    put_i32(content, 1);
    put_string(content, "_t");
    put_string(content, translation_text(translations[k]));
    put_chunk(out, "nTRN", content);

    content.clear();
    put_i32(content, static_cast<std::int64_t>(3 + 2 * k));
    empty_dictionary();
    put_i32(content, 1);
    put_i32(content, static_cast<std::int64_t>(k));
    empty_dictionary();
    put_chunk(out, "nSHP", content);
  }

  content.clear();
  put_i32(content, 0);
  empty_dictionary();
  put_i32(content, -1);
  put_chunk(out, "LAYR", content);
}

}  // namespace

vox_write_result write_vox(const std::vector<cell_voxel>& voxels) {
  vox_write_result result;
  const colour_mapping colours = map_colours(voxels);
  result.colours = colours.report;
  std::vector<std::size_t> order;
  const std::vector<tile> tiles = cut_into_tiles(voxels, order);

  // Every count and size in the file is a signed 32-bit number, MAIN's
  // children size being the largest. Bounded from above: the fixed chunks take
  // under 2048 bytes, and a model's chunks under 256 besides its voxels.
  std::size_t children = 2048;
  for (const tile& t : tiles) children += 256 + 4 * (t.end - t.begin);
  if (children > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    result.error = "too many voxels for one .vox file";
    return result;
  }

  std::string& out = result.bytes;
  out.reserve(children + 20);
  out.append("VOX ");
  put_u32(out, 150);
  const std::size_t main_at = out.size();
  put_chunk_header(out, "MAIN", 0, 0);

  std::vector<std::array<std::int64_t, 3>> translations;
  for (const tile& t : tiles) {
    std::array<std::int64_t, 3> size{};
    for (std::size_t a = 0; a < 3; ++a) size[a] = t.high[a] - t.low[a] + 1;
    put_chunk_header(out, "SIZE", 12);
    for (std::size_t a = 0; a < 3; ++a) put_i32(out, size[a]);
    const std::size_t count = t.end - t.begin;
    put_chunk_header(out, "XYZI", 4 + 4 * count);
    put_i32(out, static_cast<std::int64_t>(count));
    const std::size_t records = out.size();
    out.resize(records + 4 * count);
    char* record = &out[records];
    for (std::size_t i = t.begin; i < t.end; ++i, record += 4) {
      const auto w = world_cell(voxels[order[i]]);
      for (std::size_t a = 0; a < 3; ++a) record[a] = static_cast<char>(w[a] - t.low[a]);
      record[3] = static_cast<char>(colours.voxel_index[order[i]]);
    }
    // The reader puts cell v at T + v - floor(size / 2).
    std::array<std::int64_t, 3> translation{};
    for (std::size_t a = 0; a < 3; ++a) translation[a] = t.low[a] + size[a] / 2;
    translations.push_back(translation);
  }

  put_scene(out, translations);

  // Colour index i is entry i - 1; unused entries are opaque black.
  put_chunk_header(out, "RGBA", 1024);
  for (std::size_t i = 0; i < 256; ++i) {
    const std::uint32_t rgb = i < colours.palette.size() ? colours.palette[i] : 0;
    put_u32(out, (rgb >> 16 & 0xff) | (rgb & 0xff00) | (rgb & 0xff) << 16 | 0xff000000u);
  }

  const std::size_t main_children = out.size() - (main_at + 12);
  std::string main_size;
  put_i32(main_size, static_cast<std::int64_t>(main_children));
  out.replace(main_at + 8, 4, main_size);
  return result;
}

}  // namespace cubewright
