#include "upload/AuditLog.h"

#include "data/local/LocalTables.h"

void SaveLog(TAuditWriter& upLog, const std::string& ftpHost, const std::string& uploadPath, int partsComplete) {
    upLog.Write(MakeUpLogRow(ftpHost, uploadPath, partsComplete));
}
