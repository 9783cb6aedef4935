// The table object beside another process: a change made between Seek and
// Edit, a disk that fills up during a write, a writer that dies in a batch.
// POSIX only: the other process is a fork.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "data/local/LocalTables.h"
#include "data/storage/OsFile.h"
#include "data/table/DbfTable.h"
#include "tests/data/FileLogTableFixture.h"
#include "tests/data/TestSupport.h"

namespace {

using testsupport::FileLogTable;

// Edit starts from the record as it is on disk now, not as Seek read it:
// another process's change made in between is kept by the Post.
TEST_F(FileLogTable, EditStartsFromTheRecordAsAnotherProcessLeftIt) {
    Make({"A.xml", "B.xml"});
    OpenLog();
    ASSERT_TRUE(log.Seek("A.xml", true));
    ASSERT_EQ(log.ReadText("COPIED"), "YES");
    const pid_t pid = fork();
    if (pid == 0) {
        int code = 1;
        try {
            TDbfTable other("DbfOther");
            OpenOther(other);
            if (other.Seek("A.xml", true)) {
                other.Edit();
                other.WriteText("COPIED", "NO");
                other.Post();
                code = 0;
            }
        } catch (...) {
            code = 2;
        }
        _exit(code);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    log.Edit();
    EXPECT_EQ(log.ReadText("COPIED"), "NO");
    log.WriteDate("FILCREATED", EncodeDate(2024, 3, 14));
    log.Post();
    log.Close();
    auto t = xbase::XbaseTable::open(dbf(), xbase::OpenMode::Shared, true);
    std::vector<uint8_t> image(t->recordLength());
    t->readRecord(1, image);
    const std::string text(image.begin(), image.end());
    EXPECT_EQ(text.substr(1 + 8 + 25, 8), "20240314");   // our change
    EXPECT_EQ(text.substr(1 + 8 + 25 + 8, 3), "NO ");     // the other process's change, kept
}

// The disk fills up (here: the file size limit) after the update is in the
// journal, while it is written in place: Post reports the failure, and the
// repeated Post once there is room appends the record once, not twice.
TEST_F(FileLogTable, RepeatedPostAfterAFailedInPlaceWriteAppendsOneCopy) {
    std::vector<std::string> names;
    // Larger than the journal, so that the limit stops only the table.
    for (int i = 0; i < 6500; ++i) names.push_back("OLD_" + std::to_string(i) + ".xml");
    xbase::setSyncEnabled(false);
    Make(names);
    xbase::setSyncEnabled(true);
    const uint32_t before = Count();
    const pid_t pid = fork();
    if (pid == 0) {
        int code = 0;
        try {
            ::signal(SIGXFSZ, SIG_IGN);
            OpenLog();
            log.Append();
            log.WriteText("FILENAME", "NEW.xml");
            log.WriteText("COPIED", "YES");
            rlimit limit {};
            ::getrlimit(RLIMIT_FSIZE, &limit);
            const rlim_t hard = limit.rlim_max;
            limit.rlim_cur = rlim_t(std::filesystem::file_size(dbf()));
            ::setrlimit(RLIMIT_FSIZE, &limit);
            try {
                log.Post();
                code = 3;
            } catch (const EDbfDatabaseError& e) {
                if (e.Message().find("File too large") == std::string::npos) code = 4;
            }
            limit.rlim_cur = hard;
            ::setrlimit(RLIMIT_FSIZE, &limit);
            if (code == 0) log.Post();
            log.Close();
        } catch (...) {
            code = 5;
        }
        _exit(code);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Count(), before + 1);
    int copies = 0;
    for (uint32_t r = before - 2; r <= Count(); ++r) {
        const auto raw = testsupport::RawRecord(dbf(), r);
        if (std::string(raw.begin() + 9, raw.begin() + 16) == "NEW.xml") ++copies;
    }
    EXPECT_EQ(copies, 1);
    EXPECT_EQ(testsupport::RunCommand(testsupport::XbaseDump() + " " + testsupport::Quote(dbf().string())).exitCode, 0);
}

// A batch of file-log updates is committed whole, or not at all: dropped on
// an exception, or left out when its writer dies before the commit.
TEST_F(FileLogTable, ABatchOfUpdatesIsAllOrNothing) {
    Make({"A.xml", "B.xml"});
    OpenLog();
    const auto mark = [&](const std::vector<std::string>& names, bool commit) {
        TDbfBatch batch(log);
        for (const auto& n : names) UpdateFileLog(log, {EncodeDate(2005, 6, 15), n, "06/15/05"});
        EXPECT_TRUE(log.Seek(names.back(), true));   // this table sees its batch
        if (commit) batch.Commit();
    };
    const auto before = testsupport::RunCommand(testsupport::XbaseDump() + " " + testsupport::Quote(dbf().string()));
    mark({"B.xml", "C.xml", "D.xml"}, false);
    EXPECT_EQ(Count(), 2u);
    EXPECT_FALSE(log.Seek("C.xml", true));
    EXPECT_EQ(log.State(), TDataSetState::Browsing);
    EXPECT_EQ(testsupport::RunCommand(testsupport::XbaseDump() + " " + testsupport::Quote(dbf().string())).output, before.output);

    const pid_t pid = fork();
    if (pid == 0) {
        TDbfTable writer("Writer");
        writer.SetDatabaseName(dir.str());
        writer.SetTableName("FILELOG.DBF");
        writer.SetIndexName("FILENAME");
        writer.Open();
        writer.BeginBatch();
        for (const char* n : {"A.xml", "E.xml", "F.xml"}) UpdateFileLog(writer, {EncodeDate(2005, 6, 15), n, "06/15/05"});
        _exit(0);   // dies with its batch open
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(Count(), 2u);
    EXPECT_EQ(testsupport::RunCommand(testsupport::XbaseDump() + " " + testsupport::Quote(dbf().string())).output, before.output);

    mark({"B.xml", "C.xml", "D.xml"}, true);
    EXPECT_EQ(Count(), 4u);
    for (const char* n : {"A.xml", "B.xml", "C.xml", "D.xml"}) EXPECT_TRUE(log.Seek(n, true)) << n;
    log.Close();
    const auto after = testsupport::RunCommand(testsupport::XbaseDump() + " --cdx " + testsupport::Quote((dir.path() / "FILELOG.CDX").string()) +
                                               " --tag FILENAME " + testsupport::Quote(dbf().string()));
    EXPECT_EQ(after.exitCode, 0) << after.output;
}

}  // namespace
