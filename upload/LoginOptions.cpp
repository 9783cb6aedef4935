#include "upload/LoginOptions.h"

#include "ftp/iohandler/NetTlsContext.h"

#include <charconv>
#include <set>

#include "rtl/Exceptions.h"

namespace {

[[noreturn]] void Refuse(std::string_view word, const std::string& why) {
    throw EConvertError("Login file option \"" + std::string(word) + "\": " + why);
}

bool NeedsEscape(unsigned char c) {
    return c <= 0x20 || c == 0x7F || c == '%' || c == 0x1A;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string Unescape(std::string_view word, std::string_view value) {
    std::string plain;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '%') {
            plain += value[i];
            continue;
        }
        const int high = i + 2 < value.size() ? HexDigit(value[i + 1]) : -1;
        const int low = i + 2 < value.size() ? HexDigit(value[i + 2]) : -1;
        if (high < 0 || low < 0) Refuse(word, "a \"%\" is not followed by two hex digits");
        plain += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return plain;
}

std::string EscapeValue(const std::string& value) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (NeedsEscape(byte)) {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

int ParsePort(std::string_view word, std::string_view value) {
    int port = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), port);
    if (value.empty() || error != std::errc() || end != value.data() + value.size() || port < 1 || port > 65535)
        Refuse(word, "the port must be a number from 1 to 65535");
    return port;
}

}  // namespace

TLoginOptions ParseLoginOptions(std::string_view text) {
    TLoginOptions options;
    std::set<std::string, std::less<>> seen;
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos] == ' ') {
            ++pos;
            continue;
        }
        const std::size_t end = std::min(text.find(' ', pos), text.size());
        const std::string_view word = text.substr(pos, end - pos);
        pos = end;
        const std::size_t equals = word.find('=');
        if (equals == std::string_view::npos) Refuse(word, "it is not of the form key=value");
        const std::string_view key = word.substr(0, equals);
        const std::string value = Unescape(word, word.substr(equals + 1));
        if (!seen.insert(std::string(key)).second) Refuse(word, "the key is given twice");
        if (key == "host") {
            if (value.empty()) Refuse(word, "the host name is empty");
            options.Host = value;
        } else if (key == "port") {
            options.Port = ParsePort(word, value);
        } else if (key == "tls") {
            if (value == "off") options.Tls = TTlsMode::Off;
            else if (value == "explicit") options.Tls = TTlsMode::Explicit;
            else Refuse(word, "tls is \"off\" or \"explicit\"");
        } else if (key == "tls-ca") {
            if (value.empty()) Refuse(word, "the CA file name is empty");
            options.TlsCaFile = value;
        } else if (key == "tls-pin") {
            if (value.empty()) Refuse(word, "the pin is empty");
            try {
                ParseTlsPins(value);
            } catch (const ENetTlsError& e) {
                Refuse(word, e.what());
            }
            options.TlsPin = value;
        } else if (key == "confirm") {
            if (value == "size") options.Confirm = TConfirmRule::Size;
            else if (value == "226") options.Confirm = TConfirmRule::FinalReply;
            else Refuse(word, "confirm is \"size\" or \"226\"");
        } else {
            Refuse(word, "unknown option");
        }
    }
    // A CA file or a pin on a plain connection would be a check that never
    // runs, while the password went out in clear.
    if ((!options.TlsCaFile.empty() || !options.TlsPin.empty()) && options.Tls != TTlsMode::Explicit)
        Refuse(text, "tls-ca and tls-pin need tls=explicit");
    // A pin replaces the CA check; both given would leave one of them unused.
    if (!options.TlsCaFile.empty() && !options.TlsPin.empty())
        Refuse(text, "give tls-ca or tls-pin, not both");
    return options;
}

std::string FormatLoginOptions(const TLoginOptions& options) {
    const TLoginOptions defaults;
    std::string out;
    const auto add = [&out](const char* key, const std::string& value) { out += std::string(" ") + key + "=" + EscapeValue(value); };
    if (options.Host != defaults.Host) add("host", options.Host);
    if (options.Port) add("port", std::to_string(*options.Port));
    if (options.Tls != defaults.Tls) add("tls", TlsModeName(options.Tls));
    if (options.TlsCaFile != defaults.TlsCaFile) add("tls-ca", options.TlsCaFile);
    if (options.TlsPin != defaults.TlsPin) add("tls-pin", options.TlsPin);
    if (options.Confirm != defaults.Confirm) add("confirm", ConfirmRuleName(options.Confirm));
    return out;
}

std::string ConfirmRuleName(TConfirmRule rule) {
    return rule == TConfirmRule::FinalReply ? "226" : "size";
}

std::string TlsModeName(TTlsMode mode) {
    return mode == TTlsMode::Explicit ? "explicit" : "off";
}

std::string FormatOptionValue(const std::string& value) {
    return EscapeValue(value);
}

TNetTlsSettings TlsSettingsOf(const TLoginOptions& options) {
    TNetTlsSettings tls;
    tls.Enabled = options.Tls == TTlsMode::Explicit;
    tls.CaFile = options.TlsCaFile;
    tls.Pin = options.TlsPin;
    return tls;
}
