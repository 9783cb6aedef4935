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

// A FIFO, a device or a link in the login file's place is named as not a
// regular file, not taken for a missing login file.
TEST(LoginFileOtherKinds, AreRefusedByName) {
    char pattern[] = "/tmp/qz-login-kind-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    for (const char* kind : {"fifo", "device link", "dangling link"}) {
        const std::string path = dir + "/LOC.DAT";
        fs::remove(path);
        if (std::string(kind) == "fifo") ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        else if (std::string(kind) == "device link") fs::create_symlink("/dev/zero", path);
        else fs::create_symlink(dir + "/nowhere", path);
        EXPECT_TRUE(LoginFileExists(path)) << kind;
        EXPECT_THROW((void)ReadLoginFile(dir, "LOC"), EInOutError) << kind;
    }
    fs::remove_all(dir);
}
