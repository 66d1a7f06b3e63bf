// The writer of the voxel model document.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "io/output_sink.h"
#include "model/placed_model.h"

namespace cubewright {

/// Writes the document through a fixed block (its own, or one the sink lends)
/// in large pieces, so memory does not grow with the model. Every line ends
/// with `line_end`. `block.failed` tells that the sink refused bytes.
struct model_writer {
  output_block block;
  std::string_view line_end;
};

model_writer open_model_writer(output_sink sink, std::string_view line_end,
                               std::size_t block_size = default_block_size);

/// "<model>" and "<voxels>".
void write_head(model_writer& writer);

/// One "<voxel .../>" line.
void write_voxel(model_writer& writer, const voxel_record& record);

/// Voxel lines of a grid written from cell indices and colour bytes, with
/// the texts that repeat worked out once: each x index's, each colour byte's,
/// and a row's y and z while the row lasts. A line is then a handful of fixed
/// copies, and holds exactly the bytes write_voxel writes for the placed
/// record (every text comes from the same number formatting).
struct grid_line_writer {
  model_writer* writer = nullptr;
  model_placement placement;
  std::int64_t x_first = 0;
  std::int64_t x_count = 0;
  std::vector<char> x_texts;  // "<voxel x=\"X\" y=\"", a slot per x index, made when first used
  std::vector<char> colour_texts;  // "R\" g=\"", "G\" b=\"", "B\" a=...", per byte
  char row_text[64] = {};          // "Y\" z=\"Z\" r=\""
  std::size_t row_size = 0;
  std::int64_t row_y = 0;
  std::int64_t row_z = 0;
  bool row_known = false;
};

/// The most x indices a grid_line_writer keeps texts for.
inline constexpr std::int64_t grid_line_max_x_count = 4096;

/// Prepares lines for the x indices x_first to x_first + x_count - 1 placed
/// by `placement`, the writer's line end included. False when x_count is
/// outside 1 to grid_line_max_x_count or a text would not fit its slot (a
/// line end of more than a few bytes): write_voxel then writes every line.
bool open_grid_line_writer(grid_line_writer& lines, model_writer& writer,
                           const model_placement& placement, std::int64_t x_first,
                           std::int64_t x_count);

/// The line of the voxel on cell (x, y, z), x within the indices the lines
/// were opened for, whose colour is (r, g, b) / 256.
void write_grid_voxel(grid_line_writer& lines, std::int64_t x, std::int64_t y, std::int64_t z,
                      std::uint8_t r, std::uint8_t g, std::uint8_t b);

/// The four closing lines, then every byte still buffered goes to the sink.
/// True only when the sink took the whole document.
bool write_tail(model_writer& writer);

}  // namespace cubewright
