// A sink that writes on a thread of its own while the caller fills the next
// block, so that formatting and the system's copy of the bytes overlap.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "io/output_sink.h"

namespace cubewright {

/// The blocks between the caller and the writing thread: a fixed ring of
/// `block_count` blocks of `block_size` bytes, handed to the target in the
/// order they were filled. The first block the target refuses stops the
/// writing: nothing more reaches the target, and the caller's next exchange
/// or write fails at once. Not to be copied or moved while started.
struct threaded_sink {
  output_sink target;
  std::size_t block_size = 0;
  std::size_t block_count = 0;
  // The blocks, one after another, left unfilled, in large pages: only pages
  // written are touched.
  std::unique_ptr<char, void (*)(void*)> storage{nullptr, std::free};
  std::vector<std::size_t> filled_sizes;  // per block, set when handed over
  std::thread writer;
  bool threaded = false;  // false: every block is written on the caller's thread

  std::mutex lock;
  std::condition_variable changed;
  std::size_t handed = 0;   // blocks handed over so far
  std::size_t written = 0;  // blocks the target took so far
  bool failed = false;
  bool closing = false;

  // For callers that write rather than exchange: the block being filled.
  char* current = nullptr;
  std::size_t current_used = 0;

  threaded_sink() = default;
  threaded_sink(const threaded_sink&) = delete;
  threaded_sink& operator=(const threaded_sink&) = delete;
  ~threaded_sink();  // finishes, if the caller has not
};

inline constexpr std::size_t threaded_block_count = 3;

/// Starts writing to `target`, on a thread of its own when `use_thread` and
/// a thread can be started, on the caller's thread otherwise (the same
/// bytes, in turn with the formatting). True when the thread runs.
bool start_threaded_sink(threaded_sink& sink, output_sink target, bool use_thread,
                         std::size_t block_size = default_block_size,
                         std::size_t block_count = threaded_block_count);

/// The sink the caller writes to; it lends the blocks described above.
output_sink sink_of(threaded_sink& sink);

/// Hands over what is left, waits until the target has taken it and stops
/// the thread. True when the target took every byte. Must be called once
/// after start_threaded_sink, also when the conversion failed.
bool finish_threaded_sink(threaded_sink& sink);

}  // namespace cubewright
