// The real executable on real files.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/options.h"
#include "conversion/convert.h"
#include "sproxel_csv/csv_document.h"
#include "support/files.h"
#include "support/process.h"

namespace cubewright {
namespace {

using cubewright_test::example;
using cubewright_test::file_exists;
using cubewright_test::native_document;
using cubewright_test::process_result;
using cubewright_test::read_file;
using cubewright_test::scratch_folder;
using cubewright_test::test_data;
using cubewright_test::write_file;
const auto run = cubewright_test::run_cubewright;

// A conversion must say nothing and exit 0.
void expect_quiet_success(const process_result& result) {
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.standard_output, "");
  EXPECT_EQ(result.standard_error, "");
}

// A failure is one line on standard error naming what failed and the path.
void expect_failure(const process_result& result, const std::string& what,
                    const std::string& path) {
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.standard_output, "");
  const std::string& message = result.standard_error;
  const std::string start = "cubewright: " + what + ": " + path + ": ";
  EXPECT_EQ(message.substr(0, start.size()), start) << message;
  EXPECT_GT(message.size(), start.size() + 1) << "no reason given: " << message;
  ASSERT_FALSE(message.empty());
  EXPECT_EQ(message.find('\n'), message.size() - 1) << message;
}

const char* const small_model =
    "3,2,1\n#ff0000ff,#00000000,#00ff00ff\n\n#0000ffff,#000000ff,#00000000\n";

// The usage text, as the tool has always printed it (a double-clicked exe
// shows it too): its golden copy was checked by hand, descriptions in
// column 18, the "e.g. " line with its trailing blank.
TEST(EndToEnd, UsageWithFewerThanTwoArguments) {
  const std::string expected = read_file(test_data("usage.txt"));
  scratch_folder folder;
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{}, std::vector<std::string>{"--lenient", folder / "in.csv"}}) {
    const process_result result = run(arguments);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.standard_output, native_document(expected));
    EXPECT_EQ(result.standard_error, "");
  }
  // Read strictly, an input without its output is a mistake, not a request
  // for the usage text.
  const process_result forgotten = run({folder / "in.csv"});
  EXPECT_EQ(forgotten.exit_status, 1);
  EXPECT_EQ(forgotten.standard_output, "");
  EXPECT_EQ(forgotten.standard_error,
            native_document("cubewright: no output given for " + folder / "in.csv" +
                            ": cubewright INPUT OUTPUT (cubewright --help shows how)\n"));
  EXPECT_EQ(folder.entry_count(), 0);
}

TEST(EndToEnd, ConvertsTheBundledExample) {
  scratch_folder folder;
  const std::string output = folder / "rifle.xml";
  expect_quiet_success(run({example("rifle.csv"), output}));
  EXPECT_EQ(read_file(output), native_document(read_file(example("rifle.xml"))));
}

TEST(EndToEnd, ConvertsARealExport) {
  scratch_folder folder;
  const std::string output = folder / "rgb.xml";
  expect_quiet_success(run({test_data("rgb.csv"), output}));
  EXPECT_EQ(read_file(output), native_document(read_file(test_data("rgb.xml"))));
}

TEST(EndToEnd, OffsetsAndMirrorSwitchesFromTheCommandLine) {
  scratch_folder folder;
  write_file(folder / "in.csv", small_model);
  const std::string output = folder / "out.xml";
  const struct {
    std::vector<std::string> extra;
    model_placement placement;
  } cases[] = {
      {{"4", "-2", "0", "flip"}, {4, -2, 0, -1, 1, 1}},
      {{"4", "-2", "0", "0"}, {4, -2, 0, -1, 1, 1}},
      {{"2.9", "x", " -1", "", ""}, {2, 0, -1, -1, -1, 1}},
      {{"0", "0", "0", "a", "b", "c", "ignored"}, {0, 0, 0, -1, -1, -1}},
      {{"99999999999", "-99999999999"}, {2147483647, -2147483647 - 1, 0, 1, 1, 1}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> arguments = {"--lenient", folder / "in.csv", output};
    arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
    expect_quiet_success(run(arguments));
    EXPECT_EQ(read_file(output), native_document(*export_to_document(small_model, c.placement)));
  }
  // Read strictly, whole numbers and words that mirror give the same model;
  // the rest is refused in one line and nothing is written.
  for (const auto& c : {cases[0], cases[3]}) {
    std::vector<std::string> arguments = {folder / "in.csv", folder / "strict.xml"};
    arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
    expect_quiet_success(run(arguments));
    EXPECT_EQ(read_file(folder / "strict.xml"),
              native_document(*export_to_document(small_model, c.placement)));
  }
  for (const auto& c : {cases[1], cases[2], cases[4]}) {
    std::vector<std::string> arguments = {folder / "in.csv", folder / "refused.xml"};
    arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
    const process_result result = run(arguments);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.standard_output, "");
    EXPECT_EQ(std::count(result.standard_error.begin(), result.standard_error.end(), '\n'), 1);
    EXPECT_FALSE(cubewright_test::file_exists(folder / "refused.xml"));
  }
}

TEST(EndToEnd, CrLfInputGivesTheSameDocument) {
  scratch_folder folder;
  std::string crlf;
  for (const char* c = small_model; *c != '\0'; ++c)
    crlf += *c == '\n' ? "\r\n" : std::string(1, *c);
  write_file(folder / "lf.csv", small_model);
  write_file(folder / "crlf.csv", crlf);
  expect_quiet_success(run({folder / "lf.csv", folder / "lf.xml"}));
  expect_quiet_success(run({folder / "crlf.csv", folder / "crlf.xml"}));
  EXPECT_EQ(read_file(folder / "crlf.xml"), read_file(folder / "lf.xml"));
}

TEST(EndToEnd, ConvertsInPlace) {
  scratch_folder folder;
  const std::string path = folder / "model.csv";
  write_file(path, small_model);
  expect_quiet_success(run({path, path}));
  EXPECT_EQ(read_file(path), native_document(*export_to_document(small_model, {})));
  EXPECT_EQ(folder.entry_count(), 1);
}

TEST(EndToEnd, ReplacesAnExistingOutputWhole) {
  scratch_folder folder;
  write_file(folder / "in.csv", "1,1,1,#00000000");
  write_file(folder / "out.xml", cubewright_test::old_document + std::string(100000, '\n'));
  expect_quiet_success(run({folder / "in.csv", folder / "out.xml"}));
  EXPECT_EQ(read_file(folder / "out.xml"), native_document(*export_to_document("1,1,1", {})));
}

TEST(EndToEnd, UnreadableInputFailsBeforeAnyOutput) {
  scratch_folder folder;
  const std::string output = folder / "out.xml";
  expect_failure(run({folder / "missing.csv", output}), "cannot open input",
                 folder / "missing.csv");
  EXPECT_FALSE(file_exists(output));

  const process_result directory = run({folder.path, output});
  EXPECT_EQ(directory.exit_status, 1);
  EXPECT_EQ(directory.standard_error.rfind("cubewright: cannot ", 0), 0u)
      << directory.standard_error;
  EXPECT_FALSE(file_exists(output));
}

TEST(EndToEnd, TooFewFieldsKeepAnExistingOutput) {
  scratch_folder folder;
  const std::string output = folder / "out.xml";
  write_file(output, "precious");
  for (const char* text : {"", "3,3\n", ",,\r\n"}) {
    write_file(folder / "in.csv", text);
    expect_failure(run({"--lenient", folder / "in.csv", output}), "cannot read grid size",
                   folder / "in.csv");
    EXPECT_EQ(read_file(output), "precious");
    const process_result strict = run({folder / "in.csv", output});
    EXPECT_EQ(strict.exit_status, 1);
    EXPECT_EQ(strict.standard_error.rfind("cubewright: cannot read input: " + folder / "in.csv", 0),
              0u);
    EXPECT_NE(strict.standard_error.find(": not a sproxel CSV export: the header must be three "
                                         "whole numbers (X,Y,Z), found the end of the file"),
              std::string::npos)
        << strict.standard_error;
    EXPECT_EQ(read_file(output), "precious");
  }
  EXPECT_EQ(folder.entry_count(), 2);
}

TEST(EndToEnd, UnwritableOutputFailsAndLeavesNothing) {
  scratch_folder folder;
  write_file(folder / "in.csv", small_model);
  const std::string missing_folder_output = folder / "no such folder/out.xml";
  expect_failure(run({folder / "in.csv", missing_folder_output}), "cannot create output",
                 missing_folder_output);

  const std::string directory_output = folder / "existing folder";
  cubewright_test::make_folder(directory_output);
  write_file(directory_output + "/inside.txt", "kept");
  expect_failure(run({folder / "in.csv", directory_output}), "cannot create output",
                 directory_output);
  EXPECT_EQ(read_file(directory_output + "/inside.txt"), "kept");
  EXPECT_EQ(folder.entry_count(), 2);
}

}  // namespace
}  // namespace cubewright
