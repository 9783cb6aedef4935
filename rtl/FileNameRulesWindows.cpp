#include "rtl/FileNameRules.h"

#include <array>
#include <cctype>
#include <string>

namespace {

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// Windows takes a device name before the first dot (and trailing blanks) for
// the device itself: "AUX.xml" and "COM1.tar.xml" name the device.
bool IsDeviceName(std::string_view name) {
    std::string base = Upper(name.substr(0, name.find('.')));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    static constexpr std::array<std::string_view, 4> kDevices = {"CON", "PRN", "AUX", "NUL"};
    for (const std::string_view device : kDevices)
        if (base == device) return true;
    return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) && base[3] >= '1' &&
           base[3] <= '9';
}

}  // namespace

bool IsOpenableName(std::string_view name) {
    for (const char c : name) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 0x20 || std::string_view("?*|<>\"").find(c) != std::string_view::npos) return false;
    }
    return !IsDeviceName(name);
}
