// Uploads one file to a local vsftpd with our client and with curl, turn
// about, and reports throughput and CPU per GiB as ratios; then measures
// reply parsing in lines per second.
//
//   ftp_upload_bench [--size-mib N] [--rounds N] [--file PATH] [--dir DIR]
//
// The file and the server's folder go to DIR (default /dev/shm when there is
// one), so the disk does not set the pace of either side.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/ftp/CurlComparison.h"
#include "ftp/commands/NetFTP.h"
#include "ftp/connection/NetReply.h"
#include "tests/support/FtpClientSetup.h"
#include "tests/support/FtpServers.h"

namespace fs = std::filesystem;
using namespace qz::bench;

namespace {

Run UploadOurs(const qz::test::RealFtpServer& server, const std::string& file, long long& sendEvents) {
    long long size = 0;
    Run run = TimeOurs([&] {
        TNetFTP ftp;
        qz::test::PointClientAt(ftp, server);
        sendEvents = 0;
        ftp.OnWork = [&](TNetComponent&, TWorkMode, long long) { ++sendEvents; };
        ftp.ConnectToServer();
        ftp.StoreFile(file, "ours.bin");
        size = ftp.RemoteFileSize("ours.bin");
        ftp.CloseConnection();
    });
    if (size != static_cast<long long>(fs::file_size(file))) {
        std::fprintf(stderr, "size mismatch: %lld\n", size);
        std::exit(1);
    }
    return run;
}

Run UploadCurl(const qz::test::RealFtpServer& server, const std::string& file) {
    const std::string url = "ftp://127.0.0.1:" + std::to_string(server.Port()) + "/curl.bin";
    const std::string login = server.User() + ":" + server.Password();
    return TimeCurl({"curl", "-s", "-S", "--ftp-pasv", "--user", login, "-T", file, url});
}

// Replies of the shapes servers send, parsed from 32 KiB receives.
void ParseBench() {
    std::string traffic;
    long long lines = 0;
    while (traffic.size() < (64u << 20)) {
        traffic += "227 Entering Passive Mode (127,0,0,1,195,80)\r\n";
        traffic += "150 Ok to send data.\r\n226 Transfer complete.\r\n213 1073741824\r\n";
        traffic += "230-Welcome to the server\r\n230-Rules apply\r\n\r\n230 Login successful.\r\n";
        lines += 8;
    }
    auto start = Clock::now();
    TNetInputBuffer buffer;
    TNetReplyCollector collector;
    long long replies = 0, checksum = 0;
    for (std::size_t at = 0; at < traffic.size(); at += 32768) {
        std::size_t n = std::min<std::size_t>(32768, traffic.size() - at);
        std::memcpy(buffer.Reserve(n), traffic.data() + at, n);
        buffer.Commit(n);
        std::size_t taken = 0;
        while (auto line = buffer.TakeLine(taken)) {
            if (!collector.AddLine(*line)) continue;
            TNetRFCReply reply = ParseReplyLines(collector.Lines());
            checksum += reply.NumericCode;
            ++replies;
            collector = TNetReplyCollector();
        }
    }
    double s = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("reply parsing: %lld lines (%lld replies, %.1f MiB) in %.3f s = %.2f million lines/s (checksum %lld)\n",
                lines, replies, static_cast<double>(traffic.size()) / (1 << 20), s, static_cast<double>(lines) / s / 1e6,
                checksum);
}

}  // namespace

int main(int argc, char** argv) {
    long long sizeMiB = 1024;
    int rounds = 3;
    std::string file;
    std::string dir = fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path().string();
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string opt = argv[i];
        if (opt == "--size-mib") sizeMiB = std::atoll(argv[i + 1]);
        else if (opt == "--rounds") rounds = std::atoi(argv[i + 1]);
        else if (opt == "--file") file = argv[i + 1];
        else if (opt == "--dir") dir = argv[i + 1];
    }
    bool ownFile = file.empty();
    if (ownFile) {
        file = dir + "/qz-ftp-bench.bin";
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        std::vector<char> chunk(1 << 20);
        unsigned x = 12345;
        for (char& c : chunk) c = static_cast<char>(x = x * 1103515245u + 12345u);
        for (long long i = 0; i < sizeMiB; ++i) out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    }
    const double gib = static_cast<double>(fs::file_size(file)) / (1 << 30);

    const std::string root = dir + "/qz-ftp-bench-root";
    fs::create_directories(root);
    qz::test::RealFtpServer server(qz::test::FtpServerKind::Vsftpd, root);
    std::vector<double> oursRate, curlRate, oursCpu, curlCpu;
    long long sendEvents = 0;
    for (int r = 0; r < rounds; ++r) {
        // Alternate who goes first so cache and server warm-up favour neither.
        for (int turn = 0; turn < 2; ++turn) {
            bool ours = (turn == 0) == (r % 2 == 0);
            Run run = ours ? UploadOurs(server, file, sendEvents) : UploadCurl(server, file);
            (ours ? oursRate : curlRate).push_back(gib / run.seconds);
            (ours ? oursCpu : curlCpu).push_back(run.cpuSeconds / gib);
            std::printf("round %d %-5s %.3f s  %.2f GiB/s  CPU %.3f s/GiB\n", r + 1, ours ? "ours" : "curl", run.seconds,
                        gib / run.seconds, run.cpuSeconds / gib);
            fs::remove(server.RootDir() + (ours ? "/ours.bin" : "/curl.bin"));
        }
    }
    double rateRatio = Median(oursRate) / Median(curlRate);
    double cpuRatio = Median(oursCpu) / Median(curlCpu);
    std::printf("file %.3f GiB, %d rounds, median of each; %lld progress notifications per upload\n", gib, rounds,
                sendEvents);
    std::printf("throughput: ours %.2f GiB/s, curl %.2f GiB/s, ratio %.3f (target >= 0.95)\n", Median(oursRate),
                Median(curlRate), rateRatio);
    std::printf("CPU per GiB: ours %.3f s, curl %.3f s, ratio %.3f (target <= 1.2)\n", Median(oursCpu), Median(curlCpu),
                cpuRatio);
    if (ownFile) fs::remove(file);
    fs::remove_all(root);
    ParseBench();
    return 0;
}
