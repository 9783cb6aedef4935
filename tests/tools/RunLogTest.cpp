// The lines `qeladmin upload` adds for an administrator: the time leading a
// logged line, the masked password, the per-file line, and the what-and-where
// line under each message that needs one. (Through the command:
// tests/app/UnattendedUploadTest.cpp.)
#include <gtest/gtest.h>

#include <regex>

#include "ftp/NetExceptions.h"
#include "tools/qeladmin/MessageContext.h"
#include "tools/qeladmin/RunLog.h"

namespace {

TEST(RunLog, LeadsALoggedLineWithTheLocalTimeOnlyWhenTimed) {
    const std::time_t when = 1786000000;
    EXPECT_TRUE(std::regex_match(IsoLocalTime(when), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)")))
        << IsoLocalTime(when);
    EXPECT_EQ(LogLine("All Finished!", true, when), IsoLocalTime(when) + " All Finished!");
    EXPECT_EQ(LogLine("All Finished!", false, when), "All Finished!");
}

TEST(RunLog, NeverShowsAPassword) {
    const struct { const char* line; const char* shown; } cases[] = {
        {"PASS s3cret", "PASS ****"}, {"pass s3cret", "PASS ****"}, {"PASS <password>", "PASS ****"},
        {"PASS", "PASS ****"},        {"USER hotel", "USER hotel"}, {"PASSIVE x", "PASSIVE x"},
        {"STOR PASS", "STOR PASS"},
    };
    for (const auto& c : cases) EXPECT_EQ(MaskedCommand(c.line), c.shown) << c.line;
}

TEST(RunLog, NamesEachFileSentWithItsBytesAndTime) {
    EXPECT_EQ(FileSentLine("F1061505.xml", 1007, 1234), "Sent F1061505.xml (1007 bytes in 1.234 s)");
    EXPECT_EQ(FileSentLine("a.xml", 0, 5), "Sent a.xml (0 bytes in 0.005 s)");
}

TEST(MessageContext, SaysWhatAndWhereForEachMessageThatNeedsIt) {
    TMessageFacts facts{"ftp.example", 2121, "/srv/extracts", "/opt/hotel/ABC.LOG", "F2061505.xml"};
    const ENetSocketError refused(10061);
    const ENetConnectException connectRefused("Socket Error # 10061\r\nConnection refused");
    const ENetConnectTimeout timedOut;
    const std::runtime_error other("Socket Error # 10061 Connection refused.");
    const struct {
        std::string text;
        const std::exception* error;
        std::optional<std::string> line;
    } cases[] = {
        {"Socket Error # 10061 Connection refused.", &refused,
         "  FTP server ftp.example port 2121 (from the login file /opt/hotel/ABC.LOG)"},
        {"Socket Error # 10061 Connection refused.", &connectRefused,
         "  FTP server ftp.example port 2121 (from the login file /opt/hotel/ABC.LOG)"},
        {"Connect timed out.", &timedOut, "  FTP server ftp.example port 2121 (from the login file /opt/hotel/ABC.LOG)"},
        {"Invalid Directory!", nullptr, "  extract folder \"/srv/extracts\" is not an existing folder"},
        {"Not Enough Login Information To Upload!", nullptr,
         "  login file /opt/hotel/ABC.LOG is missing or incomplete: write it with qeladmin login"},
        {"Invalid Date!", nullptr, "  file \"F2061505.xml\" has no valid date in its name (sent all the same)"},
        {"Could not create file.", &other,
         "  file \"F2061505.xml\": the FTP server refused to create it (ftp.example, check the remote folder and "
         "its permissions)"},
        {"Could not create file", &other,
         "  file \"F2061505.xml\": the FTP server refused to create it (ftp.example, check the remote folder and "
         "its permissions)"},
        {"Failure writing to local file.", &other,
         "  file \"F2061505.xml\": the FTP server ftp.example could not write it to its own disk (full or over quota)"},
        {"All Finished!", nullptr, std::nullopt},
        {"Login incorrect.", &other, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(MessageContext(c.text, c.error, facts), c.line) << c.text;
}

}  // namespace
