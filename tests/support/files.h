// Scratch folders and whole-file reads and writes for tests.
#pragma once

#include <string>

namespace cubewright_test {

/// A new empty folder under the system's temporary folder, removed with all
/// its contents when the object goes.
struct scratch_folder {
  scratch_folder();
  ~scratch_folder();
  scratch_folder(const scratch_folder&) = delete;
  scratch_folder& operator=(const scratch_folder&) = delete;

  /// The path of `name` inside the folder.
  std::string operator/(const std::string& name) const;
  /// How many entries the folder holds.
  int entry_count() const;

  std::string path;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& contents);
bool file_exists(const std::string& path);
void make_folder(const std::string& path);

/// The path of a file in tests/data, and of one in examples/.
std::string test_data(const std::string& name);
std::string example(const std::string& name);

/// A document written with LF line ends, as the tool writes it on this
/// platform (CR LF on Windows).
std::string native_document(const std::string& lf_text);

}  // namespace cubewright_test
