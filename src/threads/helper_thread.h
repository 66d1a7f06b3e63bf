// The one way a run starts a helper thread.
#pragma once

#include <system_error>
#include <thread>
#include <utility>

namespace cubewright {

/// Asks the system to start `thread`, which the calling thread has just
/// made, on another core than the caller's, when the process may use one.
/// Linux otherwise queues a new thread on its maker's core until it next
/// balances its cores: on the two-core machine the benchmarks ran on, the
/// two threads took turns on one core for up to several milliseconds while
/// the other stood idle. Only the start is chosen: the thread keeps every
/// core the process may use, and the system may move it later. Nothing
/// changes where the system offers no such choice (anywhere but Linux).
void start_on_another_core(std::thread& thread);

/// Starts `work` on a thread of its own, as start_on_another_core says. A
/// thread that cannot be started is reported by an exception, which is
/// caught here and nowhere else: the result is then not joinable, and the
/// caller does the work itself.
template <typename Work>
std::thread start_helper_thread(Work&& work) {
  std::thread thread;
  try {
    thread = std::thread(std::forward<Work>(work));
  } catch (const std::system_error&) {
    return thread;
  }
  start_on_another_core(thread);
  return thread;
}

}  // namespace cubewright
