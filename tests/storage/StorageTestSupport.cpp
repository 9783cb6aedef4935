#include "StorageTestSupport.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "data/storage/Journal.h"
#include "data/storage/OsFile.h"
#include "data/storage/TableState.h"

namespace storage_test {

ScratchDir::ScratchDir()
{
    std::random_device rd;
    auto base = std::filesystem::temp_directory_path();
    for (int i = 0; i < 100; ++i) {
        auto p = base / ("qz-storage-" + std::to_string(currentProcessId()) + "-" + std::to_string(rd()));
        if (std::filesystem::create_directory(p)) {
            path_ = p;
            return;
        }
    }
    throw std::runtime_error("cannot create a scratch folder");
}

ScratchDir::~ScratchDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

SyncOff::SyncOff() { xbase::setSyncEnabled(false); }
SyncOff::~SyncOff() { xbase::setSyncEnabled(true); }

std::vector<xbase::FieldInfo> fileLogFields()
{
    return {{"DATE", 'D', 8, 0, 0}, {"FILENAME", 'C', 25, 0, 0}, {"FILCREATED", 'D', 8, 0, 0}, {"COPIED", 'C', 3, 0, 0}};
}

std::filesystem::path makeFileLog(const std::filesystem::path& dir, const std::string& name)
{
    auto path = dir / name;
    xbase::XbaseTable::create(path, fileLogFields());
    auto table = xbase::XbaseTable::open(path, xbase::OpenMode::Exclusive, false);
    table->createTag("FILENAME", "FILENAME", false, false);
    return path;
}

static void putField(const xbase::XbaseTable& table, std::vector<uint8_t>& image, const std::string& field,
                     const std::string& text)
{
    for (const auto& f : table.fields()) {
        if (f.name != field) continue;
        for (size_t i = 0; i < f.width; ++i) image[f.offset + i] = i < text.size() ? uint8_t(text[i]) : ' ';
        return;
    }
    throw std::runtime_error("no field " + field);
}

std::vector<uint8_t> fileLogRecord(const xbase::XbaseTable& table, const std::string& fileName, const std::string& date,
                                   const std::string& copied)
{
    auto image = table.blankRecord();
    putField(table, image, "DATE", date);
    putField(table, image, "FILENAME", fileName);
    putField(table, image, "FILCREATED", date);
    putField(table, image, "COPIED", copied);
    return image;
}

std::string fieldText(const xbase::XbaseTable& table, const std::vector<uint8_t>& image, const std::string& field)
{
    for (const auto& f : table.fields()) {
        if (f.name != field) continue;
        std::string s(reinterpret_cast<const char*>(image.data() + f.offset), f.width);
        while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
        return s;
    }
    throw std::runtime_error("no field " + field);
}

std::vector<uint8_t> readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

int codeOf(const std::function<void()>& action, std::string* message)
{
    try {
        action();
    } catch (const xbase::XbaseError& e) {
        if (message) *message = e.what();
        return e.code();
    }
    return xbase::kOk;
}

std::string quote(const std::filesystem::path& path)
{
    std::string s = "'";
    for (char c : path.string()) {
        if (c == '\'') s += "'\\''";
        else s += c;
    }
    return s + "'";
}

CommandResult xbaseDump(const std::filesystem::path& dbf, const std::string& tag)
{
    std::string cmd = quote(std::filesystem::path(QZ_SOURCE_DIR) / "tests/tools/xbase-dump");
    if (!tag.empty()) cmd += " --cdx " + quote(xbase::findStructuralIndex(dbf)) + " --tag " + tag;
    return run(cmd + " " + quote(dbf));
}

void pythonAppend(const std::filesystem::path& dbf, const std::string& fileName)
{
    const auto r = run("/usr/bin/python3 -c \"import datetime, dbf, sys; t = dbf.Table(sys.argv[1]); t.open(dbf.READ_WRITE); "
                       "d = datetime.date(2024, 3, 15); t.append((d, sys.argv[2], d, 'PY')); t.close()\" " +
                       quote(dbf) + " " + quote(fileName));
    if (r.exitCode != 0) throw std::runtime_error("python3-dbf append failed: " + r.output);
}

std::vector<std::string> pythonFileNames(const std::filesystem::path& dbf)
{
    const auto r = run("/usr/bin/python3 -c \"import dbf, sys; t = dbf.Table(sys.argv[1]); t.open(dbf.READ_ONLY); "
                       "[print(r['filename'].rstrip()) for r in t]; t.close()\" " + quote(dbf));
    if (r.exitCode != 0) throw std::runtime_error("python3-dbf read failed: " + r.output);
    std::vector<std::string> names;
    size_t start = 0;
    for (size_t nl; (nl = r.output.find('\n', start)) != std::string::npos; start = nl + 1)
        names.push_back(r.output.substr(start, nl - start));
    return names;
}

JournalSeen journalOf(const std::filesystem::path& dbf)
{
    const auto bytes = readFile(xbase::Journal::pathFor(dbf));
    const auto header = xbase::JournalHeader::parse(bytes);
    if (!header) throw std::runtime_error("no journal header");
    JournalSeen seen{header->generation, {}};
    uint64_t pos = xbase::JournalHeader::kRecordsStart;
    while (pos + xbase::JournalRecordHeader::kSize <= bytes.size()) {
        const auto r = xbase::JournalRecordHeader::parse(std::span<const uint8_t>(bytes).subspan(pos));
        if (!r || r->generation != seen.generation || r->seq != seen.records.size() + 1) break;
        seen.records.emplace_back(pos, *r);
        pos += r->recordSize();
    }
    return seen;
}

void editRecords(const std::filesystem::path& dbf, const std::function<void(xbase::JournalRecordHeader&)>& change)
{
    auto bytes = readFile(xbase::Journal::pathFor(dbf));
    for (auto [pos, r] : journalOf(dbf).records) {
        change(r);
        const auto block = r.serialize();
        std::copy(block.begin(), block.end(), bytes.begin() + std::ptrdiff_t(pos));
    }
    writeFile(xbase::Journal::pathFor(dbf), bytes);
}

void pretendRestart(const std::filesystem::path& dbf)
{
    editRecords(dbf, [](xbase::JournalRecordHeader& r) { r.boot[0] ^= 0xFF; });
}

}  // namespace storage_test
