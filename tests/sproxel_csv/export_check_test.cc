// The strict check of an export: what passes, each fault with its message and
// place, the fast path held to the plain rule, and the check of a file's start.
#include "sproxel_csv/export_check.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "sproxel_csv/plain_export_check.h"
#include "support/files.h"

namespace cubewright {
namespace {

using cubewright_test::plain_export_fault;

std::string crlf(std::string_view lf) {
  std::string text;
  for (char c : lf) text += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return text;
}

TEST(ExportFault, WellFormedExportsPass) {
  const std::string exported =
      "3,2,1\n#ff0000ff,#00000000,#00ff00ff\n\n#0000ffff,#000000ff,"
      "#00000000\n\n";
  const std::string texts[] = {
      exported,
      crlf(exported),
      "\xEF\xBB\xBF" + exported,
      "\xEF\xBB\xBF" + crlf(exported),
      "3,2,1,#ff0000ff,#00000000,#00ff00ff,#0000ffff,#000000ff,#00000000",    // one line
      "3,2,1\n#ff0000ff,#00000000,#00ff00ff\n#0000ffff,#000000ff,#00000000",  // no final LF
      "3,2,1\r\n#ff0000ff,#00000000,#00ff00ff\r\n#0000ffff,#000000ff,#00000000",
      "\n\n3,2,1,,\n\n\n,#ff0000ff,,#00000000,\n#00ff00ff,\r\n,\n#0000ffff,#000000ff,#00000000,,\n",
      "3,2,1\n#FF0000FF,#0aB1c2D3,#00ff00ff,#0000ffff,#000000ff,#00000000\n",
      " 3\t,\t2 , 1\n#ff0000ff,#00000000,#00ff00ff,#0000ffff,#000000ff,#00000000\n",
      "003,02,1\n#ff0000ff,#00000000,#00ff00ff,#0000ffff,#000000ff,#00000000\n",
  };
  for (const std::string& text : texts) {
    EXPECT_EQ(export_fault(text, "a.csv"), std::nullopt) << text;
    EXPECT_TRUE(begins_like_export(text)) << text;
  }
  for (const char* name : {"rgb.csv"}) {
    EXPECT_EQ(export_fault(cubewright_test::read_file(cubewright_test::test_data(name)), name),
              std::nullopt);
  }
  EXPECT_EQ(export_fault(cubewright_test::read_file(cubewright_test::example("rifle.csv")), "r"),
            std::nullopt);
}

// A message of export_fault for "notes.csv".
std::string fault(std::string_view where, std::string_view what) {
  return "notes.csv:" + std::string(where) + ": not a sproxel CSV export: " + std::string(what);
}

struct fault_case {
  std::string text;
  const char* where;
  const char* what;
};

void expect_faults(const std::vector<fault_case>& cases) {
  for (const fault_case& c : cases) {
    EXPECT_EQ(export_fault(c.text, "notes.csv"), fault(c.where, c.what)) << c.text;
    EXPECT_EQ(plain_export_fault(c.text, "notes.csv"), fault(c.where, c.what)) << c.text;
  }
}

constexpr const char* header = "the header must be three whole numbers (X,Y,Z), found ";

TEST(ExportFault, HeaderFaultsNameTheFieldOrTheEnd) {
  const std::string end = std::string(header) + "the end of the file";
  const auto found = [](const char* text) { return std::string(header) + text; };
  const std::string notes = found("\"Notes\"");
  const std::string zero = found("\"0\"");
  const std::string minus = found("\"-1\"");
  const std::string plus = found("\"+1\"");
  const std::string decimal = found("\"1.0\"");
  const std::string two = found("\"1 2\"");
  const std::string blanks = found("\" \\x09\"");
  const std::string tab_v = found("\"\\x0B1\"");
  const std::string lone_cr = found("\"1\\x0D\"");
  const std::string nul = found("\"1\\x00\"");
  const std::string mark = found("\"\\xEF\\xBB\\xBF1\"");
  const std::string cell = found("\"#ff0000ff\"");
  const std::string big = found("\"2147483648\"");
  const std::string long_field = found("\"99999999999999999999\"...");
  const std::string five = found("\"5\"");
  expect_faults({
      {"Notes\n1,1,1\n#ff0000ff\n", "1:1", notes.c_str()},
      {"", "1:1", end.c_str()},
      {"\xEF\xBB\xBF", "1:1", end.c_str()},
      {"3,3", "1:4", end.c_str()},
      {"3,3\r\n\r\n", "3:1", end.c_str()},
      {"0,1,1", "1:1", zero.c_str()},
      {"1,-1,1", "1:3", minus.c_str()},
      {"1,+1,1", "1:3", plus.c_str()},
      {"1,1,1.0", "1:5", decimal.c_str()},
      {"1 2,1,1", "1:1", two.c_str()},
      {"1,1, \t", "1:5", blanks.c_str()},
      {"1,\v1,1", "1:3", tab_v.c_str()},
      {"1,1,1\r", "1:5", lone_cr.c_str()},
      {std::string("1,1\0,1", 6), "1:3", nul.c_str()},
      // The mark is left out of the columns, and only the first is a mark.
      {"\xEF\xBB\xBF\xEF\xBB\xBF"
       "1,1,1",
       "1:1", mark.c_str()},
      {"#ff0000ff,1,1", "1:1", cell.c_str()},
      {"2147483648,1,1", "1:1", big.c_str()},
      {"1,99999999999999999999999,1", "1:3", long_field.c_str()},
      // The product of the sides must fit in 64 bits: 4 (2^31 - 1)^2 does, 5 times it does not.
      {"2147483647,2147483647,5", "1:23", five.c_str()},
      {"2147483647,2147483647,4", "1:24",
       "the export ends after 0 of 18446744056529682436 cells (cut short?)"},
  });
}

TEST(ExportFault, CellFaultsNameTheFieldWhereItStarts) {
  const auto found = [](const char* text) {
    return std::string("a cell must be # and 8 hex digits, found ") + text;
  };
  const std::string hex = found("\"#GG0000FF\"");
  const std::string leading_blank = found("\" #ff0000ff\"");
  const std::string trailing_blank = found("\"#ff0000ff \"");
  const std::string short_cell = found("\"#ff0000f\"");
  const std::string long_cell = found("\"#ff0000ff0\"");
  const std::string no_hash = found("\"ff0000ff\"");
  const std::string prefixed = found("\"#0xff00ff\"");
  const std::string nul = found("\"#ff\\x00000ff\"");
  const std::string cr_inside = found("\"#ff0000ff\\x0D#ff0000ff\"");
  const std::string cr_at_end = found("\"#ff0000ff\\x0D\"");
  const std::string cr_alone = found("\"\\x0D\"");
  const std::string cut = found("\"#0123456789abcdef012\"...");
  const std::string utf8 = found("\"#\\xC3\\xA90000000\"");
  expect_faults({
      {"1,1,2\n#ff0000ff,#GG0000FF\n", "2:11", hex.c_str()},
      {"1,1,2\r\n#ff0000ff\r\n#GG0000FF\r\n", "3:1", hex.c_str()},
      {"1,1,1\n #ff0000ff\n", "2:1", leading_blank.c_str()},
      {"1,1,1\n#ff0000ff \n", "2:1", trailing_blank.c_str()},
      {"1,1,1,#ff0000f", "1:7", short_cell.c_str()},
      {"1,1,1,#ff0000ff0", "1:7", long_cell.c_str()},
      {"1,1,1,ff0000ff", "1:7", no_hash.c_str()},
      {"1,1,1,#0xff00ff", "1:7", prefixed.c_str()},
      {std::string("1,1,1,#ff\0"
                   "000ff",
                   15),
       "1:7", nul.c_str()},
      // A CR not before a LF is part of the field.
      {"1,1,2\n#ff0000ff\r#ff0000ff\n", "2:1", cr_inside.c_str()},
      {"1,1,1\n#ff0000ff\r", "2:1", cr_at_end.c_str()},
      {"1,1,1\n#ff0000ff\r,", "2:1", cr_at_end.c_str()},
      {"1,1,2\n#ff0000ff,\r,#ff0000ff", "2:11", cr_alone.c_str()},
      {"1,1,1\n#0123456789abcdef0123456789\n", "2:1", cut.c_str()},
      {"1,1,1\n#\xC3\xA9"
       "0000000\n",
       "2:1", utf8.c_str()},
  });
}

TEST(ExportFault, TooFewOrTooManyCells) {
  const std::string extra = "the export holds more than its 1 cells, found \"#ff0000ff\"";
  const std::string extra_cr = "the export holds more than its 1 cells, found \"\\x0D\"";
  const std::string extra_nul = "the export holds more than its 2 cells, found \"\\x00\"";
  const std::string extra_blanks = "the export holds more than its 1 cells, found \"  x\"";
  const std::string extra_bad = "the export holds more than its 1 cells, found \"x\"";
  expect_faults({
      {"2,2,2\n#ff0000ff,#00000000\n#00000000\n", "4:1",
       "the export ends after 3 of 8 cells (cut short?)"},
      {"2,2,2\r\n#ff0000ff,#00000000\r\n#00000000", "3:10",
       "the export ends after 3 of 8 cells (cut short?)"},
      {"2,2,2\n", "2:1", "the export ends after 0 of 8 cells (cut short?)"},
      {"1,1,1\n#ff0000ff\n#ff0000ff\n", "3:1", extra.c_str()},
      {"1,1,1\n#ff0000ff\n\n,,\n  x", "5:1", extra_blanks.c_str()},
      {"1,1,1\n#ff0000ff,\r,", "2:11", extra_cr.c_str()},
      {std::string("2,1,1,#ff0000ff,#ff0000ff,\0", 27), "1:27", extra_nul.c_str()},
      {"1,1,1,#ff0000ff,x,#GG", "1:17", extra_bad.c_str()},
  });
}

// An export of x by y by z cells as the editor writes it, with a line end of
// `line_end`; the cell colours come from `random`.
std::string small_export(int x, int y, int z, std::string_view line_end, std::mt19937& random) {
  static constexpr char digits[] = "0123456789abcdefABCDEF";
  std::string text =
      std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(z) + std::string(line_end);
  for (int layer = 0; layer < y; ++layer) {
    for (int row = 0; row < z; ++row) {
      for (int cell = 0; cell < x; ++cell) {
        if (cell != 0) text += ',';
        text += '#';
        const bool empty = random() % 3 != 0;
        for (int i = 0; i < 8; ++i) text += empty ? '0' : digits[random() % 22];
      }
      text += line_end;
    }
    text += line_end;
  }
  return text;
}

// Where the cell of index `cell` (in file order) starts in an export of
// small_export's layout with a LF line end, as "LINE:COLUMN".
std::string cell_place(int x, int z, int cell) {
  const int row = cell / x;            // rows of cells, counted over all layers
  const int line = 2 + row + row / z;  // the header's line, and a blank line after each layer
  return std::to_string(line) + ":" + std::to_string(1 + 10 * (cell % x));
}

TEST(ExportFault, FaultsDeepInALargeExportAreWhereTheyAre) {
  std::mt19937 random(7);
  const int x = 37;
  const int y = 5;
  const int z = 11;
  const std::string exported = small_export(x, y, z, "\n", random);
  ASSERT_EQ(export_fault(exported, "notes.csv"), std::nullopt);
  const std::size_t first_cell = exported.find('#');
  for (const int cell : {0, 1, 7, 8, 9, 36, 37, 406, 407, 1000, x * y * z - 1}) {
    SCOPED_TRACE(cell);
    std::string text = exported;
    // Cells are ten bytes apart, with a blank line of one byte after each layer.
    const std::size_t at =
        first_cell + static_cast<std::size_t>(10 * cell) + static_cast<std::size_t>(cell / x / z);
    ASSERT_EQ(text[at], '#');
    text[at + 4] = 'g';
    const std::string found = text.substr(at, 9);
    EXPECT_EQ(export_fault(text, "notes.csv"),
              fault(cell_place(x, z, cell),
                    "a cell must be # and 8 hex digits, found \"" + found + "\""));
  }
  EXPECT_EQ(export_fault(exported.substr(0, exported.size() - 12), "notes.csv"),
            fault(std::to_string(2 + y * z + y - 2) + ":" + std::to_string(10 * x - 10),
                  "the export ends after " + std::to_string(x * y * z - 1) + " of " +
                      std::to_string(x * y * z) + " cells (cut short?)"));
}

// A small export of random size and layout: LF or CR LF, with or without a
// byte order mark and its final line end.
std::string random_export(std::mt19937& random) {
  const int x = 1 + static_cast<int>(random() % 12);
  const int y = 1 + static_cast<int>(random() % 3);
  const int z = 1 + static_cast<int>(random() % 3);
  std::string text = small_export(x, y, z, random() % 2 == 0 ? "\n" : "\r\n", random);
  if (random() % 4 == 0) text = "\xEF\xBB\xBF" + text;
  if (random() % 4 == 0) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  }
  return text;
}

TEST(ExportFault, FastPathAgreesWithThePlainRuleOnEveryByteOfASmallExport) {
  std::mt19937 random(1);
  // Twelve cells: a block of eight on the fast path, then four by the
  // general rule, and the header before them.
  const std::string exported = small_export(4, 3, 1, "\n", random);
  for (std::size_t at = 0; at < exported.size(); ++at) {
    for (int byte = 0; byte < 256; ++byte) {
      std::string text = exported;
      text[at] = static_cast<char>(byte);
      ASSERT_EQ(export_fault(text, "m.csv"), plain_export_fault(text, "m.csv"))
          << "byte " << byte << " at " << at;
    }
  }
}

TEST(ExportFault, FastPathAgreesWithThePlainRuleOnMutatedExports) {
  std::mt19937 random(2);
  static constexpr char bytes[] = {'#',  ',',  '\n', '\r', '0', '9',    'a',    'F',    'g', ' ',
                                   '\t', '\0', '-',  '+',  '.', '\xEF', '\xBB', '\xBF', 'x', '1'};
  int faults = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string text = random_export(random);
    ASSERT_EQ(export_fault(text, "m.csv"), std::nullopt) << text;
    const std::size_t at = random() % (text.size() + 1);
    const char byte =
        random() % 4 == 0 ? static_cast<char>(random() % 256) : bytes[random() % sizeof bytes];
    switch (random() % 3) {
      case 0:
        if (at < text.size()) text[at] = byte;
        break;
      case 1:
        text.insert(at, 1, byte);
        break;
      default:
        if (at < text.size()) text.erase(at, 1);
        break;
    }
    const std::optional<std::string> found = export_fault(text, "m.csv");
    ASSERT_EQ(found, plain_export_fault(text, "m.csv")) << text;
    faults += found.has_value();
  }
  // Most mutations break the export, but not all (an empty field more, a
  // digit for another): both outcomes are compared.
  EXPECT_GT(faults, 10000);
  EXPECT_LT(faults, 19000);
}

// Each start in an allocation of its own size, so that the sanitizers see
// any read past the end.
TEST(BeginsLikeExport, EveryStartOfAWellFormedExportOnceTheThirdNumberBegins) {
  for (const std::string& exported :
       {std::string("12,1,1\n#ff0000ff,#00000000,#00ff00ff,#0000ffff,#000000ff,#00000000,"
                    "#ff0000ff,#00000000,#00ff00ff,#0000ffff,#000000ff,#00000000\n\n"),
        crlf("12, 1 ,\t01\n#ff0000ff,#00000000,#00ff00ff,#0000ffff,#000000ff,#00000000\n"
             "#ff0000ff,#00000000,#00ff00ff,#0000ffff,#000000ff,#00000000\n\n"),
        std::string("\xEF\xBB\xBF"
                    "12,1,1,#ff0000ff,#00000000,#00ff00ff,#0000ffff,#000000ff,"
                    "#00000000,#ff0000ff,#00000000,#00ff00ff,#0000ffff,#000000ff,#00000000")}) {
    const std::size_t third_digit =
        exported.find_first_of("0123456789", exported.find(',', exported.find(',') + 1));
    for (std::size_t size = 0; size <= exported.size(); ++size) {
      const std::unique_ptr<char[]> copy(new char[size == 0 ? 1 : size]);
      std::memcpy(copy.get(), exported.data(), size);
      const std::string_view start(copy.get(), size);
      EXPECT_EQ(begins_like_export(start), size > third_digit) << start;
      EXPECT_EQ(export_fault(start, "m.csv"), plain_export_fault(start, "m.csv")) << start;
    }
  }
}

TEST(BeginsLikeExport, FalseFromTheFirstByteNoExportHas) {
  const std::string bad = "2,1,1\n#ff0000ff,#ffGG00ff\n";
  const std::size_t g = bad.find('G');
  for (std::size_t length = 6; length <= bad.size(); ++length) {
    EXPECT_EQ(begins_like_export(bad.substr(0, length)), length <= g) << length;
  }
  const struct {
    std::string start;
    bool begins;
  } cases[] = {
      {std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16), false},
      {"Hello, world\n", false},
      {"<model>\n<voxels>\n<voxel x=\"0\"", false},
      {"\xEF\xBB\xBF<model>", false},
      {"", false},
      {"\xEF\xBB", false},
      {"12,12", false},
      {"12,12, ", false},
      {"12,12,1", true},
      {"1,1,0", true},  // "01" may follow
      {"1,1,0 ", false},
      {"1,1,0\n", false},
      {"1,1,1\r", true},
      {"1,1,1 \t", true},
      {"1,1,1\r\r", false},
      {"2147483647,2147483647,5", false},
      {"1,1,1\n#ff0000ff\r", true},
      {"1,1,1\n#ff0000ff\n\r", true},
      {"1,1,1\n#ff0000ff\n#", false},
      {"1,1,1\n#ff00\r", false},
      {"1,1,2\n#ff0000ff\n#", true},
      {"1,1,2\n#ff0000ff\n#ff0000ff0", false},
      {std::string("1,1,2\n#ff0000ff\n#ff\0", 20), false},
  };
  for (const auto& c : cases) EXPECT_EQ(begins_like_export(c.start), c.begins) << c.start;
  const std::string rgb = cubewright_test::read_file(cubewright_test::test_data("rgb.csv"));
  EXPECT_TRUE(begins_like_export(std::string_view(rgb).substr(0, 4096)));
}

}  // namespace
}  // namespace cubewright
