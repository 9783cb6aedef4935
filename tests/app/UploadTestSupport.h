#pragma once
// What the upload tests of the window and of `qeladmin upload` share: the
// tables as the independent reader sees them, shell commands, files, the
// login file and a scripted server's log-in.
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "ProgramFolder.h"
#include "tests/support/ScriptedFtpServer.h"
#include "tests/support/TodayYmd.h"

namespace qztest {

using qz::test::TodayYmd;

inline const char* const kLastCopyBefore = "20050616";   // what WriteUsualSettings stores
inline const char* const kFtpPassword = "qelzav@";

// Port 21 is taken only inside a network namespace of the test's own
// (in-netns.sh makes it; the process that started the test stays outside).
bool InOwnNetworkNamespace();

#define REQUIRE_OWN_NETWORK_NAMESPACE()                                                                   \
    if (!qztest::InOwnNetworkNamespace())                                                                 \
    GTEST_SKIP() << "needs root and a network namespace of its own for an FTP server on port 21; "        \
                    "run it through ctest (tests/app/in-netns.sh: unshare --net)"

// Runs a shell command and returns its standard output; a non-zero exit
// status fails the test.
std::string Shell(const std::string& command);
std::string Quoted(const std::string& text);
std::vector<std::string> Lines(const std::string& text);
std::string ReadFile(const std::filesystem::path& path);
// Bytes of a recognisable pattern.
std::string Bytes(std::size_t count, unsigned seed);

// The records of a DBF table as the independent reader (xbase-dump) sees them.
std::vector<std::vector<std::string>> Records(const std::string& dbf);

// The FTP server's root with its "incoming" folder, below base.
std::string ServerRoot(const std::filesystem::path& base);

// An extract file of the given bytes in the source folder, dated 06/15/05 by
// its name and its time of change.
void AddDatedExtract(ProgramFolder& folder, const std::string& name, const std::string& bytes);

// The login file for location ABC and 127.0.0.1, written by `qeladmin login`
// as the administrator does (the password on standard input).
void QeladminLogin(const std::string& programFolder, const std::string& user, const std::string& password,
                   const std::string& remoteFolder);

// A login file for location ABC: 127.0.0.1, user "hotel", password "secret".
void WriteLoginFile(const std::string& programFolder);

// A scripted server's answers up to and including SYST.
std::vector<qz::test::ScriptStep> LoggedIn();

}  // namespace qztest
