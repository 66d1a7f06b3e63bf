#include <string>
#include <utility>
#include <vector>

#include "app/platform.h"
#include "app/run.h"

int main(int argc, char** argv) {
  const cubewright::console_facts console = cubewright::current_console();
  std::vector<std::string> given = cubewright::command_line_arguments(argc, argv);
  const std::size_t given_count = given.size();
  const std::vector<std::string> arguments =
      cubewright::arguments_to_run(console, std::move(given));
  const bool dropped = arguments.size() != given_count;
  const int status = cubewright::run_conversion(arguments);
  if (arguments.empty() && cubewright::console_of_its_own(console)) {
    cubewright::print_error_line(cubewright::drop_hint);
  }
  cubewright::hold_console_if_own(status, arguments.size(), dropped);
  return status;
}
