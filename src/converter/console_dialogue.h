#pragma once

#include <cstdint>
#include <fstream>
#include <istream>
#include <optional>
#include <ostream>
#include <string>

#include "source/transfer_source.h"

namespace marlwood {

// A typed line keeps at most this many characters; up to kLineDiscard more are thrown away.
inline constexpr std::size_t kLineKeep = 39;
inline constexpr std::size_t kLineDiscard = 100;

// The prefix as typed, and the modules found at it.
struct ModulePaths {
    std::string module_prefix;
    TransferModules modules;
};

// The one failure test of a stream, right after it is opened.
inline bool streamFailed(const std::ios& stream) {
    return stream.fail();
}

// Prints the banner and waits for a key.
void showBanner(std::istream& in, std::ostream& out);

// Prints "Press any key to continue", waits for a key and prints "Done".
void closingStep(std::istream& in, std::ostream& out);

// Reads one line into `slot`, keeping at most 39 characters; CR LF ends a line like LF, and the
// text ends at a NUL. False at the end of input, when not a single character was left to read.
bool readLine(std::istream& in, std::string& slot);

// Asks for the prefix until all five modules open (each tried with the lower-case suffix, then
// the upper-case one that USGS transfers use). Nothing at the end of input.
std::optional<ModulePaths> askModulePrefix(std::istream& in, std::ostream& out);

// Asks for the height scale until a whole number that fits the file's 16 bits is typed.
// Nothing at the end of input.
std::optional<std::int32_t> askHeightScale(std::istream& in, std::ostream& out);

// Asks for the output file until it opens for writing. False at the end of input.
bool askOutputFile(std::istream& in, std::ostream& out, std::ofstream& output_stream,
                   std::string& ter_path);

}  // namespace marlwood
