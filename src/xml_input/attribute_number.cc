#include "xml_input/attribute_number.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace cubewright {
namespace {

constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string_view trim_blanks(std::string_view text) {
  std::size_t first = 0;
  while (first < text.size() && is_blank(text[first])) ++first;
  std::size_t last = text.size();
  while (last > first && is_blank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

}  // namespace

bool read_decimal_fast(std::string_view text, double& value) {
  const std::string_view number = trim_blanks(text);
  const char* p = number.data();
  const char* const end = p + number.size();
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  std::uint64_t mantissa = 0;
  int significant_digits = 0;
  int digits = 0;
  int exponent = 0;
  for (; p != end && is_digit(*p); ++p, ++digits) {
    if (mantissa != 0 || *p != '0') ++significant_digits;
    mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
    if (significant_digits > 19) return false;
  }
  if (p != end && *p == '.') {
    for (++p; p != end && is_digit(*p); ++p, ++digits) {
      if (mantissa != 0 || *p != '0') ++significant_digits;
      mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
      if (significant_digits > 19) return false;
      --exponent;
    }
  }
  if (digits == 0) return false;
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
  if (p != end) return false;
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
  return true;
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
  return number_status::ok;
}

}  // namespace cubewright
