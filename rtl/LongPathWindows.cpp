#include "rtl/LongPath.h"

#include <windows.h>

#include <string>

#include "rtl/Utf8Path.h"

namespace {

bool StartsWith(const std::wstring& text, const wchar_t* head) { return text.rfind(head, 0) == 0; }

}  // namespace

std::filesystem::path LongPathForm(const std::filesystem::path& path) {
    const std::wstring given = path.native();
    if (given.empty() || StartsWith(given, L"\\\\?\\") || StartsWith(given, L"\\\\.\\")) return path;
    // GetFullPathNameW is text work only, with no length limit of its own.
    DWORD size = ::GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    size = ::GetFullPathNameW(given.c_str(), size, full.data(), nullptr);
    if (size == 0 || size >= full.size()) return path;
    full.resize(size);
    if (StartsWith(full, L"\\\\?\\") || StartsWith(full, L"\\\\.\\")) return full;   // a device stays a device
    if (StartsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return L"\\\\?\\" + full;
    return path;
}

std::filesystem::path LongPathFromUtf8(std::string_view utf8Path) { return LongPathForm(PathFromUtf8(utf8Path)); }
