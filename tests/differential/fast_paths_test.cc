// The fast paths of the conversion checked against the plain rules they stand
// in for: separators found eight bytes at a time, colours read through the
// digit table, exported cells and empty rows taken whole with their lines
// put together from texts made once, the voxel lines the tool writes read
// whole, and the input mapped instead of read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "app/platform.h"
#include "conversion/convert.h"
#include "model_document/model_reader.h"
#include "model_document/model_writer.h"
#include "preview/preview.h"
#include "sproxel_csv/cell_walk.h"
#include "sproxel_csv/csv_document.h"
#include "sproxel_csv/export_cells.h"
#include "sproxel_csv/token_list.h"
#include "support/files.h"
#include "text/byte_words.h"
#include "text/format_number.h"

namespace cubewright {
namespace {

using cubewright_test::read_file;
using cubewright_test::scratch_folder;
using cubewright_test::write_file;

// The fields of a text by the plain rule: split at "," and LF, drop a CR
// before a LF, skip empty fields.
std::vector<std::string> plain_fields(const std::string& text) {
  std::vector<std::string> fields;
  std::string field;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == ',' || text[i] == '\n') {
      if (i < text.size() && text[i] == '\n' && !field.empty() && field.back() == '\r') {
        field.pop_back();
      }
      if (!field.empty()) fields.push_back(field);
      field.clear();
    } else {
      field += text[i];
    }
  }
  return fields;
}

std::vector<std::string> fields_of(std::string_view text) {
  std::vector<std::string> fields;
  for (std::string_view field : token_list{text}) fields.emplace_back(field);
  return fields;
}

TEST(ByteWords, LowestBitAndFirstFlaggedByteAtEveryPlace) {
  std::mt19937_64 random(7);
  for (unsigned i = 0; i < 64; ++i) {
    // The bit, and any bits above it.
    const std::uint64_t above = i == 63 ? 0 : random() << (i + 1);
    const std::uint64_t bits = std::uint64_t{1} << i | above;
    EXPECT_EQ(lowest_set_bit(bits), i);
    EXPECT_EQ(lowest_set_bit_by_table(bits), i);
    // Byte i / 8 flagged, and any bytes after it.
    const unsigned byte = i / 8;
    const std::uint64_t after = byte == 7 ? 0 : ~std::uint64_t{0} << (8 * byte + 8);
    const std::uint64_t flags =
        (std::uint64_t{0x80} << (8 * byte) | (random() & after)) & 0x8080808080808080u;
    EXPECT_EQ(first_flagged_byte(flags), byte);
  }
}

TEST(SeparatorScan, AgreesWithThePlainRuleAtEveryOffset) {
  // Short texts over an alphabet dense in separators, so that separators,
  // CR LF pairs and empty fields fall on every position of the eight-byte
  // blocks and of the tail after the last whole block. Bytes one above a
  // separator ('-', VT) and with the high bit set would fool a careless test
  // for zero bytes.
  const std::string alphabet = ",\n\r#0aF-\x0B\x80\xAC\xFF";
  std::mt19937 random(5);
  for (int n = 0; n < 200000; ++n) {
    std::string text(random() % 40, ' ');
    for (char& c : text) c = alphabet[random() % alphabet.size()];
    ASSERT_EQ(fields_of(text), plain_fields(text)) << testing::PrintToString(text);
  }
}

TEST(SeparatorScan, FieldsAcrossBlocksAndAtTheVeryEnd) {
  const std::string long_field(70, 'x');
  EXPECT_EQ(fields_of(long_field), plain_fields(long_field));
  EXPECT_EQ(fields_of(long_field + "," + long_field + "\r\n"),
            (std::vector<std::string>{long_field, long_field}));
  EXPECT_EQ(fields_of("abcdefg,"), (std::vector<std::string>{"abcdefg"}));
  EXPECT_EQ(fields_of("abcdefgh,i"), (std::vector<std::string>{"abcdefgh", "i"}));
}

// The colour of a cell by the general rule: each pair through parse_hex_pair.
float plain_colour(std::string_view token, std::size_t start) {
  if (start >= token.size()) return 0.0f;
  return static_cast<float>(parse_hex_pair(token.substr(start, 2))) * 0.00390625f;
}

TEST(ColourFastPath, AgreesWithTheGeneralRule) {
  const std::string alphabet = "#0123456789abcdefABCDEFgGxX +-\t";
  std::mt19937 random(11);
  for (int n = 0; n < 300000; ++n) {
    std::string token(1 + random() % 10, ' ');
    for (char& c : token) c = alphabet[random() % alphabet.size()];
    const voxel_record record = make_voxel_record(cell_cursor{}, token, model_placement{});
    ASSERT_EQ(record.r, plain_colour(token, 1)) << token;
    ASSERT_EQ(record.g, plain_colour(token, 3)) << token;
    ASSERT_EQ(record.b, plain_colour(token, 5)) << token;
  }
}

// The document of a CSV text by the plain rules: the plain fields after the
// header, each filled one through the general record and line writer.
std::string plain_document(const std::string& text, const model_placement& placement,
                           std::string_view line_end) {
  const std::optional<grid_size> size = parse_grid_size(read_token_list(text));
  if (!size) return "no grid";
  std::string document;
  const output_sink sink = string_sink(document);
  model_writer writer = open_model_writer(sink, line_end, 4096);
  write_head(writer);
  const std::vector<std::string> fields = plain_fields(text);
  cell_cursor cursor;
  cursor.cell_y = std::int64_t{size->size_y} - 1;
  for (std::size_t k = 3; k < fields.size(); ++k) {
    if (fields[k] != empty_cell)
      write_voxel(writer, make_voxel_record(cursor, fields[k], placement));
    advance_cursor(cursor, *size);
  }
  write_tail(writer);
  return document;
}

bool same_cells(const std::vector<cell_voxel>& a, const std::vector<cell_voxel>& b) {
  return std::equal(
      a.begin(), a.end(), b.begin(), b.end(), [](const cell_voxel& p, const cell_voxel& q) {
        return p.x == q.x && p.y == q.y && p.z == q.z && p.r == q.r && p.g == q.g && p.b == q.b;
      });
}

// The cells a picture draws of a CSV text, by the same plain rules.
std::vector<cell_voxel> plain_drawn_cells(const std::string& text,
                                          const model_placement& placement) {
  const std::optional<grid_size> size = parse_grid_size(read_token_list(text));
  const std::vector<std::string> fields = plain_fields(text);
  std::vector<cell_voxel> cells;
  cell_cursor cursor;
  cursor.cell_y = std::int64_t{size->size_y} - 1;
  for (std::size_t k = 3; k < fields.size(); ++k) {
    if (fields[k] != empty_cell)
      cells.push_back(drawn_cell(make_voxel_record(cursor, fields[k], placement)));
    advance_cursor(cursor, *size);
  }
  return cells;
}

// A picture drawn alone takes an export's cells as they go by and keeps
// what it shows: the same picture as from all the cells. A text with more
// cells than its grid spoils the sketch, which is then not drawn.
void expect_sketch_draws(std::string_view text, const model_placement& placement,
                         const std::vector<cell_voxel>& cells) {
  const std::optional<cell_box> box = exported_grid_cells(text, placement);
  ASSERT_TRUE(box);
  if (!preview_sketch::fits(box->low, box->high)) return;
  preview_sketch sketch(box->low, box->high);
  std::size_t handed = 0;
  for_each_exported_cell(text, placement, [&](const cell_voxel* some, std::size_t count) {
    sketch.add(some, count);
    handed += count;
  });
  ASSERT_EQ(handed, cells.size());
  const bool outside = std::any_of(cells.begin(), cells.end(), [&](const cell_voxel& c) {
    const std::int32_t at[3] = {c.x, c.y, c.z};
    for (int a = 0; a < 3; ++a) {
      if (at[a] < box->low[a] || at[a] > box->high[a]) return true;
    }
    return false;
  });
  ASSERT_EQ(sketch.spoilt(), outside) << testing::PrintToString(text);
  if (outside) return;
  EXPECT_EQ(sketch.added(), cells.size());
  const preview_request whole{&cells, nullptr, "t"};
  const preview_request sketched{nullptr, nullptr, "t", &sketch};
  EXPECT_TRUE(render_preview(whole).pixels == render_preview(sketched).pixels)
      << testing::PrintToString(text);
}

TEST(CellWalkShortcuts, WriteWhatThePlainRulesWrite) {
  // Exported cells with every separator and line end, rows of empty cells
  // (which the walk compares whole), cells that only look exported, and
  // grids from a single column to wider than the texts kept per x index;
  // placements with mirrors and offsets large enough that positions round.
  const std::vector<std::string> pieces = {"#00000000,",
                                           "#00000000,",
                                           "#00000000\n",
                                           "#00000000\r\n",
                                           "#1a2B3cFF,",
                                           "#ffffff80\n",
                                           "#00000000\r,",
                                           "#0000000,",
                                           "#000000000,",
                                           "#1a2b3c\r\n",
                                           "#zz00ffFF,",
                                           ",",
                                           "\n",
                                           "\r\n",
                                           "#00000000,#00000000,#00000000\n",
                                           "#00000000,#00000000\n"};
  const std::int32_t widths[] = {1, 2, 3, 4, -2, 0, 5000};
  const std::int32_t offsets[] = {0, -7, 11, 16777215, -2147483647, 1000000};
  std::mt19937 random(17);
  for (int n = 0; n < 3000; ++n) {
    const std::int32_t width = widths[random() % std::size(widths)];
    std::string text = std::to_string(width) + "," + std::to_string(random() % 5) + "," +
                       std::to_string(random() % 5 - 1) + (random() % 2 ? "\n" : "\r\n");
    const std::size_t count = random() % 400;
    for (std::size_t k = 0; k < count; ++k) {
      const std::size_t pick = random() % (pieces.size() + 8);
      text += pick < pieces.size() ? pieces[pick] : pieces[pick % 2];  // mostly empty cells
    }
    model_placement placement;
    placement.offset_x = offsets[random() % std::size(offsets)];
    placement.offset_y = offsets[random() % std::size(offsets)];
    placement.offset_z = offsets[random() % std::size(offsets)];
    placement.axis_factor_x = random() % 2 ? -1.0f : 1.0f;
    placement.axis_factor_y = random() % 2 ? -1.0f : 1.0f;
    placement.axis_factor_z = random() % 2 ? -1.0f : 1.0f;
    const std::string_view line_end = random() % 2 ? "\n" : "\r\n";
    const std::optional<std::string> document = export_to_document(text, placement, line_end);
    ASSERT_EQ(document.value_or("no grid"), plain_document(text, placement, line_end))
        << testing::PrintToString(text);
    // And the cells the picture draws.
    if (document) {
      const std::vector<cell_voxel> cells =
          read_model_cells(text, content_kind::sproxel_csv, "", placement).placed;
      ASSERT_TRUE(same_cells(cells, plain_drawn_cells(text, placement)))
          << testing::PrintToString(text);
      if (n % 20 == 0) expect_sketch_draws(text, placement, cells);
    }
  }
}

TEST(CellWalkShortcuts, WholeRowsAreReadAsThePlainRulesReadThem) {
  // The walk takes rows of exported cells whole, 64 cells to a word of
  // flags, and reads field by field from the first row of another shape on:
  // widths about a word's, every colour digit, and one odd cell or line end
  // somewhere in the text. The document and the picture's cells are checked.
  const std::string odd[] = {"#00000000\r\n", "#0000000,",  "#1g2b3cFF,",   "#1a2b3cF,",
                             "\n#00000000,",  ",,",         "#ffffff\r,",   "#000000000,",
                             "#00000000X",    "X00000000,", "#00000000\r,", "#1a2b3c,F,",
                             "#1a2b3c\nF,",   "\r,"};
  const char digits[] = "0123456789abcdefABCDEF";
  std::mt19937 random(29);
  for (int n = 0; n < 200; ++n) {
    const std::int32_t width = std::int32_t{1} + static_cast<std::int32_t>(random() % 140);
    const std::int32_t rows = 1 + static_cast<std::int32_t>(random() % 6);
    const bool crlf = random() % 2 != 0;
    std::string text = std::to_string(width) + ",2,3" + (crlf ? "\r\n" : "\n");
    for (std::int32_t row = 0; row < rows; ++row) {
      for (std::int32_t x = 0; x < width; ++x) {
        if (x != 0) text += ',';
        if (random() % 4 != 0) {
          text += empty_cell;
          continue;
        }
        text += '#';
        for (int d = 0; d < 8; ++d) text += digits[random() % (sizeof digits - 1)];
      }
      text += crlf ? "\r\n" : "\n";
      if (random() % 3 == 0) text += crlf ? "\r\n" : "\n";
    }
    if (n % 2 == 0) {
      // At a cell's start, at a row's or within one.
      const std::size_t after =
          text.find(random() % 2 ? '\n' : ',', text.size() * (random() % 100) / 100);
      if (after != std::string::npos) text.insert(after + 1, odd[random() % std::size(odd)]);
    }
    model_placement placement;
    placement.offset_x = n % 5 == 0 ? 16777215 : static_cast<std::int32_t>(random() % 9) - 4;
    placement.offset_z = -3;
    placement.axis_factor_x = random() % 2 ? -1.0f : 1.0f;
    placement.axis_factor_y = random() % 2 ? -1.0f : 1.0f;
    ASSERT_EQ(export_to_document(text, placement).value_or("no grid"),
              plain_document(text, placement, "\n"))
        << testing::PrintToString(text);
    const conversion_result read = read_model_cells(text, content_kind::sproxel_csv, "", placement);
    ASSERT_TRUE(read.ok);
    ASSERT_EQ(read.voxel_count, read.placed.size());
    ASSERT_TRUE(same_cells(read.placed, plain_drawn_cells(text, placement)))
        << testing::PrintToString(text);
  }
}

TEST(GridLines, AreTheLinesOfThePlacedRecords) {
  // Cells of a .vox scene start anywhere on x, so the texts kept per x index
  // begin at the grid's first x.
  std::mt19937 random(23);
  for (int n = 0; n < 200; ++n) {
    model_placement placement;
    placement.offset_x = static_cast<std::int32_t>(random() % 40) - 20;
    placement.offset_y = n % 3 == 0 ? 16777215 : 3;
    placement.axis_factor_x = random() % 2 ? -1.0f : 1.0f;
    placement.axis_factor_z = random() % 2 ? -1.0f : 1.0f;
    const std::int64_t x_first = static_cast<std::int64_t>(random() % 100) - 60;
    const auto x_count = static_cast<std::int64_t>(1 + random() % 30);
    std::string tabled;
    std::string plain;
    model_writer lines_writer = open_model_writer(string_sink(tabled), "\r\n", 4096);
    model_writer record_writer = open_model_writer(string_sink(plain), "\r\n", 4096);
    grid_line_writer lines;
    ASSERT_TRUE(open_grid_line_writer(lines, lines_writer, placement, x_first, x_count));
    for (int k = 0; k < 50; ++k) {
      const std::int64_t x = x_first + static_cast<std::int64_t>(random() % 30) % x_count;
      const std::int64_t y = static_cast<std::int64_t>(random() % 7) - 3;
      const std::int64_t z = static_cast<std::int64_t>(random() % 7) - 3;
      const auto r = static_cast<std::uint8_t>(random());
      const auto g = static_cast<std::uint8_t>(random());
      const auto b = static_cast<std::uint8_t>(random());
      write_grid_voxel(lines, x, y, z, r, g, b);
      voxel_record record;
      record.x = place_index(x, placement.axis_factor_x, placement.offset_x);
      record.y = place_index(y, placement.axis_factor_y, placement.offset_y);
      record.z = place_index(z, placement.axis_factor_z, placement.offset_z);
      record.r = static_cast<float>(r) / 256;
      record.g = static_cast<float>(g) / 256;
      record.b = static_cast<float>(b) / 256;
      write_voxel(record_writer, record);
    }
    write_tail(lines_writer);
    write_tail(record_writer);
    ASSERT_EQ(tabled, plain);
  }
}

// The voxels of a document with their lines, bit for bit.
struct read_voxel {
  std::uint32_t bits[6];
  std::size_t line;
  bool operator==(const read_voxel& other) const {
    return std::equal(std::begin(bits), std::end(bits), std::begin(other.bits)) &&
           line == other.line;
  }
};

std::vector<read_voxel> voxels_of(const std::string& document, std::string& error) {
  std::vector<read_voxel> voxels;
  model_reader reader = open_model_reader(document);
  voxel_record voxel;
  read_step step;
  while ((step = next_voxel(reader, voxel)) == read_step::voxel) {
    read_voxel read{};
    const float values[6] = {voxel.x, voxel.y, voxel.z, voxel.r, voxel.g, voxel.b};
    std::memcpy(read.bits, values, sizeof values);
    read.line = voxel_line(reader);
    voxels.push_back(read);
  }
  if (step == read_step::error) error = read_error(reader).what;
  return voxels;
}

TEST(WrittenVoxelLines, ReadAsTheGeneralPathReadsThem) {
  // The lines the tool writes are read whole, numbers eight bytes at a time
  // and colours known again by their text (of up to eleven bytes); written as
  // `/>` instead of ` />` the same voxels take the general path.
  const std::vector<std::string> coordinates = {
      "0",        "-0",         "7",   "-12", "0007", "1234567", "-9999999", "16777217",
      "12345678", "-123456789", "1.5", "1e3", "+4",   " 3",      "",         "-"};
  std::vector<std::string> colours = {
      "0",          "1",           "0.",           "1.0",
      "0.00390625", "0.1234567",   "123.4567",     "9999999.9999999",
      "1e-3",       ".5",          "00.5",         "0.99999994",
      "5.",         "0.1 ",        "-0.5",         "1234567.1",
      "0.5",        "0.05",        "0.50",         "5.0",
      "12.1234567", "12.12345678", "123.12345678", "0.123456789"};
  for (int k = 0; k < 256; ++k) colours.push_back(format_number(static_cast<float>(k) / 256));
  std::mt19937 random(31);
  const auto pick = [&random](const std::vector<std::string>& texts) {
    return texts[random() % texts.size()];
  };
  // Without the last two, which are no numbers and stop the reader.
  const std::vector<std::string> numbers(coordinates.begin(), coordinates.end() - 2);
  const std::vector<std::string> gaps = {"\n", "\r\n", "\n\t ", "", "\n\n"};
  // Short documents, then one long one where every colour text meets every
  // other that the reader may have remembered.
  for (int n = 0; n <= 300; ++n) {
    std::string fast = "<model>\n<voxels>";
    std::string general = fast;
    const std::size_t count = n < 300 ? 1 + random() % 12 : 8 * colours.size();
    for (std::size_t i = 0; i < count; ++i) {
      const std::string gap = pick(gaps);
      const bool long_one = n == 300;
      const std::string r = long_one ? colours[i % colours.size()] : pick(colours);
      const std::string x = pick(long_one ? numbers : coordinates);
      const std::string line = "<voxel x=\"" + x + "\" y=\"" + pick(numbers) + "\" z=\"" +
                               pick(numbers) + "\" r=\"" + r + "\" g=\"" + pick(colours) +
                               "\" b=\"" + pick(colours) + "\" a=\"1.0\"";
      fast += gap + line + " />";
      general += gap + line + "/>";
    }
    // Close to the end of the document, or far from it.
    const std::string tail = n % 2 ? "</voxels></model>" : "\n</voxels>\n</model>\n";
    fast += tail;
    general += tail;
    std::string fast_error;
    std::string general_error;
    const std::vector<read_voxel> fast_voxels = voxels_of(fast, fast_error);
    const std::vector<read_voxel> general_voxels = voxels_of(general, general_error);
    ASSERT_TRUE(fast_voxels == general_voxels) << fast;
    ASSERT_EQ(fast_error, general_error) << fast;
  }
  // A colour is known again by all of its text: one read before, then the
  // same bytes and a NUL, which is no number, and lines enough after them.
  const std::string line = "<voxel x=\"0\" y=\"0\" z=\"0\" r=\"0.5\" g=\"0.5\" b=\"0.5";
  const std::string rest = "\" a=\"1.0\"";
  for (const std::string& b : {std::string("0.5"), std::string("0.5\0", 4)}) {
    std::string fast = "<model>\n<voxels>\n" + line + rest + " />\n";
    std::string general = "<model>\n<voxels>\n" + line + rest + "/>\n";
    const std::string second = line.substr(0, line.size() - 3) + b + rest;
    fast += second + " />\n";
    general += second + "/>\n";
    for (int i = 0; i < 4; ++i) {
      fast += line + rest + " />\n";
      general += line + rest + "/>\n";
    }
    fast += "</voxels>\n</model>\n";
    general += "</voxels>\n</model>\n";
    std::string fast_error;
    std::string general_error;
    EXPECT_TRUE(voxels_of(fast, fast_error) == voxels_of(general, general_error));
    EXPECT_EQ(fast_error, general_error);
    EXPECT_EQ(fast_error.empty(), b.size() == 3);
  }
}

TEST(InputFile, HoldsTheBytesOfTheFile) {
  scratch_folder folder;
  const std::string contents = std::string("2,1,1\r\n#ff8000ff,\0#00000000", 27);
  write_file(folder / "model.csv", contents);
  input_file input;
  io_failure failure;
  ASSERT_TRUE(open_input_file(folder / "model.csv", input, failure)) << failure.reason;
  EXPECT_EQ(input.text, contents);
  // Where the file is mapped, ranges of it can be copied too, while it
  // still holds them.
  char copied[8] = {};
  if (input.mapping != nullptr) {
    ASSERT_TRUE(read_input_range(input, 9, copied, 8));
    EXPECT_EQ(std::string(copied, 8), contents.substr(9, 8));
    EXPECT_FALSE(read_input_range(input, 20, copied, 8));
  }
  close_input_file(input);
  EXPECT_TRUE(input.text.empty());
  EXPECT_FALSE(read_input_range(input, 0, copied, 1));
  close_input_file(input);  // a second close is harmless
}

TEST(InputFile, EmptyAndMissingFiles) {
  scratch_folder folder;
  write_file(folder / "empty.csv", "");
  input_file input;
  io_failure failure;
  ASSERT_TRUE(open_input_file(folder / "empty.csv", input, failure)) << failure.reason;
  EXPECT_TRUE(input.text.empty());
  close_input_file(input);

  EXPECT_FALSE(open_input_file(folder / "missing.csv", input, failure));
  EXPECT_EQ(failure.what, "cannot open input");
  EXPECT_TRUE(input.text.empty());
}

TEST(InputFile, TextOutlivesTheFileBeingReplaced) {
  // What a conversion in place relies on: the output replaces the input's
  // path while the input's text is still being read.
  scratch_folder folder;
  write_file(folder / "model.csv", "1,1,1,#ffffffff");
  input_file input;
  io_failure failure;
  ASSERT_TRUE(open_input_file(folder / "model.csv", input, failure)) << failure.reason;
  output_file output;
  ASSERT_TRUE(open_output_file(folder / "model.csv", output, failure)) << failure.reason;
  ASSERT_TRUE(write_output_file(output, "<model>", 7, failure)) << failure.reason;
  ASSERT_TRUE(commit_output_file(output, failure)) << failure.reason;
  EXPECT_EQ(read_file(folder / "model.csv"), "<model>");
  EXPECT_EQ(input.text, "1,1,1,#ffffffff");
  close_input_file(input);
}

}  // namespace
}  // namespace cubewright
