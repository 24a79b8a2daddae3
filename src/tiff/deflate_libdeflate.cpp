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
};

// Debian's libdeflate0, the library libtiff6 itself links.
Result<const DeflateLibrary*> deflateLibrary() {
    return libraryFunctions<DeflateLibrary>(
        {"libdeflate.so.0", "libdeflate0", "to compress GeoTIFF with"},
        [](const SharedLibrary& so, DeflateLibrary& l) {
            return so.load("libdeflate_alloc_compressor", l.alloc) &&
                   so.load("libdeflate_zlib_compress", l.compress) &&
                   so.load("libdeflate_zlib_compress_bound", l.bound) &&
                   so.load("libdeflate_free_compressor", l.free);
        });
}

libdeflate_compressor* compressorOf(void* state) {
    return static_cast<libdeflate_compressor*>(state);
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

}  // namespace marlwood::tiff_detail
