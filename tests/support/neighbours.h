// Neighbouring transfers for the merge tests and benchmark: windows cut from one synthetic
// terrain, each placed on the ground where its cells lie in the whole.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "sdts_writer.h"

namespace marlwood::testsupport {

// Moves a transfer `rows` postings south and `columns` postings east: the writer places a grid
// by its corners, so every corner moves.
inline void shiftByPostings(Transfer& t, int rows, int columns) {
    for (std::size_t k = 0; k < t.corners.size(); k += 2) {
        t.corners[k] += columns * static_cast<double>(t.spacing_m);
        t.corners[k + 1] -= rows * static_cast<double>(t.spacing_m);
    }
}

// A window of a whole terrain's cells. `raise` is added to its valid cells, so that where windows
// overlap they disagree; `void_first_column` voids every other cell of its first column.
struct Window {
    int row = 0, column = 0, rows = 0, columns = 0;
    int raise = 0;
    bool void_first_column = false;
};

inline bool validElevation(double v) {
    return v > -1000;
}

// The window's cells as a transfer of their own, named `file_id`.
inline Transfer cutWindow(const Transfer& whole, const Window& w, const std::string& file_id) {
    std::vector<double> cells;
    cells.reserve(static_cast<std::size_t>(w.rows) * static_cast<std::size_t>(w.columns));
    for (int r = 0; r < w.rows; ++r) {
        for (int c = 0; c < w.columns; ++c) {
            double v = whole.elevations[static_cast<std::size_t>(w.row + r) * whole.columns +
                                        static_cast<std::size_t>(w.column + c)];
            if (validElevation(v)) v += w.raise;
            if (w.void_first_column && c == 0 && r % 2 == 0) v = kVoidElevation;
            cells.push_back(v);
        }
    }
    Transfer t = whole;
    t.elevations = std::move(cells);  // the whole terrain's copy goes at once
    t.rows = w.rows;
    t.columns = w.columns;
    t.file_id = file_id;
    shiftByPostings(t, w.row, w.column);
    return t;
}

// Where windows given in this order disagree: cells valid in a later window and in the first
// window that covers them, the two values different.
inline long disagreementsOf(const Transfer& whole, const std::vector<Window>& windows) {
    std::vector<const Window*> first(whole.elevations.size(), nullptr);
    long count = 0;
    for (const Window& w : windows) {
        for (int r = 0; r < w.rows; ++r) {
            for (int c = 0; c < w.columns; ++c) {
                const std::size_t i = static_cast<std::size_t>(w.row + r) * whole.columns +
                                      static_cast<std::size_t>(w.column + c);
                const bool voided = w.void_first_column && c == 0 && r % 2 == 0;
                if (!validElevation(whole.elevations[i]) || voided) continue;
                if (first[i] == nullptr) {
                    first[i] = &w;
                } else if (first[i]->raise != w.raise) {
                    ++count;
                }
            }
        }
    }
    return count;
}

}  // namespace marlwood::testsupport
