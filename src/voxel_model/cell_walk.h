// The walk that gives every cell token its grid indices and turns filled
// cells into voxel records.
#pragma once

#include <cstdint>
#include <string_view>

#include "csv_input/grid_size.h"
#include "csv_input/token_list.h"
#include "voxel_model/voxel_record.h"

namespace cubewright {

/// The text of an empty cell; every other cell token is filled.
inline constexpr std::string_view empty_cell = "#00000000";

/// The walk's position. It is kept in 64 bits so that no size and no number of
/// tokens can overflow it: y counts down without a bound past the grid.
struct cell_cursor {
  std::int64_t cell_x = 0;
  std::int64_t cell_y = 0;
  std::int64_t cell_z = 0;
};

/// Reads text as a base-16 integer the way formatted stream extraction does:
/// leading white space, an optional sign, an optional 0x or 0X, then hex
/// digits of either case up to the first other character. 0 without a digit.
/// Meant for the two-character colour pairs; longer text saturates.
std::int32_t parse_hex_pair(std::string_view text);

/// A cell index placed on its axis: times the factor, plus the offset, each
/// step rounded to single precision.
inline float place_index(std::int64_t index, float factor, std::int32_t offset) {
  const float scaled = static_cast<float>(index) * factor;
  return scaled + static_cast<float>(offset);
}

/// The record of a filled cell token at the given cursor. Colour pairs start
/// at positions 1, 3 and 5; a pair cut short by the token's end reads what is
/// left of it, so a missing pair is 0.
voxel_record make_voxel_record(const cell_cursor& cursor, std::string_view token,
                               const model_placement& placement);

/// Moves the cursor to the next cell: x fastest, then z, then y downward.
/// A size of zero or less wraps its index on every step.
inline void advance_cursor(cell_cursor& cursor, const grid_size& size) {
  ++cursor.cell_x;
  if (cursor.cell_x > std::int64_t{size.size_x} - 1) {
    cursor.cell_x = 0;
    ++cursor.cell_z;
    if (cursor.cell_z > std::int64_t{size.size_z} - 1) {
      cursor.cell_z = 0;
      --cursor.cell_y;
    }
  }
}

/// Walks the tokens after the three header fields and hands the record of
/// every filled cell to `consume`, in token order. Nothing is ever rejected:
/// tokens past the declared grid go on below y = 0, and a short list simply
/// ends the walk.
template <typename Consumer>
void walk_cells(const token_list& tokens, const grid_size& size, const model_placement& placement,
                Consumer&& consume) {
  cell_cursor cursor;
  cursor.cell_y = std::int64_t{size.size_y} - 1;
  auto it = tokens.begin();
  const auto end = tokens.end();
  for (int header = 0; header < 3 && it != end; ++header) ++it;
  for (; it != end; ++it) {
    if (*it != empty_cell) consume(make_voxel_record(cursor, *it, placement));
    advance_cursor(cursor, size);
  }
}

}  // namespace cubewright
