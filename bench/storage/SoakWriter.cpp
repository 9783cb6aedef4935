// The writer of bench/storage/soak.py, through the storage engine:
//   soak_writer create TABLE      a new file-log table with its FILENAME tag
//   soak_writer write TABLE TRIAL appends records "T<trial>_<n>" (COPIED "NO")
//                                 and marks earlier ones "YES", until killed;
//                                 prints "A recno name" / "U recno name" once
//                                 each write has returned
//   soak_writer open TABLE        opens and closes it (finishes what a killed
//                                 writer left in the journal)
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "data/storage/XbaseTable.h"

using namespace xbase;

namespace {

std::vector<FieldInfo> fileLogFields()
{
    return {{"DATE", 'D', 8, 0, 0}, {"FILENAME", 'C', 25, 0, 0}, {"FILCREATED", 'D', 8, 0, 0}, {"COPIED", 'C', 3, 0, 0}};
}

void put(const XbaseTable& table, std::vector<uint8_t>& image, const std::string& field, const std::string& text)
{
    for (const auto& f : table.fields())
        if (f.name == field)
            for (size_t i = 0; i < f.width; ++i) image[f.offset + i] = i < text.size() ? uint8_t(text[i]) : ' ';
}

void say(const std::string& line)
{
    const std::string text = line + "\n";
    if (::write(1, text.data(), text.size()) != ssize_t(text.size())) ::_exit(3);
}

int write(const std::string& path, const std::string& trial)
{
    auto table = XbaseTable::open(path, OpenMode::Shared, false);
    std::mt19937 rng(std::random_device{}());
    std::vector<std::pair<uint32_t, std::string>> mine;
    for (int n = 1;; ++n) {
        if (!mine.empty() && rng() % 4 == 0) {
            const auto [recno, name] = mine[rng() % mine.size()];
            std::vector<uint8_t> image(table->recordLength());
            table->lockRecord(recno);
            table->readRecord(recno, image);
            put(*table, image, "COPIED", "YES");
            table->writeRecord(recno, image);
            table->unlockRecord(recno);
            say("U " + std::to_string(recno) + " " + name);
        } else {
            const std::string name = "T" + trial + "_" + std::to_string(n);
            auto image = table->blankRecord();
            put(*table, image, "DATE", "20261210");
            put(*table, image, "FILENAME", name);
            put(*table, image, "FILCREATED", "20261210");
            put(*table, image, "COPIED", "NO");
            const uint32_t recno = table->appendRecord(image);
            mine.emplace_back(recno, name);
            say("A " + std::to_string(recno) + " " + name);
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        const std::string what = argc >= 3 ? argv[1] : "";
        if (what == "create" && argc == 3) {
            XbaseTable::create(argv[2], fileLogFields());
            XbaseTable::open(argv[2], OpenMode::Exclusive, false)->createTag("FILENAME", "FILENAME", false, false);
            return 0;
        }
        if (what == "write" && argc == 4) return write(argv[2], argv[3]);
        if (what == "open" && argc == 3) {
            XbaseTable::open(argv[2], OpenMode::Shared, false);
            return 0;
        }
    } catch (const XbaseError& e) {
        std::fprintf(stderr, "soak_writer: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: soak_writer create|open TABLE | soak_writer write TABLE TRIAL\n");
    return 2;
}
