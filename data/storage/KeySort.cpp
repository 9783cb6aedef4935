#include "data/storage/KeySort.h"

#include <algorithm>
#include <cstring>
#include <future>
#include <thread>

namespace xbase {
namespace {

// A key's first twelve distinguishing bytes as big-endian numbers and its
// record, so that most comparisons are integer compares on compact data.
struct Item {
    uint64_t high;
    uint32_t low;
    uint32_t index;   // record number - 1
};

constexpr size_t kBuckets = size_t(1) << 16;

uint64_t bigEndian(const uint8_t* p, size_t bytes, size_t available)
{
    uint64_t v = 0;
    for (size_t i = 0; i < bytes; ++i) v = (v << 8) | (i < available ? p[i] : 0);
    return v;
}

// Bytes every key starts with: skipped by the comparisons.
size_t commonPrefix(const uint8_t* keys, size_t k, size_t n)
{
    size_t prefix = k;
    for (size_t i = 1; i < n && prefix > 0; ++i) {
        const uint8_t* key = keys + i * k;
        if (std::memcmp(key, keys, prefix) == 0) continue;
        size_t same = 0;
        while (key[same] == keys[same]) ++same;
        prefix = same;
    }
    return prefix;
}

// Runs part(0) .. part(parts - 1), the first ones on their own threads;
// rethrows the first failure.
template <class Part>
void inParallel(size_t parts, Part part)
{
    std::vector<std::future<void>> others;
    for (size_t p = 0; p + 1 < parts; ++p) others.push_back(std::async(std::launch::async, part, p));
    part(parts - 1);
    for (auto& f : others) f.get();
}

}  // namespace

size_t keyWorkers(size_t items)
{
    // Large builds use both cores of a small machine, as sort(1) does.
    if (items < (size_t(1) << 16)) return 1;
    return std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 2);
}

SortedKeys sortKeys(std::vector<uint8_t> keys, uint16_t keyLength, bool unique)
{
    const size_t k = keyLength;
    const size_t n = k == 0 ? 0 : keys.size() / k;
    SortedKeys out;
    out.keyLength = keyLength;
    if (n == 0) return out;

    const uint8_t* base = keys.data();
    const size_t skip = commonPrefix(base, k, n);
    const size_t rest = k - skip;
    const size_t tailFrom = std::min(k, skip + 12);
    const size_t tail = k - tailFrom;
    auto less = [&](const Item& a, const Item& b) {
        if (a.high != b.high) return a.high < b.high;
        if (a.low != b.low) return a.low < b.low;
        if (tail) {
            const int c = std::memcmp(base + size_t(a.index) * k + tailFrom, base + size_t(b.index) * k + tailFrom, tail);
            if (c != 0) return c < 0;
        }
        return a.index < b.index;
    };
    auto itemOf = [&](size_t i) {
        const uint8_t* key = base + i * k + skip;
        return Item{bigEndian(key, 8, rest), uint32_t(rest > 8 ? bigEndian(key + 8, 4, rest - 8) : 0), uint32_t(i)};
    };

    std::vector<Item> items(n);
    const size_t workers = keyWorkers(n);
    auto range = [&](size_t part, size_t parts, size_t total) { return std::pair{total * part / parts, total * (part + 1) / parts}; };
    if (workers == 1) {
        for (size_t i = 0; i < n; ++i) items[i] = itemOf(i);
        std::sort(items.begin(), items.end(), less);
    } else {
        // One counting pass on the first two distinguishing bytes splits the
        // keys into buckets small enough to sort in cache, shared out
        // between the workers.
        std::vector<std::vector<uint32_t>> counts(workers, std::vector<uint32_t>(kBuckets, 0));
        inParallel(workers, [&](size_t w) {
            auto [from, to] = range(w, workers, n);
            for (size_t i = from; i < to; ++i) ++counts[w][itemOf(i).high >> 48];
        });
        std::vector<uint32_t> start(kBuckets + 1, 0);
        std::vector<std::vector<uint32_t>> fill(workers, std::vector<uint32_t>(kBuckets));
        for (size_t b = 0; b < kBuckets; ++b) {
            uint32_t at = start[b];
            for (size_t w = 0; w < workers; ++w) {
                fill[w][b] = at;
                at += counts[w][b];
            }
            start[b + 1] = at;
        }
        inParallel(workers, [&](size_t w) {
            auto [from, to] = range(w, workers, n);
            for (size_t i = from; i < to; ++i) {
                const Item it = itemOf(i);
                items[fill[w][it.high >> 48]++] = it;
            }
        });
        // Buckets are handed out whole, cut where the items are halved.
        std::vector<size_t> cut{0};
        for (size_t w = 1, b = 0; w < workers; ++w) {
            while (b < kBuckets && start[b] < n * w / workers) ++b;
            cut.push_back(b);
        }
        cut.push_back(kBuckets);
        inParallel(workers, [&](size_t w) {
            for (size_t b = cut[w]; b < cut[w + 1]; ++b)
                if (start[b + 1] - start[b] > 1) std::sort(items.begin() + start[b], items.begin() + start[b + 1], less);
        });
    }

    out.keys.resize(n * k);
    out.recnos.resize(n);
    inParallel(workers, [&](size_t w) {
        auto [from, to] = range(w, workers, n);
        for (size_t i = from; i < to; ++i) {
            std::memcpy(out.keys.data() + i * k, base + size_t(items[i].index) * k, k);
            out.recnos[i] = items[i].index + 1;
        }
    });
    if (unique) {
        // Only the first (lowest) record of each key stays.
        size_t kept = 0;
        for (size_t i = 0; i < n; ++i) {
            if (kept > 0 && std::memcmp(out.keys.data() + (kept - 1) * k, out.keys.data() + i * k, k) == 0) continue;
            if (kept != i) {
                std::memcpy(out.keys.data() + kept * k, out.keys.data() + i * k, k);
                out.recnos[kept] = out.recnos[i];
            }
            ++kept;
        }
        out.keys.resize(kept * k);
        out.recnos.resize(kept);
    }
    return out;
}

}  // namespace xbase
