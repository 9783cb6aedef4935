#include <sys/stat.h>
#include <unistd.h>

#include "UnreadableFile.h"

UnreadableFile::UnreadableFile(const std::string& path) : path_(path) {
    if (::geteuid() == 0) {
        whyNot_ = "root reads files whatever their mode";
        return;
    }
    if (::chmod(path.c_str(), 0) != 0) whyNot_ = "chmod failed";
}

UnreadableFile::~UnreadableFile() {
    if (Made()) ::chmod(path_.c_str(), 0600);
}
