// The palette lookup held to a search of every entry, and the colours of
// written files held to that search and to the bytes the writer has always
// made.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "vox_format/palette.h"
#include "vox_format/vox_writer.h"

namespace {

using namespace cubewright;

int squared_distance(std::uint32_t a, std::uint32_t b) {
  int sum = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const int d = static_cast<int>(a >> shift & 0xff) - static_cast<int>(b >> shift & 0xff);
    sum += d * d;
  }
  return sum;
}

// Every entry in turn; the first of the nearest wins.
std::size_t nearest_of_all(const std::vector<std::uint32_t>& palette, std::uint32_t rgb) {
  std::size_t best_index = 0;
  for (std::size_t i = 1; i < palette.size(); ++i)
    if (squared_distance(rgb, palette[i]) < squared_distance(rgb, palette[best_index]))
      best_index = i;
  return best_index;
}

std::uint32_t random_rgb(std::mt19937& random) {
  return static_cast<std::uint32_t>(random() & 0xffffff);
}

template <typename Colour>
std::vector<std::uint32_t> palette_of(std::size_t size, Colour colour) {
  std::vector<std::uint32_t> palette(size);
  for (std::size_t i = 0; i < size; ++i) palette[i] = static_cast<std::uint32_t>(colour(i));
  return palette;
}

// Palettes where a pruned search goes wrong first: ties, repeats, the cube's
// corners and faces, a palette bunched in one spot, the fewest and the most
// entries.
std::vector<std::vector<std::uint32_t>> awkward_palettes(std::mt19937& random) {
  const auto corner = [](std::size_t k) {
    return (k & 1 ? 0xff0000u : 0) | (k & 2 ? 0xff00u : 0) | (k & 4 ? 0xffu : 0);
  };
  const auto on_lattice = [&](std::size_t) {
    const auto r = random() % 6 * 51;
    const auto g = random() % 6 * 51;
    return r << 16 | g << 8 | random() % 5 * 64;
  };
  const auto on_face = [&](std::size_t) {
    const std::uint32_t face = 0xffu << (8 * (random() % 3));
    return random() % 2 ? random_rgb(random) | face : random_rgb(random) & ~face;
  };
  std::vector<std::vector<std::uint32_t>> palettes = {
      {0x000000},
      {0xffffff},
      {0x123456, 0x123456},
      {0x000000, 0xffffff},
      palette_of(8, corner),
      palette_of(40, [&](std::size_t) { return corner(random() % 8); }),
      palette_of(255, [](std::size_t i) { return i == 0 ? 0x3c3c3d : 0x3c3c3c; }),
      palette_of(255, [](std::size_t i) { return i == 254 ? 0x3c3c3d : 0x3c3c3c; }),
      palette_of(255, [](std::size_t) { return 0xa0b0c0; }),
      palette_of(255, on_lattice),
      palette_of(255, [&](std::size_t) { return random() % 5 * 0x1f3f7f & 0xffffff; }),
      palette_of(255, [&](std::size_t) { return 0x707070 + (random_rgb(random) & 0x070707); }),
      palette_of(200, on_face),
  };
  for (const std::size_t size : {2u, 3u, 17u, 100u, 254u, 255u, 256u})
    palettes.push_back(palette_of(size, [&](std::size_t) { return random_rgb(random); }));
  return palettes;
}

TEST(PaletteLookup, FindsWhatASearchOfEveryEntryFinds) {
  std::mt19937 random(31);
  std::vector<std::uint32_t> colours;
  for (std::uint32_t r = 0; r < 256; r += 17)
    for (std::uint32_t g = 0; g < 256; g += 17)
      for (std::uint32_t b = 0; b < 256; b += 17) colours.push_back(r << 16 | g << 8 | b);
  // On the faces of cells, where one cell's list ends and the next one's begins.
  for (int k = 0; k < 1000; ++k) {
    const auto edge = static_cast<std::uint32_t>((random() % 32) * 8 + (random() % 2) * 7);
    colours.push_back((random_rgb(random) & ~(0xffu << 8 * (k % 3))) | edge << 8 * (k % 3));
  }
  for (int k = 0; k < 3000; ++k) colours.push_back(random_rgb(random));

  std::set<int> grids;
  for (const std::vector<std::uint32_t>& palette : awkward_palettes(random)) {
    std::vector<std::size_t> nearest;
    for (const std::uint32_t rgb : colours) nearest.push_back(nearest_of_all(palette, rgb));
    for (const std::size_t looked_up : {0u, 300u, 5000u, 50000u, 200000u, 1u << 24}) {
      const palette_lookup lookup = make_palette_lookup(palette, looked_up);
      grids.insert(lookup.cell_bits);
      std::size_t wrong = 0;
      for (std::size_t k = 0; k < colours.size(); ++k)
        wrong += nearest_entry(lookup, colours[k]) != nearest[k];
      EXPECT_EQ(wrong, 0u) << palette.size() << " entries, first " << palette[0] << ", grid of "
                           << (1 << lookup.cell_bits);
    }
  }
  EXPECT_EQ(grids, (std::set<int>{0, 1, 2, 3, 4, 5}));  // every grid, one cell to the finest
}

TEST(PaletteLookup, EqualEntriesGiveTheLowestIndex) {
  const std::vector<std::uint32_t> palette = {0x101010, 0x202020, 0x101010, 0x000000, 0x202020};
  for (const std::size_t looked_up : {0u, 1u << 24}) {
    const palette_lookup lookup = make_palette_lookup(palette, looked_up);
    EXPECT_EQ(nearest_entry(lookup, 0x101010), 0u);
    EXPECT_EQ(nearest_entry(lookup, 0x202020), 1u);
    EXPECT_EQ(nearest_entry(lookup, 0x181818), 0u);  // halfway between entries 0 and 1
    EXPECT_EQ(nearest_entry(lookup, 0x080808), 0u);  // halfway between entries 0 and 3
    EXPECT_EQ(nearest_entry(lookup, 0x070808), 3u);
  }
}

// Voxel i of rows of 256, in a 256-cell cube.
cell_voxel voxel(std::size_t i, std::uint32_t rgb) {
  return {static_cast<std::int32_t>(i % 256),       static_cast<std::int32_t>(i / 65536),
          static_cast<std::int32_t>(i / 256 % 256), static_cast<std::uint8_t>(rgb >> 16),
          static_cast<std::uint8_t>(rgb >> 8),      static_cast<std::uint8_t>(rgb)};
}

// `count` voxels of colours drawn from `colours`, the first eight far more
// often than the rest.
std::vector<cell_voxel> voxels_of(const std::vector<std::uint32_t>& colours, std::size_t count,
                                  std::mt19937& random) {
  std::vector<cell_voxel> voxels;
  for (std::size_t i = 0; i < count; ++i)
    voxels.push_back(
        voxel(i, colours[random() % 4 == 0 ? random() % 8 : random() % colours.size()]));
  return voxels;
}

std::uint32_t rgb_of(const cell_voxel& v) {
  return std::uint32_t{v.r} << 16 | std::uint32_t{v.g} << 8 | v.b;
}

TEST(ColourMapping, EveryVoxelTakesTheNearestEntry) {
  std::mt19937 random(5);
  const std::vector<std::uint32_t> spread =
      palette_of(6000, [&](std::size_t) { return random_rgb(random); });
  const std::vector<std::uint32_t> bunched =
      palette_of(2000, [&](std::size_t) { return 0x604020 + (random_rgb(random) & 0x1f1f1f); });
  for (const std::vector<std::uint32_t>& colours : {spread, bunched}) {
    const std::vector<cell_voxel> voxels = voxels_of(colours, 30000, random);
    const colour_mapping mapping = map_colours(voxels);
    ASSERT_EQ(mapping.palette.size(), 255u);
    ASSERT_EQ(mapping.voxel_index.size(), voxels.size());
    std::set<std::uint32_t> distinct;
    int worst = 0;
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < voxels.size(); ++i) {
      const std::uint32_t rgb = rgb_of(voxels[i]);
      const std::size_t entry = nearest_of_all(mapping.palette, rgb);
      distinct.insert(rgb);
      wrong += mapping.voxel_index[i] != entry + 1;
      worst = std::max(worst, squared_distance(rgb, mapping.palette[entry]));
    }
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(mapping.report.colours_in, distinct.size());
    EXPECT_EQ(mapping.report.colours_out, 255u);
    EXPECT_EQ(mapping.report.largest_error, std::sqrt(static_cast<double>(worst)));
  }
}

std::uint64_t fnv1a(const std::string& bytes) {
  std::uint64_t hash = 14695981039346656037u;
  for (const char c : bytes) hash = (hash ^ static_cast<std::uint8_t>(c)) * 1099511628211u;
  return hash;
}

// The digests are of the files the writer made before its palette search
// was rebuilt: a reduced palette, or an index, that differs by one entry
// changes them.
TEST(ColourMapping, ReducedFilesAreTheBytesTheyHaveAlwaysBeen) {
  std::mt19937 random(11);
  const std::vector<std::uint32_t> spread =
      palette_of(5000, [&](std::size_t) { return random_rgb(random); });
  // Every colour of a 64^3 lattice, in a scattered order: boxes of that many
  // colours keep their sums through the cut.
  std::vector<cell_voxel> lattice;
  for (std::size_t i = 0; i < 262144; ++i) {
    const std::size_t at = i * 40503 % 262144;
    lattice.push_back(voxel(
        i, static_cast<std::uint32_t>(at >> 12 << 18 | (at >> 6 & 63) << 10 | (at & 63) << 2)));
  }
  const struct {
    std::vector<cell_voxel> voxels;
    std::size_t colours_in;
    std::uint64_t digest;
  } cases[] = {
      {voxels_of(spread, 20000, random), 4745, 6678977580691380919u},
      {lattice, 262144, 1108738327082582793u},
  };
  for (const auto& c : cases) {
    const vox_write_result written = write_vox(c.voxels);
    EXPECT_EQ(written.colours.colours_in, c.colours_in);
    EXPECT_EQ(written.colours.colours_out, 255u);
    EXPECT_EQ(fnv1a(written.bytes), c.digest) << c.colours_in;
  }
}

}  // namespace
