#include "text/format_number.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace cubewright {
namespace {

// A nonzero magnitude rounded to six significant digits:
// digits (100000 to 999999) times 10^(exponent - 5).
struct rounded_value {
  std::uint32_t digits;
  int exponent;
};

// Rounds the exact decimal digits d[0..count) (d[0] nonzero), whose first
// digit stands for 10^exponent, to six digits; ties go to the even digit.
rounded_value round_to_six(const char* d, int count, int exponent) {
  std::uint32_t digits = 0;
  for (int i = 0; i < 6; ++i) {
    digits = digits * 10 + static_cast<std::uint32_t>(i < count ? d[i] - '0' : 0);
  }
  if (count > 6) {
    bool up = d[6] > '5';
    if (d[6] == '5') {
      bool beyond_half = false;
      for (int i = 7; i < count && !beyond_half; ++i) beyond_half = d[i] != '0';
      up = beyond_half || (digits % 2 == 1);
    }
    if (up && ++digits == 1000000) {
      digits = 100000;
      ++exponent;
    }
  }
  return {digits, exponent};
}

char* write_rounded(bool negative, rounded_value value, char* out) {
  if (negative) *out++ = '-';
  char d[6];
  for (int i = 5; i >= 0; --i) {
    d[i] = static_cast<char>('0' + value.digits % 10);
    value.digits /= 10;
  }
  int last = 5;  // the last digit worth writing
  while (last > 0 && d[last] == '0') --last;
  const int e = value.exponent;
  if (e < -4 || e > 5) {
    *out++ = d[0];
    if (last > 0) {
      *out++ = '.';
      for (int i = 1; i <= last; ++i) *out++ = d[i];
    }
    *out++ = 'e';
    *out++ = e < 0 ? '-' : '+';
    const int magnitude = e < 0 ? -e : e;
    if (magnitude >= 100) *out++ = static_cast<char>('0' + magnitude / 100);
    *out++ = static_cast<char>('0' + magnitude / 10 % 10);
    *out++ = static_cast<char>('0' + magnitude % 10);
  } else if (e >= 0) {
    for (int i = 0; i <= e; ++i) *out++ = d[i];
    if (last > e) {
      *out++ = '.';
      for (int i = e + 1; i <= last; ++i) *out++ = d[i];
    }
  } else {
    *out++ = '0';
    *out++ = '.';
    for (int i = -1; i > e; --i) *out++ = '0';
    for (int i = 0; i <= last; ++i) *out++ = d[i];
  }
  return out;
}

// Decimal digits of n, most significant first; returns the count.
int integer_digits(std::uint64_t n, char* out) {
  char reversed[20];
  int count = 0;
  do {
    reversed[count++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n != 0);
  for (int i = 0; i < count; ++i) out[i] = reversed[count - 1 - i];
  return count;
}

// Exact path for any finite nonzero magnitude: a float is m * 2^e, which is an
// integer times a power of ten once multiplied out, so its exact decimal digits
// come from big-integer arithmetic in base 10^9.
rounded_value round_exact(float magnitude) {
  int e = 0;
  const float fraction = std::frexp(magnitude, &e);
  auto m = static_cast<std::uint32_t>(std::ldexp(fraction, 24));
  e -= 24;
  while (m % 2 == 0) {
    m /= 2;
    ++e;
  }
  constexpr std::uint32_t base = 1000000000;
  std::array<std::uint32_t, 20> limbs{};  // least significant first
  int used = 1;
  limbs[0] = m;  // m < 2^24 < base
  auto multiply = [&](std::uint32_t factor) {
    std::uint64_t carry = 0;
    for (int i = 0; i < used; ++i) {
      const std::uint64_t product =
          std::uint64_t{limbs[static_cast<std::size_t>(i)]} * factor + carry;
      limbs[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(product % base);
      carry = product / base;
    }
    while (carry != 0) {
      limbs[static_cast<std::size_t>(used++)] = static_cast<std::uint32_t>(carry % base);
      carry /= base;
    }
  };
  int power_of_ten = 0;
  if (e > 0) {
    for (int left = e; left > 0; left -= 28) multiply(std::uint32_t{1} << (left < 28 ? left : 28));
  } else {
    // m * 2^e = m * 5^-e * 10^e
    for (int left = -e; left > 0; left -= 12) {
      std::uint32_t factor = 1;
      for (int i = 0; i < (left < 12 ? left : 12); ++i) factor *= 5;
      multiply(factor);
    }
    power_of_ten = e;
  }
  char digits[200];
  int count = integer_digits(limbs[static_cast<std::size_t>(used - 1)], digits);
  for (int i = used - 2; i >= 0; --i) {
    std::uint32_t limb = limbs[static_cast<std::size_t>(i)];
    for (int j = 8; j >= 0; --j) {
      digits[count + j] = static_cast<char>('0' + limb % 10);
      limb /= 10;
    }
    count += 9;
  }
  return round_to_six(digits, count, count - 1 + power_of_ten);
}

struct number_text {
  std::array<char, max_number_text> text;
  std::size_t size;
};

// The text of k/256 for k = 1 to 255, worked out by the compiler: k/256 is
// exactly k * 390625 / 10^8, so rounding it to six digits (ties to even) needs
// only integers, and every such value is written in fixed notation.
constexpr number_text fraction_text(std::uint32_t k) {
  const std::uint32_t eighths = k * 390625;  // the eight digits after the point
  int count = 0;                             // how many of them are significant
  for (std::uint32_t rest = eighths; rest != 0; rest /= 10) ++count;
  int exponent = count - 9;  // of the first significant digit
  std::uint32_t divisor = 1;
  for (int i = 6; i < count; ++i) divisor *= 10;
  std::uint32_t digits = eighths / divisor;  // count is at least 6
  const std::uint32_t rest = eighths % divisor;
  if (rest * 2 > divisor || (rest * 2 == divisor && digits % 2 == 1)) ++digits;
  if (digits == 1000000) {
    digits = 100000;
    ++exponent;
  }
  while (digits % 10 == 0) digits /= 10;
  number_text text{};
  text.text[text.size++] = '0';
  text.text[text.size++] = '.';
  for (int i = -1; i > exponent; --i) text.text[text.size++] = '0';
  const std::size_t first = text.size;
  for (; digits != 0; digits /= 10) text.text[text.size++] = static_cast<char>('0' + digits % 10);
  for (std::size_t i = first, j = text.size - 1; i < j; ++i, --j) {
    const char swap = text.text[i];
    text.text[i] = text.text[j];
    text.text[j] = swap;
  }
  return text;
}

// Colour fractions are nearly every non-integral value a document holds.
constexpr std::array<number_text, 256> fraction_texts = [] {
  std::array<number_text, 256> table{};
  for (std::uint32_t k = 1; k < table.size(); ++k) table[k] = fraction_text(k);
  return table;
}();

// "00" to "99".
constexpr std::array<char, 200> digit_pairs = [] {
  std::array<char, 200> pairs{};
  for (std::size_t n = 0; n < 100; ++n) {
    pairs[2 * n] = static_cast<char>('0' + n / 10);
    pairs[2 * n + 1] = static_cast<char>('0' + n % 10);
  }
  return pairs;
}();

// The digits of a whole number below a million.
std::size_t small_whole_digits(std::uint32_t n, char* out) {
  if (n < 10) {
    *out = static_cast<char>('0' + n);
    return 1;
  }
  if (n < 100) {
    std::memcpy(out, &digit_pairs[std::size_t{2} * n], 2);
    return 2;
  }
  if (n < 1000) {
    *out = static_cast<char>('0' + n / 100);
    std::memcpy(out + 1, &digit_pairs[std::size_t{2} * (n % 100)], 2);
    return 3;
  }
  const std::size_t count = n < 10000 ? 4 : n < 100000 ? 5 : 6;
  for (std::size_t i = count; i-- > 0;) {
    out[i] = static_cast<char>('0' + n % 10);
    n /= 10;
  }
  return count;
}

}  // namespace

// Every other value: not a number, infinities, whole numbers from a million
// up, and fractions that are not colours. Not in the unnamed namespace: a
// function with one caller there is merged into it, and then the common
// cases of format_number would pay for this one's large stack frame.
std::size_t format_any_number(float value, char* out) {
  if (std::isnan(value)) {
    const std::string_view text = std::signbit(value) ? "-nan" : "nan";
    std::memcpy(out, text.data(), text.size());
    return text.size();
  }
  const bool negative = value < 0.0f;
  const float magnitude = negative ? -value : value;
  char* start = out;
  if (std::isinf(magnitude)) {
    if (negative) *out++ = '-';
    constexpr std::string_view inf = "inf";
    std::memcpy(out, inf.data(), inf.size());
    return static_cast<std::size_t>(out + inf.size() - start);
  }
  if (magnitude < 18446744073709551616.0f) {
    const auto whole = static_cast<std::uint64_t>(magnitude);
    if (static_cast<float>(whole) == magnitude) {
      char digits[20];
      const int count = integer_digits(whole, digits);
      return static_cast<std::size_t>(
          write_rounded(negative, round_to_six(digits, count, count - 1), out) - start);
    }
  }
  return static_cast<std::size_t>(write_rounded(negative, round_exact(magnitude), out) - start);
}

std::size_t format_number(float value, char* out) {
  // The two kinds of value a document is made of come first: colour
  // fractions k/256 and whole coordinates below a million.
  if (value > 0.0f && value < 1.0f) {
    const float scaled = value * 256.0f;  // exact: a power of two
    const auto k = static_cast<std::size_t>(scaled);
    if (static_cast<float>(k) == scaled) {
      const number_text& text = fraction_texts[k];
      // A copy of fixed size is cheaper, and `out` has room for all of it.
      std::memcpy(out, text.text.data(), text.text.size());
      return text.size;
    }
  }
  if (value > -1000000.0f && value < 1000000.0f) {
    const auto whole = static_cast<std::int32_t>(value);
    if (static_cast<float>(whole) == value) {  // both zeros too, written "0"
      if (whole >= 0) return small_whole_digits(static_cast<std::uint32_t>(whole), out);
      *out = '-';
      return 1 + small_whole_digits(static_cast<std::uint32_t>(-whole), out + 1);
    }
  }
  return format_any_number(value, out);
}

std::string format_number(float value) {
  char text[max_number_text];
  return std::string(text, format_number(value, text));
}

}  // namespace cubewright
