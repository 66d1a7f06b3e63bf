#include "model/placed_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace cubewright {
namespace {

TEST(ColourByte, RoundsFractionsOfTheDocument) {
  for (int value = 0; value < 256; ++value) {
    EXPECT_EQ(colour_byte(static_cast<float>(value) / 256.0f), value);
    EXPECT_EQ(colour_byte(std::stof(std::to_string(static_cast<float>(value) / 256.0f))), value);
  }
  EXPECT_EQ(colour_byte(1.0f), 255);
  EXPECT_EQ(colour_byte(-0.5f), 0);
  EXPECT_EQ(colour_byte(7.0f), 255);
  EXPECT_EQ(colour_byte(std::nanf("")), 0);
}

// A position becomes a cell for CSV and .vox only when it is one exactly,
// within 32 bits; for drawing, the nearest cell, ties upward, saturated.
TEST(PlacedCells, WholeCellsAreExactAndDrawnCellsAreTheNearest) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    float value;
    bool whole;
    std::int32_t nearest;
  } cases[] = {
      {0.0f, true, 0},
      {-0.0f, true, 0},
      {-3.0f, true, -3},
      {2.5f, false, 3},
      {-2.5f, false, -2},
      {-0.25f, false, 0},
      {2147483520.0f, true, 2147483520},
      {2147483648.0f, false, 2147483647},
      {-2147483648.0f, true, -2147483647 - 1},
      {-3e9f, false, -2147483647 - 1},
      {inf, false, 2147483647},
      {-inf, false, -2147483647 - 1},
      {nan, false, 0},
  };
  for (const auto& c : cases) {
    std::int32_t cell = 12345;
    EXPECT_EQ(whole_cell(c.value, cell), c.whole) << c.value;
    if (c.whole) {
      EXPECT_EQ(cell, static_cast<std::int32_t>(c.value)) << c.value;
    }
    EXPECT_EQ(nearest_cell(c.value), c.nearest) << c.value;
  }
  cell_voxel voxel;
  int axis = -1;
  EXPECT_FALSE(to_whole_cell({1.0f, 2.0f, 0.5f, 0, 0, 0}, voxel, axis));
  EXPECT_EQ(axis, 2);
  EXPECT_EQ(not_whole_cell_failure("in.xml:7", axis, 0.5f),
            "cannot convert: in.xml:7: z=\"0.5\" is not a whole cell (CSV and .vox positions "
            "are whole numbers within 32 bits)");
  ASSERT_TRUE(to_whole_cell({-4.0f, 0.0f, 9.0f, 0.5f, 1.0f, 0.0f}, voxel, axis));
  EXPECT_EQ(voxel.x, -4);
  EXPECT_EQ(voxel.z, 9);
  EXPECT_EQ(voxel.r, 128);
  EXPECT_EQ(voxel.g, 255);
}

// Placing is multiplying by the factor, then adding the offset, each step
// in single precision: a large offset swallows a small index.
TEST(PlacedCells, PlacementRoundsEachStepToSinglePrecision) {
  EXPECT_EQ(place_index(3, -1.0f, 10), 7.0f);
  EXPECT_EQ(place_index(1, 1.0f, 16777216), 16777216.0f);
  EXPECT_EQ(place_value(0.5f, -1.0f, 2), 1.5f);
  const model_placement placement{1, 2, 3, -1.0f, 1.0f, -1.0f};
  const voxel_record record = placed_record({4, 5, 6, 64, 128, 255}, placement);
  EXPECT_EQ(record.x, -3.0f);
  EXPECT_EQ(record.y, 7.0f);
  EXPECT_EQ(record.z, -3.0f);
  EXPECT_EQ(record.r, 0.25f);
  EXPECT_EQ(record.b, 255.0f / 256.0f);
  voxel_record read{4.0f, 5.0f, 6.0f, 0, 0, 0};
  place_voxel(read, placement);
  EXPECT_EQ(read.x, record.x);
  EXPECT_EQ(read.z, record.z);
}

}  // namespace
}  // namespace cubewright
