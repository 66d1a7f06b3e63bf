#include "csv_input/grid_size.h"

#include <limits>

namespace cubewright {
namespace {

bool is_c_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::int32_t parse_decimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && is_c_space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Past this bound the value saturates whatever its sign, so the
  // accumulator never overflows however many digits follow.
  constexpr std::int64_t bound = std::int64_t{1} << 31;
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > bound) magnitude = bound;
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<std::int32_t>::max()) {
    return std::numeric_limits<std::int32_t>::max();
  }
  return static_cast<std::int32_t>(value);
}

std::optional<grid_size> parse_grid_size(const token_list& tokens) {
  std::string_view fields[3];
  int count = 0;
  for (auto it = tokens.begin(); count < 3 && it != tokens.end(); ++it) fields[count++] = *it;
  if (count < 3) return std::nullopt;
  return grid_size{parse_decimal(fields[0]), parse_decimal(fields[1]), parse_decimal(fields[2])};
}

}  // namespace cubewright
