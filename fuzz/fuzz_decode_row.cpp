// decodeRow over an arbitrary CEL0 module held in memory, with each value type. Input: a value
// type selector, a two-byte column count, then the module (see fuzz_input.h).
//
// Each row is its own allocation of exactly `columns` cells, so a write past it is an ASan report.
// Besides that: a call that reports the data ended must leave the reader failed, and the extremes
// only ever move to valid elevations.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

class NullBuffer : public std::streambuf {
  protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "broken promise: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < marlwood::fuzz::kDecodeHeaderSize) return -1;
    const std::uint8_t selector = data[0];
    const char kinds[] = {marlwood::kBi16, marlwood::kBfp32, static_cast<char>(selector)};
    const marlwood::ValueType value_type = kinds[selector % 3];
    const std::int32_t columns = ((data[1] << 8) | data[2]) % (kMaxColumns + 1);
    const std::string_view module(reinterpret_cast<const char*>(data) + 3, size - 3);

    // As openCel0AtFirstRecord does it on a file: the descriptive record's length, then from the
    // start again past that many bytes.
    marlwood::ModuleReader reader;
    reader.openBytes(module);
    const std::int32_t ddr_length = reader.readDecimal(marlwood::kLengthWidth);
    reader.openBytes(module);
    reader.skipBytes(ddr_length);

    NullBuffer null_buffer;
    std::ostream console(&null_buffer);
    marlwood::DecoderState state;
    for (int row = 0; row < kMaxRows && !reader.failed(); ++row) {
        const std::unique_ptr<std::int32_t[]> cells(new std::int32_t[columns]);
        const bool complete =
            marlwood::decodeRow(reader, value_type, cells.get(), columns, state, console);
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
