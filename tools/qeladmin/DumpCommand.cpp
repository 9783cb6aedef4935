// qeladmin dump FILE.DBF [--tag TAG]: the header, the fields and every record
// of a table, in record order or in the order of one tag of its index.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "data/storage/XbaseTable.h"
#include "data/table/DbfFieldCodec.h"
#include "rtl/Utf8Path.h"
#include "tools/qeladmin/Commands.h"
#include "tools/qeladmin/Options.h"

namespace {

struct HeaderFacts {
    unsigned version = 0, year = 0, month = 0, day = 0, headerLength = 0, recordLength = 0;
    unsigned long recordCount = 0;
};

bool ReadHeaderFacts(const std::filesystem::path& path, HeaderFacts& h) {
    std::ifstream in(path, std::ios::binary);
    unsigned char b[32];
    if (!in.read(reinterpret_cast<char*>(b), sizeof b)) return false;
    h.version = b[0];
    // Years since 1900, or (Visual FoxPro) the year modulo 100.
    h.year = b[1] >= 100 ? 1900u + b[1] : (b[1] < 80 ? 2000u + b[1] : 1900u + b[1]);
    h.month = b[2];
    h.day = b[3];
    h.recordCount = b[4] | (b[5] << 8) | (b[6] << 16) | (static_cast<unsigned long>(b[7]) << 24);
    h.headerLength = b[8] | (b[9] << 8);
    h.recordLength = b[10] | (b[11] << 8);
    return true;
}

std::string FieldText(const xbase::FieldInfo& info, std::span<const uint8_t> image) {
    TDbfFieldDef def;
    def.StoredType = info.type;
    def.Width = info.width;
    def.Decimals = info.decimals;
    def.Kind = dbfcodec::KindOf(info.type, info.width, info.decimals);
    if (info.offset + info.width > image.size()) return {};
    const auto bytes = image.subspan(info.offset, info.width);
    if (def.Kind == TFieldType::ftDate) return dbfcodec::TrimTrailing(bytes);   // as stored, YYYYMMDD
    return dbfcodec::DecodeText(def, bytes);
}

}  // namespace

int RunDump(const Args& args) {
    const ParsedArgs parsed = ParseArgs(args, {{"tag", true}}, 1, 1);
    const std::string& file = parsed.Positional[0];
    const std::string tag = parsed.Value("tag").value_or("");
    const std::filesystem::path path = PathFromUtf8(file);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        std::fprintf(stderr, "qeladmin dump: cannot open %s: no such file\n", file.c_str());
        return 1;
    }
    try {
        auto table = xbase::XbaseTable::open(path, xbase::OpenMode::Shared, true);
        HeaderFacts h;
        ReadHeaderFacts(path, h);
        const uint32_t count = table->recordCount();
        std::printf("table: %s\n", file.c_str());
        std::printf("version: 0x%02X\n", h.version);
        std::printf("records: %u\n", count);
        std::printf("last update: %04u-%02u-%02u\n", h.year, h.month, h.day);
        std::printf("header length: %u\n", h.headerLength);
        std::printf("record length: %u\n", table->recordLength());
        std::printf("index: %s\n", table->hasIndex() ? "yes" : "no");
        for (const std::string& t : table->tagNames()) std::printf("tag: %s\n", t.c_str());
        std::printf("fields:\n");
        for (const auto& f : table->fields())
            std::printf("  %-10s %c %3u %u\n", f.name.c_str(), f.type, static_cast<unsigned>(f.width),
                        static_cast<unsigned>(f.decimals));

        std::vector<uint32_t> order;
        if (!tag.empty()) {
            auto cursor = table->tag(tag);
            std::printf("order: tag %s on %s\n", cursor->name().c_str(), cursor->expression().c_str());
            std::vector<bool> listed(count + 1, false);
            for (auto r = cursor->first(); r; r = cursor->next()) {
                if (*r == 0 || *r > count || listed[*r])
                    throw xbase::XbaseError(xbase::kCorruptIndex, "tag " + cursor->name() + " lists record " +
                                                                      std::to_string(*r) + " twice or out of range");
                listed[*r] = true;
                order.push_back(*r);
            }
        } else {
            for (uint32_t r = 1; r <= count; ++r) order.push_back(r);
        }
        std::printf("records:\n");
        std::vector<uint8_t> image(table->recordLength());
        for (uint32_t r : order) {
            table->readRecord(r, image);
            std::printf("%c %u", xbase::XbaseTable::isDeleted(image) ? '*' : ' ', r);
            for (const auto& f : table->fields()) std::printf("\t%s", FieldText(f, image).c_str());
            std::printf("\n");
        }
        return 0;
    } catch (const xbase::XbaseError& e) {
        std::fprintf(stderr, "qeladmin dump: %s: %s (error %d)\n", file.c_str(), e.what(), e.code());
        return 1;
    }
}
