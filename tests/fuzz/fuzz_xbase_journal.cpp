// Fuzzes the journal reader: the input is the journal left next to a small
// valid file-log table and its index; the table is opened (which finishes
// what the journal holds), its tag walked and sought, and one record is
// appended and changed through the journal.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "data/storage/Journal.h"
#include "data/storage/PosixFile.h"
#include "data/storage/XbaseTable.h"

namespace {

namespace fs = std::filesystem;

const fs::path& scratchDir()
{
    static const fs::path dir = [] {
        auto d = fs::temp_directory_path() / ("qz-fuzz-journal-" + std::to_string(::getpid()));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

std::vector<uint8_t> readAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const uint8_t* data, size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
}

struct Template {
    std::vector<uint8_t> dbf, cdx;
};

const Template& tableFiles()
{
    static const Template files = [] {
        const auto path = scratchDir() / "TEMPLATE.DBF";
        fs::remove(path);
        fs::remove(scratchDir() / "TEMPLATE.CDX");
        xbase::XbaseTable::create(path, {{"DATE", 'D', 8, 0, 0}, {"FILENAME", 'C', 25, 0, 0}, {"FILCREATED", 'D', 8, 0, 0}, {"COPIED", 'C', 3, 0, 0}});
        {
            auto t = xbase::XbaseTable::open(path, xbase::OpenMode::Exclusive, false);
            t->createTag("FILENAME", "FILENAME", false, false);
            for (int i = 0; i < 40; ++i) {
                auto image = t->blankRecord();
                std::string name = "FILE_" + std::to_string(100 + i * 7 % 40) + ".xml";
                std::copy(name.begin(), name.end(), image.begin() + 9);
                t->appendRecord(image);
            }
        }
        return Template{readAll(path), readAll(scratchDir() / "TEMPLATE.CDX")};
    }();
    return files;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    xbase::setSyncEnabled(false);
    const Template& files = tableFiles();
    const auto dbf = scratchDir() / "FUZZ.DBF";
    writeFile(dbf, files.dbf.data(), files.dbf.size());
    writeFile(scratchDir() / "FUZZ.CDX", files.cdx.data(), files.cdx.size());
    writeFile(xbase::Journal::pathFor(dbf), data, size);
    try {
        auto t = xbase::XbaseTable::open(dbf, xbase::OpenMode::Shared, false);
        auto tag = t->tag("FILENAME");
        int budget = 5000;
        for (auto r = tag->first(); r && --budget > 0; r = tag->next()) {}
        tag->seek("FILE_110.xml");
        auto image = t->blankRecord();
        const std::string name = "FILE_999.xml";
        std::copy(name.begin(), name.end(), image.begin() + 9);
        const uint32_t r = t->appendRecord(image);
        image[9] = 'A';
        t->writeRecord(r, image);
    } catch (const xbase::XbaseError&) {
    }
    return 0;
}
