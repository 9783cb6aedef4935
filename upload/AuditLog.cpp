#include "upload/AuditLog.h"

#include "data/local/LocalTables.h"

void SaveLog(TAuditWriter& upLog, const std::string& ftpHost, const std::string& uploadPath, int partsComplete,
             TConfirmRule rule) {
    UpLogRow row = MakeUpLogRow(ftpHost, uploadPath, partsComplete);
    // UPLOADEDBY is three characters wide: room for the rule's name, "226",
    // while the default rule keeps the row as other tools know it.
    if (rule == TConfirmRule::FinalReply) row.uploadedBy = ConfirmRuleName(rule);
    upLog.Write(row);
}
