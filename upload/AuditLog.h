#pragma once
// `SaveLog`: one audit row in the upload log (UPLOG.DBF) per call.
#include <string>

class TDbfTable;

// DATE today, HOSTNAME ftpHost as read (blanks kept), FILENAME the name part
// of uploadPath, DATETIME the time of day in the long time format,
// TRANSFERED partsComplete, UPLOADEDBY "XXX". Errors of the table layer
// pass through.
void SaveLog(TDbfTable& upLog, const std::string& ftpHost, const std::string& uploadPath, int partsComplete);
