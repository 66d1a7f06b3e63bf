// Writes a benchmark .vox scene: a layout of models of SIDE cells a side,
// each of its own random voxels, placed SPACING cells apart by a root
// transform over one group of a transform and a shape per model. With
// ROTATED 1 each model's transform also turns it by one of the 24 rotations,
// in turn. The same arguments always give the same bytes.
//
//   generate_scene NX NY NZ SIDE SPACING FILL_PERCENT ROTATED OUTPUT_VOX

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// splitmix64, as the export generator uses.
struct random_bits {
  std::uint64_t state;

  std::uint64_t next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }
};

void put_i32(std::string& out, std::int64_t value) {
  const auto v = static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
  for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>(v >> shift & 0xff);
}

void put_text(std::string& out, const std::string& text) {
  put_i32(out, static_cast<std::int64_t>(text.size()));
  out += text;
}

void put_chunk(std::string& out, const char* id, const std::string& content) {
  out += id;
  put_i32(out, static_cast<std::int64_t>(content.size()));
  put_i32(out, 0);
  out += content;
}

// The rotation bytes the format allows: the column of each row's one
// non-zero entry (the third row's is the one left), and a sign per row.
std::vector<int> rotation_bytes() {
  std::vector<int> bytes;
  for (int first = 0; first < 3; ++first) {
    for (int second = 0; second < 3; ++second) {
      if (second == first) continue;
      for (int signs = 0; signs < 8; ++signs) {
        // Only proper rotations: an even count of minus signs for an even
        // permutation, odd for an odd one.
        const int third = 3 - first - second;
        const bool odd_permutation = !(first < second && second < third) &&
                                     !(second < third && third < first) &&
                                     !(third < first && first < second);
        const int minus = (signs & 1) + (signs >> 1 & 1) + (signs >> 2 & 1);
        if ((minus % 2 == 1) != odd_permutation) continue;
        bytes.push_back(first | second << 2 | signs << 4);
      }
    }
  }
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 9) {
    std::fprintf(stderr,
                 "usage: generate_scene NX NY NZ SIDE SPACING FILL_PERCENT ROTATED OUTPUT_VOX\n");
    return 2;
  }
  long numbers[7];
  for (int i = 0; i < 7; ++i) numbers[i] = std::strtol(argv[i + 1], nullptr, 10);
  const long count[3] = {numbers[0], numbers[1], numbers[2]};
  const long side = numbers[3];
  const long spacing = numbers[4];
  const long fill = numbers[5];
  const bool rotated = numbers[6] != 0;
  for (const long n : count) {
    if (n < 1 || n > 64) {
      std::fprintf(stderr, "generate_scene: each count must be 1 to 64\n");
      return 2;
    }
  }
  if (side < 1 || side > 256 || spacing < side || spacing > (1L << 24) || fill < 1 || fill > 100) {
    std::fprintf(stderr,
                 "generate_scene: SIDE must be 1 to 256, SPACING SIDE to 2^24, FILL 1 to 100\n");
    return 2;
  }
  const long models = count[0] * count[1] * count[2];
  random_bits random{20260202};
  std::string children;
  for (long m = 0; m < models; ++m) {
    std::string size;
    for (int a = 0; a < 3; ++a) put_i32(size, side);
    put_chunk(children, "SIZE", size);
    std::string records;
    std::int64_t filled = 0;
    for (long z = 0; z < side; ++z) {
      for (long y = 0; y < side; ++y) {
        for (long x = 0; x < side; ++x) {
          const std::uint64_t bits = random.next();
          if (static_cast<long>(bits % 100) >= fill) continue;
          records += static_cast<char>(x);
          records += static_cast<char>(y);
          records += static_cast<char>(z);
          records += static_cast<char>(1 + (bits >> 8) % 255);
          ++filled;
        }
      }
    }
    std::string xyzi;
    put_i32(xyzi, filled);
    put_chunk(children, "XYZI", xyzi + records);
  }
  // Root transform 0 over group 1; model m under transform 2 + 2m and shape
  // 3 + 2m.
  std::string content;
  put_i32(content, 0);
  put_i32(content, 0);
  put_i32(content, 1);
  put_i32(content, -1);
  put_i32(content, -1);
  put_i32(content, 1);
  put_i32(content, 0);
  put_chunk(children, "nTRN", content);
  content.clear();
  put_i32(content, 1);
  put_i32(content, 0);
  put_i32(content, models);
  for (long m = 0; m < models; ++m) put_i32(content, 2 + 2 * m);
  put_chunk(children, "nGRP", content);
  const std::vector<int> rotations = rotation_bytes();
  for (long m = 0; m < models; ++m) {
    const long at[3] = {m % count[0], m / count[0] % count[1], m / count[0] / count[1]};
    content.clear();
    put_i32(content, 2 + 2 * m);
    put_i32(content, 0);
    put_i32(content, 3 + 2 * m);
    put_i32(content, -1);
    put_i32(content, -1);
    put_i32(content, 1);
    put_i32(content, rotated ? 2 : 1);
    put_text(content, "_t");
    put_text(content, std::to_string(at[0] * spacing) + " " + std::to_string(at[1] * spacing) +
                          " " + std::to_string(at[2] * spacing));
    if (rotated) {
      put_text(content, "_r");
      put_text(content, std::to_string(rotations[static_cast<std::size_t>(m) % rotations.size()]));
    }
    put_chunk(children, "nTRN", content);
    content.clear();
    put_i32(content, 3 + 2 * m);
    put_i32(content, 0);
    put_i32(content, 1);
    put_i32(content, m);
    put_i32(content, 0);
    put_chunk(children, "nSHP", content);
  }
  std::string file = "VOX ";
  put_i32(file, 150);
  file += "MAIN";
  put_i32(file, 0);
  put_i32(file, static_cast<std::int64_t>(children.size()));
  file += children;
  std::FILE* out = std::fopen(argv[8], "wb");
  if (out == nullptr || std::fwrite(file.data(), 1, file.size(), out) != file.size() ||
      std::fclose(out) != 0) {
    std::perror(argv[8]);
    return 1;
  }
  return 0;
}
