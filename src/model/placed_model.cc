#include "model/placed_model.h"

#include "text/format_number.h"

namespace cubewright {

std::uint8_t colour_byte(float fraction) {
  const float scaled = fraction * 256.0f + 0.5f;
  if (!(scaled >= 1.0f)) return 0;  // NaN too
  // Positive: truncation is the floor.
  return scaled >= 255.0f ? std::uint8_t{255} : static_cast<std::uint8_t>(scaled);
}

bool whole_cell(float value, std::int32_t& cell) {
  if (!(value >= -2147483648.0f && value < 2147483648.0f)) return false;
  cell = static_cast<std::int32_t>(value);  // in range: truncates toward zero
  return static_cast<float>(cell) == value;
}

std::int32_t nearest_cell(float value) {
  const float shifted = value + 0.5f;
  if (!(shifted >= -2147483648.0f)) return shifted != shifted ? 0 : -2147483647 - 1;
  if (!(shifted < 2147483648.0f)) return 2147483647;
  // Truncation toward zero, then down by one where that went up: floor.
  const auto cell = static_cast<std::int32_t>(shifted);
  return static_cast<float>(cell) > shifted ? cell - 1 : cell;
}

cell_voxel drawn_cell(const voxel_record& record) {
  return {nearest_cell(record.x), nearest_cell(record.y), nearest_cell(record.z),
          colour_byte(record.r),  colour_byte(record.g),  colour_byte(record.b)};
}

bool to_whole_cell(const voxel_record& record, cell_voxel& cell, int& axis) {
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

std::string not_whole_cell_failure(const std::string& place, int axis, float value) {
  return "cannot convert: " + place + ": " + static_cast<char>('x' + axis) + "=\"" +
         format_number(value) +
         "\" is not a whole cell (CSV and .vox positions are whole numbers within 32 bits)";
}

void placed_bounds::add(float x, float y, float z) {
  const float at[3] = {x, y, z};
  for (int axis = 0; axis < 3; ++axis) {
    if (empty || at[axis] < min[axis]) min[axis] = at[axis];
    if (empty || at[axis] > max[axis]) max[axis] = at[axis];
  }
  empty = false;
}

}  // namespace cubewright
