// The document as an input: numbers no float holds refused on every way it
// is read, and the note on what a document written from it leaves out.

#include "model_document/document_source.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "conversion/convert.h"
#include "model/voxel_grid.h"

namespace cubewright {
namespace {

const std::string path = "model.xml";

// A voxel line as the tool writes it.
std::string own_line(int k) {
  return "<voxel x=\"" + std::to_string(k % 16) + "\" y=\"" + std::to_string(k / 256) + "\" z=\"-" +
         std::to_string(k / 16 % 16) + "\" r=\"0.5\" g=\"0.25\" b=\"0.75\" a=\"1.0\" />\n";
}

// A document of `count` such lines, with `inserted[k]` before line k.
std::string own_document(int count, const std::vector<std::pair<int, std::string>>& inserted = {}) {
  std::string document = "<model>\n<voxels>\n";
  for (int k = 0; k < count; ++k) {
    for (const auto& insert : inserted) {
      if (insert.first == k) document += insert.second;
    }
    document += own_line(k);
  }
  return document + "</voxels>\n<skeleton />\n<skeletonVoxelBindings />\n</model>\n";
}

// What reading `document` as an input says: its failure, or its notes, one
// a line; on one thread or with the read-ahead.
std::string read_input(const std::string& document, bool ahead, bool noted = false) {
  document_input input;
  input.text = document;
  input.path = &path;
  input.left_out_noted = noted;
  source_report result;
  cell_pieces pieces;
  pieces.stores.resize(2);
  cell_collector collector{&path, &pieces.stores[0], {}, {}};
  bool read = false;
  if (ahead) {
    read = collect_document_cells_ahead(input, result, collector, pieces);
  } else {
    const auto consume = [&collector](const voxel_record& record, const auto& line) {
      return collector.add(record, line);
    };
    read = for_each_document_voxel(input, result, consume);
  }
  if (!read) return "failed: " + result.failure;
  std::string said = std::to_string(pieces.stores[0].size() + pieces.stores[1].size()) + " voxels";
  for (const std::string& note : result.notes) said += "\n" + note;
  return said;
}

TEST(DocumentInput, RefusesNumbersNoFloatHoldsOnEveryPath) {
  const char* const values[] = {"1e400",   "-1e400", "nan",     "NaN",
                                "-nan",    "inf",    "-inf",    "Infinity",
                                "0x1p200", "3.5e38", "-3.5e38", "3.4028235678e38",
                                "1e39"};
  const char names[] = "xyzrgb";
  int n = 0;
  for (const char* value : values) {
    const char name = names[n++ % 6];
    const std::string refusal =
        std::string("the '") + name + "' attribute is not a finite number: \"" + value + "\"";
    // Written as the tool writes its lines, among a few thousand of them, so
    // that the fast paths and the read-ahead's pieces meet it.
    std::string line = own_line(7);
    const std::size_t at = line.find(std::string(" ") + name + "=\"") + 4;
    line.replace(at, line.find('"', at) - at, value);
    const int line_number = 3000 + n;  // in the last of the pieces
    const std::string document = own_document(4000, {{line_number - 3, line}});
    const std::string expected =
        "failed: cannot read model: model.xml:" + std::to_string(line_number) + ":" +
        std::to_string(at + 1) + ": " + refusal;
    EXPECT_EQ(read_input(document, false), expected);
    EXPECT_EQ(read_input(document, true), expected);

    // The voxel line reader gives the line before and stops where it stands.
    const std::size_t line_start = document.find(line);
    const std::size_t before = document.rfind("<voxel", line_start - 1);
    model_reader lines = open_voxel_line_reader(document, before);
    voxel_record voxel;
    EXPECT_EQ(next_voxel(lines, voxel), read_step::voxel);
    EXPECT_EQ(next_voxel(lines, voxel), read_step::end) << value;
    EXPECT_EQ(lines.position, line_start - 1);

    // Written otherwise: the general path, with the value quoted either
    // way, decoded from references or spread over lines.
    const std::string others = std::string("<model>\n<voxels>\n<voxel a='1.0' b='0' g='0' r='0' ") +
                               "z='0' y='0' x='0' " + name + "=";
    for (const std::string& quoted :
         {"'" + std::string(value) + "'", "\"&#32;" + std::string(value) + "&#9;\"",
          "\"\n" + std::string(value) + "\t\""}) {
      std::string general = others + quoted + " />\n</voxels>\n</model>\n";
      general.erase(general.find(std::string(" ") + name + "='0'"), 6);
      const std::size_t value_at = general.rfind(std::string(" ") + name + "=") + 4;
      model_reader reader = open_model_reader(general);
      ASSERT_EQ(next_voxel(reader, voxel), read_step::error) << general;
      const model_read_error& error = read_error(reader);
      EXPECT_EQ(error.kind, read_failure::not_a_model);
      EXPECT_EQ(error.line, 3u);
      EXPECT_EQ(error.column, value_at - general.find("<voxel ") + 1) << general;
      EXPECT_NE(error.what.find("is not a finite number: \""), std::string::npos) << error.what;
      EXPECT_NE(error.what.find(value), std::string::npos) << error.what;
      EXPECT_EQ(error.what.find('\n'), std::string::npos) << error.what;
    }
  }
  // Just inside the floats: these round to the largest, or to zero.
  for (const char* value : {"3.4028235677e38", "-3.40282356e38", "1e-400", "0x1p-200"}) {
    std::string line = own_line(3);
    line.replace(line.find("r=\"") + 3, 3, value);
    EXPECT_EQ(read_input(own_document(10, {{5, line}}), false).rfind("failed: ", 0),
              std::string::npos)
        << value;
  }
}

TEST(DocumentInput, NotesWhatADocumentWrittenFromItLeavesOut) {
  const std::string head =
      "model.xml: the new document leaves out what the game's documents do "
      "not hold: ";
  const std::string voxel = "<voxel x=\"1\" y=\"2\" z=\"3\" r=\"0\" g=\"0\" b=\"0\"";
  const struct {
    std::string document;
    std::string note;  // "" for none
  } cases[] = {
      {own_document(3), ""},
      // An `a` that reads as 1.0 is what the document writes; any other is not.
      {own_document(
           3, {{1, voxel + " a='1'/>" + voxel + " a=\"1.00\"></voxel>" + voxel + " a=\" 1e0 \"/>" +
                       voxel + " a=\"&#49;.0\"/>" + voxel + " a = \"1.\"/>"}}),
       ""},
      {own_document(
           3, {{1, voxel + " a='0.5'/>" + voxel + " a=\"0\"></voxel>" + voxel + " a=\"half\"/>" +
                       voxel + " a=\"\"/>" + voxel + " name=\"n\" a=\"1e400\"/>"}}),
       "5 voxels' a other than 1.0 (written as 1.0), 1 other attribute (\"name\")"},
      // The plain path reads a, q, then gives up at `id`: counted once.
      {own_document(2, {{1,
                         "<voxel a=\"0.5\" q=\"1\" x=\"1\" y=\"2\" z=\"3\" r=\"0\" g=\"0\" b=\"0\" "
                         "id=\"v\"/>\n"}}),
       "1 voxel's a other than 1.0 (written as 1.0), 2 other attributes (such as \"q\")"},
      {"<?xml version='1.0'?><model id='m' v='2'><voxels count='1'>" + voxel +
           " q='1'/></voxels><skeleton name='s'/><skeletonVoxelBindings for='s'/></model>",
       "6 other attributes (such as \"id\")"},
      // Where nothing of the model is, attributes and elements count for
      // nothing here.
      {"<model><group k='v'><voxels n='1'>" + voxel + " q='1'/></voxels></group></model>", ""},
      {"<!-- made by hand --><?tool run?>\n<model><!----><voxels>" + voxel +
           "/><?p?></voxels></model><!-- end -->\n",
       "3 comments, 2 processing instructions"},
      {"<model><voxels>" + voxel + "/><!-- one --></voxels></model>", "1 comment"},
      {"<model " + std::string(50, 'n') + "\xC3\xA9='1'><voxels/></model>",
       "1 other attribute (\"" + std::string(40, 'n') + "...\")"},
      {"<model " + std::string(39, 'n') + "\xC3\xA9='1'><voxels/></model>",
       "1 other attribute (\"" + std::string(39, 'n') + "...\")"},
  };
  for (const auto& c : cases) {
    const std::string said = read_input(c.document, false, true);
    ASSERT_EQ(said.rfind("failed: ", 0), std::string::npos) << c.document << "\n" << said;
    const std::size_t end = said.find('\n');
    EXPECT_EQ(end == std::string::npos ? "" : said.substr(end + 1),
              c.note.empty() ? "" : head + c.note)
        << c.document;
    // Only a document as the output says it.
    EXPECT_EQ(read_input(c.document, false, false).find('\n'), std::string::npos) << c.document;
  }

  // With the read-ahead the counts cover the whole document: what the
  // pieces' readers take holds nothing left out, and the first reader
  // reads the rest.
  const std::string odd = voxel + " a=\"0.5\" id=\"o\"/>\n<!-- odd -->\n";
  std::vector<std::pair<int, std::string>> inserted;
  for (int k = 0; k < 4000; k += 97) inserted.emplace_back(k, odd);
  const std::string document = own_document(4000, inserted);
  const std::string one = read_input(document, false, true);
  EXPECT_EQ(one, "4042 voxels\n" + head +
                     "42 voxels' a other than 1.0 (written as 1.0), 42 other attributes (such "
                     "as \"id\"), 42 comments");
  EXPECT_EQ(read_input(document, true, true), one);

  // Converting: only into a document.
  conversion_request request;
  request.text = document;
  request.input = content_kind::model_document;
  request.input_path = path;
  for (const output_format format : {output_format::xml, output_format::csv, output_format::vox}) {
    request.format = format;
    std::string bytes;
    const conversion_result result = convert_model(request, string_sink(bytes));
    ASSERT_TRUE(result.ok) << result.failure;
    std::size_t noted = 0;
    for (const std::string& note : result.notes) noted += note.rfind(head, 0) == 0 ? 1u : 0u;
    EXPECT_EQ(noted, format == output_format::xml ? 1u : 0u);
  }
}

}  // namespace
}  // namespace cubewright
