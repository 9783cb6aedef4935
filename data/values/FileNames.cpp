#include "data/values/FileNames.h"

#include <algorithm>
#include <system_error>

#include "data/values/TextCase.h"
#include "rtl/Utf8Path.h"

std::vector<std::filesystem::path> FilesNamedIgnoringCase(const std::filesystem::path& folder,
                                                          std::string_view name) {
    std::vector<std::filesystem::path> found;
    std::error_code ec;
    std::filesystem::directory_iterator it(folder.empty() ? std::filesystem::path(".") : folder, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        if (SameTextIgnoringCase(Utf8FromPath(it->path().filename()), name)) found.push_back(it->path());
    }
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
