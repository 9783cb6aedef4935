#pragma once
// What the upload benchmarks measure of one run, ours in this process or
// curl's in a child: wall time and CPU seconds, compared as medians.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace qz::bench {

using Clock = std::chrono::steady_clock;

struct Run {
    double seconds = 0;
    double cpuSeconds = 0;
};

inline double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}
inline double CpuOf(const rusage& r) { return Seconds(r.ru_utime) + Seconds(r.ru_stime); }

inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Our client's run: upload() in this process, its CPU from getrusage.
template <class Upload>
Run TimeOurs(Upload&& upload) {
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    auto start = Clock::now();
    upload();
    auto end = Clock::now();
    getrusage(RUSAGE_SELF, &after);
    return {std::chrono::duration<double>(end - start).count(), CpuOf(after) - CpuOf(before)};
}

// /usr/bin/curl run with args (args[0] "curl"), its CPU from wait4; a failed
// curl ends the benchmark.
inline Run TimeCurl(std::vector<std::string> args) {
    auto start = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv("/usr/bin/curl", argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    auto end = Clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "curl failed (exit %d)\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
        std::exit(1);
    }
    return {std::chrono::duration<double>(end - start).count(), CpuOf(usage)};
}

}  // namespace qz::bench
