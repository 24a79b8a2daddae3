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
#include <fstream>
#include <sstream>
#include <string>

#include "converter/dem_converter.h"
#include "fuzz_input.h"
#include "sdts/metadata_readers.h"

namespace {

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

void writeFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::perror(path.c_str());
        std::abort();
    }
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
        writeFile(g_prefix + std::string(marlwood::fuzz::kModuleSuffixes[i]), pieces[i + 1]);
    }
    {
        marlwood::ModuleReader reader;
        std::ostringstream sink;
        const auto size = marlwood::readGridSize(reader, g_prefix + "ldef.ddf", sink);
        if (std::int64_t{size.rows} * size.columns > kMaxCells) return -1;
    }

    // One line for the height scale: a line end inside it would let the input name other files.
    std::string_view scale = pieces[0];
    scale = scale.substr(0, scale.find('\n'));
    std::istringstream in("k" + g_prefix + "\n" + std::string(scale) + "\n" + g_output + "\nk");
    std::ostringstream out;
    int status = -1;
    {
        marlwood::DemConverter converter(in, out);
        status = converter.exitStatus();
    }
    const std::string transcript = out.str();
    const std::string closing = "Press any key to continue\nDone\n";
    if (transcript.size() < closing.size() ||
        transcript.compare(transcript.size() - closing.size(), closing.size(), closing) != 0) {
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
    std::ifstream file(g_output, std::ios::binary | std::ios::ate);
    std::string ter(static_cast<std::size_t>(file.tellg()), '\0');
    file.seekg(0);
    file.read(ter.data(), static_cast<std::streamsize>(ter.size()));
    file.close();
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
