#pragma once
// A whole file's bytes, for comparing what a server stored or a command
// wrote with what was meant; empty when the file cannot be read.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace qz::test {

inline std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace qz::test
