#include <windows.h>

#include <random>
#include <thread>
#include <stdexcept>

#include "tests/data/TestSupport.h"

// Scratch folders on Windows. Tests that run other programs (perl,
// python3, the Linux qeladmin) do not run here; tests/data/CMakeLists.txt
// says which and why.
namespace testsupport {

TempDir::TempDir() {
    std::random_device rd;
    const auto base = std::filesystem::temp_directory_path();
    for (int i = 0; i < 100; ++i) {
        auto p = base / ("qz-data-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(rd()));
        if (std::filesystem::create_directory(p)) {
            path_ = p;
            return;
        }
    }
    throw std::runtime_error("cannot create a scratch folder");
}

CommandResult RunCommand(const std::string&) { return CommandResult{}; }

int InChild(const std::function<int()>& child) {
    int code = 98;
    std::thread([&] {
        try {
            code = child();
        } catch (...) {
        }
    }).join();
    return code;
}

}  // namespace testsupport
