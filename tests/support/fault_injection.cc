// Fault injection for the safety tests, loaded into the real executable with
// LD_PRELOAD. It stands between the program and the C library for the calls
// that create, write, close and replace an output, counts them, and fails or
// pauses the one the test chose. Environment variables:
//
//   CUBEWRIGHT_FAULT_AT=k           the k-th counted call fails (from 1)
//   CUBEWRIGHT_FAULT_ERRNO=n        ...with this error number (default EIO)
//   CUBEWRIGHT_FAULT_AFTER_BYTES=n  the disk is full after n bytes of output:
//                                   the write that reaches n is cut short, the
//                                   next one fails with ENOSPC
//   CUBEWRIGHT_WRITE_LIMIT=n        write() takes at most n bytes per call
//   CUBEWRIGHT_PAUSE_AT=k           the k-th counted call creates the file
//   CUBEWRIGHT_PAUSE_MARK=path      at path, then waits for a signal
//   CUBEWRIGHT_RESUME_MARK=path     ...or, when set, until path exists, and
//                                   then goes on with the call
//   CUBEWRIGHT_FAULT_COUNT=path     at exit, the number of counted calls is
//                                   written to path
//   CUBEWRIGHT_NO_THREADS=1         pthread_create() fails with EAGAIN, as on
//                                   a system out of threads (not counted)
//
// Counted calls: open() for writing, mkstemp() and mkostemp(), and write()
// and close() on a descriptor that one of those returned, and rename().
// The checked inline wrappers would clash with the definitions below.
#undef _FORTIFY_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

long environment_number(const char* name, long fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::strtol(text, nullptr, 10) : fallback;
}

template <typename function>
function next_definition(const char* name) {
  return reinterpret_cast<function>(dlsym(RTLD_NEXT, name));
}

using open_function = int (*)(const char*, int, ...);
using mkstemp_function = int (*)(char*);
using mkostemp_function = int (*)(char*, int);
using write_function = ssize_t (*)(int, const void*, size_t);
using close_function = int (*)(int);
using rename_function = int (*)(const char*, const char*);
using thread_function = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

constexpr int tracked_limit = 1024;
bool tracked[tracked_limit];
long calls = 0;
long bytes_written = 0;

bool is_tracked(int fd) { return fd >= 0 && fd < tracked_limit && tracked[fd]; }

void track(int fd, bool on) {
  if (fd >= 0 && fd < tracked_limit) tracked[fd] = on;
}

void pause_here() {
  const char* mark = std::getenv("CUBEWRIGHT_PAUSE_MARK");
  if (mark != nullptr) {
    const int fd =
        next_definition<open_function>("open")(mark, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) next_definition<close_function>("close")(fd);
  }
  const char* resume = std::getenv("CUBEWRIGHT_RESUME_MARK");
  if (resume == nullptr) {
    for (;;) pause();
  }
  const timespec moment{0, 1000000};
  while (access(resume, F_OK) != 0) nanosleep(&moment, nullptr);
}

// Counts one call; true when it must fail, with errno set.
bool inject() {
  ++calls;
  if (calls == environment_number("CUBEWRIGHT_PAUSE_AT", -1)) pause_here();
  if (calls == environment_number("CUBEWRIGHT_FAULT_AT", -1)) {
    errno = static_cast<int>(environment_number("CUBEWRIGHT_FAULT_ERRNO", EIO));
    return true;
  }
  return false;
}

__attribute__((destructor)) void report_count() {
  const char* path = std::getenv("CUBEWRIGHT_FAULT_COUNT");
  if (path == nullptr) return;
  if (FILE* out = std::fopen(path, "w")) {
    std::fprintf(out, "%ld\n", calls);
    std::fclose(out);
  }
}

int opened(int fd) {
  track(fd, fd >= 0);
  return fd;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
    va_list arguments;
    va_start(arguments, flags);
    mode = static_cast<mode_t>(va_arg(arguments, unsigned int));
    va_end(arguments);
  }
  const bool for_writing = (flags & O_ACCMODE) != O_RDONLY;
  if (for_writing && inject()) return -1;
  const int fd = next_definition<open_function>("open")(path, flags, mode);
  return for_writing ? opened(fd) : fd;
}

int open64(const char* path, int flags, ...) {
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
    va_list arguments;
    va_start(arguments, flags);
    mode = static_cast<mode_t>(va_arg(arguments, unsigned int));
    va_end(arguments);
  }
  return open(path, flags, mode);
}

int mkstemp(char* pattern) {
  if (inject()) return -1;
  return opened(next_definition<mkstemp_function>("mkstemp")(pattern));
}

int mkostemp(char* pattern, int flags) {
  if (inject()) return -1;
  return opened(next_definition<mkostemp_function>("mkostemp")(pattern, flags));
}

ssize_t write(int fd, const void* data, size_t size) {
  const auto real_write = next_definition<write_function>("write");
  if (!is_tracked(fd)) return real_write(fd, data, size);
  if (inject()) return -1;
  const long limit = environment_number("CUBEWRIGHT_WRITE_LIMIT", 0);
  if (limit > 0 && size > static_cast<size_t>(limit)) size = static_cast<size_t>(limit);
  const long room = environment_number("CUBEWRIGHT_FAULT_AFTER_BYTES", -1);
  if (room >= 0) {
    if (bytes_written >= room) {
      errno = ENOSPC;
      return -1;
    }
    if (size > static_cast<size_t>(room - bytes_written))
      size = static_cast<size_t>(room - bytes_written);
  }
  const ssize_t wrote = real_write(fd, data, size);
  if (wrote > 0) bytes_written += wrote;
  return wrote;
}

int close(int fd) {
  const auto real_close = next_definition<close_function>("close");
  if (!is_tracked(fd)) return real_close(fd);
  track(fd, false);
  // Like a network file system reporting a lost write at close: the
  // descriptor is gone all the same.
  const bool fails = inject();
  const int error = errno;
  const int result = real_close(fd);
  if (!fails) return result;
  errno = error;
  return -1;
}

int rename(const char* from, const char* to) {
  if (inject()) return -1;
  return next_definition<rename_function>("rename")(from, to);
}

int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
                   void* argument) {
  if (environment_number("CUBEWRIGHT_NO_THREADS", 0) != 0) return EAGAIN;
  return next_definition<thread_function>("pthread_create")(thread, attributes, start, argument);
}

}  // extern "C"
