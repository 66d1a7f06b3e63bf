// Everything that differs between operating systems: arguments, reading the
// input, writing the output safely, line ends, console text and a console
// window that must stay open. Paths and texts are UTF-8 throughout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cubewright {

/// The line end of text documents on this platform: LF, or CR LF on Windows.
extern const std::string_view native_line_end;

/// What went wrong with a file: what failed ("cannot open input") and the
/// system's reason ("No such file or directory").
struct io_failure {
  std::string what;
  std::string reason;
};

/// The arguments after the program name, as UTF-8.
std::vector<std::string> command_line_arguments(int argc, char** argv);

/// Reads a whole file in binary. On failure `contents` is unspecified.
bool read_whole_file(const std::string& path, std::string& contents, io_failure& failure);

/// A whole input file in memory, read-only, in one piece: mapped where the
/// system can map it (no copy, no allocation), read into `contents` otherwise.
/// `text` stays valid until close_input_file, also when the path is replaced
/// meanwhile (a conversion in place). A mapped file that another program cuts
/// short while it is open ends the process when the lost part is read, as any
/// failure ends it: the temporary output is removed, the line
/// `cubewright: cannot read input: PATH: the file was changed while it was
/// being read` goes to standard error, and the exit status is 1. Not to be
/// copied: `text` may point into `contents`.
struct input_file {
  std::string_view text;
  std::string contents;
  void* mapping = nullptr;
  std::size_t mapped_size = 0;
  int descriptor = -1;  // a mapped file's, open until close_input_file
};

/// Opens `path` as above. On failure `file` holds no text.
bool open_input_file(const std::string& path, input_file& file, io_failure& failure);

/// Releases the text. Safe to call more than once.
void close_input_file(input_file& file);

/// Copies `size` bytes of a mapped input from `offset` on into `out`,
/// through the system's file cache rather than through the mapping: each
/// page of a mapping first touched costs a fault, and on some machines that
/// costs more than copying the page into a small buffer used again and
/// again. False for an input that is not mapped (Windows, pipes), and when
/// the file no longer holds those bytes (another program cut it short).
bool read_input_range(const input_file& file, std::size_t offset, char* out, std::size_t size);

/// An output being written. A regular file (or a path that does not exist
/// yet) is written to a temporary file beside it, which replaces it in one
/// step on commit; symbolic links are followed, so the file they point to is
/// replaced. Devices and pipes are written straight into.
///
/// Where the system can (Linux), room for a temporary file past its first
/// MiB is set aside a few MiB ahead of the writes: writing into room set
/// aside costs the system less than finding room page by page. The file
/// keeps exactly the bytes written, and room the system refuses changes
/// nothing: the bytes are written as they would have been.
struct output_file {
  std::intptr_t handle = -1;
  std::string target_path;     // the file that is replaced, links resolved
  std::string temp_path;       // empty when written straight into
  std::uint64_t written = 0;   // bytes written so far
  std::uint64_t room_end = 0;  // room asked for up to here; 0: never asked
};

/// Opens `path` for writing as above. The old file, if any, is untouched
/// until commit_output_file succeeds.
bool open_output_file(const std::string& path, output_file& file, io_failure& failure);

/// Writes all of the bytes or fails.
bool write_output_file(output_file& file, const char* data, std::size_t size, io_failure& failure);

/// Closes the file and puts it in place of the old one. On failure the
/// temporary file is gone and the old file is as it was.
bool commit_output_file(output_file& file, io_failure& failure);

/// Closes the file and removes the temporary file; the old file stays as it
/// was. Safe to call more than once.
void discard_output_file(output_file& file);

/// Writes all of `text` to standard output as it is (line ends included), or
/// fails with "cannot write the usage text" and the system's reason.
bool write_standard_output(std::string_view text, io_failure& failure);

/// Writes one line, and a line end, to standard error, readable on a console.
void print_error_line(std::string_view text);

/// Writes one line, and a line end, to standard output, readable on a
/// console. False when it could not be written.
bool print_output_line(std::string_view text);

/// Reads at most `size` bytes from the start of an existing regular file
/// (links followed). False when there is no such file or it cannot be read.
bool read_file_start(const std::string& path, std::size_t size, std::string& start);

/// True when `path` names an existing file that may not be written: without
/// its owner's write permission, or with the read-only attribute on Windows.
/// Said the same way for every user, root included.
bool is_read_only(const std::string& path);

/// Asks a yes-or-no question on standard error and reads the answer, one
/// line, from standard input (the console's keyboard on a console of its
/// own): true only for an answer that begins with y or Y.
bool ask_yes_no(std::string_view question);

/// True when `path` names a standard stream (/dev/stdout, /dev/fd/N), which
/// is written into as it was opened, never replaced.
bool names_standard_stream(const std::string& path);

/// True when both paths name one existing file, however they name it.
bool same_file(const std::string& first, const std::string& second);

/// True when an output at `path` is sure to be written to a temporary file
/// and put in place only at the end: no file there yet, or a regular one,
/// and no standard stream. False when in doubt (a device or a pipe is
/// written straight into, and on Windows only opening one tells).
bool replaced_at_the_end(const std::string& path);

/// What the program can learn about the console it runs in.
struct console_facts {
  /// Processes attached to the console, the program included; 0 when it has
  /// none. 1 means the console was made for the program alone, as when it is
  /// started from Explorer or a file is dropped on it: the window closes with
  /// the program.
  unsigned attached_processes = 0;
  /// Standard input, output and error all are that console, none redirected.
  bool streams_on_console = false;
};

/// The facts of the process's console; on systems where a terminal outlives
/// the programs started in it, none (no console of its own).
console_facts current_console();

/// True for a console made for the program alone, as when it is started by
/// a double click or by files dropped on it.
bool console_of_its_own(const console_facts& console);

/// The arguments a run takes: on a console of its own, file names (dropped
/// on the program) are converted each beside itself, asking before an
/// existing output is replaced, never taken as an input and an output.
std::vector<std::string> arguments_to_run(const console_facts& console,
                                          std::vector<std::string> arguments);

/// The line a console of its own shows after the usage text.
extern const std::string_view drop_hint;

/// True when the program must wait for a key before it ends, so that its
/// window stays open to be read: only on a console of its own with nothing
/// redirected, and only after the usage text (fewer than two arguments) or a
/// failure (a non-zero status). A run from cmd or a script shares its console
/// and never waits; neither does one whose streams are redirected.
bool should_wait_for_key(const console_facts& console, int status, std::size_t argument_count,
                         bool dropped = false);

/// On Windows, waits for a key when should_wait_for_key says so for the
/// process's console, saying so in one line first. Does nothing elsewhere.
void hold_console_if_own(int status, std::size_t argument_count, bool dropped = false);

}  // namespace cubewright
