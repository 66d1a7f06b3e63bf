#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/conversion.h"
#include "app/options.h"

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
  EXPECT_EQ(options.input_csv, "in.csv");
  EXPECT_EQ(options.output_xml, "out.xml");
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
  EXPECT_EQ(convert_text("2,1,1\n#ff8000ff,#00000000\n", {}),
            "<model>\n<voxels>\n"
            "<voxel x=\"0\" y=\"0\" z=\"0\" r=\"0.996094\" g=\"0.5\" b=\"0\" a=\"1.0\" />\n"
            "</voxels>\n<skeleton />\n<skeletonVoxelBindings />\n</model>\n");
}

TEST(ConvertText, GridWithoutFilledCellsGivesSixLines) {
  EXPECT_EQ(convert_text("2,2,1\n#00000000,#00000000\n#00000000,#00000000\n", {}),
            "<model>\n<voxels>\n</voxels>\n<skeleton />\n<skeletonVoxelBindings />\n</model>\n");
}

TEST(ConvertText, NeedsAHeader) {
  EXPECT_FALSE(convert_text("", {}));
  EXPECT_FALSE(convert_text("3,3\n", {}));
  EXPECT_TRUE(convert_text("3,3,3", {}));
}

TEST(ConvertText, SameDocumentForEveryLineEndAndByteOrderMark) {
  const std::string lf = "3,2,1\n#ff0000ff,#00000000,#00ff00ff\n\n#0000ffff,#000000ff,#00000000\n";
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  const model_placement placement{4, -2, 0, -1.0f, 1.0f, 1.0f};
  const std::optional<std::string> expected = convert_text(lf, placement);
  ASSERT_TRUE(expected);
  EXPECT_EQ(convert_text(crlf, placement), expected);
  EXPECT_EQ(convert_text("\xEF\xBB\xBF" + crlf, placement), expected);
}

}  // namespace
}  // namespace cubewright
