#pragma once
// The line `qeladmin upload` adds under a message so that an administrator
// knows what to look at and where: the window keeps the bare message.
#include <exception>
#include <optional>
#include <string>

// What the run knew when the message was said.
struct TMessageFacts {
    std::string Host;           // the FTP server, as the login file names it
    int Port = 0;
    std::string SourceFolder;   // the extract folder
    std::string LoginFile;      // the login file's path
    std::string FileName;       // the file being sent, or the one the scan names
};

// `text`: the message as said; `error`: the error that ended the run, or
// null for a message the run showed. Nothing when there is nothing to add.
std::optional<std::string> MessageContext(const std::string& text, const std::exception* error,
                                          const TMessageFacts& facts);
