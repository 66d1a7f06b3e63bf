#include "sproxel_csv/export_cells.h"

#include <algorithm>

#include "sproxel_csv/cell_walk.h"

namespace cubewright {
namespace {

// The cells of a grid, or `limit` when there are more; 0 when a side is not
// positive.
std::uint64_t grid_cells_up_to(const grid_size& size, std::uint64_t limit) {
  std::uint64_t cells = 1;
  for (const std::int32_t side : {size.size_x, size.size_y, size.size_z}) {
    if (side <= 0) return 0;
    const auto count = static_cast<std::uint64_t>(side);
    if (cells > limit / count) return limit;
    cells *= count;
  }
  return std::min(cells, limit);
}

// Hands the placed cells of an export's voxels to `take(cells, count)` a
// few hundred at a time, which fills memory faster than one after another.
template <typename Take>
void walk_exported_cells(const token_list& tokens, const grid_size& size,
                         const model_placement& placement, Take&& take) {
  // An exported cell's colour bytes straight from its digits, anything
  // else through its record. Every cell of a row is on one y and z, and
  // the x cells of the grid are worked out once.
  std::vector<std::int32_t> placed_x(
      static_cast<std::size_t>(std::clamp(size.size_x, 1, max_compared_row)));
  for (std::size_t x = 0; x < placed_x.size(); ++x) {
    placed_x[x] = nearest_cell(
        place_index(static_cast<std::int64_t>(x), placement.axis_factor_x, placement.offset_x));
  }
  std::vector<cell_voxel> gathered(512);
  std::size_t gathered_count = 0;
  const auto keep = [&](const cell_voxel& cell) {
    gathered[gathered_count++] = cell;
    if (gathered_count == gathered.size()) {
      take(gathered.data(), gathered.size());
      gathered_count = 0;
    }
  };
  bool in_row = false;
  cell_cursor row;  // of y and z below
  std::int32_t row_y = 0;
  std::int32_t row_z = 0;
  walk_filled_cells(tokens, size, [&](const cell_cursor& at, std::string_view token) {
    std::uint8_t rgb[3];
    if (!read_colour_bytes(token, rgb)) {
      keep(drawn_cell(make_voxel_record(at, token, placement)));
      return;
    }
    if (!in_row || at.cell_y != row.cell_y || at.cell_z != row.cell_z) {
      in_row = true;
      row = at;
      row_y = nearest_cell(place_index(at.cell_y, placement.axis_factor_y, placement.offset_y));
      row_z = nearest_cell(place_index(at.cell_z, placement.axis_factor_z, placement.offset_z));
    }
    const std::int32_t x =
        static_cast<std::size_t>(at.cell_x) < placed_x.size()
            ? placed_x[static_cast<std::size_t>(at.cell_x)]
            : nearest_cell(place_index(at.cell_x, placement.axis_factor_x, placement.offset_x));
    keep({x, row_y, row_z, rgb[0], rgb[1], rgb[2]});
  });
  take(gathered.data(), gathered_count);
}

}  // namespace

std::optional<cell_box> exported_grid_cells(std::string_view text,
                                            const model_placement& placement) {
  const std::optional<grid_size> size = parse_grid_size(read_token_list(text));
  if (!size) return std::nullopt;
  // Placing is monotonic along each axis, so the ends of the grid are the
  // ends of the box.
  const std::int32_t sizes[3] = {size->size_x, size->size_y, size->size_z};
  const float factors[3] = {placement.axis_factor_x, placement.axis_factor_y,
                            placement.axis_factor_z};
  const std::int32_t offsets[3] = {placement.offset_x, placement.offset_y, placement.offset_z};
  cell_box box;
  for (int a = 0; a < 3; ++a) {
    const std::int32_t first = nearest_cell(place_index(0, factors[a], offsets[a]));
    const std::int32_t last =
        nearest_cell(place_index(std::max(sizes[a], 1) - 1, factors[a], offsets[a]));
    box.low[a] = std::min(first, last);
    box.high[a] = std::max(first, last);
  }
  return box;
}

void for_each_exported_cell(std::string_view text, const model_placement& placement,
                            const std::function<void(const cell_voxel*, std::size_t)>& take) {
  const token_list tokens = read_token_list(text);
  const std::optional<grid_size> size = parse_grid_size(tokens);
  if (size) walk_exported_cells(tokens, *size, placement, take);
}

void read_export_cells(const token_list& tokens, const grid_size& size,
                       const model_placement& placement, std::vector<cell_voxel>& cells) {
  // Room for every cell of a full export (ten bytes a cell) or of the grid,
  // whichever is less, so that the cells are written once into memory that
  // is only touched as it fills.
  cells.reserve(cells.size() +
                static_cast<std::size_t>(grid_cells_up_to(size, tokens.text.size() / 10 + 1)));
  walk_exported_cells(tokens, size, placement, [&](const cell_voxel* taken, std::size_t count) {
    cells.insert(cells.end(), taken, taken + count);
  });
}

}  // namespace cubewright
