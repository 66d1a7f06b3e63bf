// The executable's strict reading against --lenient, --each and the asking
// before an output is replaced.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/process.h"

namespace {

using cubewright_test::example;
using cubewright_test::file_exists;
using cubewright_test::native_document;
using cubewright_test::old_document;
using cubewright_test::process_result;
using cubewright_test::read_file;
using cubewright_test::scratch_folder;
using cubewright_test::write_file;
const auto run = cubewright_test::run_cubewright;

std::size_t lines_of(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// A refusal: exit 1, one line on standard error holding `said`, nothing on
// standard output.
void expect_refused(const process_result& result, const std::string& said) {
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.standard_output, "");
  EXPECT_EQ(lines_of(result.standard_error), 1u) << result.standard_error;
  EXPECT_EQ(result.standard_error.rfind("cubewright: ", 0), 0u) << result.standard_error;
  EXPECT_NE(result.standard_error.find(said), std::string::npos) << result.standard_error;
}

// What the old reading made a model of is refused, and written nowhere;
// --lenient still converts it as it always did.
TEST(Strict, WhatIsNoExportIsRefusedAndLenientReadsItAnyway) {
  scratch_folder folder;
  const struct {
    const char* name;
    std::string text;
    const char* said;
  } inputs[] = {
      {"notes.csv", "Notes on the rifle\n3,1,1\n",
       ":1:1: not a sproxel CSV export: the header must "
       "be three whole numbers (X,Y,Z), found \"Notes on"},
      {"sheet.csv", "Name;Size\nrifle;3,1,1,2\n", ":1:1: not a sproxel CSV export"},
      {"quoted.csv", "\"2\",\"1\",\"1\"\n\"#ff0000ff\",\"#00000000\"\n", ":1:1: "},
      {"bad hex.csv", "2,1,1\n#ff0000ff,#GG0000FF\n",
       ":2:11: not a sproxel CSV export: a cell "
       "must be # and 8 hex digits, found "
       "\"#GG0000FF\""},
      {"short.csv", "2,2,2\n#ff0000ff,#00000000\n",
       "the export ends after 2 of 8 cells (cut short?)"},
      {"long.csv", "1,1,1\n#ff0000ff,#ff0000ff\n", "the export holds more than its 1 cells"},
      {"signed.csv", "2,1,-1\n#ff0000ff,#00000000\n", "the header must be three whole numbers"},
      {"noise.csv", "\x17\xc3\x91x,9\xfe?,\x01\x7f,,\x02", "found \"\\x17\\xC3\\x91x\""},
  };
  for (const auto& input : inputs) {
    SCOPED_TRACE(input.name);
    write_file(folder / input.name, input.text);
    const std::string output = folder / "out.xml";
    expect_refused(run({folder / input.name, output}),
                   "cubewright: cannot read input: " + folder / input.name);
    expect_refused(run({folder / input.name, output}), input.said);
    EXPECT_FALSE(file_exists(output));
    const process_result lenient = run({folder / input.name, output, "--lenient"});
    EXPECT_EQ(lenient.exit_status, 0) << lenient.standard_error;
    EXPECT_TRUE(file_exists(output));
    std::remove(output.c_str());
  }
}

TEST(Strict, PositionsADocumentCannotHoldExactlyAreRefused) {
  scratch_folder folder;
  write_file(folder / "in.csv", "3,1,1\n#ff0000ff,#00000000,#0000ffff\n");
  expect_refused(run({folder / "in.csv", folder / "far.xml", "1234567"}),
                 "x positions include 1234567, which a model document cannot hold exactly");
  expect_refused(run({folder / "in.csv", folder / "far.xml", "-999999", "0", "0", "flip"}),
                 "x positions include -1000001");
  EXPECT_FALSE(file_exists(folder / "far.xml"));
  // Only filled cells count: the empty one would be 1000001.
  write_file(folder / "two.csv", "2,1,1\n#ff0000ff,#00000000\n");
  ASSERT_EQ(run({folder / "two.csv", folder / "exact.xml", "1000000", "1000000"}).exit_status, 0);
  EXPECT_NE(read_file(folder / "exact.xml").find("<voxel x=\"1e+06\" y=\"1e+06\""),
            std::string::npos);
  // The same for a document or a .vox placed far: refused once a voxel
  // would be rounded, written when each is exact.
  ASSERT_EQ(run({"--to", "vox", example("rifle.xml"), folder / "rifle.vox"}).exit_status, 0);
  for (const std::string& model : {example("rifle.xml"), folder / "rifle.vox"}) {
    expect_refused(run({model, folder / "far.xml", "0", "-1999999"}), "y positions include -");
    EXPECT_FALSE(file_exists(folder / "far.xml"));
    EXPECT_EQ(run({model, folder / "near.xml", "-999980", "999990"}).exit_status, 0);
  }
  const process_result lenient =
      run({"--lenient", folder / "in.csv", folder / "far.xml", "1234567"});
  EXPECT_EQ(lenient.exit_status, 0);
  EXPECT_NE(read_file(folder / "far.xml").find("x=\"1.23457e+06\""), std::string::npos);
}

TEST(Strict, EachConvertsEveryFileBesideItselfAndGoesOnAfterAFailure) {
  scratch_folder folder;
  write_file(folder / "rifle.csv", read_file(example("rifle.csv")));
  write_file(folder / "broken.csv", "not an export\n");
  write_file(folder / "placed.xml", read_file(example("rifle.xml")));
  const process_result result =
      run({"--each", folder / "rifle.csv", folder / "broken.csv", folder / "placed.xml"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.standard_output, "");
  EXPECT_EQ(read_file(folder / "rifle.xml"), native_document(read_file(example("rifle.xml"))));
  EXPECT_FALSE(file_exists(folder / "broken.xml"));
  EXPECT_EQ(read_file(folder / "placed.vox").substr(0, 4), "VOX ");
  EXPECT_EQ(lines_of(result.standard_error), 4u) << result.standard_error;
  EXPECT_NE(result.standard_error.find("cubewright: converted " + folder / "placed.xml" + " to " +
                                       folder / "placed.vox"),
            std::string::npos);
  EXPECT_NE(result.standard_error.find("cubewright: 2 converted, 1 failed"), std::string::npos)
      << result.standard_error;

  // The .vox keeps the placement: back to a document, the same voxels.
  ASSERT_EQ(run({"--each", "--to", "xml", folder / "placed.vox"}).exit_status, 0);
  EXPECT_EQ(read_file(folder / "placed.xml").size(), read_file(folder / "rifle.xml").size());
}

// Two game documents dropped on the program: the second is never taken
// for the first one's output, and an existing output waits for a yes.
TEST(Strict, AskBeforeReplacingAnOutputOfTheSameKind) {
  scratch_folder folder;
  write_file(folder / "gun.csv", read_file(example("rifle.csv")));
  write_file(folder / "gun.xml", old_document);
  const std::vector<std::string> asked = {"--each", "--ask", folder / "gun.csv"};
  for (const std::string no : {"n\n", "\n", "", "no, yes\n"}) {
    const process_result kept = cubewright_test::run_process_with_input(CUBEWRIGHT_EXE, asked, no);
    EXPECT_EQ(kept.exit_status, 0);
    EXPECT_NE(kept.standard_error.find("gun.xml exists: replace it? [y/N]"), std::string::npos);
    EXPECT_NE(kept.standard_error.find("kept " + folder / "gun.xml" + " as it was"),
              std::string::npos);
    EXPECT_EQ(read_file(folder / "gun.xml"), old_document);
  }
  const process_result yes = cubewright_test::run_process_with_input(CUBEWRIGHT_EXE, asked, "y\n");
  EXPECT_EQ(yes.exit_status, 0) << yes.standard_error;
  EXPECT_EQ(read_file(folder / "gun.xml"), native_document(read_file(example("rifle.xml"))));
}

TEST(Strict, ReplacingARiggedDocumentSaysItsSkeletonGoes) {
  scratch_folder folder;
  write_file(folder / "rigged.xml",
             "<model>\n<voxels>\n</voxels>\n<skeleton>\n<bone name=\"arm\"/>\n</skeleton>\n"
             "<skeletonVoxelBindings />\n</model>\n");
  const process_result result = run({example("rifle.csv"), folder / "rigged.xml"});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.standard_error,
            native_document("cubewright: " + folder / "rigged.xml" +
                            " held a skeleton; the new model has none (keep a copy of the rigged "
                            "document to put it back)\n"));
  // An unrigged one is replaced without a word.
  EXPECT_EQ(run({example("rifle.csv"), folder / "rigged.xml"}).standard_error, "");
}

TEST(Strict, TheWayBackEndsTheOptionsBeforeANameThatLooksLikeOne) {
  // A name in the current folder, as a user types it.
  const std::string dashed = "-way-back-test.csv";
  const process_result result = run({"--to", "csv", example("rifle.xml"), "--", dashed});
  EXPECT_EQ(result.exit_status, 0) << result.standard_error;
  EXPECT_NE(result.standard_error.find("cubewright -- -way-back-test.csv OUT.xml "),
            std::string::npos)
      << result.standard_error;
  std::remove(dashed.c_str());
}

}  // namespace
