// POSIX side of the platform layer.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "app/platform.h"

namespace cubewright {

const std::string_view native_line_end = "\n";

namespace {

// The temporary output that a signal handler must remove. Only a pointer to
// the path is kept, so the handler does nothing but unlink() and re-raise.
volatile std::sig_atomic_t have_pending_temp = 0;
const char* pending_temp_path = nullptr;

// Not counted by coverage: it ends the process by the signal, so the process
// never writes its coverage counters.
extern "C" void remove_temp_and_die(int signal_number) {
  if (have_pending_temp) unlink(pending_temp_path);
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

void watch_temp(const std::string& path) {
  static bool handlers_installed = false;
  pending_temp_path = path.c_str();
  have_pending_temp = 1;
  if (!handlers_installed) {
    handlers_installed = true;
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
      struct sigaction action {};
      action.sa_handler = remove_temp_and_die;
      sigemptyset(&action.sa_mask);
      struct sigaction previous {};
      // A signal the caller chose to ignore stays ignored.
      if (sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) {
        continue;
      }
      sigaction(signal_number, &action, nullptr);
    }
  }
}

void forget_temp() { have_pending_temp = 0; }

std::string system_reason(int error) { return std::strerror(error); }

bool fail(io_failure& failure, const char* what, int error) {
  failure.what = what;
  failure.reason = system_reason(error);
  return false;
}

std::string parent_folder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The file a path names once every symbolic link on its last component is
// followed; a dangling link gives the path of the file it would create.
std::string resolve_links(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) break;
    std::string target(static_cast<std::size_t>(status.st_size > 0 ? status.st_size : 255) + 1,
                       '\0');
    const ssize_t length = readlink(path.c_str(), target.data(), target.size());
    if (length < 0 || static_cast<std::size_t>(length) >= target.size()) break;
    target.resize(static_cast<std::size_t>(length));
    path = target.front() == '/' ? target : parent_folder(path).append("/").append(target);
  }
  return path;
}

}  // namespace

std::vector<std::string> command_line_arguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return arguments;
}

bool read_whole_file(const std::string& path, std::string& contents, io_failure& failure) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(failure, "cannot open input", errno);
  struct stat status {};
  std::size_t capacity = 1 << 16;
  if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
    // One byte more than the size, so that the read which finds the end
    // needs no second allocation.
    capacity = static_cast<std::size_t>(status.st_size) + 1;
  }
  contents.resize(capacity);
  std::size_t filled = 0;
  for (;;) {
    if (filled == contents.size()) contents.resize(contents.size() * 2);
    const ssize_t got = read(fd, contents.data() + filled, contents.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error = errno;
      close(fd);
      return fail(failure, "cannot read input", error);
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  close(fd);
  contents.resize(filled);
  return true;
}

bool open_output_file(const std::string& path, output_file& file, io_failure& failure) {
  file = output_file{};
  if (!path.empty() && path.back() == '/') return fail(failure, "cannot create output", EISDIR);
  file.target_path = resolve_links(path);

  struct stat status {};
  mode_t mode = 0;
  const bool exists = stat(file.target_path.c_str(), &status) == 0;
  if (exists && S_ISDIR(status.st_mode)) return fail(failure, "cannot create output", EISDIR);
  if (exists && !S_ISREG(status.st_mode)) {
    // A device or a pipe cannot be replaced, only written into.
    const int fd = open(file.target_path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return fail(failure, "cannot open output", errno);
    file.handle = fd;
    return true;
  }
  if (exists) {
    mode = status.st_mode & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }

  const std::string folder = parent_folder(file.target_path);
  const std::size_t slash = file.target_path.rfind('/');
  const std::string name =
      slash == std::string::npos ? file.target_path : file.target_path.substr(slash + 1);
  std::string temp = folder + "/." + name + ".tmp-XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) return fail(failure, "cannot create output", errno);
  file.handle = fd;
  file.temp_path = temp;
  watch_temp(file.temp_path);
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  // Best effort: a file system without modes or owners still gets the
  // document, only with its own defaults.
  if (exists && fchown(fd, status.st_uid, status.st_gid) != 0) {
    // Not ours to change (we are not root): keep our own.
  }
  fchmod(fd, mode);
  return true;
}

bool write_output_file(output_file& file, const char* data, std::size_t size, io_failure& failure) {
  const int fd = static_cast<int>(file.handle);
  while (size != 0) {
    const ssize_t wrote = write(fd, data, size);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0) return fail(failure, "cannot write output", errno);
    if (wrote == 0) return fail(failure, "cannot write output", EIO);
    data += wrote;
    size -= static_cast<std::size_t>(wrote);
  }
  return true;
}

bool commit_output_file(output_file& file, io_failure& failure) {
  const int fd = static_cast<int>(file.handle);
  file.handle = -1;
  if (close(fd) != 0) {
    // Reached only when the file system reports a deferred write error at
    // close (a full network share, say), which no test can bring about.
    const int error = errno;
    discard_output_file(file);
    return fail(failure, "cannot write output", error);
  }
  if (file.temp_path.empty()) return true;
  if (rename(file.temp_path.c_str(), file.target_path.c_str()) != 0) {
    const int error = errno;
    discard_output_file(file);
    return fail(failure, "cannot replace output", error);
  }
  forget_temp();
  file.temp_path.clear();
  return true;
}

void discard_output_file(output_file& file) {
  if (file.handle >= 0) close(static_cast<int>(file.handle));
  file.handle = -1;
  if (!file.temp_path.empty()) {
    unlink(file.temp_path.c_str());
    forget_temp();
    file.temp_path.clear();
  }
}

void print_error_line(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace cubewright
