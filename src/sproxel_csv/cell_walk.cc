#include "sproxel_csv/cell_walk.h"

#include <cstddef>

namespace cubewright {
namespace {

float colour_fraction(std::string_view token, std::size_t start) {
  if (start >= token.size()) return 0.0f;
  return static_cast<float>(parse_hex_pair(token.substr(start, 2))) * 0.00390625f;
}

}  // namespace

std::int32_t parse_hex_pair(std::string_view text) { return parse_integer(text, 16); }

voxel_record make_voxel_record(const cell_cursor& cursor, std::string_view token,
                               const model_placement& placement) {
  voxel_record record;
  record.x = place_index(cursor.cell_x, placement.axis_factor_x, placement.offset_x);
  record.y = place_index(cursor.cell_y, placement.axis_factor_y, placement.offset_y);
  record.z = place_index(cursor.cell_z, placement.axis_factor_z, placement.offset_z);
  std::uint8_t rgb[3];
  if (read_colour_bytes(token, rgb)) {
    record.r = static_cast<float>(rgb[0]) * 0.00390625f;
    record.g = static_cast<float>(rgb[1]) * 0.00390625f;
    record.b = static_cast<float>(rgb[2]) * 0.00390625f;
    return record;
  }
  record.r = colour_fraction(token, 1);
  record.g = colour_fraction(token, 3);
  record.b = colour_fraction(token, 5);
  return record;
}

}  // namespace cubewright
