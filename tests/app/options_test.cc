#include "app/options.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace cubewright {
namespace {

using arguments = std::vector<std::string>;

TEST(Options, FewerThanTwoArgumentsAskForUsage) {
  EXPECT_TRUE(wants_usage({}));
  EXPECT_TRUE(wants_usage({"in.csv"}));
  EXPECT_FALSE(wants_usage({"in.csv", "out.xml"}));
  EXPECT_FALSE(wants_usage({"", ""}));
}

TEST(Options, OffsetsFollowAtoi) {
  const conversion_options options = parse_options({"in.csv", "out.xml", "2.9", "x", "-7"});
  EXPECT_EQ(options.input_path, "in.csv");
  EXPECT_EQ(options.output_path, "out.xml");
  EXPECT_EQ(options.offset_x, 2);
  EXPECT_EQ(options.offset_y, 0);
  EXPECT_EQ(options.offset_z, -7);
  EXPECT_EQ(options.axis_factor_x, 1.0f);

  const conversion_options defaults = parse_options({"in.csv", "out.xml"});
  EXPECT_EQ(defaults.offset_x, 0);
  EXPECT_EQ(defaults.offset_y, 0);
  EXPECT_EQ(defaults.offset_z, 0);
}

TEST(Options, MirrorSwitchesCountByPresenceAlone) {
  const arguments base = {"in", "out", "0", "0", "0"};
  const std::vector<std::vector<float>> expected = {
      {1, 1, 1}, {-1, 1, 1}, {-1, -1, 1}, {-1, -1, -1}, {-1, -1, -1}};
  for (std::size_t extra = 0; extra < expected.size(); ++extra) {
    arguments args = base;
    for (std::size_t i = 0; i < extra; ++i) args.push_back(i == 0 ? "" : "0");
    const conversion_options options = parse_options(args);
    EXPECT_EQ(options.axis_factor_x, expected[extra][0]) << extra;
    EXPECT_EQ(options.axis_factor_y, expected[extra][1]) << extra;
    EXPECT_EQ(options.axis_factor_z, expected[extra][2]) << extra;
  }
}

TEST(CommandLine, PlainArgumentsMeanWhatTheyAlwaysMeant) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"in.csv", "out.xml", "-3", "-v", "--to", "csv"},
        std::vector<std::string>{"", "-h", "1"}}) {
    const command_line line = parse_command_line(args);
    ASSERT_EQ(line.action, program_action::convert);
    const conversion_options plain = parse_options(args);
    EXPECT_EQ(line.options.input_path, plain.input_path);
    EXPECT_EQ(line.options.offset_x, plain.offset_x);
    EXPECT_EQ(line.options.axis_factor_x, plain.axis_factor_x);
    EXPECT_EQ(line.options.axis_factor_z, plain.axis_factor_z);
    EXPECT_EQ(line.format, output_format::xml);
    EXPECT_FALSE(line.verbose);
  }
}

TEST(CommandLine, SingleArgumentsAndTooFewPositionals) {
  const struct {
    std::vector<std::string> args;
    program_action action;
  } cases[] = {
      {{}, program_action::usage},
      {{"-h"}, program_action::help},
      {{"--help"}, program_action::help},
      {{"--version"}, program_action::version},
      {{"--bogus"}, program_action::usage},
      {{"in.csv"}, program_action::usage},
      {{"--to", "csv", "in.csv"}, program_action::usage},
      {{"-v", "--", "in.csv"}, program_action::usage},
      {{"-v", "-h", "a", "b"}, program_action::help},
      {{"--bogus", "a", "b"}, program_action::fail},
      {{"--to", "png", "a", "b"}, program_action::fail},
      {{"--mirror", "xw", "a", "b"}, program_action::fail},
      {{"--mirror=", "a", "b"}, program_action::fail},
      {{"--compare", "c.xml", "a", "b"}, program_action::fail},
      {{"a", "b", "--to"}, program_action::convert},
  };
  for (const auto& c : cases) {
    const command_line line = parse_command_line(c.args);
    EXPECT_EQ(line.action, c.action) << ::testing::PrintToString(c.args);
    if (line.action == program_action::fail) {
      EXPECT_FALSE(line.error.empty());
    }
  }
  EXPECT_NE(parse_command_line({"--bogus", "a", "b"}).error.find("'--bogus'"), std::string::npos);
  EXPECT_NE(parse_command_line({"--bogus", "a", "b"}).error.find("--"), std::string::npos);
}

TEST(CommandLine, OptionsAndTheirValues) {
  const command_line line =
      parse_command_line({"--to=csv", "--mirror", "yz", "-v", "--preview", "p.png",
                          "--compare=old.xml", "--", "-in.xml", "out", "4", "x", "-1"});
  ASSERT_EQ(line.action, program_action::convert);
  EXPECT_EQ(line.format, output_format::csv);
  EXPECT_TRUE(line.verbose);
  EXPECT_EQ(line.preview_path, "p.png");
  EXPECT_EQ(line.compare_path, "old.xml");
  EXPECT_EQ(line.options.input_path, "-in.xml");
  EXPECT_EQ(line.options.offset_x, 4);
  EXPECT_EQ(line.options.offset_z, -1);
  EXPECT_EQ(line.options.axis_factor_x, 1.0f);
  EXPECT_EQ(line.options.axis_factor_y, -1.0f);
  EXPECT_EQ(line.options.axis_factor_z, -1.0f);

  // An axis is mirrored when either the option or a flip argument says so.
  const command_line both =
      parse_command_line({"--mirror", "z", "in", "out", "0", "0", "0", "flip"});
  EXPECT_EQ(both.options.axis_factor_x, -1.0f);
  EXPECT_EQ(both.options.axis_factor_y, 1.0f);
  EXPECT_EQ(both.options.axis_factor_z, -1.0f);
}

}  // namespace
}  // namespace cubewright
