#include "support/files.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace cubewright_test {
namespace fs = std::filesystem;

namespace {

fs::path to_path(const std::string& utf8) { return fs::u8path(utf8); }

}  // namespace

scratch_folder::scratch_folder() {
  static std::atomic<int> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  const fs::path folder = fs::temp_directory_path() / ("cubewright-test-" + std::to_string(stamp) +
                                                       "-" + std::to_string(counter++));
  fs::create_directories(folder);
  path = folder.u8string();
}

scratch_folder::~scratch_folder() {
  std::error_code ignored;
  fs::remove_all(to_path(path), ignored);
}

std::string scratch_folder::operator/(const std::string& name) const {
  return (to_path(path) / to_path(name)).u8string();
}

int scratch_folder::entry_count() const {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(to_path(path))) ++count;
  return count;
}

std::string read_file(const std::string& path) {
  std::ifstream in(to_path(path), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const std::string& path, const std::string& contents) {
  std::ofstream out(to_path(path), std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

bool file_exists(const std::string& path) {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(to_path(path), ignored));
}

void make_folder(const std::string& path) { fs::create_directories(to_path(path)); }

std::string native_document(const std::string& lf_text) {
  if (!CUBEWRIGHT_TEST_CRLF_DOCUMENTS) return lf_text;
  std::string text;
  for (char c : lf_text) {
    if (c == '\n') text += '\r';
    text += c;
  }
  return text;
}

std::string test_data(const std::string& name) {
  return std::string(CUBEWRIGHT_TEST_DATA) + "/" + name;
}

std::string example(const std::string& name) {
  return std::string(CUBEWRIGHT_EXAMPLES) + "/" + name;
}

}  // namespace cubewright_test
