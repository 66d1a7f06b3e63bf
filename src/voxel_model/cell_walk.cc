#include "voxel_model/cell_walk.h"

#include <array>
#include <cstddef>

namespace cubewright {
namespace {

// The value of every byte as a hex digit, -1 for the others. A table, since
// the digits of colours are as good as random and branches on them mispredict.
constexpr std::array<std::int8_t, 256> hex_digit_values = [] {
  std::array<std::int8_t, 256> values{};
  for (int c = 0; c < 256; ++c) {
    values[static_cast<std::size_t>(c)] =
        static_cast<std::int8_t>(c >= '0' && c <= '9'   ? c - '0'
                                 : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                 : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                        : -1);
  }
  return values;
}();

int hex_digit_value(char c) { return hex_digit_values[static_cast<unsigned char>(c)]; }

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
  if (token.size() >= 7) {
    // Six hex digits, as every exported colour has them, need none of the
    // rules for signs, prefixes and white space. A byte that is no digit
    // reads as -1, so any such byte makes the OR negative.
    int digits[6];
    for (std::size_t i = 0; i < 6; ++i) digits[i] = hex_digit_value(token[i + 1]);
    if ((digits[0] | digits[1] | digits[2] | digits[3] | digits[4] | digits[5]) >= 0) {
      record.r = static_cast<float>(digits[0] * 16 + digits[1]) * 0.00390625f;
      record.g = static_cast<float>(digits[2] * 16 + digits[3]) * 0.00390625f;
      record.b = static_cast<float>(digits[4] * 16 + digits[5]) * 0.00390625f;
      return record;
    }
  }
  record.r = colour_fraction(token, 1);
  record.g = colour_fraction(token, 3);
  record.b = colour_fraction(token, 5);
  return record;
}

}  // namespace cubewright
