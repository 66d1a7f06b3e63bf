#include "voxel_model/voxel_grid.h"

#include <algorithm>

namespace cubewright {
namespace {

struct cell_box {
  std::int64_t min[3];
  std::int64_t max[3];
};

cell_box bounds(const std::vector<cell_voxel>& voxels) {
  cell_box result{{voxels[0].x, voxels[0].y, voxels[0].z}, {voxels[0].x, voxels[0].y, voxels[0].z}};
  for (const cell_voxel& voxel : voxels) {
    const std::int64_t at[3] = {voxel.x, voxel.y, voxel.z};
    for (int axis = 0; axis < 3; ++axis) {
      result.min[axis] = std::min(result.min[axis], at[axis]);
      result.max[axis] = std::max(result.max[axis], at[axis]);
    }
  }
  return result;
}

// The cells of the box, or max_grid_cells << 4 when there are more.
std::uint64_t cells_in(const cell_box& b) {
  // Each extent is at most 2^32, so the product of the first two fits; the
  // third is checked before it could overflow.
  const std::uint64_t area = static_cast<std::uint64_t>(b.max[0] - b.min[0] + 1) *
                             static_cast<std::uint64_t>(b.max[1] - b.min[1] + 1);
  const std::uint64_t depth = static_cast<std::uint64_t>(b.max[2] - b.min[2] + 1);
  if (area > (max_grid_cells << 4) || depth > (max_grid_cells << 4) / area) {
    return max_grid_cells << 4;
  }
  return area * depth;
}

}  // namespace

std::uint64_t bounding_box_cells(const std::vector<cell_voxel>& voxels) {
  if (voxels.empty()) return 0;
  return cells_in(bounds(voxels));
}

bool make_voxel_box(const std::vector<cell_voxel>& voxels, voxel_grid& box) {
  if (voxels.empty()) {
    box = voxel_grid{};
    return true;
  }
  const cell_box b = bounds(voxels);
  if (cells_in(b) > max_grid_cells) return false;
  voxel_grid made;
  made.min_x = static_cast<std::int32_t>(b.min[0]);
  made.min_y = static_cast<std::int32_t>(b.min[1]);
  made.min_z = static_cast<std::int32_t>(b.min[2]);
  made.size_x = static_cast<std::int32_t>(b.max[0] - b.min[0] + 1);
  made.size_y = static_cast<std::int32_t>(b.max[1] - b.min[1] + 1);
  made.size_z = static_cast<std::int32_t>(b.max[2] - b.min[2] + 1);
  made.voxel_count = voxels.size();
  box = std::move(made);
  return true;
}

bool in_walk_order(const std::vector<cell_voxel>& voxels) {
  for (std::size_t i = 1; i < voxels.size(); ++i) {
    const cell_voxel& a = voxels[i - 1];
    const cell_voxel& b = voxels[i];
    const bool before = a.y != b.y ? a.y > b.y : a.z != b.z ? a.z < b.z : a.x < b.x;
    if (!before) return false;
  }
  return true;
}

bool make_voxel_grid(const std::vector<cell_voxel>& voxels, voxel_grid& grid) {
  voxel_grid made;
  if (!make_voxel_box(voxels, made)) return false;
  made.voxel_count = 0;
  const std::size_t row = static_cast<std::size_t>(made.size_x);
  const std::size_t layer = row * static_cast<std::size_t>(made.size_z);
  made.cells.assign(layer * static_cast<std::size_t>(made.size_y), 0);
  for (const cell_voxel& voxel : voxels) {
    std::uint32_t& cell = made.cells[static_cast<std::size_t>(voxel.y - made.min_y) * layer +
                                     static_cast<std::size_t>(voxel.z - made.min_z) * row +
                                     static_cast<std::size_t>(voxel.x - made.min_x)];
    if (cell == 0) ++made.voxel_count;
    cell = cell_value(voxel);
  }
  grid = std::move(made);
  return true;
}

}  // namespace cubewright
