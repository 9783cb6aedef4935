#pragma once
// `SaveLog`: one audit row in the upload log (UPLOG.DBF) per call.
#include <string>

#include "upload/AuditWriter.h"
#include "upload/LoginOptions.h"

// DATE today, HOSTNAME ftpHost as read (blanks kept), FILENAME the name part
// of uploadPath, DATETIME the time of day in the long time format,
// TRANSFERED partsComplete, UPLOADEDBY "XXX", or "226" for a run whose
// stores count on the final 226 alone (login option confirm=226). The row
// is made now and written by `upLog` (see TAuditWriter for when its errors
// come through).
void SaveLog(TAuditWriter& upLog, const std::string& ftpHost, const std::string& uploadPath, int partsComplete,
             TConfirmRule rule = TConfirmRule::Size);
