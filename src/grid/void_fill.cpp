#include "grid/void_fill.h"

#include <cmath>
#include <cstddef>
#include <vector>

namespace marlwood {

namespace {

// The last valid cell seen on a line looking up: its row and value (row -1: none yet).
struct Seen {
    std::int32_t row = -1;
    std::int32_t value = 0;
};

// The inverse-squared-distance average of the nearest valid cells around one void cell.
struct Blend {
    double sum = 0;
    double weight = 0;
    // `steps` cells away along a row or a column (`diagonal` false) or a diagonal (distance
    // steps * sqrt 2, so half the weight).
    void add(std::int32_t value, std::int32_t steps, bool diagonal) {
        const double d = static_cast<double>(steps);
        const double w = (diagonal ? 0.5 : 1.0) / (d * d);
        sum += w * value;
        weight += w;
    }
};

struct Round {
    std::int64_t filled = 0;
    std::int64_t unreached = 0;  // void cells with no valid cell on any of their lines
};

// One top-down pass. Looking up, each column and diagonal carries the last valid cell it passed.
// Looking down (and east along the row), each line keeps a pointer to its next valid cell below
// the current row, moved on only when the row passes it: each line is walked once in all, so the
// pass is linear whatever the voids. Only cells valid before the pass count: a row's fills are
// written after the lines have taken its cells, and the pointers look only at rows not yet filled.
Round fillRound(ElevationGrid& grid, std::int32_t rows, std::int32_t columns,
                std::int32_t threshold) {
    const auto valid = [threshold](std::int32_t v) { return v > threshold; };
    const auto cols = static_cast<std::size_t>(columns);
    const auto diagonals = static_cast<std::size_t>(rows) + cols - 1;
    // Diagonal (r, c)..(r+k, c+k) is number c - r + rows - 1; (r, c)..(r+k, c-k) is c + r.
    std::vector<Seen> north(cols), north_west(diagonals), north_east(diagonals);
    std::vector<std::int32_t> south(cols, -1), south_east(diagonals, -1), south_west(diagonals, -1);
    std::vector<std::int32_t> fills(cols);
    Round round;

    for (std::int32_t r = 0; r < rows; ++r) {
        std::int32_t* row = grid[static_cast<std::size_t>(r)];
        std::int32_t west = -1;  // column of the last valid cell of this row
        std::int32_t east = -1;  // column of the next valid cell of this row, once looked for
        for (std::int32_t c = 0; c < columns; ++c) {
            const auto at = static_cast<std::size_t>(c);
            fills[at] = row[c];
            if (valid(row[c])) {
                west = c;
                continue;
            }
            const auto down_right = static_cast<std::size_t>(c - r + rows - 1);
            const auto down_left = static_cast<std::size_t>(c + r);
            Blend blend;
            if (west >= 0) blend.add(row[west], c - west, false);
            if (east <= c) {
                east = c + 1;
                while (east < columns && !valid(row[east])) ++east;
            }
            if (east < columns) blend.add(row[east], east - c, false);
            if (north[at].row >= 0) blend.add(north[at].value, r - north[at].row, false);
            if (const Seen& s = north_west[down_right]; s.row >= 0)
                blend.add(s.value, r - s.row, true);
            if (const Seen& s = north_east[down_left]; s.row >= 0)
                blend.add(s.value, r - s.row, true);

            std::int32_t& below = south[at];
            if (below <= r) {
                below = r + 1;
                while (below < rows && !valid(grid[static_cast<std::size_t>(below)][c])) ++below;
            }
            if (below < rows) blend.add(grid[static_cast<std::size_t>(below)][c], below - r, false);
            // A diagonal pointer that runs off the grid sideways stops past every row its line
            // still has, so it is never looked for again.
            std::int32_t& right = south_east[down_right];
            if (right <= r) {
                right = r + 1;
                while (right < rows && c + (right - r) < columns &&
                       !valid(grid[static_cast<std::size_t>(right)][c + (right - r)])) {
                    ++right;
                }
            }
            if (right < rows && c + (right - r) < columns) {
                blend.add(grid[static_cast<std::size_t>(right)][c + (right - r)], right - r, true);
            }
            std::int32_t& left = south_west[down_left];
            if (left <= r) {
                left = r + 1;
                while (left < rows && c - (left - r) >= 0 &&
                       !valid(grid[static_cast<std::size_t>(left)][c - (left - r)])) {
                    ++left;
                }
            }
            if (left < rows && c - (left - r) >= 0) {
                blend.add(grid[static_cast<std::size_t>(left)][c - (left - r)], left - r, true);
            }

            if (blend.weight == 0) {
                ++round.unreached;
                continue;
            }
            // An average of values above the threshold, so the fill is valid too.
            fills[at] = static_cast<std::int32_t>(std::lround(blend.sum / blend.weight));
            ++round.filled;
        }
        for (std::int32_t c = 0; c < columns; ++c) {
            const std::int32_t v = row[c];
            if (valid(v)) {
                const Seen seen{r, v};
                north[static_cast<std::size_t>(c)] = seen;
                north_west[static_cast<std::size_t>(c - r + rows - 1)] = seen;
                north_east[static_cast<std::size_t>(c + r)] = seen;
            }
            row[c] = fills[static_cast<std::size_t>(c)];
        }
    }
    return round;
}

}  // namespace

std::int64_t fillVoids(ElevationGrid& grid, std::int32_t rows, std::int32_t columns,
                       std::int32_t void_threshold) {
    if (rows <= 0 || columns <= 0) return 0;
    Round round = fillRound(grid, rows, columns, void_threshold);
    std::int64_t filled = round.filled;
    // Every cell shares its row, column or a diagonal with a valid cell, or its column with a
    // cell of a valid cell's row, which the first round filled: the second round reaches the rest.
    // A first round that filled nothing found no valid cell at all.
    if (round.unreached > 0 && round.filled > 0) {
        round = fillRound(grid, rows, columns, void_threshold);
        filled += round.filled;
    }
    return filled;
}

}  // namespace marlwood
