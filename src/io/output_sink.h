// Where written bytes go, and the block that gathers them on the way there.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "memory/large_pages.h"

namespace cubewright {

/// Where a writer's bytes go. `write` is called with each full block and with
/// the rest at the end; it returns false when the bytes could not be stored,
/// and is then never called again for that output.
///
/// A sink that writes one block while the next is filled (on a thread of its
/// own) also lends its blocks, `block_size` bytes each, through `exchange`:
/// called with a null block it returns the first block to fill; called with
/// the block it lent last and the count of bytes filled in it, it takes those
/// bytes over and returns the next block. It returns null once the sink has
/// failed, and is then never called again. A writer uses `exchange` or
/// `write`, never both.
struct output_sink {
  void* context = nullptr;
  bool (*write)(void* context, const char* data, std::size_t size) = nullptr;
  char* (*exchange)(void* context, const char* filled, std::size_t size) = nullptr;
  std::size_t block_size = 0;
};

/// A sink that appends every byte to `text`, which must outlive it.
output_sink string_sink(std::string& text);

inline constexpr std::size_t default_block_size = std::size_t{1} << 20;

/// The block a writer fills before its bytes go to the sink: one the sink
/// lends when it lends large enough blocks, otherwise one of its own (in a
/// large page where it is large enough to be worth one). Moved, never
/// copied: `data` may point into `own`.
struct output_block {
  output_sink sink;
  std::vector<char, large_page_allocator<char>> own;
  char* data = nullptr;
  std::size_t size = 0;
  std::size_t used = 0;
  bool failed = false;
};

/// A block for lines of at most `line_limit` bytes: the sink's, or
/// `block_size` bytes (at least `line_limit`) of its own.
output_block open_output_block(output_sink sink, std::size_t block_size, std::size_t line_limit);

/// Hands the filled bytes to the sink and starts the block again empty. Once
/// the sink has failed, `failed` stays set and bytes are dropped.
void flush_output_block(output_block& block);

/// Where the next `size` bytes go, `size` at most the `line_limit` the block
/// was opened with. The caller advances `used` by what it wrote.
inline char* reserve_output(output_block& block, std::size_t size) {
  if (block.size - block.used < size) flush_output_block(block);
  return block.data + block.used;
}

}  // namespace cubewright
