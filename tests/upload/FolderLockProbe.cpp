// folder_lock_probe hold DIR SECONDS: takes the program folder's upload lock,
// prints "held" and keeps it for SECONDS (or says "refused"). Built for Linux
// and for Windows, so that scripts/test-windows can hold the lock on one
// system while `qeladmin upload` runs on the other.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>

#include "upload/FolderLock.h"

int main(int argc, char** argv) {
    if (argc != 4 || std::string(argv[1]) != "hold") {
        std::fprintf(stderr, "usage: folder_lock_probe hold DIR SECONDS\n");
        return 2;
    }
    try {
        TFolderLock lock(argv[2]);
        std::printf("%s\n", lock.Held() ? "held" : "refused");
        std::fflush(stdout);
        if (!lock.Held()) return 1;
        std::this_thread::sleep_for(std::chrono::seconds(std::atoi(argv[3])));
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
