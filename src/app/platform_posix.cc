// POSIX side of the platform layer.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

#include "app/platform.h"
#include "app/posix_signals.h"

namespace cubewright {

const std::string_view native_line_end = "\n";

namespace {

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

// The descriptor that /dev/stdout, /dev/stderr, /dev/fd/N or /proc/self/fd/N
// names, or -1. Such a stream was opened by whoever started us (a pipe, a
// terminal, a file opened for appending) and is written through a copy of its
// descriptor: its name cannot be replaced, and opening it again would start a
// file at its beginning, or fail for a pipe.
int standard_stream(const std::string& path) {
  if (path == "/dev/stdout") return STDOUT_FILENO;
  if (path == "/dev/stderr") return STDERR_FILENO;
  for (const std::string_view prefix :
       {std::string_view("/dev/fd/"), std::string_view("/proc/self/fd/")}) {
    if (path.size() <= prefix.size() || path.size() > prefix.size() + 9 ||
        path.compare(0, prefix.size(), prefix) != 0) {
      continue;
    }
    int number = 0;
    for (std::size_t i = prefix.size(); i < path.size(); ++i) {
      if (path[i] < '0' || path[i] > '9') return -1;
      number = number * 10 + (path[i] - '0');
    }
    return number;
  }
  return -1;
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

bool open_input_file(const std::string& path, input_file& file, io_failure& failure) {
  close_input_file(file);
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(failure, "cannot open input", errno);
  struct stat status {};
  if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
    // Mapping skips the copy into fresh memory and its page faults, which
    // cost more than the whole conversion of the text. The mapping is not
    // populated up front: the threads that read it fault it in side by
    // side, which measured a little faster than one call doing it all first.
    const int flags = MAP_PRIVATE;
    const auto size = static_cast<std::size_t>(status.st_size);
    install_cleanup_handlers();
    prepare_mapped_input_report("cubewright: cannot read input: " + path +
                                ": the file was changed while it was being read\n");
    void* mapping = mmap(nullptr, size, PROT_READ, flags, fd, 0);
    if (mapping != MAP_FAILED) {
      file.descriptor = fd;  // for read_input_range
      file.mapping = mapping;
      file.mapped_size = size;
      file.text = std::string_view(static_cast<const char*>(mapping), size);
      watch_mapped_input(mapping, size);
      return true;
    }
  }
  close(fd);
  // Pipes, devices, empty files and file systems that cannot map.
  if (!read_whole_file(path, file.contents, failure)) return false;
  file.text = file.contents;
  return true;
}

void close_input_file(input_file& file) {
  if (file.mapping != nullptr) {
    forget_mapped_input();
    munmap(file.mapping, file.mapped_size);
  }
  if (file.descriptor >= 0) close(file.descriptor);
  file.descriptor = -1;
  file.mapping = nullptr;
  file.mapped_size = 0;
  file.text = std::string_view();
  file.contents.clear();
}

bool read_input_range(const input_file& file, std::size_t offset, char* out, std::size_t size) {
  if (file.descriptor < 0) return false;
  while (size > 0) {
    const ssize_t got = pread(file.descriptor, out, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    offset += static_cast<std::size_t>(got);
    out += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

bool open_output_file(const std::string& path, output_file& file, io_failure& failure) {
  file = output_file{};
  if (path.empty()) return fail(failure, "cannot create output", ENOENT);
  if (path.back() == '/') {
    // A name that ends in "/" names a folder, which is never replaced; the
    // reason is the system's: no such folder, or a file that is none.
    struct stat status {};
    const int error = stat(path.c_str(), &status) == 0 ? EISDIR : errno;
    return fail(failure, "cannot create output", error);
  }
  file.target_path = path;

  const int stream = standard_stream(path);
  if (stream >= 0) {
    const int fd = fcntl(stream, F_DUPFD_CLOEXEC, 3);
    if (fd < 0) return fail(failure, "cannot open output", errno);
    file.handle = fd;
    return true;
  }

  struct stat status {};
  const bool exists = stat(path.c_str(), &status) == 0;
  if (!exists && errno != ENOENT) return fail(failure, "cannot create output", errno);
  if (exists && S_ISDIR(status.st_mode)) return fail(failure, "cannot create output", EISDIR);
  if (exists && !S_ISREG(status.st_mode)) {
    // A device or a pipe cannot be replaced, only written into.
    const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return fail(failure, "cannot open output", errno);
    file.handle = fd;
    return true;
  }
  // A file the user may not write to is not replaced behind their back,
  // although the folder would allow it.
  if (exists && access(path.c_str(), W_OK) != 0) return fail(failure, "cannot open output", errno);

  mode_t mode = 0;
  if (exists) {
    mode = status.st_mode & 0777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }

  file.target_path = resolve_links(path);
  const std::size_t slash = file.target_path.rfind('/');
  const std::string folder = parent_folder(file.target_path);
  const std::string name =
      slash == std::string::npos ? file.target_path : file.target_path.substr(slash + 1);
  // Shortened so that the temporary name stays within the usual 255 bytes.
  std::string temp = folder + "/." + name.substr(0, 200) + ".tmp-XXXXXX";

  install_cleanup_handlers();
  {
    const signals_blocked blocked;
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return fail(failure, "cannot create output", errno);
    file.handle = fd;
    file.temp_path = temp;
    watch_temp(file.temp_path);
  }
  // Best effort: a file system without modes or owners still gets the
  // document, only with its own defaults, and only root may give the file
  // to another owner.
  const int fd = static_cast<int>(file.handle);
  if (exists && fchown(fd, status.st_uid, status.st_gid) != 0) {
    // Not ours to change: the new file keeps our own owner.
  }
  if (fchmod(fd, mode) != 0) {
    // Not ours to change: the new file keeps the mode it was created with.
  }
  return true;
}

namespace {

// Room is asked for once a file passes this size, up to the next multiple of
// room_step past the bytes about to be written.
constexpr std::uint64_t room_from = std::uint64_t{1} << 20;
constexpr std::uint64_t room_step = std::uint64_t{4} << 20;

void set_room_aside(output_file& file, std::size_t size) {
#ifdef __linux__
  // Only Linux's fallocate is sure never to fall back on writing zeros.
  const std::uint64_t end = file.written + size;
  if (file.temp_path.empty() || end < room_from || end <= file.room_end) return;
  const std::uint64_t room_end = (end / room_step + 1) * room_step;
  if (room_end > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return;
  // Refused, or cut short, it may still have grown the file: commit cuts it
  // back to what was written either way.
  file.room_end = room_end;
  if (fallocate(static_cast<int>(file.handle), 0, 0, static_cast<off_t>(room_end)) != 0) {
    // Written without the room set aside.
  }
#else
  static_cast<void>(file);
  static_cast<void>(size);
#endif
}

}  // namespace

bool write_output_file(output_file& file, const char* data, std::size_t size, io_failure& failure) {
  const int fd = static_cast<int>(file.handle);
  set_room_aside(file, size);
  while (size != 0) {
    const ssize_t wrote = write(fd, data, size);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0) return fail(failure, "cannot write output", errno);
    if (wrote == 0) return fail(failure, "cannot write output", EIO);
    data += wrote;
    size -= static_cast<std::size_t>(wrote);
    file.written += static_cast<std::uint64_t>(wrote);
  }
  return true;
}

bool commit_output_file(output_file& file, io_failure& failure) {
  const int fd = static_cast<int>(file.handle);
  // Room set aside and not written is given back. Cutting a file short needs
  // no room, so this fails only where the system fails at anything.
  if (file.room_end != 0 && ftruncate(fd, static_cast<off_t>(file.written)) != 0) {
    const int error = errno;
    discard_output_file(file);
    return fail(failure, "cannot write output", error);
  }
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

bool write_standard_output(std::string_view text, io_failure& failure) {
  const char* data = text.data();
  std::size_t left = text.size();
  while (left != 0) {
    const ssize_t wrote = write(STDOUT_FILENO, data, left);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return fail(failure, "cannot write the usage text", wrote < 0 ? errno : EIO);
    data += wrote;
    left -= static_cast<std::size_t>(wrote);
  }
  return true;
}

void print_error_line(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

bool print_output_line(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

bool read_file_start(const std::string& path, std::size_t size, std::string& start) {
  struct stat status {};
  // Only a regular file can hold a model; opening a pipe would wait for it.
  if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
  const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (descriptor < 0) return false;
  start.resize(size);
  std::size_t filled = 0;
  while (filled < size) {
    const ssize_t got = read(descriptor, &start[filled], size - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    filled += static_cast<std::size_t>(got);
  }
  close(descriptor);
  start.resize(filled);
  return true;
}

bool same_file(const std::string& first, const std::string& second) {
  struct stat a {};
  struct stat b {};
  return stat(first.c_str(), &a) == 0 && stat(second.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

bool replaced_at_the_end(const std::string& path) {
  if (path.empty() || path.back() == '/' || standard_stream(path) >= 0) return false;
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return errno == ENOENT;
  return S_ISREG(status.st_mode);
}

bool names_standard_stream(const std::string& path) { return standard_stream(path) >= 0; }

bool is_read_only(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         (status.st_mode & S_IWUSR) == 0;
}

bool ask_yes_no(std::string_view question) {
  // The question stays on its line, where the answer is typed.
  std::fflush(stderr);
  const std::string text(question);
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
  char answer[64];
  if (std::fgets(answer, sizeof answer, stdin) == nullptr) {
    std::fputc('\n', stderr);
    return false;
  }
  // A long answer's rest is read away, so the next question gets its own.
  while (std::strchr(answer, '\n') == nullptr && std::fgets(answer + 1, sizeof answer - 1, stdin)) {
  }
  return answer[0] == 'y' || answer[0] == 'Y';
}

console_facts current_console() { return {}; }

// A terminal outlives the programs started in it, so nothing has to wait.
void hold_console_if_own(int /*status*/, std::size_t /*argument_count*/, bool /*dropped*/) {}

}  // namespace cubewright
