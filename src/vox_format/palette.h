// A model's colours fitted to the 255 entries of a .vox palette, and the
// search for the entry nearest a colour.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/placed_model.h"
#include "vox_format/vox_writer.h"

namespace cubewright {

/// The palette of a model and the colour index of every voxel.
struct colour_mapping {
  /// 0xrrggbb: the distinct colours in ascending order when there are at
  /// most 255 of them, otherwise 255 reduced ones.
  std::vector<std::uint32_t> palette;
  /// Per voxel, in input order: 1 + the index of its palette entry.
  std::vector<std::uint8_t> voxel_index;
  vox_colour_report report;
};

/// More than 255 colours are reduced by cutting the colour space into boxes,
/// always where the squared error falls most, each box giving the mean of its
/// colours weighted by their voxels; every colour then takes nearest_entry.
/// The result depends only on the voxels' colours and their order.
colour_mapping map_colours(const std::vector<cell_voxel>& voxels);

/// A palette of 1 to 256 entries (0xrrggbb) and, for each cell of a grid
/// over the RGB cube, the entries that can be nearest a colour of the cell.
struct palette_lookup {
  std::vector<std::uint32_t> palette;
  /// 2^cell_bits cells along each channel: 1 to 32.
  int cell_bits = 0;
  /// Cell (r, g, b), numbered r << 2 * cell_bits | g << cell_bits | b, has
  /// candidates[cell_start[cell] .. cell_start[cell + 1]): for each entry,
  /// its least squared distance to the cell << 8 | its index, in ascending
  /// order, so that a search stops at the first entry too far off.
  std::vector<std::uint32_t> cell_start;
  std::vector<std::uint32_t> candidates;
};

/// A lookup whose grid suits looking up about `colours` distinct colours:
/// finer cells cost more to make and less to search.
palette_lookup make_palette_lookup(const std::vector<std::uint32_t>& palette, std::size_t colours);

/// The index of the entry nearest `rgb` (0xrrggbb) by squared distance in RGB
/// bytes; of entries equally near, the lowest index.
std::size_t nearest_entry(const palette_lookup& lookup, std::uint32_t rgb);

}  // namespace cubewright
