#include "scan/ExtractListing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <memory>

namespace {

bool MatchesXmlPattern(const std::string& name) {
    static constexpr char kTail[] = ".xml";
    constexpr std::size_t kTailLength = sizeof(kTail) - 1;
    if (name.size() < kTailLength) return false;
    for (std::size_t i = 0; i < kTailLength; ++i) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(name[name.size() - kTailLength + i])));
        if (c != kTail[i]) return false;
    }
    return true;
}

}  // namespace

bool DirectoryExists(const std::string& path) {
    if (path.empty()) return false;
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<ExtractFile> ListExtractFiles(const std::string& folder) {
    std::vector<ExtractFile> files;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) return files;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.' || !MatchesXmlPattern(name)) continue;
        // The entry itself, never what a link points at: links, FIFOs,
        // devices and sockets are left out, so nothing outside the folder is
        // listed and nothing listed can block a read.
        struct stat st {};
        if (::fstatat(::dirfd(dir.get()), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        files.push_back({name, FromUnixTime(static_cast<long long>(st.st_mtime))});
    }
    std::sort(files.begin(), files.end(), [](const ExtractFile& a, const ExtractFile& b) { return a.Name < b.Name; });
    return files;
}
