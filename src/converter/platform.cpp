#include "converter/platform.h"

#include <cstdio>
#include <iostream>

#ifdef _WIN32
#include <conio.h>
#include <io.h>
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>
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

}  // namespace marlwood
