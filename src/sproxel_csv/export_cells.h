// An export's cells as the picture takes them: placed whole cells, each on
// the nearest cell to its position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "model/placed_model.h"
#include "sproxel_csv/grid_size.h"
#include "sproxel_csv/token_list.h"

namespace cubewright {

/// The cells an export's grid covers once placed, inclusive: where the
/// cells of its voxels lie, unless it holds more cells than its grid.
struct cell_box {
  std::int32_t low[3] = {0, 0, 0};
  std::int32_t high[3] = {0, 0, 0};
};

/// The box for an export's text; none when the text has no grid header.
std::optional<cell_box> exported_grid_cells(std::string_view text,
                                            const model_placement& placement);

/// Hands the cells of an export's voxels, placed and in file order, to
/// `take` a few hundred at a time: what read_export_cells keeps, for a
/// caller that need not keep them. Nothing when the text has no grid header.
void for_each_exported_cell(std::string_view text, const model_placement& placement,
                            const std::function<void(const cell_voxel*, std::size_t)>& take);

/// Appends the cells of the voxels of an export whose header gave `size`,
/// placed and in file order, to `cells`.
void read_export_cells(const token_list& tokens, const grid_size& size,
                       const model_placement& placement, std::vector<cell_voxel>& cells);

}  // namespace cubewright
