// The writer of a sproxel CSV export, the format the editor imports.
#pragma once

#include <cstddef>
#include <vector>

#include "model/voxel_grid.h"
#include "model_document/model_writer.h"

namespace cubewright {

/// Writes the grid as the editor writes an export: the header "X,Y,Z", then
/// for y from the top layer down and z from the lowest, one line of X cells
/// "#RRGGBBFF" (upper case) or "#00000000" for an empty cell, separated by
/// commas, and a blank line after every layer. LF line ends on every
/// platform, as the editor writes and reads them. The bytes go to the sink in
/// blocks of `block_size`; true when the sink took all of them.
bool write_sproxel_csv(const voxel_grid& grid, output_sink sink,
                       std::size_t block_size = default_block_size);

/// The same export of voxels already in the order it is walked, each cell
/// once (in_walk_order), in the box of `box` (make_voxel_box), without
/// putting them in a grid first.
bool write_sproxel_csv(const std::vector<cell_voxel>& walk_ordered, const voxel_grid& box,
                       output_sink sink, std::size_t block_size = default_block_size);

/// The same with the voxels in pieces, read one after another.
bool write_sproxel_csv(const cell_pieces& walk_ordered, const voxel_grid& box, output_sink sink,
                       std::size_t block_size = default_block_size);

}  // namespace cubewright
