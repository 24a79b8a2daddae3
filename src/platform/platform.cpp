#include "platform/platform.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <limits>
#include <sstream>
#include <string>
#include <utility>

#ifdef _WIN32
#include <conio.h>
#include <io.h>
#include <windows.h>
#else
#include <sys/mman.h>
#include <sys/resource.h>
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

bool standardErrorIsTerminal() {
#ifdef _WIN32
    if (_isatty(_fileno(stderr)) == 0) return false;
    // Progress lines rewrite themselves with escape sequences, which a console takes once asked
    // to; one that cannot (before Windows 10), or a device that is no console (NUL), shows none.
    const HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(console, &mode)) return false;
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

std::string executableFolder() {
#ifdef _WIN32
    // Paths may be longer than MAX_PATH: the buffer grows until the name fits.
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0) return {};
        if (length < name.size()) {
            name.resize(length);
            break;
        }
        if (name.size() >= 32768) return {};
        name.resize(name.size() * 2);
    }
    const std::size_t slash = name.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return {};
    // A drive's root keeps its backslash: "C:" alone is the drive's current directory.
    name.resize(slash > 0 && name[slash - 1] == L':' ? slash + 1 : slash);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, name.data(), static_cast<int>(name.size()),
                                          nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string folder(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), folder.data(),
                        bytes, nullptr, nullptr);
    return folder;
#else
    std::string name(4096, '\0');
    const ssize_t length = readlink("/proc/self/exe", name.data(), name.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= name.size()) return {};
    name.resize(static_cast<std::size_t>(length));
    return name.substr(0, name.find_last_of('/'));
#endif
}

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

std::uint64_t memAvailableBytes(const std::string& meminfo) {
    std::istringstream lines(meminfo);
    std::string key;
    std::uint64_t kib = 0;
    while (lines >> key) {
        if (key == "MemAvailable:" && (lines >> kib)) return kib * 1024;
        lines.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    return 0;
}

std::uint64_t cgroupRoomBytes(const std::string& limit, const std::string& usage) {
    std::uint64_t limit_bytes = 0;
    std::uint64_t usage_bytes = 0;
    // "max" (no limit) and anything else that is not a number leave the limit unknown.
    if (!(std::istringstream(limit) >> limit_bytes) || limit_bytes == 0) return 0;
    std::istringstream(usage) >> usage_bytes;
    return usage_bytes < limit_bytes ? limit_bytes - usage_bytes : 1;
}

std::uint64_t addressSpaceRoomBytes(std::uint64_t limit_bytes, const std::string& statm,
                                    std::uint64_t page_bytes) {
    std::uint64_t pages = 0;
    if (limit_bytes == 0 || !(std::istringstream(statm) >> pages)) return 0;
    const std::uint64_t mapped = pages * page_bytes;
    return mapped < limit_bytes ? limit_bytes - mapped : 1;
}

#ifndef _WIN32
namespace {
std::string readSmallFile(const char* path) {
    std::ifstream in(path);
    std::string text;
    std::getline(in, text, '\0');
    return text;
}
}  // namespace
#endif

std::uint64_t availableMemoryBytes() {
#ifdef _WIN32
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (GlobalMemoryStatusEx(&status) == 0) return 0;
    return status.ullAvailPhys;
#else
    std::uint64_t room = memAvailableBytes(readSmallFile("/proc/meminfo"));
    if (room == 0) {
        const long pages = sysconf(_SC_AVPHYS_PAGES);
        const long page_size = sysconf(_SC_PAGE_SIZE);
        if (pages > 0 && page_size > 0) {
            room = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
        }
    }
    // A container's memory limit ends the process as surely as the machine's (cgroup v2, then v1).
    for (const auto& [limit, usage] :
         {std::pair{"/sys/fs/cgroup/memory.max", "/sys/fs/cgroup/memory.current"},
          std::pair{"/sys/fs/cgroup/memory/memory.limit_in_bytes",
                    "/sys/fs/cgroup/memory/memory.usage_in_bytes"}}) {
        const std::uint64_t cgroup = cgroupRoomBytes(readSmallFile(limit), readSmallFile(usage));
        if (cgroup != 0 && (room == 0 || cgroup < room)) room = cgroup;
    }
    // Under ulimit -v an allocation fails before the machine runs short.
    rlimit address_space{};
    if (getrlimit(RLIMIT_AS, &address_space) == 0 && address_space.rlim_cur != RLIM_INFINITY) {
        const long page_size = sysconf(_SC_PAGE_SIZE);
        const std::uint64_t limited = addressSpaceRoomBytes(
            static_cast<std::uint64_t>(address_space.rlim_cur), readSmallFile("/proc/self/statm"),
            page_size > 0 ? static_cast<std::uint64_t>(page_size) : 4096);
        if (limited != 0 && (room == 0 || limited < room)) room = limited;
    }
    return room;
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
