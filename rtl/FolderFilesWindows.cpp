#include "rtl/FolderFiles.h"

#include <windows.h>

#include <memory>

#include "rtl/LongPath.h"

namespace {

struct FindCloser {
    void operator()(HANDLE h) const { ::FindClose(h); }
};

}  // namespace

std::vector<std::filesystem::path> RegularFileNames(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> names;
    std::wstring pattern = LongPathForm(folder.empty() ? std::filesystem::path(L".") : folder).native();
    if (pattern.empty()) return names;
    if (pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW found{};
    HANDLE first = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (first == INVALID_HANDLE_VALUE) return names;
    std::unique_ptr<void, FindCloser> search(first);
    do {
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0)
            names.emplace_back(std::wstring(found.cFileName));
    } while (::FindNextFileW(first, &found));
    return names;
}
