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

}  // namespace cubewright_test
