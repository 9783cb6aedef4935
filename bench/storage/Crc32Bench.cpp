// The journal's checksum: its own slicing-by-eight routine (xbase::crc32) against
// zlib's crc32, on single sizes (MB/s) and on what one file-log update and
// a batch of 100 checksum (microseconds).
#include <zlib.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "data/storage/JournalFormat.h"

namespace {

template <class F>
double megabytesPerSecond(const std::vector<uint8_t>& buffer, F&& crc)
{
    const size_t rounds = std::max<size_t>(1, (256u << 20) / buffer.size());
    double best = 0;
    volatile uint32_t sink = 0;
    for (int pass = 0; pass < 5; ++pass) {
        const auto start = std::chrono::steady_clock::now();
        for (size_t i = 0; i < rounds; ++i) sink = sink ^ crc(buffer.data(), buffer.size());
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best = std::max(best, double(rounds * buffer.size()) / s / 1e6);
    }
    return best;
}

}  // namespace

int main()
{
    std::printf("%-10s %14s %14s\n", "bytes", "slicing-by-8", "zlib crc32");
    for (size_t size : {80u, 700u, 4096u, 61440u}) {
        std::vector<uint8_t> buffer(size);
        for (size_t i = 0; i < size; ++i) buffer[i] = uint8_t(i * 131 + 7);
        if (xbase::crc32(buffer.data(), size) != uint32_t(::crc32(0, buffer.data(), uInt(size)))) {
            std::fprintf(stderr, "the two disagree\n");
            return 1;
        }
        const double ours = megabytesPerSecond(buffer, [](const uint8_t* d, size_t n) { return xbase::crc32(d, n); });
        const double zlib = megabytesPerSecond(buffer, [](const uint8_t* d, size_t n) { return uint32_t(::crc32(0, d, uInt(n))); });
        std::printf("%-10zu %9.0f MB/s %9.0f MB/s\n", size, ours, zlib);
    }
    // What one file-log update checksums: the record header, the bytes
    // each write replaces (record, end marker, two leaves, counter, header)
    // and the body; and a batch of 100 such updates.
    const std::vector<size_t> update{60, 45, 1, 512, 512, 4, 7, 1180};
    const std::vector<size_t> batch{60, 4500, 1, 51200, 4, 7, 56000};
    for (const auto& [label, sizes] : {std::pair{"one update", update}, std::pair{"batch of 100", batch}}) {
        std::vector<std::vector<uint8_t>> parts;
        for (size_t n : sizes) parts.emplace_back(n, uint8_t(n));
        const auto perMix = [&](auto&& crc) {
            double best = 1e9;
            volatile uint32_t sink = 0;
            for (int pass = 0; pass < 5; ++pass) {
                const auto start = std::chrono::steady_clock::now();
                for (int i = 0; i < 20000; ++i)
                    for (const auto& p : parts) sink = sink ^ crc(p.data(), p.size());
                best = std::min(best, std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / 20000);
            }
            return best;
        };
        const double ours = perMix([](const uint8_t* d, size_t n) { return xbase::crc32(d, n); });
        const double zlib = perMix([](const uint8_t* d, size_t n) { return uint32_t(::crc32(0, d, uInt(n))); });
        std::printf("%-12s %8.2f us %11.2f us\n", label, ours, zlib);
    }
    return 0;
}
