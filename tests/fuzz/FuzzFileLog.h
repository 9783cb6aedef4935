#pragma once
// What the index and journal fuzz targets share: a scratch folder of this
// process, a small file log of 40 records to put a hostile file next to,
// and the updates that run through the fuzzed file.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "data/storage/XbaseTable.h"

namespace fuzz {

inline const std::filesystem::path& scratchDir(const std::string& what)
{
    static const std::filesystem::path dir = [&] {
        auto d = std::filesystem::temp_directory_path() / ("qz-fuzz-" + what + "-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir;
}

inline std::vector<uint8_t> readAll(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::filesystem::path& path, const uint8_t* data, size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
}

// Makes `dir`/TEMPLATE.DBF: the file-log layout with 40 records, and its
// FILENAME tag when `withTag`.
inline std::filesystem::path makeTemplate(const std::filesystem::path& dir, bool withTag)
{
    const auto path = dir / "TEMPLATE.DBF";
    std::filesystem::remove(path);
    std::filesystem::remove(dir / "TEMPLATE.CDX");
    xbase::XbaseTable::create(path, {{"DATE", 'D', 8, 0, 0}, {"FILENAME", 'C', 25, 0, 0}, {"FILCREATED", 'D', 8, 0, 0}, {"COPIED", 'C', 3, 0, 0}});
    auto t = xbase::XbaseTable::open(path, xbase::OpenMode::Exclusive, false);
    if (withTag) t->createTag("FILENAME", "FILENAME", false, false);
    for (int i = 0; i < 40; ++i) {
        auto image = t->blankRecord();
        std::string name = "FILE_" + std::to_string(100 + i * 7 % 40) + ".xml";
        std::copy(name.begin(), name.end(), image.begin() + 9);
        t->appendRecord(image);
    }
    return path;
}

// One append, then a change of the new record and of record 1.
inline void appendAndChange(xbase::XbaseTable& t)
{
    auto image = t.blankRecord();
    const std::string name = "FILE_999.xml";
    std::copy(name.begin(), name.end(), image.begin() + 9);
    const uint32_t r = t.appendRecord(image);
    image[9] = 'A';
    t.writeRecord(r, image);
    t.writeRecord(1, image);
}

}  // namespace fuzz
