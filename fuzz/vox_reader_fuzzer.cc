// Feeds arbitrary bytes to the .vox reader, and checks that whatever it reads
// the writer writes back to the same cells. Bytes that are not a .vox file
// are taken as voxels instead, so the writer's tiling and colour reduction
// get fuzzed through the same round trip.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "vox_format/vox_reader.h"
#include "vox_format/vox_writer.h"

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "property failed: %s\n", what);
  std::abort();
}

void check(bool ok, const char* what) {
  if (!ok) fail(what);
}

using cell = std::tuple<std::int32_t, std::int32_t, std::int32_t>;

cell cell_of(const cubewright::cell_voxel& v) { return {v.x, v.y, v.z}; }

// One voxel per cell, the one placed later winning, sorted by cell.
std::vector<cubewright::cell_voxel> last_per_cell(std::vector<cubewright::cell_voxel> voxels) {
  std::reverse(voxels.begin(), voxels.end());
  std::stable_sort(voxels.begin(), voxels.end(),
                   [](const auto& a, const auto& b) { return cell_of(a) < cell_of(b); });
  voxels.erase(std::unique(voxels.begin(), voxels.end(),
                           [](const auto& a, const auto& b) { return cell_of(a) == cell_of(b); }),
               voxels.end());
  return voxels;
}

// Seven bytes a voxel: x, y, z as signed bytes spread over several tiles, and
// r, g, b. At most 512 voxels, enough for twice the palette's colours, so
// that long inputs stay quick.
std::vector<cubewright::cell_voxel> voxels_from(const std::uint8_t* data, std::size_t size) {
  std::vector<cubewright::cell_voxel> voxels;
  for (std::size_t i = 0; i + 7 <= size && voxels.size() < 512; i += 7) {
    cubewright::cell_voxel v;
    v.x = static_cast<std::int8_t>(data[i]) * 3;
    v.y = static_cast<std::int8_t>(data[i + 1]) * 5;
    v.z = static_cast<std::int8_t>(data[i + 2]);
    v.r = data[i + 3];
    v.g = data[i + 4];
    v.b = data[i + 5] ^ data[i + 6];
    voxels.push_back(v);
  }
  return last_per_cell(voxels);
}

double distance(const cubewright::cell_voxel& a, const cubewright::cell_voxel& b) {
  const double dr = a.r - b.r;
  const double dg = a.g - b.g;
  const double db = a.b - b.b;
  return std::sqrt(dr * dr + dg * dg + db * db);
}

void check_round_trip(const std::vector<cubewright::cell_voxel>& voxels) {
  const cubewright::vox_write_result written = cubewright::write_vox(voxels);
  check(written.error.empty(), "writer refused a small model");
  check(cubewright::looks_like_vox(written.bytes), "written file not recognised");
  const cubewright::vox_read_result read = cubewright::read_vox(written.bytes);
  check(read.error.empty(), "written file does not read back");
  check(read.frames_left_out == 0, "written file has frames left out");
  check(read.voxels.size() == voxels.size(), "voxel count after the round trip");
  const std::vector<cubewright::cell_voxel> back = last_per_cell(read.voxels);
  check(back.size() == voxels.size(), "two voxels written on one cell");
  const bool exact = written.colours.colours_in <= 255;
  check(exact == (written.colours.largest_error == 0), "largest error against colour count");
  double worst = 0;
  for (std::size_t i = 0; i < back.size(); ++i) {
    check(cell_of(back[i]) == cell_of(voxels[i]), "cell after the round trip");
    worst = std::max(worst, distance(back[i], voxels[i]));
  }
  check(worst == written.colours.largest_error, "largest colour error as reported");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (!cubewright::looks_like_vox(bytes)) {
    check_round_trip(voxels_from(data, size));
    return 0;
  }
  // Bounds low enough that a scene multiplying its placements stays fast.
  cubewright::vox_read_limits limits;
  limits.max_placed_voxels = 1u << 20;
  limits.max_node_visits = 1u << 16;
  const cubewright::vox_read_result result = cubewright::read_vox(bytes, limits);
  if (!result.error.empty()) {
    check(result.voxels.empty(), "voxels from a damaged file");
    check(result.error_offset < size, "damage found past the end");
    return 0;
  }
  check(result.voxels.size() <= limits.max_placed_voxels, "more voxels than the bound");
  check_round_trip(last_per_cell(result.voxels));
  return 0;
}
