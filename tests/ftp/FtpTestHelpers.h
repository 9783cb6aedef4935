#pragma once
// Small fixtures shared by the FTP client tests; their system calls are in
// FtpTestHelpersPosix.cpp and FtpTestHelpersWindows.cpp.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace qz::test {

// A loopback socket that holds a port; listening only when asked, with a
// backlog that is full after two connection attempts.
class LoopbackPort {
public:
    enum class Mode { Refusing, FullBacklog, Listening };
    explicit LoopbackPort(Mode mode);
    ~LoopbackPort();
    LoopbackPort(const LoopbackPort&) = delete;
    LoopbackPort& operator=(const LoopbackPort&) = delete;
    int Port() const { return port_; }

private:
    std::intptr_t fd_ = -1;
    int port_ = 0;
    std::vector<std::intptr_t> fillers_;
};

// A file in a fresh temporary folder, removed with the object.
class TempFile {
public:
    explicit TempFile(const std::string& content, const std::string& name = "upload.xml");
    ~TempFile() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& Path() const { return path_; }
    const std::string& Dir() const { return dir_; }

private:
    std::string dir_, path_;
};

// Directory entries of other kinds, 0 when made (as the POSIX calls).
int MakeFifo(const std::string& path);
int MakeFolder(const std::string& path);
int MakeSymlink(const std::string& target, const std::string& path);
// Holds a file open as a program on Windows does that shares it with nobody
// (the PMS still writing an extract) until HeldFile is destroyed. POSIX has no
// such hold: Holding() is then false.
class HeldFile {
public:
    explicit HeldFile(const std::string& path);
    ~HeldFile();
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;
    bool Holding() const { return handle_ != -1; }
    // The system's text for the failed open of a held file.
    static std::string Reason();

private:
    std::intptr_t handle_ = -1;
};

// Bytes that differ from position to position, so misplaced chunks show.
inline std::string PatternBytes(std::size_t size) {
    std::string bytes(size, '\0');
    unsigned x = 2463534242u;
    for (std::size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = static_cast<char>(x);
    }
    return bytes;
}

}  // namespace qz::test
