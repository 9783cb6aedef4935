#pragma once
// UTF-8 inside the program, UTF-16 at the Windows API. Included only by the
// Windows files of each subsystem (the *Windows.cpp files); paths for
// std::filesystem come from rtl/Utf8Path.h on every system.
#include <windows.h>

#include <string>
#include <string_view>

namespace qz::win {

inline std::wstring WideFromUtf8(std::string_view text)
{
    if (text.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), n);
    return wide;
}

inline std::string Utf8FromWide(std::wstring_view wide)
{
    if (wide.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(size_t(n > 0 ? n : 0), '\0');
    if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), text.data(), n, nullptr, nullptr);
    return text;
}

// The system's message for an error number, in UTF-8 without the line end.
inline std::string SystemMessage(DWORD error)
{
    wchar_t* buffer = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring wide(buffer ? std::wstring_view(buffer, n) : std::wstring_view());
    if (buffer) ::LocalFree(buffer);
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L' ' || wide.back() == L'.')) wide.pop_back();
    if (wide.empty()) return "system error " + std::to_string(error);
    return Utf8FromWide(wide);
}

}  // namespace qz::win
