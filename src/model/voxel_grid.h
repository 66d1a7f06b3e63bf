// A model as a dense box of whole cells: how placed voxels are put in the
// order a CSV export is walked, and what the CSV and .vox writers store.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "model/placed_model.h"
#include "text/byte_words.h"

namespace cubewright {

/// The largest box a grid may hold, in cells (four bytes each).
inline constexpr std::uint64_t max_grid_cells = std::uint64_t{1} << 28;

/// A cell's value: 0 when empty, else `filled_cell` with the colour bytes
/// in the low 24 bits (red highest).
inline constexpr std::uint32_t filled_cell = std::uint32_t{1} << 24;

/// The values of a grid's cells, all 0 until written, in memory the system
/// hands out already zeroed: nothing is written to clear it. A grid of
/// several MiB lies in large pages where the system gives them.
class grid_cells {
 public:
  grid_cells() = default;
  /// `count` cells of 0; throws std::bad_alloc when there is no memory.
  explicit grid_cells(std::size_t count);

  /// Writes 0 once into every page of memory that holds a cell of
  /// [first, last), so that no later access to them waits for the system to
  /// find a page (a read of a page never written would map a shared page of
  /// zeros, and the first write then copy it). Ranges apart may be faulted
  /// in by different threads at once.
  void fault_in(std::size_t first, std::size_t last);

  std::uint32_t* data() { return cells_; }
  const std::uint32_t* data() const { return cells_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::uint32_t& operator[](std::size_t index) { return cells_[index]; }
  const std::uint32_t& operator[](std::size_t index) const { return cells_[index]; }

 private:
  struct release {
    void operator()(void* block) const { std::free(block); }
  };
  // The block as allocated; a large grid's cells start at its first large
  // page boundary.
  std::unique_ptr<void, release> block_;
  std::uint32_t* cells_ = nullptr;
  std::size_t size_ = 0;
};

/// The bounding box of a model's voxels and one value per cell in it. Cells
/// run x fastest, then z, then y upward. An empty model has sizes of 0.
struct voxel_grid {
  std::int32_t min_x = 0;
  std::int32_t min_y = 0;
  std::int32_t min_z = 0;
  std::int32_t size_x = 0;
  std::int32_t size_y = 0;
  std::int32_t size_z = 0;
  std::size_t voxel_count = 0;  // filled cells
  grid_cells cells;
};

/// The smallest box of cells that holds every voxel added to it.
struct voxel_box {
  std::int64_t min[3] = {0, 0, 0};
  std::int64_t max[3] = {0, 0, 0};
  bool empty = true;

  void add(const cell_voxel& voxel) {
    const std::int64_t at[3] = {voxel.x, voxel.y, voxel.z};
    for (int axis = 0; axis < 3; ++axis) {
      if (empty || at[axis] < min[axis]) min[axis] = at[axis];
      if (empty || at[axis] > max[axis]) max[axis] = at[axis];
    }
    empty = false;
  }
};

/// The number of cells in a box (0 when it is empty); more than
/// max_grid_cells is given as max_grid_cells << 4.
std::uint64_t box_cells(const voxel_box& box);

/// The number of cells in the bounding box of `voxels` (0 when there are
/// none); may exceed max_grid_cells.
std::uint64_t bounding_box_cells(const std::vector<cell_voxel>& voxels);

/// A grid of the box's cells, all empty (sizes of 0 for an empty box), not
/// yet faulted in (grid_cells::fault_in). False, with the grid untouched,
/// when the box holds more than max_grid_cells.
bool open_voxel_grid(const voxel_box& box, voxel_grid& grid);

/// Puts the voxels into a grid; of two voxels on one cell the later wins.
/// False, with the grid untouched, when the box holds more than
/// max_grid_cells.
bool make_voxel_grid(const std::vector<cell_voxel>& voxels, voxel_grid& grid);

/// The same when the voxels' box is known already (voxel_run::box).
bool make_voxel_grid(const std::vector<cell_voxel>& voxels, const voxel_box& box, voxel_grid& grid);

/// True when `a` comes before `b` in the order a CSV export is walked: y
/// downward, then z upward, then x upward.
inline bool walks_before(const cell_voxel& a, const cell_voxel& b) {
  return a.y != b.y ? a.y > b.y : a.z != b.z ? a.z < b.z : a.x < b.x;
}

/// True when the voxels come in that order with no cell twice: the order of
/// a document written from an export that is not mirrored.
bool in_walk_order(const std::vector<cell_voxel>& voxels);

/// What a sequence of voxels is, gathered as they go by so that no second
/// pass over them is needed: their box, their count, and whether they come
/// in walk order (in_walk_order). Two parts of one sequence, gathered
/// apart, are joined in order.
struct voxel_run {
  voxel_box box;
  std::size_t count = 0;
  bool walk_ordered = true;
  cell_voxel first;
  cell_voxel last;

  void add(const cell_voxel& voxel) {
    if (count == 0) {
      first = voxel;
    } else if (!walks_before(last, voxel)) {
      walk_ordered = false;
    }
    last = voxel;
    ++count;
    box.add(voxel);
  }

  /// The voxels of `later` added after these.
  void join(const voxel_run& later);
};

/// The box of a run of voxels in walk order, without its cells: the minimum
/// and sizes as make_voxel_grid gives them, and the number of voxels as
/// voxel_count (each on a cell of its own). False, with the grid untouched,
/// when the box holds more than max_grid_cells.
bool make_voxel_box(const voxel_run& run, voxel_grid& box);

/// Collects placed records as whole cells at the end of `cells`, and what
/// they are as a run; the first position that is not whole stops the
/// collection, and `failure` names it at `path` and at the line `line()`
/// gives (0: none), asked for only then.
struct cell_collector {
  const std::string* path = nullptr;
  std::vector<cell_voxel>* cells = nullptr;
  std::string failure;
  voxel_run run;

  template <typename Line>
  bool add(const voxel_record& record, const Line& line) {
    cell_voxel voxel;
    int axis = 0;
    if (!to_whole_cell(record, voxel, axis)) {
      const std::size_t at = line();
      const float position[3] = {record.x, record.y, record.z};
      failure = not_whole_cell_failure(at == 0 ? *path : *path + ":" + std::to_string(at), axis,
                                       position[axis]);
      return false;
    }
    cells->push_back(voxel);
    run.add(voxel);
    return true;
  }
};

inline std::uint32_t cell_value(const cell_voxel& voxel) {
  return filled_cell | std::uint32_t{voxel.r} << 16 | std::uint32_t{voxel.g} << 8 | voxel.b;
}

/// Puts a voxel that lies in the grid's box into its cell; of two voxels on
/// one cell the later wins.
inline void put_voxel(voxel_grid& grid, const cell_voxel& voxel) {
  const auto row = static_cast<std::size_t>(grid.size_x);
  const std::size_t layer = row * static_cast<std::size_t>(grid.size_z);
  std::uint32_t& cell = grid.cells[static_cast<std::size_t>(voxel.y - grid.min_y) * layer +
                                   static_cast<std::size_t>(voxel.z - grid.min_z) * row +
                                   static_cast<std::size_t>(voxel.x - grid.min_x)];
  if (cell == 0) ++grid.voxel_count;
  cell = cell_value(voxel);
}

/// Hands every filled cell of the layers `top` down to `stop` + 1 to `visit`
/// as a cell_voxel, in the order a CSV export is walked: y downward, then z
/// upward, then x upward. Layers count from 0 at the grid's min_y.
template <typename Visit>
void for_each_voxel_in_layers(const voxel_grid& grid, std::int32_t top, std::int32_t stop,
                              Visit&& visit) {
  const std::size_t row = static_cast<std::size_t>(grid.size_x);
  const std::size_t layer = row * static_cast<std::size_t>(grid.size_z);
  for (std::int32_t y = top; y > stop; --y) {
    const std::uint32_t* cell = grid.cells.data() + static_cast<std::size_t>(y) * layer;
    for (std::int32_t z = 0; z < grid.size_z; ++z, cell += row) {
      // Sixty-four cells at a time: a bit for each filled one, set without
      // a branch (filled and empty cells come at random to a branch
      // predictor), then the filled ones alone.
      for (std::size_t first = 0; first < row; first += 64) {
        const std::size_t count = std::min<std::size_t>(64, row - first);
        std::uint64_t bits = 0;
        for (std::size_t i = 0; i < count; ++i) {
          bits |= std::uint64_t{cell[first + i] != 0} << i;
        }
        for (; bits != 0; bits &= bits - 1) {
          const std::size_t x = first + lowest_set_bit(bits);
          const std::uint32_t value = cell[x];
          cell_voxel voxel;
          voxel.x = grid.min_x + static_cast<std::int32_t>(x);
          voxel.y = grid.min_y + y;
          voxel.z = grid.min_z + z;
          voxel.r = static_cast<std::uint8_t>(value >> 16);
          voxel.g = static_cast<std::uint8_t>(value >> 8);
          voxel.b = static_cast<std::uint8_t>(value);
          visit(voxel);
        }
      }
    }
  }
}

/// Hands every filled cell to `visit` as a cell_voxel, in the order a CSV
/// export is walked: y from the top down, then z upward, then x upward.
template <typename Visit>
void for_each_voxel_in_walk_order(const voxel_grid& grid, Visit&& visit) {
  for_each_voxel_in_layers(grid, grid.size_y - 1, -1, visit);
}

/// Whether a dense grid is the form for `voxels` voxels in `box`: the box
/// holds at most max_grid_cells, and not many more cells than voxels
/// (tuning::dense_cells_per_voxel, past the first tuning::dense_slack_cells).
/// Otherwise the voxels are kept on their own and sorted
/// (sort_into_walk_order): a cell of a grid takes 4 bytes, a kept voxel 16
/// and as many again to sort it.
bool dense_grid_fits(const voxel_box& box, std::uint64_t voxels);

/// Sorts `voxels` into walk order and keeps, of the voxels on one cell, the
/// last: the cells for_each_voxel_in_walk_order gives of make_voxel_grid's
/// grid, in memory sized by the voxels instead of their box.
void sort_into_walk_order(std::vector<cell_voxel>& voxels);

/// A model's cells in walk order, each once, in one of two forms: a dense
/// grid of their box, or, where that box is mostly empty (dense_grid_fits),
/// the cells alone.
struct model_cells {
  voxel_grid grid;                       // the dense form
  std::vector<cell_voxel> walk_ordered;  // the sparse form
  voxel_box box;                         // of the cells, in either form
  bool sparse = false;

  std::size_t count() const { return sparse ? walk_ordered.size() : grid.voxel_count; }
};

/// Hands every cell to `visit` in walk order, whichever the form.
template <typename Visit>
void for_each_cell_in_walk_order(const model_cells& cells, Visit&& visit) {
  if (cells.sparse) {
    for (const cell_voxel& cell : cells.walk_ordered) visit(cell);
  } else {
    for_each_voxel_in_walk_order(cells.grid, visit);
  }
}

}  // namespace cubewright
