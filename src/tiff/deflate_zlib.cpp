// zlib linked in (the Windows build, whose static libtiff has no libdeflate): the same stream,
// one call a buffer.
#include <zlib.h>

#include "tiff/deflate_library.h"

namespace marlwood::tiff_detail {

Result<Deflater> Deflater::make(int level) {
    return Deflater(nullptr, level);
}

Deflater::Deflater(Deflater&& other) noexcept : state_(other.state_), level_(other.level_) {}

Deflater::~Deflater() = default;

std::size_t Deflater::bound(std::size_t size) const {
    return ::compressBound(static_cast<uLong>(size));
}

std::size_t Deflater::compress(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
    uLongf written = static_cast<uLongf>(out.size());
    const int status =
        ::compress2(out.data(), &written, in.data(), static_cast<uLong>(in.size()), level_);
    return status == Z_OK ? written : 0;
}

// libtiff inflates the reader's blocks itself here.
Result<Inflater> Inflater::make() {
    return failure("this build inflates through libtiff");
}

Inflater::Inflater(Inflater&& other) noexcept : state_(other.state_) {}

Inflater::~Inflater() = default;

std::optional<std::size_t> Inflater::inflate(std::span<const std::uint8_t>,
                                             std::span<std::uint8_t>) {
    return std::nullopt;
}

}  // namespace marlwood::tiff_detail
