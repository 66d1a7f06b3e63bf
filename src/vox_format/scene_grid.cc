#include "vox_format/scene_grid.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <utility>
#include <vector>

#include "threads/helper_thread.h"
#include "tuning.h"

namespace cubewright {
namespace {

// Where a placement puts the lowest record bytes of its voxels along each
// axis, in corners[0], and the highest, in corners[1] (the lower of the two
// on an axis the placement mirrors). A placement moves each of a record's
// first three bytes along an axis, so every voxel lies between them. False
// when the placement has no voxel.
bool placed_corners(const vox_model_placement& placed, std::int32_t (&corners)[2][3]) {
  // Bytes of records with colour 0 (no voxel) are pushed to the far ends,
  // so that the loop has no branch.
  unsigned char low[3] = {255, 255, 255};
  unsigned char high[3] = {0, 0, 0};
  unsigned char colours = 0;
  const unsigned char* const end = placed.records + std::size_t{4} * placed.record_count;
  for (const unsigned char* record = placed.records; record != end; record += 4) {
    const unsigned char none = record[3] == 0 ? 255 : 0;
    for (int c = 0; c < 3; ++c) {
      low[c] = std::min<unsigned char>(low[c], record[c] | none);
      high[c] = std::max<unsigned char>(high[c], record[c] & ~none);
    }
    colours |= record[3];
  }
  if (colours == 0) return false;
  for (int axis = 0; axis < 3; ++axis) {
    const std::size_t column = placed.column[axis];
    // Within 32 bits, as every placed voxel is.
    corners[0][axis] =
        static_cast<std::int32_t>(placed.base[axis] + placed.sign[axis] * low[column]);
    corners[1][axis] =
        static_cast<std::int32_t>(placed.base[axis] + placed.sign[axis] * high[column]);
  }
  return true;
}

// The box of every voxel a .vox scene places, and how many it places.
class scene_box final : public vox_scene_visitor {
 public:
  void start(std::uint64_t placed) override { voxels = placed; }
  void place(const vox_model_placement& placed) override {
    std::int32_t corners[2][3];
    if (!placed_corners(placed, corners)) return;
    for (const auto& corner : corners) box.add(cell_voxel{corner[0], corner[1], corner[2]});
  }
  voxel_box box;
  std::uint64_t voxels = 0;
};

// Every voxel a .vox scene places, in the order it places them.
class scene_voxels final : public vox_scene_visitor {
 public:
  explicit scene_voxels(std::vector<cell_voxel>& voxels) : voxels_(voxels) {}
  void start(std::uint64_t placed) override { voxels_.reserve(static_cast<std::size_t>(placed)); }
  void place(const vox_model_placement& placed) override {
    visit_placed_voxels(placed, [this](const cell_voxel& voxel) { voxels_.push_back(voxel); });
  }

 private:
  std::vector<cell_voxel>& voxels_;
};

// Puts every voxel a .vox scene places on a cell of [first, last) into a
// grid of its box, and counts the cells it fills. Walks of one scene with
// ranges apart may fill one grid at once.
class scene_grid final : public vox_scene_visitor {
 public:
  scene_grid(voxel_grid& grid, std::size_t first, std::size_t last)
      : grid_(grid), first_(first), count_(last - first) {}

  void place(const vox_model_placement& placed) override {
    // A record's cell is an affine function of its bytes, every placed
    // position being within 32 bits: the cell of bytes 0, 0, 0 plus a step
    // for each byte.
    const auto row = static_cast<std::int64_t>(grid_.size_x);
    const std::int64_t strides[3] = {1, row * grid_.size_z, row};  // x, y, z
    const std::int64_t mins[3] = {grid_.min_x, grid_.min_y, grid_.min_z};
    std::int64_t origin = 0;
    std::int64_t steps[3] = {0, 0, 0};  // by record byte
    for (int axis = 0; axis < 3; ++axis) {
      origin += (placed.base[axis] - mins[axis]) * strides[axis];
      steps[placed.column[axis]] = placed.sign[axis] * strides[axis];
    }
    std::uint32_t values[256];
    for (int colour = 0; colour < 256; ++colour) {
      const std::array<std::uint8_t, 3>& rgb = placed.palette[colour];
      values[colour] = cell_value(cell_voxel{0, 0, 0, rgb[0], rgb[1], rgb[2]});
    }
    std::uint32_t* const cells = grid_.cells.data();
    std::size_t added = 0;
    const unsigned char* const end = placed.records + std::size_t{4} * placed.record_count;
    for (const unsigned char* record = placed.records; record != end; record += 4) {
      const auto at = static_cast<std::size_t>(origin + steps[0] * record[0] +
                                               steps[1] * record[1] + steps[2] * record[2]);
      if (record[3] == 0 || at - first_ >= count_) continue;
      added += cells[at] == 0;
      cells[at] = values[record[3]];
    }
    added_ += added;
  }

  std::size_t added() const { return added_; }

 private:
  voxel_grid& grid_;
  std::size_t first_;
  std::size_t count_;
  std::size_t added_ = 0;
};

// Faults in a grid's cells and puts the scene's voxels in: the halves of the
// grid by two threads when `in_two` and there are enough cells to be worth
// one. The system clears every fresh page, which takes most of the time, and
// two cores clear twice as many; each then fills the half it cleared.
void fill_grid(std::string_view scene, voxel_grid& grid, bool in_two) {
  const std::size_t size = grid.cells.size();
  const std::size_t half = size / 2;
  std::size_t added_by_helper = 0;
  const auto fill = [scene, &grid](std::size_t first, std::size_t last) {
    grid.cells.fault_in(first, last);
    scene_grid filling(grid, first, last);
    read_vox_scene(scene, filling);
    return filling.added();
  };
  // Without a helper, all of it on this thread.
  std::thread helper;
  if (in_two && size * sizeof(std::uint32_t) >= tuning::min_two_filling_grid_bytes) {
    helper = start_helper_thread([&] { added_by_helper = fill(half, size); });
  }
  const std::size_t added = fill(0, helper.joinable() ? half : size);
  if (helper.joinable()) helper.join();
  grid.voxel_count = added + added_by_helper;
}

}  // namespace

vox_read_result read_vox_cells(std::string_view text, model_cells& cells, bool in_two) {
  scene_box bounds;
  vox_read_result result = read_vox_scene(text, bounds);
  if (!result.error.empty()) return result;
  model_cells made;
  made.box = bounds.box;
  if (dense_grid_fits(bounds.box, bounds.voxels)) {
    open_voxel_grid(bounds.box, made.grid);
    fill_grid(text, made.grid, in_two);
  } else {
    made.sparse = true;
    scene_voxels keeping(made.walk_ordered);
    read_vox_scene(text, keeping);
    sort_into_walk_order(made.walk_ordered);
  }
  cells = std::move(made);
  return result;
}

}  // namespace cubewright
