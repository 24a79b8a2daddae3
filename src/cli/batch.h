#pragma once

#include <ostream>

#include "cli/options.h"

namespace marlwood {

// Converts every source of `options`, `jobs` at a time. One report line per source on `out`, in
// the order given; problems on `err`, one line each naming the source. `err_is_terminal` turns on
// the progress line. Returns 0 when every source converted, 1 when any failed.
int runBatch(const Options& options, std::ostream& out, std::ostream& err, bool err_is_terminal);

// The whole command line: parsing, --help, --version, then the batch. Exit status 2 for a usage
// error.
int runCommandLine(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                   bool err_is_terminal);

}  // namespace marlwood
