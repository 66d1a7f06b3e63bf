// A voxel on a whole-number cell of the game frame, with its colour as bytes:
// what the .vox reader places, the .vox writer stores and the preview draws.
#pragma once

#include <cstdint>

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

}  // namespace cubewright
