#include "threads/helper_thread.h"

#if defined(__linux__)
#include <pthread.h>
#include <sched.h>

#include <cstddef>
#endif

namespace cubewright {

void start_on_another_core(std::thread& thread) {
#if defined(__linux__)
  if (!thread.joinable()) return;
  cpu_set_t allowed;
  if (pthread_getaffinity_np(thread.native_handle(), sizeof allowed, &allowed) != 0) return;
  const int cpu = sched_getcpu();
  if (cpu < 0 || cpu >= CPU_SETSIZE || CPU_COUNT(&allowed) < 2) return;
  const auto here = static_cast<std::size_t>(cpu);
  if (!CPU_ISSET(here, &allowed)) return;
  cpu_set_t elsewhere = allowed;
  CPU_CLR(here, &elsewhere);
  // Shutting it out of this core moves it at once, to an idle core if there
  // is one; letting it back in then leaves it where it went.
  if (pthread_setaffinity_np(thread.native_handle(), sizeof elsewhere, &elsewhere) == 0) {
    pthread_setaffinity_np(thread.native_handle(), sizeof allowed, &allowed);
  }
#else
  static_cast<void>(thread);
#endif
}

}  // namespace cubewright
