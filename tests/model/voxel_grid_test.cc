#include "model/voxel_grid.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "memory/large_pages.h"

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
