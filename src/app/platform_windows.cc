// Windows side of the platform layer. Paths arrive as UTF-8 and go to the
// wide (UTF-16) API, so names outside the ANSI code page work.
#include <windows.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <utility>

#include "app/platform.h"
#include "app/windows_shared.h"

namespace cubewright {

const std::string_view native_line_end = "\r\n";

std::wstring to_wide(std::string_view text) {
  if (text.empty() || text.size() > INT_MAX) return std::wstring();
  const int length = static_cast<int>(text.size());
  const int needed = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  if (needed <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), length, &wide[0], needed);
  return wide;
}

std::string to_utf8(const wchar_t* text, std::size_t size) {
  if (size == 0 || size > INT_MAX) return std::string();
  const int length = static_cast<int>(size);
  const int needed = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::string();
  std::string utf8(static_cast<std::size_t>(needed), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, &utf8[0], needed, nullptr, nullptr);
  return utf8;
}

namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

// The wide form of a path for CreateFileW and friends. Paths too long for the
// classic limit get the extended-length prefix, which needs a full path.
std::wstring wide_path(const std::string& path) {
  std::wstring wide = to_wide(path);
  if (wide.size() < MAX_PATH - 12 || wide.compare(0, 4, L"\\\\?\\") == 0 ||
      wide.compare(0, 4, L"\\\\.\\") == 0) {
    return wide;
  }
  const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return wide;
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), needed, &full[0], nullptr);
  if (length == 0 || length >= needed) return wide;
  full.resize(length);
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

// The system's reason for an error, as one line without the final period,
// as the POSIX side gives it. English where the system has it.
std::string system_reason(DWORD error) {
  wchar_t buffer[512];
  const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  DWORD length = FormatMessageW(flags, nullptr, error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                buffer, 512, nullptr);
  if (length == 0) length = FormatMessageW(flags, nullptr, error, 0, buffer, 512, nullptr);
  if (length == 0) return "error " + std::to_string(error);
  std::string reason = to_utf8(buffer, length);
  for (char& c : reason) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  while (!reason.empty() && (reason.back() == ' ' || reason.back() == '.')) reason.pop_back();
  return reason;
}

}  // namespace

bool fail(io_failure& failure, const char* what, DWORD error) {
  failure.what = what;
  failure.reason = system_reason(error);
  return false;
}

namespace {

bool fail_directory(io_failure& failure, const char* what) {
  failure.what = what;
  failure.reason = "Is a directory";
  return false;
}

bool is_directory(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The temporary output that the console control handler must remove. The
// handler runs on a thread of its own, so the path is guarded by a lock; the
// handler never gives the lock back, so the run cannot put a file in place
// once the process is ending.
SRWLOCK pending_temp_lock = SRWLOCK_INIT;
// Never freed: the handler may still read it while the process ends.
std::wstring* pending_temp = nullptr;

BOOL WINAPI remove_temp_and_end(DWORD /*event*/) {
  AcquireSRWLockExclusive(&pending_temp_lock);
  // The temp file is open with FILE_SHARE_DELETE, so it goes away when the
  // process closes its handle.
  if (pending_temp != nullptr && !pending_temp->empty()) DeleteFileW(pending_temp->c_str());
  // Not handled here: the default handler ends the process with the status
  // that Ctrl-C or closing the console gives.
  return FALSE;
}

// Installed before the first temp file exists, so none can be missed.
void install_control_handler() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  AcquireSRWLockExclusive(&pending_temp_lock);
  pending_temp = new std::wstring;
  ReleaseSRWLockExclusive(&pending_temp_lock);
  SetConsoleCtrlHandler(remove_temp_and_end, TRUE);
}

void forget_temp() {
  AcquireSRWLockExclusive(&pending_temp_lock);
  if (pending_temp != nullptr) pending_temp->clear();
  ReleaseSRWLockExclusive(&pending_temp_lock);
}

// A symbolic link as output: the file it points to is the one replaced.
std::string resolve_links(const std::string& path) {
  const std::wstring wide = wide_path(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return path;
  }
  const HANDLE handle =
      CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return path;
  std::wstring final_path(MAX_PATH, L'\0');
  DWORD length = GetFinalPathNameByHandleW(handle, &final_path[0],
                                           static_cast<DWORD>(final_path.size()), VOLUME_NAME_DOS);
  if (length >= final_path.size()) {
    final_path.resize(length);
    length = GetFinalPathNameByHandleW(handle, &final_path[0],
                                       static_cast<DWORD>(final_path.size()), VOLUME_NAME_DOS);
  }
  CloseHandle(handle);
  if (length == 0 || length >= final_path.size()) return path;
  return to_utf8(final_path.data(), length);
}

// Puts the finished temp file in place. A read-only file is not replaced, as
// Windows itself refuses to. Virus scanners and indexers open new files for
// a moment, so a refusal is tried again a few times.
bool replace_file(const std::wstring& temp, const std::wstring& target, DWORD& error) {
  for (int attempt = 0;; ++attempt) {
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      error = ERROR_ACCESS_DENIED;
      return false;
    }
    if (MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    error = GetLastError();
    const bool busy = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                      error == ERROR_ACCESS_DENIED;
    if (!busy || attempt == 5) return false;
    Sleep(static_cast<DWORD>(20 * (attempt + 1)));
  }
}

HANDLE handle_of(const output_file& file) { return reinterpret_cast<HANDLE>(file.handle); }

// A handle on an existing file for looking at it, or INVALID_HANDLE_VALUE.
HANDLE open_existing(const std::string& path, DWORD access) {
  const std::wstring wide = wide_path(path);
  return CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

bool read_whole_file(const std::string& path, std::string& contents, io_failure& failure) {
  const std::wstring wide = wide_path(path);
  const HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED && is_directory(wide)) {
      return fail_directory(failure, "cannot read input");
    }
    return fail(failure, "cannot open input", error);
  }
  std::size_t capacity = 1 << 16;
  LARGE_INTEGER size{};
  if (GetFileType(handle) == FILE_TYPE_DISK && GetFileSizeEx(handle, &size) && size.QuadPart >= 0) {
    // One byte more than the size, so that the read which finds the end
    // needs no second allocation.
    capacity = static_cast<std::size_t>(size.QuadPart) + 1;
  }
  contents.resize(capacity);
  std::size_t filled = 0;
  for (;;) {
    if (filled == contents.size()) contents.resize(contents.size() * 2);
    const std::size_t room = contents.size() - filled;
    const DWORD wanted = room < largest_transfer ? static_cast<DWORD>(room) : largest_transfer;
    DWORD got = 0;
    if (!ReadFile(handle, &contents[filled], wanted, &got, nullptr)) {
      const DWORD error = GetLastError();
      if (error == ERROR_BROKEN_PIPE) break;  // the writing end of a pipe closed
      CloseHandle(handle);
      return fail(failure, "cannot read input", error);
    }
    if (got == 0) break;
    filled += got;
  }
  CloseHandle(handle);
  contents.resize(filled);
  return true;
}

// Windows cannot replace a file that is mapped, which a conversion in place
// needs, so the input is always read into memory here.
bool open_input_file(const std::string& path, input_file& file, io_failure& failure) {
  close_input_file(file);
  if (!read_whole_file(path, file.contents, failure)) return false;
  file.text = file.contents;
  return true;
}

void close_input_file(input_file& file) {
  file.text = std::string_view();
  file.contents.clear();
}

bool read_input_range(const input_file&, std::size_t, char*, std::size_t) { return false; }

bool open_output_file(const std::string& path, output_file& file, io_failure& failure) {
  file = output_file{};
  if (!path.empty() && is_separator(path.back()))
    return fail_directory(failure, "cannot create output");
  file.target_path = resolve_links(path);
  const std::wstring target = wide_path(file.target_path);
  if (is_directory(target)) return fail_directory(failure, "cannot create output");

  // A device (NUL, CON, a named pipe) cannot be replaced, only written into.
  // Opening an existing file this way changes nothing in it.
  const HANDLE existing =
      CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (existing != INVALID_HANDLE_VALUE) {
    if (GetFileType(existing) != FILE_TYPE_DISK) {
      file.handle = reinterpret_cast<std::intptr_t>(existing);
      return true;
    }
    CloseHandle(existing);
  }

  // The temp file is a sibling of the target, so the final move stays on one
  // volume and is a rename.
  std::size_t name_start = file.target_path.size();
  while (name_start > 0 && !is_separator(file.target_path[name_start - 1])) --name_start;
  if (name_start == 0 && file.target_path.size() > 1 && file.target_path[1] == ':') name_start = 2;
  const std::string prefix =
      file.target_path.substr(0, name_start) + "." + file.target_path.substr(name_start) + ".tmp-";
  install_control_handler();
  static unsigned counter = 0;
  DWORD error = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < 100 && error == ERROR_FILE_EXISTS; ++attempt) {
    const unsigned long long seed = (GetTickCount64() << 16) ^
                                    (static_cast<unsigned long long>(GetCurrentProcessId()) << 8) ^
                                    static_cast<unsigned long long>(counter++);
    char suffix[20];
    std::snprintf(suffix, sizeof suffix, "%06llx", seed & 0xffffffULL);
    const std::string temp = prefix + suffix;
    const std::wstring wide_temp = wide_path(temp);
    // FILE_SHARE_DELETE lets the control handler delete it while it is open.
    // Made and registered under the handler's lock, so that Ctrl-C cannot
    // come between the two.
    AcquireSRWLockExclusive(&pending_temp_lock);
    const HANDLE handle = CreateFileW(wide_temp.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    error = handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    if (handle != INVALID_HANDLE_VALUE) *pending_temp = wide_temp;
    ReleaseSRWLockExclusive(&pending_temp_lock);
    if (handle != INVALID_HANDLE_VALUE) {
      file.handle = reinterpret_cast<std::intptr_t>(handle);
      file.temp_path = temp;
      return true;
    }
    if (error == ERROR_ALREADY_EXISTS) error = ERROR_FILE_EXISTS;
  }
  return fail(failure, "cannot create output", error);
}

bool write_output_file(output_file& file, const char* data, std::size_t size, io_failure& failure) {
  const HANDLE handle = handle_of(file);
  while (size != 0) {
    const DWORD wanted = size < largest_transfer ? static_cast<DWORD>(size) : largest_transfer;
    DWORD wrote = 0;
    if (!WriteFile(handle, data, wanted, &wrote, nullptr)) {
      return fail(failure, "cannot write output", GetLastError());
    }
    if (wrote == 0) return fail(failure, "cannot write output", ERROR_WRITE_FAULT);
    data += wrote;
    size -= wrote;
    file.written += wrote;
  }
  return true;
}

bool commit_output_file(output_file& file, io_failure& failure) {
  const HANDLE handle = handle_of(file);
  file.handle = -1;
  if (!CloseHandle(handle)) {
    const DWORD error = GetLastError();
    discard_output_file(file);
    return fail(failure, "cannot write output", error);
  }
  if (file.temp_path.empty()) return true;
  const std::wstring temp = wide_path(file.temp_path);
  DWORD error = 0;
  // Held across the move, so that Ctrl-C either finds the temp file still
  // there or the document already in place.
  AcquireSRWLockExclusive(&pending_temp_lock);
  const bool replaced = replace_file(temp, wide_path(file.target_path), error);
  if (replaced && pending_temp != nullptr) pending_temp->clear();
  ReleaseSRWLockExclusive(&pending_temp_lock);
  if (!replaced) {
    discard_output_file(file);
    return fail(failure, "cannot replace output", error);
  }
  file.temp_path.clear();
  return true;
}

void discard_output_file(output_file& file) {
  if (file.handle != -1) CloseHandle(handle_of(file));
  file.handle = -1;
  if (!file.temp_path.empty()) {
    DeleteFileW(wide_path(file.temp_path).c_str());
    forget_temp();
    file.temp_path.clear();
  }
}

bool read_file_start(const std::string& path, std::size_t size, std::string& start) {
  const HANDLE handle = open_existing(path, GENERIC_READ);
  if (handle == INVALID_HANDLE_VALUE) return false;
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    return false;
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(handle, &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    CloseHandle(handle);
    return false;
  }
  start.resize(size);
  std::size_t filled = 0;
  while (filled < size) {
    const std::size_t room = size - filled;
    const DWORD wanted = room < largest_transfer ? static_cast<DWORD>(room) : largest_transfer;
    DWORD got = 0;
    if (!ReadFile(handle, &start[filled], wanted, &got, nullptr) || got == 0) break;
    filled += got;
  }
  CloseHandle(handle);
  start.resize(filled);
  return true;
}

// The standard streams have no file names here; CON and the like are
// devices, which read_file_start does not take for files.
bool names_standard_stream(const std::string& /*path*/) { return false; }

bool is_read_only(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(wide_path(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
         (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// A device such as NUL or a named pipe is only told from a file by opening
// it, which a pipe's other end would notice: in doubt, always.
bool replaced_at_the_end(const std::string& /*path*/) { return false; }

bool same_file(const std::string& first, const std::string& second) {
  BY_HANDLE_FILE_INFORMATION a{};
  BY_HANDLE_FILE_INFORMATION b{};
  for (auto [path, information] : {std::pair{&first, &a}, std::pair{&second, &b}}) {
    const HANDLE handle = open_existing(*path, 0);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool known = GetFileInformationByHandle(handle, information) != 0;
    CloseHandle(handle);
    if (!known) return false;
  }
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace cubewright
