// qeladmin settings DIR [--loccode CODE] [--propcode CODE] [--pms NAME] [--copyfrom PATH]
// The settings record of a program folder without the window. With no
// option it prints the record. With options it edits the record as the
// Configuration page does and saves it by the rules of Save: codes in upper
// case, PROPCODE defaulting to LOCCODE, the source folder derived from the
// PMS choice unless given, and a source folder that is not an existing
// folder refused with "Invalid Directory!", nothing written.
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "data/table/DbfSettings.h"
#include "data/table/DbfTable.h"
#include "data/local/LocalTables.h"
#include "data/values/TextCase.h"
#include "rtl/Utf8Path.h"
#include "scan/ExtractListing.h"
#include "scan/ExtractScan.h"
#include "tools/qeladmin/Commands.h"
#include "tools/qeladmin/Options.h"
#include "upload/SourceFolderRules.h"

namespace {

constexpr int kRefused = 1;

const char* const kShownFields[] = {"LOCCODE", "PROPCODE", "PMS", "LASTCOPY", "COPYFROM", "COPYTO"};

bool Fits(const TDbfTable& settings, const char* field, const std::string& text) {
    return text.size() <= static_cast<std::size_t>(settings.GetField(field).Width);
}

void WriteChecked(TDbfTable& settings, const char* field, const std::string& text) {
    if (!Fits(settings, field, text))
        throw std::runtime_error(std::string(field) + " holds at most " +
                                 std::to_string(settings.GetField(field).Width) + " characters; nothing was written");
    settings.WriteText(field, text);
}

void Print(const TDbfTable& settings) {
    for (const char* field : kShownFields) std::printf("%-8s %s\n", field, settings.ReadText(field).c_str());
}

}  // namespace

int RunSettings(const Args& args) {
    const ParsedArgs parsed =
        ParseArgs(args, {{"loccode", true}, {"propcode", true}, {"pms", true}, {"copyfrom", true}}, 1, 1);
    TDbfSettings engineSettings;
    engineSettings.ApplyStoredValues();
    std::error_code ec;
    std::string folder = Utf8FromPath(std::filesystem::absolute(PathFromUtf8(parsed.Positional[0]), ec));
    if (folder.back() != '/' && folder.back() != '\\') folder += '/';
    TDbfTable settings("DbfZAVSys");
    settings.SetTableType(TTableType::ttCDX);
    settings.SetTableName(kSettingsTableName);
    settings.SetDatabaseName(folder);
    settings.Open();
    if (parsed.Values.empty()) {
        Print(settings);
        return 0;
    }

    // As the page does: begin editing (a table without a record gets one).
    settings.Edit();
    if (const auto code = parsed.Value("loccode")) WriteChecked(settings, "LOCCODE", UpperCase(*code));
    if (const auto code = parsed.Value("propcode")) WriteChecked(settings, "PROPCODE", UpperCase(*code));
    // Leaving the location-code edit: an empty property code takes the location code.
    if (settings.ReadText("PROPCODE").empty()) WriteChecked(settings, "PROPCODE", settings.ReadText("LOCCODE"));
    if (const auto pms = parsed.Value("pms")) {
        WriteChecked(settings, "PMS", *pms);
        if (!IsKnownPms(*pms))
            std::fprintf(stderr, "PMS \"%s\" is neither \"OnQ\" nor \"Corvane Ledger\": the scan will list no files\n",
                         pms->c_str());
    }
    // The derived source folder: from the property code when it is given
    // (Reset Path), else from the location code (a PMS choice).
    if (!parsed.Has("copyfrom") && (parsed.Has("pms") || parsed.Has("loccode") || parsed.Has("propcode"))) {
        const std::string code = settings.ReadText(parsed.Has("propcode") ? "PROPCODE" : "LOCCODE");
        if (const auto derived = DerivedSourceFolder(settings.ReadText("PMS"), code)) settings.WriteText("COPYFROM", *derived);
    }
    if (const auto copyFrom = parsed.Value("copyfrom")) settings.WriteText("COPYFROM", *copyFrom);

    // Save: the source folder must be an existing folder the field holds whole.
    const std::string copyFrom = settings.ReadText("COPYFROM");
    const std::string withSeparator = WithTrailingSeparator(copyFrom);
    if (!DirectoryExists(AbsoluteSourceFolder(folder, copyFrom)) || !Fits(settings, "COPYFROM", withSeparator)) {
        settings.Cancel();
        std::fprintf(stderr, "Invalid Directory!\nthe source folder \"%s\" is not an existing folder%s; nothing was written\n",
                     copyFrom.c_str(),
                     Fits(settings, "COPYFROM", withSeparator) ? "" : " the COPYFROM field can hold");
        return kRefused;
    }
    if (withSeparator != copyFrom) settings.WriteText("COPYFROM", withSeparator);
    settings.Post();
    Print(settings);
    return 0;
}
