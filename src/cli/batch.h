#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/options.h"
#include "common/events.h"

namespace marlwood {

// Converts every source of `options`, `jobs` at a time (or merges them into one terrain). One
// report line per source on `out`, in the order given; problems on `err`, one line each naming
// the source. `err_is_terminal` turns on the progress line; every conversion's events also go to
// `watcher` when one is given. Returns 0 when every source converted and every output was
// written, 1 otherwise.
int runBatch(const Options& options, std::ostream& out, std::ostream& err, bool err_is_terminal,
             EventSink* watcher = nullptr);

// The whole command line: parsing (choosing among `formats`), --help, --version, then the batch.
// Exit status 2 for a usage error; 1 also when the report itself could not be written.
int runCommandLine(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                   bool err_is_terminal, EventSink* watcher = nullptr,
                   const FormatTable& formats = outputFormats());

}  // namespace marlwood
