// Writes the benchmark model (see model_text.h) of SIDE cells a side.
//
//   generate_model SIDE OUTPUT_CSV [SEED]

#include <cstdio>
#include <cstdlib>
#include <string>

#include "model_text.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: generate_model SIDE OUTPUT_CSV [SEED]\n");
    return 2;
  }
  const long side = std::strtol(argv[1], nullptr, 10);
  if (side < 1 || side > 512) {
    std::fprintf(stderr, "generate_model: SIDE must be 1 to 512: %s\n", argv[1]);
    return 2;
  }
  const std::uint64_t seed =
      argc > 3 ? std::strtoull(argv[3], nullptr, 10) : cubewright_bench::default_model_seed;
  const std::string text = cubewright_bench::model_text(static_cast<int>(side), seed);
  std::FILE* out = std::fopen(argv[2], "wb");
  if (out == nullptr || std::fwrite(text.data(), 1, text.size(), out) != text.size() ||
      std::fclose(out) != 0) {
    std::perror(argv[2]);
    return 1;
  }
  return 0;
}
