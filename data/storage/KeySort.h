#pragma once
// Sorting every key of a tag for a bulk build: fixed-size keys in record
// order in, (key, record number) order out, both stored back to back.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace xbase {

struct SortedKeys {
    uint16_t keyLength = 0;
    std::vector<uint8_t> keys;      // keyLength bytes each
    std::vector<uint32_t> recnos;   // one per key
    size_t size() const { return recnos.size(); }
    const uint8_t* key(size_t i) const { return keys.data() + i * keyLength; }
};

// How many threads a bulk build of `items` keys uses (1 or 2).
size_t keyWorkers(size_t items);

// `keys` holds the key of record 1, 2, ... back to back. With `unique`,
// only the first record of each key is kept.
SortedKeys sortKeys(std::vector<uint8_t> keys, uint16_t keyLength, bool unique);

}  // namespace xbase
