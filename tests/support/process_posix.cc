#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/process.h"

namespace cubewright_test {
namespace {

std::string slurp_and_remove(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::remove(path.c_str());
  return text.str();
}

}  // namespace

process_result run_process(const std::string& program, const std::vector<std::string>& arguments) {
  return run_process_with_input(program, arguments, "");
}

process_result run_process_with_input(const std::string& program,
                                      const std::vector<std::string>& arguments,
                                      const std::string& input) {
  char in_path[] = "/tmp/cubewright-test-in-XXXXXX";
  const int in_fd = mkstemp(in_path);
  if (in_fd >= 0) {
    if (write(in_fd, input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
      std::perror("write");
    }
    close(in_fd);
  }
  char out_path[] = "/tmp/cubewright-test-out-XXXXXX";
  char err_path[] = "/tmp/cubewright-test-err-XXXXXX";
  const int out_fd = mkstemp(out_path);
  const int err_fd = mkstemp(err_path);
  process_result result;
  const pid_t child = fork();
  if (child == 0) {
    const int input_fd = open(in_path, O_RDONLY);
    dup2(input_fd, 0);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out_fd);
  close(err_fd);
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    result.exit_status = WEXITSTATUS(status);
  }
  std::remove(in_path);
  result.standard_output = slurp_and_remove(out_path);
  result.standard_error = slurp_and_remove(err_path);
  return result;
}

}  // namespace cubewright_test
