// The grid of placed voxels and the CSV export written from it.
#include "sproxel_csv/sproxel_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "conversion/convert.h"
#include "memory/large_pages.h"
#include "model/voxel_grid.h"
#include "sproxel_csv/cell_walk.h"
#include "sproxel_csv/csv_document.h"

namespace cubewright {
namespace {

std::string export_text(const voxel_grid& grid, std::size_t block_size = default_block_size) {
  std::string text;
  const output_sink sink = string_sink(text);
  EXPECT_TRUE(write_sproxel_csv(grid, sink, block_size));
  return text;
}

TEST(SproxelWriter, WritesWhatTheEditorWrites) {
  voxel_grid grid;
  ASSERT_TRUE(make_voxel_grid({{0, 0, 0, 0xab, 0xcd, 0xef}, {1, 1, 1, 0, 0, 0}}, grid));
  const std::string expected =
      "2,2,2\n"
      "#00000000,#00000000\n#00000000,#000000FF\n\n"
      "#ABCDEFFF,#00000000\n#00000000,#00000000\n\n";
  EXPECT_EQ(export_text(grid), expected);
  EXPECT_EQ(export_text(grid, 1), expected);  // blocks smaller than a line
}

TEST(SproxelWriter, CellsInWalkOrderWriteWhatTheirGridWrites) {
  // Random sparse models, sorted into the order an export is walked; the
  // export from the cells as they are must be the grid's, in any block size.
  std::mt19937 random(5);
  for (int n = 0; n < 300; ++n) {
    std::vector<cell_voxel> cells;
    const std::size_t count = random() % 40;
    const std::uint32_t side = 1 + static_cast<std::uint32_t>(random() % 6);
    const auto at = [&random](std::uint32_t range, std::int32_t low) {
      return static_cast<std::int32_t>(random() % range) + low;
    };
    for (std::size_t i = 0; i < count; ++i) {
      cells.push_back({at(side, -3), at(side, 1000), at(2 * side, -2147483647),
                       static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random()),
                       static_cast<std::uint8_t>(random())});
    }
    voxel_grid grid;
    ASSERT_TRUE(make_voxel_grid(cells, grid));
    std::vector<cell_voxel> ordered;
    for_each_voxel_in_walk_order(grid, [&](const cell_voxel& v) { ordered.push_back(v); });
    ASSERT_TRUE(in_walk_order(ordered));
    const bool already_ordered =
        std::equal(cells.begin(), cells.end(), ordered.begin(), ordered.end(),
                   [](const cell_voxel& a, const cell_voxel& b) {
                     return a.x == b.x && a.y == b.y && a.z == b.z;
                   });
    EXPECT_EQ(in_walk_order(cells), already_ordered);
    // Gathered whole, or in two parts joined, a run knows what a pass over
    // its voxels finds.
    const std::size_t split = random() % (count + 1);
    voxel_run whole;
    voxel_run front;
    voxel_run back;
    for (std::size_t i = 0; i < count; ++i) {
      whole.add(cells[i]);
      (i < split ? front : back).add(cells[i]);
    }
    front.join(back);
    for (const voxel_run* run : {&whole, &front}) {
      EXPECT_EQ(run->walk_ordered, already_ordered);
      EXPECT_EQ(run->count, count);
      voxel_grid frame;
      ASSERT_TRUE(make_voxel_box(*run, frame));
      EXPECT_EQ(std::vector<std::int32_t>({frame.min_x, frame.min_y, frame.min_z, frame.size_x,
                                           frame.size_y, frame.size_z}),
                std::vector<std::int32_t>(
                    {grid.min_x, grid.min_y, grid.min_z, grid.size_x, grid.size_y, grid.size_z}));
    }
    voxel_run ordered_run;
    for (const cell_voxel& voxel : ordered) ordered_run.add(voxel);
    voxel_grid box;
    ASSERT_TRUE(make_voxel_box(ordered_run, box));
    EXPECT_EQ(box.voxel_count, grid.voxel_count);
    EXPECT_TRUE(box.cells.empty());
    // In pieces too, cut anywhere, from two stores in turn as two threads
    // leave them, and with cells between that are no piece's.
    cell_pieces pieces;
    pieces.stores.resize(2);
    for (std::size_t first = 0, piece = 0; first < ordered.size(); ++piece) {
      const std::size_t taken = std::min<std::size_t>(random() % 40, ordered.size() - first);
      std::vector<cell_voxel>& store = pieces.stores[piece % 2];
      store.push_back({7, 7, 7});  // read, then dropped
      store.insert(store.end(), ordered.begin() + static_cast<std::ptrdiff_t>(first),
                   ordered.begin() + static_cast<std::ptrdiff_t>(first + taken));
      pieces.add_span(piece % 2, store.size() - taken);
      first += taken;
    }
    for (const std::size_t block_size : {std::size_t{1}, std::size_t{64}, default_block_size}) {
      std::string from_cells;
      ASSERT_TRUE(write_sproxel_csv(ordered, box, string_sink(from_cells), block_size));
      ASSERT_EQ(from_cells, export_text(grid, block_size));
      std::string from_pieces;
      ASSERT_TRUE(write_sproxel_csv(pieces, box, string_sink(from_pieces), block_size));
      ASSERT_EQ(from_pieces, from_cells);
    }
  }
  // A cell twice, or one out of order, is not in walk order.
  EXPECT_FALSE(in_walk_order({{0, 0, 0}, {0, 0, 0}}));
  EXPECT_FALSE(in_walk_order({{0, 0, 0}, {0, 1, 0}}));
  EXPECT_FALSE(in_walk_order({{0, 0, 1}, {0, 0, 0}}));
  EXPECT_TRUE(in_walk_order({{5, 0, 0}, {0, 0, 1}, {0, -1, 0}}));
}

TEST(SproxelWriter, ExportReadsBackToTheSameDocument) {
  const std::string csv =
      "3,2,2\n#ff0000ff,#00000000,#00ff00ff\n#123456ff,#00000000,#00000000\n\n"
      "#0000ffff,#000000ff,#00000000\n#00000000,#00000000,#abcdef00\n";
  const model_placement moved{-6, 2, 9, 1, 1, 1};
  std::vector<cell_voxel> cells;
  const token_list tokens = read_token_list(csv);
  walk_cells(tokens, *parse_grid_size(tokens), moved, [&](const voxel_record& r) {
    cells.push_back({static_cast<std::int32_t>(r.x), static_cast<std::int32_t>(r.y),
                     static_cast<std::int32_t>(r.z), colour_byte(r.r), colour_byte(r.g),
                     colour_byte(r.b)});
  });
  voxel_grid grid;
  ASSERT_TRUE(make_voxel_grid(cells, grid));
  const model_placement back{grid.min_x, grid.min_y, grid.min_z, 1, 1, 1};
  EXPECT_EQ(export_to_document(export_text(grid), back), export_to_document(csv, moved));
}

}  // namespace
}  // namespace cubewright
