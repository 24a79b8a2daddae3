// A whole conversion, in process, from one input: the typed height scale and the five modules
// (see fuzz_input.h). The modules go to a private temporary directory that is removed at exit.
//
// Besides what the sanitizers catch, every run must keep the program's promises: the closing step
// always runs; status 0 leaves a complete .ter file (header, XPTS x YPTS heights, "EOF "); status
// 1 leaves none.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>

// Test support, header-only: the fuzz targets link the core library alone.
#include "../tests/support/conversation.h"
#include "../tests/support/files.h"
#include "../tests/support/transcript.h"
#include "fuzz_input.h"
#include "sdts/metadata_readers.h"

namespace {

namespace ts = marlwood::testsupport;

// Larger grids are legal but only measure the machine's memory and patience; the sweep and the
// catalogue in tests/hostile run the real sizes.
constexpr std::int64_t kMaxCells = std::int64_t{1} << 16;

std::string g_dir;
std::string g_prefix;
std::string g_output;

void removeDirectory() {
    std::error_code ignored;
    if (!g_dir.empty()) std::filesystem::remove_all(g_dir, ignored);
}

[[noreturn]] void broken(const std::string& what, const std::string& transcript) {
    std::fprintf(stderr, "broken promise: %s\n--- transcript ---\n%s\n", what.c_str(),
                 transcript.c_str());
    std::abort();
}

std::uint16_t le16(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      (static_cast<unsigned char>(bytes[at + 1]) << 8));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Typed paths keep 39 characters: the directory name must stay short.
    const char* base = std::getenv("TMPDIR");
    if (base == nullptr || std::strlen(base) > 23) base = "/tmp";
    std::string name = std::string(base) + "/mwfzXXXXXX";
    if (mkdtemp(name.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    g_dir = name;
    g_prefix = g_dir + "/7172";
    g_output = g_dir + "/o.ter";
    std::atexit(removeDirectory);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto pieces =
        marlwood::fuzz::splitInput(std::string_view(reinterpret_cast<const char*>(data), size));
    for (std::size_t i = 0; i < marlwood::fuzz::kModuleSuffixes.size(); ++i) {
        ts::writeFile(g_prefix + std::string(marlwood::fuzz::kModuleSuffixes[i]), pieces[i + 1]);
    }
    {
        marlwood::ModuleReader reader;
        marlwood::NoEvents events;
        const auto size = marlwood::readGridSize(reader, g_prefix + "ldef.ddf", events);
        if (std::int64_t{size.rows} * size.columns > kMaxCells) return -1;
    }

    // One line for the height scale: a line end inside it would let the input name other files.
    std::string_view scale = pieces[0];
    scale = scale.substr(0, scale.find('\n'));
    const auto [status, transcript] =
        ts::converse(ts::answers(g_prefix, g_output, std::string(scale)));
    if (!ts::endsWith(transcript, marlwood::kClosing)) {
        broken("the closing step did not run last", transcript);
    }

    std::error_code missing;
    const bool written = std::filesystem::exists(g_output, missing);
    if (status == 1) {
        if (written) broken("an abandoned conversion left an output file", transcript);
        return 0;
    }
    if (status != 0) broken("exit status " + std::to_string(status), transcript);
    if (!written) broken("status 0 without an output file", transcript);
    const std::string ter = ts::readFile(g_output);
    std::filesystem::remove(g_output, missing);
    if (ter.size() < 52 || ter.compare(0, 16, "TERRAGENTERRAIN ") != 0 ||
        ter.compare(ter.size() - 4, 4, "EOF ") != 0) {
        broken("the .ter file lacks its header or end marker", transcript);
    }
    const std::size_t expected = 52 + 2 * std::size_t{le16(ter, 28)} * le16(ter, 36);
    if (ter.size() != expected) {
        broken("the .ter file holds " + std::to_string(ter.size()) + " bytes, not " +
                   std::to_string(expected),
               transcript);
    }
    return 0;
}
