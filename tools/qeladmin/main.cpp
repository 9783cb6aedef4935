// qeladmin: maintenance command for a QELZAV program folder.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "tools/qeladmin/CommandLine.h"
#include "tools/qeladmin/Commands.h"

namespace {

struct Command {
    const char* name;
    const char* usage;
    int (*run)(const Args&);
};

const Command kCommands[] = {
#ifdef HAVE_INITCOMMAND
    {"init", "init DIR | init --journals DIR", RunInit},
#endif
#ifdef HAVE_DUMPCOMMAND
    {"dump", "dump FILE.DBF [--tag TAG]", RunDump},
#endif
#ifdef HAVE_LOGINCOMMAND
    {"login", "login DIR LOCCODE HOST USER - [REMOTEFOLDER]", RunLogin},
#endif
#ifdef HAVE_CHECKCOMMAND
    {"check", "check DIR LOCCODE", RunCheck},
#endif
#ifdef HAVE_UPLOADCOMMAND
    {"upload", "upload DIR [--list]", RunUpload},
#endif
};

int Usage() {
    std::fprintf(stderr, "usage:\n");
    for (const Command& c : kCommands) std::fprintf(stderr, "  qeladmin %s\n", c.usage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> words = CommandLineWords(argc, argv);
    if (words.size() < 2) return Usage();
    const std::string& name = words[1];
    for (const Command& c : kCommands) {
        if (name != c.name) continue;
        try {
            return c.run(Args(words.begin() + 2, words.end()));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "qeladmin %s: %s\n", c.name, e.what());
            return 1;
        }
    }
    return Usage();
}
