#pragma once
// The program-wide strings through which the window's handlers pass folders
// and login data to each other. Empty at start; UI thread only.
#include <string>

struct TWorkingValues {
    std::string ProgramFolder;   // the executable's folder, with its trailing separator
    std::string SourceFolder;    // COPYFROM as stored, normally with its trailing separator
    std::string LocationCode;    // LOCCODE read once at start-up
    std::string UploadPath;      // full path of the file being sent
    std::string FtpHost;         // login file fields (the upload sets them)
    std::string FtpUser;
    std::string FtpPassword;
    std::string RemoteFolder;
};
