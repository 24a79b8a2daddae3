#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "common/result.h"

namespace marlwood::tiff_detail {

// DEFLATE in zlib's format (what TIFF's Adobe Deflate compression holds), one buffer at a time,
// for one thread. The Linux build loads libdeflate when the first GeoTIFF is written (libtiff
// already depends on it, so it maps nothing new) and calls it directly, so libtiff only writes
// the container; the Windows build uses the zlib it links.
class Deflater {
  public:
    // A compressor at `level` (1 the fastest), or why there is none.
    static Result<Deflater> make(int level);
    Deflater(Deflater&& other) noexcept;
    Deflater& operator=(Deflater&&) = delete;
    ~Deflater();

    // The most bytes `size` bytes can compress to.
    std::size_t bound(std::size_t size) const;
    // Compresses `in` into `out`: the bytes written, or 0 when they did not fit.
    std::size_t compress(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);

  private:
    Deflater(void* state, int level) : state_(state), level_(level) {}
    void* state_;
    int level_;
};

// The other way, for the GeoTIFF reader's DEFLATE blocks: libdeflate where the build loads it
// (several times zlib's speed on a 3DEP tile); elsewhere `make` fails and libtiff inflates.
class Inflater {
  public:
    static Result<Inflater> make();
    Inflater(Inflater&& other) noexcept;
    Inflater& operator=(Inflater&&) = delete;
    ~Inflater();

    // Inflates the whole stream `in` into `out`: the bytes it holds, or nothing when it is
    // damaged, cut short, or holds more than `out` takes.
    std::optional<std::size_t> inflate(std::span<const std::uint8_t> in,
                                       std::span<std::uint8_t> out);

  private:
    explicit Inflater(void* state) : state_(state) {}
    void* state_;
};

}  // namespace marlwood::tiff_detail
