#include "tiff/float_predictor.h"

#include <bit>
#include <cstddef>
#include <cstring>

namespace marlwood {

// Two passes the compiler vectorises: the bytes sorted into their planes, then the differences
// taken 16 bytes at a time from the end, each block read before it is written and above the
// bytes the next block reads, so no byte is differenced against one already differenced.
void predictFloatRow(std::span<const float> row, std::span<std::uint8_t> out) {
    const std::size_t n = row.size();
    if (n == 0) return;
    const float* __restrict in = row.data();
    std::uint8_t* __restrict planes = out.data();
    for (std::size_t i = 0; i < n; ++i) {
        const auto bits = std::bit_cast<std::uint32_t>(in[i]);
        planes[i] = static_cast<std::uint8_t>(bits >> 24);
        planes[n + i] = static_cast<std::uint8_t>(bits >> 16);
        planes[2 * n + i] = static_cast<std::uint8_t>(bits >> 8);
        planes[3 * n + i] = static_cast<std::uint8_t>(bits);
    }
    constexpr std::size_t kBlock = 16;
    std::size_t end = 4 * n;  // the bytes from `end` on are differenced
    for (; end > kBlock; end -= kBlock) {
        std::uint8_t block[kBlock], before[kBlock];
        std::memcpy(block, planes + end - kBlock, kBlock);
        std::memcpy(before, planes + end - kBlock - 1, kBlock);
        for (std::size_t k = 0; k < kBlock; ++k)
            block[k] = static_cast<std::uint8_t>(block[k] - before[k]);
        std::memcpy(planes + end - kBlock, block, kBlock);
    }
    for (std::size_t i = end - 1; i > 0; --i) {
        planes[i] = static_cast<std::uint8_t>(planes[i] - planes[i - 1]);
    }
}

}  // namespace marlwood
