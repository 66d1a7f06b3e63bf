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

/// An existing model document that a run may replace and a failed run must
/// leave as it was.
inline const std::string old_document =
    "<model>\n<voxels>\n<voxel x=\"9\" y=\"9\" z=\"9\" r=\"0\" g=\"0\" b=\"0\" a=\"1.0\" />\n"
    "</voxels>\n<skeleton />\n<skeletonVoxelBindings />\n</model>\n";

/// A document written with LF line ends, as the tool writes it on this
/// platform (CR LF on Windows).
std::string native_document(const std::string& lf_text);

}  // namespace cubewright_test
