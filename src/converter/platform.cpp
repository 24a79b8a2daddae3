#include "converter/platform.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

#ifdef _WIN32
#include <conio.h>
#include <io.h>
#include <windows.h>
#else
#include <sys/mman.h>
#include <termios.h>
#include <unistd.h>
#endif

#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
#define MARLWOOD_HEAP_PREFAULT 1
#endif

namespace marlwood {

namespace {

bool isConsoleKeyboard(const std::istream& in) {
    if (&in != &std::cin) return false;
#ifdef _WIN32
    return _isatty(_fileno(stdin)) != 0;
#else
    return isatty(STDIN_FILENO) != 0;
#endif
}

}  // namespace

void waitForKey(std::istream& in) {
    if (isConsoleKeyboard(in)) {
#ifdef _WIN32
        _getch();
        return;
#else
        termios saved{};
        if (tcgetattr(STDIN_FILENO, &saved) == 0) {
            termios single_key = saved;
            single_key.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
            single_key.c_cc[VMIN] = 1;
            single_key.c_cc[VTIME] = 0;
            // TCSANOW, not TCSAFLUSH: a key typed before the wait began must still count.
            tcsetattr(STDIN_FILENO, TCSANOW, &single_key);
            in.get();
            tcsetattr(STDIN_FILENO, TCSANOW, &saved);
            return;
        }
#endif
    }
    in.get();
}

std::uint64_t physicalMemoryBytes() {
#ifdef _WIN32
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (GlobalMemoryStatusEx(&status) == 0) return 0;
    return status.ullTotalPhys;
#else
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page_size <= 0) return 0;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
#endif
}

HeapPrefault::HeapPrefault(std::size_t bytes_to_come) : to_come_(bytes_to_come) {
#ifdef MARLWOOD_HEAP_PREFAULT
    break_ = reinterpret_cast<std::uintptr_t>(sbrk(0));
#endif
}

void HeapPrefault::allocated([[maybe_unused]] const void* end, std::size_t used) {
    to_come_ -= std::min(used, to_come_);
#ifdef MARLWOOD_HEAP_PREFAULT
    const auto now = reinterpret_cast<std::uintptr_t>(sbrk(0));
    if (now == break_) return;
    break_ = now;
    // The heap grew for this block: what lies between its end and the new break is where the
    // next blocks go. A failed call (an older kernel) only leaves the faults as they were.
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto from = (reinterpret_cast<std::uintptr_t>(end) + page - 1) & ~(page - 1);
    const auto to = std::min(now, from + to_come_) & ~(page - 1);
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
#endif
}

}  // namespace marlwood
