#pragma once
// The extract scan (`LoadGrid`): fills the transfer list from the source
// folder, one row per extract file not yet in the file log ("No") and, in
// mode "1", one per logged file modified on or after LASTCOPY ("Yes").
#include <cstddef>
#include <string>
#include <string_view>

class TDbfTable;
class TTransferList;

// Where the scan's messages go; the window shows them as message boxes.
class TScanMessages {
public:
    virtual ~TScanMessages() = default;
    virtual void PlainMessage(const std::string& text) = 0;   // caption "QELZAV", no icon
    virtual void ErrorMessage(const std::string& text) = 0;   // caption "Error", error icon
    // "Invalid Date!", for the first file of a scan whose name holds no valid date.
    virtual void InvalidDate(const std::string& fileName) {
        (void)fileName;
        PlainMessage("Invalid Date!");
    }
};

// The date text of an extract file name: the six characters before its
// first ".", joined as "MM/DD/YY" (shorter when the name is).
std::string ExtractDateText(const std::string& fileName);

// Characters of a UTF-8 text (its bytes that do not continue a character):
// table widths count characters, never bytes.
std::size_t CharacterCount(std::string_view utf8);

// True when a name holds a control character (a code below 32, or 127).
// Such a file is left out of the list with an error message naming it.
bool HasControlCharacter(std::string_view name);
// The name with its control characters shown: \r, \n, \t, else \xNN.
std::string EscapedFileName(std::string_view name);

// The working value for a source folder as the settings hold it. A relative
// folder names a folder of the program folder (itself absolute): the scan
// changes the current directory, so a folder relative to it would name
// another folder after the first scan. The setting keeps what was typed;
// empty stays empty.
std::string AbsoluteSourceFolder(const std::string& programFolder, const std::string& folder);

// Makes `sourceFolder` the current directory (kept afterwards), as the
// program always has. Files whose names cannot be sent safely (control
// characters, longer than the file log's FILENAME, differing from a file
// listed before only in letter case) are left out and told in one error
// message; the rest are listed. Returns how many were left out. Errors other
// than a bad file date leave as exceptions; the rows appended before stay.
std::size_t LoadGrid(const std::string& mode, const std::string& sourceFolder, TDbfTable& settings,
              TDbfTable& fileLog, TTransferList& transferList, TScanMessages& messages);
