#pragma once
// The table tests' scratch file log, shared by the tests that run in one
// process and those that need another process beside it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "data/storage/XbaseTable.h"
#include "data/table/DbfTable.h"
#include "data/values/DateTime.h"
#include "tests/data/TestSupport.h"

namespace testsupport {

// A file log in a scratch folder: records in the order given, tag FILENAME.
class FileLogTable : public ::testing::Test {
protected:
    void SetUp() override { SetShortDateFormat("MM/DD/yy", '/'); }

    void Make(const std::vector<std::string>& names, bool withTag = true) {
        xbase::XbaseTable::create(dbf(), testsupport::FileLogFields());
        TDbfTable writer("Writer");
        writer.SetDatabaseName(dir.str());
        writer.SetTableName("FILELOG.DBF");
        writer.Open();
        for (const std::string& n : names) {
            writer.Append();
            writer.WriteText("FILENAME", n);
            writer.WriteText("COPIED", "YES");
            writer.Post();
        }
        writer.Close();
        if (withTag) writer.CreateIndexTag("FILENAME", "FILENAME", 0);
    }
    void MarkDeleted(uint32_t recno) {
        auto t = xbase::XbaseTable::open(dbf(), xbase::OpenMode::Shared, false);
        std::vector<uint8_t> image(t->recordLength());
        t->readRecord(recno, image);
        image[0] = '*';
        t->writeRecord(recno, image);
    }
    void OpenLog(const std::string& tag = "FILENAME") {
        log.SetDatabaseName(dir.str() + "/");
        log.SetTableName("FILELOG.DBF");
        log.SetIndexName(tag);
        log.Open();
    }
    // Another handle on the same file log, as another program would have.
    void OpenOther(TDbfTable& other) const {
        other.SetDatabaseName(dir.str());
        other.SetTableName("FILELOG.DBF");
        other.SetIndexName("FILENAME");
        other.Open();
    }
    std::filesystem::path dbf() const { return dir.path() / "FILELOG.DBF"; }
    uint32_t Count() const { return testsupport::RecordCount(dbf()); }

    testsupport::TempDir dir;
    TDbfTable log{"DbfFileLog"};
};

}  // namespace testsupport
