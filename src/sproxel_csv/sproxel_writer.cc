#include "sproxel_csv/sproxel_writer.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace cubewright {
namespace {

constexpr std::size_t cell_text_size = 9;                // "#RRGGBBFF"
constexpr std::size_t cell_stride = cell_text_size + 1;  // and its separator
constexpr std::size_t max_stretch = 4096;                // cells copied at once

// "#00000000," max_stretch times: empty cells are copied a stretch at a time
// and the filled ones written over them.
const char* empty_cells() {
  static const std::string text = [] {
    std::string cells;
    for (std::size_t i = 0; i < max_stretch; ++i) cells += "#00000000,";
    return cells;
  }();
  return text.data();
}

void write_cell(char* out, std::uint32_t cell) {
  static constexpr char digits[] = "0123456789ABCDEF";
  for (int i = 0; i < 6; ++i) out[1 + i] = digits[(cell >> (20 - 4 * i)) & 0xF];
  out[7] = 'F';
  out[8] = 'F';
}

// Writes the export of the box `grid` spans, asking `fill_line(y, z, first,
// stop, out)` to write the filled cells of x indices first..stop-1 of row
// (y, z) over empty ones, `out` pointing at cell `first`.
template <typename FillLine>
bool write_export(const voxel_grid& grid, output_sink sink, std::size_t block_size,
                  FillLine&& fill_line) {
  const std::size_t stretch = std::clamp<std::size_t>(block_size / cell_stride, 1, max_stretch);
  constexpr std::size_t header_limit = 64;
  output_block buffer =
      open_output_block(sink, block_size, std::max(header_limit, stretch * cell_stride));
  const std::string header = std::to_string(grid.size_x) + "," + std::to_string(grid.size_y) + "," +
                             std::to_string(grid.size_z) + "\n";
  std::memcpy(reserve_output(buffer, header.size()), header.data(), header.size());
  buffer.used += header.size();

  const auto row = static_cast<std::size_t>(grid.size_x);
  for (std::int32_t y = grid.size_y - 1; y >= 0; --y) {
    for (std::int32_t z = 0; z < grid.size_z; ++z) {
      for (std::size_t first = 0; first < row; first += stretch) {
        const std::size_t count = std::min(stretch, row - first);
        char* out = reserve_output(buffer, count * cell_stride);
        std::memcpy(out, empty_cells(), count * cell_stride);
        fill_line(y, z, first, first + count, out);
        if (first + count == row) out[count * cell_stride - 1] = '\n';
        buffer.used += count * cell_stride;
      }
    }
    *reserve_output(buffer, 1) = '\n';
    buffer.used += 1;
  }
  flush_output_block(buffer);
  return !buffer.failed;
}

// Voxels in walk order, one after another in memory.
struct cell_span {
  const cell_voxel* begin;
  const cell_voxel* end;
};

// The export of voxels in walk order in the box `box`, read span after span.
bool write_walk_ordered(const cell_span* spans, std::size_t span_count, const voxel_grid& box,
                        output_sink sink, std::size_t block_size) {
  // The next voxel and the end of its span; the spans after it.
  const cell_voxel* next = nullptr;
  const cell_voxel* span_end = nullptr;
  const cell_span* const last_span = spans + span_count;
  const auto settle = [&] {
    while (next == span_end && spans != last_span) {
      next = spans->begin;
      span_end = spans->end;
      ++spans;
    }
  };
  settle();
  return write_export(
      box, sink, block_size,
      [&](std::int32_t y, std::int32_t z, std::size_t first, std::size_t stop, char* out) {
        const std::int64_t at_y = std::int64_t{box.min_y} + y;
        const std::int64_t at_z = std::int64_t{box.min_z} + z;
        for (; next != span_end && next->y == at_y && next->z == at_z; settle()) {
          const auto x = static_cast<std::size_t>(std::int64_t{next->x} - box.min_x);
          if (x >= stop) break;
          write_cell(out + (x - first) * cell_stride, cell_value(*next));
          ++next;
        }
      });
}

}  // namespace

bool write_sproxel_csv(const voxel_grid& grid, output_sink sink, std::size_t block_size) {
  const auto row = static_cast<std::size_t>(grid.size_x);
  const std::size_t layer = row * static_cast<std::size_t>(grid.size_z);
  return write_export(
      grid, sink, block_size,
      [&](std::int32_t y, std::int32_t z, std::size_t first, std::size_t stop, char* out) {
        const std::uint32_t* cells = grid.cells.data() + static_cast<std::size_t>(y) * layer +
                                     static_cast<std::size_t>(z) * row;
        for (std::size_t x = first; x < stop; ++x, out += cell_stride) {
          if (cells[x] != 0) write_cell(out, cells[x]);
        }
      });
}

bool write_sproxel_csv(const std::vector<cell_voxel>& walk_ordered, const voxel_grid& box,
                       output_sink sink, std::size_t block_size) {
  const cell_span whole{walk_ordered.data(), walk_ordered.data() + walk_ordered.size()};
  return write_walk_ordered(&whole, 1, box, sink, block_size);
}

bool write_sproxel_csv(const cell_pieces& walk_ordered, const voxel_grid& box, output_sink sink,
                       std::size_t block_size) {
  std::vector<cell_span> spans;
  for (const cell_pieces::span& piece : walk_ordered.spans) {
    const cell_voxel* const first = walk_ordered.first_of(piece);
    spans.push_back({first, first + piece.count});
  }
  return write_walk_ordered(spans.data(), spans.size(), box, sink, block_size);
}

}  // namespace cubewright
