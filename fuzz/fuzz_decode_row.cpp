// decodeRow over an arbitrary CEL0 module, with each value type. Input: a value type selector, a
// two-byte column count, a lead byte, then the module (see fuzz_input.h).
//
// The records are read from a file in which they begin a little before byte 65536 (the lead byte
// says how much), so that records and values cross the reader's block boundaries at every offset;
// 65536 is a multiple of any power-of-two block size up to 64 KiB.
//
// Each row is its own allocation of exactly `columns` cells, so a write past it is an ASan report.
// Besides that: a call that reports the data ended must leave the reader failed, and the extremes
// only ever move to valid elevations.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string_view>

#include "fuzz_input.h"
#include "grid/elevation_grid.h"
#include "sdts/module_reader.h"
#include "sdts/record_decoder.h"

namespace {

constexpr std::int32_t kMaxColumns = 1024;
// Every call reads at least seven bytes or fails, so the loop ends anyway; this only bounds a
// single input's time.
constexpr int kMaxRows = 100000;
constexpr std::size_t kBoundary = 65536;

std::string g_dir;
std::string g_path;

void removeDirectory() {
    std::error_code ignored;
    if (!g_dir.empty()) std::filesystem::remove_all(g_dir, ignored);
}

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "broken promise: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* base = std::getenv("TMPDIR");
    std::string name = std::string(base != nullptr ? base : "/tmp") + "/mwfrXXXXXX";
    if (mkdtemp(name.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    g_dir = name;
    g_path = g_dir + "/cel0.ddf";
    std::atexit(removeDirectory);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < marlwood::fuzz::kDecodeHeaderSize) return -1;
    const std::uint8_t selector = data[0];
    const char kinds[] = {marlwood::kBi16, marlwood::kBfp32, static_cast<char>(selector)};
    const marlwood::ValueType value_type = kinds[selector % 3];
    const std::int32_t columns = ((data[1] << 8) | data[2]) % (kMaxColumns + 1);
    const std::size_t lead = 2 * std::size_t{data[3]};
    const std::string_view module(
        reinterpret_cast<const char*>(data) + marlwood::fuzz::kDecodeHeaderSize,
        size - marlwood::fuzz::kDecodeHeaderSize);

    // What openCel0AtFirstRecord would skip: the descriptive record's length (none when it is
    // not positive), all of the module when it is longer.
    marlwood::ModuleReader reader;
    reader.openBytes(module);
    const std::int32_t ddr_length = reader.readDecimal(marlwood::kLengthWidth);
    const std::string_view records =
        module.substr(std::min<std::size_t>(std::max(ddr_length, 0), module.size()));
    const std::size_t before = kBoundary - lead;
    {
        std::ofstream file(g_path, std::ios::binary | std::ios::trunc);
        const std::string filler(before, '\x1e');
        file.write(filler.data(), static_cast<std::streamsize>(filler.size()));
        file.write(records.data(), static_cast<std::streamsize>(records.size()));
        if (!file) {
            std::perror(g_path.c_str());
            std::abort();
        }
    }
    reader.close();
    if (!reader.open(g_path)) std::abort();
    reader.skipBytes(static_cast<std::int32_t>(before));

    marlwood::NoEvents events;
    marlwood::DecoderState state;
    for (int row = 0; row < kMaxRows && !reader.failed(); ++row) {
        const std::unique_ptr<std::int32_t[]> cells(new std::int32_t[columns]);
        const bool complete =
            marlwood::decodeRow(reader, value_type, cells.get(), columns, state, events);
        if (!complete && !reader.failed()) broken("decodeRow gave up while data was left");
        if (state.min_elevation != 9000 && !marlwood::isValidElevation(state.min_elevation)) {
            broken("min_elevation took a void value");
        }
        if (state.max_elevation != 0 && !marlwood::isValidElevation(state.max_elevation)) {
            broken("max_elevation took a void value");
        }
    }
    return 0;
}
