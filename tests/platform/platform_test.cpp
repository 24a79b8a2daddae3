#include "platform/platform.h"

#include <gtest/gtest.h>

namespace marlwood {
namespace {

TEST(Platform, MemoryTexts) {
    EXPECT_EQ(memAvailableBytes("MemTotal:       24576000 kB\nMemFree:  100 kB\n"
                                "MemAvailable:   23936596 kB\nBuffers: 5 kB\n"),
              23936596ull * 1024);
    EXPECT_EQ(memAvailableBytes("MemTotal: 5 kB\n"), 0u);
    EXPECT_EQ(memAvailableBytes(""), 0u);

    struct Case {
        const char* limit;
        const char* usage;
        std::uint64_t room;
    };
    const Case cases[] = {
        {"max\n", "123\n", 0},  // no limit
        {"", "", 0},            // no cgroup file
        {"1000\n", "400\n", 600},
        {"1000\n", "1000\n", 1},  // at the limit: no room, but known
        {"1000\n", "", 1000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cgroupRoomBytes(c.limit, c.usage), c.room) << c.limit << " / " << c.usage;
    }
    // ulimit -v: the limit less what is mapped now (statm's first number, in pages).
    struct Limit {
        std::uint64_t limit;
        std::string statm;
        std::uint64_t room;
    };
    const Limit limits[] = {
        {0, "100 20 3", 0},
        {40960, "3 1 1", 28672},
        {40960, "10 1 1", 1},
        {40960, "11 1 1", 1},
        {40960, "", 0},
        {40960, "pages", 0},
        {1ull << 40, "256\n", (1ull << 40) - (1u << 20)},
    };
    for (const Limit& l : limits) {
        EXPECT_EQ(addressSpaceRoomBytes(l.limit, l.statm, 4096), l.room)
            << l.limit << " " << l.statm;
    }
    // Every machine this runs on tells its memory one way or another.
    EXPECT_GT(availableMemoryBytes(), 0u);
}

}  // namespace
}  // namespace marlwood
