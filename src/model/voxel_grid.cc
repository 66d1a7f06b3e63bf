#include "model/voxel_grid.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include "memory/large_pages.h"
#include "tuning.h"

namespace cubewright {
namespace {

voxel_box box_of(const std::vector<cell_voxel>& voxels) {
  voxel_box box;
  for (const cell_voxel& voxel : voxels) box.add(voxel);
  return box;
}

// The box's minimum and sizes, without cells.
voxel_grid grid_frame(const voxel_box& box) {
  voxel_grid frame;
  if (box.empty) return frame;
  frame.min_x = static_cast<std::int32_t>(box.min[0]);
  frame.min_y = static_cast<std::int32_t>(box.min[1]);
  frame.min_z = static_cast<std::int32_t>(box.min[2]);
  frame.size_x = static_cast<std::int32_t>(box.max[0] - box.min[0] + 1);
  frame.size_y = static_cast<std::int32_t>(box.max[1] - box.min[1] + 1);
  frame.size_z = static_cast<std::int32_t>(box.max[2] - box.min[2] + 1);
  return frame;
}

}  // namespace

grid_cells::grid_cells(std::size_t count) {
  if (count == 0) return;
  if (count > SIZE_MAX / sizeof(std::uint32_t) - 2 * large_page_size) throw std::bad_alloc();
  // Each fresh page costs a fault, which outweighs the work done on its
  // cells by far: a grid of two large pages or more lies in whole large
  // pages, from a large page boundary (the room around them is virtual only).
  const std::size_t bytes = count * sizeof(std::uint32_t);
  const bool large = bytes >= 2 * large_page_size;
  const std::size_t pages_bytes = (bytes + large_page_size - 1) / large_page_size * large_page_size;
  block_.reset(large ? std::calloc(pages_bytes + large_page_size, 1)
                     : std::calloc(count, sizeof(std::uint32_t)));
  if (!block_) throw std::bad_alloc();
  cells_ = static_cast<std::uint32_t*>(block_.get());
  if (large) {
    const std::size_t offset = reinterpret_cast<std::uintptr_t>(cells_) % large_page_size;
    if (offset != 0) cells_ += (large_page_size - offset) / sizeof(std::uint32_t);
    advise_large_pages(cells_, pages_bytes);
  }
  size_ = count;
}

void grid_cells::fault_in(std::size_t first, std::size_t last) {
  // 4 KiB, the smallest page of the systems the tool runs on.
  constexpr std::size_t page_cells = 4096 / sizeof(std::uint32_t);
  last = std::min(last, size_);
  if (first >= last) return;
  cells_[first] = 0;
  for (std::size_t cell = (first / page_cells + 1) * page_cells; cell < last; cell += page_cells) {
    cells_[cell] = 0;
  }
}

std::uint64_t box_cells(const voxel_box& box) {
  if (box.empty) return 0;
  // Each extent is at most 2^32, so the product of the first two fits; the
  // third is checked before it could overflow.
  const std::uint64_t area = static_cast<std::uint64_t>(box.max[0] - box.min[0] + 1) *
                             static_cast<std::uint64_t>(box.max[1] - box.min[1] + 1);
  const std::uint64_t depth = static_cast<std::uint64_t>(box.max[2] - box.min[2] + 1);
  if (area > (max_grid_cells << 4) || depth > (max_grid_cells << 4) / area) {
    return max_grid_cells << 4;
  }
  return area * depth;
}

std::uint64_t bounding_box_cells(const std::vector<cell_voxel>& voxels) {
  return box_cells(box_of(voxels));
}

bool open_voxel_grid(const voxel_box& box, voxel_grid& grid) {
  if (box_cells(box) > max_grid_cells) return false;
  voxel_grid made = grid_frame(box);
  made.cells = grid_cells(static_cast<std::size_t>(box_cells(box)));
  grid = std::move(made);
  return true;
}

void voxel_run::join(const voxel_run& later) {
  if (later.count == 0) return;
  if (count == 0) {
    *this = later;
    return;
  }
  walk_ordered = walk_ordered && later.walk_ordered && walks_before(last, later.first);
  last = later.last;
  count += later.count;
  for (int axis = 0; axis < 3; ++axis) {
    box.min[axis] = std::min(box.min[axis], later.box.min[axis]);
    box.max[axis] = std::max(box.max[axis], later.box.max[axis]);
  }
}

bool make_voxel_box(const voxel_run& run, voxel_grid& box) {
  if (box_cells(run.box) > max_grid_cells) return false;
  box = grid_frame(run.box);
  box.voxel_count = run.count;
  return true;
}

bool dense_grid_fits(const voxel_box& box, std::uint64_t voxels) {
  const std::uint64_t cells = box_cells(box);
  if (cells > max_grid_cells) return false;
  return cells <= tuning::dense_slack_cells ||
         cells - tuning::dense_slack_cells <= tuning::dense_cells_per_voxel * voxels;
}

void sort_into_walk_order(std::vector<cell_voxel>& voxels) {
  // Stable, so that of the voxels on one cell the last placed comes last.
  std::stable_sort(voxels.begin(), voxels.end(), walks_before);
  std::size_t kept = 0;
  for (std::size_t i = 0; i < voxels.size(); ++i) {
    const bool next_on_cell = i + 1 < voxels.size() && !walks_before(voxels[i], voxels[i + 1]);
    if (!next_on_cell) voxels[kept++] = voxels[i];
  }
  voxels.resize(kept);
}

bool in_walk_order(const std::vector<cell_voxel>& voxels) {
  voxel_run run;
  for (const cell_voxel& voxel : voxels) run.add(voxel);
  return run.walk_ordered;
}

bool make_voxel_grid(const std::vector<cell_voxel>& voxels, voxel_grid& grid) {
  return make_voxel_grid(voxels, box_of(voxels), grid);
}

bool make_voxel_grid(const std::vector<cell_voxel>& voxels, const voxel_box& box,
                     voxel_grid& grid) {
  voxel_grid made;
  if (!open_voxel_grid(box, made)) return false;
  made.cells.fault_in(0, made.cells.size());
  for (const cell_voxel& voxel : voxels) put_voxel(made, voxel);
  grid = std::move(made);
  return true;
}

}  // namespace cubewright
