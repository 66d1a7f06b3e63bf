// A .vox scene's voxels in a grid of their placed cells.
#pragma once

#include <string_view>

#include "model/voxel_grid.h"
#include "vox_format/vox_reader.h"

namespace cubewright {

/// What reading a scene into its grid found: `read.error` and
/// `read.error_offset` for a damaged file, `read.frames_left_out`, and
/// whether the scene's bounding box holds more than max_grid_cells.
struct vox_grid_read {
  vox_read_result read;
  bool too_large = false;
};

/// Reads the scene of .vox `text` into `grid`, the box of every voxel it
/// places, later voxels winning a shared cell. The scene is walked for the
/// box and then for the cells, so that the voxels are never kept on their
/// own. With `in_two`, two threads fault in and fill the halves of a large
/// grid: the system clears every fresh page, which takes most of the time,
/// and two cores clear twice as many. The grid is complete only when the
/// result holds no error and is not too large.
vox_grid_read read_vox_grid(std::string_view text, voxel_grid& grid, bool in_two);

}  // namespace cubewright
