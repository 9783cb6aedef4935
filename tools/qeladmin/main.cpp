// qeladmin: maintenance command for a QELZAV program folder.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "tools/qeladmin/CommandLine.h"
#include "tools/qeladmin/Commands.h"
#include "tools/qeladmin/Options.h"

namespace {

struct Command {
    const char* name;
    const char* usage;
    const char* help;   // what it does, and its options; `man qeladmin` says more
    int (*run)(const Args&);
};

const Command kCommands[] = {
#ifdef HAVE_INITCOMMAND
    {"init", "init DIR | init --journals DIR",
     "Writes the three empty tables and FileLog.CDX into DIR (made when missing);\n"
     "refuses when any of them exists; in a folder writable by its group, they are\n"
     "writable by the group too. --journals: makes the journal of each table in DIR\n"
     "that has none.\n",
     RunInit},
#endif
#ifdef HAVE_DUMPCOMMAND
    {"dump", "dump FILE.DBF [--tag TAG]",
     "Prints a table's header, fields and records; --tag TAG: in the order of that\n"
     "tag of its index.\n",
     RunDump},
#endif
#ifdef HAVE_SETTINGSCOMMAND
    {"settings", "settings DIR [--loccode CODE] [--propcode CODE] [--pms NAME] [--copyfrom PATH]",
     "Prints the settings record of the program folder DIR; with options, changes it\n"
     "by the rules of Save on the Configuration page: LOCCODE and PROPCODE in upper\n"
     "case, PROPCODE defaults to LOCCODE, a PMS of \"OnQ\" or \"Corvane Ledger\" derives\n"
     "the source folder unless --copyfrom gives it, and the source folder must be an\n"
     "existing folder (else \"Invalid Directory!\" and nothing is written).\n",
     RunSettings},
#endif
#ifdef HAVE_LOGINCOMMAND
    {"login", "login DIR LOCCODE HOST USER - [REMOTEFOLDER] [--port N] [--tls MODE] [--tls-ca FILE] [--tls-pin PIN] [--confirm RULE]",
     "Writes the login file DIR/LOCCODE.DAT, owned like DIR and readable by no other\n"
     "account. The password is asked for without echo, or read from the first line\n"
     "of standard input; it is never an argument (\"-\" stands in its place).\n"
     "--port N: the server's port (21 unless given); check and upload use it.\n",
     RunLogin},
#endif
#ifdef HAVE_CHECKCOMMAND
    {"check", "check DIR LOCCODE [--timeout MS]",
     "Reads the login file as the program does, connects to the host and port it\n"
     "names, logs in and changes to the remote folder, reporting each step. Warns\n"
     "when other accounts can read the login file.\n",
     RunCheck},
#endif
#ifdef HAVE_UPLOADCOMMAND
    {"upload", "upload DIR [--list] [--verbose] [--retries N] [--retry-wait SECONDS] [--record FILE]",
     "Runs the window's Upload for the program folder DIR; --list: prints the files\n"
     "it would send and sends nothing. Messages go to standard error, each with a\n"
     "line saying what and where when it needs one; when that is not a terminal,\n"
     "each line is led by the local time and each file sent has a line (name,\n"
     "bytes, seconds). --verbose adds the FTP exchange, the password shown as\n"
     "PASS ****. A connection refused or timed out, or a\n"
     "421, 425, 426 or 450-452 reply, is retried --retries times (default 0) after\n"
     "--retry-wait seconds (default 60); a refused log-in is never retried. Each\n"
     "run writes its outcome for monitoring to FILE (default DIR/qelzav-upload.prom).\n"
     "Exit status: 0 finished, 1 other error, 2 usage, 3 no login file, 4 connect or\n"
     "log-in failure, 5 transfer failure, 6 tables, 7 another upload in progress,\n"
     "8 not set up, 9 finished with files left out.\n",
     RunUpload},
#endif
};

void PrintUsages(std::FILE* to) {
    std::fprintf(to, "usage:\n");
    for (const Command& c : kCommands) std::fprintf(to, "  qeladmin %s\n", c.usage);
    std::fprintf(to, "  qeladmin COMMAND --help | qeladmin --version\n");
}

int Usage() {
    PrintUsages(stderr);
    return 2;
}

int Version() {
    std::printf("qeladmin %s\n", QZ_VERSION);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> words = CommandLineWords(argc, argv);
    if (words.size() < 2) return Usage();
    const std::string& name = words[1];
    if (name == "--help" || name == "-h" || name == "help") {
        std::printf("qeladmin: sets up, checks and runs a QELZAV program folder without the window.\n");
        PrintUsages(stdout);
        std::printf("See man qeladmin.\n");
        return 0;
    }
    if (name == "--version") return Version();
    for (const Command& c : kCommands) {
        if (name != c.name) continue;
        const Args args(words.begin() + 2, words.end());
        if (AsksForHelp(args)) {
            std::printf("usage: qeladmin %s\n%s", c.usage, c.help);
            return 0;
        }
        if (AsksForVersion(args)) return Version();
        try {
            return c.run(args);
        } catch (const EUsageError& e) {
            std::fprintf(stderr, "qeladmin %s: %s\nusage: qeladmin %s\n", c.name, e.what(), c.usage);
            return 2;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "qeladmin %s: %s\n", c.name, e.what());
            return 1;
        }
    }
    return Usage();
}
