#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "conversion/convert.h"
#include "model/voxel_grid.h"
#include "model_document/model_writer.h"
#include "sproxel_csv/sproxel_writer.h"
#include "support/files.h"
#include "vox_format/scene_grid.h"
#include "vox_format/vox_reader.h"
#include "vox_format/vox_writer.h"

namespace cubewright {
namespace {

// --- Building files ----------------------------------------------------------

std::string le32(std::int64_t value) {
  const auto v = static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
  return {static_cast<char>(v & 0xff), static_cast<char>(v >> 8 & 0xff),
          static_cast<char>(v >> 16 & 0xff), static_cast<char>(v >> 24 & 0xff)};
}

std::string chunk(const std::string& id, const std::string& content,
                  const std::string& children = "") {
  return id + le32(static_cast<std::int64_t>(content.size())) +
         le32(static_cast<std::int64_t>(children.size())) + content + children;
}

std::string text(const std::string& s) { return le32(static_cast<std::int64_t>(s.size())) + s; }

using attributes = std::vector<std::pair<std::string, std::string>>;

std::string dictionary(const attributes& entries) {
  std::string out = le32(static_cast<std::int64_t>(entries.size()));
  for (const auto& [key, value] : entries) out += text(key) + text(value);
  return out;
}

std::string vox_file(const std::string& children) {
  return "VOX " + le32(150) + chunk("MAIN", "", children);
}

using record = std::array<int, 4>;  // x, y, z, colour index

std::string model(std::array<int, 3> size, const std::vector<record>& voxels) {
  std::string xyzi = le32(static_cast<std::int64_t>(voxels.size()));
  for (const record& r : voxels)
    for (int b : r) xyzi += static_cast<char>(b);
  return chunk("SIZE", le32(size[0]) + le32(size[1]) + le32(size[2])) + chunk("XYZI", xyzi);
}

std::string transform(int id, int child, const attributes& frame = {}, int layer = -1,
                      const attributes& node = {}) {
  return chunk("nTRN", le32(id) + dictionary(node) + le32(child) + le32(-1) + le32(layer) +
                           le32(1) + dictionary(frame));
}

std::string group(int id, const std::vector<int>& children) {
  std::string content =
      le32(id) + dictionary({}) + le32(static_cast<std::int64_t>(children.size()));
  for (int c : children) content += le32(c);
  return chunk("nGRP", content);
}

std::string shape(int id, const std::vector<int>& models) {
  std::string content = le32(id) + dictionary({}) + le32(static_cast<std::int64_t>(models.size()));
  for (int m : models) content += le32(m) + dictionary({});
  return chunk("nSHP", content);
}

std::string layer(int id, bool hidden) {
  return chunk("LAYR", le32(id) + dictionary({{"_hidden", hidden ? "1" : "0"}}) + le32(-1));
}

// --- Looking at results ------------------------------------------------------

using cell = std::tuple<int, int, int>;
using coloured_cell = std::tuple<int, int, int, int, int, int>;

std::vector<cell> cells(const std::vector<cell_voxel>& voxels) {
  std::vector<cell> out;
  for (const cell_voxel& v : voxels) out.emplace_back(v.x, v.y, v.z);
  return out;
}

std::vector<coloured_cell> sorted_voxels(const std::vector<cell_voxel>& voxels) {
  std::vector<coloured_cell> out;
  for (const cell_voxel& v : voxels) out.emplace_back(v.x, v.y, v.z, v.r, v.g, v.b);
  std::sort(out.begin(), out.end());
  return out;
}

std::string fixture(const std::string& name) {
  return cubewright_test::read_file(std::string(CUBEWRIGHT_TEST_DATA) + "/vox/" + name);
}

// The game cell of voxel v of a model of size s placed by the rotation whose
// row i has `sign[i]` in column `column[i]` and translation t, worked out in
// floating point as the format describes it: centre c = t + R (v + 0.5 -
// floor(s / 2)), world cell c - 0.5, game (-x - 1, z, y).
struct matrix {
  int m[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
};

matrix rotation_from_byte(int bits) {
  matrix r;
  const int c0 = bits & 3;
  const int c1 = bits >> 2 & 3;
  const int columns[3] = {c0, c1, 3 - c0 - c1};
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 3; ++col)
      r.m[row][col] = col == columns[row] ? ((bits >> (4 + row) & 1) ? -1 : 1) : 0;
  return r;
}

matrix multiply(const matrix& a, const matrix& b) {
  matrix p;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      p.m[i][j] = 0;
      for (int k = 0; k < 3; ++k) p.m[i][j] += a.m[i][k] * b.m[k][j];
    }
  return p;
}

cell expected_cell(const matrix& r, const std::array<double, 3>& t, const std::array<int, 3>& size,
                   const record& v) {
  double world[3];
  for (int i = 0; i < 3; ++i) {
    double c = t[static_cast<std::size_t>(i)];
    for (int j = 0; j < 3; ++j)
      c += r.m[i][j] * (v[static_cast<std::size_t>(j)] + 0.5 -
                        std::floor(size[static_cast<std::size_t>(j)] / 2));
    world[i] = c - 0.5;
  }
  return {static_cast<int>(-world[0] - 1), static_cast<int>(world[2]), static_cast<int>(world[1])};
}

bool valid_rotation_byte(int bits) {
  const int c0 = bits & 3;
  const int c1 = bits >> 2 & 3;
  return c0 != 3 && c1 != 3 && c0 != c1;
}

// --- Real files --------------------------------------------------------------

TEST(VoxRealFiles, CountsAndBoundsMatchTheirNotes) {
  const struct {
    const char* file;
    std::size_t voxels;
    std::uint64_t placements;
    cell low;
    cell high;
  } cases[] = {
      {"voxelio_debug.vox", 427, 1, {0, 0, -8}, {7, 7, -1}},
      // Without a scene graph a model stands on the ground, as the editor
      // shows it and saves it again (the head file).
      {"dotvox_placeholder_nopalette.vox", 4, 1, {-1, 0, -1}, {0, 1, 0}},
      {"dotvox_placeholder_with_palette.vox", 4, 1, {-1, 0, -1}, {0, 1, 0}},
      {"dotvox_placeholder_head.vox", 4, 1, {-1, 0, -1}, {0, 1, 0}},
      {"ogt_test_multiple_model_scene.vox", 12926, 104, {-129, 6, -14}, {-24, 21, 91}},
      {"voxformat_test_multiple_models.vox", 10, 2, {-2, 0, -3}, {0, 2, 3}},
      {"voxformat_test_no_models.vox", 0, 0, {0, 0, 0}, {0, 0, 0}},
      // The deer's first key frame of four; the boy without its hidden
      // layers; the cars, one of them rotated.
      {"bevyvoxscene_deer_v200.vox", 355, 1, {-11, 0, -4}, {4, 21, 4}},
      {"bevyvoxmesh_boy.vox", 21264, 3, {-30, 0, -10}, {29, 67, 13}},  // on 21,232 cells
      {"arlorean_cars_v200.vox", 6367, 2, {-24, 0, -27}, {44, 13, 14}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string bytes = fixture(c.file);
    EXPECT_TRUE(looks_like_vox(bytes));
    const vox_read_result result = read_vox(bytes);
    ASSERT_EQ(result.error, "");
    EXPECT_EQ(result.voxels.size(), c.voxels);
    EXPECT_EQ(result.model_placements, c.placements);
    EXPECT_EQ(result.frames_left_out, 0u);
    if (result.voxels.empty()) continue;
    const std::vector<cell> all = cells(result.voxels);
    cell low{INT_MAX, INT_MAX, INT_MAX};
    cell high{INT_MIN, INT_MIN, INT_MIN};
    for (const auto& [x, y, z] : all) {
      low = {std::min(std::get<0>(low), x), std::min(std::get<1>(low), y),
             std::min(std::get<2>(low), z)};
      high = {std::max(std::get<0>(high), x), std::max(std::get<1>(high), y),
              std::max(std::get<2>(high), z)};
    }
    EXPECT_EQ(low, c.low);
    EXPECT_EQ(high, c.high);
  }
}

// Keeps the voxels of every placement it is told, and counts what it hears.
class collecting_visitor final : public vox_scene_visitor {
 public:
  void start(std::uint64_t total) override { announced = total; }
  void place(const vox_model_placement& placed) override {
    ++placements;
    visit_placed_voxels(placed, [this](const cell_voxel& voxel) { voxels.push_back(voxel); });
  }
  std::vector<cell_voxel> voxels;
  std::uint64_t announced = 0;
  std::uint64_t placements = 0;
};

TEST(VoxScene, TellsThePlacementsOfWhatReadVoxKeepsAgainAndAgain) {
  // The conversion walks a scene twice, once for its box and once for its
  // cells: each walk must tell the same voxels in the same order.
  const std::string shared =
      vox_file(model({1, 1, 1}, {{0, 0, 0, 1}}) + model({2, 1, 1}, {{0, 0, 0, 2}, {1, 0, 0, 0}}) +
               transform(0, 1) + group(1, {2, 4, 2}) + transform(2, 3, {{"_t", "1 0 0"}}) +
               shape(3, {0, 1}) + transform(4, 5, {{"_t", "0 0 5"}}) + shape(5, {1}));
  std::vector<std::string> files = {shared};
  for (const char* name : {"voxelio_debug.vox", "ogt_test_multiple_model_scene.vox",
                           "voxformat_test_no_models.vox", "dotvox_placeholder_nopalette.vox"}) {
    files.push_back(fixture(name));
  }
  for (const std::string& file : files) {
    const vox_read_result kept = read_vox(file);
    ASSERT_EQ(kept.error, "");
    for (int walk = 0; walk < 2; ++walk) {
      collecting_visitor told;
      const vox_read_result read = read_vox_scene(file, told);
      EXPECT_EQ(read.error, "");
      EXPECT_TRUE(read.voxels.empty());
      EXPECT_EQ(read.model_placements, kept.model_placements);
      EXPECT_EQ(told.placements, kept.model_placements);
      EXPECT_EQ(told.announced, kept.voxels.size());
      EXPECT_EQ(sorted_voxels(told.voxels), sorted_voxels(kept.voxels));
      EXPECT_EQ(cells(told.voxels), cells(kept.voxels));
    }
  }
  // A damaged file tells nothing it would not have kept.
  collecting_visitor told;
  EXPECT_EQ(read_vox_scene(vox_file(shape(0, {7})), told).error,
            read_vox(vox_file(shape(0, {7}))).error);
  EXPECT_TRUE(told.voxels.empty());
}

TEST(VoxRealFiles, PlaceholdersGiveTheirFourColoursWithOrWithoutPalette) {
  // Model cells (0,0,0) 226, (0,1,1) 216, (1,0,1) 236, (1,1,0) 6 of a 2x2x2
  // model standing on the ground (translation 0 0 1): world cell
  // v - 1 + (0, 0, 1), game (-w.x - 1, w.z, w.y). The editor's own save of
  // the file writes that translation.
  const std::vector<coloured_cell> expected = sorted_voxels({
      {0, 0, -1, 0x00, 0xee, 0x00},
      {0, 1, 0, 0xee, 0x00, 0x00},
      {-1, 1, -1, 0x00, 0x00, 0xee},
      {-1, 0, 0, 0xff, 0xff, 0x00},
  });
  for (const char* file : {"dotvox_placeholder_nopalette.vox",
                           "dotvox_placeholder_with_palette.vox", "dotvox_placeholder_head.vox"}) {
    const vox_read_result result = read_vox(fixture(file));
    EXPECT_EQ(sorted_voxels(result.voxels), expected) << file;
  }
}

TEST(VoxRealFiles, CustomPaletteColoursAreUsed) {
  const vox_read_result result = read_vox(fixture("voxelio_debug.vox"));
  std::set<std::tuple<int, int, int>> colours;
  for (const cell_voxel& v : result.voxels) colours.emplace(v.r, v.g, v.b);
  EXPECT_EQ(colours.size(), 10u);
  for (const auto& c : {std::make_tuple(0x14, 0x12, 0x1e), std::make_tuple(0x3c, 0x57, 0x4b),
                        std::make_tuple(0x6b, 0xaa, 0x97), std::make_tuple(0x27, 0x43, 0x8a)})
    EXPECT_EQ(colours.count(c), 1u);
}

TEST(VoxRealFiles, DefaultPaletteEqualsTheOneAFileSavedWithIt) {
  // This file's RGBA chunk holds the default palette: entry i - 1 is index i.
  const std::string saved = fixture("voxformat_test_multiple_models.vox");
  const std::size_t rgba = saved.find("RGBA");
  ASSERT_NE(rgba, std::string::npos);
  std::vector<record> voxels;
  for (int i = 1; i < 256; ++i) voxels.push_back({i % 16, i / 16, 0, i});
  const vox_read_result result = read_vox(vox_file(model({16, 16, 1}, voxels)));
  ASSERT_EQ(result.voxels.size(), 255u);
  for (std::size_t i = 0; i < 255; ++i) {
    const cell_voxel& v = result.voxels[i];
    const std::size_t at = rgba + 12 + 4 * i;
    EXPECT_EQ(std::make_tuple(v.r, v.g, v.b),
              std::make_tuple(static_cast<std::uint8_t>(saved[at]),
                              static_cast<std::uint8_t>(saved[at + 1]),
                              static_cast<std::uint8_t>(saved[at + 2])))
        << "index " << i + 1;
  }
}

TEST(VoxScene, ConversionPlacesWhatReadVoxKeeps) {
  // The conversion puts a placement's voxels into its grid by the placed
  // ends of each axis and a step per record byte; the document must be the
  // one written from the voxels read_vox keeps, put in a grid one by one,
  // and the export the one of that grid.
  // Every rotation, colour 0 records, voxels on one cell, and large
  // translations.
  // Colour 0 (no voxel) at both ends of the model, the voxels between.
  const std::vector<record> voxels = {{1, 1, 1, 1}, {0, 0, 0, 0}, {2, 1, 1, 2}, {1, 2, 3, 4},
                                      {2, 3, 4, 0}, {2, 2, 3, 5}, {1, 2, 3, 6}};
  std::vector<std::string> files;
  for (int bits = 0; bits < 128; ++bits) {
    if (!valid_rotation_byte(bits)) continue;
    files.push_back(vox_file(model({3, 4, 5}, voxels) +
                             transform(0, 1, {{"_r", std::to_string(bits)}, {"_t", "5 -7 9"}}) +
                             shape(1, {0})));
  }
  for (const char* t : {"16777000 0 0", "0 -16777000 0", "-3 2 16777001"}) {
    files.push_back(
        vox_file(model({3, 4, 5}, voxels) + transform(0, 1, {{"_t", t}}) + shape(1, {0})));
  }
  for (const char* name : {"voxelio_debug.vox", "ogt_test_multiple_model_scene.vox",
                           "voxformat_test_multiple_models.vox", "voxformat_test_no_models.vox"}) {
    files.push_back(fixture(name));
  }
  // A box of 8 MiB of cells with three voxels, whose cells are kept alone,
  // and the same box filled enough for a grid, which two threads fault in.
  files.push_back(vox_file(model({256, 256, 40}, {{0, 0, 0, 1}, {255, 255, 39, 2}, {7, 9, 11, 3}}) +
                           transform(0, 1) + shape(1, {0})));
  std::vector<record> every_fifth;
  for (int z = 0; z < 40; z += 5)
    for (int y = 0; y < 256; ++y)
      for (int x = 0; x < 256; ++x) every_fifth.push_back({x, y, z, 1 + (x ^ y) % 9});
  files.push_back(vox_file(model({256, 256, 40}, every_fifth) + transform(0, 1) + shape(1, {0})));
  for (const std::string& file : files) {
    const vox_read_result kept = read_vox(file);
    ASSERT_EQ(kept.error, "");
    voxel_grid grid;
    std::string expected;
    if (make_voxel_grid(kept.voxels, grid)) {
      model_writer writer = open_model_writer(string_sink(expected), "\n", 4096);
      write_head(writer);
      for_each_voxel_in_walk_order(grid, [&](const cell_voxel& voxel) {
        write_voxel(writer, placed_record(voxel, model_placement()));
      });
      write_tail(writer);
    }
    conversion_request request;
    request.text = file;
    request.input = content_kind::vox;
    for (const bool parallel : {false, true}) {
      request.plan.in_pieces = parallel;
      std::string written;
      const conversion_result result = convert_model(request, string_sink(written));
      EXPECT_EQ(result.ok, !expected.empty()) << result.failure;
      EXPECT_EQ(written, expected);
    }
    request.plan.in_pieces = false;
    // The export's size is the box's; a model without voxels has none.
    std::string expected_export;
    if (grid.voxel_count != 0) write_sproxel_csv(grid, string_sink(expected_export));
    request.format = output_format::csv;
    std::string exported;
    EXPECT_EQ(convert_model(request, string_sink(exported)).ok, grid.voxel_count != 0);
    EXPECT_EQ(exported, expected_export);
  }
}

// Two models of 8^3 a given distance apart along every axis, the second
// with its colours the other way round, then a third model on the first's
// cells: the later voxels win.
std::string scene_apart(const std::string& far) {
  std::vector<record> cube;
  std::vector<record> reversed;
  for (int z = 0; z < 8; ++z)
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) {
        cube.push_back({x, y, z, 1 + (x + y + z) % 12});
        reversed.push_back({x, y, z, 12 - (x + y + z) % 12});
      }
  return vox_file(model({8, 8, 8}, cube) + model({8, 8, 8}, reversed) +
                  model({2, 2, 2}, {{0, 0, 0, 200}, {1, 1, 1, 201}}) + transform(0, 1) +
                  group(1, {2, 4, 6}) + transform(2, 3) + shape(3, {0}) +
                  transform(4, 5, {{"_t", far}, {"_r", "20"}}) + shape(5, {1}) +
                  transform(6, 7, {{"_t", "-3 -3 -3"}}) + shape(7, {2}));
}

TEST(VoxScene, CellsOfAMostlyEmptyBoxAreKeptAloneAtAnyDistance) {
  // Up to 2^24 away, where every cell is a whole number in single precision
  // still, and the box holds over 2^76 cells.
  for (const char* far : {"1000 1000 1000", "16000000 -16000000 16777000", "5 5 5"}) {
    SCOPED_TRACE(far);
    const std::string file = scene_apart(far);
    const vox_read_result kept = read_vox(file);
    ASSERT_EQ(kept.error, "");
    model_cells read;
    ASSERT_EQ(read_vox_cells(file, read, true).error, "");
    // The cells as a grid would walk them: sorted by walk order, the last
    // placed of each cell kept.
    std::vector<cell_voxel> expected = kept.voxels;
    sort_into_walk_order(expected);
    std::vector<cell_voxel> walked;
    for_each_cell_in_walk_order(read, [&](const cell_voxel& v) { walked.push_back(v); });
    EXPECT_EQ(std::string(far) == "5 5 5", !read.sparse);
    EXPECT_EQ(read.count(), expected.size());
    EXPECT_EQ(cells(walked), cells(expected));
    EXPECT_EQ(sorted_voxels(walked), sorted_voxels(expected));
    // Its document and its .vox file are written, whatever the box; an
    // export of a box past 2^28 cells is refused.
    conversion_request request;
    request.text = file;
    request.input = content_kind::vox;
    request.input_path = "far.vox";
    std::string document;
    ASSERT_TRUE(convert_model(request, string_sink(document)).ok);
    std::string expected_document;
    model_writer writer = open_model_writer(string_sink(expected_document), "\n", 4096);
    write_head(writer);
    for (const cell_voxel& v : expected) write_voxel(writer, placed_record(v, model_placement()));
    write_tail(writer);
    EXPECT_TRUE(document == expected_document);
    request.format = output_format::vox;
    std::string written;
    ASSERT_TRUE(convert_model(request, string_sink(written)).ok);
    EXPECT_TRUE(written == write_vox(expected).bytes);
    request.format = output_format::csv;
    std::string exported;
    const conversion_result result = convert_model(request, string_sink(exported));
    EXPECT_EQ(result.ok, !read.sparse) << result.failure;
  }
}

// --- Placement -----------------------------------------------------------------

TEST(VoxPlacement, EveryRotationByteAgreesWithTheMatrixItDescribes) {
  const std::array<int, 3> size = {3, 4, 5};
  const std::vector<record> voxels = {{0, 0, 0, 1}, {2, 0, 0, 2}, {0, 3, 0, 3}, {1, 2, 4, 4}};
  int valid = 0;
  for (int bits = 0; bits < 256; ++bits) {
    const std::string file =
        vox_file(model(size, voxels) +
                 transform(0, 1, {{"_r", std::to_string(bits)}, {"_t", "5 -7 9"}}) + shape(1, {0}));
    const vox_read_result result = read_vox(file);
    if (bits > 127 || !valid_rotation_byte(bits)) {
      EXPECT_EQ(result.error, "bad rotation") << bits;
      continue;
    }
    ++valid;
    std::vector<cell> expected;
    for (const record& v : voxels)
      expected.push_back(expected_cell(rotation_from_byte(bits), {5, -7, 9}, size, v));
    EXPECT_EQ(cells(result.voxels), expected) << "rotation byte " << bits;
  }
  EXPECT_EQ(valid, 48);
}

TEST(VoxPlacement, NestedTransformsCompose) {
  // Root (R1, T1) over a group over (R2, T2) over the model, for a spread of
  // rotation pairs: the model is placed by (R1 R2, T1 + R1 T2).
  const std::array<int, 3> size = {2, 5, 4};
  const std::vector<record> voxels = {{0, 0, 0, 1}, {1, 4, 3, 1}, {1, 0, 2, 1}};
  for (int a = 0; a < 128; a += 3) {
    for (int b = 0; b < 128; b += 5) {
      if (!valid_rotation_byte(a) || !valid_rotation_byte(b)) continue;
      const std::string file = vox_file(
          model(size, voxels) + transform(0, 1, {{"_r", std::to_string(a)}, {"_t", "1 2 3"}}) +
          group(1, {2}) + transform(2, 3, {{"_r", std::to_string(b)}, {"_t", "-10 20 7"}}) +
          shape(3, {0}));
      const matrix r1 = rotation_from_byte(a);
      std::array<double, 3> t = {1, 2, 3};
      const int t2[3] = {-10, 20, 7};
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) t[static_cast<std::size_t>(i)] += r1.m[i][j] * t2[j];
      std::vector<cell> expected;
      for (const record& v : voxels)
        expected.push_back(expected_cell(multiply(r1, rotation_from_byte(b)), t, size, v));
      EXPECT_EQ(cells(read_vox(file).voxels), expected) << a << " then " << b;
    }
  }
}

TEST(VoxPlacement, SceneWalkPlacesDepthFirstAndRepeatsSharedNodes) {
  // Two single-voxel models; group 1 references transform 2 twice, and the
  // shape lists both models.
  const std::string models = model({1, 1, 1}, {{0, 0, 0, 1}}) + model({1, 1, 1}, {{0, 0, 0, 2}});
  const std::string file =
      vox_file(models + transform(0, 1) + group(1, {2, 4, 2}) + transform(2, 3, {{"_t", "1 0 0"}}) +
               shape(3, {0, 1}) + transform(4, 5, {{"_t", "0 0 5"}}) + shape(5, {1}));
  const vox_read_result result = read_vox(file);
  ASSERT_EQ(result.error, "");
  EXPECT_EQ(result.model_placements, 5u);
  EXPECT_EQ(cells(result.voxels),
            (std::vector<cell>{{-2, 0, 0}, {-2, 0, 0}, {-1, 5, 0}, {-2, 0, 0}, {-2, 0, 0}}));
}

TEST(VoxPlacement, HiddenNodesAndLayersAreLeftOutWithEverythingUnderThem) {
  const std::string one = model({1, 1, 1}, {{0, 0, 0, 1}});
  const struct {
    const char* name;
    std::string scene;
    std::size_t voxels;
  } cases[] = {
      {"all shown",
       transform(0, 1) + group(1, {2, 4}) + transform(2, 3, {}, 0) + shape(3, {0}) +
           transform(4, 5, {}, 1) + shape(5, {0}) + layer(0, false) + layer(1, false),
       2},
      {"hidden node",
       transform(0, 1) + group(1, {2, 4}) + transform(2, 3, {}, 0, {{"_hidden", "1"}}) +
           shape(3, {0}) + transform(4, 5, {}, 1) + shape(5, {0}),
       1},
      {"hidden layer after the nodes",
       transform(0, 1) + group(1, {2, 4}) + transform(2, 3, {}, 0) + shape(3, {0}) +
           transform(4, 5, {}, 1) + shape(5, {0}) + layer(1, true),
       1},
      {"hidden root",
       transform(0, 1, {}, -1, {{"_hidden", "1"}}) + group(1, {2}) + transform(2, 3) +
           shape(3, {0}),
       0},
      {"hidden flag other than 1 shows",
       transform(0, 1, {}, -1, {{"_hidden", "0"}}) + shape(1, {0}), 1},
  };
  for (const auto& c : cases) {
    const vox_read_result result = read_vox(vox_file(one + c.scene));
    EXPECT_EQ(result.error, "") << c.name;
    EXPECT_EQ(result.voxels.size(), c.voxels) << c.name;
  }
}

TEST(VoxPlacement, TransformWithoutFramesIsTheIdentity) {
  const std::string no_frames =
      chunk("nTRN", le32(0) + dictionary({}) + le32(1) + le32(-1) + le32(-1) + le32(0));
  const vox_read_result result =
      read_vox(vox_file(model({3, 1, 1}, {{2, 0, 0, 1}}) + no_frames + shape(1, {0})));
  EXPECT_EQ(result.error, "");
  EXPECT_EQ(cells(result.voxels), (std::vector<cell>{{-2, 0, 0}}));
}

TEST(VoxPlacement, WithoutSceneOnlyTheFirstModelIsPlaced) {
  const std::string file =
      vox_file(model({2, 2, 2}, {{1, 1, 1, 3}}) + model({1, 1, 1}, {{0, 0, 0, 4}}) +
               model({1, 1, 1}, {{0, 0, 0, 5}}));
  const vox_read_result result = read_vox(file);
  EXPECT_EQ(result.frames_left_out, 2u);
  EXPECT_EQ(result.key_frames_left_out, 0u);
  EXPECT_EQ(cells(result.voxels), (std::vector<cell>{{-1, 1, 0}}));
  EXPECT_EQ(read_vox(vox_file("")).voxels.size(), 0u);
}

// A transform of several frames, and a shape whose models name frames: the
// files of an animated scene.
std::string animated_transform(int id, int child, const std::vector<attributes>& frames) {
  std::string content = le32(id) + dictionary({}) + le32(child) + le32(-1) + le32(-1) +
                        le32(static_cast<std::int64_t>(frames.size()));
  for (const attributes& frame : frames) content += dictionary(frame);
  return chunk("nTRN", content);
}

std::string animated_shape(int id, const std::vector<std::pair<int, attributes>>& models) {
  std::string content = le32(id) + dictionary({}) + le32(static_cast<std::int64_t>(models.size()));
  for (const auto& [m, frame] : models) content += le32(m) + dictionary(frame);
  return chunk("nSHP", content);
}

// What the editor shows first: of a transform's frames the lowest-numbered
// (no number is 0, the first listed wins a tie), of a shape's models those
// of its lowest number; each frame number no node places is counted.
TEST(VoxPlacement, AnAnimatedSceneIsPlacedAtItsFirstFrame) {
  const std::string models = model({1, 1, 1}, {{0, 0, 0, 1}}) + model({1, 1, 1}, {{0, 0, 0, 2}}) +
                             model({1, 1, 1}, {{0, 0, 0, 3}});
  struct {
    std::string scene;
    std::vector<cell> cells;
    std::uint32_t left_out;
  } cases[] = {
      // Frames 5, 2 and 9: frame 2's translation.
      {animated_transform(0, 1,
                          {{{"_f", "5"}, {"_t", "1 0 0"}},
                           {{"_f", "2"}, {"_t", "2 0 0"}},
                           {{"_f", "9"}, {"_t", "3 0 0"}}}) +
           shape(1, {0}),
       {{-3, 0, 0}},
       2},
      // No number is 0, and the first of a tie wins.
      {animated_transform(0, 1,
                          {{{"_f", "4"}, {"_t", "1 0 0"}}, {{"_t", "2 0 0"}}, {{"_f", "0"}}}) +
           shape(1, {0}),
       {{-3, 0, 0}},
       1},
      // The models of frame 0 of four; the others left out.
      {transform(0, 1) +
           animated_shape(
               1,
               {{1, {{"_f", "10"}}}, {0, {{"_f", "0"}}}, {2, {{"_f", "20"}}}, {2, {{"_f", "0"}}}}),
       {{-1, 0, 0}, {-1, 0, 0}},
       2},
      // Without numbers, every model a shape lists, as before.
      {transform(0, 1) + shape(1, {0, 1, 2}), {{-1, 0, 0}, {-1, 0, 0}, {-1, 0, 0}}, 0},
  };
  for (const auto& c : cases) {
    const vox_read_result result = read_vox(vox_file(models + c.scene));
    ASSERT_EQ(result.error, "");
    EXPECT_EQ(cells(result.voxels), c.cells);
    EXPECT_EQ(result.key_frames_left_out, c.left_out);
    EXPECT_EQ(result.frames_left_out, 0u);
  }
  // The third case placed models 0 and 2 (colour indices 1 and 3).
  const vox_read_result shown = read_vox(
      vox_file(models + transform(0, 1) +
               animated_shape(1, {{1, {{"_f", "10"}}}, {0, {{"_f", "0"}}}, {2, {{"_f", "0"}}}})));
  ASSERT_EQ(shown.voxels.size(), 2u);
  EXPECT_EQ(
      read_vox(vox_file(models + animated_transform(0, 1, {{{"_f", "x"}}}) + shape(1, {0}))).error,
      "bad frame number");
  EXPECT_EQ(read_vox(vox_file(models + transform(0, 1) + animated_shape(1, {{0, {{"_f", "1.5"}}}})))
                .error,
            "bad frame number");
}

TEST(VoxRealFiles, TheAnimatedDeerIsItsFirstFrame) {
  const vox_read_result deer = read_vox(fixture("bevyvoxscene_deer_v200.vox"));
  ASSERT_EQ(deer.error, "");
  EXPECT_EQ(deer.voxels.size(), 355u);
  EXPECT_EQ(deer.key_frames_left_out, 3u);
}

TEST(VoxPlacement, ColourIndexZeroIsNoVoxelAndUnusedChunksAreSkipped) {
  const std::string file = vox_file(
      chunk("PACK", le32(1)) + chunk("ABCD", "xyz", chunk("EFGH", "")) +
      model({2, 1, 1}, {{0, 0, 0, 0}, {1, 0, 0, 7}}) + chunk("MATL", le32(1) + dictionary({})) +
      chunk("NOTE", le32(0)) + chunk("IMAP", std::string(256, '\0')));
  const vox_read_result result = read_vox(file);
  ASSERT_EQ(result.error, "");
  EXPECT_EQ(cells(result.voxels), (std::vector<cell>{{-1, 0, 0}}));
}

// --- Damaged files ---------------------------------------------------------------

TEST(VoxDamage, EachFaultIsNamedWithItsOffset) {
  const std::string one = model({1, 1, 1}, {{0, 0, 0, 1}});
  const std::string good_main_prefix = "VOX " + le32(150);
  const struct {
    const char* name;
    std::string bytes;
    const char* what;
    std::size_t offset;
  } cases[] = {
      {"empty", "", "short header", 0},
      {"magic only", "VOX ", "short header", 0},
      {"other magic", "VOXX" + le32(150) + chunk("MAIN", ""), "short header", 0},
      {"first chunk not MAIN", good_main_prefix + chunk("SIZE", ""), "first chunk is not MAIN", 8},
      {"MAIN past the end", good_main_prefix + "MAIN" + le32(0) + le32(100),
       "chunk past the file's end", 8},
      {"MAIN negative", good_main_prefix + "MAIN" + le32(-1) + le32(0), "negative chunk size", 12},
      {"child past MAIN",
       good_main_prefix + "MAIN" + le32(0) + le32(20) + chunk("SIZE", le32(1) + le32(1) + le32(1)),
       "chunk past its parent", 20},
      {"child header cut", good_main_prefix + "MAIN" + le32(0) + le32(4) + "SIZE",
       "chunk header past its parent", 20},
      {"child negative size", vox_file("SIZE" + le32(-4) + le32(0)), "negative chunk size", 24},
      {"zero size", vox_file(chunk("SIZE", le32(1) + le32(0) + le32(1)) + chunk("XYZI", le32(0))),
       "model size of 0", 36},
      {"size of 2^31",
       vox_file(chunk("SIZE", le32(-2147483647 - 1) + le32(1) + le32(1)) + chunk("XYZI", le32(0))),
       "model size too large", 32},
      {"short size", vox_file(chunk("SIZE", le32(1) + le32(1)) + chunk("XYZI", le32(0))),
       "model size past its chunk", 20},
      {"voxel outside", vox_file(model({2, 2, 2}, {{0, 0, 0, 1}, {1, 2, 1, 1}})),
       "voxel outside its model size", 64},
      {"count past chunk",
       vox_file(chunk("SIZE", le32(1) + le32(1) + le32(1)) +
                chunk("XYZI", le32(2) + std::string(4, '\0'))),
       "voxel count past its chunk", 56},
      {"negative count",
       vox_file(chunk("SIZE", le32(1) + le32(1) + le32(1)) + chunk("XYZI", le32(-1))),
       "voxel count past its chunk", 56},
      {"no count", vox_file(chunk("SIZE", le32(1) + le32(1) + le32(1)) + chunk("XYZI", "")),
       "voxel count past its chunk", 56},
      {"voxels without size", vox_file(chunk("XYZI", le32(0))), "voxels without a model size", 20},
      {"size without voxels", vox_file(chunk("SIZE", le32(1) + le32(1) + le32(1))),
       "model size without its voxels", 20},
      {"two sizes", vox_file(chunk("SIZE", le32(1) + le32(1) + le32(1)) + one),
       "model size without its voxels", 20},
      {"short palette", vox_file(one + chunk("RGBA", std::string(1020, '\0'))),
       "palette past its chunk", 64},
      {"node id missing", vox_file(one + chunk("nTRN", "")), "node id past its chunk", 64},
      {"negative node id", vox_file(one + transform(-1, 0)), "negative node id", 76},
      {"bad dictionary count", vox_file(one + chunk("nTRN", le32(0) + le32(-1))), "bad dictionary",
       80},
      {"dictionary string past chunk",
       vox_file(one + chunk("nTRN", le32(0) + le32(1) + le32(2) + "_r" + le32(9) + "1")),
       "bad dictionary", 80},
      {"negative string size", vox_file(one + chunk("nGRP", le32(0) + le32(1) + le32(-2))),
       "bad dictionary", 80},
      {"transform cut short", vox_file(one + chunk("nTRN", le32(0) + dictionary({}) + le32(1))),
       "transform node past its chunk", 64},
      {"negative frames",
       vox_file(one +
                chunk("nTRN", le32(0) + dictionary({}) + le32(1) + le32(-1) + le32(-1) + le32(-1))),
       "negative frame count", 96},
      {"bad frame dictionary",
       vox_file(one + chunk("nTRN", le32(0) + dictionary({}) + le32(1) + le32(-1) + le32(-1) +
                                        le32(1) + le32(3))),
       "bad dictionary", 100},
      {"bad translation", vox_file(one + transform(0, 1, {{"_t", "1 2"}}) + shape(1, {0})),
       "bad translation", 100},
      {"translation not a number",
       vox_file(one + transform(0, 1, {{"_t", "1 x 2"}}) + shape(1, {0})), "bad translation", 100},
      {"translation past 32 bits",
       vox_file(one + transform(0, 1, {{"_t", "1 2 2147483648"}}) + shape(1, {0})),
       "bad translation", 100},
      {"rotation not a number", vox_file(one + transform(0, 1, {{"_r", "4a"}}) + shape(1, {0})),
       "bad rotation", 100},
      {"group count past chunk",
       vox_file(one + chunk("nGRP", le32(0) + dictionary({}) + le32(2) + le32(1))),
       "child count past its chunk", 84},
      {"negative group count", vox_file(one + chunk("nGRP", le32(0) + dictionary({}) + le32(-1))),
       "child count past its chunk", 84},
      {"group count missing", vox_file(one + chunk("nGRP", le32(0) + dictionary({}))),
       "child count past its chunk", 64},
      {"shape model dictionary cut",
       vox_file(one +
                chunk("nSHP", le32(0) + dictionary({}) + le32(1) + le32(0) + le32(1) + le32(0))),
       "bad dictionary", 92},
      {"shape model id cut",
       vox_file(one + chunk("nSHP", le32(0) + dictionary({}) + le32(1) + "abcdefg")),
       "child count past its chunk", 84},
      {"second shape model past chunk",
       vox_file(one + chunk("nSHP", le32(0) + dictionary({}) + le32(2) + le32(0) +
                                        dictionary({{"a", "b"}}))),
       "child past its chunk", 106},
      {"layer id missing", vox_file(one + chunk("LAYR", "")), "layer id past its chunk", 64},
      {"layer dictionary bad", vox_file(one + chunk("LAYR", le32(0) + le32(1))), "bad dictionary",
       80},
      {"missing node", vox_file(one + transform(0, 1) + group(1, {2})), "node 2 does not exist",
       128},
      {"missing model", vox_file(one + transform(0, 1) + shape(1, {1})), "model 1 does not exist",
       128},
      {"no node 0", vox_file(one + transform(1, 2) + shape(2, {0})), "node 0 does not exist", 8},
      {"node defined twice", vox_file(one + transform(0, 1) + shape(1, {0}) + shape(1, {0})),
       "node 1 defined twice", 136},
      {"cycle", vox_file(one + transform(0, 1) + group(1, {2}) + transform(2, 1)),
       "cycle in the scene", 104},
      {"self cycle", vox_file(one + transform(0, 0)), "cycle in the scene", 64},
      {"outside 32 bits",
       vox_file(model({3, 1, 1}, {{2, 0, 0, 1}}) + transform(0, 1, {{"_t", "2147483647 0 0"}}) +
                transform(1, 2, {{"_t", "2147483647 0 0"}}) + shape(2, {0})),
       "voxel placed outside 32-bit positions", 192},
  };
  for (const auto& c : cases) {
    const vox_read_result result = read_vox(c.bytes);
    EXPECT_EQ(result.error, c.what) << c.name;
    EXPECT_EQ(result.error_offset, c.offset) << c.name;
    EXPECT_TRUE(result.voxels.empty()) << c.name;
  }
}

TEST(VoxDamage, EveryPrefixOfAValidFileIsReadOrRefusedInItsOwnAllocation) {
  std::vector<std::string> files;
  for (const char* name : {"voxelio_debug.vox", "dotvox_placeholder_with_palette.vox",
                           "voxformat_test_multiple_models.vox"})
    files.push_back(fixture(name));
  files.push_back(write_vox({{1, 2, 3, 4, 5, 6}, {-300, 0, 7, 1, 1, 1}}).bytes);
  for (const std::string& file : files) {
    for (std::size_t size = 0; size < file.size(); ++size) {
      // Exactly `size` bytes, so that a sanitizer sees any read past them.
      const std::unique_ptr<char[]> copy(new char[size == 0 ? 1 : size]);
      std::copy(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size), copy.get());
      const vox_read_result result = read_vox({copy.get(), size});
      EXPECT_NE(result.error, "") << "prefix " << size;
    }
  }
}

TEST(VoxDamage, ScenesThatMultiplyWorkAreRefusedBeforeTheWork) {
  // Forty groups each referencing the next twice: 2^40 visits of the last.
  std::string scene = model({1, 1, 1}, {{0, 0, 0, 1}}) + transform(0, 1);
  for (int g = 1; g <= 40; ++g) scene += group(g, {g + 1, g + 1});
  scene += shape(41, {0});
  const vox_read_result doubled = read_vox(vox_file(scene));
  EXPECT_EQ(doubled.error, "scene places nodes too many times");

  vox_read_limits limits;
  limits.max_placed_voxels = 3;
  const std::string four =
      vox_file(model({1, 1, 1}, {{0, 0, 0, 1}}) + transform(0, 1) + shape(1, {0, 0, 0, 0}));
  EXPECT_EQ(read_vox(four, limits).error, "scene places too many voxels");
  limits.max_placed_voxels = 4;
  EXPECT_EQ(read_vox(four, limits).voxels.size(), 4u);

  std::string deep = model({1, 1, 1}, {{0, 0, 0, 1}});
  for (int n = 0; n < 3000; ++n) deep += transform(n, n + 1);
  deep += shape(3000, {0});
  EXPECT_EQ(read_vox(vox_file(deep)).error, "scene nested too deep");
}

// --- Writing ---------------------------------------------------------------------

// The chunks directly under MAIN, as (id, content).
std::vector<std::pair<std::string, std::string>> main_children(const std::string& file) {
  std::vector<std::pair<std::string, std::string>> out;
  std::size_t at = 20;
  while (at + 12 <= file.size()) {
    const auto size = [&](std::size_t p) {
      return static_cast<std::size_t>(static_cast<std::uint8_t>(file[p])) |
             static_cast<std::size_t>(static_cast<std::uint8_t>(file[p + 1])) << 8 |
             static_cast<std::size_t>(static_cast<std::uint8_t>(file[p + 2])) << 16;
    };
    out.emplace_back(file.substr(at, 4), file.substr(at + 12, size(at + 4)));
    at += 12 + size(at + 4) + size(at + 8);
  }
  return out;
}

std::vector<cell_voxel> random_model(std::mt19937& random, int count, std::array<int, 3> extent,
                                     std::array<int, 3> origin, int colours) {
  std::set<cell> taken;
  std::vector<cell_voxel> voxels;
  std::vector<std::array<std::uint8_t, 3>> palette;
  for (int i = 0; i < colours; ++i)
    palette.push_back({static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random()),
                       static_cast<std::uint8_t>(random())});
  while (static_cast<int>(voxels.size()) < count) {
    cell_voxel v;
    v.x = origin[0] + static_cast<int>(random() % static_cast<unsigned>(extent[0]));
    v.y = origin[1] + static_cast<int>(random() % static_cast<unsigned>(extent[1]));
    v.z = origin[2] + static_cast<int>(random() % static_cast<unsigned>(extent[2]));
    if (!taken.emplace(v.x, v.y, v.z).second) continue;
    const auto& rgb = palette[random() % palette.size()];
    v.r = rgb[0];
    v.g = rgb[1];
    v.b = rgb[2];
    voxels.push_back(v);
  }
  return voxels;
}

TEST(VoxWriter, ReadingBackGivesTheSameVoxels) {
  const struct {
    int count;
    std::array<int, 3> extent;
    std::array<int, 3> origin;
  } cases[] = {
      {1, {1, 1, 1}, {0, 0, 0}},
      {1, {1, 1, 1}, {-1, -1, -1}},
      {50, {3, 5, 7}, {-2, 1, -9}},
      {40, {4, 6, 2}, {10, -20, 30}},
      {3000, {257, 3, 300}, {-128, -1, -150}},
      {3000, {600, 513, 2}, {-1000, 5000, 0}},
      {500, {1000, 1000, 1000}, {-2147483647 - 1, 2147483647 - 999, -500}},
  };
  std::mt19937 random(12345);
  for (const auto& c : cases) {
    const std::vector<cell_voxel> voxels = random_model(random, c.count, c.extent, c.origin, 40);
    const vox_write_result written = write_vox(voxels);
    ASSERT_EQ(written.error, "");
    EXPECT_EQ(written.colours.largest_error, 0.0);
    const vox_read_result read = read_vox(written.bytes);
    ASSERT_EQ(read.error, "") << read.error_offset;
    EXPECT_EQ(sorted_voxels(read.voxels), sorted_voxels(voxels)) << c.count;
  }
}

TEST(VoxWriter, FileHasVersionPaletteSceneAndTilesOfAtMost256) {
  std::vector<cell_voxel> line;
  for (int x = 0; x < 600; ++x) line.push_back({x, 0, 0, 9, 9, 9});
  const vox_write_result written = write_vox(line);
  const std::string& file = written.bytes;
  EXPECT_EQ(file.substr(0, 8), "VOX " + le32(150));
  EXPECT_EQ(file.substr(8, 4), "MAIN");
  std::vector<std::string> ids;
  std::vector<int> widths;
  for (const auto& [id, content] : main_children(file)) {
    ids.push_back(id);
    if (id == "SIZE")
      widths.push_back(static_cast<std::uint8_t>(content[0]) +
                       256 * static_cast<std::uint8_t>(content[1]));
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"SIZE", "XYZI", "SIZE", "XYZI", "SIZE", "XYZI", "nTRN",
                                           "nGRP", "nTRN", "nSHP", "nTRN", "nSHP", "nTRN", "nSHP",
                                           "LAYR", "RGBA"}));
  EXPECT_EQ(widths, (std::vector<int>{256, 256, 88}));
  EXPECT_EQ(written.colours.colours_in, 1u);
  EXPECT_EQ(written.colours.colours_out, 1u);

  const vox_write_result empty = write_vox({});
  const vox_read_result read = read_vox(empty.bytes);
  EXPECT_EQ(read.error, "");
  EXPECT_TRUE(read.voxels.empty());
  EXPECT_EQ(read.frames_left_out, 0u);
}

TEST(VoxWriter, ManyColoursAreReducedToTheNearestOf255) {
  // 255 tight clusters of four colours each: a quantiser worth the name keeps
  // every colour within its cluster's spread.
  std::vector<cell_voxel> voxels;
  std::mt19937 random(7);
  for (int cluster = 0; cluster < 255; ++cluster) {
    const int r = 8 + static_cast<int>(random() % 240);
    const int g = 8 + static_cast<int>(random() % 240);
    const int b = 8 + static_cast<int>(random() % 240);
    for (int k = 0; k < 4; ++k)
      voxels.push_back({cluster, k, 0, static_cast<std::uint8_t>(r + (k & 1)),
                        static_cast<std::uint8_t>(g + (k >> 1)), static_cast<std::uint8_t>(b)});
  }
  const vox_write_result written = write_vox(voxels);
  EXPECT_EQ(written.colours.colours_in, 1020u);
  EXPECT_EQ(written.colours.colours_out, 255u);
  EXPECT_GT(written.colours.largest_error, 0.0);
  EXPECT_LE(written.colours.largest_error, 1.5);

  const vox_read_result read = read_vox(written.bytes);
  const std::vector<coloured_cell> in = sorted_voxels(voxels);
  const std::vector<coloured_cell> out = sorted_voxels(read.voxels);
  ASSERT_EQ(in.size(), out.size());
  double worst = 0;
  for (std::size_t i = 0; i < in.size(); ++i) {
    const auto& [x, y, z, r, g, b] = in[i];
    const auto& [ox, oy, oz, or_, og, ob] = out[i];
    EXPECT_EQ(std::make_tuple(x, y, z), std::make_tuple(ox, oy, oz));
    worst = std::max(worst, std::sqrt(double((r - or_) * (r - or_) + (g - og) * (g - og) +
                                             (b - ob) * (b - ob))));
  }
  EXPECT_EQ(worst, written.colours.largest_error);

  // Every colour of the cube's corners and more: the error stays bounded.
  std::vector<cell_voxel> spread;
  for (int i = 0; i < 4096; ++i)
    spread.push_back({i, 0, 0, static_cast<std::uint8_t>((i & 15) * 17),
                      static_cast<std::uint8_t>((i >> 4 & 15) * 17),
                      static_cast<std::uint8_t>((i >> 8) * 17)});
  const vox_write_result reduced = write_vox(spread);
  EXPECT_EQ(reduced.colours.colours_in, 4096u);
  EXPECT_LE(reduced.colours.largest_error, 40.0);
  EXPECT_EQ(write_vox(spread).bytes, reduced.bytes);
}

}  // namespace
}  // namespace cubewright
