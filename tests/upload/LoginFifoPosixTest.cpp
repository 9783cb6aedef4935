// The login file swapped for a FIFO between the run's existence test and its
// open: the read must neither wait for a writer nor take the FIFO's bytes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "rtl/Exceptions.h"
#include "upload/LoginFile.h"

namespace fs = std::filesystem;

TEST(LoginFileSwappedForAFifo, IsRefusedWithoutWaitingOrReadingIt) {
    char pattern[] = "/tmp/qz-login-fifo-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string path = std::string(pattern) + "/LOC.DAT";
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    // Both ends held here, a login line waiting in it: an open that follows
    // the FIFO would read that line as the login.
    const int fifo = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fifo, 0);
    const std::string line = std::string(100, 'x') + "\r\n";
    ASSERT_EQ(::write(fifo, line.data(), line.size()), static_cast<ssize_t>(line.size()));

    try {
        (void)ReadLoginLine(path);
        ADD_FAILURE() << "the FIFO was read as the login file";
    } catch (const EInOutError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot read the login file " + path + ": not a regular file");
    }
    ::close(fifo);
    fs::remove_all(pattern);
}

TEST(LoginFileSwappedForALink, IsRefused) {
    char pattern[] = "/tmp/qz-login-link-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    { std::FILE* f = std::fopen((dir + "/other").c_str(), "wb"); ASSERT_NE(f, nullptr); std::fputs("x\r\n", f); std::fclose(f); }
    fs::create_symlink(dir + "/other", dir + "/LOC.DAT");
    EXPECT_THROW((void)ReadLoginLine(dir + "/LOC.DAT"), EInOutError);
    fs::remove_all(dir);
}
