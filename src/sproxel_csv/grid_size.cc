#include "sproxel_csv/grid_size.h"

#include <limits>

namespace cubewright {
namespace {

bool is_c_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int digit_value(char c, int base) {
  int value = base;
  if (c >= '0' && c <= '9') value = c - '0';
  if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  return value < base ? value : -1;
}

}  // namespace

std::int32_t parse_integer(std::string_view text, int base) {
  std::size_t i = 0;
  while (i < text.size() && is_c_space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // A "0x" with no digit after it reads as the digit 0, which gives the
  // same value, so only a prefix with a digit after it needs skipping.
  if (base == 16 && i + 2 < text.size() && text[i] == '0' &&
      (text[i + 1] == 'x' || text[i + 1] == 'X') && digit_value(text[i + 2], base) >= 0) {
    i += 2;
  }
  // Past this bound the value saturates whatever its sign, so the
  // accumulator never overflows however many digits follow.
  constexpr std::int64_t bound = std::int64_t{1} << 31;
  std::int64_t magnitude = 0;
  for (int digit = 0; i < text.size() && (digit = digit_value(text[i], base)) >= 0; ++i) {
    magnitude = magnitude * base + digit;
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

namespace {

bool is_whole_number(std::string_view field) {
  if (!field.empty() && (field[0] == '-' || field[0] == '+')) field.remove_prefix(1);
  if (field.empty()) return false;
  for (char c : field) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

bool looks_like_sproxel_export(std::string_view text) {
  const token_list tokens = read_token_list(text);
  int index = 0;
  for (std::string_view field : tokens) {
    if (index == 3) return field[0] == '#';
    if (!is_whole_number(field)) return false;
    ++index;
  }
  return false;
}

}  // namespace cubewright
