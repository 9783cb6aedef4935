#include "tests/data/TestSupport.h"

namespace testsupport {

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

xbase::FieldInfo Field(const char* name, char type, uint16_t width, uint8_t decimals) {
    return {name, type, width, decimals};
}

std::vector<xbase::FieldInfo> FileLogFields() {
    return {Field("DATE", 'D', 8), Field("FILENAME", 'C', 25), Field("FILCREATED", 'D', 8), Field("COPIED", 'C', 3)};
}

std::vector<xbase::FieldInfo> SettingsFields() {
    return {Field("LOCCODE", 'C', 10),  Field("PROPCODE", 'C', 10),  Field("PMS", 'C', 20),
            Field("LASTCOPY", 'D', 8),  Field("COPYFROM", 'C', 254), Field("COPYTO", 'C', 254)};
}

std::vector<xbase::FieldInfo> UpLogFields() {
    return {Field("DATE", 'D', 8),      Field("HOSTNAME", 'C', 60),   Field("FILENAME", 'C', 25),
            Field("DATETIME", 'C', 12), Field("TRANSFERED", 'N', 10), Field("UPLOADEDBY", 'C', 3)};
}

std::string Quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string SourceDir() { return QZ_SOURCE_DIR; }

std::string XbaseDump() { return "perl " + Quote(SourceDir() + "/tests/tools/xbase-dump"); }

std::vector<uint8_t> RawRecord(const std::filesystem::path& dbf, uint32_t recno) {
    auto table = xbase::XbaseTable::open(dbf, xbase::OpenMode::Shared, true);
    std::vector<uint8_t> image(table->recordLength());
    table->readRecord(recno, image);
    return image;
}

uint32_t RecordCount(const std::filesystem::path& dbf) {
    return xbase::XbaseTable::open(dbf, xbase::OpenMode::Shared, true)->recordCount();
}

CurrentDir::CurrentDir(const std::filesystem::path& folder) : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
}

CurrentDir::~CurrentDir() {
    std::error_code ec;
    std::filesystem::current_path(previous_, ec);
}

}  // namespace testsupport
