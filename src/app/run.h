// The program's run: usage or one conversion, as the exit status tells.
#pragma once

#include <string>
#include <vector>

namespace cubewright {

/// Runs the program on its arguments (those after the program name) and
/// returns the exit status: 0 after the usage text or a conversion, 1 after a
/// failure, which is reported in one line on standard error. An existing
/// output is only ever replaced by a complete document. The output is written
/// on a thread of its own while the next block is formatted, unless the build
/// turned that off (CUBEWRIGHT_WRITER_THREAD).
int run_conversion(const std::vector<std::string>& arguments);

/// The same, choosing whether the output is written on a thread of its own;
/// without one, formatting and writing take turns. Both write the same bytes
/// and report the same failures.
int run_conversion(const std::vector<std::string>& arguments, bool writer_thread);

}  // namespace cubewright
