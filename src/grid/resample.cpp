#include "grid/resample.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "common/rounding.h"

namespace marlwood {

namespace {

using Share = RowResampler::Share;

// For each of `to` new cells along an axis of `from` source cells, the source cells it draws on.
// The spans index `shares`: new cell k uses shares[begin[k]] .. shares[begin[k + 1]].
struct AxisShares {
    std::vector<Share> shares;
    std::vector<std::size_t> begin;
};

// Area weights: new cell k covers source [k x from / to, (k + 1) x from / to).
AxisShares averageShares(std::int32_t from, std::int32_t to) {
    AxisShares axis;
    axis.begin.reserve(static_cast<std::size_t>(to) + 1);
    for (std::int32_t k = 0; k < to; ++k) {
        axis.begin.push_back(axis.shares.size());
        // Whole products first, so that edges on source boundaries are exact.
        const double low = static_cast<double>(k) * from / to;
        const double high = static_cast<double>(k + 1) * from / to;
        const auto last = std::min(from, static_cast<std::int32_t>(std::ceil(high)));
        for (auto c = static_cast<std::int32_t>(std::floor(low)); c < last; ++c) {
            const double w = std::min<double>(c + 1, high) - std::max<double>(c, low);
            if (w > 0) axis.shares.push_back({c, w});
        }
    }
    axis.begin.push_back(axis.shares.size());
    return axis;
}

// Bilinear weights: new cell k's centre lies at (k + 0.5) x from / to - 0.5 in source centres;
// a neighbour beyond the edge is left out (the weights are renormalised, holding the edge).
AxisShares bilinearShares(std::int32_t from, std::int32_t to) {
    AxisShares axis;
    axis.begin.reserve(static_cast<std::size_t>(to) + 1);
    for (std::int32_t k = 0; k < to; ++k) {
        axis.begin.push_back(axis.shares.size());
        const double at = (k + 0.5) * from / to - 0.5;
        const double below = std::floor(at);
        const double f = at - below;
        const auto c = static_cast<std::int32_t>(below);
        if (c >= 0 && c < from && f < 1) axis.shares.push_back({c, 1 - f});
        if (c + 1 >= 0 && c + 1 < from && f > 0) axis.shares.push_back({c + 1, f});
    }
    axis.begin.push_back(axis.shares.size());
    return axis;
}

}  // namespace

GridSize resampledSize(const GridSize& from, std::int32_t longest) {
    const bool wide = from.columns >= from.rows;
    const double shorter = wide ? from.rows : from.columns;
    const double longer = wide ? from.columns : from.rows;
    const auto other = std::max<std::int32_t>(
        1, static_cast<std::int32_t>(std::lround(longest * shorter / std::max(longer, 1.0))));
    GridSize size;
    size.columns = wide ? longest : other;
    size.rows = wide ? other : longest;
    size.min_rows_cols = std::min(size.rows, size.columns) - 1;
    return size;
}

std::uint64_t resampledBytes(const GridSize& size) {
    return (static_cast<std::uint64_t>(size.rows) + 1) * static_cast<std::uint64_t>(size.columns) *
           sizeof(std::int32_t);
}

std::int32_t largestResampledSide(const GridSize& from, std::uint64_t room_bytes) {
    const std::int64_t longer = std::max<std::int64_t>(1, std::max(from.rows, from.columns));
    std::int32_t high =
        static_cast<std::int32_t>(std::clamp<std::int64_t>(longer * kMostGrowth, 2, 65535));
    const auto fits = [&](std::int32_t side) {
        return room_bytes == 0 || resampledBytes(resampledSize(from, side)) <= room_bytes;
    };
    if (fits(high)) return high;
    if (!fits(2)) return 0;
    // The bytes grow with the side: the largest that fits lies in [low, high).
    std::int32_t low = 2;
    while (high - low > 1) {
        const std::int32_t middle = low + (high - low) / 2;
        (fits(middle) ? low : high) = middle;
    }
    return low;
}

Status resampledSizeProblem(const GridSize& from, std::int32_t longest, std::uint64_t room_bytes) {
    const std::int32_t most = largestResampledSide(from, room_bytes);
    if (longest <= most) return {};
    const GridSize size = resampledSize(from, longest);
    const auto gigabytes = [](std::uint64_t bytes) {
        char text[32];
        const double b = static_cast<double>(bytes);
        if (b >= 1e9) {
            std::snprintf(text, sizeof text, "%.1f GB", b / 1e9);
        } else {
            std::snprintf(text, sizeof text, "%.0f MB", std::max(1.0, std::round(b / 1e6)));
        }
        return std::string(text);
    };
    const std::string made = "--size " + std::to_string(longest) + " would make " +
                             std::to_string(size.rows) + " x " + std::to_string(size.columns) +
                             " points (" + gigabytes(resampledBytes(size)) + ") of a grid of " +
                             std::to_string(from.rows) + " x " + std::to_string(from.columns);
    if (most == 0) {
        return failure(made + "; the " + gigabytes(room_bytes) +
                       " of memory available hold no resampled grid");
    }
    if (largestResampledSide(from, 0) > most) {
        return failure(made + ", more than the " + gigabytes(room_bytes) +
                       " of memory available hold; --size " + std::to_string(most) +
                       " fits, or a crop of a smaller area (--bbox, or --centre and --extent)");
    }
    return failure(made + ": more than " + std::to_string(kMostGrowth) +
                   " times its points a side, which only interpolates between the same cells; "
                   "--size " +
                   std::to_string(most) + " is the most it takes");
}

RowResampler::RowResampler(const GridSize& from, const GridSize& into, std::int32_t valid_above,
                           std::int32_t void_value)
    : into_(into), valid_above_(valid_above), void_value_(void_value) {
    const bool shrinking = static_cast<std::int64_t>(into.rows) * into.columns <
                           static_cast<std::int64_t>(from.rows) * from.columns;
    const auto shares = shrinking ? averageShares : bilinearShares;
    AxisShares down = shares(from.rows, into.rows);
    AxisShares across = shares(from.columns, into.columns);
    down_ = std::move(down.shares);
    down_begin_ = std::move(down.begin);
    across_ = std::move(across.shares);
    across_begin_ = std::move(across.begin);
}

std::int32_t RowResampler::firstRow(std::int32_t i) const {
    return down_[down_begin_[static_cast<std::size_t>(i)]].cell;
}

std::int32_t RowResampler::lastRow(std::int32_t i) const {
    return down_[down_begin_[static_cast<std::size_t>(i) + 1] - 1].cell;
}

void RowResampler::row(std::int32_t i, const std::int32_t* const* rows, std::int32_t* out) const {
    const std::size_t first = down_begin_[static_cast<std::size_t>(i)];
    const std::size_t end = down_begin_[static_cast<std::size_t>(i) + 1];
    const std::int32_t first_row = down_[first].cell;
    for (std::int32_t j = 0; j < into_.columns; ++j) {
        double sum = 0, weights = 0;
        for (std::size_t r = first; r < end; ++r) {
            const Share& row = down_[r];
            const std::int32_t* cells = rows[row.cell - first_row];
            for (std::size_t c = across_begin_[static_cast<std::size_t>(j)];
                 c < across_begin_[static_cast<std::size_t>(j) + 1]; ++c) {
                const Share& column = across_[c];
                const std::int32_t v = cells[column.cell];
                if (v <= valid_above_) continue;
                const double w = row.weight * column.weight;
                sum += w * v;
                weights += w;
            }
        }
        out[j] = weights > 0 ? roundHalfAway(sum / weights) : void_value_;
    }
}

void resample(const ElevationGrid& from, const GridSize& from_size, ElevationGrid& into,
              const GridSize& into_size, std::int32_t valid_above, std::int32_t void_value) {
    const RowResampler resampler(from_size, into_size, valid_above, void_value);
    std::vector<const std::int32_t*> rows;
    for (std::int32_t i = 0; i < into_size.rows; ++i) {
        rows.clear();
        for (std::int32_t r = resampler.firstRow(i); r <= resampler.lastRow(i); ++r) {
            rows.push_back(from[static_cast<std::size_t>(r)]);
        }
        resampler.row(i, rows.data(), into[static_cast<std::size_t>(i)]);
    }
}

bool resampleReleasing(ElevationGrid& from, const GridSize& from_size, ElevationGrid& into,
                       const GridSize& into_size, std::int32_t valid_above, std::int32_t void_value,
                       bool two_threads) {
    const RowResampler resampler(from_size, into_size, valid_above, void_value);
    // New rows are made a block at a time, the block's rows shared between the threads; then the
    // source rows no later block draws on are released.
    constexpr std::int32_t kBlock = 64;
    const auto make = [&](std::int32_t first, std::int32_t end, std::int32_t step) {
        std::vector<const std::int32_t*> rows;
        for (std::int32_t i = first; i < end; i += step) {
            rows.clear();
            for (std::int32_t r = resampler.firstRow(i); r <= resampler.lastRow(i); ++r) {
                rows.push_back(from[static_cast<std::size_t>(r)]);
            }
            resampler.row(i, rows.data(), into[static_cast<std::size_t>(i)]);
        }
    };
    std::int32_t released = 0;  // source rows before this one are gone
    for (std::int32_t block = 0; block < into_size.rows; block += kBlock) {
        const std::int32_t end = std::min(into_size.rows, block + kBlock);
        for (std::int32_t i = block; i < end; ++i) {
            if (!allocateRow(into, i, into_size.columns)) return false;
        }
        if (two_threads && end - block > 1) {
            bool odd_made = true;
            std::thread odd([&] {
                try {
                    make(block + 1, end, 2);
                } catch (const std::bad_alloc&) {
                    odd_made = false;
                }
            });
            try {
                make(block, end, 2);
            } catch (const std::bad_alloc&) {
                odd.join();
                return false;
            }
            odd.join();
            if (!odd_made) return false;
        } else {
            try {
                make(block, end, 1);
            } catch (const std::bad_alloc&) {
                return false;
            }
        }
        const std::int32_t still_needed =
            end < into_size.rows ? resampler.firstRow(end) : from_size.rows;
        for (; released < still_needed; ++released) releaseRow(from, released);
    }
    return true;
}

std::optional<double> bilinearAt(const ElevationGrid& from, const GridSize& size, double x,
                                 double y, std::int32_t valid_above) {
    if (!(x >= 0 && x < size.columns && y >= 0 && y < size.rows)) return std::nullopt;
    const auto holding_row = static_cast<std::int32_t>(y);
    const auto holding_column = static_cast<std::int32_t>(x);
    if (from[static_cast<std::size_t>(holding_row)][holding_column] <= valid_above) {
        return std::nullopt;
    }
    // The centres around the point: column c0 and c0 + 1, row r0 and r0 + 1.
    const double u = x - 0.5, v = y - 0.5;
    const double c0 = std::floor(u), r0 = std::floor(v);
    const double fx = u - c0, fy = v - r0;
    double sum = 0, weights = 0;
    for (int dr = 0; dr < 2; ++dr) {
        const double row = r0 + dr;
        if (row < 0 || row >= size.rows) continue;
        const std::int32_t* cells = from[static_cast<std::size_t>(row)];
        for (int dc = 0; dc < 2; ++dc) {
            const double column = c0 + dc;
            if (column < 0 || column >= size.columns) continue;
            const std::int32_t value = cells[static_cast<std::size_t>(column)];
            if (value <= valid_above) continue;
            const double w = (dc ? fx : 1 - fx) * (dr ? fy : 1 - fy);
            sum += w * value;
            weights += w;
        }
    }
    return sum / weights;
}

}  // namespace marlwood
