#include "converter/console_dialogue.h"

#include <cctype>
#include <limits>
#include <string_view>

#include "platform/platform.h"
#include "source/transfer_source.h"

namespace marlwood {

namespace {

using Traits = std::char_traits<char>;

constexpr std::int32_t kMinHeightScale = -32768;
constexpr std::int32_t kMaxHeightScale = 32767;

// Throws away the rest of the current line, its newline included.
void discardLine(std::istream& in) {
    for (int c = in.get(); c != Traits::eof() && c != '\n'; c = in.get()) {
    }
}

}  // namespace

void showBanner(std::istream& in, std::ostream& out) {
    out << "\t*************************************************\n"
           "\t*                                               *\n"
           "\t*           Welcome to MARLWOOD.                *\n"
           "\t*                                               *\n"
           "\t*                                               *\n"
           "\t*   The program accepts as input 7.5' SDTS DEM  *\n"
           "\t*   files (1:24000 scale) and converts them to  *\n"
           "        *   Terragen .ter format.                       *\n"
           "        *                                               *\n"
           "\t*   This program was written 8/30/01 to accept  *\n"
           "\t*   both new and old SDTS file format.  The     *\n"
           "\t*   program will handle both 30m and 10m        *\n"
           "\t*   postings and BI16 and BFP32 elevation       *\n"
           "\t*   files.                                      *\n"
           "\t*                                               *\n"
           "\t*                                               *\n"
           "\t*************************************************\n\n"
           "  Press any key to continue\n"
        << std::flush;
    waitForKey(in);
}

void closingStep(std::istream& in, std::ostream& out) {
    out << "Press any key to continue\n" << std::flush;
    waitForKey(in);
    out << "Done\n" << std::flush;
}

namespace {
bool takeLine(std::istream& in, std::string& slot) {
    slot.clear();
    int c = in.get();
    if (c == Traits::eof()) return false;
    for (; slot.size() < kLineKeep; c = in.get()) {
        if (c == Traits::eof() || c == '\n') return true;
        if (c == '\r' && in.peek() == '\n') {
            in.get();
            return true;
        }
        slot.push_back(static_cast<char>(c));
    }
    // 39 characters are kept and `c` is the next one, not yet judged: it is the first of at most
    // 100 that are discarded.
    for (std::size_t discarded = 0; discarded < kLineDiscard; ++discarded) {
        if (c == Traits::eof() || c == '\n') return true;
        if (c == '\r' && in.peek() == '\n') {
            in.get();
            return true;
        }
        if (discarded + 1 < kLineDiscard) c = in.get();
    }
    return true;
}
}  // namespace

bool readLine(std::istream& in, std::string& slot) {
    const bool read = takeLine(in, slot);
    // The slot holds NUL-terminated text: a typed NUL ends it, as it ends every path made from it.
    if (const auto nul = slot.find('\0'); nul != std::string::npos) slot.resize(nul);
    return read;
}

std::optional<ModulePaths> askModulePrefix(std::istream& in, std::ostream& out) {
    for (;;) {
        out << "\n\nInput the first four digits of the SDTS module.\n\n"
            << std::flush << "\nThat is, the 'xxxx' part of 'xxxxldef.ddf', for example\n"
            << std::flush << "Please precede the four digits by the complete directory path\n"
            << std::flush << "for example: c:\\7018\n\n"
            << std::flush;
        ModulePaths paths;
        if (!readLine(in, paths.module_prefix)) return std::nullopt;
        Result<TransferModules> modules = findPrefixModules(paths.module_prefix);
        if (modules) {
            paths.modules = std::move(*modules);
            return paths;
        }
        out << "**Cannot open" << modules.error().subject << "**\n"
            << std::flush << "Please try again.\n\n"
            << std::flush;
    }
}

std::optional<std::int32_t> askHeightScale(std::istream& in, std::ostream& out) {
    for (;;) {
        out << "Input the elevation scale factor (try 30)....  " << std::flush;
        int c = in.get();
        while (c != Traits::eof() && std::isspace(c)) c = in.get();
        if (c == Traits::eof()) return std::nullopt;
        bool negative = false;
        if (c == '+' || c == '-') {
            negative = c == '-';
            c = in.get();
        }
        bool digits = false;
        std::int64_t value = 0;
        for (; c != Traits::eof() && std::isdigit(c); c = in.get()) {
            digits = true;
            if (value <= kMaxHeightScale + 1) value = value * 10 + (c - '0');
        }
        if (negative) value = -value;
        if (c != '\n' && c != Traits::eof()) discardLine(in);
        if (digits && value >= kMinHeightScale && value <= kMaxHeightScale) {
            out << "integer is:  " << value << '\n' << std::flush;
            return static_cast<std::int32_t>(value);
        }
        out << "Please type a whole number from -32768 to 32767.\n" << std::flush;
    }
}

bool askOutputFile(std::istream& in, std::ostream& out, std::ofstream& output_stream,
                   std::string& ter_path) {
    for (;;) {
        out << "\n\nInput the name of the output .ter file\n\n"
            << std::flush << "Please type in the complete file name including"
            << " the directory path\n"
            << std::flush << "for example: a:\\outfile.ter\n\n"
            << std::flush;
        if (!readLine(in, ter_path)) return false;
        output_stream.open(ter_path, std::ios::out | std::ios::binary | std::ios::trunc);
        if (!streamFailed(output_stream)) return true;
        output_stream.clear();
        out << "**Cannot open" << ter_path << "**\n"
            << std::flush << "Please try again.\n\n"
            << std::flush;
    }
}

}  // namespace marlwood
