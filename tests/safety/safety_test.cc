// The real executable under failure: odd and missing paths, full and
// read-only disks, devices, signals, and an injected error at every call of
// the write layer. After every failure the old output must be unchanged, the
// exit status 1, the message one line, and the folder free of leftovers.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/platform.h"
#include "conversion/convert.h"
#include "model/voxel_grid.h"
#include "sproxel_csv/cell_walk.h"
#include "sproxel_csv/csv_document.h"
#include "sproxel_csv/sproxel_writer.h"
#include "support/files.h"
#include "support/process.h"
#include "tuning.h"

namespace {
using namespace cubewright_test;

const std::string program = CUBEWRIGHT_EXE;

using settings = std::vector<std::pair<std::string, std::string>>;

// A model of the given size whose cells are mostly filled, with colours that
// vary from cell to cell. Its document is about seven times its own size.
std::string make_model(int size_x, int size_y, int size_z) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text =
      std::to_string(size_x) + "," + std::to_string(size_y) + "," + std::to_string(size_z) + "\n";
  unsigned cell = 0;
  for (int z = 0; z < size_z; ++z) {
    for (int y = 0; y < size_y; ++y) {
      for (int x = 0; x < size_x; ++x, ++cell) {
        if (x != 0) text += ',';
        if (cell % 7 == 3) {
          text += "#00000000";
          continue;
        }
        text += '#';
        for (unsigned shift : {0u, 3u, 5u}) {
          const unsigned value = (cell * 37u + shift * 11u) >> shift;
          text += digits[(value >> 4) & 15u];
          text += digits[value & 15u];
        }
        text += "FF";
      }
      text += '\n';
    }
  }
  return text;
}

// A model whose cells are nearly all empty: a large input with a small
// document (one cell in 23 is filled).
std::string make_sparse_model(int size_x, int size_y, int size_z) {
  std::string text =
      std::to_string(size_x) + "," + std::to_string(size_y) + "," + std::to_string(size_z) + "\n";
  unsigned cell = 0;
  for (int y = 0; y < size_y; ++y) {
    for (int z = 0; z < size_z; ++z) {
      for (int x = 0; x < size_x; ++x, ++cell) {
        if (x != 0) text += ',';
        text += cell % 23 == 5 ? "#3C7A1FFF" : "#00000000";
      }
      text += '\n';
    }
    text += '\n';
  }
  return text;
}

std::string error_line(const std::string& what, const std::string& path,
                       const std::string& reason) {
  return "cubewright: " + what + ": " + path + ": " + reason + "\n";
}

std::vector<std::string> entries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* listing = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(listing)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(listing);
  }
  std::sort(names.begin(), names.end());
  return names;
}

unsigned mode_of(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return 0;
  return status.st_mode & 07777u;
}

// The document a clean run makes of `csv_text`.
std::string document_for(const std::string& csv_text) {
  scratch_folder folder;
  write_file(folder / "model.csv", csv_text);
  const process_result result = run_process(program, {folder / "model.csv", folder / "model.xml"});
  EXPECT_EQ(result.exit_status, 0) << result.standard_error;
  return read_file(folder / "model.xml");
}

// The document of `csv_text` placed as given, made by the library.
std::string document_for(const std::string& csv_text,
                         const cubewright::model_placement& placement) {
  return *cubewright::export_to_document(csv_text, placement);
}

// The CSV export of the voxels of `csv_text`, made by the library.
std::string model_export(const std::string& csv_text) {
  using namespace cubewright;
  const token_list tokens = read_token_list(csv_text);
  std::vector<cell_voxel> cells;
  walk_cells(tokens, *parse_grid_size(tokens), {}, [&](const voxel_record& r) {
    cells.push_back({static_cast<std::int32_t>(r.x), static_cast<std::int32_t>(r.y),
                     static_cast<std::int32_t>(r.z), colour_byte(r.r), colour_byte(r.g),
                     colour_byte(r.b)});
  });
  voxel_grid grid;
  EXPECT_TRUE(make_voxel_grid(cells, grid));
  std::string text;
  const output_sink sink = cubewright::string_sink(text);
  write_sproxel_csv(grid, sink);
  return text;
}

// Sets environment variables for the processes started while it lives.
struct environment_scope {
  explicit environment_scope(const settings& values) : names() {
    for (const auto& [name, value] : values) {
      setenv(name.c_str(), value.c_str(), 1);
      names.push_back(name);
    }
  }
  ~environment_scope() {
    for (const std::string& name : names) unsetenv(name.c_str());
  }
  environment_scope(const environment_scope&) = delete;
  environment_scope& operator=(const environment_scope&) = delete;
  std::vector<std::string> names;
};

settings with_injection(settings values) {
  values.emplace_back("LD_PRELOAD", CUBEWRIGHT_FAULT_INJECTION);
  // A sanitized build wants its runtime first among the libraries; the
  // injection library must come first instead, which is safe here.
  const char* asan_options = std::getenv("ASAN_OPTIONS");
  values.emplace_back("ASAN_OPTIONS", std::string(asan_options != nullptr ? asan_options : "") +
                                          ":verify_asan_link_order=0");
  return values;
}

process_result run_injected(const settings& values, const std::vector<std::string>& arguments) {
  const environment_scope scope(with_injection(values));
  return run_process(program, arguments);
}

// Runs a shell command line; $0 is the program, $1... the arguments.
process_result run_shell(const std::string& command, std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), {"-c", command, program});
  return run_process("/bin/sh", arguments);
}

// A failed run as every failure must look: status 1, one line naming the
// output, the old file byte for byte, nothing new in the folder.
void expect_clean_failure(const process_result& result, const std::string& output,
                          const std::string& old_contents, const std::string& folder,
                          const std::vector<std::string>& old_entries) {
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.standard_error.rfind("cubewright: ", 0), 0u) << result.standard_error;
  EXPECT_NE(result.standard_error.find(" " + output + ": "), std::string::npos)
      << result.standard_error;
  EXPECT_EQ(std::count(result.standard_error.begin(), result.standard_error.end(), '\n'), 1)
      << result.standard_error;
  EXPECT_EQ(result.standard_output, "");
  EXPECT_TRUE(read_file(output) == old_contents) << "the old output changed";
  EXPECT_EQ(entries(folder), old_entries);
}

// A tmpfs of 64 KiB (or `size`) mounted for one test, unmounted when the
// test ends.
struct small_disk {
  explicit small_disk(const std::string& size = "64k") : path(holder / "disk") {
    mkdir(path.c_str(), 0755);
    if (mount("tmpfs", path.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0) {
      mounted = true;
    } else {
      why_not =
          "mounting a tmpfs needs root (CI runs as root): " + std::string(std::strerror(errno));
    }
  }
  ~small_disk() {
    if (mounted && umount2(path.c_str(), 0) != 0) umount2(path.c_str(), MNT_DETACH);
  }
  small_disk(const small_disk&) = delete;
  small_disk& operator=(const small_disk&) = delete;

  bool remount_read_only() const {
    return mount("tmpfs", path.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=64k") == 0;
  }
  std::string operator/(const std::string& name) const { return path + "/" + name; }

  scratch_folder holder;
  std::string path;
  bool mounted = false;
  std::string why_not;
};

TEST(FailedRun, OutputInMissingFolder) {
  scratch_folder folder;
  write_file(folder / "in.csv", make_model(3, 2, 2));
  const std::string output = folder / "missing/out.xml";
  const process_result result = run_process(program, {folder / "in.csv", output});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.standard_error,
            error_line("cannot create output", output, "No such file or directory"));
  EXPECT_EQ(entries(folder.path), std::vector<std::string>{"in.csv"});
}

TEST(FailedRun, OutputIsADirectoryAndStaysUntouched) {
  scratch_folder folder;
  write_file(folder / "in.csv", make_model(3, 2, 2));
  mkdir((folder / "out").c_str(), 0755);
  write_file(folder / "out/keep.txt", "keep");
  for (const std::string& output : {folder / "out", folder / "out/"}) {
    SCOPED_TRACE(output);
    const process_result result = run_process(program, {folder / "in.csv", output});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.standard_error, error_line("cannot create output", output, "Is a directory"));
  }
  EXPECT_EQ(entries(folder.path), (std::vector<std::string>{"in.csv", "out"}));
  EXPECT_EQ(entries(folder / "out"), std::vector<std::string>{"keep.txt"});
  EXPECT_EQ(read_file(folder / "out/keep.txt"), "keep");
}

TEST(FailedRun, BadInputLeavesTheOldOutput) {
  scratch_folder folder;
  mkdir((folder / "folder.csv").c_str(), 0755);
  write_file(folder / "short.csv", "3,2\n");
  write_file(folder / "out.xml", old_document);
  const std::vector<std::string> old_entries = entries(folder.path);
  const struct {
    std::string input;
    std::string message;
  } cases[] = {
      {folder / "missing.csv",
       error_line("cannot open input", folder / "missing.csv", "No such file or directory")},
      {folder / "folder.csv",
       error_line("cannot read input", folder / "folder.csv", "Is a directory")},
      {folder / "short.csv",
       error_line("cannot read grid size", folder / "short.csv",
                  "fewer than three fields (the header needs x, y and z sizes)")},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.input);
    const process_result result =
        run_process(program, {"--lenient", each.input, folder / "out.xml"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.standard_error, each.message);
    EXPECT_EQ(read_file(folder / "out.xml"), old_document);
    EXPECT_EQ(entries(folder.path), old_entries);
  }
  // A missing input creates no output either.
  const process_result result = run_process(program, {folder / "missing.csv", folder / "new.xml"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_FALSE(file_exists(folder / "new.xml"));
}

TEST(FailedRun, NulByteFarIntoALargeExportIsStillFoundFirst) {
  // Two threads check a large export for NUL bytes as they format it; the
  // message and what happens to the old output stay those of a check made
  // before anything else, whatever else is wrong.
  std::string model = make_sparse_model(160, 40, 160);
  ASSERT_GE(model.size(), cubewright::tuning::min_two_formatting_csv);
  scratch_folder folder;
  const std::string binary = error_line("cannot read input", folder / "model.csv",
                                        "holds NUL bytes and is no sproxel CSV export, model "
                                        "document or .vox file");
  write_file(folder / "out.xml", old_document);
  write_file(folder / "other.vox", "VOX \x96\0\0\0");
  for (const std::size_t at : {model.size() - 3, model.size() / 2}) {
    std::string held = model;
    held[at] = '\0';
    write_file(folder / "model.csv", held);
    const std::vector<std::string> old_entries = entries(folder.path);
    for (const std::string& output : {folder / "out.xml", folder / "no such folder/out.xml",
                                      folder / "other.vox", std::string("/dev/stdout")}) {
      SCOPED_TRACE(output + " with a NUL at " + std::to_string(at));
      const process_result result = run_process(program, {folder / "model.csv", output});
      EXPECT_EQ(result.exit_status, 1);
      EXPECT_EQ(result.standard_error, binary);
      EXPECT_EQ(result.standard_output, "");  // nothing goes straight into a stream
      EXPECT_EQ(entries(folder.path), old_entries);
    }
    // With a picture, one thread formats the document and checks it the
    // same way, whether the picture's path is free or refused.
    for (const std::string& picture : {folder / "picture.png", folder / "other.vox"}) {
      SCOPED_TRACE("--preview " + picture + " with a NUL at " + std::to_string(at));
      const process_result result =
          run_process(program, {"--preview", picture, folder / "model.csv", folder / "out.xml"});
      EXPECT_EQ(result.exit_status, 1);
      EXPECT_EQ(result.standard_error, binary);
      EXPECT_EQ(entries(folder.path), old_entries);
    }
    EXPECT_EQ(read_file(folder / "out.xml"), old_document);
  }
}

TEST(FailedRun, UsageTextThatCannotBeWrittenIsAFailure) {
  const struct {
    const char* redirection;
    const char* reason;
  } cases[] = {
      {"> /dev/full", "No space left on device"},
      {">&-", "Bad file descriptor"},
      {"> /dev/null", nullptr},
  };
  for (const auto& each : cases) {
    for (const std::string arguments : {"", " --lenient only-one-argument"}) {
      SCOPED_TRACE(each.redirection + arguments);
      const process_result result = run_shell("\"$0\"" + arguments + " " + each.redirection, {});
      if (each.reason == nullptr) {
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_EQ(result.standard_error, "");
        continue;
      }
      EXPECT_EQ(result.exit_status, 1);
      EXPECT_EQ(result.standard_error,
                error_line("cannot write the usage text", "standard output", each.reason));
    }
  }
}

TEST(Replacing, ExistingOutputIsReplacedNotAppendedTo) {
  scratch_folder folder;
  const std::string model = make_model(4, 3, 2);
  write_file(folder / "in.csv", model);
  write_file(folder / "out.xml", document_for(make_model(30, 30, 30)));
  const process_result result = run_process(program, {folder / "in.csv", folder / "out.xml"});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.standard_error, "");
  EXPECT_EQ(read_file(folder / "out.xml"), document_for(model));
  EXPECT_EQ(entries(folder.path), (std::vector<std::string>{"in.csv", "out.xml"}));

  // In place: the input itself becomes the document.
  const process_result in_place = run_process(program, {folder / "in.csv", folder / "in.csv"});
  EXPECT_EQ(in_place.exit_status, 0);
  EXPECT_EQ(read_file(folder / "in.csv"), document_for(model));
}

TEST(Replacing, PermissionBitsAndOwnerAreKept) {
  scratch_folder folder;
  write_file(folder / "in.csv", make_model(3, 2, 2));
  for (const unsigned mode : {0600u, 0640u, 0604u, 0664u, 0755u, 0700u}) {
    SCOPED_TRACE(mode);
    write_file(folder / "out.xml", old_document);
    chmod((folder / "out.xml").c_str(), mode);
    const process_result result = run_process(program, {folder / "in.csv", folder / "out.xml"});
    EXPECT_EQ(result.exit_status, 0) << result.standard_error;
    EXPECT_EQ(mode_of(folder / "out.xml"), mode);
  }
  if (geteuid() == 0) {
    // Only root can give a file to someone else, so only root can keep it theirs.
    ASSERT_EQ(chown((folder / "out.xml").c_str(), 65534, 65534), 0);
    const process_result result = run_process(program, {folder / "in.csv", folder / "out.xml"});
    EXPECT_EQ(result.exit_status, 0);
    struct stat status {};
    ASSERT_EQ(stat((folder / "out.xml").c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, 65534u);
    EXPECT_EQ(status.st_gid, 65534u);
  }
}

// The program as an ordinary user runs it: as nobody when the tests run as
// root. nobody gets a copy of the program in a folder anyone may enter, since
// the build tree may lie in a folder that only its owner may enter (a clone
// in /root or in a mktemp -d folder). `why_not` says why nobody cannot run
// it on the given files, when that is so.
struct unprivileged_program {
  explicit unprivileged_program(const std::vector<std::string>& reachable) {
    if (geteuid() != 0) return;
    path = home / "cubewright";
    write_file(path, read_file(program));
    chmod(home.path.c_str(), 0755);
    chmod(path.c_str(), 0755);
    for (const std::string& needed : reachable) {
      if (!nobody_can_reach(needed)) {
        why_not = "nobody (uid 65534) cannot reach " + needed + " from here";
        return;
      }
    }
    if (!nobody_can_reach(path)) {
      why_not = "nobody (uid 65534) cannot reach a copy of the program made in " + home.path +
                ": set TMPDIR to a folder that everyone may enter";
    }
  }

  // Whether nobody may open `target` (a folder to write in, or a file to run
  // or read), tried in a child process that becomes nobody.
  static bool nobody_can_reach(const std::string& target) {
    struct stat status {};
    if (stat(target.c_str(), &status) != 0) return false;
    const int wanted = S_ISDIR(status.st_mode)   ? W_OK | X_OK
                       : (status.st_mode & 0111) ? X_OK
                                                 : R_OK;
    const pid_t child = fork();
    if (child == 0) {
      if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
      _exit(access(target.c_str(), wanted) == 0 ? 0 : 1);
    }
    int outcome = 0;
    return child > 0 && waitpid(child, &outcome, 0) == child && WIFEXITED(outcome) &&
           WEXITSTATUS(outcome) == 0;
  }

  process_result run(const std::vector<std::string>& arguments) const {
    if (geteuid() != 0) return run_process(program, arguments);
    scratch_folder capture;
    const std::string error_path = capture / "stderr";
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    process_result result;
    const pid_t child = fork();
    if (child == 0) {
      const int error_fd = open(error_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(error_fd, 2);
      if (chdir("/") != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(126);
      execv(path.c_str(), argv.data());
      _exit(127);
    }
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
      result.exit_status = WEXITSTATUS(status);
    }
    result.standard_error = read_file(error_path);
    return result;
  }

  scratch_folder home;
  std::string path;
  std::string why_not;
};

TEST(Replacing, FileTheUserMayNotWriteIsNotReplaced) {
  scratch_folder folder;
  // The folder is open to all, so only the file's own mode protects it.
  chmod(folder.path.c_str(), 0777);
  write_file(folder / "in.csv", make_model(3, 2, 2));
  write_file(folder / "locked.xml", old_document);
  chmod((folder / "locked.xml").c_str(), 0444);
  // Refused alike for root, whom the system would let write it.
  const process_result as_root = run_process(program, {folder / "in.csv", folder / "locked.xml"});
  const std::string refusal =
      "cubewright: will not replace " + folder / "locked.xml" + ": it is read-only\n";
  EXPECT_EQ(as_root.standard_error, refusal);
  expect_clean_failure(as_root, folder / "locked.xml", old_document, folder.path,
                       {"in.csv", "locked.xml"});
  const unprivileged_program user({folder.path, folder / "in.csv"});
  if (!user.why_not.empty()) GTEST_SKIP() << user.why_not;
  const process_result result = user.run({folder / "in.csv", folder / "locked.xml"});
  EXPECT_EQ(result.standard_error, refusal);
  expect_clean_failure(result, folder / "locked.xml", old_document, folder.path,
                       {"in.csv", "locked.xml"});
  EXPECT_EQ(mode_of(folder / "locked.xml"), 0444u);
}

TEST(Replacing, NewFileGetsTheUsualModeForTheUmask) {
  scratch_folder folder;
  write_file(folder / "in.csv", make_model(3, 2, 2));
  const mode_t original = umask(022);
  for (const mode_t mask : {022u, 027u, 077u, 002u, 0u}) {
    SCOPED_TRACE(mask);
    umask(mask);
    const std::string output = folder / ("new" + std::to_string(mask) + ".xml");
    const process_result result = run_process(program, {folder / "in.csv", output});
    EXPECT_EQ(result.exit_status, 0) << result.standard_error;
    EXPECT_EQ(mode_of(output), 0666u & ~mask);
  }
  umask(original);
}

TEST(Replacing, SymbolicLinkStaysALinkAndItsTargetIsReplaced) {
  scratch_folder folder;
  const std::string model = make_model(4, 3, 2);
  write_file(folder / "in.csv", model);
  mkdir((folder / "real").c_str(), 0755);
  write_file(folder / "real/target.xml", old_document);
  chmod((folder / "real/target.xml").c_str(), 0640);
  ASSERT_EQ(symlink("real/target.xml", (folder / "relative.xml").c_str()), 0);
  ASSERT_EQ(symlink((folder / "relative.xml").c_str(), (folder / "chained.xml").c_str()), 0);
  ASSERT_EQ(symlink("real/new.xml", (folder / "dangling.xml").c_str()), 0);

  for (const char* link : {"relative.xml", "chained.xml"}) {
    SCOPED_TRACE(link);
    write_file(folder / "real/target.xml", old_document);
    const process_result result = run_process(program, {folder / "in.csv", folder / link});
    EXPECT_EQ(result.exit_status, 0) << result.standard_error;
    struct stat status {};
    ASSERT_EQ(lstat((folder / link).c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    EXPECT_EQ(read_file(folder / "real/target.xml"), document_for(model));
    EXPECT_EQ(mode_of(folder / "real/target.xml"), 0640u);
  }
  const process_result result = run_process(program, {folder / "in.csv", folder / "dangling.xml"});
  EXPECT_EQ(result.exit_status, 0) << result.standard_error;
  EXPECT_EQ(read_file(folder / "real/new.xml"), document_for(model));
  EXPECT_EQ(entries(folder.path), (std::vector<std::string>{"chained.xml", "dangling.xml", "in.csv",
                                                            "real", "relative.xml"}));
  EXPECT_EQ(entries(folder / "real"), (std::vector<std::string>{"new.xml", "target.xml"}));
}

TEST(Devices, WriteErrorOnADeviceIsReported) {
  scratch_folder folder;
  write_file(folder / "in.csv", make_model(4, 3, 2));
  // A private node of the device that is always full.
  const std::string full = folder / "full";
  if (mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) {
    GTEST_SKIP() << "making a device node needs root (CI runs as root): " << std::strerror(errno);
  }
  const int probe = open(full.c_str(), O_WRONLY);
  if (probe < 0) GTEST_SKIP() << "device nodes cannot be opened here: " << std::strerror(errno);
  close(probe);
  const process_result result = run_process(program, {folder / "in.csv", full});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.standard_error,
            error_line("cannot write output", full, "No space left on device"));
  struct stat status {};
  ASSERT_EQ(lstat(full.c_str(), &status), 0);
  EXPECT_TRUE(S_ISCHR(status.st_mode));
  EXPECT_EQ(entries(folder.path), (std::vector<std::string>{"full", "in.csv"}));
}

TEST(Devices, NamedPipeIsWrittenInto) {
  scratch_folder folder;
  const std::string model = make_model(20, 10, 10);
  write_file(folder / "in.csv", model);
  const std::string pipe = folder / "pipe";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
  std::string received;
  std::thread reader([&] { received = read_file(pipe); });
  const process_result result = run_process(program, {folder / "in.csv", pipe});
  // Releases the reader even if the program never opened the pipe.
  const int unblock = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
  if (unblock >= 0) close(unblock);
  reader.join();
  EXPECT_EQ(result.exit_status, 0) << result.standard_error;
  EXPECT_EQ(received, document_for(model));
  struct stat status {};
  ASSERT_EQ(lstat(pipe.c_str(), &status), 0);
  EXPECT_TRUE(S_ISFIFO(status.st_mode));
}

TEST(Devices, StandardOutputIsWrittenIntoAsOpened) {
  scratch_folder folder;
  const std::string model = make_model(4, 3, 2);
  write_file(folder / "in.csv", model);
  const std::string document = document_for(model);
  // Into a pipe, which has no name to replace.
  const process_result piped = run_shell("\"$0\" \"$1\" /dev/stdout | cat", {folder / "in.csv"});
  EXPECT_EQ(piped.standard_error, "");
  EXPECT_EQ(piped.standard_output, document);
  // Into a file the shell opened for appending: what it held stays.
  write_file(folder / "log.txt", "first\n");
  const process_result appended =
      run_shell("\"$0\" \"$1\" /dev/stdout >> \"$2\"", {folder / "in.csv", folder / "log.txt"});
  EXPECT_EQ(appended.exit_status, 0) << appended.standard_error;
  EXPECT_EQ(read_file(folder / "log.txt"), "first\n" + document);
  // The same through /dev/fd.
  const process_result numbered =
      run_shell("\"$0\" \"$1\" /dev/fd/3 3>> \"$2\"", {folder / "in.csv", folder / "log.txt"});
  EXPECT_EQ(numbered.exit_status, 0) << numbered.standard_error;
  EXPECT_EQ(read_file(folder / "log.txt"), "first\n" + document + document);
}

TEST(Devices, InputFromAPipeIsReadToItsEnd) {
  // Larger than the first read buffer, so the buffer has to grow.
  const std::string model = read_file(std::string(CUBEWRIGHT_TEST_DATA) + "/rgb.csv");
  scratch_folder folder;
  write_file(folder / "in.csv", model);
  const process_result result =
      run_shell("cat \"$1\" | \"$0\" /dev/stdin \"$2\"", {folder / "in.csv", folder / "out.xml"});
  EXPECT_EQ(result.exit_status, 0) << result.standard_error;
  EXPECT_TRUE(read_file(folder / "out.xml") == document_for(model));
}

TEST(FullDisk, OriginalsSurviveInPlaceAndOverAnExistingOutput) {
  small_disk disk;
  if (!disk.mounted) GTEST_SKIP() << disk.why_not;
  // About 20 KB of model whose document needs about 140 KB.
  const std::string model = make_model(20, 10, 10);
  const std::string old_document = document_for(make_model(6, 4, 3));
  write_file(disk / "model.csv", model);
  write_file(disk / "old.xml", old_document);
  const std::vector<std::string> old_entries = entries(disk.path);

  const process_result over = run_process(program, {disk / "model.csv", disk / "old.xml"});
  EXPECT_EQ(over.standard_error,
            error_line("cannot write output", disk / "old.xml", "No space left on device"));
  expect_clean_failure(over, disk / "old.xml", old_document, disk.path, old_entries);

  const process_result in_place = run_process(program, {disk / "model.csv", disk / "model.csv"});
  EXPECT_EQ(in_place.standard_error,
            error_line("cannot write output", disk / "model.csv", "No space left on device"));
  expect_clean_failure(in_place, disk / "model.csv", model, disk.path, old_entries);

  // The disk itself works: a document that fits is written.
  write_file(disk / "small.csv", make_model(3, 2, 2));
  const process_result fits = run_process(program, {disk / "small.csv", disk / "small.csv"});
  EXPECT_EQ(fits.exit_status, 0) << fits.standard_error;
  EXPECT_EQ(read_file(disk / "small.csv"), document_for(make_model(3, 2, 2)));
}

// Bytes used on the disk at `path`.
std::uint64_t used_bytes(const std::string& path) {
  struct statvfs disk {};
  if (statvfs(path.c_str(), &disk) != 0) return 0;
  return static_cast<std::uint64_t>(disk.f_blocks - disk.f_bfree) * disk.f_frsize;
}

// Writes `size` bytes of `byte` a MiB at a time and commits them; the
// failure's text, or "written". `used_before_commit` gets the bytes used on
// `disk` just before the commit.
std::string write_in_mib(const std::string& path, std::size_t size, char byte,
                         std::uint64_t* used_before_commit = nullptr,
                         const std::string& disk = "") {
  cubewright::output_file file;
  cubewright::io_failure failure;
  if (!cubewright::open_output_file(path, file, failure)) return failure.what;
  const std::string mib(1 << 20, byte);
  for (std::size_t done = 0; done < size; done += mib.size()) {
    if (!cubewright::write_output_file(file, mib.data(), std::min(mib.size(), size - done),
                                       failure)) {
      cubewright::discard_output_file(file);
      return failure.what;
    }
  }
  if (used_before_commit != nullptr) *used_before_commit = used_bytes(disk);
  if (!cubewright::commit_output_file(file, failure)) return failure.what;
  return "written";
}

TEST(FullDisk, RoomSetAsideAheadIsGivenBackAndNeverRefusesWhatFits) {
  {
    small_disk disk("16m");
    if (!disk.mounted) GTEST_SKIP() << disk.why_not;
    const std::size_t size = (9 << 19) + 5;  // 4.5 MiB and a little
    std::uint64_t used_while_writing = 0;
    ASSERT_EQ(write_in_mib(disk / "a.csv", size, 'a', &used_while_writing, disk.path), "written");
    EXPECT_GE(used_while_writing, std::uint64_t{8} << 20) << "room set aside up to 8 MiB";
    EXPECT_TRUE(read_file(disk / "a.csv") == std::string(size, 'a'));
    EXPECT_LT(used_bytes(disk.path), std::uint64_t{5} << 20) << "and given back";
  }
  // A disk with less room than is asked for still takes what fits.
  small_disk disk("3m");
  const std::size_t size = 5 << 19;  // 2.5 MiB
  ASSERT_EQ(write_in_mib(disk / "b.csv", size, 'b'), "written");
  EXPECT_TRUE(read_file(disk / "b.csv") == std::string(size, 'b'));
}

TEST(FullDisk, ExportLargerThanTheDiskFailsCleanly) {
  small_disk disk("3m");
  if (!disk.mounted) GTEST_SKIP() << disk.why_not;
  // Two voxels at opposite corners of a box of 100 x 40 x 100 cells: a CSV
  // of 4 MB from a document of a few lines.
  const std::string document =
      "<model>\n<voxels>\n"
      "<voxel x=\"0\" y=\"0\" z=\"0\" r=\"0.5\" g=\"0.5\" b=\"0.5\" a=\"1.0\" />\n"
      "<voxel x=\"99\" y=\"39\" z=\"99\" r=\"0.5\" g=\"0.5\" b=\"0.5\" a=\"1.0\" />\n"
      "</voxels>\n</model>\n";
  write_file(disk / "model.xml", document);
  write_file(disk / "old.csv", make_model(2, 2, 2));
  const std::vector<std::string> old_entries = entries(disk.path);
  const std::uint64_t used_before = used_bytes(disk.path);
  const process_result over =
      run_process(program, {"--to", "csv", disk / "model.xml", disk / "old.csv"});
  EXPECT_EQ(over.standard_error,
            error_line("cannot write output", disk / "old.csv", "No space left on device"));
  expect_clean_failure(over, disk / "old.csv", make_model(2, 2, 2), disk.path, old_entries);
  EXPECT_EQ(used_bytes(disk.path), used_before) << "nothing left behind";
}

TEST(FullDisk, ReadOnlyMountKeepsEverything) {
  small_disk disk;
  if (!disk.mounted) GTEST_SKIP() << disk.why_not;
  const std::string model = make_model(4, 3, 2);
  write_file(disk / "model.csv", model);
  write_file(disk / "old.xml", old_document);
  ASSERT_TRUE(disk.remount_read_only()) << std::strerror(errno);
  const std::vector<std::string> old_entries = entries(disk.path);

  const process_result over = run_process(program, {disk / "model.csv", disk / "old.xml"});
  EXPECT_EQ(over.standard_error,
            error_line("cannot open output", disk / "old.xml", "Read-only file system"));
  expect_clean_failure(over, disk / "old.xml", old_document, disk.path, old_entries);

  const process_result in_place = run_process(program, {disk / "model.csv", disk / "model.csv"});
  expect_clean_failure(in_place, disk / "model.csv", model, disk.path, old_entries);

  const process_result fresh = run_process(program, {disk / "model.csv", disk / "new.xml"});
  EXPECT_EQ(fresh.exit_status, 1);
  EXPECT_EQ(fresh.standard_error,
            error_line("cannot create output", disk / "new.xml", "Read-only file system"));
  EXPECT_EQ(entries(disk.path), old_entries);
}

TEST(FullDisk, FileSizeLimitIsReportedNotFatal) {
  scratch_folder folder;
  write_file(folder / "in.csv", make_model(20, 10, 10));
  write_file(folder / "out.xml", old_document);
  const std::vector<std::string> old_entries = entries(folder.path);
  // A limit of a few 512-byte blocks, far below the document's size.
  const process_result result = run_shell("ulimit -f 4 && exec \"$0\" \"$1\" \"$2\"",
                                          {folder / "in.csv", folder / "out.xml"});
  EXPECT_EQ(result.standard_error,
            error_line("cannot write output", folder / "out.xml", "File too large"));
  expect_clean_failure(result, folder / "out.xml", old_document, folder.path, old_entries);

  // Room asked for past the limit is refused, and a document within it is
  // written as before: about 1.3 MB under a limit of 1.5 MiB.
  write_file(folder / "in.csv", make_model(40, 20, 23));
  const process_result within = run_shell("ulimit -f 3072 && exec \"$0\" \"$1\" \"$2\"",
                                          {folder / "in.csv", folder / "out.xml"});
  EXPECT_EQ(within.exit_status, 0) << within.standard_error;
  const std::string written = read_file(folder / "out.xml");
  EXPECT_GT(written.size(), std::size_t{1} << 20);
  EXPECT_TRUE(written == document_for(make_model(40, 20, 23)));
}

// One conversion for the fault injector: the input's name and text, the
// output's name, the options before them and the output a clean run writes.
struct injected_case {
  std::string input_name = "model.csv";
  std::string input_text;
  std::string output_name = "model.xml";
  std::vector<std::string> options;
  std::string expected;
};

injected_case csv_to_document(const std::string& model) {
  injected_case c;
  c.input_text = model;
  c.expected = document_for(model);
  return c;
}

// Runs `c` with the injection library counting calls, then once more for
// every count k with the k-th call failing; `extra` adds settings to every
// run. Returns how many calls a whole conversion makes.
long fail_at_every_call(const injected_case& c, bool in_place, const settings& extra,
                        const std::string& error_text) {
  scratch_folder folder;
  scratch_folder counter;
  const std::string input = folder / c.input_name;
  const std::string output = in_place ? input : folder / c.output_name;
  // An existing output of the kind written, which a run may replace.
  const bool export_written =
      c.output_name.size() > 4 && c.output_name.compare(c.output_name.size() - 4, 4, ".csv") == 0;
  const std::string old_contents = in_place         ? c.input_text
                                   : export_written ? make_model(2, 1, 1)
                                                    : old_document;
  std::vector<std::string> arguments = c.options;
  arguments.push_back(input);
  arguments.push_back(output);
  const auto reset = [&] {
    write_file(input, c.input_text);
    if (!in_place) write_file(output, old_contents);
  };

  reset();
  const std::vector<std::string> old_entries = entries(folder.path);
  settings counting = extra;
  counting.emplace_back("CUBEWRIGHT_FAULT_COUNT", counter / "count");
  const process_result clean = run_injected(counting, arguments);
  EXPECT_EQ(clean.exit_status, 0) << clean.standard_error;
  EXPECT_TRUE(read_file(output) == c.expected) << "short writes changed the output";
  const long calls = std::strtol(read_file(counter / "count").c_str(), nullptr, 10);
  EXPECT_GT(calls, 3);

  for (long k = 1; k <= calls + 1; ++k) {
    SCOPED_TRACE("failing call " + std::to_string(k) + " of " + std::to_string(calls));
    reset();
    settings failing = extra;
    failing.emplace_back("CUBEWRIGHT_FAULT_AT", std::to_string(k));
    const process_result result = run_injected(failing, arguments);
    if (k > calls) {
      EXPECT_EQ(result.exit_status, 0) << result.standard_error;
      EXPECT_TRUE(read_file(output) == c.expected) << "wrong output";
      EXPECT_EQ(entries(folder.path), old_entries);
    } else {
      expect_clean_failure(result, output, old_contents, folder.path, old_entries);
      EXPECT_NE(result.standard_error.find(": " + error_text + "\n"), std::string::npos)
          << result.standard_error;
    }
    if (testing::Test::HasFailure()) break;
  }
  return calls;
}

long fail_at_every_call(const std::string& model, bool in_place, const settings& extra,
                        const std::string& error_text) {
  return fail_at_every_call(csv_to_document(model), in_place, extra, error_text);
}

// Fails every call of conversion `c` to a new output with an I/O error,
// then every call of one in place with a full disk; returns how many calls
// the first makes.
long fail_every_call_both_ways(const injected_case& c, const settings& extra) {
  const long calls = fail_at_every_call(c, false, extra, "Input/output error");
  settings disk_full = extra;
  disk_full.emplace_back("CUBEWRIGHT_FAULT_ERRNO", std::to_string(ENOSPC));
  fail_at_every_call(c, true, disk_full, "No space left on device");
  return calls;
}

long fail_every_call_both_ways(const std::string& model, const settings& extra) {
  return fail_every_call_both_ways(csv_to_document(model), extra);
}

TEST(InjectedFault, EveryCallFailingKeepsTheOldOutput) {
  // A document of about 1.3 MiB, formatted and written in turn: more than
  // one block of the writer, and, with writes cut to 32 KiB, dozens of
  // write calls.
  EXPECT_GT(
      fail_every_call_both_ways(make_model(30, 30, 24), {{"CUBEWRIGHT_WRITE_LIMIT", "32768"}}), 40);
}

TEST(InjectedFault, WithAWritingThreadEveryCallFailingKeepsTheOldOutput) {
  // A document placed again is formatted while a second thread writes each
  // finished block: a failure on that thread stops the run the same way.
  const std::string model = make_model(30, 30, 24);
  injected_case placed;
  placed.input_name = "model.xml";
  placed.input_text = document_for(model);
  placed.output_name = "placed.xml";
  placed.options = {"--mirror", "y"};
  placed.expected = document_for(model, {0, 0, 0, 1, -1, 1});
  EXPECT_GT(fail_every_call_both_ways(placed, {{"CUBEWRIGHT_WRITE_LIMIT", "32768"}}), 40);
}

TEST(InjectedFault, TwoFormattingThreadsKeepTheOldOutput) {
  // Large enough for the document to be formatted by two threads that write
  // in turn: a failure in either thread's write stops both.
  const std::string model = make_sparse_model(160, 40, 160);
  ASSERT_GE(model.size(), cubewright::tuning::min_two_formatting_csv);
  EXPECT_GT(fail_every_call_both_ways(model, {{"CUBEWRIGHT_WRITE_LIMIT", "262144"}}), 10);
}

TEST(InjectedFault, WithoutThreadsEveryCallFailingKeepsTheOldOutput) {
  // A run that cannot start its threads formats every piece of a large
  // document on one: the same document, the same failures.
  const std::string model = make_sparse_model(160, 40, 160);
  EXPECT_GT(fail_every_call_both_ways(
                model, {{"CUBEWRIGHT_NO_THREADS", "1"}, {"CUBEWRIGHT_WRITE_LIMIT", "262144"}}),
            10);
}

TEST(InjectedFault, PictureDrawnWithoutAThreadIsTheSame) {
  // The picture is drawn on a thread of its own while the document is
  // written, or after it when no thread can be started.
  scratch_folder folder;
  write_file(folder / "model.csv", make_model(20, 12, 9));
  std::string pictures[2];
  std::string documents[2];
  for (int threads = 0; threads < 2; ++threads) {
    const settings setting = {{"CUBEWRIGHT_NO_THREADS", threads == 0 ? "1" : "0"}};
    const process_result result =
        run_injected(setting, {"--preview", folder / "model.png", "--mirror", "x",
                               folder / "model.csv", folder / "model.xml", "3", "-1", "2"});
    ASSERT_EQ(result.exit_status, 0) << result.standard_error;
    pictures[threads] = read_file(folder / "model.png");
    documents[threads] = read_file(folder / "model.xml");
  }
  EXPECT_EQ(pictures[0].substr(0, 8), "\x89PNG\r\n\x1a\n");
  EXPECT_TRUE(pictures[0] == pictures[1]);
  EXPECT_TRUE(documents[0] == documents[1]);
}

TEST(InjectedFault, TinyWritesStillGiveTheWholeDocument) {
  // Writes of a few bytes each, every one of them a possible point of failure.
  fail_at_every_call(make_model(3, 3, 2), false, {{"CUBEWRIGHT_WRITE_LIMIT", "7"}},
                     "Input/output error");
}

TEST(InjectedFault, EveryCallFailingKeepsTheOldOutputOnTheWayBack) {
  const std::string model = make_model(30, 30, 24);
  const settings short_writes = {{"CUBEWRIGHT_WRITE_LIMIT", "32768"}};
  injected_case to_csv;
  to_csv.input_name = "model.xml";
  to_csv.input_text = document_for(model);
  to_csv.output_name = "model.csv";
  to_csv.options = {"--to", "csv"};
  to_csv.expected = model_export(model);
  EXPECT_GT(fail_at_every_call(to_csv, false, short_writes, "Input/output error"), 5);

  injected_case replaced = csv_to_document(model);
  replaced.input_name = "model.xml";
  replaced.input_text = document_for(model);
  replaced.output_name = "placed.xml";
  replaced.options = {"--mirror", "y"};
  replaced.expected = document_for(model, {0, 0, 0, 1, -1, 1});
  fail_at_every_call(replaced, false, short_writes, "Input/output error");
}

TEST(InjectedFault, DiskFullAfterAnyNumberOfBytes) {
  const std::string model = make_model(30, 30, 24);
  const std::string document = document_for(model);
  scratch_folder folder;
  const std::string input = folder / "model.csv";
  const std::string output = folder / "model.xml";
  const std::size_t size = document.size();
  for (const std::size_t room :
       {std::size_t{0}, std::size_t{1}, std::size_t{4095}, std::size_t{1} << 20,
        (std::size_t{1} << 20) + 1, size / 2, size - 1, size}) {
    SCOPED_TRACE("room for " + std::to_string(room) + " of " + std::to_string(size) + " bytes");
    write_file(input, model);
    write_file(output, old_document);
    const process_result result =
        run_injected({{"CUBEWRIGHT_FAULT_AFTER_BYTES", std::to_string(room)},
                      {"CUBEWRIGHT_WRITE_LIMIT", "65536"}},
                     {input, output});
    if (room < size) {
      EXPECT_EQ(result.standard_error,
                error_line("cannot write output", output, "No space left on device"));
      expect_clean_failure(result, output, old_document, folder.path, {"model.csv", "model.xml"});
    } else {
      EXPECT_EQ(result.exit_status, 0) << result.standard_error;
      EXPECT_TRUE(read_file(output) == document);
    }
  }
}

// Starts the program with the injection library, not waiting for it. Its
// standard error goes to `error_path`.
pid_t start_injected(const settings& values, const std::vector<std::string>& arguments,
                     const std::string& error_path = "/dev/null") {
  const environment_scope scope(with_injection(values));
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    const rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    const int null_fd = open("/dev/null", O_RDWR);
    const int error_fd = open(error_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(null_fd, 0);
    dup2(null_fd, 1);
    dup2(error_fd, 2);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return child;
}

// Waits up to half a minute for a file to appear.
bool wait_for_file(const std::string& path) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!file_exists(path) && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return file_exists(path);
}

TEST(InjectedFault, InputCutShortWhileItIsReadIsReported) {
  // The first write comes when the writer's first block is full, with about
  // three quarters of the input read; the rest is gone when it goes on. The
  // blocks are written in turn here: a writing thread lets the formatting run
  // blocks ahead, past the whole of this small input, before the pause.
  const std::string model = make_model(30, 30, 24);
  for (const bool in_place : {false, true}) {
    for (const off_t kept : {off_t{0}, off_t{4096}}) {
      SCOPED_TRACE(std::string(in_place ? "in place, " : "") + std::to_string(kept) + " kept");
      scratch_folder folder;
      scratch_folder marks;
      const std::string input = folder / "model.csv";
      const std::string output = in_place ? input : folder / "model.xml";
      write_file(input, model);
      if (!in_place) write_file(output, old_document);
      const std::vector<std::string> old_entries = entries(folder.path);
      const pid_t child = start_injected({{"CUBEWRIGHT_NO_THREADS", "1"},
                                          {"CUBEWRIGHT_PAUSE_AT", "2"},
                                          {"CUBEWRIGHT_PAUSE_MARK", marks / "paused"},
                                          {"CUBEWRIGHT_RESUME_MARK", marks / "resume"}},
                                         {input, output}, marks / "stderr");
      ASSERT_GT(child, 0);
      EXPECT_TRUE(wait_for_file(marks / "paused"));
      EXPECT_EQ(entries(folder.path).size(), old_entries.size() + 1) << "no temporary file";
      ASSERT_EQ(truncate(input.c_str(), kept), 0) << std::strerror(errno);
      write_file(marks / "resume", "");
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
      EXPECT_EQ(WEXITSTATUS(status), 1);
      EXPECT_EQ(
          read_file(marks / "stderr"),
          error_line("cannot read input", input, "the file was changed while it was being read"));
      EXPECT_EQ(entries(folder.path), old_entries);
      if (!in_place) {
        EXPECT_EQ(read_file(output), old_document);
      }
    }
  }
}

TEST(Interrupted, SignalDuringWritingLeavesNoTemporaryFile) {
  const std::string model = make_model(30, 30, 24);
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(strsignal(signal_number));
    scratch_folder folder;
    scratch_folder marks;
    const std::string input = folder / "model.csv";
    const std::string output = folder / "model.xml";
    write_file(input, model);
    write_file(output, old_document);
    // Call 1 creates the temporary file; the writer stops in its tenth write.
    const pid_t child = start_injected({{"CUBEWRIGHT_WRITE_LIMIT", "4096"},
                                        {"CUBEWRIGHT_PAUSE_AT", "11"},
                                        {"CUBEWRIGHT_PAUSE_MARK", marks / "paused"}},
                                       {input, output});
    ASSERT_GT(child, 0);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!file_exists(marks / "paused") && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(file_exists(marks / "paused"));
    EXPECT_EQ(entries(folder.path).size(), 3u) << "no temporary file while writing";
    kill(child, signal_number);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status));
    if (WIFSIGNALED(status)) {
      EXPECT_EQ(WTERMSIG(status), signal_number);
    }
    EXPECT_EQ(entries(folder.path), (std::vector<std::string>{"model.csv", "model.xml"}));
    EXPECT_EQ(read_file(output), old_document);
  }
}

}  // namespace
