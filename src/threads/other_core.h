// Where a new thread starts: on another core than the thread that made it.
#pragma once

#include <thread>

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

}  // namespace cubewright
