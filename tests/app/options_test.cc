#include "app/options.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "conversion/convert.h"
#include "sproxel_csv/csv_document.h"

namespace cubewright {
namespace {

using arguments = std::vector<std::string>;

TEST(Usage, DescriptionsLineUpInColumnEighteen) {
  EXPECT_EQ(usage_lines[0].substr(0, 58),
            "cubewright v0.1 - sproxel CSV to ELDERMOOR XML converter. ");
  EXPECT_GT(usage_lines[0].size(), 58u);  // the ownership notice
  EXPECT_EQ(usage_lines[2],
            "cubewright input_csv output_xml [offset_x] [offset_y] [offset_z] [flip_x]");
  for (std::size_t line = 3; line <= 8; ++line) {
    EXPECT_EQ(usage_lines[line].substr(0, 4), "    ") << line;
    EXPECT_NE(usage_lines[line][4], ' ') << line;
    EXPECT_EQ(usage_lines[line][16], ' ') << line;
    EXPECT_NE(usage_lines[line][17], ' ') << line;
  }
  EXPECT_EQ(usage_lines[9], "e.g. ");
  EXPECT_EQ(usage_lines[10], "  cubewright shotgun.csv assault_rifle1.xml 4 -2 0 flip");
}

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

TEST(ConvertText, SmallFileRoadToTheDocument) {
  EXPECT_EQ(export_to_document("2,1,1\n#ff8000ff,#00000000\n", {}),
            "<model>\n<voxels>\n"
            "<voxel x=\"0\" y=\"0\" z=\"0\" r=\"0.996094\" g=\"0.5\" b=\"0\" a=\"1.0\" />\n"
            "</voxels>\n<skeleton />\n<skeletonVoxelBindings />\n</model>\n");
}

TEST(ConvertText, GridWithoutFilledCellsGivesSixLines) {
  EXPECT_EQ(export_to_document("2,2,1\n#00000000,#00000000\n#00000000,#00000000\n", {}),
            "<model>\n<voxels>\n</voxels>\n<skeleton />\n<skeletonVoxelBindings />\n</model>\n");
}

TEST(ConvertText, NeedsAHeader) {
  EXPECT_FALSE(export_to_document("", {}));
  EXPECT_FALSE(export_to_document("3,3\n", {}));
  EXPECT_TRUE(export_to_document("3,3,3", {}));
}

TEST(ConvertText, SameDocumentForEveryLineEndAndByteOrderMark) {
  const std::string lf = "3,2,1\n#ff0000ff,#00000000,#00ff00ff\n\n#0000ffff,#000000ff,#00000000\n";
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  const model_placement placement{4, -2, 0, -1.0f, 1.0f, 1.0f};
  const std::optional<std::string> expected = export_to_document(lf, placement);
  ASSERT_TRUE(expected);
  EXPECT_EQ(export_to_document(crlf, placement), expected);
  EXPECT_EQ(export_to_document("\xEF\xBB\xBF" + crlf, placement), expected);
}

}  // namespace
}  // namespace cubewright

namespace cubewright {
namespace {

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

TEST(Recognise, InputsByContentNotName) {
  EXPECT_EQ(recognise_input("2,1,1\n#ff0000ff"), content_kind::sproxel_csv);
  EXPECT_EQ(recognise_input(""), content_kind::sproxel_csv);
  EXPECT_EQ(recognise_input("\xEF\xBB\xBF \r\n\t<model>"), content_kind::model_document);
  EXPECT_EQ(recognise_input("VOX \x96\0\0\0"), content_kind::vox);
  EXPECT_EQ(recognise_input(std::string("1,1,1,#ff\0", 10)), content_kind::binary);

  EXPECT_EQ(recognise_existing("12,5,3\n#00000000"), content_kind::sproxel_csv);
  EXPECT_EQ(recognise_existing("-1,+5,3,#"), content_kind::sproxel_csv);
  EXPECT_EQ(recognise_existing("12,5,3.5\n#00000000"), std::nullopt);
  EXPECT_EQ(recognise_existing("12,5,3\nff"), std::nullopt);
  EXPECT_EQ(recognise_existing("12,5,3"), std::nullopt);
  EXPECT_EQ(recognise_existing("notes"), std::nullopt);
  EXPECT_EQ(recognise_existing("<model>"), content_kind::model_document);
}

TEST(ColourByte, RoundsFractionsOfTheDocument) {
  for (int value = 0; value < 256; ++value) {
    EXPECT_EQ(colour_byte(static_cast<float>(value) / 256.0f), value);
    EXPECT_EQ(colour_byte(std::stof(std::to_string(static_cast<float>(value) / 256.0f))), value);
  }
  EXPECT_EQ(colour_byte(1.0f), 255);
  EXPECT_EQ(colour_byte(-0.5f), 0);
  EXPECT_EQ(colour_byte(7.0f), 255);
  EXPECT_EQ(colour_byte(std::nanf("")), 0);
}

}  // namespace
}  // namespace cubewright
