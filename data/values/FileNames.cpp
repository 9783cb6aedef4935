#include "data/values/FileNames.h"

#include <algorithm>
#include <system_error>

#include "data/values/TextCase.h"
#include "rtl/FolderFiles.h"
#include "rtl/Utf8Path.h"

std::vector<std::filesystem::path> FilesNamedIgnoringCase(const std::filesystem::path& folder,
                                                          std::string_view name) {
    std::vector<std::filesystem::path> found;
    for (const auto& entry : RegularFileNames(folder))
        if (SameTextIgnoringCase(Utf8FromPath(entry), name)) found.push_back(folder / entry);
    std::sort(found.begin(), found.end());
    return found;
}

std::filesystem::path ResolveIgnoringCase(const std::filesystem::path& folder, std::string_view name) {
    std::filesystem::path exact = folder / PathFromUtf8(name);
    std::error_code ec;
    if (std::filesystem::exists(exact, ec)) return exact;
    auto variants = FilesNamedIgnoringCase(folder, name);
    return variants.empty() ? exact : variants.front();
}
