#pragma once
// `SaveLog`: one audit row in the upload log (UPLOG.DBF) per call.
#include <string>

#include "upload/AuditWriter.h"

// DATE today, HOSTNAME ftpHost as read (blanks kept), FILENAME the name part
// of uploadPath, DATETIME the time of day in the long time format,
// TRANSFERED partsComplete, UPLOADEDBY "XXX". The row is made now and
// written by `upLog` (see TAuditWriter for when its errors come through).
void SaveLog(TAuditWriter& upLog, const std::string& ftpHost, const std::string& uploadPath, int partsComplete);
