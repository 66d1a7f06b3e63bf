#include "vox_format/vox_writer.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <map>
#include <string_view>

#include "vox_format/palette.h"

namespace cubewright {
namespace {

constexpr std::int64_t tile_cells = 256;

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
