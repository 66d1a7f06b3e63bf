#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sproxel_csv/grid_size.h"
#include "sproxel_csv/token_list.h"

namespace cubewright {
namespace {

std::vector<std::string> tokens_of(std::string_view text) {
  std::vector<std::string> tokens;
  for (std::string_view token : read_token_list(text)) tokens.emplace_back(token);
  return tokens;
}

using strings = std::vector<std::string>;

TEST(TokenList, LineBoundariesCarryNoMeaning) {
  EXPECT_EQ(tokens_of("2,1,1,#ff0000ff"), tokens_of("2,1,1\n#ff0000ff\n"));
  EXPECT_EQ(tokens_of("2,1,1\n\n#a,,#b,\n\n,#c,"), (strings{"2", "1", "1", "#a", "#b", "#c"}));
}

TEST(TokenList, CarriageReturnBelongsOnlyToTheLineEndItPrecedes) {
  EXPECT_EQ(tokens_of("2,1,1\r\n#a,#b\r\n\r\n#c"), tokens_of("2,1,1\n#a,#b\n\n#c"));
  // A CR that is not right before a LF is part of the field.
  EXPECT_EQ(tokens_of("1\r,2\r\r\n3\r"), (strings{"1\r", "2\r", "3\r"}));
  EXPECT_EQ(tokens_of("a,\r\n"), (strings{"a"}));
}

TEST(TokenList, FieldsAreKeptByteForByte) {
  EXPECT_EQ(tokens_of(" #00000000,\t1 ,x y"), (strings{" #00000000", "\t1 ", "x y"}));
  EXPECT_EQ(tokens_of(std::string("a\0b,c", 5)), (strings{std::string("a\0b", 3), "c"}));
}

TEST(TokenList, SkipsByteOrderMarkOnlyAtTheStart) {
  EXPECT_EQ(tokens_of("\xEF\xBB\xBF"
                      "2,1,1"),
            (strings{"2", "1", "1"}));
  EXPECT_EQ(tokens_of("2,\xEF\xBB\xBF"), (strings{"2", "\xEF\xBB\xBF"}));
}

TEST(TokenList, EmptyAndSeparatorOnlyTextsHaveNoTokens) {
  EXPECT_TRUE(tokens_of("").empty());
  EXPECT_TRUE(tokens_of(",,\n\r\n,").empty());
}

TEST(ParseDecimal, FollowsAtoi) {
  const struct {
    const char* text;
    std::int32_t value;
  } cases[] = {
      {"12", 12},
      {"-2", -2},
      {"+7", 7},
      {"2.9", 2},
      {"4.7", 4},
      {"x", 0},
      {"", 0},
      {"-", 0},
      {" \t\v\f\r\n42", 42},
      {"3abc", 3},
      {"0x10", 0},
      {"--1", 0},
      {"+-1", 0},
      {"- 1", 0},
      {"007", 7},
      {"1 2", 1},
      {"\xA0"
       "5",
       0},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_decimal(c.text), c.value) << '"' << c.text << '"';
}

TEST(ParseDecimal, SaturatesBeyondThirtyTwoBits) {
  EXPECT_EQ(parse_decimal("2147483647"), 2147483647);
  EXPECT_EQ(parse_decimal("2147483648"), 2147483647);
  EXPECT_EQ(parse_decimal("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(parse_decimal("-2147483649"), -2147483647 - 1);
  EXPECT_EQ(parse_decimal("99999999999999999999999999999"), 2147483647);
  EXPECT_EQ(parse_decimal("-00000000000000000000000000012"), -12);
}

TEST(ParseGridSize, ReadsTheFirstThreeTokens) {
  const std::optional<grid_size> size = parse_grid_size(read_token_list("3.5,2,1,#ff"));
  ASSERT_TRUE(size);
  EXPECT_EQ(size->size_x, 3);
  EXPECT_EQ(size->size_y, 2);
  EXPECT_EQ(size->size_z, 1);

  const std::optional<grid_size> odd = parse_grid_size(read_token_list(",-4\n\nx,0"));
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->size_x, -4);
  EXPECT_EQ(odd->size_y, 0);
  EXPECT_EQ(odd->size_z, 0);
}

TEST(ParseGridSize, NeedsThreeTokens) {
  EXPECT_FALSE(parse_grid_size(read_token_list("")));
  EXPECT_FALSE(parse_grid_size(read_token_list("3,3")));
  EXPECT_FALSE(parse_grid_size(read_token_list("3,,\n,3\r\n")));
}

}  // namespace
}  // namespace cubewright
