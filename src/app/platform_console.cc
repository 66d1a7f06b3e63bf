// The part of the platform layer that is the same on every system: the
// decision to keep a console window open, kept apart from the calls that
// gather its facts so that it is tested everywhere.
#include "app/platform.h"

namespace cubewright {

bool should_wait_for_key(const console_facts& console, int status, std::size_t argument_count) {
  if (console.attached_processes != 1 || !console.streams_on_console) return false;
  return status != 0 || argument_count < 2;
}

}  // namespace cubewright
