// The .vox writer: voxels of the game frame in, the bytes of a file the
// editor opens out.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "model/placed_model.h"

namespace cubewright {

/// How the colours of a model fitted the palette's 255 entries.
struct vox_colour_report {
  /// Distinct (r, g, b) of the voxels.
  std::size_t colours_in = 0;
  /// Palette entries used: colours_in, or 255 when they had to be reduced.
  std::size_t colours_out = 0;
  /// The largest distance, in RGB bytes, between a voxel's colour and the
  /// palette entry it was given; 0 when every colour fitted exactly.
  double largest_error = 0;
};

struct vox_write_result {
  /// The whole file; empty when `error` is set.
  std::string bytes;
  vox_colour_report colours;
  /// Empty on success; otherwise why no file could be made.
  std::string error;
};

/// A version 150 file with a palette and a scene graph that read_vox reads
/// back to exactly these cells. No two voxels may share a cell. Models are at
/// most 256 cells along each axis: a larger one is cut into tiles, each placed
/// by its translation. More than 255 colours are reduced to 255 by cutting
/// the colour space into boxes where the squared error falls most, and each
/// colour takes the nearest. The bytes depend only on the voxels and their
/// order.
vox_write_result write_vox(const std::vector<cell_voxel>& voxels);

}  // namespace cubewright
