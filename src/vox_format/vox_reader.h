// The .vox reader: a file's bytes in, the voxels its scene places out, in the
// game frame.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/placed_model.h"

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
  /// Key frames left out of an animated scene: of a transform's frames and
  /// of a shape's models, only those of the lowest frame number (`_f`, 0
  /// where none is given) are placed, as the editor shows the scene first.
  /// The count of frame numbers that no node placed.
  std::uint32_t key_frames_left_out = 0;
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

/// One placement of a model by the scene. A record (x, y, z, colour index)
/// of the model with an index other than 0 is a voxel on the game cell
/// base[a] + sign[a] * record[column[a]] along each axis a, in the colour
/// palette[index]; every one lies within 32 bits.
struct vox_model_placement {
  const unsigned char* records = nullptr;  ///< four bytes each, in the file's bytes
  std::uint32_t record_count = 0;
  std::int64_t base[3] = {0, 0, 0};
  std::int64_t sign[3] = {1, 1, 1};
  std::size_t column[3] = {0, 1, 2};
  const std::array<std::uint8_t, 3>* palette = nullptr;  ///< 256 colours
};

/// Hands every voxel of a placement to `visit` as a cell_voxel, in the order
/// of the model's records.
template <typename Visit>
void visit_placed_voxels(const vox_model_placement& placed, Visit&& visit) {
  const unsigned char* record = placed.records;
  const unsigned char* const end = record + std::size_t{4} * placed.record_count;
  for (; record != end; record += 4) {
    if (record[3] == 0) continue;
    const std::array<std::uint8_t, 3>& rgb = placed.palette[record[3]];
    cell_voxel voxel;
    voxel.x = static_cast<std::int32_t>(placed.base[0] + placed.sign[0] * record[placed.column[0]]);
    voxel.y = static_cast<std::int32_t>(placed.base[1] + placed.sign[1] * record[placed.column[1]]);
    voxel.z = static_cast<std::int32_t>(placed.base[2] + placed.sign[2] * record[placed.column[2]]);
    voxel.r = rgb[0];
    voxel.g = rgb[1];
    voxel.b = rgb[2];
    visit(voxel);
  }
}

/// What the scene of a .vox file places, told as it is walked.
class vox_scene_visitor {
 public:
  virtual ~vox_scene_visitor() = default;
  /// Before any placement: how many voxels the scene places in all.
  virtual void start(std::uint64_t voxels) { static_cast<void>(voxels); }
  /// Each placement of a model, in the order read_vox places their voxels.
  virtual void place(const vox_model_placement& placed) = 0;
};

/// Reads a .vox file as read_vox does, but tells `visitor` each placement
/// of a model instead of keeping its voxels: `voxels` stays empty. Reading
/// the same bytes again tells the same placements in the same order.
vox_read_result read_vox_scene(std::string_view bytes, vox_scene_visitor& visitor,
                               const vox_read_limits& limits = {});

}  // namespace cubewright
