#include "conversion/fit.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace cubewright {
namespace {

cell_bounds box(std::int64_t x0, std::int64_t x1, std::int64_t y0, std::int64_t y1, std::int64_t z0,
                std::int64_t z1) {
  cell_bounds b;
  b.empty = false;
  b.min[0] = x0;
  b.max[0] = x1;
  b.min[1] = y0;
  b.max[1] = y1;
  b.min[2] = z0;
  b.max[2] = z1;
  return b;
}

// Each rule on each axis, the model's and the target's boxes odd and even
// in size, on both sides of zero: a centre that falls between two cells
// goes to the lower one.
TEST(FitOffsets, EachRuleOnEachAxisWithOddAndEvenBoxes) {
  const struct {
    std::int64_t model_min, model_max, target_min, target_max;
    std::int64_t min, centre, max;
  } cases[] = {
      // odd onto odd: centres meet exactly
      {0, 2, 10, 14, 10, 11, 12},
      // even onto odd: half a cell apart, floor
      {0, 3, 10, 14, 10, 10, 11},
      // odd onto even
      {0, 2, 10, 13, 10, 10, 11},
      // even onto even
      {-4, -1, 6, 9, 10, 10, 10},
      // below zero, the floor is downward
      {5, 8, -3, -1, -8, -9, -9},
      {0, 0, -1, 0, -1, -1, 0},
      // the same box: nothing moves
      {-7, 3, -7, 3, 0, 0, 0},
  };
  for (const auto& c : cases) {
    for (int axis = 0; axis < 3; ++axis) {
      cell_bounds model = box(0, 0, 0, 0, 0, 0);
      cell_bounds target = box(0, 0, 0, 0, 0, 0);
      model.min[axis] = c.model_min;
      model.max[axis] = c.model_max;
      target.min[axis] = c.target_min;
      target.max[axis] = c.target_max;
      const fit_rule rules[] = {fit_rule::min, fit_rule::centre, fit_rule::max};
      const std::int64_t expected[] = {c.min, c.centre, c.max};
      for (int r = 0; r < 3; ++r) {
        fit_rules chosen;
        chosen.axis[axis] = rules[r];
        const std::array<std::int64_t, 3> offsets = fit_offsets(model, target, chosen);
        EXPECT_EQ(offsets[static_cast<std::size_t>(axis)], expected[r])
            << "axis " << axis << " rule " << r << " model " << c.model_min << ".." << c.model_max
            << " target " << c.target_min << ".." << c.target_max;
      }
    }
  }
}

TEST(FitRules, DefaultsNamesAndTheirSpelling) {
  fit_rules rules;
  EXPECT_EQ(describe(rules), "x centre, y bottom, z centre");
  ASSERT_TRUE(read_fit_rules("y=top,x=min", rules));
  EXPECT_EQ(describe(rules), "x min, y top, z centre");
  ASSERT_TRUE(read_fit_rules("z=max,y=center", rules));
  EXPECT_EQ(describe(rules), "x min, y centre, z max");
  ASSERT_TRUE(read_fit_rules("y=bottom", rules));
  EXPECT_EQ(describe(rules), "x min, y bottom, z max");
  for (const char* wrong : {"", "x", "x=", "w=min", "x=mid", "x=min,", ",x=min", "x=min,x=max",
                            "x=top", "X=min", "x = min", "x=min;y=max"}) {
    fit_rules kept;
    EXPECT_FALSE(read_fit_rules(wrong, kept)) << wrong;
    EXPECT_EQ(describe(kept), "x centre, y bottom, z centre") << wrong;
  }
}

const std::string target_document =
    "<model><voxels>\n"
    "<voxel x=\"10\" y=\"-2\" z=\"4\" r=\"1\" g=\"0\" b=\"0\" a=\"1.0\" />\n"
    "<voxel x=\"14\" y=\"3\" z=\"5\" r=\"1\" g=\"0\" b=\"0\" a=\"1.0\" />\n"
    "</voxels></model>\n";

// x 0..2 (filled at 0 and 2), y 0..1, z 0.
const std::string small_export =
    "3,2,1\n#ff0000ff,#00000000,#00ff00ff\n\n#0000ffff,#00000000,#00000000\n";

TEST(FitPlacement, MirrorsFirstThenFitsThenNudges) {
  model_placement placement;
  fitted_placement fitted = fit_placement(small_export, "in.csv", target_document, "old.xml",
                                          placement, fit_rules(), output_format::xml);
  ASSERT_TRUE(fitted.ok) << fitted.failure;
  // x 0..2 onto 10..14: 11; y 0 onto -2: -2; z 0..0 onto 4..5: 4.
  EXPECT_EQ(fitted.said, "fitted to old.xml (x centre, y bottom, z centre): offsets 11 -2 4");
  // Mirrored in x the export covers -2..0, and the nudge adds to the fit.
  placement = {1, 0, -1, -1.0f, 1.0f, 1.0f};
  fitted = fit_placement(small_export, "in.csv", target_document, "old.xml", placement, fit_rules(),
                         output_format::csv);
  ASSERT_TRUE(fitted.ok) << fitted.failure;
  EXPECT_EQ(fitted.offsets[0], 13 + 1);
  EXPECT_EQ(fitted.offsets[1], -2);
  EXPECT_EQ(fitted.offsets[2], 4 - 1);
  EXPECT_EQ(fitted.said, "fitted to old.xml (x centre, y bottom, z centre): offsets 14 -2 3");
}

TEST(FitPlacement, RefusesWhatCannotBeFitted) {
  const std::string empty_document = "<model><voxels></voxels></model>\n";
  const std::string empty_export = "1,1,1\n#00000000\n";
  const struct {
    std::string input;
    std::string target;
    model_placement placement;
    output_format format;
    std::string failure;
  } cases[] = {
      {small_export,
       empty_document,
       {},
       output_format::xml,
       "cannot fit to old.xml: it holds no voxel"},
      {empty_export,
       target_document,
       {},
       output_format::xml,
       "cannot fit in.csv to old.xml: it holds no voxel"},
      {small_export,
       "<model><voxels><voxel x=\"1\"",
       {},
       output_format::xml,
       "cannot read the model to fit to: old.xml:"},
      {small_export,
       std::string("1,1,1\n#ff\0", 10),
       {},
       output_format::xml,
       "cannot read the model to fit to: old.xml: holds NUL bytes"},
      {"3\n", target_document, {}, output_format::xml, "cannot read grid size: in.csv:"},
      {small_export,
       target_document,
       {999990, 0, 0, 1.0f, 1.0f, 1.0f},
       output_format::xml,
       "cannot fit in.csv to old.xml: it would reach x 1000001, which a model document cannot "
       "hold exactly (-999999..999999)"},
      {small_export,
       target_document,
       {2147483647, 0, 0, 1.0f, 1.0f, 1.0f},
       output_format::csv,
       "cannot fit in.csv to old.xml: it would reach x 2147483658, past the 32-bit cells of CSV "
       "and .vox"},
  };
  for (const auto& c : cases) {
    const fitted_placement fitted =
        fit_placement(c.input, "in.csv", c.target, "old.xml", c.placement, fit_rules(), c.format);
    EXPECT_FALSE(fitted.ok) << c.failure;
    EXPECT_EQ(fitted.failure.rfind(c.failure, 0), 0u) << fitted.failure;
  }
  // Within a document's reach, the same nudge is fine.
  EXPECT_TRUE(fit_placement(small_export, "in.csv", target_document, "old.xml",
                            {999980, 0, 0, 1.0f, 1.0f, 1.0f}, fit_rules(), output_format::xml)
                  .ok);
}

}  // namespace
}  // namespace cubewright
