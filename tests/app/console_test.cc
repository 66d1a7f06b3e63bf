// The decision to keep the console window open, on every platform: the
// Windows side only gathers the facts it is made from.
#include <gtest/gtest.h>

#include <cstddef>

#include "app/platform.h"

namespace cubewright {
namespace {

struct console_case {
  const char* how_started;
  unsigned attached_processes;
  bool streams_on_console;
  int status;
  std::size_t argument_count;
  bool waits;
};

TEST(Console, WaitsOnlyOnAConsoleOfItsOwnAfterUsageOrFailure) {
  const console_case cases[] = {
      // Started from Explorer: the window closes with the program.
      {"double-clicked, usage text", 1, true, 0, 0, true},
      {"one file dropped, usage text", 1, true, 0, 1, true},
      {"one file dropped, usage failed", 1, true, 1, 1, true},
      {"two files dropped, converted", 1, true, 0, 2, false},
      {"two files dropped, failed", 1, true, 1, 2, true},
      {"many arguments, any failure status", 1, true, 2, 8, true},
      {"negative status", 1, true, -1, 2, true},
      // A console shared with cmd or a script outlives the program.
      {"from cmd, usage text", 2, true, 0, 0, false},
      {"from cmd, failed", 2, true, 1, 2, false},
      {"from a script run by cmd", 3, true, 1, 0, false},
      // Redirected streams: something else reads the text, nobody presses keys.
      {"own console, redirected, usage text", 1, false, 0, 0, false},
      {"own console, redirected, failed", 1, false, 1, 2, false},
      // No console at all (started by a program without one).
      {"no console, failed", 0, false, 1, 0, false},
      {"no console count, streams claimed", 0, true, 1, 0, false},
  };
  for (const console_case& c : cases) {
    const console_facts console{c.attached_processes, c.streams_on_console};
    EXPECT_EQ(should_wait_for_key(console, c.status, c.argument_count), c.waits) << c.how_started;
  }
}

}  // namespace
}  // namespace cubewright
