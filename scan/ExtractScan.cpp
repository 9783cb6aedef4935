#include "scan/ExtractScan.h"

#include <filesystem>

#include "data/DateTime.h"
#include "data/DbfTable.h"
#include "data/TableText.h"
#include "rtl/FileNameRules.h"
#include "rtl/Utf8Path.h"
#include "scan/ExtractListing.h"
#include "scan/TransferList.h"

namespace {

// Characters from a 1-based position, as many as there are up to `count`.
std::string Copy(const std::string& text, long position, std::size_t count) {
    if (position < 1) position = 1;
    const auto start = static_cast<std::size_t>(position - 1);
    if (start >= text.size()) return {};
    return text.substr(start, count);
}

// Drops the files whose names hold a control character, each with a message:
// such a name could carry commands to the server, so it is never listed.
// Drops too the names this system cannot open (on Windows, device names and
// names holding ? * | < > ") and the names the file log cannot hold: listed,
// they would stop every run.
std::vector<ExtractFile> WithoutUnsendableNames(std::vector<ExtractFile> files, TScanMessages& messages) {
    std::vector<ExtractFile> kept;
    kept.reserve(files.size());
    for (ExtractFile& file : files) {
        if (HasControlCharacter(file.Name))
            messages.LeftOutMessage("\"" + EscapedFileName(file.Name) +
                                    "\" is not listed: its name holds control characters.");
        else if (!IsOpenableName(file.Name))
            messages.LeftOutMessage("\"" + file.Name + "\" is not listed: Windows cannot open a file of that name.");
        else if (!TableCanHold(file.Name))
            messages.LeftOutMessage("\"" + file.Name +
                                    "\" is not listed: the file log cannot hold its name (Windows-1252 characters only).");
        else
            kept.push_back(std::move(file));
    }
    return kept;
}

bool HasValidDate(const std::string& fileName) {
    return TryStrToDate(ExtractDateText(fileName)).has_value();
}

void ScanFile(const ExtractFile& file, bool initialMode, TDbfTable& settings, TDbfTable& fileLog,
              TTransferList& transferList) {
    if (!fileLog.Seek(file.Name, true)) {
        transferList.Append({Today(), file.Name, file.Modified, "No"});
        return;
    }
    if (!initialMode) return;
    // LASTCOPY is a day at midnight: any file time on that day or later is listed again.
    if (settings.ReadDate("LASTCOPY") > file.Modified) return;
    transferList.Append({fileLog.ReadDate("DATE"), fileLog.ReadText("FILENAME"), file.Modified, "Yes"});
}

}  // namespace

bool HasControlCharacter(std::string_view name) {
    for (const char c : name) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 0x20 || code == 0x7F) return true;
    }
    return false;
}

std::string EscapedFileName(std::string_view name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string shown;
    for (const char c : name) {
        const auto code = static_cast<unsigned char>(c);
        if (c == '\r') shown += "\\r";
        else if (c == '\n') shown += "\\n";
        else if (c == '\t') shown += "\\t";
        else if (code < 0x20 || code == 0x7F) shown += {'\\', 'x', kHex[code >> 4], kHex[code & 0xF]};
        else shown += c;
    }
    return shown;
}

std::string ExtractDateText(const std::string& fileName) {
    const std::size_t dot = fileName.find('.');
    const long p = dot == std::string::npos ? 0 : static_cast<long>(dot) + 1;
    const std::string date = Copy(fileName, p - 6, 6);
    return Copy(date, 1, 2) + "/" + Copy(date, 3, 2) + "/" + Copy(date, 5, 2);
}

std::string AbsoluteSourceFolder(const std::string& programFolder, const std::string& folder) {
    if (folder.empty()) return folder;
    const std::filesystem::path path = PathFromUtf8(folder);
    if (path.is_absolute()) return folder;
    return Utf8FromPath(PathFromUtf8(programFolder) / path);
}

void LoadGrid(const std::string& mode, const std::string& sourceFolder, TDbfTable& settings,
              TDbfTable& fileLog, TTransferList& transferList, TScanMessages& messages) {
    transferList.Close();

    std::vector<ExtractFile> files;
    if (DirectoryExists(sourceFolder)) {
        std::filesystem::current_path(PathFromUtf8(sourceFolder));
        // The folder is now the current directory; a relative source folder
        // named again from here would be another folder (or none).
        files = WithoutUnsendableNames(ListExtractFiles("."), messages);
    } else {
        messages.PlainMessage("Invalid Directory Path!");
    }
    if (files.empty()) messages.ErrorMessage("No Files To Copy!");

    const std::string pms = settings.ReadText("PMS");
    if (pms == "OnQ" || pms == "Corvane Ledger") {
        const bool initialMode = mode == "1";
        for (const ExtractFile& file : files) {
            // A badly named file is reported and still listed; it must not
            // keep the files after it from being listed and sent.
            if (!HasValidDate(file.Name)) messages.PlainMessage("Invalid Date!");
            ScanFile(file, initialMode, settings, fileLog, transferList);
        }
    }

    if (transferList.RecNo() >= 0) transferList.First();
}
