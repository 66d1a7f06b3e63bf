#include "app/platform.h"
#include "app/run.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments = cubewright::command_line_arguments(argc, argv);
  const int status = cubewright::run_conversion(arguments);
  cubewright::hold_console_if_own(status, arguments.size());
  return status;
}
