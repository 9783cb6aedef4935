// Fuzzes the table reader: the input is a whole .DBF file (no index).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "data/storage/XbaseTable.h"

namespace {

std::filesystem::path scratchFile()
{
    static const std::filesystem::path dir = [] {
        auto d = std::filesystem::temp_directory_path() / ("qz-fuzz-dbf-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir / "FUZZ.DBF";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto path = scratchFile();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    try {
        auto table = xbase::XbaseTable::open(path, xbase::OpenMode::Exclusive, true);
        std::vector<uint8_t> image(table->recordLength());
        const uint32_t count = std::min<uint32_t>(table->recordCount(), 1000);
        for (uint32_t r = 1; r <= count; ++r) table->readRecord(r, image);
        (void)table->fields();
        (void)table->blankRecord();
    } catch (const xbase::XbaseError&) {
    }
    return 0;
}
