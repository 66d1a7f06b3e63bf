// Draws arbitrary voxels, and checks what the picture promises: its size
// matches its pixels, every voxel's cell lands inside each of its panels,
// the model's sketch draws the same picture, and the PNG encoder's zlib
// stream of the input bytes reads back to them.
// (Whole pictures are encoded by the tests: under the fuzzer's counters a
// megapixel takes a second.)
//
// Input: a first byte whose low bit asks for a compare model, whose next
// bit for whole 32-bit coordinates and whose two after that widen the
// sketch's box, then voxels of 15 bytes each (x, y, z as
// little-endian 32-bit integers, then r, g, b); with a compare model the
// second half of the voxels are its. Without whole coordinates each is the
// low byte alone, signed: pictures stay small and the fuzzer fast, while
// whole coordinates reach the frames that share bins.
#include <stb_image.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "preview/png.h"
#include "preview/preview.h"

namespace {

std::int32_t read_int32(const std::uint8_t* p, bool whole) {
  if (!whole) return static_cast<std::int8_t>(p[0]);
  return static_cast<std::int32_t>(std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                                   std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24);
}

bool inside(const cubewright::pixel_rect& outer, const cubewright::pixel_rect& inner) {
  return inner.x >= outer.x && inner.y >= outer.y &&
         inner.x + inner.width <= outer.x + outer.width &&
         inner.y + inner.height <= outer.y + outer.height;
}

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "preview: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace cubewright;
  if (size == 0) return 0;
  const bool with_compare = (data[0] & 1) != 0;
  const bool whole = (data[0] & 2) != 0;
  std::vector<cell_voxel> voxels;
  for (std::size_t at = 1; at + 15 <= size; at += 15) {
    const std::uint8_t* p = data + at;
    voxels.push_back(cell_voxel{read_int32(p, whole), read_int32(p + 4, whole),
                                read_int32(p + 8, whole), p[12], p[13], p[14]});
  }
  std::vector<cell_voxel> compare;
  if (with_compare) {
    const auto half = static_cast<std::ptrdiff_t>(voxels.size() / 2);
    compare.assign(voxels.begin() + half, voxels.end());
    voxels.erase(voxels.begin() + half, voxels.end());
  }
  const preview_request request{&voxels, with_compare ? &compare : nullptr,
                                std::string(reinterpret_cast<const char*>(data), size % 64)};
  const preview_layout layout = layout_preview(request);
  const rgba_image image = render_preview(request);
  if (image.width != layout.width || image.height != layout.height ||
      image.pixels.size() !=
          static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 4) {
    fail("picture size disagrees with its layout or its pixels");
  }
  for (const std::vector<cell_voxel>* model : {&voxels, &compare}) {
    for (const cell_voxel& v : *model) {
      for (int panel = 0; panel < 4; ++panel) {
        if (!inside(layout.panels[panel],
                    cell_pixels(layout, static_cast<preview_panel>(panel), v.x, v.y, v.z))) {
          fail("a voxel lies outside its panel");
        }
      }
    }
  }

  // Drawn alone, the model's sketch in a box around it (as tight as the
  // model, or up to three cells wider, whichever the first byte asks for)
  // draws the same picture.
  if (!with_compare && !voxels.empty()) {
    std::int32_t low[3] = {voxels[0].x, voxels[0].y, voxels[0].z};
    std::int32_t high[3] = {low[0], low[1], low[2]};
    for (const cell_voxel& v : voxels) {
      const std::int32_t at[3] = {v.x, v.y, v.z};
      for (int a = 0; a < 3; ++a) {
        low[a] = std::min(low[a], at[a]);
        high[a] = std::max(high[a], at[a]);
      }
    }
    const int wider = (data[0] >> 2) & 3;
    for (int a = 0; a < 3; ++a)
      high[a] =
          high[a] <= std::numeric_limits<std::int32_t>::max() - wider ? high[a] + wider : high[a];
    if (preview_sketch::fits(low, high)) {
      preview_sketch sketch(low, high);
      for (std::size_t at = 0; at < voxels.size(); at += 5) {
        sketch.add(voxels.data() + at, std::min<std::size_t>(5, voxels.size() - at));
      }
      if (sketch.spoilt() || sketch.added() != voxels.size()) fail("a sketch refused its voxels");
      const preview_request sketched{nullptr, nullptr, request.title, &sketch};
      if (render_preview(sketched).pixels != image.pixels) {
        fail("the sketch draws another picture than the whole model");
      }
    }
  }

  const std::string stream = fast_zlib(data, size, 4, 1 + data[0] % 64);
  int inflated_size = 0;
  char* inflated = stbi_zlib_decode_malloc_guesssize_headerflag(
      stream.data(), static_cast<int>(stream.size()), 256, &inflated_size, 1);
  if (inflated == nullptr || static_cast<std::size_t>(inflated_size) != size ||
      std::string(inflated, size) != std::string(reinterpret_cast<const char*>(data), size)) {
    fail("the zlib stream does not read back to its input");
  }
  std::free(inflated);
  return 0;
}
