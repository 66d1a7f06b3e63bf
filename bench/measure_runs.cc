// Runs commands side by side: round after round, each command once per round,
// so that a busy machine slows them all alike. Prints one line per command:
// the median wall time in seconds and the highest peak resident memory in KiB
// of any of its runs (the command's and its children's, as the kernel reports
// them on wait). Fails when any run fails.
//
//   measure_runs RUNS [--remove=PATH]... COMMAND [ARGUMENTS...] [-- ...]...
//
// The files named by --remove= are deleted before each run of their command,
// outside the timing, so that every run writes a new file rather than
// replacing one the system may still be writing back to disk. What the
// commands print on standard output is thrown away, so that only the results
// reach it.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct command {
  std::vector<const char*> remove_first;
  std::vector<char*> argv;  // null-terminated
  std::vector<double> seconds;
  long peak_kib = 0;
};

bool run_once(command& cmd) {
  for (const char* path : cmd.remove_first) unlink(path);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) {
    std::perror("measure_runs: fork");
    return false;
  }
  if (child == 0) {
    const int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd >= 0) dup2(null_fd, STDOUT_FILENO);
    execvp(cmd.argv[0], cmd.argv.data());
    std::perror(cmd.argv[0]);
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (wait4(child, &status, 0, &usage) < 0) {
    std::perror("measure_runs: wait4");
    return false;
  }
  const auto stop = std::chrono::steady_clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "measure_runs: %s failed\n", cmd.argv[0]);
    return false;
  }
  cmd.seconds.push_back(std::chrono::duration<double>(stop - start).count());
  cmd.peak_kib = std::max(cmd.peak_kib, static_cast<long>(usage.ru_maxrss));
  return true;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 2 ? std::atoi(argv[1]) : 0;
  if (runs < 1) {
    std::fprintf(
        stderr, "usage: measure_runs RUNS [--remove=PATH]... COMMAND [ARGUMENTS...] [-- ...]...\n");
    return 2;
  }
  std::vector<command> commands(1);
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) {
      commands.emplace_back();
    } else if (commands.back().argv.empty() && std::strncmp(argv[i], "--remove=", 9) == 0) {
      commands.back().remove_first.push_back(argv[i] + 9);
    } else {
      commands.back().argv.push_back(argv[i]);
    }
  }
  for (command& cmd : commands) {
    if (cmd.argv.empty()) {
      std::fprintf(stderr, "measure_runs: empty command\n");
      return 2;
    }
    cmd.argv.push_back(nullptr);
  }
  for (int run = 0; run < runs; ++run) {
    for (command& cmd : commands) {
      if (!run_once(cmd)) return 1;
    }
  }
  for (const command& cmd : commands) {
    std::printf("%.6f %ld\n", median(cmd.seconds), cmd.peak_kib);
  }
  return 0;
}
