// The part of the platform layer that is the same on every system: the
// decision to keep a console window open, kept apart from the calls that
// gather its facts so that it is tested everywhere.
#include "app/platform.h"

namespace cubewright {

const std::string_view drop_hint =
    "Drop model files on cubewright.exe: each NAME.csv or NAME.vox becomes NAME.xml beside it, "
    "each NAME.xml becomes NAME.vox.";

bool console_of_its_own(const console_facts& console) {
  return console.attached_processes == 1 && console.streams_on_console;
}

std::vector<std::string> arguments_to_run(const console_facts& console,
                                          std::vector<std::string> arguments) {
  if (!console_of_its_own(console) || arguments.empty()) return arguments;
  // Files dropped on the program come as its arguments, options never.
  for (const std::string& argument : arguments) {
    if (argument.rfind('-', 0) == 0) return arguments;
  }
  arguments.insert(arguments.begin(), {"--each", "--ask"});
  return arguments;
}

bool should_wait_for_key(const console_facts& console, int status, std::size_t argument_count,
                         bool dropped) {
  if (!console_of_its_own(console)) return false;
  return status != 0 || argument_count < 2 || dropped;
}

}  // namespace cubewright
