#include <windows.h>

#include "UploadFixtureSystem.h"
#include "data/storage/XbaseTable.h"
#include "rtl/Utf8Path.h"

// On Windows the Perl reader cannot be started, so the fixture reads the
// records with the table engine; scripts/test-windows has the independent
// readers check tables written under Wine instead.
namespace qz::test {

int CurrentProcessId() { return int(::GetCurrentProcessId()); }

std::vector<std::vector<std::string>> DumpRecords(const std::string& dbf) {
    auto table = xbase::XbaseTable::open(PathFromUtf8(dbf), xbase::OpenMode::Shared, true);
    std::vector<std::vector<std::string>> records;
    std::vector<uint8_t> image(table->recordLength());
    for (uint32_t recno = 1; recno <= table->recordCount(); ++recno) {
        table->readRecord(recno, image);
        std::vector<std::string> values;
        for (const auto& f : table->fields()) {
            std::string text(reinterpret_cast<const char*>(image.data() + f.offset), f.width);
            text.erase(text.find_last_not_of(' ') + 1);
            if (f.type == 'N' || f.type == 'F') text.erase(0, text.find_first_not_of(' ') == std::string::npos ? text.size() : text.find_first_not_of(' '));
            values.push_back(text);
        }
        records.push_back(std::move(values));
    }
    return records;
}

}  // namespace qz::test
