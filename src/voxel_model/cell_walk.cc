#include "voxel_model/cell_walk.h"

namespace cubewright {
namespace {

bool is_c_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int hex_digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Index times factor plus offset, each step rounded to single precision.
float place(std::int64_t index, float factor, std::int32_t offset) {
  const float scaled = static_cast<float>(index) * factor;
  return scaled + static_cast<float>(offset);
}

float colour_fraction(std::string_view token, std::size_t start) {
  if (start >= token.size()) return 0.0f;
  return static_cast<float>(parse_hex_pair(token.substr(start, 2))) * 0.00390625f;
}

}  // namespace

std::int32_t parse_hex_pair(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && is_c_space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // A "0x" prefix reads as the digit 0 when nothing follows it, which gives
  // the same value, so only a prefix with a digit after it needs skipping.
  if (i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
      hex_digit_value(text[i + 2]) >= 0) {
    i += 2;
  }
  constexpr std::int64_t bound = std::int64_t{1} << 31;
  std::int64_t magnitude = 0;
  for (int digit; i < text.size() && (digit = hex_digit_value(text[i])) >= 0; ++i) {
    magnitude = magnitude * 16 + digit;
    if (magnitude > bound) magnitude = bound;
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value > bound - 1) return static_cast<std::int32_t>(bound - 1);
  return static_cast<std::int32_t>(value);
}

voxel_record make_voxel_record(const cell_cursor& cursor, std::string_view token,
                               const model_placement& placement) {
  voxel_record record;
  record.x = place(cursor.cell_x, placement.axis_factor_x, placement.offset_x);
  record.y = place(cursor.cell_y, placement.axis_factor_y, placement.offset_y);
  record.z = place(cursor.cell_z, placement.axis_factor_z, placement.offset_z);
  record.r = colour_fraction(token, 1);
  record.g = colour_fraction(token, 3);
  record.b = colour_fraction(token, 5);
  return record;
}

}  // namespace cubewright
