// The document written by two threads against the one written by one: the
// same bytes whether or not an export's pieces start where its regular lines
// say, the same bytes for a .vox file's grid, one write at a time, and
// nothing after a refused write.
#include "app/parallel_document.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <random>
#include <string>
#include <vector>

#include "app/conversion.h"
#include "voxel_model/cell_voxel.h"
#include "voxel_model/model_writer.h"
#include "voxel_model/voxel_grid.h"

namespace cubewright {
namespace {

// Collects what it is given, checking that no two calls overlap; refuses
// every write from the `refuse_from`th byte on.
struct checking_sink {
  std::string bytes;
  std::size_t refuse_from = std::string::npos;
  std::atomic<bool> busy{false};
  bool overlapped = false;
  int calls_after_refusal = 0;
  bool refused = false;

  output_sink sink() {
    output_sink out;
    out.context = this;
    out.write = [](void* context, const char* data, std::size_t size) {
      auto& self = *static_cast<checking_sink*>(context);
      if (self.busy.exchange(true)) self.overlapped = true;
      bool took = true;
      if (self.refused) ++self.calls_after_refusal;
      if (self.bytes.size() + size > self.refuse_from) {
        self.refused = true;
        took = false;
      } else {
        self.bytes.append(data, size);
      }
      self.busy = false;
      return took;
    };
    return out;
  }
};

// An export of `side` cells a side, a fifth of them filled, with its line
// end; `irregular` adds blank lines and odd cells where the regular lines
// would not have them.
std::string export_text(int side, const char* line_end, bool irregular, unsigned seed) {
  std::mt19937 random(seed);
  std::string text =
      std::to_string(side) + "," + std::to_string(side) + "," + std::to_string(side) + line_end;
  for (int y = 0; y < side; ++y) {
    for (int z = 0; z < side; ++z) {
      for (int x = 0; x < side; ++x) {
        if (x != 0) text += ',';
        if (irregular && random() % 5000 == 0) {
          text += "#12ab";  // short: read by the general rule
        } else if (random() % 5 == 0) {
          const char digits[] = "0123456789ABCDEF";
          text += '#';
          for (int k = 0; k < 6; ++k) text += digits[random() % 16];
          text += "FF";
        } else {
          text += "#00000000";
        }
      }
      text += line_end;
      if (irregular && random() % 40 == 0) text += line_end;
    }
    text += line_end;
  }
  return text;
}

std::string document_of(const std::string& text, const model_placement& placement) {
  return convert_text(text, placement, "\r\n").value();
}

TEST(ParallelDocument, WritesWhatOneThreadWrites) {
  model_placement mirrored;
  mirrored.axis_factor_x = -1.0f;
  mirrored.offset_x = 11;
  mirrored.offset_z = -4;
  struct example {
    const char* line_end;
    bool irregular;
    model_placement placement;
  };
  const example examples[] = {
      {"\n", false, {}}, {"\r\n", false, mirrored}, {"\n", true, mirrored}, {"\r\n", true, {}}};
  unsigned seed = 1;
  for (const example& e : examples) {
    const std::string text = export_text(72, e.line_end, e.irregular, seed++);
    ASSERT_GT(text.size(), 4 * document_piece_size);
    const std::string expected = document_of(text, e.placement);
    const token_list tokens = read_token_list(text);
    for (int threads : {1, 2}) {
      checking_sink out;
      EXPECT_TRUE(write_model_in_parallel(tokens, *parse_grid_size(tokens), e.placement, "\r\n",
                                          out.sink(), threads));
      EXPECT_FALSE(out.overlapped);
      EXPECT_TRUE(out.bytes == expected)
          << "line end " << (e.line_end[1] ? "CR LF" : "LF") << ", irregular " << e.irregular
          << ", threads " << threads << ": " << out.bytes.size() << " bytes of " << expected.size();
    }
  }
}

TEST(ParallelDocument, StopsAtTheFirstRefusedWrite) {
  const std::string text = export_text(72, "\n", false, 9);
  const std::string expected = document_of(text, {});
  const token_list tokens = read_token_list(text);
  for (std::size_t refuse_from :
       {std::size_t{0}, std::size_t{100000}, expected.size() / 2, expected.size() - 1}) {
    checking_sink out;
    out.refuse_from = refuse_from;
    EXPECT_FALSE(write_model_in_parallel(tokens, *parse_grid_size(tokens), {}, "\r\n", out.sink()));
    EXPECT_EQ(out.calls_after_refusal, 0) << refuse_from;
    EXPECT_EQ(out.bytes, expected.substr(0, out.bytes.size())) << refuse_from;
    EXPECT_FALSE(out.overlapped);
  }
}

// The document of a grid by the record path, one voxel after the other.
std::string grid_document(const voxel_grid& grid, const model_placement& placement) {
  checking_sink out;
  model_writer writer = open_model_writer(out.sink(), "\n", 4096);
  write_head(writer);
  for_each_voxel_in_walk_order(
      grid, [&](const cell_voxel& cell) { write_voxel(writer, placed_record(cell, placement)); });
  write_tail(writer);
  return out.bytes;
}

TEST(ParallelDocument, WritesAGridAsOneThreadWrites) {
  // Layers of a few cells and of many, so that pieces hold one layer or
  // several; a grid that starts left of and below 0; and an empty one.
  std::mt19937 random(31);
  model_placement placement;
  placement.axis_factor_z = -1.0f;
  placement.offset_y = 5;
  for (const int side : {0, 60, 300}) {
    std::vector<cell_voxel> voxels;
    for (int k = 0; k < side * side * 3; ++k) {
      cell_voxel cell;
      cell.x = static_cast<std::int32_t>(random() % static_cast<unsigned>(side)) - 4;
      cell.y = static_cast<std::int32_t>(random() % 40) - 7;
      cell.z = static_cast<std::int32_t>(random() % static_cast<unsigned>(side));
      cell.r = static_cast<std::uint8_t>(random());
      cell.g = static_cast<std::uint8_t>(random());
      cell.b = static_cast<std::uint8_t>(random());
      voxels.push_back(cell);
    }
    voxel_grid grid;
    ASSERT_TRUE(make_voxel_grid(voxels, grid));
    const std::string expected = grid_document(grid, placement);
    for (int threads : {1, 2}) {
      checking_sink out;
      EXPECT_TRUE(write_grid_in_parallel(grid, placement, "\n", out.sink(), threads));
      EXPECT_FALSE(out.overlapped);
      EXPECT_TRUE(out.bytes == expected) << "side " << side << ", threads " << threads << ": "
                                         << out.bytes.size() << " bytes of " << expected.size();
    }
  }
}

}  // namespace
}  // namespace cubewright
