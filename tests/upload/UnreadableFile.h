#pragma once
// Makes a file this process cannot read, for as long as the object lives:
// no read permission on POSIX (UnreadableFilePosix.cpp), another handle
// holding it without sharing on Windows (UnreadableFileWindows.cpp).
#include <cstdint>
#include <string>

class UnreadableFile {
public:
    explicit UnreadableFile(const std::string& path);
    ~UnreadableFile();
    UnreadableFile(const UnreadableFile&) = delete;
    UnreadableFile& operator=(const UnreadableFile&) = delete;

    bool Made() const { return whyNot_.empty(); }
    const std::string& WhyNot() const { return whyNot_; }

private:
    std::string path_;
    std::string whyNot_;
    std::intptr_t holder_ = -1;
};
