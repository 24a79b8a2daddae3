#include <libdeflate.h>

#include "platform/shared_library.h"
#include "tiff/deflate_library.h"

namespace marlwood::tiff_detail {

namespace {

struct DeflateLibrary {
    decltype(&::libdeflate_alloc_compressor) alloc = nullptr;
    decltype(&::libdeflate_zlib_compress) compress = nullptr;
    decltype(&::libdeflate_zlib_compress_bound) bound = nullptr;
    decltype(&::libdeflate_free_compressor) free = nullptr;
    decltype(&::libdeflate_alloc_decompressor) alloc_decompressor = nullptr;
    decltype(&::libdeflate_zlib_decompress) decompress = nullptr;
    decltype(&::libdeflate_free_decompressor) free_decompressor = nullptr;
};

// Debian's libdeflate0, the library libtiff6 itself links.
Result<const DeflateLibrary*> deflateLibrary() {
    return libraryFunctions<DeflateLibrary>(
        {"libdeflate.so.0", "libdeflate0", "to compress GeoTIFF with"},
        [](const SharedLibrary& so, DeflateLibrary& l) {
            return so.load("libdeflate_alloc_compressor", l.alloc) &&
                   so.load("libdeflate_zlib_compress", l.compress) &&
                   so.load("libdeflate_zlib_compress_bound", l.bound) &&
                   so.load("libdeflate_free_compressor", l.free) &&
                   so.load("libdeflate_alloc_decompressor", l.alloc_decompressor) &&
                   so.load("libdeflate_zlib_decompress", l.decompress) &&
                   so.load("libdeflate_free_decompressor", l.free_decompressor);
        });
}

libdeflate_compressor* compressorOf(void* state) {
    return static_cast<libdeflate_compressor*>(state);
}

libdeflate_decompressor* decompressorOf(void* state) {
    return static_cast<libdeflate_decompressor*>(state);
}

}  // namespace

Result<Deflater> Deflater::make(int level) {
    const Result<const DeflateLibrary*> library = deflateLibrary();
    if (!library) return library.error();
    libdeflate_compressor* compressor = (*library)->alloc(level);
    if (compressor == nullptr) return failure("not enough memory to compress with");
    return Deflater(compressor, level);
}

Deflater::Deflater(Deflater&& other) noexcept : state_(other.state_), level_(other.level_) {
    other.state_ = nullptr;
}

Deflater::~Deflater() {
    if (state_ != nullptr) (*deflateLibrary())->free(compressorOf(state_));
}

std::size_t Deflater::bound(std::size_t size) const {
    return (*deflateLibrary())->bound(compressorOf(state_), size);
}

std::size_t Deflater::compress(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
    return (*deflateLibrary())
        ->compress(compressorOf(state_), in.data(), in.size(), out.data(), out.size());
}

Result<Inflater> Inflater::make() {
    const Result<const DeflateLibrary*> library = deflateLibrary();
    if (!library) return library.error();
    libdeflate_decompressor* decompressor = (*library)->alloc_decompressor();
    if (decompressor == nullptr) return failure("not enough memory to inflate with");
    return Inflater(decompressor);
}

Inflater::Inflater(Inflater&& other) noexcept : state_(other.state_) {
    other.state_ = nullptr;
}

Inflater::~Inflater() {
    if (state_ != nullptr) (*deflateLibrary())->free_decompressor(decompressorOf(state_));
}

std::optional<std::size_t> Inflater::inflate(std::span<const std::uint8_t> in,
                                             std::span<std::uint8_t> out) {
    std::size_t written = 0;
    const libdeflate_result result = (*deflateLibrary())
                                         ->decompress(decompressorOf(state_), in.data(), in.size(),
                                                      out.data(), out.size(), &written);
    if (result != LIBDEFLATE_SUCCESS) return std::nullopt;
    return written;
}

}  // namespace marlwood::tiff_detail
