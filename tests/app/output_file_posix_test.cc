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
#include "memory/large_pages.h"
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
  write_file(folder / "model.xml", "old");
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

// The flags the system keeps for the mapping that holds `address`, from
// /proc/self/smaps; empty where there is none.
std::string mapping_flags(const void* address) {
  std::ifstream maps("/proc/self/smaps");
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  bool inside = false;
  std::string line;
  while (std::getline(maps, line)) {
    std::uintptr_t low = 0;
    std::uintptr_t high = 0;
    if (std::sscanf(line.c_str(), "%zx-%zx ", &low, &high) == 2) {
      inside = low <= at && at < high;
    } else if (inside && line.rfind("VmFlags:", 0) == 0) {
      return line;
    }
  }
  return "";
}

TEST(LargePages, AdviceCoversTheWholeLargePagesInsideAndKeepsTheBytes) {
  std::vector<unsigned char> block(5 * large_page_size + 123);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<unsigned char>(i * 7);
  // A block starting one byte on: the first whole large page inside it, and
  // the page before it, which the advice must leave alone.
  unsigned char* const data = block.data() + 1;
  const std::size_t size = block.size() - 1;
  const std::size_t offset = reinterpret_cast<std::uintptr_t>(data) % large_page_size;
  unsigned char* const first_page = data + (offset == 0 ? 0 : large_page_size - offset);
  for (const std::size_t tiny : {std::size_t{0}, std::size_t{1}, large_page_size - 1}) {
    advise_large_pages(data, tiny);
  }
  advise_large_pages(data, size);
  for (std::size_t i = 0; i < block.size(); ++i) {
    ASSERT_EQ(block[i], static_cast<unsigned char>(i * 7)) << i;
  }
  const std::string inside = mapping_flags(first_page);
  if (inside.empty()) GTEST_SKIP() << "no /proc/self/smaps";
  EXPECT_NE(inside.find(" hg"), std::string::npos) << inside;
  if (first_page > data) {
    EXPECT_EQ(mapping_flags(first_page - 1).find(" hg"), std::string::npos);
  }
}

TEST(LargePages, LargeBlocksStartAtALargePageAndAreAdvisedThroughout) {
  for (const std::size_t size :
       {min_large_page_block - 1, min_large_page_block, 2 * large_page_size + 5}) {
    std::vector<unsigned char, large_page_allocator<unsigned char>> bytes(size, 7);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 7), static_cast<std::ptrdiff_t>(size));
    if (size < min_large_page_block) continue;
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(bytes.data()) % large_page_size, 0u) << size;
    const std::string flags = mapping_flags(bytes.data() + size - 1);
    if (flags.empty()) GTEST_SKIP() << "no /proc/self/smaps";
    EXPECT_NE(flags.find(" hg"), std::string::npos) << size << ": " << flags;
  }
}

}  // namespace
}  // namespace cubewright
