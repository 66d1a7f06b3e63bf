// A .vox scene's voxels as the cells they are placed on: a grid of their box,
// or the cells alone where that box is mostly empty.
#pragma once

#include <string_view>

#include "model/voxel_grid.h"
#include "vox_format/vox_reader.h"

namespace cubewright {

/// Reads the scene of .vox `text` into `cells`, later voxels winning a
/// shared cell; the result has `error` and `error_offset` for a damaged
/// file, and `frames_left_out`. The scene is walked for its box and its
/// count of voxels first. Where a dense grid fits them (dense_grid_fits),
/// the second walk puts the voxels into it, so that they are never kept on
/// their own; with `in_two`, two threads fault in and fill the halves of a
/// large grid: the system clears every fresh page, which takes most of the
/// time, and two cores clear twice as many. Otherwise the second walk keeps
/// the voxels and sorts them into walk order (sort_into_walk_order): memory
/// by the voxels, whatever the box. The cells are complete only when the
/// result holds no error.
vox_read_result read_vox_cells(std::string_view text, model_cells& cells, bool in_two);

}  // namespace cubewright
