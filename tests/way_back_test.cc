// The real executable with options: the way back to the editors, and the
// guard that keeps a model from being replaced by the wrong kind of file.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/process.h"

namespace {

using cubewright_test::native_document;
using cubewright_test::process_result;
using cubewright_test::read_file;
using cubewright_test::scratch_folder;
using cubewright_test::write_file;

process_result run(const std::vector<std::string>& arguments) {
  return cubewright_test::run_process(CUBEWRIGHT_EXE, arguments);
}

std::string test_data(const std::string& name) {
  return std::string(CUBEWRIGHT_TEST_DATA) + "/" + name;
}

std::string example(const std::string& name) {
  return std::string(CUBEWRIGHT_EXAMPLES) + "/" + name;
}

// One line on standard error that begins with `start`, and exit 1.
void expect_refusal(const process_result& result, const std::string& start) {
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.standard_output, "");
  EXPECT_EQ(result.standard_error.rfind(start, 0), 0u) << result.standard_error;
  EXPECT_EQ(result.standard_error.find('\n'), result.standard_error.size() - 1)
      << result.standard_error;
}

// The offsets at the end of the line that --to csv prints.
std::vector<std::string> offsets_back(const std::string& said) {
  std::istringstream words(said.substr(said.find("OUT.xml") + 7));
  std::vector<std::string> offsets(3);
  words >> offsets[0] >> offsets[1] >> offsets[2];
  return offsets;
}

TEST(WayBack, ExportAndConvertBackGivesTheSameDocument) {
  scratch_folder folder;
  for (const std::vector<std::string>& placement :
       {std::vector<std::string>{}, std::vector<std::string>{"-6", "3", "11"}}) {
    std::vector<std::string> forward = {test_data("rgb.csv"), folder / "placed.xml"};
    forward.insert(forward.end(), placement.begin(), placement.end());
    ASSERT_EQ(run(forward).exit_status, 0);

    const process_result exported =
        run({"--to", "csv", folder / "placed.xml", folder / "back.csv"});
    ASSERT_EQ(exported.exit_status, 0) << exported.standard_error;
    EXPECT_EQ(
        exported.standard_output.rfind(
            "cubewright: wrote " + folder / "back.csv" + " (32 x 32 x 32 cells, 99 voxels); ", 0),
        0u)
        << exported.standard_output;

    std::vector<std::string> back = {folder / "back.csv", folder / "again.xml"};
    for (const std::string& offset : offsets_back(exported.standard_output)) {
      back.push_back(offset);
    }
    ASSERT_EQ(run(back).exit_status, 0);
    EXPECT_EQ(read_file(folder / "again.xml"), read_file(folder / "placed.xml"));
  }
}

TEST(WayBack, VerboseSaysWhatWasWritten) {
  scratch_folder folder;
  const process_result result =
      run({"-v", "--mirror", "x", example("rifle.csv"), folder / "out.xml"});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.standard_output, native_document("cubewright: wrote " + folder / "out.xml" +
                                                    ": 30 voxels, x -11..0 y 0..4 z 0..2\n"));
  EXPECT_EQ(result.standard_error, "");
}

TEST(WrongKind, SwappedArgumentsNeverDestroyAnExport) {
  scratch_folder folder;
  const std::string csv = read_file(example("rifle.csv"));
  write_file(folder / "rifle.csv", csv);
  write_file(folder / "rifle.xml", "<model>\n</model>\n");

  expect_refusal(
      run({folder / "rifle.xml", folder / "rifle.csv"}),
      "cubewright: will not replace " + folder / "rifle.csv" + ": it holds a sproxel CSV export");
  expect_refusal(
      run({"--to", "csv", folder / "rifle.csv", folder / "rifle.xml"}),
      "cubewright: will not replace " + folder / "rifle.xml" + ": it holds a model document");
  EXPECT_EQ(read_file(folder / "rifle.csv"), csv);
  EXPECT_EQ(read_file(folder / "rifle.xml"), "<model>\n</model>\n");
  EXPECT_EQ(folder.entry_count(), 2);

  // The input itself may be converted in place, however it is named.
  ASSERT_EQ(run({folder / "rifle.csv", folder / "./rifle.csv"}).exit_status, 0);
  EXPECT_EQ(read_file(folder / "rifle.csv"),
            read_file(example("rifle.xml")).size() == 0
                ? ""
                : native_document(read_file(example("rifle.xml"))));
  // Any other file is replaced as before.
  write_file(folder / "notes.txt", "12,5\n");
  EXPECT_EQ(run({example("rifle.csv"), folder / "notes.txt"}).exit_status, 0);
}

TEST(WrongKind, BinaryInputIsRefused) {
  scratch_folder folder;
  write_file(folder / "image.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
  write_file(folder / "out.xml", "kept");
  expect_refusal(run({folder / "image.png", folder / "out.xml"}),
                 "cubewright: cannot read input: " + folder / "image.png" + ": ");
  EXPECT_EQ(read_file(folder / "out.xml"), "kept");
}

TEST(Options, ErrorsHelpAndVersion) {
  expect_refusal(run({"--frobnicate", "a.csv", "b.xml"}),
                 "cubewright: unknown option '--frobnicate' (put -- before");
  expect_refusal(run({"--to", "obj", "a.csv", "b.xml"}), "cubewright: unknown format 'obj'");

  const process_result version = run({"--version"});
  EXPECT_EQ(version.exit_status, 0);
  EXPECT_EQ(version.standard_output.rfind("cubewright 0.", 0), 0u);
  const process_result help = run({"--help"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_NE(help.standard_output.find("--to FORMAT"), std::string::npos);
  EXPECT_EQ(help.standard_output.rfind("cubewright v0.1 - ", 0), 0u);
}

}  // namespace
