#include "tools/qeladmin/RunLog.h"

#include <cctype>
#include <cstdio>


std::string IsoLocalTime(std::time_t when) {
    std::tm local{};
    char text[32];
    if (localtime_r(&when, &local) == nullptr || std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local) == 0) return "(unknown time)";
    return text;
}

std::string LogLine(const std::string& line, bool timed, std::time_t when) {
    return timed ? IsoLocalTime(when) + " " + line : line;
}

std::string MaskedCommand(const std::string& commandLine) {
    std::string verb;
    for (const char c : commandLine) {
        if (c == ' ') break;
        verb += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return verb == "PASS" ? "PASS ****" : commandLine;
}

std::string FileSentLine(const std::string& name, long long bytes, long long milliseconds) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%lld.%03lld", milliseconds / 1000, milliseconds % 1000);
    return "Sent " + name + " (" + std::to_string(bytes) + " bytes in " + seconds + " s)";
}
