// The strict check of an export: what passes, each fault with its message and
// place, the fast path held to the plain rule, and the check of a file's start.
#include "sproxel_csv/export_check.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <optional>
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
  const std::string lf = "3,2,1\n#ff0000ff,#00000000,#00ff00ff\n\n#0000ffff,#000000ff,#00000000\n";
  for (const std::string& text : {
           lf,
           crlf(lf),
           "\xEF\xBB\xBF" + crlf(lf),
           lf.substr(0, lf.size() - 1),
           std::string("3,2,1,#ff0000ff,#00000000,#00ff00ff,#0000ffff,#000000ff,#00000000"),
           std::string("\n\n3,2,1,,\n\n,#ff0000ff,,#00000000,\n#00ff00ff,\r\n,\n#0000ffff,"
                       "#000000ff,#00000000,,\n"),
           std::string(
               " 3\t,\t02 , 1\n#FF0000FF,#0aB1c2D3,#00ff00ff,#0000ffff,#000000ff,#00000000"),
           cubewright_test::read_file(cubewright_test::test_data("rgb.csv")),
           cubewright_test::read_file(cubewright_test::example("rifle.csv")),
       }) {
    EXPECT_EQ(export_fault(text, "a.csv"), std::nullopt) << text;
    EXPECT_TRUE(begins_like_export(text)) << text;
  }
}

// Each fault as export_fault and the plain rule tell it, after "notes.csv:".
void expect_faults(std::string_view what, const std::vector<std::array<std::string, 3>>& cases) {
  for (const auto& [text, where, found] : cases) {
    const std::string message =
        "notes.csv:" + where + ": not a sproxel CSV export: " + std::string(what) + found;
    EXPECT_EQ(export_fault(text, "notes.csv"), message) << text;
    EXPECT_EQ(plain_export_fault(text, "notes.csv"), message) << text;
  }
}

TEST(ExportFault, HeaderFaultsNameTheFieldOrTheEnd) {
  expect_faults("the header must be three whole numbers (X,Y,Z), found ",
                {{"Notes\n1,1,1\n#ff0000ff\n", "1:1", "\"Notes\""},
                 {"", "1:1", "the end of the file"},
                 {"\xEF\xBB\xBF", "1:1", "the end of the file"},
                 {"3,3\r\n\r\n", "3:1", "the end of the file"},
                 {"0,1,1", "1:1", "\"0\""},
                 {"1,-1,1", "1:3", "\"-1\""},
                 {"1,1,1.0", "1:5", "\"1.0\""},
                 {"1 2,1,1", "1:1", "\"1 2\""},
                 {"1,1, \t", "1:5", "\" \\x09\""},
                 {"1,1,1\r", "1:5", "\"1\\x0D\""},
                 {std::string("1,1\0,1", 6), "1:3", "\"1\\x00\""},
                 {"\xEF\xBB\xBF\xEF\xBB\xBF"
                  "1,1,1",
                  "1:1", "\"\\xEF\\xBB\\xBF1\""},
                 {"2147483648,1,1", "1:1", "\"2147483648\""},
                 {"1,99999999999999999999999,1", "1:3", "\"99999999999999999999\"..."},
                 // 4 (2^31 - 1)^2 cells fit in 64 bits, 5 times as many do not.
                 {"2147483647,2147483647,5", "1:23", "\"5\""}});
}

TEST(ExportFault, CellFaultsNameTheFieldWhereItStarts) {
  expect_faults("a cell must be # and 8 hex digits, found ",
                {{"1,1,2\n#ff0000ff,#GG0000FF\n", "2:11", "\"#GG0000FF\""},
                 {"1,1,2\r\n#ff0000ff\r\n#GG0000FF\r\n", "3:1", "\"#GG0000FF\""},
                 {"1,1,1\n #ff0000ff\n", "2:1", "\" #ff0000ff\""},
                 {"1,1,1,#ff0000f", "1:7", "\"#ff0000f\""},
                 {"1,1,1,#ff0000ff0", "1:7", "\"#ff0000ff0\""},
                 {"1,1,1,#0xff00ff", "1:7", "\"#0xff00ff\""},
                 {std::string("1,1,1,#ff\0"
                              "000ff",
                              15),
                  "1:7", "\"#ff\\x00000ff\""},
                 {"1,1,2\n#ff0000ff\r#ff0000ff\n", "2:1", "\"#ff0000ff\\x0D#ff0000ff\""},
                 {"1,1,1\n#ff0000ff\r", "2:1", "\"#ff0000ff\\x0D\""},
                 {"1,1,2\n#ff0000ff,\r,#ff0000ff", "2:11", "\"\\x0D\""},
                 {"1,1,1\n#\xC3\xA9"
                  "0000000\n",
                  "2:1", "\"#\\xC3\\xA90000000\""}});
}

TEST(ExportFault, TooFewOrTooManyCells) {
  expect_faults(
      "the export ends after ",
      {{"2,2,2\n#ff0000ff,#00000000\n#00000000\n", "4:1", "3 of 8 cells (cut short?)"},
       {"2,2,2\r\n#ff0000ff\r\n#00000000", "3:10", "2 of 8 cells (cut short?)"},
       {"2147483647,2147483647,4", "1:24", "0 of 18446744056529682436 cells (cut short?)"}});
  expect_faults(
      "the export holds more than its ",
      {{"1,1,1\n#ff0000ff\n\n,,\n#ff0000ff\n", "5:1", "1 cells, found \"#ff0000ff\""},
       {"1,1,1\n#ff0000ff,\r,", "2:11", "1 cells, found \"\\x0D\""},
       {std::string("2,1,1,#ff0000ff,#ff0000ff,\0", 27), "1:27", "2 cells, found \"\\x00\""}});
}

unsigned pick(std::mt19937& random, unsigned count) {
  return static_cast<unsigned>(random() % count);
}

// An export of random size, colours and line ends, with or without a byte
// order mark and its final line end.
std::string random_export(std::mt19937& random) {
  static constexpr char digits[] = "0123456789abcdefABCDEF";
  const unsigned x = 1 + pick(random, 12), y = 1 + pick(random, 3), z = 1 + pick(random, 3);
  const std::string line_end = random() % 2 == 0 ? "\n" : "\r\n";
  std::string text = random() % 4 == 0 ? "\xEF\xBB\xBF" : "";
  text += std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(z) + line_end;
  for (unsigned row = 0; row < y * z; ++row) {
    for (unsigned cell = 0; cell < x; ++cell) {
      text += cell == 0 ? "#" : ",#";
      const bool empty = random() % 3 != 0;
      for (int i = 0; i < 8; ++i) text += empty ? '0' : digits[random() % 22];
    }
    text += row % z == z - 1 ? line_end + line_end : line_end;
  }
  if (random() % 4 == 0) text.resize(text.find_last_not_of("\r\n") + 1);
  return text;
}

TEST(ExportFault, FastPathAgreesWithThePlainRuleOnEveryByteOfASmallExport) {
  // Twelve cells: the header, a block of eight cells on the fast path (their
  // rows joined by LF), then four by the general rule.
  const std::string exported =
      "4,1,3\n#00000000,#ff00aaFF,#00000000,#00000000\n"
      "#12345678,#9abcdef0,#ABCDEF00,#00000000\n"
      "#00000000,#00000000,#00000000,#000000ff\n\n";
  for (std::size_t at = 0; at < exported.size(); ++at) {
    for (int byte = 0; byte < 256; ++byte) {
      std::string text = exported;
      text[at] = static_cast<char>(byte);
      ASSERT_EQ(export_fault(text, "m.csv"), plain_export_fault(text, "m.csv"))
          << byte << " at " << at;
    }
  }
}

TEST(ExportFault, FastPathAgreesWithThePlainRuleOnMutatedExports) {
  std::mt19937 random(2);
  static constexpr char bytes[] = "#,\n\r09aFg \t-+.\xEF\xBB\xBFx";  // and a NUL
  int faults = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string text = random_export(random);
    ASSERT_EQ(export_fault(text, "m.csv"), std::nullopt) << text;
    const std::size_t at = random() % text.size();
    const char byte =
        random() % 4 == 0 ? static_cast<char>(random()) : bytes[random() % sizeof bytes];
    const unsigned change = pick(random, 3);
    if (change == 0) text[at] = byte;
    if (change == 1) text.insert(at, 1, byte);
    if (change == 2) text.erase(at, 1);
    const std::optional<std::string> fault = export_fault(text, "m.csv");
    ASSERT_EQ(fault, plain_export_fault(text, "m.csv")) << text;
    faults += fault.has_value();
  }
  // Some changes keep the export well-formed (an empty field more, one digit
  // for another): both outcomes are compared.
  EXPECT_GT(faults, 10000);
  EXPECT_LT(faults, 19000);
}

// Each start in an allocation of its own size, so that the sanitizers see
// any read past the end.
TEST(BeginsLikeExport, EveryStartOfAWellFormedExportOnceTheThirdNumberBegins) {
  std::mt19937 random(3);
  for (int round = 0; round < 50; ++round) {
    const std::string exported = random_export(random);
    const std::size_t third_digit =
        exported.find_first_of("0123456789", exported.find(',', exported.find(',') + 1));
    for (std::size_t size = 0; size <= exported.size(); ++size) {
      const std::unique_ptr<char[]> copy(new char[size == 0 ? 1 : size]);
      std::memcpy(copy.get(), exported.data(), size);
      const std::string_view start(copy.get(), size);
      ASSERT_EQ(begins_like_export(start), size > third_digit) << start;
      ASSERT_EQ(export_fault(start, "m.csv"), plain_export_fault(start, "m.csv")) << start;
    }
  }
}

TEST(BeginsLikeExport, FalseFromTheFirstByteNoExportHas) {
  const std::string bad = "2,1,1\n#ff0000ff,#ffGG00ff\n";
  for (std::size_t size = 6; size <= bad.size(); ++size) {
    EXPECT_EQ(begins_like_export(bad.substr(0, size)), size <= bad.find('G')) << size;
  }
  for (const std::string& start :
       {std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16), std::string("Hello, world\n"),
        std::string("\xEF\xBB\xBF<model>\n<voxels>\n<voxel x=\"0\""), std::string("12,12, "),
        std::string("1,1,0 "), std::string("1,1,0\n"), std::string("1,1,1\r\r"),
        std::string("2147483647,2147483647,5"), std::string("1,1,1\n#ff0000ff\n#"),
        std::string("1,1,1\n#ff00\r"), std::string("1,1,2\n#ff0000ff\n#ff\0", 20)}) {
    EXPECT_FALSE(begins_like_export(start)) << start;
  }
  for (const char* start : {"1,1,0", "1,1,1 \t", "1,1,1\n#ff0000ff\n\r", "1,1,2\n#ff0000ff\n#"}) {
    EXPECT_TRUE(begins_like_export(start)) << start;
  }
}

}  // namespace
}  // namespace cubewright
