// The writing thread's sink: bytes in order whatever the block sizes, the
// first refused block ends the writing, the caller is never left waiting,
// and a block is never filled while it is being written.
#include "io/threaded_sink.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "io/output_sink.h"

namespace cubewright {
namespace {

// A target that keeps what it takes, refuses its `refuse_at`-th call (from
// 1; 0: never) and may dawdle, so that the caller runs ahead.
struct recording_target {
  std::string bytes;
  int calls = 0;
  int refuse_at = 0;
  bool slow = false;
};

bool record(void* context, const char* data, std::size_t size) {
  auto& target = *static_cast<recording_target*>(context);
  if (++target.calls == target.refuse_at) return false;
  if (target.slow) std::this_thread::sleep_for(std::chrono::microseconds(300));
  target.bytes.append(data, size);
  return true;
}

output_sink sink_to(recording_target& target) {
  output_sink sink;
  sink.context = &target;
  sink.write = &record;
  return sink;
}

// Text that shows any byte out of place: every piece numbers itself.
std::string piece(int index, std::size_t size) {
  std::string text = std::to_string(index) + ":";
  while (text.size() < size) {
    text += static_cast<char>('a' + (static_cast<std::size_t>(index) + text.size()) % 26);
  }
  text.resize(size);
  return text;
}

// Writes `count` pieces of varying size, as a writer does: through a block
// (lent, when the sink lends) or through `write` directly. Returns what was
// offered and whether every step was accepted.
struct produced {
  std::string bytes;
  bool accepted = true;
};

produced produce(output_sink sink, bool through_block, int count) {
  produced out;
  output_block block = open_output_block(sink, 64, 40);
  for (int i = 0; i < count; ++i) {
    const std::string text = piece(i, 1 + static_cast<std::size_t>(i * 7) % 40);
    out.bytes += text;
    if (through_block) {
      std::memcpy(reserve_output(block, text.size()), text.data(), text.size());
      block.used += text.size();
    } else if (out.accepted) {
      out.accepted = sink.write(sink.context, text.data(), text.size());
    }
  }
  if (through_block) {
    flush_output_block(block);
    out.accepted = !block.failed;
  }
  return out;
}

struct sink_case {
  bool use_thread;
  bool through_block;
  std::size_t block_size;
  std::size_t block_count;
  bool slow;
};

const sink_case cases[] = {
    {true, true, 64, 2, false},  {true, true, 64, 3, true},    {true, true, 4096, 3, false},
    {true, false, 1, 2, false},  {true, false, 50, 3, true},   {true, false, 1000, 2, false},
    {false, true, 64, 3, false}, {false, false, 64, 3, false},
};

std::string describe(const sink_case& c) {
  return std::string(c.use_thread ? "thread" : "in turn") +
         (c.through_block ? ", lent blocks" : ", copied writes") + ", blocks of " +
         std::to_string(c.block_size) + " x " + std::to_string(c.block_count) +
         (c.slow ? ", slow target" : "");
}

TEST(ThreadedSink, TargetGetsEveryByteInOrder) {
  for (const sink_case& c : cases) {
    SCOPED_TRACE(describe(c));
    recording_target target;
    target.slow = c.slow;
    threaded_sink sink;
    EXPECT_EQ(start_threaded_sink(sink, sink_to(target), c.use_thread, c.block_size, c.block_count),
              c.use_thread);
    const output_sink lent = sink_of(sink);
    EXPECT_EQ(lent.exchange != nullptr, c.use_thread);
    // Blocks of a byte hand over every byte: fewer pieces keep it quick.
    const produced out = produce(lent, c.through_block, c.slow || c.block_size < 8 ? 300 : 3000);
    EXPECT_TRUE(out.accepted);
    EXPECT_TRUE(finish_threaded_sink(sink));
    EXPECT_TRUE(target.bytes == out.bytes);
    EXPECT_TRUE(finish_threaded_sink(sink)) << "finishing twice changes nothing";
  }
}

TEST(ThreadedSink, FirstRefusedBlockEndsTheWritingWithoutWaitingForever) {
  for (const sink_case& c : cases) {
    for (const int refuse_at : {1, 2, 5}) {
      SCOPED_TRACE(describe(c) + ", refusing call " + std::to_string(refuse_at));
      recording_target target;
      target.slow = c.slow;
      target.refuse_at = refuse_at;
      threaded_sink sink;
      start_threaded_sink(sink, sink_to(target), c.use_thread, c.block_size, c.block_count);
      // Far more than the blocks can hold: the caller goes on after the
      // failure and must neither wait for a block nor reach the target.
      const produced out = produce(sink_of(sink), c.through_block, 2000);
      EXPECT_FALSE(out.accepted);
      EXPECT_FALSE(finish_threaded_sink(sink));
      EXPECT_EQ(target.calls, refuse_at) << "nothing reaches the target after its failure";
      EXPECT_EQ(out.bytes.compare(0, target.bytes.size(), target.bytes), 0)
          << "what was taken is a beginning of what was written";
    }
  }
}

TEST(ThreadedSink, BlockBeingWrittenIsNeverLentAgain) {
  // Every block is filled with one byte value, which the target checks
  // while it dawdles over the block: a block lent again too early shows.
  struct checking_target {
    int blocks = 0;
    int torn = 0;
  } target;
  output_sink check;
  check.context = &target;
  check.write = [](void* context, const char* data, std::size_t size) {
    auto& t = *static_cast<checking_target*>(context);
    const char first = data[0];
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    for (std::size_t i = 0; i < size; ++i) t.torn += data[i] != first;
    ++t.blocks;
    return true;
  };
  for (const std::size_t block_count : {2u, 3u}) {
    SCOPED_TRACE(block_count);
    target = {};
    threaded_sink sink;
    ASSERT_TRUE(start_threaded_sink(sink, check, true, 256, block_count));
    const output_sink lent = sink_of(sink);
    char* block = lent.exchange(lent.context, nullptr, 0);
    for (int i = 0; i < 200 && block != nullptr; ++i) {
      std::memset(block, 'A' + i % 26, 256);
      block = lent.exchange(lent.context, block, 256);
    }
    EXPECT_TRUE(finish_threaded_sink(sink));
    EXPECT_EQ(target.blocks, 200);
    EXPECT_EQ(target.torn, 0);
  }
}

TEST(ThreadedSink, LeftRunningItFinishesWhenItGoes) {
  recording_target target;
  std::string offered;
  {
    threaded_sink sink;
    start_threaded_sink(sink, sink_to(target), true, 64, 2);
    offered = produce(sink_of(sink), false, 100).bytes;
  }
  EXPECT_TRUE(target.bytes == offered);
}

}  // namespace
}  // namespace cubewright
