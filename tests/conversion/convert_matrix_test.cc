// Every input kind into every output kind, with offsets and mirrors, under
// every run plan, held to a plain reading of the same rules: a dense grid of
// cells, positions placed in single precision, numbers written as "%g",
// later voxels winning a shared cell.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "conversion/convert.h"
#include "model/voxel_grid.h"
#include "sproxel_csv/sproxel_writer.h"
#include "vox_format/scene_grid.h"
#include "vox_format/vox_reader.h"
#include "vox_format/vox_writer.h"

namespace cubewright {
namespace {

// A cell of a plain_model: 0 empty, else filled_bit and its colour.
constexpr std::uint32_t filled_bit = 0x1000000u;

// A model as an export holds it: sizes and one cell each.
struct plain_model {
  int size[3] = {1, 1, 1};
  std::vector<std::uint32_t> rgb;  // x fastest, then z, then y from the top down

  std::uint32_t& at(int x, int y, int z) {
    return rgb[static_cast<std::size_t>(((size[1] - 1 - y) * size[2] + z) * size[0] + x)];
  }
};

plain_model random_model(std::mt19937& random, int sx, int sy, int sz, int fill_percent) {
  plain_model model;
  model.size[0] = sx;
  model.size[1] = sy;
  model.size[2] = sz;
  model.rgb.assign(
      static_cast<std::size_t>(sx) * static_cast<std::size_t>(sy) * static_cast<std::size_t>(sz),
      0);
  for (std::uint32_t& cell : model.rgb) {
    if (static_cast<int>(random() % 100) < fill_percent) {
      // A few colours, so that a .vox palette holds them all.
      cell = filled_bit | static_cast<std::uint32_t>(random() % 7 * 0x250000u) |
             static_cast<std::uint32_t>(random() % 5 * 0x3300u) | 0x40u;
    }
  }
  return model;
}

std::string hex_cell(std::uint32_t cell) {
  if (cell == 0) return "#00000000";
  char text[16];
  std::snprintf(text, sizeof text, "#%02X%02X%02XFF", cell >> 16 & 0xff, cell >> 8 & 0xff,
                cell & 0xff);
  return text;
}

// The export an editor writes: layers from the top down, a blank line after
// each, cells upper case.
std::string plain_export(const plain_model& model) {
  std::string text = std::to_string(model.size[0]) + "," + std::to_string(model.size[1]) + "," +
                     std::to_string(model.size[2]) + "\n";
  std::size_t i = 0;
  for (int layer = 0; layer < model.size[1]; ++layer) {
    for (int z = 0; z < model.size[2]; ++z) {
      for (int x = 0; x < model.size[0]; ++x) {
        if (x != 0) text += ',';
        text += hex_cell(model.rgb[i++]);
      }
      text += '\n';
    }
    text += '\n';
  }
  return text;
}

// A placed voxel of the plain reading.
struct plain_voxel {
  float position[3];
  std::uint8_t colour[3];
};

float placed(float value, float factor, std::int32_t offset) {
  const float scaled = value * factor;
  return scaled + static_cast<float>(offset);
}

// The filled cells in walk order, placed.
std::vector<plain_voxel> plain_voxels(const plain_model& model, const model_placement& p) {
  const float factors[3] = {p.axis_factor_x, p.axis_factor_y, p.axis_factor_z};
  const std::int32_t offsets[3] = {p.offset_x, p.offset_y, p.offset_z};
  std::vector<plain_voxel> voxels;
  std::size_t i = 0;
  for (int y = model.size[1] - 1; y >= 0; --y) {
    for (int z = 0; z < model.size[2]; ++z) {
      for (int x = 0; x < model.size[0]; ++x) {
        const std::uint32_t cell = model.rgb[i++];
        if (cell == 0) continue;
        plain_voxel v{};
        const int index[3] = {x, y, z};
        for (int a = 0; a < 3; ++a) {
          v.position[a] = placed(static_cast<float>(index[a]), factors[a], offsets[a]);
        }
        v.colour[0] = static_cast<std::uint8_t>(cell >> 16);
        v.colour[1] = static_cast<std::uint8_t>(cell >> 8);
        v.colour[2] = static_cast<std::uint8_t>(cell);
        voxels.push_back(v);
      }
    }
  }
  return voxels;
}

std::string g(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string plain_document(const std::vector<plain_voxel>& voxels) {
  std::string text = "<model>\n<voxels>\n";
  for (const plain_voxel& v : voxels) {
    text += "<voxel x=\"" + g(v.position[0]) + "\" y=\"" + g(v.position[1]) + "\" z=\"" +
            g(v.position[2]) + "\" r=\"" + g(v.colour[0] / 256.0) + "\" g=\"" +
            g(v.colour[1] / 256.0) + "\" b=\"" + g(v.colour[2] / 256.0) + "\" a=\"1.0\" />\n";
  }
  return text + "</voxels>\n<skeleton />\n<skeletonVoxelBindings />\n</model>\n";
}

// The export of placed voxels: their box, later voxels winning.
std::string plain_export_of(const std::vector<plain_voxel>& voxels) {
  std::map<std::tuple<int, int, int>, std::uint32_t> cells;
  int low[3] = {0, 0, 0};
  int high[3] = {0, 0, 0};
  bool first = true;
  for (const plain_voxel& v : voxels) {
    int at[3];
    for (int a = 0; a < 3; ++a) {
      at[a] = static_cast<int>(v.position[a]);
      low[a] = first ? at[a] : std::min(low[a], at[a]);
      high[a] = first ? at[a] : std::max(high[a], at[a]);
    }
    first = false;
    cells[{at[0], at[1], at[2]}] =
        std::uint32_t{v.colour[0]} << 16 | std::uint32_t{v.colour[1]} << 8 | v.colour[2];
  }
  plain_model model;
  for (int a = 0; a < 3; ++a) model.size[a] = high[a] - low[a] + 1;
  model.rgb.assign(static_cast<std::size_t>(model.size[0] * model.size[1] * model.size[2]), 0);
  for (const auto& [at, rgb] : cells) {
    model.at(std::get<0>(at) - low[0], std::get<1>(at) - low[1], std::get<2>(at) - low[2]) =
        rgb | filled_bit;
  }
  return plain_export(model);
}

std::vector<cell_voxel> cells_of(const std::vector<plain_voxel>& voxels) {
  std::map<std::tuple<int, int, int>, cell_voxel> unique;
  for (const plain_voxel& v : voxels) {
    const cell_voxel c{static_cast<std::int32_t>(v.position[0]),
                       static_cast<std::int32_t>(v.position[1]),
                       static_cast<std::int32_t>(v.position[2]),
                       v.colour[0],
                       v.colour[1],
                       v.colour[2]};
    unique[{c.z, c.y, c.x}] = c;
  }
  std::vector<cell_voxel> cells;
  for (const auto& entry : unique) cells.push_back(entry.second);
  return cells;
}

using cell_key = std::tuple<std::int32_t, std::int32_t, std::int32_t, int, int, int>;

std::vector<cell_key> keys(const std::vector<cell_voxel>& cells) {
  std::vector<cell_key> list;
  for (const cell_voxel& c : cells) list.emplace_back(c.z, c.y, c.x, c.r, c.g, c.b);
  return list;
}

std::vector<cell_key> sorted(const std::vector<cell_voxel>& cells) {
  std::vector<cell_key> list = keys(cells);
  std::sort(list.begin(), list.end());
  return list;
}

// Every way a run may go about a conversion.
std::vector<run_plan> every_plan() {
  std::vector<run_plan> plans(5);
  plans[1].in_pieces = true;
  plans[2].in_pieces = true;
  plans[2].piece_threads = 1;
  plans[3].in_pieces = true;
  plans[3].nul_in_pieces = true;
  plans[4].read_ahead = true;
  for (run_plan& plan : plans) plan.block_size = std::size_t{64} << 10;
  return plans;
}

conversion_result convert(std::string_view text, content_kind input, output_format format,
                          const model_placement& placement, const run_plan& plan,
                          std::string& out) {
  conversion_request request;
  request.text = text;
  request.input = input;
  request.input_path = "in";
  request.placement = placement;
  request.format = format;
  request.plan = plan;
  out.clear();
  return convert_model(request, string_sink(out));
}

std::vector<model_placement> placements() {
  std::vector<model_placement> list(4);
  list[1] = {3, -2, 7, 1.0f, 1.0f, 1.0f};
  list[2] = {0, 0, 0, -1.0f, 1.0f, -1.0f};
  list[3] = {-5, 4, 1, -1.0f, -1.0f, -1.0f};
  return list;
}

// One model through the whole matrix.
void check_matrix(const plain_model& model) {
  const std::string csv = plain_export(model);
  const std::vector<plain_voxel> as_exported = plain_voxels(model, model_placement());
  const std::string document = plain_document(as_exported);
  std::string vox;
  ASSERT_TRUE(convert(csv, content_kind::sproxel_csv, output_format::vox, {}, {}, vox).ok);
  const struct {
    content_kind kind;
    const std::string* text;
  } inputs[] = {{content_kind::sproxel_csv, &csv},
                {content_kind::model_document, &document},
                {content_kind::vox, &vox}};
  for (const model_placement& placement : placements()) {
    const std::vector<plain_voxel> voxels = plain_voxels(model, placement);
    const std::string expected_document = plain_document(voxels);
    const std::string expected_export = plain_export_of(voxels);
    const std::vector<cell_voxel> expected_cells = cells_of(voxels);
    for (const auto& input : inputs) {
      SCOPED_TRACE("input kind " + std::to_string(static_cast<int>(input.kind)) + ", offsets " +
                   std::to_string(placement.offset_x) + " mirrored x " +
                   std::to_string(placement.axis_factor_x < 0));
      // A .vox file holds each cell once, in its own order: its document is
      // the walk of its grid, which the export's walk order is too.
      for (const run_plan& plan : every_plan()) {
        std::string out;
        ASSERT_TRUE(convert(*input.text, input.kind, output_format::xml, placement, plan, out).ok);
        EXPECT_EQ(out, expected_document);
        ASSERT_TRUE(convert(*input.text, input.kind, output_format::csv, placement, plan, out).ok);
        EXPECT_EQ(out, expected_export);
        ASSERT_TRUE(convert(*input.text, input.kind, output_format::vox, placement, plan, out).ok);
        const conversion_result back =
            read_model_cells(out, content_kind::vox, "out", model_placement());
        ASSERT_TRUE(back.ok);
        EXPECT_EQ(sorted(back.placed), sorted(expected_cells));
      }
      const conversion_result drawn = read_model_cells(*input.text, input.kind, "in", placement);
      ASSERT_TRUE(drawn.ok);
      if (input.kind != content_kind::vox) {
        std::vector<cell_voxel> in_order;
        for (const plain_voxel& v : voxels) {
          in_order.push_back(
              {static_cast<std::int32_t>(v.position[0]), static_cast<std::int32_t>(v.position[1]),
               static_cast<std::int32_t>(v.position[2]), v.colour[0], v.colour[1], v.colour[2]});
        }
        EXPECT_EQ(keys(drawn.placed), keys(in_order));
      } else {
        EXPECT_EQ(sorted(drawn.placed), sorted(expected_cells));
      }
    }
  }
}

TEST(ConvertMatrix, SmallModelsEveryWayUnderEveryPlan) {
  std::mt19937 random(20261209);
  for (int round = 0; round < 12; ++round) {
    const plain_model model =
        random_model(random, 1 + static_cast<int>(random() % 6), 1 + static_cast<int>(random() % 6),
                     1 + static_cast<int>(random() % 6), 10 + static_cast<int>(random() % 80));
    if (std::all_of(model.rgb.begin(), model.rgb.end(), [](std::uint32_t c) { return c == 0; }))
      continue;
    check_matrix(model);
  }
}

// Large enough for several pieces of every kind: an export's (half a MiB of
// cells each), a grid's (whole layers of 2^16 cells) and a read-ahead's.
TEST(ConvertMatrix, AModelOfManyPiecesEveryWayUnderEveryPlan) {
  std::mt19937 random(7);
  check_matrix(random_model(random, 90, 24, 90, 40));
}

// A document need not list its voxels in walk order, and may list a cell
// twice: the export and the .vox file hold each cell once, the later voxel's.
TEST(ConvertMatrix, ADocumentOutOfWalkOrderGivesItsCellsOnceEach) {
  std::mt19937 random(11);
  const plain_model model = random_model(random, 7, 5, 6, 60);
  std::vector<plain_voxel> voxels = plain_voxels(model, model_placement());
  std::shuffle(voxels.begin(), voxels.end(), random);
  plain_voxel repeated = voxels.front();
  repeated.colour[0] = 0x99;
  voxels.push_back(repeated);
  const std::string document = plain_document(voxels);
  for (const run_plan& plan : every_plan()) {
    std::string out;
    ASSERT_TRUE(
        convert(document, content_kind::model_document, output_format::csv, {}, plan, out).ok);
    EXPECT_EQ(out, plain_export_of(voxels));
    ASSERT_TRUE(
        convert(document, content_kind::model_document, output_format::vox, {}, plan, out).ok);
    EXPECT_EQ(sorted(read_model_cells(out, content_kind::vox, "out").placed),
              sorted(cells_of(voxels)));
  }
}

TEST(ConvertMatrix, MoreColoursThanAPaletteAreReducedWithANote) {
  std::string document = "<model><voxels>\n";
  for (int i = 0; i < 300; ++i) {
    document += "<voxel x=\"" + std::to_string(i) + "\" y=\"0\" z=\"0\" r=\"" +
                g(i % 20 * 12 / 256.0) + "\" g=\"0.5\" b=\"" + g(i / 20 * 16 / 256.0) +
                "\" a=\"1.0\" />\n";
  }
  document += "</voxels></model>\n";
  std::string out;
  const conversion_result result =
      convert(document, content_kind::model_document, output_format::vox, {}, {}, out);
  ASSERT_TRUE(result.ok);
  ASSERT_EQ(result.notes.size(), 1u);
  EXPECT_EQ(result.notes[0].rfind("in: 300 colours reduced to 255 for the .vox palette; ", 0), 0u)
      << result.notes[0];
}

// Little-endian .vox chunks, for files the writer never makes.
std::string u32(std::uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
          static_cast<char>(v >> 24)};
}
std::string chunk(const std::string& id, const std::string& content) {
  return id + u32(static_cast<std::uint32_t>(content.size())) + u32(0) + content;
}
std::string vox_file(const std::string& children) {
  return "VOX " + u32(150) + "MAIN" + u32(0) + u32(static_cast<std::uint32_t>(children.size())) +
         children;
}
std::string one_voxel_model(std::uint32_t side, unsigned char colour) {
  return chunk("SIZE", u32(side) + u32(side) + u32(side)) +
         chunk("XYZI", u32(1) + std::string{0, 0, 0, static_cast<char>(colour)});
}

TEST(ConvertMatrix, FurtherModelsOfAFileWithoutASceneAreLeftOutWithANote) {
  const std::string vox =
      vox_file(one_voxel_model(2, 1) + one_voxel_model(2, 2) + one_voxel_model(2, 3));
  for (const output_format format : {output_format::xml, output_format::csv}) {
    std::string out;
    const conversion_result result = convert(vox, content_kind::vox, format, {}, {}, out);
    ASSERT_TRUE(result.ok) << result.failure;
    ASSERT_EQ(result.notes.size(), 1u);
    EXPECT_EQ(result.notes[0],
              "in: left out 2 further models (animation frames); only the first is converted");
  }
}

std::string refused_export(const std::string& path) {
  return "cannot convert: " + path +
         ": the model's bounding box holds more than 2^28 cells, too many for a CSV export"
         " (a .vox file or a document holds it)";
}

// Only an export holds every cell of its box: a document or a .vox file of
// voxels far apart is written, an export of them refused.
TEST(ConvertMatrix, OnlyAnExportRefusesABoxOfMoreThanTwoToTheTwentyEightCells) {
  const std::string document =
      "<model><voxels>\n"
      "<voxel x=\"0\" y=\"0\" z=\"0\" r=\"0.25\" g=\"0.5\" b=\"0.75\" a=\"1.0\" />\n"
      "<voxel x=\"1000\" y=\"1000\" z=\"1000\" r=\"0.5\" g=\"0.5\" b=\"0.5\" a=\"1.0\" />\n"
      "</voxels></model>\n";
  const std::vector<cell_voxel> far_apart = {{1000, 1000, 1000, 128, 128, 128},
                                             {0, 0, 0, 64, 128, 192}};
  for (const run_plan& plan : every_plan()) {
    std::string out;
    conversion_result result =
        convert(document, content_kind::model_document, output_format::csv, {}, plan, out);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.failure, refused_export("in"));
    result = convert(document, content_kind::model_document, output_format::vox, {}, plan, out);
    ASSERT_TRUE(result.ok) << result.failure;
    EXPECT_EQ(result.voxel_count, 2u);
    EXPECT_EQ(keys(read_model_cells(out, content_kind::vox, "out").placed), keys(far_apart));
  }
  // The same cells as a scene of two models far apart, as the writer
  // places them.
  const vox_write_result written = write_vox(far_apart);
  ASSERT_TRUE(written.error.empty());
  std::vector<plain_voxel> voxels;
  for (const cell_voxel& c : far_apart) {
    voxels.push_back({{static_cast<float>(c.x), static_cast<float>(c.y), static_cast<float>(c.z)},
                      {c.r, c.g, c.b}});
  }
  for (const run_plan& plan : every_plan()) {
    std::string out;
    conversion_result result =
        convert(written.bytes, content_kind::vox, output_format::xml, {}, plan, out);
    ASSERT_TRUE(result.ok) << result.failure;
    EXPECT_EQ(out, plain_document(voxels));
    result = convert(written.bytes, content_kind::vox, output_format::vox, {}, plan, out);
    ASSERT_TRUE(result.ok) << result.failure;
    EXPECT_EQ(out, written.bytes);
    result = convert(written.bytes, content_kind::vox, output_format::csv, {}, plan, out);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.failure, refused_export("in"));
  }
}

// Scene chunks, for scenes of several models.
std::string dictionary(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string out = u32(static_cast<std::uint32_t>(entries.size()));
  for (const auto& [key, value] : entries) {
    out += u32(static_cast<std::uint32_t>(key.size())) + key +
           u32(static_cast<std::uint32_t>(value.size())) + value;
  }
  return out;
}
std::string transform(std::uint32_t id, std::uint32_t child,
                      const std::vector<std::pair<std::string, std::string>>& frame) {
  return chunk("nTRN", u32(id) + dictionary({}) + u32(child) + u32(0xffffffffu) + u32(0xffffffffu) +
                           u32(1) + dictionary(frame));
}

// A random scene: models of random records (some on one cell, colour 0
// among them), each turned by a random rotation or mirror, the first ones
// overlapping near the origin and, when `spread`, the last far off along
// every axis.
std::string random_scene(std::mt19937& random, bool spread) {
  const int models = 2 + static_cast<int>(random() % 4);
  std::string children;
  for (int m = 0; m < models; ++m) {
    std::uint32_t size[3];
    for (std::uint32_t& side : size) side = 1 + static_cast<std::uint32_t>(random() % 8);
    const int count = static_cast<int>(random() % 120);
    std::string records;
    for (int i = 0; i < count; ++i) {
      for (const std::uint32_t side : size) records += static_cast<char>(random() % side);
      records += static_cast<char>(random() % 6 == 0 ? 0 : 1 + random() % 40);
    }
    children += chunk("SIZE", u32(size[0]) + u32(size[1]) + u32(size[2])) +
                chunk("XYZI", u32(static_cast<std::uint32_t>(count)) + records);
  }
  std::string group = u32(1) + dictionary({}) + u32(static_cast<std::uint32_t>(models));
  for (int m = 0; m < models; ++m) group += u32(static_cast<std::uint32_t>(2 + 2 * m));
  children += transform(0, 1, {}) + chunk("nGRP", group);
  for (int m = 0; m < models; ++m) {
    const bool far = spread && m == models - 1;
    std::string t;
    for (int axis = 0; axis < 3; ++axis) {
      const int near = static_cast<int>(random() % 7) - 3;
      const int off = 110 + static_cast<int>(random() % 40);
      t += (axis == 0 ? "" : " ") + std::to_string(far ? (random() % 2 ? off : -off) : near);
    }
    int c0 = static_cast<int>(random() % 3);
    int c1 = static_cast<int>(random() % 2);
    if (c1 >= c0) ++c1;
    const int rotation = c0 | c1 << 2 | static_cast<int>(random() % 8) << 4;
    const auto id = static_cast<std::uint32_t>(2 + 2 * m);
    children += transform(id, id + 1, {{"_t", t}, {"_r", std::to_string(rotation)}});
    children += chunk("nSHP", u32(id + 1) + dictionary({}) + u32(1) +
                                  u32(static_cast<std::uint32_t>(m)) + dictionary({}));
  }
  return vox_file(children);
}

// A scene whose box is mostly empty keeps its cells alone and sorts them
// (read_vox_cells): every output of it, and the picture's cells, must be
// those of the dense grid of the voxels the scene places, later voxels
// winning a shared cell, under every placement and plan.
TEST(ConvertMatrix, SparseScenesGiveTheBytesOfTheirDenseGrid) {
  std::mt19937 random(5150);
  int sparse_rounds = 0;
  for (int round = 0; round < 16; ++round) {
    const bool spread = round % 4 != 0;
    const std::string scene = random_scene(random, spread);
    SCOPED_TRACE("round " + std::to_string(round));
    const vox_read_result kept = read_vox(scene);
    ASSERT_EQ(kept.error, "");
    model_cells read;
    ASSERT_EQ(read_vox_cells(scene, read, false).error, "");
    sparse_rounds += read.sparse;
    voxel_grid grid;
    ASSERT_TRUE(make_voxel_grid(kept.voxels, grid));
    if (grid.voxel_count == 0) continue;
    std::vector<cell_voxel> walked;
    for_each_voxel_in_walk_order(grid, [&](const cell_voxel& c) { walked.push_back(c); });
    for (const model_placement& placement : placements()) {
      SCOPED_TRACE("offsets " + std::to_string(placement.offset_x) + " mirrored x " +
                   std::to_string(placement.axis_factor_x < 0));
      std::vector<plain_voxel> voxels;
      std::vector<cell_voxel> placed_cells;
      for (const cell_voxel& c : walked) {
        const voxel_record r = placed_record(c, placement);
        voxels.push_back({{r.x, r.y, r.z}, {c.r, c.g, c.b}});
        placed_cells.push_back(drawn_cell(r));
      }
      // A .vox file of the placed cells, as a grid walks them.
      voxel_grid placed_grid;
      ASSERT_TRUE(make_voxel_grid(placed_cells, placed_grid));
      std::vector<cell_voxel> placed_walk;
      for_each_voxel_in_walk_order(placed_grid,
                                   [&](const cell_voxel& c) { placed_walk.push_back(c); });
      const std::string expected_vox = write_vox(placed_walk).bytes;
      for (const run_plan& plan : every_plan()) {
        std::string out;
        ASSERT_TRUE(convert(scene, content_kind::vox, output_format::xml, placement, plan, out).ok);
        EXPECT_EQ(out, plain_document(voxels));
        ASSERT_TRUE(convert(scene, content_kind::vox, output_format::vox, placement, plan, out).ok);
        EXPECT_EQ(out, expected_vox);
      }
      std::string out;
      ASSERT_TRUE(convert(scene, content_kind::vox, output_format::csv, placement, {}, out).ok);
      std::string expected_export;
      write_sproxel_csv(placed_grid, string_sink(expected_export));
      EXPECT_EQ(out, expected_export);
      EXPECT_EQ(keys(read_model_cells(scene, content_kind::vox, "in", placement).placed),
                keys(placed_cells));
    }
  }
  // Most of the spread scenes (not those whose far model placed nothing).
  EXPECT_GE(sparse_rounds, 8);
}

}  // namespace
}  // namespace cubewright
