// Writes a benchmark model: a cube of `side` cells a side, laid out as the
// voxel editor exports it. The size header, then for each layer from the top
// one line per z row with its x cells joined by ",", and a blank line after
// each layer. About a fifth of the cells are filled with varied colours; the
// rest hold the empty marker. The same side and seed always give the same
// bytes, on every platform.
//
//   generate_model SIDE OUTPUT_CSV [SEED]

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// splitmix64: small, fast, and fully defined, unlike the standard
// distributions, whose results differ between libraries.
struct random_bits {
  std::uint64_t state;

  std::uint64_t next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }
};

const char hex_digits[] = "0123456789ABCDEF";

void append_cell(std::string& line, random_bits& random) {
  const std::uint64_t bits = random.next();
  // One cell in five is filled: r, g and b are any byte, alpha mostly
  // opaque, as painted models are.
  if (bits % 5 != 0) {
    line += "#00000000";
    return;
  }
  const std::uint64_t colour = bits >> 8;
  const unsigned alpha =
      (colour >> 24) % 8 == 0 ? static_cast<unsigned>(colour >> 32) & 0xFFu : 0xFFu;
  const unsigned pairs[4] = {static_cast<unsigned>(colour) & 0xFFu,
                             static_cast<unsigned>(colour >> 8) & 0xFFu,
                             static_cast<unsigned>(colour >> 16) & 0xFFu, alpha};
  line += '#';
  for (unsigned pair : pairs) {
    line += hex_digits[pair >> 4];
    line += hex_digits[pair & 0xFu];
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: generate_model SIDE OUTPUT_CSV [SEED]\n");
    return 2;
  }
  const long side = std::strtol(argv[1], nullptr, 10);
  if (side < 1 || side > 4096) {
    std::fprintf(stderr, "generate_model: side must be 1 to 4096: %s\n", argv[1]);
    return 2;
  }
  const std::uint64_t seed = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 20260101u;
  std::FILE* out = std::fopen(argv[2], "wb");
  if (out == nullptr) {
    std::perror(argv[2]);
    return 1;
  }
  random_bits random{seed};
  std::string line =
      std::to_string(side) + "," + std::to_string(side) + "," + std::to_string(side) + "\n";
  bool ok = std::fwrite(line.data(), 1, line.size(), out) == line.size();
  for (long y = 0; y < side && ok; ++y) {
    for (long z = 0; z < side && ok; ++z) {
      line.clear();
      for (long x = 0; x < side; ++x) {
        if (x != 0) line += ',';
        append_cell(line, random);
      }
      line += '\n';
      ok = std::fwrite(line.data(), 1, line.size(), out) == line.size();
    }
    ok = ok && std::fputc('\n', out) != EOF;
  }
  ok = std::fclose(out) == 0 && ok;
  if (!ok) {
    std::perror(argv[2]);
    return 1;
  }
  return 0;
}
