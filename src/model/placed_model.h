// What passes between reading and writing: the placement, and the model's
// voxels once placed, in the two forms the readers yield and the writers
// take.
//
//   reader                       middle                     writer
//   sproxel_csv (cell walk)  ->  voxel_record, in walk  ->  model_document
//   model_document           ->  voxel_record, in file  ->  model_document
//   vox_format (scene walk)  ->  cell_voxel (voxel_grid) -> model_document
//   any of them              ->  cell_voxel             ->  sproxel_csv, vox_format, preview
//
// Placement is applied once, by the reader, as the voxels are made: a cell
// index or a document position times its axis factor, plus its offset, in
// single precision (place_index, place_value). A document takes placed
// voxel_records as they are. The cell formats and the picture take whole
// cells: a placed voxel_record becomes a cell_voxel by `to_whole_cell`
// (each position a whole number within 32 bits, or the conversion fails:
// cell_collector in voxel_grid.h)
// or, for drawing, by `drawn_cell` (the nearest cell); its colour fractions
// become bytes by `colour_byte`. Going back, `placed_record` gives a cell's
// voxel_record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cubewright {

/// How positions are placed: each is multiplied by its axis factor (1 or
/// -1) and shifted by its offset.
struct model_placement {
  std::int32_t offset_x = 0;
  std::int32_t offset_y = 0;
  std::int32_t offset_z = 0;
  float axis_factor_x = 1.0f;
  float axis_factor_y = 1.0f;
  float axis_factor_z = 1.0f;
};

/// One placed voxel as a document holds it: its position after offsets and
/// mirroring, and its colour as fractions of 256.
struct voxel_record {
  float x = 0;
  float y = 0;
  float z = 0;
  float r = 0;
  float g = 0;
  float b = 0;
};

/// One placed voxel on a whole-number cell of the game frame (x right, y up,
/// z toward the viewer), with its colour bytes, the fractions times 256.
struct cell_voxel {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t z = 0;
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
};

/// A position of a walk in walk order (y from the top down, then z, then x),
/// as cell indices before placement. It is kept in 64 bits so that no size
/// and no number of cells can overflow it: y counts down without a bound
/// past the grid.
struct cell_cursor {
  std::int64_t cell_x = 0;
  std::int64_t cell_y = 0;
  std::int64_t cell_z = 0;
};

/// A cell index placed on its axis: times the factor, plus the offset, each
/// step rounded to single precision.
inline float place_index(std::int64_t index, float factor, std::int32_t offset) {
  const float scaled = static_cast<float>(index) * factor;
  return scaled + static_cast<float>(offset);
}

/// A position read from a document placed on its axis, in the same float
/// steps as a cell index.
inline float place_value(float value, float factor, std::int32_t offset) {
  const float scaled = value * factor;
  return scaled + static_cast<float>(offset);
}

/// A document's voxel placed as `placement` says.
inline void place_voxel(voxel_record& voxel, const model_placement& placement) {
  voxel.x = place_value(voxel.x, placement.axis_factor_x, placement.offset_x);
  voxel.y = place_value(voxel.y, placement.axis_factor_y, placement.offset_y);
  voxel.z = place_value(voxel.z, placement.axis_factor_z, placement.offset_z);
}

/// The document's record of a cell placed by `placement`.
inline voxel_record placed_record(const cell_voxel& cell, const model_placement& placement) {
  voxel_record record;
  record.x = place_index(cell.x, placement.axis_factor_x, placement.offset_x);
  record.y = place_index(cell.y, placement.axis_factor_y, placement.offset_y);
  record.z = place_index(cell.z, placement.axis_factor_z, placement.offset_z);
  record.r = static_cast<float>(cell.r) * 0.00390625f;
  record.g = static_cast<float>(cell.g) * 0.00390625f;
  record.b = static_cast<float>(cell.b) * 0.00390625f;
  return record;
}

// These run once a voxel, in the readers' loops: inline.

/// A colour fraction as a byte: round(v * 256), clamped to 0..255.
inline std::uint8_t colour_byte(float fraction) {
  const float scaled = fraction * 256.0f + 0.5f;
  if (!(scaled >= 1.0f)) return 0;  // NaN too
  // Positive: truncation is the floor.
  return scaled >= 255.0f ? std::uint8_t{255} : static_cast<std::uint8_t>(scaled);
}

/// A placed position as a whole cell; false when it is no whole number in
/// the 32-bit range.
inline bool whole_cell(float value, std::int32_t& cell) {
  if (!(value >= -2147483648.0f && value < 2147483648.0f)) return false;
  cell = static_cast<std::int32_t>(value);  // in range: truncates toward zero
  return static_cast<float>(cell) == value;
}

/// The nearest cell to a placed position, within 32 bits.
inline std::int32_t nearest_cell(float value) {
  const float shifted = value + 0.5f;
  if (!(shifted >= -2147483648.0f)) return shifted != shifted ? 0 : -2147483647 - 1;
  if (!(shifted < 2147483648.0f)) return 2147483647;
  // Truncation toward zero, then down by one where that went up: floor.
  const auto cell = static_cast<std::int32_t>(shifted);
  return static_cast<float>(cell) > shifted ? cell - 1 : cell;
}

/// The cell a picture draws a placed voxel in: the nearest to its position,
/// and its colour bytes.
inline cell_voxel drawn_cell(const voxel_record& record) {
  return {nearest_cell(record.x), nearest_cell(record.y), nearest_cell(record.z),
          colour_byte(record.r),  colour_byte(record.g),  colour_byte(record.b)};
}

/// A placed voxel as a whole cell, for CSV and .vox; false when a position
/// is no whole cell, and `axis` is then the first such (0 for x).
inline bool to_whole_cell(const voxel_record& record, cell_voxel& cell, int& axis) {
  const float position[3] = {record.x, record.y, record.z};
  std::int32_t* const at[3] = {&cell.x, &cell.y, &cell.z};
  for (axis = 0; axis < 3; ++axis) {
    if (!whole_cell(position[axis], *at[axis])) return false;
  }
  cell.r = colour_byte(record.r);
  cell.g = colour_byte(record.g);
  cell.b = colour_byte(record.b);
  return true;
}

/// The message for a position that is no whole cell, naming `place` (the
/// input's path, and its line where known).
std::string not_whole_cell_failure(const std::string& place, int axis, float value);

/// Whole cells gathered in pieces, one sequence read piece after piece: the
/// cells several threads read, each into a store of its own, kept where they
/// were put rather than copied together. `spans` are the sequence in order,
/// each a run of consecutive cells of one store.
struct cell_pieces {
  struct span {
    std::size_t store = 0;
    std::size_t first = 0;
    std::size_t count = 0;
  };
  std::vector<std::vector<cell_voxel>> stores;
  std::vector<span> spans;

  /// Store `store`'s cells from `first` to its end, when there are any, as
  /// the next span.
  void add_span(std::size_t store, std::size_t first) {
    const std::size_t end = stores[store].size();
    if (end > first) spans.push_back({store, first, end - first});
  }

  /// The first cell of `piece`, one of `spans`.
  const cell_voxel* first_of(const span& piece) const {
    return stores[piece.store].data() + piece.first;
  }
};

/// What a reader says besides its voxels: why it failed (without
/// "cubewright: "), and on success, lines for standard error.
struct source_report {
  std::string failure;
  std::vector<std::string> notes;
};

/// The smallest and largest placed position along each axis.
struct placed_bounds {
  bool empty = true;
  float min[3] = {0, 0, 0};
  float max[3] = {0, 0, 0};
  void add(float x, float y, float z) {
    const float at[3] = {x, y, z};
    for (int axis = 0; axis < 3; ++axis) {
      if (empty || at[axis] < min[axis]) min[axis] = at[axis];
      if (empty || at[axis] > max[axis]) max[axis] = at[axis];
    }
    empty = false;
  }
};

/// How many voxels went by, and where: what -v reports.
struct voxel_tally {
  std::size_t count = 0;
  placed_bounds bounds;
  void add(const voxel_record& record) {
    ++count;
    bounds.add(record.x, record.y, record.z);
  }
};

}  // namespace cubewright
