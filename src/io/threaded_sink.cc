#include "io/threaded_sink.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "memory/large_pages.h"
#include "threads/helper_thread.h"

namespace cubewright {
namespace {

char* block_at(threaded_sink& sink, std::size_t index) {
  return sink.storage.get() + (index % sink.block_count) * sink.block_size;
}

// The writing thread: blocks in the order they were handed over, until the
// caller is done or the target refuses one.
void write_blocks(threaded_sink* sink) {
  std::unique_lock<std::mutex> held(sink->lock);
  for (;;) {
    sink->changed.wait(held, [sink] { return sink->written != sink->handed || sink->closing; });
    if (sink->written == sink->handed) return;
    const std::size_t index = sink->written;
    const std::size_t size = sink->filled_sizes[index % sink->block_count];
    held.unlock();
    const bool took = sink->target.write(sink->target.context, block_at(*sink, index), size);
    held.lock();
    if (!took) {
      sink->failed = true;
      sink->changed.notify_one();
      return;
    }
    ++sink->written;
    sink->changed.notify_one();
  }
}

void hand_over(threaded_sink& sink, std::size_t size) {
  const std::lock_guard<std::mutex> held(sink.lock);
  if (sink.failed || size == 0) return;
  sink.filled_sizes[sink.handed % sink.block_count] = size;
  ++sink.handed;
  sink.changed.notify_one();
}

// The next block to fill, once the target has taken what it held; null
// after a failure.
char* free_block(threaded_sink& sink) {
  std::unique_lock<std::mutex> held(sink.lock);
  sink.changed.wait(
      held, [&sink] { return sink.failed || sink.handed - sink.written < sink.block_count; });
  return sink.failed ? nullptr : block_at(sink, sink.handed);
}

char* exchange_block(void* context, const char* filled, std::size_t size) {
  auto& sink = *static_cast<threaded_sink*>(context);
  if (filled != nullptr) hand_over(sink, size);
  return free_block(sink);
}

// For callers that write their own buffers: the bytes are copied into the
// lent blocks.
bool copy_into_blocks(void* context, const char* data, std::size_t size) {
  auto& sink = *static_cast<threaded_sink*>(context);
  while (size != 0) {
    if (sink.current == nullptr) {
      sink.current = free_block(sink);
      if (sink.current == nullptr) return false;
    }
    const std::size_t part = std::min(size, sink.block_size - sink.current_used);
    std::memcpy(sink.current + sink.current_used, data, part);
    sink.current_used += part;
    data += part;
    size -= part;
    if (sink.current_used == sink.block_size) {
      hand_over(sink, sink.current_used);
      sink.current = nullptr;
      sink.current_used = 0;
    }
  }
  return true;
}

// Without a thread: straight through to the target, remembering a failure.
bool write_through(void* context, const char* data, std::size_t size) {
  auto& sink = *static_cast<threaded_sink*>(context);
  if (!sink.failed) sink.failed = !sink.target.write(sink.target.context, data, size);
  return !sink.failed;
}

}  // namespace

bool start_threaded_sink(threaded_sink& sink, output_sink target, bool use_thread,
                         std::size_t block_size, std::size_t block_count) {
  sink.target = target;
  sink.block_size = std::max<std::size_t>(block_size, 1);
  sink.block_count = std::max<std::size_t>(block_count, 2);
  sink.handed = 0;
  sink.written = 0;
  sink.failed = false;
  sink.closing = false;
  sink.current = nullptr;
  sink.current_used = 0;
  sink.threaded = false;
  if (!use_thread) return false;
  sink.storage.reset(
      static_cast<char*>(allocate_in_large_pages(sink.block_size * sink.block_count)));
  if (sink.storage == nullptr) throw std::bad_alloc();
  sink.filled_sizes.assign(sink.block_count, 0);
  sink.writer = start_helper_thread([&sink] { write_blocks(&sink); });
  if (!sink.writer.joinable()) {
    sink.storage.reset();
    return false;
  }
  sink.threaded = true;
  return true;
}

output_sink sink_of(threaded_sink& sink) {
  output_sink lent;
  lent.context = &sink;
  if (!sink.threaded) {
    lent.write = &write_through;
    return lent;
  }
  lent.write = &copy_into_blocks;
  lent.exchange = &exchange_block;
  lent.block_size = sink.block_size;
  return lent;
}

bool finish_threaded_sink(threaded_sink& sink) {
  if (sink.threaded) {
    if (sink.current != nullptr) hand_over(sink, sink.current_used);
    sink.current = nullptr;
    sink.current_used = 0;
    {
      const std::lock_guard<std::mutex> held(sink.lock);
      sink.closing = true;
      sink.changed.notify_one();
    }
    sink.writer.join();
    sink.threaded = false;
  }
  return !sink.failed;
}

threaded_sink::~threaded_sink() { finish_threaded_sink(*this); }

}  // namespace cubewright
