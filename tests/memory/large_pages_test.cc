// Where large pages are asked for, as the system records it (Linux).
#include "memory/large_pages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace cubewright {
namespace {

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
