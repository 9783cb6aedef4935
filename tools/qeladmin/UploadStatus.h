#pragma once
// The exit statuses of `qeladmin upload`, one per kind of failure, for a
// scheduler to act on (README, docs/unattended.md).
enum UploadStatus : int {
    kUploadFinished = 0,        // "All Finished!", with or without files to send
    kUploadOtherError = 1,      // anything not below (the lock file cannot be made, ...)
    kUploadUsage = 2,           // wrong arguments
    kUploadNoLogin = 3,         // no login file, or it cannot be read
    kUploadConnectFailed = 4,   // no connection, log-in refused, remote folder refused
    kUploadTransferFailed = 5,  // a file could not be read, stored or checked
    kUploadTablesFailed = 6,    // a table could not be opened, read or written
    kUploadInProgress = 7,      // another run holds the program folder
    kUploadNotSetUp = 8,        // no location code, or the source folder does not exist
    kUploadLeftOut = 9,         // "All Finished!", but the scan left files out (each told on standard error)
};
