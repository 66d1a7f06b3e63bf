// The POSIX output paths the end-to-end tests do not reach: links, devices,
// write and replace failures, ignored signals, and the texts of NaN.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "app/platform.h"
#include "app/run.h"
#include "support/files.h"
#include "text/format_number.h"

namespace cubewright {
namespace {

using cubewright_test::read_file;
using cubewright_test::scratch_folder;
using cubewright_test::write_file;

const std::string small_export = "2,1,1\n#ff8000ff,#00000000\n";

TEST(OutputFile, LinkedOutputReplacesTheFileTheLinkNames) {
  scratch_folder folder;
  write_file(folder / "in.csv", small_export);
  write_file(folder / "model.xml", cubewright_test::old_document);
  ASSERT_EQ(symlink("model.xml", (folder / "relative.xml").c_str()), 0);
  ASSERT_EQ(symlink((folder / "relative.xml").c_str(), (folder / "absolute.xml").c_str()), 0);

  ASSERT_EQ(run_conversion({folder / "in.csv", folder / "absolute.xml"}), 0);

  struct stat status {};
  ASSERT_EQ(lstat((folder / "absolute.xml").c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  ASSERT_EQ(lstat((folder / "relative.xml").c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  EXPECT_EQ(read_file(folder / "model.xml").substr(0, 17), "<model>\n<voxels>\n");
  EXPECT_EQ(folder.entry_count(), 4);  // no temporary file left beside them
}

TEST(OutputFile, DeviceIsWrittenIntoNotReplaced) {
  scratch_folder folder;
  write_file(folder / "in.csv", small_export);
  EXPECT_EQ(run_conversion({folder / "in.csv", "/dev/null"}), 0);
  struct stat status {};
  ASSERT_EQ(stat("/dev/null", &status), 0);
  EXPECT_TRUE(S_ISCHR(status.st_mode));
}

TEST(OutputFile, FullDeviceFailsTheRun) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  scratch_folder folder;
  write_file(folder / "in.csv", small_export);
  EXPECT_EQ(run_conversion({folder / "in.csv", "/dev/full"}), 1);
}

TEST(OutputFile, DiscardRemovesTheTemporaryFileAndKeepsTheOldOne) {
  scratch_folder folder;
  write_file(folder / "model.xml", "old");
  output_file file;
  io_failure failure;
  ASSERT_TRUE(open_output_file(folder / "model.xml", file, failure));
  ASSERT_TRUE(write_output_file(file, "new", 3, failure));
  EXPECT_EQ(folder.entry_count(), 2);
  discard_output_file(file);
  discard_output_file(file);  // safe twice
  EXPECT_EQ(folder.entry_count(), 1);
  EXPECT_EQ(read_file(folder / "model.xml"), "old");
}

TEST(OutputFile, RoomSetAsideLeavesExactlyTheBytesWritten) {
  scratch_folder folder;
  // Past the first MiB, and then past several steps of room, in writes of
  // every size.
  std::string text;
  for (std::size_t i = 0; text.size() < (13 << 20) / 2; ++i) text += std::to_string(i * i) + ",";
  output_file file;
  io_failure failure;
  ASSERT_TRUE(open_output_file(folder / "out.csv", file, failure));
  for (std::size_t done = 0, step = 1; done < text.size(); done += step, step = step * 3 + 1) {
    step = std::min(step, text.size() - done);
    ASSERT_TRUE(write_output_file(file, text.data() + done, step, failure));
  }
  ASSERT_TRUE(commit_output_file(file, failure));
  EXPECT_TRUE(read_file(folder / "out.csv") == text);
  struct stat status {};
  ASSERT_EQ(stat((folder / "out.csv").c_str(), &status), 0);
  EXPECT_EQ(static_cast<std::size_t>(status.st_size), text.size());
  EXPECT_LT(static_cast<std::uint64_t>(status.st_blocks) * 512, text.size() + (1 << 20))
      << "room not written is given back";
}

TEST(OutputFile, FailedReplaceLeavesNoTemporaryFile) {
  scratch_folder folder;
  output_file file;
  io_failure failure;
  ASSERT_TRUE(open_output_file(folder / "model.xml", file, failure));
  // The target turns into a non-empty folder before the commit.
  ASSERT_EQ(mkdir((folder / "model.xml").c_str(), 0700), 0);
  write_file(folder / "model.xml" + "/inside", "");
  EXPECT_FALSE(commit_output_file(file, failure));
  EXPECT_EQ(failure.what, "cannot replace output");
  EXPECT_EQ(folder.entry_count(), 1);
}

TEST(OutputFile, SignalTheCallerIgnoresStaysIgnored) {
  // Handlers are installed by the first output of a process; CTest runs every
  // test in a process of its own.
  std::signal(SIGHUP, SIG_IGN);
  scratch_folder folder;
  write_file(folder / "in.csv", small_export);
  ASSERT_EQ(run_conversion({folder / "in.csv", folder / "out.xml"}), 0);
  EXPECT_EQ(std::signal(SIGHUP, SIG_DFL), SIG_IGN);
}

TEST(FormatNumber, NotANumberReadsAsTheCLibraryWritesIt) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (float value : {nan, -nan}) {
    char expected[16];
    std::snprintf(expected, sizeof expected, "%g", static_cast<double>(value));
    EXPECT_EQ(format_number(value), expected);
  }
  EXPECT_EQ(format_number(std::copysign(nan, -1.0f)), "-nan");
}

}  // namespace
}  // namespace cubewright
