#include <libdeflate.h>

#include "platform/shared_library.h"
#include "source/module_names.h"

namespace marlwood::source_detail {

namespace {

struct InflateLibrary {
    decltype(&::libdeflate_alloc_decompressor) alloc = nullptr;
    decltype(&::libdeflate_gzip_decompress_ex) decompress = nullptr;
    decltype(&::libdeflate_free_decompressor) free = nullptr;
};

// Debian's libdeflate0: several times zlib's speed on a whole buffer.
Result<const InflateLibrary*> inflateLibrary() {
    return libraryFunctions<InflateLibrary>(
        {"libdeflate.so.0", "libdeflate0", "to unpack archives with"},
        [](const SharedLibrary& so, InflateLibrary& l) {
            return so.load("libdeflate_alloc_decompressor", l.alloc) &&
                   so.load("libdeflate_gzip_decompress_ex", l.decompress) &&
                   so.load("libdeflate_free_decompressor", l.free);
        });
}

// The most one deflate byte unpacks to is a little over 1032: more is no deflate stream.
constexpr std::uint64_t kMostRatio = 1032;

}  // namespace

std::optional<LargeBuffer> gunzipWhole(std::string_view compressed, std::uint64_t bound) {
    if (compressed.size() < 18 || static_cast<unsigned char>(compressed[0]) != 0x1f ||
        static_cast<unsigned char>(compressed[1]) != 0x8b) {
        return std::nullopt;
    }
    const Result<const InflateLibrary*> library = inflateLibrary();
    if (!library) return std::nullopt;
    // The trailer's size, modulo 4 GiB: checked against the bound and what the input can make,
    // and by the unpacking itself, which must fill exactly that much.
    const auto byte = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(compressed[i]));
    };
    const std::size_t n = compressed.size();
    const std::uint64_t size =
        byte(n - 4) | byte(n - 3) << 8 | byte(n - 2) << 16 | byte(n - 1) << 24;
    if (size > bound || size > compressed.size() * kMostRatio) return std::nullopt;
    std::optional<LargeBuffer> out = LargeBuffer::allocate(static_cast<std::size_t>(size));
    if (!out) return std::nullopt;
    libdeflate_decompressor* d = (*library)->alloc();
    if (d == nullptr) return std::nullopt;
    std::size_t used = 0, made = 0;
    const libdeflate_result result =
        (*library)->decompress(d, compressed.data(), n, out->data(), out->size(), &used, &made);
    (*library)->free(d);
    // One gzip member and nothing after it; anything else is left to libarchive, which tells.
    if (result != LIBDEFLATE_SUCCESS || used != n || made != out->size()) return std::nullopt;
    return out;
}

}  // namespace marlwood::source_detail
