#include "text/format_number.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

namespace cubewright {
namespace {

// Reference: the "%g" text of n * 10^scale (n > 0), worked out on decimal
// integers alone; exact for every colour fraction (k/256 = k * 390625e-8) and
// every whole number that fits in 64 bits.
std::string reference_text(bool negative, std::uint64_t n, int scale) {
  const std::string all = std::to_string(n);
  int exponent = static_cast<int>(all.size()) - 1 + scale;
  std::uint64_t digits = n;
  if (all.size() > 6) {
    std::uint64_t divisor = 1;
    for (std::size_t i = 6; i < all.size(); ++i) divisor *= 10;
    digits = n / divisor;
    const std::uint64_t rest = n % divisor;
    const std::uint64_t half = divisor / 2;
    if (rest > half || (rest == half && digits % 2 == 1)) ++digits;
    if (digits == 1000000) {
      digits = 100000;
      ++exponent;
    }
  } else {
    for (std::size_t i = all.size(); i < 6; ++i) digits *= 10;
  }
  std::string six = std::to_string(digits);
  while (six.size() > 1 && six.back() == '0') six.pop_back();
  std::string text = negative ? "-" : "";
  if (exponent < -4 || exponent > 5) {
    text += six.substr(0, 1);
    if (six.size() > 1) text += "." + six.substr(1);
    const int magnitude = std::abs(exponent);
    text += exponent < 0 ? "e-" : "e+";
    if (magnitude < 10) text += "0";
    text += std::to_string(magnitude);
  } else if (exponent >= 0) {
    const std::size_t whole = static_cast<std::size_t>(exponent) + 1;
    text += six.size() <= whole ? six + std::string(whole - six.size(), '0')
                                : six.substr(0, whole) + "." + six.substr(whole);
  } else {
    text += "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + six;
  }
  return text;
}

std::string whole_reference(std::int64_t value) {
  if (value == 0) return "0";
  const bool negative = value < 0;
  return reference_text(negative, static_cast<std::uint64_t>(negative ? -value : value), 0);
}

// The C library's "%g", where it is known to round exactly (ties to even) and
// write two exponent digits; empty elsewhere.
std::string libc_text(float value) {
  static const bool trustworthy = [] {
    char a[32];
    char b[32];
    std::snprintf(a, sizeof a, "%.6g", 0.01953125);
    std::snprintf(b, sizeof b, "%.6g", 1e6);
    return std::strcmp(a, "0.0195312") == 0 && std::strcmp(b, "1e+06") == 0;
  }();
  if (!trustworthy) return {};
  char text[64];
  std::snprintf(text, sizeof text, "%.6g", static_cast<double>(value));
  return std::strcmp(text, "-0") == 0 ? "0" : text;
}

TEST(FormatNumber, KnownTexts) {
  const struct {
    float value;
    const char* text;
  } cases[] = {
      {0.0f, "0"},
      {-0.0f, "0"},
      {3.0f, "3"},
      {-2.0f, "-2"},
      {0.5f, "0.5"},
      {0.99609375f, "0.996094"},
      {0.00390625f, "0.00390625"},
      {0.01171875f, "0.0117188"},
      {0.01953125f, "0.0195312"},
      {0.9765625f, "0.976562"},
      {999999.0f, "999999"},
      {1000000.0f, "1e+06"},
      {-16777216.0f, "-1.67772e+07"},
      {9999995.0f, "1e+07"},
      {1234565.0f, "1.23456e+06"},
      {1234575.0f, "1.23458e+06"},
      {0.0001f, "0.0001"},
      {0.00001f, "1e-05"},
      {1e38f, "1e+38"},
      {1e-40f, "9.99995e-41"},
      {3.4028235e38f, "3.40282e+38"},
      {1.0e-45f, "1.4013e-45"},
      {0.1f, "0.1"},
      {123456.7f, "123457"},
      {-0.0625f, "-0.0625"},
      {INFINITY, "inf"},
      {-INFINITY, "-inf"},
  };
  for (const auto& c : cases) EXPECT_EQ(format_number(c.value), c.text) << c.text;
}

TEST(FormatNumber, EveryColourFraction) {
  for (int k = -255; k <= 255; ++k) {
    const float value = static_cast<float>(k) * 0.00390625f;
    const std::string expected =
        k == 0 ? "0" : reference_text(k < 0, static_cast<std::uint64_t>(std::abs(k)) * 390625, -8);
    ASSERT_EQ(format_number(value), expected) << k << "/256";
    const std::string libc = libc_text(value);
    if (!libc.empty()) {
      ASSERT_EQ(expected, libc) << k << "/256";
    }
  }
}

TEST(FormatNumber, WholeNumbersAcrossTheWalksRange) {
  // Every whole number around the switch to exponent notation, and a sweep
  // with a coarse stride up to and beyond 2^24 and 2^32.
  for (std::int64_t i = -1100000; i <= 1100000; ++i) {
    ASSERT_EQ(format_number(static_cast<float>(i)), whole_reference(i)) << i;
  }
  std::mt19937_64 random(20261207);
  for (int n = 0; n < 2000000; ++n) {
    const int bits = static_cast<int>(random() % 42);
    auto magnitude = static_cast<std::int64_t>(random() >> (64 - 1 - bits) >> 1);
    if (random() % 2) magnitude = -magnitude;
    const float value = static_cast<float>(magnitude);
    const auto exact = static_cast<std::int64_t>(value);  // the whole number the float holds
    ASSERT_EQ(format_number(value), whole_reference(exact)) << exact;
  }
  for (int power = 0; power < 63; ++power) {
    const std::int64_t p = std::int64_t{1} << power;
    for (std::int64_t near : {p - 1, p, p + 1}) {
      const auto exact = static_cast<std::int64_t>(static_cast<float>(near));
      ASSERT_EQ(format_number(static_cast<float>(near)), whole_reference(exact)) << near;
    }
  }
}

TEST(FormatNumber, ArbitraryFloatsMatchAnExactlyRoundingLibc) {
  if (libc_text(1.0f).empty()) GTEST_SKIP() << "this C library's %g does not round exactly";
  std::mt19937 random(7);
  for (int n = 0; n < 2000000; ++n) {
    const auto bits = static_cast<std::uint32_t>(random());
    float value;
    std::memcpy(&value, &bits, sizeof value);
    if (std::isnan(value)) continue;
    ASSERT_EQ(format_number(value), libc_text(value)) << std::hex << bits;
  }
}

TEST(FormatNumber, NeverWritesMoreThanItsLimit) {
  char text[max_number_text + 8];
  for (float value : {-1.17549435e-38f, -3.4028235e38f, -0.000123456f, -123456.0f, -1.0e-45f}) {
    std::memset(text, 'z', sizeof text);
    EXPECT_LE(format_number(value, text), max_number_text);
    EXPECT_EQ(text[max_number_text], 'z');
  }
}

}  // namespace
}  // namespace cubewright
