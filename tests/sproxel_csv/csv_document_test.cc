// An export's document, written straight from its cells.
#include "sproxel_csv/csv_document.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace cubewright {
namespace {

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
