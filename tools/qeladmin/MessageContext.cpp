#include "tools/qeladmin/MessageContext.h"

#include "ftp/NetExceptions.h"
#include "upload/UploadRun.h"

namespace {

// The message without its final full stop: a reply's text may come with or without one.
std::string Bare(std::string text) {
    while (!text.empty() && (text.back() == '.' || text.back() == ' ')) text.pop_back();
    return text;
}

bool Is(const std::string& text, const char* message) { return Bare(text) == Bare(message); }

// A server's refusal of a file comes as "The server refused NAME: " and its text.
bool EndsIn(const std::string& text, const char* message) {
    const std::string bare = Bare(text), tail = Bare(message);
    return bare.size() >= tail.size() && bare.compare(bare.size() - tail.size(), tail.size(), tail) == 0;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

std::optional<std::string> MessageContext(const std::string& text, const std::exception* error,
                                          const TMessageFacts& facts) {
    // A connection that failed or broke: which server, and where that came from.
    if (error && (dynamic_cast<const ENetSocketError*>(error) || dynamic_cast<const ENetConnectException*>(error) ||
                  dynamic_cast<const ENetConnectTimeout*>(error)))
        return "  FTP server " + facts.Host + " port " + std::to_string(facts.Port) +
               " (from the login file " + facts.LoginFile + ")";
    if (Is(text, "Invalid Directory!"))
        return "  extract folder " + Quoted(facts.SourceFolder) + " is not an existing folder";
    if (Is(text, kNoLoginMessage))
        return "  login file " + facts.LoginFile + " is missing or incomplete: write it with qeladmin login";
    if (Is(text, "Invalid Date!"))
        return "  file " + Quoted(facts.FileName) + " has no valid date in its name (sent all the same)";
    if (EndsIn(text, "Could not create file."))
        return "  file " + Quoted(facts.FileName) + ": the FTP server refused to create it (" + facts.Host +
               ", check the remote folder and its permissions)";
    if (EndsIn(text, "Failure writing to local file."))
        return "  file " + Quoted(facts.FileName) + ": the FTP server " + facts.Host +
               " could not write it to its own disk (full or over quota)";
    return std::nullopt;
}
