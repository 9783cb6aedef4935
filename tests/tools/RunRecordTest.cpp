// The monitoring record's text and how the last success is carried over,
// and which failures the retry rule tries again. (The record parsed by the
// node exporter's own parser: admin-commands.sh.)
#include <gtest/gtest.h>

#include <filesystem>

#include "ftp/NetExceptions.h"
#include "upload/RetryPolicy.h"
#include "upload/RunRecord.h"
#include "tests/support/FileText.h"

namespace fs = std::filesystem;
using qz::test::ReadAll;

namespace {

TEST(RunRecord, HostileMessageStaysOneLabel) {
    TRunRecord r;
    r.Message = "bad \"reply\"\\\r\n\x1b[31m";
    r.Folder = "/srv/hotel";
    const std::string text = FormatRunRecord(r);
    EXPECT_NE(text.find("message=\"bad \\\"reply\\\"\\\\\\n[31m\""), std::string::npos) << text;
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
}

TEST(RunRecord, LastSuccessKeptAcrossFailures) {
    const fs::path path = fs::temp_directory_path() / ("qz-record-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".prom");
    fs::remove(path);
    const auto write = [&](std::int64_t time, int status) {
        TRunRecord r;
        r.RunTime = time;
        r.Status = status;
        WriteRunRecord(path.string(), r);
        return LastSuccessIn(ReadAll(path));
    };
    EXPECT_EQ(write(100, 4), std::nullopt);   // no success yet
    EXPECT_EQ(write(200, 0), 200);
    EXPECT_EQ(write(300, 5), 200);
    EXPECT_EQ(write(400, 9), 400);            // finished, some files left out
    EXPECT_EQ(write(500, 8), 400);
    EXPECT_FALSE(fs::exists(path.string() + ".new"));
    fs::remove(path);
}

TEST(RetryPolicy, TransientFailuresOnly) {
    EXPECT_TRUE(IsTransientFailure(ENetSocketError(10061, "refused")));
    EXPECT_TRUE(IsTransientFailure(ENetSocketError(10060, "timed out")));
    EXPECT_TRUE(IsTransientFailure(ENetConnectTimeout()));
    EXPECT_TRUE(IsTransientFailure(ENetConnectException("Socket Error # 10061 Connection refused.")));
    for (int code : {421, 425, 426, 450, 451, 452}) EXPECT_TRUE(IsTransientFailure(ENetProtocolReplyError(code, "x"))) << code;
    for (int code : {530, 550, 553, 500, 449, 453}) EXPECT_FALSE(IsTransientFailure(ENetProtocolReplyError(code, "x"))) << code;
    EXPECT_FALSE(IsTransientFailure(ENetSocketError(11001, "host not found")));
    EXPECT_FALSE(IsTransientFailure(std::runtime_error("table")));
}

}  // namespace
