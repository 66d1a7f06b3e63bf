// The fast paths of the conversion checked against the plain rules they stand
// in for: separators found eight bytes at a time, colours read through the
// digit table, and the input mapped instead of read.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "app/platform.h"
#include "csv_input/token_list.h"
#include "support/files.h"
#include "voxel_model/cell_walk.h"

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

TEST(InputFile, HoldsTheBytesOfTheFile) {
  scratch_folder folder;
  const std::string contents = std::string("2,1,1\r\n#ff8000ff,\0#00000000", 27);
  write_file(folder / "model.csv", contents);
  input_file input;
  io_failure failure;
  ASSERT_TRUE(open_input_file(folder / "model.csv", input, failure)) << failure.reason;
  EXPECT_EQ(input.text, contents);
  close_input_file(input);
  EXPECT_TRUE(input.text.empty());
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
