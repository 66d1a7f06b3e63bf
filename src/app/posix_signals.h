// The POSIX platform layer's signal handlers: a signal that ends the run
// removes the temporary output, and a read of a mapped input that was cut
// short ends the run with one line, as every failure does.
#pragma once

#include <csignal>
#include <cstddef>
#include <string>

namespace cubewright {

/// Installs the handlers once; a signal the caller chose to ignore stays
/// ignored. SIGXFSZ is ignored from then on, so that a write past a file
/// size limit fails and is reported.
void install_cleanup_handlers();

/// Blocks the cleanup signals for its lifetime: while the temporary file is
/// created and registered, so that no signal can land between the two.
struct signals_blocked {
  sigset_t previous;
  signals_blocked();
  ~signals_blocked();
  signals_blocked(const signals_blocked&) = delete;
  signals_blocked& operator=(const signals_blocked&) = delete;
};

/// The temporary output a signal removes, until forgotten.
void watch_temp(const std::string& path);
void forget_temp();

/// The line a read past the end of a mapped input that was cut short
/// prints, made before the mapping exists...
void prepare_mapped_input_report(std::string line);
/// ...and the mapping such a read lands in, until forgotten.
void watch_mapped_input(const void* start, std::size_t size);
void forget_mapped_input();

}  // namespace cubewright
