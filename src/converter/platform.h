#pragma once

#include <cstdint>
#include <istream>

namespace marlwood {

// Waits for one key press and consumes it. The key is the next character of `in`; when `in` is
// the process's standard input and that is a terminal, the key is taken without Enter and
// without echo. At the end of input it returns at once.
void waitForKey(std::istream& in);

// The machine's physical memory in bytes, 0 when it cannot be told.
std::uint64_t physicalMemoryBytes();

}  // namespace marlwood
