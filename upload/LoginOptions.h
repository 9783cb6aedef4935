#pragma once
// Server options kept after column 100 of the login file's first line, where
// a reader of the four fixed columns never looks: blank-separated
// `key=value` words. A value holds no blank, CR, Ctrl-Z or control
// character; such bytes and "%" are written as %XX. A file without options
// means plain FTP on port 21 to the host of columns 1-20, each store
// confirmed by SIZE.
#include <optional>
#include <string>
#include <string_view>

enum class TTlsMode { Off, Explicit };

// How a store counts as done: by a SIZE reply equal to the bytes sent, or,
// for a server that cannot answer SIZE or moves uploads away on arrival, by
// the final 226 alone.
enum class TConfirmRule { Size, FinalReply };

struct TLoginOptions {
    std::string Host;          // host=  the whole host name, for one longer than its column
    std::optional<int> Port;   // port=  1..65535; without it the client's own, 21
    TTlsMode Tls = TTlsMode::Off;  // tls=off|explicit
    std::string TlsCaFile;     // tls-ca=  a CA file instead of the system's roots
    std::string TlsPin;        // tls-pin= the server's key or certificate by SHA-256
    TConfirmRule Confirm = TConfirmRule::Size;  // confirm=size|226

    bool operator==(const TLoginOptions&) const = default;
};

// Parses the text after column 100. Throws EConvertError naming the word for
// an unknown key, a repeated key, a bad value or a malformed escape: an
// option that cannot be understood never falls back to a weaker default.
TLoginOptions ParseLoginOptions(std::string_view text);

// The words for the options that differ from the defaults, each preceded by a
// blank; empty when all are defaults.
std::string FormatLoginOptions(const TLoginOptions& options);

// One value as an option word holds it (blanks, controls and "%" as %XX).
std::string FormatOptionValue(const std::string& value);

// The FTP client's TLS settings for these options.
struct TNetTlsSettings;
TNetTlsSettings TlsSettingsOf(const TLoginOptions& options);

// Names of the rule and the mode as the options write them ("size", "226";
// "off", "explicit"), for messages and reports.
std::string ConfirmRuleName(TConfirmRule rule);
std::string TlsModeName(TTlsMode mode);
