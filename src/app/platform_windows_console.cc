// The Windows platform layer's console and standard streams: the command
// line in UTF-16, lines shown as UTF-16 on a console and written as UTF-8
// when redirected, and the window held open for a double-clicked run.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>
#include <cwchar>

#include "app/platform.h"
#include "app/windows_shared.h"

namespace cubewright {
namespace {

bool is_console(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

console_facts this_console() {
  console_facts facts;
  // The count comes back whole even when the list does not fit.
  DWORD processes[2];
  facts.attached_processes = GetConsoleProcessList(processes, 2);
  facts.streams_on_console =
      is_console(STD_INPUT_HANDLE) && is_console(STD_OUTPUT_HANDLE) && is_console(STD_ERROR_HANDLE);
  return facts;
}

// Writes a line to a standard stream: UTF-16 to a console, UTF-8 bytes with
// CR LF when redirected. False when it could not be written.
bool write_standard_line(DWORD stream, std::string_view text) {
  const HANDLE handle = GetStdHandle(stream);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    // A console shows UTF-16 whatever its code page.
    const std::wstring line = to_wide(text) + L"\r\n";
    const wchar_t* data = line.data();
    std::size_t left = line.size();
    while (left != 0) {
      const DWORD wanted = left < 8192 ? static_cast<DWORD>(left) : 8192;
      DWORD wrote = 0;
      if (!WriteConsoleW(handle, data, wanted, &wrote, nullptr) || wrote == 0) return false;
      data += wrote;
      left -= wrote;
    }
    return true;
  }
  // Redirected: the bytes as they are, UTF-8, for whatever reads them.
  std::string line(text);
  line += native_line_end;
  const char* data = line.data();
  std::size_t left = line.size();
  while (left != 0) {
    const DWORD wanted = left < largest_transfer ? static_cast<DWORD>(left) : largest_transfer;
    DWORD wrote = 0;
    if (!WriteFile(handle, data, wanted, &wrote, nullptr) || wrote == 0) return false;
    data += wrote;
    left -= wrote;
  }
  return true;
}

}  // namespace

console_facts current_console() { return this_console(); }

bool ask_yes_no(std::string_view question) {
  print_error_line(question);
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return false;
  DWORD mode = 0;
  if (GetConsoleMode(input, &mode)) {
    // Keys pressed before the question appeared do not answer it.
    FlushConsoleInputBuffer(input);
    wchar_t answer[64];
    DWORD got = 0;
    if (!ReadConsoleW(input, answer, 64, &got, nullptr) || got == 0) return false;
    return answer[0] == L'y' || answer[0] == L'Y';
  }
  char answer = 0;
  DWORD got = 0;
  // A redirected answer: its first byte, the rest of its line read away.
  if (!ReadFile(input, &answer, 1, &got, nullptr) || got == 0) return false;
  char rest = answer;
  while (rest != '\n' && ReadFile(input, &rest, 1, &got, nullptr) && got == 1) {
  }
  return answer == 'y' || answer == 'Y';
}

std::vector<std::string> command_line_arguments(int /*argc*/, char** /*argv*/) {
  // The narrow argv of the C runtime is in the ANSI code page, which cannot
  // hold every file name: the UTF-16 command line can.
  std::vector<std::string> arguments;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(to_utf8(wide[i], std::wcslen(wide[i])));
  LocalFree(wide);
  return arguments;
}

bool write_standard_output(std::string_view text, io_failure& failure) {
  const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    return fail(failure, "cannot write the usage text", ERROR_INVALID_HANDLE);
  }
  const char* data = text.data();
  std::size_t left = text.size();
  while (left != 0) {
    const DWORD wanted = left < largest_transfer ? static_cast<DWORD>(left) : largest_transfer;
    DWORD wrote = 0;
    if (!WriteFile(handle, data, wanted, &wrote, nullptr)) {
      return fail(failure, "cannot write the usage text", GetLastError());
    }
    if (wrote == 0) return fail(failure, "cannot write the usage text", ERROR_WRITE_FAULT);
    data += wrote;
    left -= wrote;
  }
  return true;
}

void print_error_line(std::string_view text) {
  std::fflush(stderr);
  write_standard_line(STD_ERROR_HANDLE, text);
}

bool print_output_line(std::string_view text) {
  std::fflush(stdout);
  return write_standard_line(STD_OUTPUT_HANDLE, text);
}

void hold_console_if_own(int status, std::size_t argument_count, bool dropped) {
  if (!should_wait_for_key(this_console(), status, argument_count, dropped)) return;
  print_error_line("Press any key to close this window.");
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  // Keys pressed before the line appeared do not close the window unread.
  FlushConsoleInputBuffer(input);
  for (;;) {
    INPUT_RECORD record{};
    DWORD got = 0;
    if (!ReadConsoleInputW(input, &record, 1, &got) || got == 0) return;
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return;
  }
}

}  // namespace cubewright
