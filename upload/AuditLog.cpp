#include "upload/AuditLog.h"

#include "data/LocalTables.h"

void SaveLog(TDbfTable& upLog, const std::string& ftpHost, const std::string& uploadPath, int partsComplete) {
    WriteUpLogRow(upLog, MakeUpLogRow(ftpHost, uploadPath, partsComplete));
}
