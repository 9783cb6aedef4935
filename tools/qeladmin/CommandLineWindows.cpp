#include "tools/qeladmin/CommandLine.h"

#include <windows.h>
#include <shellapi.h>

#include <memory>

#include "rtl/WindowsText.h"

namespace {

struct LocalFreer {
    void operator()(wchar_t** words) const { ::LocalFree(words); }
};

}  // namespace

std::vector<std::string> CommandLineWords(int argc, char** argv) {
    int count = 0;
    const std::unique_ptr<wchar_t*[], LocalFreer> words(::CommandLineToArgvW(::GetCommandLineW(), &count));
    // Without the wide words the narrow ones are the best there is.
    if (!words) return {argv, argv + argc};
    std::vector<std::string> text;
    text.reserve(size_t(count));
    for (int i = 0; i < count; ++i) text.push_back(qz::win::Utf8FromWide(words[i]));
    return text;
}
