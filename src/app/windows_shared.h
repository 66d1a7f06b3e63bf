// What the two halves of the Windows platform layer share.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "app/platform.h"

namespace cubewright {

/// Sizes handed to one Windows call; longer buffers go in several calls.
inline constexpr DWORD largest_transfer = DWORD{1} << 30;

/// UTF-8 to UTF-16 and back; empty for an empty or oversized text.
std::wstring to_wide(std::string_view text);
std::string to_utf8(const wchar_t* text, std::size_t size);

/// Fills `failure` with `what` and the system's reason for `error`; false.
bool fail(io_failure& failure, const char* what, DWORD error);

}  // namespace cubewright
