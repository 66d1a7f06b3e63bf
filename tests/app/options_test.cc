#include "app/options.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace cubewright {
namespace {

using arguments = std::vector<std::string>;

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

TEST(CommandLine, PlainArgumentsReadStrictlyOrTheOldWay) {
  const arguments plain = {"in.csv", "out.xml", " 4 ", "-2", "+0", "flip", "1", "x"};
  const command_line strict = parse_command_line(plain);
  ASSERT_EQ(strict.action, program_action::convert) << strict.error;
  arguments lenient_args = plain;
  lenient_args.insert(lenient_args.begin() + 3, "--lenient");
  const command_line lenient = parse_command_line(lenient_args);
  ASSERT_EQ(lenient.action, program_action::convert);
  EXPECT_TRUE(lenient.lenient);
  for (const command_line* line : {&strict, &lenient}) {
    EXPECT_EQ(line->options.input_path, "in.csv");
    EXPECT_EQ(line->options.output_path, "out.xml");
    EXPECT_EQ(line->options.offset_x, 4);
    EXPECT_EQ(line->options.offset_y, -2);
    EXPECT_EQ(line->options.offset_z, 0);
    EXPECT_EQ(line->options.axis_factor_x, -1.0f);
    EXPECT_EQ(line->options.axis_factor_z, -1.0f);
  }

  // What the old reading turned into a wrong model is refused, naming the
  // argument and what --lenient makes of it; --lenient still reads it.
  const struct {
    arguments args;
    const char* said;
  } mistakes[] = {
      {{"in", "out", "flip"},
       "offset_x must be a whole number, not \"flip\" (--lenient reads it as 0)"},
      {{"in", "out", "0", "4.7"},
       "offset_y must be a whole number, not \"4.7\" (--lenient reads it as 4)"},
      {{"in", "out", "0", "0", "1e5"}, "offset_z must be a whole number, not \"1e5\""},
      {{"in", "out", "4,-2,0"}, "not \"4,-2,0\" (--lenient reads it as 4)"},
      {{"in", "out", "2147483648"}, "offset_x must be a whole number"},
      {{"in", "out", "- 1"}, "offset_x must be a whole number"},
      {{"in", "out", ""}, "offset_x must be a whole number"},
      {{"in", "out", "0", "0", "0", "0"}, "flip_x is \"0\", which mirrors x all the same"},
      {{"in", "out", "0", "0", "0", "x", " No "}, "flip_y is \" No \""},
      {{"in", "out", "0", "0", "0", "x", "y", "off"}, "write flip to mirror z, or leave it out"},
      {{"in", "out", "0", "0", "0", ""}, "flip_x is \"\""},
      {{"in", "out", "0", "0", "0", "FALSE"}, "(--lenient mirrors)"},
  };
  for (const auto& mistake : mistakes) {
    const command_line line = parse_command_line(mistake.args);
    EXPECT_EQ(line.action, program_action::fail) << ::testing::PrintToString(mistake.args);
    EXPECT_NE(line.error.find(mistake.said), std::string::npos) << line.error;
    arguments lenient_mistake = mistake.args;
    lenient_mistake.push_back("--lenient");
    const command_line old = parse_command_line(lenient_mistake);
    EXPECT_EQ(old.action, program_action::convert) << old.error;
    const conversion_options read = parse_options(mistake.args);
    EXPECT_EQ(old.options.offset_x, read.offset_x);
    EXPECT_EQ(old.options.offset_y, read.offset_y);
    EXPECT_EQ(old.options.axis_factor_x, read.axis_factor_x);
    EXPECT_EQ(old.options.axis_factor_z, read.axis_factor_z);
  }
  EXPECT_EQ(whole_number("-2147483648"), INT32_MIN);
  EXPECT_EQ(whole_number("\t+17 "), 17);
  EXPECT_FALSE(whole_number("+"));
  EXPECT_FALSE(whole_number("99999999999999999999"));
}

TEST(CommandLine, OptionsStandAnywhereBeforeTheEndOfOptions) {
  const command_line line =
      parse_command_line({"in.csv", "-v", "out.xml", "-3", "--to", "csv", "--mirror=y"});
  ASSERT_EQ(line.action, program_action::convert) << line.error;
  EXPECT_TRUE(line.verbose);
  EXPECT_EQ(line.format, output_format::csv);
  EXPECT_EQ(line.options.output_path, "out.xml");
  EXPECT_EQ(line.options.offset_x, -3);  // a negative number is an offset
  EXPECT_EQ(line.options.axis_factor_y, -1.0f);

  const command_line ended = parse_command_line({"in.csv", "--", "-v", "-x"});
  EXPECT_EQ(ended.action, program_action::fail);  // "-x" after -- is an offset
  EXPECT_NE(ended.error.find("offset_x"), std::string::npos);
  EXPECT_EQ(parse_command_line({"--", "-in.csv", "out"}).options.input_path, "-in.csv");
  // Read the lenient way, an unknown word after the input and the output is
  // an offset or a switch, as it always was.
  const command_line old = parse_command_line({"--lenient", "in", "out", "-x", "0", "-1", "-q"});
  ASSERT_EQ(old.action, program_action::convert) << old.error;
  EXPECT_EQ(old.options.offset_x, 0);
  EXPECT_EQ(old.options.offset_z, -1);
  EXPECT_EQ(old.options.axis_factor_x, -1.0f);
  EXPECT_EQ(parse_command_line({"--lenient", "-x", "in", "out"}).action, program_action::fail);
  EXPECT_EQ(parse_command_line({"in", "out", "-x", "--lenient"}).action, program_action::convert);
  EXPECT_TRUE(is_option("-v"));
  EXPECT_TRUE(is_option("--"));
  EXPECT_FALSE(is_option("-2"));
  EXPECT_FALSE(is_option("-"));
  EXPECT_FALSE(is_option("-.5"));
}

TEST(CommandLine, CommandsThatCannotRunFail) {
  const struct {
    arguments args;
    program_action action;
    const char* said;
  } cases[] = {
      {{}, program_action::usage, ""},
      {{"-h"}, program_action::help, ""},
      {{"in.csv", "out.xml", "--help"}, program_action::help, ""},
      {{"--version"}, program_action::version, ""},
      {{"--lenient"}, program_action::usage, ""},
      {{"--lenient", "in.csv"}, program_action::usage, ""},
      {{"in.csv"}, program_action::fail, "no output given for in.csv"},
      {{"-v"}, program_action::fail, "give an input and an output"},
      {{"--to", "csv", "in.csv"}, program_action::fail, "no output given"},
      {{"--to"}, program_action::fail, "option --to needs a value"},
      {{"a", "b", "--to"}, program_action::fail, "option --to needs a value"},
      {{"--bogus"}, program_action::fail, "unknown option '--bogus'"},
      {{"a", "b", "-q"}, program_action::fail, "unknown option '-q'"},
      {{"--to", "png", "a", "b"}, program_action::fail, "unknown format 'png'"},
      {{"--mirror", "xw", "a", "b"}, program_action::fail, "unknown axes"},
      {{"--mirror=", "a", "b"}, program_action::fail, "unknown axes"},
      {{"--to", "csv", "a", "b", "--to=xml"}, program_action::fail, "--to is given twice"},
      {{"--preview", "p.png", "a", "b", "--preview", "q.png"}, program_action::fail, "twice"},
      {{"--compare", "c.xml", "a", "b"}, program_action::fail, "give --preview FILE too"},
      {{"--each"}, program_action::fail, "--each needs the files"},
      {{"--each", "--preview", "p.png", "a"}, program_action::fail, "without --each"},
  };
  for (const auto& c : cases) {
    const command_line line = parse_command_line(c.args);
    EXPECT_EQ(line.action, c.action) << ::testing::PrintToString(c.args);
    EXPECT_NE(line.error.find(c.said), std::string::npos) << line.error;
    EXPECT_EQ(line.error.find('\n'), std::string::npos);
  }
}

TEST(CommandLine, EachNamesItsOutputsBesideTheInputs) {
  const command_line line = parse_command_line({"--each", "a.csv", "b.VOX", "dir.v/c", "d.xml"});
  ASSERT_EQ(line.action, program_action::convert);
  EXPECT_EQ(line.inputs, (arguments{"a.csv", "b.VOX", "dir.v/c", "d.xml"}));
  const struct {
    const char* input;
    bool given;
    output_format to;
    const char* output;
  } cases[] = {
      {"a.csv", false, output_format::xml, "a.xml"},
      {"b.VOX", false, output_format::xml, "b.xml"},
      {"dir.v/c", false, output_format::xml, "dir.v/c.xml"},
      {"d.XML", false, output_format::xml, "d.vox"},
      {"d.xml", true, output_format::csv, "d.csv"},
      {"e.tar.csv", true, output_format::xml, "e.tar.xml"},
      {"f\\.hidden", false, output_format::xml, "f\\.hidden.xml"},
  };
  for (const auto& c : cases) {
    const output_format format = each_output_format(c.input, c.given, c.to);
    EXPECT_EQ(each_output_path(c.input, format), c.output) << c.input;
  }
}

TEST(CommandLine, OptionsAndTheirValues) {
  const command_line line =
      parse_command_line({"--to=csv", "--mirror", "yz", "-v", "--preview", "p.png",
                          "--compare=old.xml", "--", "-in.xml", "out", "4", "0", "-1"});
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
