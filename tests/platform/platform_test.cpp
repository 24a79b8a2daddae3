#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/large_buffer.h"
#include "platform/shared_library.h"

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

// A library's functions load once: every one found, one missing, or no such library, each with
// its line.
struct LibcFunctions {
    decltype(&std::strlen) strlen = nullptr;
};
struct LibcWithAMissingFunction {
    decltype(&std::strlen) strlen = nullptr;
};
struct NoSuchLibrary {
    int (*anything)() = nullptr;
};

// A block grown and shrunk across the size where it moves onto its own mapping, and between two
// such sizes, keeps its bytes up to the smaller size.
TEST(HugeBlocks, KeepTheirBytesThroughEveryResize) {
    const std::size_t sizes[] = {
        1000, hugeBlockFrom - 8, hugeBlockFrom, 3 * hugeBlockFrom + 12345, hugeBlockFrom + 1,
        64,   5 * hugeBlockFrom};
    const auto pattern = [](std::size_t i) { return static_cast<std::uint32_t>(i * 2654435761u); };
    void* at = nullptr;
    std::size_t size = 0;
    for (const std::size_t wanted : sizes) {
        const std::size_t given = hugeBlockSize(wanted);
        SCOPED_TRACE(given);
        EXPECT_GE(given, wanted);
        void* moved = reallocateHuge(at, size, given);
        ASSERT_NE(moved, nullptr);
        auto* words = static_cast<std::uint32_t*>(moved);
        const std::size_t kept = std::min(size, given) / 4;
        std::size_t wrong = 0;
        for (std::size_t i = 0; i < kept; ++i) wrong += words[i] != pattern(i);
        EXPECT_EQ(wrong, 0u);
        for (std::size_t i = 0; i < given / 4; ++i) words[i] = pattern(i);
        at = moved;
        size = given;
    }
    EXPECT_EQ(reallocateHuge(at, size, 0), nullptr);
}

TEST(SharedLibraries, LoadTheirFunctionsOnceOrSayWhyNot) {
#ifndef _WIN32
    const auto libc = libraryFunctions<LibcFunctions>(
        {"libc.so.6", "libc6", "to test with"},
        [](const SharedLibrary& so, LibcFunctions& l) { return so.load("strlen", l.strlen); });
    ASSERT_TRUE(libc) << libc.message();
    EXPECT_EQ((*libc)->strlen("abc"), 3u);
    const auto missing = libraryFunctions<LibcWithAMissingFunction>(
        {"libc.so.6", "libc6", "to test with"},
        [](const SharedLibrary& so, LibcWithAMissingFunction& l) {
            return so.load("strlen", l.strlen) && so.load("no_such_function_at_all", l.strlen);
        });
    EXPECT_EQ(missing.message(), "libc.so.6 lacks a function it should have");
#endif
    const auto absent = libraryFunctions<NoSuchLibrary>(
        {"libmarlwood-absent.so.1", "marlwood-absent", "to test with"},
        [](const SharedLibrary&, NoSuchLibrary&) { return true; });
    EXPECT_EQ(absent.message(),
              "this machine has no libmarlwood-absent.so.1 (Debian package marlwood-absent) to "
              "test with");
}

}  // namespace
}  // namespace marlwood
