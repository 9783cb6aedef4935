#include "data/storage/KeySort.h"

#include <algorithm>
#include <cstring>

namespace xbase {
namespace {

// A key's first sixteen distinguishing bytes as two big-endian numbers, so
// that most comparisons are two integer compares on compact data.
struct Item {
    uint64_t high;
    uint64_t low;
    uint32_t index;   // record number - 1
};

uint64_t bigEndian(const uint8_t* p, size_t available)
{
    uint64_t v = 0;
    for (size_t i = 0; i < 8; ++i) v = (v << 8) | (i < available ? p[i] : 0);
    return v;
}

// Bytes every key starts with: skipped by the comparisons.
size_t commonPrefix(const std::vector<uint8_t>& keys, size_t k, size_t n)
{
    size_t prefix = k;
    const uint8_t* first = keys.data();
    for (size_t i = 1; i < n && prefix > 0; ++i) {
        const uint8_t* key = keys.data() + i * k;
        if (std::memcmp(key, first, prefix) == 0) continue;
        size_t same = 0;
        while (key[same] == first[same]) ++same;
        prefix = same;
    }
    return prefix;
}

}  // namespace

SortedKeys sortKeys(std::vector<uint8_t> keys, uint16_t keyLength, bool unique)
{
    const size_t k = keyLength;
    const size_t n = k == 0 ? 0 : keys.size() / k;
    SortedKeys out;
    out.keyLength = keyLength;
    if (n == 0) return out;

    const size_t skip = commonPrefix(keys, k, n);
    const size_t rest = k - skip;
    const size_t tailFrom = std::min(k, skip + 16);
    const size_t tail = k - tailFrom;
    std::vector<Item> items(n);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* key = keys.data() + i * k + skip;
        items[i] = Item{bigEndian(key, rest), rest > 8 ? bigEndian(key + 8, rest - 8) : 0, uint32_t(i)};
    }
    const uint8_t* base = keys.data();
    auto less = [&](const Item& a, const Item& b) {
        if (a.high != b.high) return a.high < b.high;
        if (a.low != b.low) return a.low < b.low;
        if (tail) {
            const int c = std::memcmp(base + size_t(a.index) * k + tailFrom, base + size_t(b.index) * k + tailFrom, tail);
            if (c != 0) return c < 0;
        }
        return a.index < b.index;
    };

    // One counting pass on the first two distinguishing bytes splits the
    // keys into buckets small enough to sort in cache.
    if (n >= (1u << 16)) {
        std::vector<uint32_t> start((1u << 16) + 1, 0);
        for (const Item& it : items) ++start[(it.high >> 48) + 1];
        for (size_t b = 1; b < start.size(); ++b) start[b] += start[b - 1];
        std::vector<Item> spread(n);
        std::vector<uint32_t> fill(start.begin(), start.end() - 1);
        for (const Item& it : items) spread[fill[it.high >> 48]++] = it;
        items.swap(spread);
        for (size_t b = 0; b + 1 < start.size(); ++b)
            if (start[b + 1] - start[b] > 1) std::sort(items.begin() + start[b], items.begin() + start[b + 1], less);
    } else {
        std::sort(items.begin(), items.end(), less);
    }

    out.keys.resize(n * k);
    out.recnos.reserve(n);
    uint8_t* dest = out.keys.data();
    const uint8_t* previous = nullptr;
    for (const Item& it : items) {
        const uint8_t* key = base + size_t(it.index) * k;
        if (unique && previous && std::memcmp(previous, key, k) == 0) continue;
        std::memcpy(dest, key, k);
        previous = dest;
        dest += k;
        out.recnos.push_back(it.index + 1);
    }
    out.keys.resize(out.recnos.size() * k);
    return out;
}

}  // namespace xbase
