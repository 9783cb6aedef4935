#include "tools/qeladmin/PasswordInput.h"

#include <io.h>
#include <windows.h>

#include <cstdio>

namespace {

// Turns the console's echo off for its lifetime.
class EchoOff {
public:
    EchoOff() : input_(::GetStdHandle(STD_INPUT_HANDLE)) {
        if (::GetConsoleMode(input_, &saved_))
            active_ = ::SetConsoleMode(input_, saved_ & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
    }
    ~EchoOff() {
        if (active_) ::SetConsoleMode(input_, saved_);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    HANDLE input_;
    DWORD saved_ = 0;
    bool active_ = false;
};

std::optional<std::string> ReadLine() {
    std::string line;
    bool any = false;
    for (int c; (c = std::fgetc(stdin)) != EOF;) {
        any = true;
        if (c == '\n') break;
        if (line.size() < kMaxPasswordInput) line += static_cast<char>(c);
    }
    if (!any) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace

std::optional<std::string> ReadPassword(const char* prompt) {
    if (!::_isatty(::_fileno(stdin))) return ReadLine();
    std::optional<std::string> line;
    {
        // Echo goes off before the prompt shows, so nothing typed after it is echoed.
        EchoOff quiet;
        std::fputs(prompt, stderr);
        std::fflush(stderr);
        line = ReadLine();
    }
    std::fputs("\n", stderr);
    return line;
}
