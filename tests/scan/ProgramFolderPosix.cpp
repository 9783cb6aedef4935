#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "ProgramFolderSystem.h"

namespace qztest {

std::filesystem::path MakeTempRoot() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qzapp-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

void RunQelAdminInit(const std::filesystem::path& folder) {
    const std::string command = std::string(QZ_QELADMIN) + " init '" + folder.string() + "' >/dev/null";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("qeladmin init failed");
}

void SetFileModified(const std::filesystem::path& file, std::time_t when) {
    const timespec times[2] = {{when, 0}, {when, 0}};
    if (::utimensat(AT_FDCWD, file.c_str(), times, 0) != 0) throw std::runtime_error("utimensat failed");
}

}  // namespace qztest
