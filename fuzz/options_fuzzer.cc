// Splits arbitrary bytes at NUL into up to ten arguments and checks the
// command line rules against an independent model: usage below two
// arguments, input and output taken verbatim, offsets read the way strtoll
// reads them saturated to 32 bits, mirror switches by presence alone.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "app/options.h"

namespace {

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "property failed: %s\n", what);
    std::abort();
  }
}

std::int32_t model_offset(const std::string& argument) {
  // Stops at the first NUL, as atoi on the C string would; parse_options reads
  // the whole argument, where a NUL also ends the digits.
  const long long value = std::strtoll(argument.c_str(), nullptr, 10);
  if (value > std::numeric_limits<std::int32_t>::max())
    return std::numeric_limits<std::int32_t>::max();
  if (value < std::numeric_limits<std::int32_t>::min())
    return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> arguments;
  if (size > 0) {
    std::string current;
    for (std::size_t i = 0; i < size && arguments.size() < 10; ++i) {
      if (data[i] == 0) {
        arguments.push_back(current);
        current.clear();
      } else {
        current += static_cast<char>(data[i]);
      }
    }
    if (arguments.size() < 10) arguments.push_back(current);
  }

  // The lenient reading of the positional arguments; fewer than two are
  // the usage text.
  if (arguments.size() < 2) return 0;

  const cubewright::conversion_options options = cubewright::parse_options(arguments);
  const std::size_t count = arguments.size();
  check(options.input_path == arguments[0], "input path verbatim");
  check(options.output_path == arguments[1], "output path verbatim");
  check(options.offset_x == (count > 2 ? model_offset(arguments[2]) : 0), "offset_x");
  check(options.offset_y == (count > 3 ? model_offset(arguments[3]) : 0), "offset_y");
  check(options.offset_z == (count > 4 ? model_offset(arguments[4]) : 0), "offset_z");
  check(options.axis_factor_x == (count > 5 ? -1.0f : 1.0f), "axis_factor_x");
  check(options.axis_factor_y == (count > 6 ? -1.0f : 1.0f), "axis_factor_y");
  check(options.axis_factor_z == (count > 7 ? -1.0f : 1.0f), "axis_factor_z");
  return 0;
}
