#include "scan/ExtractScan.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <map>
#include <utility>

#include "data/table/TableText.h"
#include "data/table/DbfTable.h"
#include "data/values/DateTime.h"
#include "data/values/TextCase.h"
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

// The first few refusals of one scan, and how many more: one message, so a
// folder of badly named files gives one box, not one per file.
std::string RefusalsMessage(const std::vector<std::string>& refusals) {
    constexpr std::size_t kShown = 5;
    std::string text;
    for (std::size_t i = 0; i < refusals.size() && i < kShown; ++i) text += (i ? "\n" : "") + refusals[i];
    if (refusals.size() > kShown)
        text += "\n... and " + std::to_string(refusals.size() - kShown) + " more files are not listed.";
    return text;
}

// Leaves out, each with a reason in `refusals`, the files that must not be
// sent: a name holding a control character (it could carry commands to the
// server), a name the file log's FILENAME cannot hold whole (a cut name
// would never match its record, and the cut name may be another file), and
// a name that differs from one listed before it only in letter case (a
// server that ignores case would hold one file for both).
std::vector<ExtractFile> ListableFiles(std::vector<ExtractFile> files, std::size_t fileNameWidth,
                                       std::vector<std::string>& refusals) {
    std::vector<ExtractFile> kept;
    kept.reserve(files.size());
    std::map<std::string, std::string> listedByUpperName;
    for (ExtractFile& file : files) {
        if (HasControlCharacter(file.Name)) {
            refusals.push_back("\"" + EscapedFileName(file.Name) +
                               "\" is not listed: its name holds control characters.");
            continue;
        }
        if (CharacterCount(file.Name) > fileNameWidth) {
            refusals.push_back("\"" + file.Name + "\" is not listed: its name is longer than the " +
                               std::to_string(fileNameWidth) + " characters the file log holds.");
            continue;
        }
        if (!IsOpenableName(file.Name)) {
            refusals.push_back("\"" + file.Name + "\" is not listed: Windows cannot open a file of that name.");
            continue;
        }
        if (!TableCanHold(file.Name)) {
            refusals.push_back("\"" + file.Name +
                               "\" is not listed: the file log cannot hold its name (Windows-1252 characters only).");
            continue;
        }
        const auto [listed, isNew] = listedByUpperName.emplace(UpperCase(file.Name), file.Name);
        if (!isNew) {
            refusals.push_back("\"" + file.Name + "\" is not listed: its name differs from \"" + listed->second +
                               "\" only in letter case.");
            continue;
        }
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
    // The name as found on disk: the row names exactly the file to send.
    transferList.Append({fileLog.ReadDate("DATE"), file.Name, file.Modified, "Yes"});
}

}  // namespace

std::size_t CharacterCount(std::string_view utf8) {
    std::size_t count = 0;
    for (const char c : utf8) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

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

std::size_t LoadGrid(const std::string& mode, const std::string& sourceFolder, TDbfTable& settings,
                     TDbfTable& fileLog, TTransferList& transferList, TScanMessages& messages) {
    transferList.Close();

    std::vector<ExtractFile> files;
    std::vector<std::string> refusals;
    if (DirectoryExists(sourceFolder)) {
        std::filesystem::current_path(PathFromUtf8(sourceFolder));
        // The folder is now the current directory; a relative source folder
        // named again from here would be another folder (or none).
        // A closed file log fails the first lookup below with its own error.
        const std::size_t width = fileLog.Active() ? static_cast<std::size_t>(std::max(0, fileLog.GetField("FILENAME").Width))
                                                   : std::numeric_limits<std::size_t>::max();
        files = ListableFiles(ListExtractFiles("."), width, refusals);
        if (!refusals.empty()) messages.ErrorMessage(RefusalsMessage(refusals));
    } else {
        messages.PlainMessage("Invalid Directory Path!");
    }
    if (files.empty()) messages.ErrorMessage("No Files To Copy!");

    const std::string pms = settings.ReadText("PMS");
    if (pms == "OnQ" || pms == "Corvane Ledger") {
        const bool initialMode = mode == "1";
        bool dateTold = false;
        for (const ExtractFile& file : files) {
            // A badly named file is reported (once a scan) and still listed;
            // it must not keep the files after it from being listed and sent.
            if (!HasValidDate(file.Name) && !std::exchange(dateTold, true)) messages.InvalidDate(file.Name);
            ScanFile(file, initialMode, settings, fileLog, transferList);
        }
    }

    if (transferList.RecNo() >= 0) transferList.First();
    return refusals.size();
}
