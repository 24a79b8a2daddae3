#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>

namespace marlwood {

// Waits for one key press and consumes it. The key is the next character of `in`; when `in` is
// the process's standard input and that is a terminal, the key is taken without Enter and
// without echo. At the end of input it returns at once.
void waitForKey(std::istream& in);

// True when standard error is a terminal that can show a progress line (rewritten in place).
bool standardErrorIsTerminal();

// The folder that holds this program's executable, in UTF-8 (on Windows from GetModuleFileNameW,
// so any folder name works); empty when it cannot be told. Files shipped beside the executable
// are found through it whatever the current directory is.
std::string executableFolder();

// The memory this process can still take without being killed for it, in bytes: the machine's
// available memory (Linux: MemAvailable), or a container's limit less its usage, or the room
// under an address-space limit (ulimit -v), whichever is smallest. 0 when it cannot be told.
std::uint64_t availableMemoryBytes();

// Room left under an address-space limit (ulimit -v) of `limit_bytes`, from the text of
// /proc/self/statm (its first number: the pages mapped now); 0 when there is no limit or the text
// has no number, at least 1 when the limit is reached.
std::uint64_t addressSpaceRoomBytes(std::uint64_t limit_bytes, const std::string& statm,
                                    std::uint64_t page_bytes);

// MemAvailable of a /proc/meminfo text, in bytes; 0 when it is not there.
std::uint64_t memAvailableBytes(const std::string& meminfo);
// Room left under a cgroup memory limit, from the texts of its limit and usage files; 0 when
// there is no limit ("max", or no number), at least 1 when the limit is reached.
std::uint64_t cgroupRoomBytes(const std::string& limit, const std::string& usage);

// Grid rows are allocated one by one, and every page of fresh heap they take costs a page fault
// when first touched: on a virtual machine about a microsecond, a sixth of a 10 m conversion.
// Where the heap grows by moving the program break (Linux), this has the kernel map each new
// stretch of heap in one call instead, no further than the rows still to come will reach.
// Elsewhere it does nothing; either way the memory and its contents are the same.
class HeapPrefault {
  public:
    // `bytes_to_come`: what the allocations to follow will take in all.
    explicit HeapPrefault(std::size_t bytes_to_come);
    // After each allocation: `used` bytes were taken, the block ending at `end`.
    void allocated(const void* end, std::size_t used);

  private:
    std::uintptr_t break_ = 0;
    std::size_t to_come_ = 0;
};

}  // namespace marlwood
