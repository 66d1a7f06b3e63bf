#include <windows.h>

#include <string>

#include "support/process.h"

namespace cubewright_test {
namespace {

std::wstring to_wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int length = static_cast<int>(text.size());
  const int needed = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), length, &wide[0], needed);
  return wide;
}

// One argument as the C runtime and CommandLineToArgvW split it again:
// quoted when needed, with backslashes doubled only before a quote.
void append_quoted(std::wstring& command_line, const std::wstring& argument) {
  if (!command_line.empty()) command_line += L' ';
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    command_line += argument;
    return;
  }
  command_line += L'"';
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') backslashes = backslashes * 2 + 1;
    command_line.append(backslashes, L'\\');
    backslashes = 0;
    command_line += c;
  }
  command_line.append(backslashes * 2, L'\\');
  command_line += L'"';
}

// An inheritable handle on a new temporary file, removed when closed.
HANDLE capture_file(const wchar_t* tag) {
  wchar_t folder[MAX_PATH + 1];
  wchar_t path[MAX_PATH + 1];
  if (GetTempPathW(MAX_PATH + 1, folder) == 0 || GetTempFileNameW(folder, tag, 0, path) == 0) {
    return INVALID_HANDLE_VALUE;
  }
  SECURITY_ATTRIBUTES inherit{};
  inherit.nLength = sizeof inherit;
  inherit.bInheritHandle = TRUE;
  return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                     nullptr);
}

std::string read_back_and_close(HANDLE file) {
  std::string text;
  if (file == INVALID_HANDLE_VALUE) return text;
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got != 0) text.append(buffer, got);
  CloseHandle(file);
  return text;
}

process_result run(const std::string& program, const std::vector<std::string>& arguments,
                   DWORD creation_flags, DWORD wait_limit,
                   const std::string* input_text = nullptr) {
  process_result result;
  const std::wstring application = to_wide(program);
  std::wstring command_line;
  append_quoted(command_line, application);
  for (const std::string& argument : arguments) append_quoted(command_line, to_wide(argument));

  SECURITY_ATTRIBUTES inherit{};
  inherit.nLength = sizeof inherit;
  inherit.bInheritHandle = TRUE;
  HANDLE input = INVALID_HANDLE_VALUE;
  if (input_text != nullptr) {
    input = capture_file(L"in");
    DWORD wrote = 0;
    WriteFile(input, input_text->data(), static_cast<DWORD>(input_text->size()), &wrote, nullptr);
    SetFilePointer(input, 0, nullptr, FILE_BEGIN);
  } else {
    input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                        OPEN_EXISTING, 0, nullptr);
  }
  const HANDLE output = capture_file(L"out");
  const HANDLE error = capture_file(L"err");

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = output;
  startup.hStdError = error;
  PROCESS_INFORMATION process{};
  if (CreateProcessW(application.c_str(), &command_line[0], nullptr, nullptr, TRUE,
                     CREATE_UNICODE_ENVIRONMENT | creation_flags, nullptr, nullptr, &startup,
                     &process)) {
    if (WaitForSingleObject(process.hProcess, wait_limit) == WAIT_TIMEOUT) {
      TerminateProcess(process.hProcess, 0xC000013A);
      WaitForSingleObject(process.hProcess, INFINITE);
    }
    DWORD code = 0;
    // Statuses with the top bits set are exceptions (a crash, Ctrl-C), the
    // counterpart of death by a signal.
    if (GetExitCodeProcess(process.hProcess, &code) && code < 0xC0000000) {
      result.exit_status = static_cast<int>(code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
  result.standard_output = read_back_and_close(output);
  result.standard_error = read_back_and_close(error);
  return result;
}

}  // namespace

process_result run_process(const std::string& program, const std::vector<std::string>& arguments) {
  return run(program, arguments, 0, INFINITE);
}

process_result run_process_with_input(const std::string& program,
                                      const std::vector<std::string>& arguments,
                                      const std::string& input) {
  return run(program, arguments, 0, INFINITE, &input);
}

process_result run_process_on_own_console(const std::string& program,
                                          const std::vector<std::string>& arguments) {
  return run(program, arguments, CREATE_NEW_CONSOLE, 60000);
}

}  // namespace cubewright_test
