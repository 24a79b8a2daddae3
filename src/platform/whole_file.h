#pragma once

#include <functional>
#include <ostream>
#include <string>

namespace marlwood {

// Writes a file whole or not at all: `write` fills a temporary file beside `path` (false when it
// could not), which is renamed to `path` only when every byte reached the disk. Whatever fails,
// nothing half-written is left under either name; `problem` then says what failed.
bool writeWholeFile(const std::string& path, const std::function<bool(std::ostream&)>& write,
                    std::string& problem);

}  // namespace marlwood
