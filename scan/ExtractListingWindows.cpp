#include "scan/ExtractListing.h"

#include <windows.h>

#include <algorithm>
#include <memory>

#include "rtl/WindowsText.h"

// The extract listing on Windows (ExtractListingPosix.cpp is the POSIX one): the
// same rules, read with FindFirstFileExW. Only regular files are listed:
// folders, reparse points (links, junctions, cloud placeholders) and devices
// are left out, and a link is never followed.
namespace {

bool MatchesXmlPattern(const std::wstring& name) {
    static constexpr wchar_t kTail[] = L".xml";
    constexpr std::size_t kTailLength = sizeof(kTail) / sizeof(kTail[0]) - 1;
    if (name.size() < kTailLength) return false;
    for (std::size_t i = 0; i < kTailLength; ++i) {
        const wchar_t c = name[name.size() - kTailLength + i];
        if ((c >= L'A' && c <= L'Z' ? wchar_t(c - L'A' + L'a') : c) != kTail[i]) return false;
    }
    return true;
}

bool IsRegularFile(DWORD attributes) {
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
}

// A name that is not valid UTF-16 has no UTF-8 form the program could give
// back to the system; such a file is left out rather than misnamed.
bool ToUtf8(const std::wstring& wide, std::string& text) {
    const int n = ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), int(wide.size()), nullptr, 0,
                                        nullptr, nullptr);
    if (n <= 0) return false;
    text.assign(size_t(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), int(wide.size()), text.data(), n, nullptr,
                          nullptr);
    return true;
}

long long UnixTimeOf(const FILETIME& time) {
    // FILETIME counts 100 ns steps from 1601-01-01 UTC.
    const unsigned long long ticks = (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return static_cast<long long>(ticks / 10000000ULL) - 11644473600LL;
}

struct FindCloser {
    void operator()(HANDLE h) const { ::FindClose(h); }
};

}  // namespace

bool DirectoryExists(const std::string& path) {
    if (path.empty()) return false;
    const DWORD attributes = ::GetFileAttributesW(qz::win::WideFromUtf8(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::vector<ExtractFile> ListExtractFiles(const std::string& folder) {
    std::vector<ExtractFile> files;
    if (folder.empty()) return files;
    std::wstring pattern = qz::win::WideFromUtf8(folder);
    if (pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW found {};
    HANDLE first = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                      FIND_FIRST_EX_LARGE_FETCH);
    if (first == INVALID_HANDLE_VALUE) return files;
    std::unique_ptr<void, FindCloser> search(first);
    do {
        const std::wstring name = found.cFileName;
        if (name.empty() || name[0] == L'.' || !MatchesXmlPattern(name)) continue;
        if (!IsRegularFile(found.dwFileAttributes)) continue;
        std::string text;
        if (!ToUtf8(name, text)) continue;
        files.push_back({text, FromUnixTime(UnixTimeOf(found.ftLastWriteTime))});
    } while (::FindNextFileW(first, &found));
    std::sort(files.begin(), files.end(), [](const ExtractFile& a, const ExtractFile& b) { return a.Name < b.Name; });
    return files;
}
