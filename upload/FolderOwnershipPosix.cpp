#include "upload/FolderOwnership.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace {

[[noreturn]] void Fail(const std::string& path, const char* action) {
    throw std::runtime_error("cannot write " + path + " (" + action + ": " + std::strerror(errno) + ")");
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return fd_; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd);
    }

private:
    int fd_;
};

}  // namespace

void WritePrivateFile(const std::string& folder, const std::string& path, const std::string& bytes) {
    struct stat dir {};
    if (::stat(folder.c_str(), &dir) != 0) Fail(folder, "stat");
    const std::string temporary = path + ".new";
    ::unlink(temporary.c_str());   // a leftover of a run that was cut off
    // Made with no access for anyone else from the start: the secret is
    // never readable by others, not even for a moment.
    Fd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.Get() < 0) Fail(temporary, "create");
    const mode_t mode = (dir.st_mode & S_IWGRP) ? 0640 : 0600;
    // Root gives the file to the folder's owner, so a root-run `login` never
    // locks the service out; another account can only hand it to the
    // folder's group, when it belongs to that group.
    const uid_t owner = ::geteuid() == 0 ? dir.st_uid : static_cast<uid_t>(-1);
    if (::fchown(fd.Get(), owner, dir.st_gid) != 0 && ::geteuid() == 0) {
        ::unlink(temporary.c_str());
        Fail(temporary, "chown");
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd.Get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::unlink(temporary.c_str());
            Fail(temporary, "write");
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fchmod(fd.Get(), mode) != 0 || ::fsync(fd.Get()) != 0 || fd.Release() != 0) {
        ::unlink(temporary.c_str());
        Fail(temporary, "write");
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        Fail(path, "rename");
    }
}

std::optional<std::string> OthersMayRead(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !(st.st_mode & S_IROTH)) return std::nullopt;
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return path + " can be read by every account on this machine (mode " + mode +
           "): run qeladmin login again, or chmod o-rwx it";
}

std::optional<std::string> OwnerToRunAs(const std::string& folder) {
    struct stat st {};
    if (::geteuid() != 0 || ::stat(folder.c_str(), &st) != 0 || st.st_uid == 0) return std::nullopt;
    if (const passwd* pw = ::getpwuid(st.st_uid)) return std::string(pw->pw_name);
    return "uid " + std::to_string(st.st_uid);
}

void ShareWithFolderGroup(const std::string& folder, const std::string& file) {
    struct stat dir {}, st {};
    if (::stat(folder.c_str(), &dir) != 0 || !(dir.st_mode & S_IWGRP) || ::stat(file.c_str(), &st) != 0) return;
    ::chmod(file.c_str(), (st.st_mode & 07777) | S_IRGRP | S_IWGRP);
}
