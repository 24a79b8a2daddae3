#include "tiff/float_predictor.h"

#include <bit>
#include <cstddef>

namespace marlwood {

namespace {

std::uint8_t byteOf(float sample, unsigned shift) {
    return static_cast<std::uint8_t>(std::bit_cast<std::uint32_t>(sample) >> shift);
}

// One plane at a time, each byte differenced against its neighbour as it is taken, so the loop
// has no carried dependence and, its shift a constant, the compiler vectorises it.
template <unsigned kPlane>
void predictPlane(const float* __restrict in, std::size_t n, std::uint8_t* __restrict to) {
    constexpr unsigned kShift = 24 - 8 * kPlane;
    // The first byte of a plane follows the last of the plane before.
    std::uint8_t before = 0;
    if constexpr (kPlane > 0) before = byteOf(in[n - 1], kShift + 8);
    to[0] = static_cast<std::uint8_t>(byteOf(in[0], kShift) - before);
    for (std::size_t i = 1; i < n; ++i) {
        to[i] = static_cast<std::uint8_t>(byteOf(in[i], kShift) - byteOf(in[i - 1], kShift));
    }
}

}  // namespace

void predictFloatRow(std::span<const float> row, std::span<std::uint8_t> out) {
    const std::size_t n = row.size();
    if (n == 0) return;
    predictPlane<0>(row.data(), n, out.data());
    predictPlane<1>(row.data(), n, out.data() + n);
    predictPlane<2>(row.data(), n, out.data() + 2 * n);
    predictPlane<3>(row.data(), n, out.data() + 3 * n);
}

}  // namespace marlwood
