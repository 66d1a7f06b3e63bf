// What the POSIX platform layer does when a signal ends the run.
#include "app/posix_signals.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>

namespace cubewright {
namespace {

// The temporary output that a signal handler must remove. The handler only
// reads these two and calls unlink() and raise(), which are safe in it; the
// path is a copy owned here, so no caller's string can move under it.
volatile std::sig_atomic_t have_pending_temp = 0;
const char* volatile pending_temp_path = nullptr;
std::string pending_temp;

// The mapped input and the line that reports it cut short, both made before
// the mapping exists, so that the SIGBUS handler only reads them.
std::uintptr_t volatile mapped_input_start = 0;
std::uintptr_t volatile mapped_input_end = 0;
std::string input_cut_short_line;
const char* volatile input_cut_short_text = nullptr;
volatile std::size_t input_cut_short_size = 0;

const int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGBUS};

// Not counted by coverage: it ends the process by the signal, so the process
// never writes its coverage counters.
extern "C" void remove_temp_and_die(int signal_number) {
  if (have_pending_temp) unlink(pending_temp_path);
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

// A read of the mapped input past the end of a file that was cut short ends
// the run as every failure does: the temporary output removed, one line, exit
// status 1. Any other SIGBUS is a fault of its own and ends the process as
// the signal would. Only write(), unlink() and _exit() are called, which are
// safe here. Not counted by coverage, which _exit() never lets write.
extern "C" void handle_bus_error(int signal_number, siginfo_t* info, void* /*context*/) {
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  if (address < mapped_input_start || address >= mapped_input_end) {
    remove_temp_and_die(signal_number);
    return;
  }
  if (have_pending_temp) unlink(pending_temp_path);
  const char* text = input_cut_short_text;
  std::size_t left = input_cut_short_size;
  while (left != 0) {
    const ssize_t wrote = write(STDERR_FILENO, text, left);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) break;
    text += wrote;
    left -= static_cast<std::size_t>(wrote);
  }
  _exit(1);
}

}  // namespace

void install_cleanup_handlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (int signal_number : cleanup_signals) {
    struct sigaction previous {};
    // A signal the caller chose to ignore stays ignored; a bus error cannot
    // be ignored, so its handler is always needed.
    if (signal_number != SIGBUS && sigaction(signal_number, nullptr, &previous) == 0 &&
        previous.sa_handler == SIG_IGN) {
      continue;
    }
    struct sigaction action {};
    if (signal_number == SIGBUS) {
      action.sa_sigaction = handle_bus_error;
      action.sa_flags = SA_SIGINFO;
    } else {
      action.sa_handler = remove_temp_and_die;
    }
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
  }
  // Past a file size limit, write() then fails with EFBIG and is reported,
  // instead of the signal ending the process with the temporary file left.
  std::signal(SIGXFSZ, SIG_IGN);
}

signals_blocked::signals_blocked() {
  sigset_t blocked;
  sigemptyset(&blocked);
  for (int signal_number : cleanup_signals) sigaddset(&blocked, signal_number);
  sigprocmask(SIG_BLOCK, &blocked, &previous);
}

signals_blocked::~signals_blocked() { sigprocmask(SIG_SETMASK, &previous, nullptr); }

void watch_temp(const std::string& path) {
  have_pending_temp = 0;
  pending_temp = path;
  pending_temp_path = pending_temp.c_str();
  have_pending_temp = 1;
}

void forget_temp() { have_pending_temp = 0; }

void prepare_mapped_input_report(std::string line) {
  input_cut_short_line = std::move(line);
  input_cut_short_text = input_cut_short_line.data();
  input_cut_short_size = input_cut_short_line.size();
}

void watch_mapped_input(const void* start, std::size_t size) {
  mapped_input_start = reinterpret_cast<std::uintptr_t>(start);
  mapped_input_end = mapped_input_start + size;
}

void forget_mapped_input() {
  mapped_input_start = 0;
  mapped_input_end = 0;
}

}  // namespace cubewright
