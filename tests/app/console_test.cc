// The decision to keep the console window open, on every platform: the
// Windows side only gathers the facts it is made from.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "app/platform.h"

namespace cubewright {
namespace {

struct console_case {
  const char* how_started;
  unsigned attached_processes;
  bool streams_on_console;
  int status;
  std::size_t argument_count;
  bool dropped;
  bool waits;
};

TEST(Console, WaitsOnlyOnAConsoleOfItsOwnAfterUsageOrFailure) {
  const console_case cases[] = {
      // Started from Explorer: the window closes with the program.
      {"double-clicked, usage text", 1, true, 0, 0, false, true},
      {"one argument, usage text", 1, true, 0, 1, false, true},
      {"one argument, failed", 1, true, 1, 1, false, true},
      {"input and output, converted", 1, true, 0, 2, false, false},
      {"input and output, failed", 1, true, 1, 2, false, true},
      {"files dropped, converted each beside itself", 1, true, 0, 4, true, true},
      {"files dropped from cmd", 2, true, 0, 4, true, false},
      {"many arguments, any failure status", 1, true, 2, 8, false, true},
      {"negative status", 1, true, -1, 2, false, true},
      // A console shared with cmd or a script outlives the program.
      {"from cmd, usage text", 2, true, 0, 0, false, false},
      {"from cmd, failed", 2, true, 1, 2, false, false},
      {"from a script run by cmd", 3, true, 1, 0, false, false},
      // Redirected streams: something else reads the text, nobody presses keys.
      {"own console, redirected, usage text", 1, false, 0, 0, false, false},
      {"own console, redirected, failed", 1, false, 1, 2, false, false},
      // No console at all (started by a program without one).
      {"no console, failed", 0, false, 1, 0, false, false},
      {"no console count, streams claimed", 0, true, 1, 0, false, false},
  };
  for (const console_case& c : cases) {
    const console_facts console{c.attached_processes, c.streams_on_console};
    EXPECT_EQ(should_wait_for_key(console, c.status, c.argument_count, c.dropped), c.waits)
        << c.how_started;
  }
}

TEST(Console, FilesDroppedOnTheProgramAreEachConvertedBesideThemselves) {
  const console_facts own{1, true};
  const console_facts shared{2, true};
  using arguments = std::vector<std::string>;
  // Two game documents dropped: never the second overwritten by the first.
  EXPECT_EQ(arguments_to_run(own, {"a.xml", "b.xml"}),
            (arguments{"--each", "--ask", "a.xml", "b.xml"}));
  EXPECT_EQ(arguments_to_run(own, {"C:\\models\\gun.csv"}),
            (arguments{"--each", "--ask", "C:\\models\\gun.csv"}));
  // Typed commands, a shared console or nothing at all stay as they are.
  EXPECT_EQ(arguments_to_run(own, {}), arguments{});
  EXPECT_EQ(arguments_to_run(own, {"-v", "a.csv", "b.xml"}), (arguments{"-v", "a.csv", "b.xml"}));
  EXPECT_EQ(arguments_to_run(shared, {"a.csv", "b.xml"}), (arguments{"a.csv", "b.xml"}));
  EXPECT_EQ(arguments_to_run({1, false}, {"a.csv", "b.xml"}), (arguments{"a.csv", "b.xml"}));
}

}  // namespace
}  // namespace cubewright
