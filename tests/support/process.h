// Runs the real executable for end-to-end tests.
#pragma once

#include <string>
#include <vector>

namespace cubewright_test {

struct process_result {
  int exit_status = -1;  // -1 when the process did not exit normally
  std::string standard_output;
  std::string standard_error;
};

/// Runs `program` with `arguments` (UTF-8), no standard input, and waits for
/// it. Standard output and error are captured byte for byte.
process_result run_process(const std::string& program, const std::vector<std::string>& arguments);

/// As run_process, with `input` as the whole of its standard input.
process_result run_process_with_input(const std::string& program,
                                      const std::vector<std::string>& arguments,
                                      const std::string& input);

/// Windows only: as run_process, but the program gets a console of its own,
/// as when Explorer starts it, while its standard streams stay redirected. A
/// program still running after a minute (waiting for a key that never comes)
/// is ended and reported as not exited normally.
process_result run_process_on_own_console(const std::string& program,
                                          const std::vector<std::string>& arguments);

/// Runs the cubewright executable under test.
inline process_result run_cubewright(const std::vector<std::string>& arguments) {
  return run_process(CUBEWRIGHT_EXE, arguments);
}

}  // namespace cubewright_test
