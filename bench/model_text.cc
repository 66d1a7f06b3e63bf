#include "model_text.h"

namespace cubewright_bench {
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

void append_cell(std::string& text, random_bits& random) {
  const std::uint64_t bits = random.next();
  // One cell in five is filled: r, g and b are any byte, alpha mostly
  // opaque, as painted models are.
  if (bits % 5 != 0) {
    text += "#00000000";
    return;
  }
  const std::uint64_t colour = bits >> 8;
  const unsigned alpha =
      (colour >> 24) % 8 == 0 ? static_cast<unsigned>(colour >> 32) & 0xFFu : 0xFFu;
  const unsigned pairs[4] = {static_cast<unsigned>(colour) & 0xFFu,
                             static_cast<unsigned>(colour >> 8) & 0xFFu,
                             static_cast<unsigned>(colour >> 16) & 0xFFu, alpha};
  text += '#';
  for (unsigned pair : pairs) {
    text += hex_digits[pair >> 4];
    text += hex_digits[pair & 0xFu];
  }
}

}  // namespace

std::string model_text(int side, std::uint64_t seed) {
  const std::string size = std::to_string(side);
  std::string text = size + "," + size + "," + size + "\n";
  const auto cells = static_cast<std::size_t>(side < 0 ? 0 : side);
  text.reserve(text.size() + cells * cells * (cells * 10 + 1) + cells);
  random_bits random{seed};
  for (int y = 0; y < side; ++y) {
    for (int z = 0; z < side; ++z) {
      for (int x = 0; x < side; ++x) {
        if (x != 0) text += ',';
        append_cell(text, random);
      }
      text += '\n';
    }
    text += '\n';
  }
  return text;
}

}  // namespace cubewright_bench
