#include "threads/helper_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <thread>

#if defined(__linux__)
#include <pthread.h>
#include <sched.h>
#endif

namespace cubewright {
namespace {

#if defined(__linux__)

// Only where the thread starts is chosen: it keeps every core the process
// may use (a thread left on one core would wait for it under load). Where
// it starts is a matter of speed, which bench/run.sh shows.
TEST(OtherCore, NewThreadKeepsEveryCore) {
  cpu_set_t allowed;
  ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
  for (int attempt = 0; attempt < 5; ++attempt) {
    std::atomic<bool> go{false};
    std::atomic<bool> ran{false};
    std::thread thread([&] {
      while (!go.load()) std::this_thread::yield();
      ran = true;
    });
    start_on_another_core(thread);
    cpu_set_t kept;
    ASSERT_EQ(pthread_getaffinity_np(thread.native_handle(), sizeof kept, &kept), 0);
    go = true;
    thread.join();
    EXPECT_TRUE(CPU_EQUAL(&kept, &allowed));
    EXPECT_TRUE(ran);
  }
}

TEST(OtherCore, ThreadOfAOneCoreThreadStaysOnItsCore) {
  cpu_set_t allowed;
  ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(static_cast<std::size_t>(sched_getcpu()), &one);
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  std::atomic<bool> go{false};
  std::thread thread([&] {
    while (!go.load()) std::this_thread::yield();
  });
  start_on_another_core(thread);
  cpu_set_t kept;
  const int asked = pthread_getaffinity_np(thread.native_handle(), sizeof kept, &kept);
  go = true;
  thread.join();
  ASSERT_EQ(sched_setaffinity(0, sizeof allowed, &allowed), 0);
  ASSERT_EQ(asked, 0);
  EXPECT_TRUE(CPU_EQUAL(&kept, &one));
  start_on_another_core(thread);  // joined: nothing to do
}

#endif

}  // namespace
}  // namespace cubewright
