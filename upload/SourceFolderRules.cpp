#include "upload/SourceFolderRules.h"

std::optional<std::string> DerivedSourceFolder(const std::string& pms, const std::string& code) {
    if (pms == "OnQ") return "\\\\" + code + "SERVER\\Transmit\\GSExtract\\Trans\\";
    if (pms == "Corvane Ledger") return "\\\\" + code + "SERVER\\QEL\\";
    return std::nullopt;
}

std::string WithTrailingSeparator(const std::string& folder) {
    if (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) return folder;
    return folder + '/';
}

bool IsKnownPms(const std::string& pms) { return pms == "OnQ" || pms == "Corvane Ledger"; }
