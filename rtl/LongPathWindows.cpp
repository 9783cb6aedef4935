#include "rtl/LongPath.h"

#include <windows.h>

#include <string>

#include "rtl/Utf8Path.h"

namespace {

bool StartsWith(const std::wstring& text, const wchar_t* head) { return text.rfind(head, 0) == 0; }

// GetFullPathNameW is text work only, with no length limit of its own.
std::wstring FullPath(const std::wstring& given) {
    DWORD size = ::GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    if (size == 0) return {};
    std::wstring full(size, L'\0');
    size = ::GetFullPathNameW(given.c_str(), size, full.data(), nullptr);
    if (size == 0 || size >= full.size()) return {};
    full.resize(size);
    return full;
}

}  // namespace

std::filesystem::path LongPathForm(const std::filesystem::path& path) {
    const std::wstring given = path.native();
    if (given.empty() || StartsWith(given, L"\\\\?\\") || StartsWith(given, L"\\\\.\\")) return path;
    // The folder is made full; the last name is kept as it stands, so a file
    // named like a device ("AUX.xml") is that file, never the device.
    const std::wstring name = path.filename().native();
    const bool plainName = !name.empty() && name != L"." && name != L"..";
    const std::wstring folder = path.has_parent_path() ? path.parent_path().native() : L".";
    std::wstring full = FullPath(plainName ? folder + L"\\" : given);
    if (full.empty()) return path;
    if (plainName) {
        if (full.back() != L'\\') full += L'\\';
        full += name;
    }
    if (StartsWith(full, L"\\\\?\\") || StartsWith(full, L"\\\\.\\")) return full;
    if (StartsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return L"\\\\?\\" + full;
    return path;
}

std::filesystem::path LongPathFromUtf8(std::string_view utf8Path) { return LongPathForm(PathFromUtf8(utf8Path)); }
