// What the cell walk makes of one filled cell, and how it places cells.
#pragma once

#include <cstdint>

namespace cubewright {

/// One filled cell as written to the document: its position after offsets
/// and mirroring (whole numbers), and its colour as fractions of 256.
struct voxel_record {
  float x = 0;
  float y = 0;
  float z = 0;
  float r = 0;
  float g = 0;
  float b = 0;
};

/// How the cell indices become positions: each index is multiplied by its
/// axis factor (1 or -1) and shifted by its offset.
struct model_placement {
  std::int32_t offset_x = 0;
  std::int32_t offset_y = 0;
  std::int32_t offset_z = 0;
  float axis_factor_x = 1.0f;
  float axis_factor_y = 1.0f;
  float axis_factor_z = 1.0f;
};

/// A cell index placed on its axis: times the factor, plus the offset, each
/// step rounded to single precision.
inline float place_index(std::int64_t index, float factor, std::int32_t offset) {
  const float scaled = static_cast<float>(index) * factor;
  return scaled + static_cast<float>(offset);
}

}  // namespace cubewright
