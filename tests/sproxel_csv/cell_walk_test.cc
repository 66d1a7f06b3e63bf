#include "sproxel_csv/cell_walk.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "model_document/model_writer.h"
#include "sproxel_csv/grid_size.h"
#include "sproxel_csv/token_list.h"

namespace cubewright {
namespace {

using position = std::tuple<float, float, float>;

std::vector<voxel_record> walk(std::string_view text, const model_placement& placement = {}) {
  const token_list tokens = read_token_list(text);
  const std::optional<grid_size> size = parse_grid_size(tokens);
  std::vector<voxel_record> records;
  if (size)
    walk_cells(tokens, *size, placement, [&](const voxel_record& r) { records.push_back(r); });
  return records;
}

std::vector<position> positions(const std::vector<voxel_record>& records) {
  std::vector<position> result;
  for (const voxel_record& r : records) result.emplace_back(r.x, r.y, r.z);
  return result;
}

TEST(ParseHexPair, ReadsLikeStreamExtraction) {
  const struct {
    const char* text;
    std::int32_t value;
  } cases[] = {
      {"ff", 255}, {"FF", 255}, {"80", 128}, {"01", 1},  {"00", 0},   {"1g", 1},    {"zz", 0},
      {"", 0},     {"-f", -15}, {"+f", 15},  {" f", 15}, {"\tA", 10}, {"f ", 15},   {"0x", 0},
      {"-", 0},    {"- ", 0},   {"x1", 0},   {"g", 0},   {"a", 10},   {"0x1f", 31}, {"-0X1", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_hex_pair(c.text), c.value) << '"' << c.text << '"';
}

TEST(CellWalk, GivesFilledCellsTheirPositionAndColour) {
  const std::vector<voxel_record> records = walk("2,1,1\n#ff8000ff,#00000000\n");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(positions(records), (std::vector<position>{{0.0f, 0.0f, 0.0f}}));
  EXPECT_EQ(records[0].r, 0.99609375f);
  EXPECT_EQ(records[0].g, 0.5f);
  EXPECT_EQ(records[0].b, 0.0f);
}

TEST(CellWalk, GoesXThenZThenYDownward) {
  const std::string filled = "#ffffffff,#ffffffff,#ffffffff,#ffffffff,";
  EXPECT_EQ(
      positions(walk("2,2,2\n" + filled + filled)),
      (std::vector<position>{
          {0, 1, 0}, {1, 1, 0}, {0, 1, 1}, {1, 1, 1}, {0, 0, 0}, {1, 0, 0}, {0, 0, 1}, {1, 0, 1}}));
}

TEST(CellWalk, OnlyTheExactEmptyMarkerIsEmptyAndEveryTokenAdvances) {
  EXPECT_EQ(positions(walk("3,1,1,#00000000,#00000000,#ffffffff")),
            (std::vector<position>{{2, 0, 0}}));
  // Filled although blank-padded, lower-alpha, or black.
  EXPECT_EQ(walk("4,1,1, #00000000,#00000000 ,#ff000000,#000000ff").size(), 4u);
  EXPECT_EQ(walk("1,1,1,#00000000").size(), 0u);
}

TEST(CellWalk, TokensBeyondTheGridGoOnBelowZero) {
  EXPECT_EQ(positions(walk("1,1,1,#ffffffff,#ffffffff,#ffffffff")),
            (std::vector<position>{{0, 0, 0}, {0, -1, 0}, {0, -2, 0}}));
}

TEST(CellWalk, SizesOfZeroOrLessWrapOnEveryStep) {
  EXPECT_EQ(positions(walk("0,5,2,#ffffffff,#ffffffff,#ffffffff")),
            (std::vector<position>{{0, 4, 0}, {0, 4, 1}, {0, 3, 0}}));
  EXPECT_EQ(positions(walk("-3,-1,-7,#ffffffff,#ffffffff")),
            (std::vector<position>{{0, -2, 0}, {0, -3, 0}}));
}

TEST(CellWalk, ExtremeSizesDoNotOverflowTheCursor) {
  // size_y - 1 is below the 32-bit range; y goes on counting down from there.
  const std::vector<voxel_record> low = walk("1,-2147483648,1,#ffffffff,#ffffffff");
  ASSERT_EQ(low.size(), 2u);
  EXPECT_EQ(low[0].y, -2147483648.0f);  // -2147483649 and -2147483650, as floats
  EXPECT_EQ(low[1].y, -2147483648.0f);
  // A huge size_x never wraps; x keeps counting.
  const std::vector<voxel_record> wide = walk("2147483647,1,1,#ffffffff,#ffffffff");
  ASSERT_EQ(wide.size(), 2u);
  EXPECT_EQ(wide[1].x, 1.0f);
  EXPECT_EQ(wide[1].y, 0.0f);
}

TEST(CellWalk, AppliesAxisFactorsThenOffsets) {
  model_placement placement;
  placement.axis_factor_x = -1.0f;
  placement.offset_x = 4;
  EXPECT_EQ(positions(walk("3,1,1,#ffffffff,#ffffffff,#ffffffff", placement)),
            (std::vector<position>{{4, 0, 0}, {3, 0, 0}, {2, 0, 0}}));

  model_placement all;
  all.axis_factor_x = all.axis_factor_y = all.axis_factor_z = -1.0f;
  all.offset_y = -2;
  all.offset_z = 10;
  EXPECT_EQ(positions(walk("2,2,2,#00000000,#00000000,#00000000,#ffffffff", all)),
            (std::vector<position>{{-1, -3, 9}}));
}

TEST(CellWalk, MirroredZeroIsPositiveZero) {
  model_placement placement;
  placement.axis_factor_x = -1.0f;
  const std::vector<voxel_record> records = walk("1,1,1,#ffffffff", placement);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_FALSE(std::signbit(records[0].x));
}

TEST(CellWalk, PositionsAreRoundedToSinglePrecisionStepByStep) {
  // 16777217 is not a float: the index rounds to 16777216 before the offset.
  model_placement placement;
  placement.offset_y = 1;
  const std::vector<voxel_record> records = walk("1,16777218,1,#ffffffff", placement);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].y, 16777216.0f);
}

TEST(CellWalk, ShortTokensGiveZeroForMissingColourPairs) {
  const std::vector<voxel_record> records = walk("9,1,1,#ab,#,x,#1,#abcd,#abcde,#-f0102ff,#0x0203");
  ASSERT_EQ(records.size(), 8u);
  const std::vector<std::tuple<float, float, float>> colours = {
      {171 / 256.0f, 0, 0},
      {0, 0, 0},
      {0, 0, 0},
      {1 / 256.0f, 0, 0},
      {171 / 256.0f, 205 / 256.0f, 0},
      {171 / 256.0f, 205 / 256.0f, 14 / 256.0f},
      {-15 / 256.0f, 1 / 256.0f, 2 / 256.0f},
      {0, 2 / 256.0f, 3 / 256.0f}};
  for (std::size_t i = 0; i < colours.size(); ++i) {
    EXPECT_EQ(std::make_tuple(records[i].r, records[i].g, records[i].b), colours[i]) << i;
  }
  EXPECT_EQ(records[7].x, 7.0f);  // the cursor advanced over every short token
}

TEST(CellWalk, NoCellsWithoutTokensAfterTheHeader) {
  EXPECT_TRUE(walk("5,5,5").empty());
  EXPECT_TRUE(walk("5,5,5,,,\n\n").empty());
}

std::string write_document(const std::vector<voxel_record>& records, std::string_view line_end,
                           std::size_t block_size = default_block_size) {
  std::string document;
  const output_sink sink = string_sink(document);
  model_writer writer = open_model_writer(sink, line_end, block_size);
  write_head(writer);
  for (const voxel_record& record : records) write_voxel(writer, record);
  EXPECT_TRUE(write_tail(writer));
  return document;
}

TEST(ModelWriter, WritesTheFixedLinesAroundTheVoxels) {
  EXPECT_EQ(write_document({}, "\n"),
            "<model>\n<voxels>\n</voxels>\n<skeleton />\n<skeletonVoxelBindings />\n</model>\n");
  EXPECT_EQ(write_document({{0, 0, 0, 0.99609375f, 0.5f, 0}, {-3, 12, 1000000, 0.01953125f, 1, 0}},
                           "\r\n"),
            "<model>\r\n<voxels>\r\n"
            "<voxel x=\"0\" y=\"0\" z=\"0\" r=\"0.996094\" g=\"0.5\" b=\"0\" a=\"1.0\" />\r\n"
            "<voxel x=\"-3\" y=\"12\" z=\"1e+06\" r=\"0.0195312\" g=\"1\" b=\"0\" a=\"1.0\" />\r\n"
            "</voxels>\r\n<skeleton />\r\n<skeletonVoxelBindings />\r\n</model>\r\n");
}

TEST(ModelWriter, BlockSizeDoesNotChangeTheBytes) {
  std::vector<voxel_record> records;
  for (int i = 0; i < 5000; ++i) {
    records.push_back({static_cast<float>(i), -1.0f * static_cast<float>(i % 7), 3, 0.25f, 0, 1});
  }
  EXPECT_EQ(write_document(records, "\n", 1), write_document(records, "\n"));
}

// A sink that lends one block of its own, `lent` bytes long, and keeps what
// each exchange hands back; it refuses the `refuse_at`-th exchange (0: none).
struct lending_sink {
  std::vector<char> block;
  std::string taken;
  int exchanges = 0;
  int refuse_at = 0;
};

output_sink lend_from(lending_sink& lender, std::size_t lent) {
  lender.block.assign(lent, '\0');
  output_sink sink;
  sink.context = &lender;
  sink.write = [](void* context, const char* data, std::size_t size) {
    static_cast<lending_sink*>(context)->taken.append(data, size);
    return true;
  };
  sink.exchange = [](void* context, const char* filled, std::size_t size) -> char* {
    auto& l = *static_cast<lending_sink*>(context);
    if (++l.exchanges == l.refuse_at) return nullptr;
    if (filled != nullptr) {
      EXPECT_EQ(filled, l.block.data());
      EXPECT_LE(size, l.block.size());
      l.taken.append(filled, size);
    }
    return l.block.data();
  };
  sink.block_size = lent;
  return sink;
}

TEST(ModelWriter, LentBlocksGiveTheSameBytes) {
  std::vector<voxel_record> records;
  for (int i = 0; i < 3000; ++i) {
    records.push_back({static_cast<float>(i) * 0.37f, static_cast<float>(-i), 1e7f, 0.125f, 1, 0});
  }
  const std::string expected = write_document(records, "\r\n");
  // Too small a lent block for one line: the writer keeps a block of its own.
  for (const std::size_t lent : {std::size_t{16}, std::size_t{300}, std::size_t{4096}}) {
    SCOPED_TRACE(lent);
    lending_sink lender;
    model_writer writer = open_model_writer(lend_from(lender, lent), "\r\n");
    write_head(writer);
    for (const voxel_record& record : records) write_voxel(writer, record);
    EXPECT_TRUE(write_tail(writer));
    EXPECT_TRUE(lender.taken == expected);
    EXPECT_EQ(lender.exchanges != 0, lent >= 300);
  }
  for (const int refuse_at : {1, 2, 7}) {
    SCOPED_TRACE(refuse_at);
    lending_sink lender;
    lender.refuse_at = refuse_at;
    model_writer writer = open_model_writer(lend_from(lender, 4096), "\n");
    write_head(writer);
    for (const voxel_record& record : records) write_voxel(writer, record);
    EXPECT_FALSE(write_tail(writer));
    EXPECT_EQ(lender.exchanges, refuse_at) << "no exchange after the refused one";
  }
}

TEST(ModelWriter, StopsAtTheFirstFailedBlockAndSaysSo) {
  struct state {
    int calls = 0;
    int fail_at = 0;
  };
  for (int fail_at = 1; fail_at <= 3; ++fail_at) {
    state s{0, fail_at};
    output_sink sink{&s, [](void* context, const char*, std::size_t) {
                       auto* st = static_cast<state*>(context);
                       return ++st->calls < st->fail_at;
                     }};
    model_writer writer = open_model_writer(sink, "\n", 300);
    write_head(writer);
    for (int i = 0; i < 100; ++i) write_voxel(writer, {});
    EXPECT_FALSE(write_tail(writer));
    EXPECT_EQ(s.calls, fail_at);
  }
}

}  // namespace
}  // namespace cubewright
