#include "csv_output/sproxel_writer.h"

#include <array>
#include <cstring>
#include <string>

namespace cubewright {
namespace {

constexpr std::size_t cell_text_size = 9;  // "#RRGGBBFF"

void write_cell(char* out, std::uint32_t cell) {
  static constexpr char digits[] = "0123456789ABCDEF";
  if (cell == 0) {
    std::memcpy(out, "#00000000", cell_text_size);
    return;
  }
  out[0] = '#';
  for (int i = 0; i < 6; ++i) out[1 + i] = digits[(cell >> (20 - 4 * i)) & 0xF];
  out[7] = 'F';
  out[8] = 'F';
}

}  // namespace

bool write_sproxel_csv(const voxel_grid& grid, output_sink sink, std::size_t block_size) {
  constexpr std::size_t min_block = 64;
  output_block buffer = open_output_block(sink, block_size, min_block);
  const std::string header = std::to_string(grid.size_x) + "," + std::to_string(grid.size_y) + "," +
                             std::to_string(grid.size_z) + "\n";
  std::memcpy(reserve_output(buffer, header.size()), header.data(), header.size());
  buffer.used += header.size();

  const std::size_t row = static_cast<std::size_t>(grid.size_x);
  const std::size_t layer = row * static_cast<std::size_t>(grid.size_z);
  for (std::int32_t y = grid.size_y - 1; y >= 0; --y) {
    for (std::int32_t z = 0; z < grid.size_z; ++z) {
      const std::uint32_t* cell = grid.cells.data() + static_cast<std::size_t>(y) * layer +
                                  static_cast<std::size_t>(z) * row;
      for (std::size_t x = 0; x < row; ++x) {
        char* out = reserve_output(buffer, cell_text_size + 1);
        write_cell(out, cell[x]);
        out[cell_text_size] = x + 1 == row ? '\n' : ',';
        buffer.used += cell_text_size + 1;
      }
    }
    *reserve_output(buffer, 1) = '\n';
    buffer.used += 1;
  }
  flush_output_block(buffer);
  return !buffer.failed;
}

}  // namespace cubewright
