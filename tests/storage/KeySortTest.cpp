// The bulk build's key sort against a plain sort of (key, record) pairs, on
// both of its paths (small inputs on one thread, large ones split into
// buckets over two), for key shapes that stress its shortcuts: a long prefix
// common to all keys, keys alike in their first twelve distinguishing bytes,
// runs of equal keys, and unique tags.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "data/storage/KeySort.h"

using namespace xbase;

namespace {

struct SortCase {
    const char* what;
    size_t count;
    uint16_t keyLength;
    std::string prefix;   // every key starts with it
    unsigned distinct;    // values drawn from 0 .. distinct - 1
    bool unique;
};

class KeySort : public ::testing::TestWithParam<SortCase> {};

TEST_P(KeySort, OrdersLikeAPlainSortOfKeyAndRecord)
{
    const SortCase& c = GetParam();
    std::mt19937 rng(5);
    std::vector<uint8_t> keys;
    std::vector<std::pair<std::string, uint32_t>> expected;
    for (size_t i = 0; i < c.count; ++i) {
        // The varying part sits after twelve bytes that are alike in most keys.
        std::string key = c.prefix + (rng() % 3 ? "ALIKE_ALIKE_" : "ALIKE_OTHER_") + std::to_string(rng() % c.distinct);
        key.resize(c.keyLength, ' ');
        keys.insert(keys.end(), key.begin(), key.end());
        expected.emplace_back(key, uint32_t(i + 1));
    }
    std::sort(expected.begin(), expected.end());
    if (c.unique)
        expected.erase(std::unique(expected.begin(), expected.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
                       expected.end());

    const SortedKeys sorted = sortKeys(keys, c.keyLength, c.unique);
    ASSERT_EQ(sorted.size(), expected.size());
    ASSERT_EQ(sorted.keys.size(), expected.size() * c.keyLength);
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(std::string(reinterpret_cast<const char*>(sorted.key(i)), c.keyLength), expected[i].first) << i;
        ASSERT_EQ(sorted.recnos[i], expected[i].second) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, KeySort,
    ::testing::Values(SortCase{"SmallDistinct", 1000, 30, "", 1000000, false},
                      SortCase{"SmallUnique", 1000, 30, "", 50, true},
                      SortCase{"LargeDistinct", 100000, 40, "", 1000000000, false},
                      SortCase{"LargeCommonPrefix", 100000, 60, "PMS_EXPORT_2024_", 1000000, false},
                      SortCase{"LargeRunsOfEqualKeys", 100000, 25, "", 7, false},
                      SortCase{"LargeUnique", 100000, 25, "H", 3000, true},
                      SortCase{"OneKeyForAll", 70000, 10, "", 1, true}),
    [](const auto& info) { return std::string(info.param.what); });

}  // namespace
