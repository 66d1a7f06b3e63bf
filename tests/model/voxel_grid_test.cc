#include "model/voxel_grid.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <tuple>
#include <vector>

#include "memory/large_pages.h"
#include "tuning.h"

namespace cubewright {
namespace {

TEST(VoxelGrid, BoundingBoxAndTheLaterVoxelWins) {
  const std::vector<cell_voxel> voxels = {
      {-2, 5, 1, 1, 2, 3}, {0, 3, 0, 4, 5, 6}, {-2, 5, 1, 7, 8, 9}};
  voxel_grid grid;
  ASSERT_TRUE(make_voxel_grid(voxels, grid));
  EXPECT_EQ(grid.min_x, -2);
  EXPECT_EQ(grid.min_y, 3);
  EXPECT_EQ(grid.min_z, 0);
  EXPECT_EQ(grid.size_x, 3);
  EXPECT_EQ(grid.size_y, 3);
  EXPECT_EQ(grid.size_z, 2);
  EXPECT_EQ(grid.voxel_count, 2u);
  std::vector<cell_voxel> walked;
  for_each_voxel_in_walk_order(grid, [&](const cell_voxel& v) { walked.push_back(v); });
  ASSERT_EQ(walked.size(), 2u);
  EXPECT_EQ(walked[0].y, 5);  // the top layer first
  EXPECT_EQ(walked[0].r, 7);
  EXPECT_EQ(walked[1].x, 0);
}

TEST(VoxelGrid, RefusesBoxesPastTheLimitWithoutOverflow) {
  voxel_grid grid;
  EXPECT_FALSE(make_voxel_grid({{-2147483647 - 1, 0, 0}, {2147483647, 0, 0}}, grid));
  EXPECT_FALSE(make_voxel_grid({{0, 0, 0}, {2147483647, 2147483647, 2147483647}}, grid));
  EXPECT_FALSE(make_voxel_grid({{0, 0, 0}, {1 << 14, 1 << 14, 1}}, grid));
  EXPECT_EQ(bounding_box_cells({{0, 0, 0}, {(1 << 14) - 1, (1 << 14) - 1, 0}}), max_grid_cells);
  EXPECT_TRUE(make_voxel_grid({}, grid));
  EXPECT_EQ(grid.size_x, 0);
}

TEST(VoxelGrid, SortingGivesTheGridsWalkWithTheLaterVoxelOnEachCell) {
  // Random voxels in small boxes, so that many share a cell, in boxes that
  // reach below 0 and up to the ends of the 32-bit range.
  std::mt19937 random(41);
  const std::int32_t corners[] = {-3, 0, 2147483647 - 6, -2147483647 - 1};
  for (int round = 0; round < 40; ++round) {
    std::vector<cell_voxel> voxels;
    const std::int32_t low = corners[round % 4];
    const int count = static_cast<int>(random() % 300);
    for (int i = 0; i < count; ++i) {
      voxels.push_back({low + static_cast<std::int32_t>(random() % 7),
                        static_cast<std::int32_t>(-std::int64_t{low} - 1 -
                                                  static_cast<std::int64_t>(random() % 5)),
                        static_cast<std::int32_t>(random() % 6) - 3, static_cast<std::uint8_t>(i),
                        static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(random())});
    }
    voxel_grid grid;
    ASSERT_TRUE(make_voxel_grid(voxels, grid));
    std::vector<std::tuple<int, int, int, int, int, int>> walked;
    for_each_voxel_in_walk_order(
        grid, [&](const cell_voxel& v) { walked.emplace_back(v.x, v.y, v.z, v.r, v.g, v.b); });
    sort_into_walk_order(voxels);
    std::vector<std::tuple<int, int, int, int, int, int>> sorted;
    for (const cell_voxel& v : voxels) sorted.emplace_back(v.x, v.y, v.z, v.r, v.g, v.b);
    EXPECT_EQ(sorted, walked) << "round " << round;
  }
}

TEST(VoxelGrid, ADenseGridIsChosenUpToItsSlackAndItsCellsAVoxel) {
  const auto box_of = [](std::int64_t x_cells, std::int64_t y_cells) {
    voxel_box box;
    box.add({0, 0, 0});
    box.add({static_cast<std::int32_t>(x_cells - 1), static_cast<std::int32_t>(y_cells - 1), 0});
    return box;
  };
  const std::int64_t slack = tuning::dense_slack_cells;
  const std::uint64_t per_voxel = tuning::dense_cells_per_voxel;
  EXPECT_TRUE(dense_grid_fits(voxel_box(), 0));
  EXPECT_TRUE(dense_grid_fits(box_of(slack, 1), 1));
  EXPECT_FALSE(dense_grid_fits(box_of(slack + 8 * 1000, 1), 1000 * 8 / per_voxel - 1));
  EXPECT_TRUE(dense_grid_fits(box_of(slack + 8 * 1000, 1), 1000 * 8 / per_voxel));
  // Never past the largest grid, however many voxels.
  EXPECT_TRUE(dense_grid_fits(box_of(1 << 14, 1 << 14), std::uint64_t{1} << 25));
  EXPECT_FALSE(dense_grid_fits(box_of((1 << 14) + 1, 1 << 14), std::uint64_t{1} << 40));
}

TEST(VoxelGrid, LargeGridsStartAtALargePageAndHoldEveryCell) {
  // Sizes below, at and past two large pages, and not a whole number of them.
  for (const std::size_t count : {std::size_t{1000}, 2 * large_page_size / 4,
                                  2 * large_page_size / 4 + 1, std::size_t{3000001}}) {
    grid_cells cells(count);
    ASSERT_EQ(cells.size(), count);
    if (count >= 2 * large_page_size / 4) {
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(cells.data()) % large_page_size, 0u) << count;
    }
    cells.fault_in(0, count);
    EXPECT_EQ(cells[0] | cells[count / 2] | cells[count - 1], 0u);
    cells[0] = 1;
    cells[count - 1] = 2;
    EXPECT_EQ(cells[0] + cells[count - 1], 3u);
  }
}

}  // namespace
}  // namespace cubewright
