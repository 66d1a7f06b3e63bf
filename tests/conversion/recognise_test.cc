#include "conversion/recognise.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace cubewright {
namespace {

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

}  // namespace
}  // namespace cubewright
