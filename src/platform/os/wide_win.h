#pragma once
// UTF-8 at the program's interfaces, UTF-16 at the Windows calls underneath.
#include <windows.h>

#include <string>

namespace jx {

// The UTF-16 form of UTF-8 text (every byte, zeros included).
std::wstring to_wide(const std::string& text);
// The UTF-8 form of UTF-16 text.
std::string from_wide(const std::wstring& text);
std::string from_wide(const wchar_t* text, size_t length);
// A path for the wide file calls: forward slashes made backslashes, and a long drive or UNC
// path given the \\?\ form that lifts the 260-character limit.
std::wstring wide_path(const std::string& path);
// The reason text of a Windows error code, as errno_reason words it: "permission denied".
std::string windows_error_reason(DWORD error);

}  // namespace jx
