#include "rtl/FolderFiles.h"

#include <system_error>

std::vector<std::filesystem::path> RegularFileNames(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> names;
    std::error_code ec;
    std::filesystem::directory_iterator it(folder.empty() ? std::filesystem::path(".") : folder, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (it->is_regular_file(typeError)) names.push_back(it->path().filename());
    }
    return names;
}
