// Fuzzes the index reader and writer: the input is a .CDX file placed next
// to a small valid file-log table; every tag is walked both ways, seeked,
// and one record is appended and changed through it.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "data/storage/PosixFile.h"
#include "data/storage/XbaseTable.h"

namespace {

const std::filesystem::path& scratchDir()
{
    static const std::filesystem::path dir = [] {
        auto d = std::filesystem::temp_directory_path() / ("qz-fuzz-cdx-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir;
}

std::vector<uint8_t> tableBytes()
{
    static const std::vector<uint8_t> bytes = [] {
        const auto path = scratchDir() / "TEMPLATE.DBF";
        std::filesystem::remove(path);
        xbase::XbaseTable::create(path, {{"DATE", 'D', 8, 0, 0}, {"FILENAME", 'C', 25, 0, 0}, {"FILCREATED", 'D', 8, 0, 0}, {"COPIED", 'C', 3, 0, 0}});
        {
            auto t = xbase::XbaseTable::open(path, xbase::OpenMode::Exclusive, false);
            for (int i = 0; i < 40; ++i) {
                auto image = t->blankRecord();
                std::string name = "FILE_" + std::to_string(100 + i * 7 % 40) + ".xml";
                std::copy(name.begin(), name.end(), image.begin() + 9);
                t->appendRecord(image);
            }
        }
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }();
    return bytes;
}

void writeFile(const std::filesystem::path& path, const uint8_t* data, size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    xbase::setSyncEnabled(false);
    const auto table = tableBytes();
    const auto dbf = scratchDir() / "FUZZ.DBF";
    std::filesystem::remove(scratchDir() / "FUZZ.DBF.qzj");
    writeFile(dbf, table.data(), table.size());
    writeFile(scratchDir() / "FUZZ.CDX", data, size);
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
        auto image = t->blankRecord();
        const std::string name = "FILE_999.xml";
        std::copy(name.begin(), name.end(), image.begin() + 9);
        const uint32_t r = t->appendRecord(image);
        image[9] = 'A';
        t->writeRecord(r, image);
        t->writeRecord(1, image);
    } catch (const xbase::XbaseError&) {
    }
    return 0;
}
