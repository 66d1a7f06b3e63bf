#include "model_document/attribute_number.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace cubewright {
namespace {

constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The largest number of the fast path, so none of its numbers needs the
// finiteness check.
static_assert(9007199254740992.0 * 1e22 < FLT_MAX, "the fast path's numbers are finite floats");

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::uint32_t digit_value(char c) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(c)) - '0';
}

bool is_digit(char c) { return digit_value(c) <= 9; }

std::string_view trim_blanks(std::string_view text) {
  std::size_t first = 0;
  while (first < text.size() && is_blank(text[first])) ++first;
  std::size_t last = text.size();
  while (last > first && is_blank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

}  // namespace

bool read_decimal_prefix(const char*& first, const char* end, double& value) {
  const char* p = first;
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  // Leading zeros add nothing to the mantissa; past 19 other digits it may
  // wrap, which the count below catches.
  std::uint64_t mantissa = 0;
  const char* const digits_start = p;
  for (; p != end && is_digit(*p); ++p) mantissa = mantissa * 10 + digit_value(*p);
  std::ptrdiff_t digits = p - digits_start;
  int exponent = 0;
  if (p != end && *p == '.') {
    const char* const fraction_start = ++p;
    for (; p != end && is_digit(*p); ++p) mantissa = mantissa * 10 + digit_value(*p);
    if (p - fraction_start > 100000) return false;
    digits += p - fraction_start;
    exponent = -static_cast<int>(p - fraction_start);
  }
  if (digits == 0) return false;
  if (digits > 19) {
    std::ptrdiff_t significant = 0;
    for (const char* d = digits_start; d != p; ++d) {
      if (significant != 0 || (*d != '0' && *d != '.')) significant += *d != '.';
    }
    if (significant > 19) return false;
  }
  if (p != end && (*p == 'e' || *p == 'E')) {
    ++p;
    bool negative_exponent = false;
    if (p != end && (*p == '+' || *p == '-')) negative_exponent = *p++ == '-';
    if (p == end || !is_digit(*p)) return false;
    int written = 0;
    for (; p != end && is_digit(*p); ++p) {
      if (written < 100000) written = written * 10 + (*p - '0');
    }
    exponent += negative_exponent ? -written : written;
  }
  if (mantissa > (std::uint64_t{1} << 53)) return false;
  double result = static_cast<double>(mantissa);
  if (mantissa != 0) {
    if (exponent < -22 || exponent > 22) return false;
    if (exponent < 0) {
      result /= exact_powers_of_ten[-exponent];
    } else {
      result *= exact_powers_of_ten[exponent];
    }
  }
  value = negative ? -result : result;
  first = p;
  return true;
}

bool read_decimal_fast(std::string_view text, double& value) {
  const std::string_view number = trim_blanks(text);
  const char* p = number.data();
  const char* const end = p + number.size();
  return read_decimal_prefix(p, end, value) && p == end;
}

number_status read_number(std::string_view text, float& value) {
  double fast = 0;
  if (read_decimal_fast(text, fast)) {
    value = static_cast<float>(fast);
    return number_status::ok;
  }
  const std::string_view number = trim_blanks(text);
  if (number.size() > max_number_text_length) return number_status::too_long;
  char copy[max_number_text_length + 1];
  std::memcpy(copy, number.data(), number.size());
  copy[number.size()] = '\0';
  char* rest = nullptr;
  const double read = std::strtod(copy, &rest);
  if (rest == copy || rest != copy + number.size()) return number_status::not_a_number;
  value = static_cast<float>(read);
  return std::isfinite(value) ? number_status::ok : number_status::not_finite;
}

}  // namespace cubewright
