// Fuzzes the journal reader: the input is the journal left next to a small
// valid file-log table and its index; the table is opened (which finishes
// what the journal holds), its tag walked and sought, and one record is
// appended and changed through the journal.
#include <cstdint>
#include <string>

#include "FuzzFileLog.h"
#include "data/storage/Journal.h"
#include "data/storage/OsFile.h"
#include "data/storage/XbaseTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    xbase::setSyncEnabled(false);
    const auto& dir = fuzz::scratchDir("journal");
    static const std::vector<uint8_t> table = fuzz::readAll(fuzz::makeTemplate(dir, true));
    static const std::vector<uint8_t> index = fuzz::readAll(dir / "TEMPLATE.CDX");
    const auto dbf = dir / "FUZZ.DBF";
    fuzz::writeFile(dbf, table.data(), table.size());
    fuzz::writeFile(dir / "FUZZ.CDX", index.data(), index.size());
    fuzz::writeFile(xbase::Journal::pathFor(dbf), data, size);
    try {
        auto t = xbase::XbaseTable::open(dbf, xbase::OpenMode::Shared, false);
        auto tag = t->tag("FILENAME");
        int budget = 5000;
        for (auto r = tag->first(); r && --budget > 0; r = tag->next()) {}
        tag->seek("FILE_110.xml");
        fuzz::appendAndChange(*t);
    } catch (const xbase::XbaseError&) {
    }
    return 0;
}
