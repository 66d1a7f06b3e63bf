// Checks format_number against the C library's "%.6g" of the value widened to
// double (glibc rounds correctly, ties to even), for every four bytes of input
// taken as the bits of a float. Both zeros are written "0".
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "text/format_number.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (std::size_t at = 0; at + 4 <= size; at += 4) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, data + at, 4);
    float value = 0;
    std::memcpy(&value, &bits, 4);

    char expected[64];
    std::snprintf(expected, sizeof expected, "%.6g", static_cast<double>(value));
    if (std::strcmp(expected, "-0") == 0) std::strcpy(expected, "0");

    char text[cubewright::max_number_text + 16];
    const std::size_t length = cubewright::format_number(value, text);
    const std::string written(text, length);
    if (length > cubewright::max_number_text || written != expected ||
        cubewright::format_number(value) != written) {
      std::fprintf(stderr, "format_number(bits 0x%08x) wrote \"%s\", expected \"%s\"\n",
                   static_cast<unsigned>(bits), written.c_str(), expected);
      std::abort();
    }
  }
  return 0;
}
