// A voxel on a whole-number cell of the game frame, with its colour as bytes:
// what the .vox reader places, the .vox writer stores and the preview draws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/voxel_record.h"

namespace cubewright {

/// One voxel: its cell in the game frame (x right, y up, z toward the viewer)
/// and its colour bytes, the fractions of the document times 256.
struct cell_voxel {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t z = 0;
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
};

/// Voxels gathered in pieces, one sequence read piece after piece: the cells
/// several threads read, each into a store of its own, kept where they were
/// put rather than copied together. `spans` are the sequence in order, each
/// a run of consecutive cells of one store.
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

/// The document's record of a voxel placed by `placement`.
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

}  // namespace cubewright
