#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A terrain's surface as a triangulated irregular network: as few triangles as keep every grid
// point within a stated vertical error, found by greedy insertion of the worst point into a
// Delaunay triangulation.
namespace marlwood {

// A grid of heights in metres, row 0 the northern one, each row `stride` floats after the one
// before (a tile is a window of a larger grid). Every height is finite: voids are filled first.
struct HeightField {
    std::int32_t width = 0;   // points west to east
    std::int32_t height = 0;  // points north to south
    std::ptrdiff_t stride = 0;
    const float* heights = nullptr;

    float at(std::int32_t x, std::int32_t y) const { return heights[y * stride + x]; }
    // The window of `columns` x `rows` points from (x, y).
    HeightField window(std::int32_t x, std::int32_t y, std::int32_t columns,
                       std::int32_t rows) const {
        return {columns, rows, stride, heights + y * stride + x};
    }
};

// A grid point: column x (east), row y (south).
struct GridPoint {
    std::int32_t x = 0, y = 0;
    bool operator==(const GridPoint&) const = default;
};

struct Tin {
    std::vector<GridPoint> vertices;
    // Three vertex indices a triangle, counter-clockwise seen from above with north up.
    std::vector<std::int32_t> triangles;
    // The bytes the triangulation held at its peak, the heights not counted.
    std::size_t working_bytes = 0;

    std::size_t triangleCount() const { return triangles.size() / 3; }
};

// A triangle's place in the queue of those to split (the highest first), from its error
// (positive, finite) and its worst point: the error's exponent and first three bits of its
// fraction (steps of at most an eighth), then the tile of 64 x 64 points the worst point lies
// in, in Z order, the first tiles first. Each insertion is so of a worst point within an
// eighth of the worst, and the insertions of one step follow each other tile by tile: in strict
// worst-first order they jump across a large grid, and each waits for memory. The triangles
// come within a few tenths of a per cent of strict order's count.
std::uint32_t queueRank(float error, GridPoint worst);

// Every grid point within `max_error` metres of the surface: 0 gives the full grid (two
// triangles a cell), anything above makes the greedy triangulation, whose smallest error worth
// asking is a millimetre. A field of fewer than 2 x 2 points, or of more than 65536 a side, has
// no triangle.
Tin triangulate(const HeightField& field, double max_error);

}  // namespace marlwood
