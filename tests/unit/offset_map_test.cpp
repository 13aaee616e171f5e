// The model's facts by offset: the first fact stays, a replacement or an erase wins,
// whatever the order of the offsets and however often the map is asked between changes.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>

#include "disasm/model/offset_map.h"

namespace korvane::test {
namespace {

TEST(OffsetMap, AgreesWithAMapUnderRandomChanges) {
    std::mt19937 rng(7);
    for (int round = 0; round < 50; ++round) {
        dis::OffsetMap<std::uint32_t> facts;
        std::map<std::uint32_t, std::uint32_t> truth;
        for (int i = 0; i < 400; ++i) {
            const std::uint32_t off = static_cast<std::uint32_t>(rng() % 64), v = static_cast<std::uint32_t>(rng());
            switch (rng() % 4) {
                case 0:
                case 1:
                    facts.emplace(off, v);
                    truth.emplace(off, v);  // the first stays
                    break;
                case 2:
                    facts.assign(off, v);
                    truth[off] = v;
                    break;
                default:
                    facts.erase(off);
                    truth.erase(off);
                    break;
            }
            if (rng() % 16 == 0) {  // asked between changes: what it says so far holds
                const std::uint32_t at = static_cast<std::uint32_t>(rng() % 64);
                const std::uint32_t* got = facts.find(at);
                const auto want = truth.find(at);
                ASSERT_EQ(got != nullptr, want != truth.end()) << at;
                if (got != nullptr) {
                    EXPECT_EQ(*got, want->second);
                }
            }
        }
        EXPECT_EQ(facts.size(), truth.size());
        for (std::uint32_t off = 0; off < 64; ++off) {
            const std::uint32_t* got = facts.find(off);
            const auto want = truth.find(off);
            ASSERT_EQ(got != nullptr, want != truth.end()) << off;
            if (got != nullptr) {
                    EXPECT_EQ(*got, want->second);
                }
        }
    }
}

}  // namespace
}  // namespace korvane::test
