// The .vox reader: a file's bytes in, the voxels its scene places out, in the
// game frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "voxel_model/cell_voxel.h"

namespace cubewright {

/// True when the bytes begin with the four bytes "VOX ": the file is read as
/// .vox whatever its name.
bool looks_like_vox(std::string_view bytes);

/// Bounds on what one file may make the reader do, so that no size or count
/// in a file, and no scene that places a model many times over, can take
/// unbounded time or memory. A file past a bound is refused as damaged.
struct vox_read_limits {
  /// Voxels placed by the whole scene; each takes 16 bytes of the result.
  std::uint64_t max_placed_voxels = std::uint64_t{1} << 25;
  /// Scene nodes visited by the walk, counting every repeated visit.
  std::uint64_t max_node_visits = std::uint64_t{1} << 24;
  /// Nodes on the path from the root to the deepest node.
  std::uint32_t max_scene_depth = 1024;
};

/// What a file holds, or why it is damaged.
struct vox_read_result {
  /// Every voxel in the order the scene places it. Two may share a cell: the
  /// one placed later is meant to win. Empty when the file is damaged.
  std::vector<cell_voxel> voxels;
  /// Models left out of a file without a scene graph (animation frames): all
  /// but the first.
  std::uint32_t frames_left_out = 0;
  /// How many times the scene placed a model, hidden ones not counted.
  std::uint64_t model_placements = 0;
  /// Empty when the file was read; otherwise a short lower-case account of
  /// the damage ("voxel outside its model size") ...
  std::string error;
  /// ... and the offset of the byte where it was found.
  std::size_t error_offset = 0;
};

/// Reads a whole .vox file: models, palette and scene graph. Chunks it has
/// no use for are skipped by their sizes. Never reads outside `bytes`.
vox_read_result read_vox(std::string_view bytes, const vox_read_limits& limits = {});

}  // namespace cubewright
