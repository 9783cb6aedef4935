// Fuzzes the index reader and writer: the input is a .CDX file placed next
// to a small valid file-log table; every tag is walked both ways, seeked,
// and one record is appended and changed through it.
#include <cstdint>
#include <string>

#include "FuzzFileLog.h"
#include "data/storage/OsFile.h"
#include "data/storage/XbaseTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    xbase::setSyncEnabled(false);
    const auto& dir = fuzz::scratchDir("cdx");
    static const std::vector<uint8_t> table = fuzz::readAll(fuzz::makeTemplate(dir, false));
    const auto dbf = dir / "FUZZ.DBF";
    fuzz::writeFile(dbf, table.data(), table.size());
    fuzz::writeFile(dir / "FUZZ.CDX", data, size);
    std::filesystem::remove(dir / "FUZZ.DBF.qzj");
    try {
        auto t = xbase::XbaseTable::open(dbf, xbase::OpenMode::Exclusive, false);
        int budget = 5000;
        for (const auto& name : t->tagNames()) {
            auto tag = t->tag(name);
            for (auto r = tag->first(); r && --budget > 0; r = tag->next()) {}
            for (auto r = tag->last(); r && --budget > 0; r = tag->prev()) {}
            tag->seek("FILE_110.xml");
            tag->seek("");
        }
        fuzz::appendAndChange(*t);
    } catch (const xbase::XbaseError&) {
    }
    return 0;
}
