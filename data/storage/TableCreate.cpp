// New empty tables.
#include "data/storage/DbfHeader.h"
#include "data/storage/Journal.h"
#include "data/storage/OsFile.h"
#include "data/storage/TableState.h"
#include "data/storage/XbaseTable.h"

namespace xbase {

void XbaseTable::create(const std::filesystem::path& dbfPath, const std::vector<FieldInfo>& fields, uint8_t version)
{
    const std::vector<uint8_t> bytes = DbfHeader::buildEmptyTable(fields, version, Utf8FromPath(dbfPath.filename()));
    OsFile file = OsFile::createNew(dbfPath);
    file.writeAt(0, bytes);
    file.sync();
    // An index left behind by an earlier table of that name describes records
    // that no longer exist; its journal must never be written into the new
    // table, which gets an empty one (made now, so that its first update
    // need not make it).
    std::error_code ec;
    if (auto stale = findStructuralIndex(dbfPath); !stale.empty()) std::filesystem::remove(stale, ec);
    Journal::createEmpty(Journal::pathFor(dbfPath));
    syncDirectoryOf(dbfPath);
}

}  // namespace xbase
