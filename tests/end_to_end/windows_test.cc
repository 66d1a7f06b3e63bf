// The real cubewright.exe on real files, on what Windows does differently:
// CR LF documents, UTF-16 command lines and paths outside the ANSI code page,
// console text, replacing a file that another program holds, a console of
// its own, and the exe's version information.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/options.h"
#include "conversion/convert.h"
#include "sproxel_csv/csv_document.h"
#include "support/files.h"
#include "support/process.h"

namespace cubewright_test {
namespace {

namespace fs = std::filesystem;

// Two cells of the overview's worked example, and the document Linux writes.
const std::string two_cell_csv = "2,1,1\n#ff8000ff,#00000000\n";
const std::string two_cell_document =
    "<model>\n"
    "<voxels>\n"
    "<voxel x=\"0\" y=\"0\" z=\"0\" r=\"0.996094\" g=\"0.5\" b=\"0\" a=\"1.0\" />\n"
    "</voxels>\n"
    "<skeleton />\n"
    "<skeletonVoxelBindings />\n"
    "</model>\n";

std::string with_crlf(const std::string& lf_text) {
  std::string text;
  for (const char c : lf_text) {
    if (c == '\n') text += '\r';
    text += c;
  }
  return text;
}

std::string make_folder(const scratch_folder& scratch, const std::string& name) {
  const std::string folder = scratch / name;
  fs::create_directories(fs::u8path(folder));
  return folder;
}

int entries_in(const std::string& folder) {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(fs::u8path(folder))) ++count;
  return count;
}

process_result run_cubewright(const std::vector<std::string>& arguments) {
  return run_process(CUBEWRIGHT_EXE, arguments);
}

TEST(windows, converts_between_folders_with_names_outside_the_code_page) {
  scratch_folder scratch;
  const std::string rifle = read_file(std::string(CUBEWRIGHT_EXAMPLES) + "/rifle.csv");
  const std::string rifle_document = *cubewright::export_to_document(rifle, {});
  for (const std::string name : {"Модели", "模型", "Мои модели 模型"}) {
    SCOPED_TRACE(name);
    const std::string folder = make_folder(scratch, name);
    const std::string input = folder + "\\винтовка.csv";
    const std::string output = folder + "\\步枪.xml";
    write_file(input, two_cell_csv);
    const process_result two_cells = run_cubewright({input, output});
    EXPECT_EQ(two_cells.exit_status, 0) << two_cells.standard_error;
    EXPECT_EQ(two_cells.standard_error, "");
    EXPECT_EQ(read_file(output), with_crlf(two_cell_document));

    write_file(input, rifle);
    const process_result whole_model = run_cubewright({input, output});
    EXPECT_EQ(whole_model.exit_status, 0) << whole_model.standard_error;
    EXPECT_EQ(read_file(output), with_crlf(rifle_document));
  }
}

TEST(windows, reads_crlf_and_lf_input_alike) {
  scratch_folder scratch;
  const std::string folder = make_folder(scratch, "Модели");
  const std::string csv = "3,2,1\n#ff000000,#00000000,#0a0b0c0d\n#00000000,#80ff80ff,#00000000\n";
  write_file(folder + "\\lf.csv", csv);
  write_file(folder + "\\crlf.csv", with_crlf(csv));
  for (const std::string input : {"lf", "crlf"}) {
    SCOPED_TRACE(input);
    const process_result result =
        run_cubewright({folder + "\\" + input + ".csv", folder + "\\" + input + ".xml", "4", "-2"});
    EXPECT_EQ(result.exit_status, 0) << result.standard_error;
  }
  const std::string document = read_file(folder + "\\lf.xml");
  EXPECT_EQ(read_file(folder + "\\crlf.xml"), document);
  EXPECT_EQ(document, with_crlf(*cubewright::export_to_document(csv, {4, -2, 0})));
}

TEST(windows, writes_numbers_as_linux_does_not_as_the_c_runtime) {
  // The C runtime's printf writes 1e+006 and rounds exact ties away from
  // zero; the document must not depend on it.
  scratch_folder scratch;
  write_file(scratch / "in.csv", "1,1,1\n#05fa01ff\n");
  const process_result result =
      run_cubewright({scratch / "in.csv", scratch / "out.xml", "1000000", "-1000000", "0"});
  EXPECT_EQ(result.exit_status, 0) << result.standard_error;
  EXPECT_EQ(read_file(scratch / "out.xml"),
            with_crlf("<model>\n<voxels>\n"
                      "<voxel x=\"1e+06\" y=\"-1e+06\" z=\"0\" r=\"0.0195312\" g=\"0.976562\" "
                      "b=\"0.00390625\" a=\"1.0\" />\n"
                      "</voxels>\n<skeleton />\n<skeletonVoxelBindings />\n</model>\n"));
}

TEST(windows, prints_the_usage_text_with_crlf) {
  const process_result result = run_cubewright({"--lenient", "only-one-argument"});
  EXPECT_EQ(result.exit_status, 0);
  std::string usage;
  for (const std::string_view line : cubewright::usage_lines) {
    usage.append(line.data(), line.size());
    usage += "\r\n";
  }
  EXPECT_EQ(result.standard_output, usage);
  EXPECT_EQ(result.standard_error, "");
}

TEST(windows, names_paths_outside_the_code_page_readably_in_errors) {
  // Redirected, the message is UTF-8, so the path reads as it was given.
  scratch_folder scratch;
  const std::string folder = make_folder(scratch, "模型");
  write_file(folder + "\\in.csv", two_cell_csv);

  const std::string missing_input = folder + "\\нет.csv";
  const process_result no_input = run_cubewright({missing_input, folder + "\\out.xml"});
  EXPECT_EQ(no_input.exit_status, 1);
  const std::string input_prefix = "cubewright: cannot open input: " + missing_input + ": ";
  EXPECT_EQ(no_input.standard_error.compare(0, input_prefix.size(), input_prefix), 0)
      << no_input.standard_error;

  const std::string missing_folder = folder + "\\Папка\\out.xml";
  const process_result no_folder = run_cubewright({folder + "\\in.csv", missing_folder});
  EXPECT_EQ(no_folder.exit_status, 1);
  const std::string output_prefix = "cubewright: cannot create output: " + missing_folder + ": ";
  EXPECT_EQ(no_folder.standard_error.compare(0, output_prefix.size(), output_prefix), 0)
      << no_folder.standard_error;

  for (const std::string& message : {no_input.standard_error, no_folder.standard_error}) {
    // One line, a reason after the path, ended as Windows ends lines.
    EXPECT_EQ(message.find('\n'), message.size() - 1) << message;
    EXPECT_EQ(message.find('\r'), message.size() - 2) << message;
    EXPECT_GT(message.size(), output_prefix.size() + 2) << message;
  }
  EXPECT_EQ(entries_in(folder), 1);
}

TEST(windows, keeps_the_old_output_when_it_cannot_be_replaced) {
  scratch_folder scratch;
  const std::string folder = make_folder(scratch, "Модели");
  const std::string input = folder + "\\in.csv";
  const std::string output = folder + "\\out.xml";
  write_file(input, two_cell_csv);
  const std::string only_copy = cubewright_test::old_document;
  write_file(output, only_copy);

  // Another program holds the old file open and shares nothing.
  const HANDLE holder = CreateFileW(fs::u8path(output).c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  const process_result held = run_cubewright({input, output});
  CloseHandle(holder);
  EXPECT_EQ(held.exit_status, 1);
  EXPECT_EQ(held.standard_error.rfind("cubewright: cannot replace output: " + output + ": ", 0), 0u)
      << held.standard_error;
  EXPECT_EQ(read_file(output), only_copy);
  EXPECT_EQ(entries_in(folder), 2);  // no temporary file left behind

  // A read-only file is not replaced either.
  fs::permissions(fs::u8path(output),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  const process_result read_only = run_cubewright({input, output});
  EXPECT_EQ(read_only.exit_status, 1);
  EXPECT_EQ(read_only.standard_error,
            "cubewright: will not replace " + output + ": it is read-only\r\n");
  EXPECT_EQ(read_file(output), only_copy);
  EXPECT_EQ(entries_in(folder), 2);
  fs::permissions(fs::u8path(output), fs::perms::owner_write, fs::perm_options::add);

  // Once nothing is in the way, the document replaces it.
  const process_result unheld = run_cubewright({input, output});
  EXPECT_EQ(unheld.exit_status, 0) << unheld.standard_error;
  EXPECT_EQ(read_file(output), with_crlf(two_cell_document));
  EXPECT_EQ(entries_in(folder), 2);
}

TEST(windows, refuses_a_folder_as_output_and_writes_into_devices) {
  scratch_folder scratch;
  const std::string folder = make_folder(scratch, "模型");
  const std::string input = scratch / "in.csv";
  write_file(input, two_cell_csv);

  for (const std::string& output : {folder, folder + "\\"}) {
    const process_result result = run_cubewright({input, output});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.standard_error,
              "cubewright: cannot create output: " + output + ": Is a directory\r\n");
  }
  EXPECT_EQ(entries_in(folder), 0);

  const process_result into_nul = run_cubewright({input, "NUL"});
  EXPECT_EQ(into_nul.exit_status, 0) << into_nul.standard_error;
  EXPECT_EQ(scratch.entry_count(), 2);
}

TEST(windows, never_waits_for_a_key_when_its_streams_are_redirected) {
  // A console of its own, as from Explorer, but whatever it prints is read
  // by a program: a prompt would land in that text and a wait would hang.
  scratch_folder scratch;
  write_file(scratch / "in.csv", two_cell_csv);
  const std::vector<std::vector<std::string>> runs = {
      {},
      {scratch / "in.csv"},
      {scratch / "missing.csv", scratch / "out.xml"},
      {scratch / "in.csv", scratch / "out.xml"},
  };
  for (const std::vector<std::string>& arguments : runs) {
    SCOPED_TRACE(arguments.size());
    const process_result result = run_process_on_own_console(CUBEWRIGHT_EXE, arguments);
    EXPECT_NE(result.exit_status, -1) << "still running: it waited";
    EXPECT_EQ(result.standard_output.find("Press any key"), std::string::npos);
    EXPECT_EQ(result.standard_error.find("Press any key"), std::string::npos);
  }
  EXPECT_EQ(read_file(scratch / "out.xml"), with_crlf(two_cell_document));
}

// One string of the exe's version information, in US English and UTF-16.
std::wstring version_string(const std::vector<char>& info, const wchar_t* name) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring key = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
  if (!VerQueryValueW(info.data(), key.c_str(), &value, &length) || length == 0) return L"";
  return std::wstring(static_cast<const wchar_t*>(value), length - 1);
}

TEST(windows, exe_carries_the_project_version_and_names) {
  const std::wstring exe = fs::u8path(CUBEWRIGHT_EXE).wstring();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
  ASSERT_GT(size, 0u) << "no version information";
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, info.data()));

  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", &value, &length));
  ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  const DWORD major_minor =
      (DWORD{CUBEWRIGHT_TEST_VERSION_MAJOR} << 16) | DWORD{CUBEWRIGHT_TEST_VERSION_MINOR};
  const DWORD patch = DWORD{CUBEWRIGHT_TEST_VERSION_PATCH} << 16;
  EXPECT_EQ(fixed->dwFileVersionMS, major_minor);
  EXPECT_EQ(fixed->dwFileVersionLS, patch);
  EXPECT_EQ(fixed->dwProductVersionMS, major_minor);
  EXPECT_EQ(fixed->dwProductVersionLS, patch);

  const std::wstring version = fs::u8path(CUBEWRIGHT_TEST_VERSION).wstring();
  EXPECT_EQ(version_string(info, L"ProductName"), L"cubewright");
  EXPECT_EQ(version_string(info, L"ProductVersion"), version);
  EXPECT_EQ(version_string(info, L"FileVersion"), version);
  EXPECT_EQ(version_string(info, L"OriginalFilename"), L"cubewright.exe");
  EXPECT_NE(version_string(info, L"FileDescription"), L"");
  EXPECT_EQ(version_string(info, L"LegalCopyright").rfind(L"Copyright (c) ", 0), 0u);
}

// Runs cubewright.exe with the usage text's standard output on a handle that
// may only be read, so that writing it fails; returns the exit status and
// standard error.
process_result run_with_read_only_output(const std::string& read_only_file) {
  process_result result;
  SECURITY_ATTRIBUTES inherit{};
  inherit.nLength = sizeof inherit;
  inherit.bInheritHandle = TRUE;
  const HANDLE output = CreateFileW(fs::u8path(read_only_file).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ, &inherit, OPEN_EXISTING, 0, nullptr);
  const std::wstring error_path = fs::u8path(read_only_file + ".err").wstring();
  const HANDLE error = CreateFileW(error_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                   CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = output;
  startup.hStdOutput = output;
  startup.hStdError = error;
  PROCESS_INFORMATION process{};
  std::wstring command_line = L"cubewright.exe";
  const std::wstring application = fs::u8path(CUBEWRIGHT_EXE).wstring();
  if (CreateProcessW(application.c_str(), &command_line[0], nullptr, nullptr, TRUE, 0, nullptr,
                     nullptr, &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    if (GetExitCodeProcess(process.hProcess, &code)) result.exit_status = static_cast<int>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(output);
  CloseHandle(error);
  result.standard_error = read_file(read_only_file + ".err");
  return result;
}

// Every way a run can fail prints its one line: a failure that prints nothing
// cannot be told from a program that never started.
TEST(windows, every_failure_prints_one_line) {
  scratch_folder scratch;
  const std::string folder = make_folder(scratch, "Модели");
  const std::string input = folder + "\\in.csv";
  const std::string short_input = folder + "\\short.csv";
  const std::string held = folder + "\\held.xml";
  const std::string read_only = folder + "\\read-only.xml";
  write_file(input, two_cell_csv);
  write_file(short_input, "3,2\r\n");
  write_file(held, cubewright_test::old_document);
  write_file(read_only, cubewright_test::old_document);
  fs::permissions(fs::u8path(read_only),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  const HANDLE holder = CreateFileW(fs::u8path(held).c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  const struct {
    std::vector<std::string> arguments;
    std::string start;
  } cases[] = {
      {{folder + "\\missing.csv", folder + "\\out.xml"},
       "cannot open input: " + folder + "\\missing.csv: "},
      {{folder, folder + "\\out.xml"}, "cannot read input: " + folder + ": "},
      {{"--lenient", short_input, folder + "\\out.xml"},
       "cannot read grid size: " + short_input + ": "},
      {{short_input, folder + "\\out.xml"}, "cannot read input: " + short_input + ":2:1: "},
      {{input, folder + "\\missing\\out.xml"},
       "cannot create output: " + folder + "\\missing\\out.xml: "},
      {{input, folder}, "cannot create output: " + folder + ": "},
      {{input, held}, "cannot replace output: " + held + ": "},
      {{input, read_only}, "will not replace " + read_only + ": "},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.start);
    const process_result result = run_cubewright(each.arguments);
    const std::string& message = result.standard_error;
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(message.rfind("cubewright: " + each.start, 0), 0u) << message;
    EXPECT_GT(message.size(), each.start.size() + 15) << "no reason: " << message;
    EXPECT_EQ(message.find("\r\n"), message.size() - 2) << message;
  }
  CloseHandle(holder);
  EXPECT_EQ(read_file(held), cubewright_test::old_document);
  EXPECT_EQ(read_file(read_only), cubewright_test::old_document);
  fs::permissions(fs::u8path(read_only), fs::perms::owner_write, fs::perm_options::add);

  const process_result usage = run_with_read_only_output(held);
  EXPECT_EQ(usage.exit_status, 1);
  // "Access is denied" on Windows, "Access denied" under wine.
  const std::string start = "cubewright: cannot write the usage text: standard output: Access ";
  EXPECT_EQ(usage.standard_error.rfind(start, 0), 0u) << usage.standard_error;
  EXPECT_EQ(usage.standard_error.find("\r\n"), usage.standard_error.size() - 2);
}

}  // namespace
}  // namespace cubewright_test
