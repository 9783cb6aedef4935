#include "tools/qeladmin/PasswordInput.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>

namespace {

// Turns the terminal's echo off for its lifetime.
class EchoOff {
public:
    explicit EchoOff(int fd) : fd_(fd) {
        if (::tcgetattr(fd_, &saved_) != 0) return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
        active_ = ::tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff() {
        if (active_) ::tcsetattr(fd_, TCSANOW, &saved_);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

std::optional<std::string> ReadLine() {
    std::string line;
    bool any = false;
    for (;;) {
        char c;
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got < 0) return std::nullopt;
        if (got == 0) break;
        any = true;
        if (c == '\n') break;
        if (line.size() < kMaxPasswordInput) line += c;
    }
    if (!any) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace

std::optional<std::string> ReadPassword(const char* prompt) {
    if (!::isatty(STDIN_FILENO)) return ReadLine();
    std::optional<std::string> line;
    {
        // Echo goes off before the prompt shows, so nothing typed after it is echoed.
        EchoOff quiet(STDIN_FILENO);
        std::fputs(prompt, stderr);
        std::fflush(stderr);
        line = ReadLine();
    }
    std::fputs("\n", stderr);
    return line;
}
