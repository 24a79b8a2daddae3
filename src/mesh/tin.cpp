#include "mesh/tin.h"

#include <algorithm>
#include <cmath>

namespace marlwood {

namespace {

__extension__ typedef __int128 Wide;  // the in-circle test's products need 70 bits

// Twice the signed area of (a, b, c) in grid units: positive when c lies left of a -> b, with x
// and y as the grid's columns and rows.
std::int64_t orient(const GridPoint& a, const GridPoint& b, const GridPoint& c) {
    return std::int64_t{b.x - a.x} * (c.y - a.y) - std::int64_t{b.y - a.y} * (c.x - a.x);
}

// Whether d lies strictly inside the circle through a, b, c (orient(a, b, c) > 0). Exact: grid
// points are often on one circle (a cell's corners), and a rounded answer there could flip an
// edge back and forth for ever.
bool inCircle(const GridPoint& a, const GridPoint& b, const GridPoint& c, const GridPoint& d) {
    const std::int64_t adx = a.x - d.x, ady = a.y - d.y;
    const std::int64_t bdx = b.x - d.x, bdy = b.y - d.y;
    const std::int64_t cdx = c.x - d.x, cdy = c.y - d.y;
    const Wide det = Wide{adx * adx + ady * ady} * (bdx * cdy - cdx * bdy) +
                     Wide{bdx * bdx + bdy * bdy} * (cdx * ady - adx * cdy) +
                     Wide{cdx * cdx + cdy * cdy} * (adx * bdy - bdx * ady);
    return det > 0;
}

std::int64_t floorDiv(std::int64_t n, std::int64_t d) {
    const std::int64_t q = n / d;
    return (n % d != 0 && ((n < 0) != (d < 0))) ? q - 1 : q;
}

constexpr std::int32_t next(std::int32_t e) {
    return e % 3 == 2 ? e - 2 : e + 1;
}
constexpr std::int32_t prev(std::int32_t e) {
    return e % 3 == 0 ? e + 2 : e - 1;
}

// Triangles as half-edges: half-edge e of triangle e / 3 runs from vertex_[e] to
// vertex_[next(e)], and twin_[e] is the same edge run the other way in the neighbour (-1 on the
// border). Each triangle keeps its worst grid point, and those worse than the allowed error wait
// in a max-heap.
class GreedyTin {
  public:
    GreedyTin(const HeightField& field, double max_error) : f_(field), max_error_(max_error) {
        float low = field.at(0, 0), high = low;
        for (std::int32_t y = 0; y < field.height; ++y) {
            for (std::int32_t x = 0; x < field.width; ++x) {
                low = std::min(low, field.at(x, y));
                high = std::max(high, field.at(x, y));
            }
        }
        span_ = static_cast<double>(high) - low + std::max(std::fabs(high), std::fabs(low)) * 1e-6;
    }

    Tin run() {
        const std::int32_t w = f_.width - 1, h = f_.height - 1;
        points_ = {{0, 0}, {w, 0}, {w, h}, {0, h}};
        const std::int32_t t0 = addTriangle(), t1 = addTriangle();
        setTriangle(t0, 0, 1, 2, -1, -1, -1);
        setTriangle(t1, 0, 2, 3, 3 * t0 + 2, -1, -1);
        flush();
        while (!heap_.empty()) {
            const std::int32_t t = heap_.front().triangle;
            const std::int32_t at = candidate_[t];
            insert({at % f_.width, at / f_.width}, t);
            flush();
        }
        Tin tin;
        tin.working_bytes = points_.capacity() * sizeof(GridPoint) +
                            heap_.capacity() * sizeof(Queued) +
                            (vertex_.capacity() + twin_.capacity() + heap_position_.capacity() +
                             pending_.capacity() + flips_.capacity()) *
                                sizeof(std::int32_t) +
                            candidate_.capacity() * sizeof(std::int32_t);
        tin.vertices = std::move(points_);
        tin.triangles.resize(vertex_.size());
        for (std::size_t e = 0; e < vertex_.size(); e += 3) {
            // Counter-clockwise with rows running south is clockwise seen from above.
            tin.triangles[e] = vertex_[e];
            tin.triangles[e + 1] = vertex_[e + 2];
            tin.triangles[e + 2] = vertex_[e + 1];
        }
        return tin;
    }

  private:
    const GridPoint& at(std::int32_t e) const { return points_[vertex_[e]]; }

    std::int32_t addTriangle() {
        const auto t = static_cast<std::int32_t>(vertex_.size() / 3);
        vertex_.resize(vertex_.size() + 3);
        twin_.resize(twin_.size() + 3);
        candidate_.push_back(0);
        heap_position_.push_back(-1);
        return t;
    }

    void link(std::int32_t e, std::int32_t twin) {
        twin_[e] = twin;
        if (twin >= 0) twin_[twin] = e;
    }

    // Triangle t as (a, b, c), its edges a -> b, b -> c, c -> a joined to the given twins; it is
    // scanned again before the next insertion.
    void setTriangle(std::int32_t t, std::int32_t a, std::int32_t b, std::int32_t c,
                     std::int32_t ab, std::int32_t bc, std::int32_t ca) {
        vertex_[3 * t] = a;
        vertex_[3 * t + 1] = b;
        vertex_[3 * t + 2] = c;
        link(3 * t, ab);
        link(3 * t + 1, bc);
        link(3 * t + 2, ca);
        pending_.push_back(t);
    }

    void insert(GridPoint point, std::int32_t t) {
        const auto p = static_cast<std::int32_t>(points_.size());
        points_.push_back(point);
        const std::int32_t e = 3 * t;
        std::int32_t on_edge = -1;
        for (std::int32_t k = 0; k < 3; ++k) {
            if (orient(at(e + k), at(next(e + k)), point) == 0) on_edge = e + k;
        }
        if (on_edge < 0) {
            const std::int32_t a = vertex_[e], b = vertex_[e + 1], c = vertex_[e + 2];
            const std::int32_t ab = twin_[e], bc = twin_[e + 1], ca = twin_[e + 2];
            const std::int32_t t1 = addTriangle(), t2 = addTriangle();
            setTriangle(t, a, b, p, ab, -1, -1);
            setTriangle(t1, b, c, p, bc, -1, 3 * t + 1);
            setTriangle(t2, c, a, p, ca, 3 * t + 2, 3 * t1 + 1);
            flips_ = {3 * t, 3 * t1, 3 * t2};
        } else {
            splitEdge(on_edge, p);
        }
        while (!flips_.empty()) {
            const std::int32_t edge = flips_.back();
            flips_.pop_back();
            legalize(edge);
        }
    }

    // The point p on half-edge e (u -> w of triangle (u, w, x)): both triangles beside the edge
    // are halved.
    void splitEdge(std::int32_t e, std::int32_t p) {
        const std::int32_t t = e / 3;
        const std::int32_t u = vertex_[e], w = vertex_[next(e)], x = vertex_[prev(e)];
        const std::int32_t wx = twin_[next(e)], xu = twin_[prev(e)];
        const std::int32_t o = twin_[e];
        const std::int32_t t1 = addTriangle();
        setTriangle(t, u, p, x, -1, -1, xu);
        setTriangle(t1, p, w, x, -1, wx, 3 * t + 1);
        flips_ = {3 * t + 2, 3 * t1 + 1};
        if (o < 0) return;
        const std::int32_t s = o / 3;
        const std::int32_t y = vertex_[prev(o)];
        const std::int32_t uy = twin_[next(o)], yw = twin_[prev(o)];
        const std::int32_t s1 = addTriangle();
        setTriangle(s, w, p, y, 3 * t1, -1, yw);
        setTriangle(s1, p, u, y, 3 * t, uy, 3 * s + 1);
        flips_.push_back(3 * s + 2);
        flips_.push_back(3 * s1 + 1);
    }

    // Half-edge e faces the point just inserted: the edge is flipped when the point across it
    // lies inside the circle through e's triangle, and the two edges beyond are looked at next.
    void legalize(std::int32_t e) {
        const std::int32_t o = twin_[e];
        if (o < 0) return;
        const std::int32_t a = vertex_[e], b = vertex_[next(e)], p = vertex_[prev(e)];
        const std::int32_t q = vertex_[prev(o)];
        if (!inCircle(points_[a], points_[b], points_[p], points_[q])) return;
        const std::int32_t t = e / 3, s = o / 3;
        const std::int32_t aq = twin_[next(o)], qb = twin_[prev(o)];
        const std::int32_t bp = twin_[next(e)], pa = twin_[prev(e)];
        setTriangle(t, a, q, p, aq, -1, pa);
        setTriangle(s, q, b, p, qb, bp, 3 * t + 1);
        flips_.push_back(3 * t);
        flips_.push_back(3 * s);
    }

    // Every triangle made or changed since the last insertion: its worst point found again, and
    // its place in the heap.
    void flush() {
        std::sort(pending_.begin(), pending_.end());
        pending_.erase(std::unique(pending_.begin(), pending_.end()), pending_.end());
        for (const std::int32_t t : pending_) {
            const double error = scan(t);
            if (error > max_error_) {
                heapPlace(t, static_cast<float>(error));
            } else if (heap_position_[t] >= 0) {
                heapRemove(t);
            }
        }
        pending_.clear();
    }

    // One side's bound on the columns of a row inside the triangle, stepped exactly from row to
    // row (no division in the loop): floor(dx (y - from.y) / |dy|) from the edge's start.
    struct Bound {
        std::int64_t column = 0;  // the bound on the current row
        std::int64_t step = 0, carry = 0, remainder = 0, divisor = 1;
        int sign = 0;  // +1: a right bound, -1: a left one, 0: none

        Bound(const GridPoint& from, const GridPoint& to, std::int32_t y) {
            const std::int64_t dx = to.x - from.x, dy = to.y - from.y;
            if (dy == 0) return;
            sign = dy > 0 ? 1 : -1;
            divisor = dy > 0 ? dy : -dy;
            const std::int64_t n = dx * (y - from.y);
            std::int64_t q = floorDiv(n, divisor);
            remainder = n - q * divisor;
            step = floorDiv(dx, divisor);
            carry = dx - step * divisor;
            origin = from.x;
            floor_ = q;
            column = origin + sign * floor_;
        }
        void next() {
            if (sign == 0) return;
            floor_ += step;
            remainder += carry;
            if (remainder >= divisor) {
                remainder -= divisor;
                ++floor_;
            }
            column = origin + sign * floor_;
        }

      private:
        std::int64_t origin = 0, floor_ = 0;
    };

    // The grid point of the closed triangle t farthest from its plane, row by row between the
    // edges. Each row is measured in single precision, four points at a time, and the rows that
    // may hold the worst point (within the single-precision bound) again in double precision,
    // which decides. The corners lie on the plane, within rounding far below a millimetre.
    double scan(std::int32_t t) {
        const GridPoint a = at(3 * t), b = at(3 * t + 1), c = at(3 * t + 2);
        const double za = f_.at(a.x, a.y), zb = f_.at(b.x, b.y), zc = f_.at(c.x, c.y);
        const auto det = static_cast<double>(orient(a, b, c));
        const double gx = ((zb - za) * (c.y - a.y) - (zc - za) * (b.y - a.y)) / det;
        const double gy = ((zc - za) * (b.x - a.x) - (zb - za) * (c.x - a.x)) / det;
        const std::int32_t top = std::min({a.y, b.y, c.y}), bottom = std::max({a.y, b.y, c.y});
        const std::int32_t west = std::min({a.x, b.x, c.x}), east = std::max({a.x, b.x, c.x});
        // Heights less the corner's are within the field's span; the plane's terms within its
        // slopes across the box. Single precision errs by a few units of 2^-24 of those.
        const double reach = span_ + std::fabs(gx) * (east - west) + std::fabs(gy) * (bottom - top);
        const float slack = static_cast<float>(reach * 1e-6);
        const auto zaf = static_cast<float>(za), gxf = static_cast<float>(gx);
        Bound bounds[3] = {Bound(a, b, top), Bound(b, c, top), Bound(c, a, top)};
        rows_.clear();
        float best = -1;
        for (std::int32_t y = top; y <= bottom; ++y) {
            std::int64_t left = 0, right = f_.width - 1;
            // A side along a row bounds no column: the triangle lies wholly on its side.
            for (Bound& bound : bounds) {
                if (bound.sign > 0) right = std::min(right, bound.column);
                if (bound.sign < 0) left = std::max(left, bound.column);
                bound.next();
            }
            if (left > right) continue;
            const float* row = f_.heights + y * f_.stride;
            const auto x0 = static_cast<std::int32_t>(left), x1 = static_cast<std::int32_t>(right);
            const auto base = static_cast<float>(gy * (y - a.y) + gx * (x0 - a.x));
            const float* from = row + x0;
            const std::int32_t n = x1 - x0 + 1;
            float row_worst = 0;
#pragma omp simd reduction(max : row_worst)
            for (std::int32_t i = 0; i < n; ++i) {
                row_worst = std::max(
                    row_worst, std::fabs((from[i] - zaf) - (base + gxf * static_cast<float>(i))));
            }
            if (row_worst + slack < best) continue;
            best = std::max(best, row_worst);
            rows_.push_back({y, x0, x1, row_worst});
        }
        double worst = -1;
        std::int32_t worst_x = a.x, worst_y = a.y;
        for (const Row& r : rows_) {
            if (r.worst + slack < best) continue;
            const float* row = f_.heights + r.y * f_.stride;
            const double base = za - gx * a.x + gy * (r.y - a.y);
            for (std::int32_t x = r.x0; x <= r.x1; ++x) {
                const double e = std::fabs(row[x] - (base + gx * x));
                if (e > worst) {
                    worst = e;
                    worst_x = x;
                    worst_y = r.y;
                }
            }
        }
        candidate_[t] = worst_y * f_.width + worst_x;
        return worst;
    }

    bool above(std::int32_t i, std::int32_t j) const {
        return heap_[i].error > heap_[j].error;
    }
    void swapAt(std::int32_t i, std::int32_t j) {
        std::swap(heap_[i], heap_[j]);
        heap_position_[heap_[i].triangle] = i;
        heap_position_[heap_[j].triangle] = j;
    }
    // A heap of four children a node: half the levels of a binary one, and the four siblings
    // in one cache line.
    void siftUp(std::int32_t i) {
        while (i > 0 && above(i, (i - 1) / 4)) {
            swapAt(i, (i - 1) / 4);
            i = (i - 1) / 4;
        }
    }
    void siftDown(std::int32_t i) {
        const auto n = static_cast<std::int32_t>(heap_.size());
        for (;;) {
            std::int32_t top = i;
            const std::int32_t first = 4 * i + 1, last = std::min(first + 4, n);
            for (std::int32_t child = first; child < last; ++child) {
                if (above(child, top)) top = child;
            }
            if (top == i) return;
            swapAt(i, top);
            i = top;
        }
    }
    void heapPlace(std::int32_t t, float error) {
        std::int32_t i = heap_position_[t];
        if (i < 0) {
            i = static_cast<std::int32_t>(heap_.size());
            heap_.push_back({error, t});
            heap_position_[t] = i;
        }
        heap_[i].error = error;
        siftUp(i);
        siftDown(heap_position_[t]);
    }
    void heapRemove(std::int32_t t) {
        const std::int32_t i = heap_position_[t];
        const auto last = static_cast<std::int32_t>(heap_.size()) - 1;
        if (i != last) swapAt(i, last);
        heap_.pop_back();
        heap_position_[t] = -1;
        if (i < last) {
            const std::int32_t moved = heap_[i].triangle;
            siftUp(i);
            siftDown(heap_position_[moved]);
        }
    }

    const HeightField& f_;
    const double max_error_;
    std::vector<GridPoint> points_;
    std::vector<std::int32_t> vertex_, twin_;
    std::vector<std::int32_t> candidate_;  // the grid index of each triangle's worst point
    // The heap holds each triangle's error beside it, so that sifting reads no other array; in
    // single precision, as it only orders the triangles (whether one is queued at all is decided
    // in double precision).
    struct Queued {
        float error;
        std::int32_t triangle;
    };
    std::vector<std::int32_t> heap_position_;
    std::vector<Queued> heap_;
    std::vector<std::int32_t> pending_, flips_;
    double span_ = 0;  // the highest height less the lowest
    // The rows of the triangle being scanned that may hold its worst point.
    struct Row {
        std::int32_t y, x0, x1;
        float worst;
    };
    std::vector<Row> rows_;
};

Tin fullGrid(const HeightField& f) {
    Tin tin;
    tin.vertices.reserve(static_cast<std::size_t>(f.width) * f.height);
    for (std::int32_t y = 0; y < f.height; ++y) {
        for (std::int32_t x = 0; x < f.width; ++x) tin.vertices.push_back({x, y});
    }
    tin.triangles.reserve(static_cast<std::size_t>(f.width - 1) * (f.height - 1) * 6);
    for (std::int32_t y = 0; y + 1 < f.height; ++y) {
        for (std::int32_t x = 0; x + 1 < f.width; ++x) {
            const std::int32_t nw = y * f.width + x, ne = nw + 1;
            const std::int32_t sw = nw + f.width, se = sw + 1;
            tin.triangles.insert(tin.triangles.end(), {nw, sw, se, nw, se, ne});
        }
    }
    tin.working_bytes = tin.vertices.capacity() * sizeof(GridPoint) +
                        tin.triangles.capacity() * sizeof(std::int32_t);
    return tin;
}

}  // namespace

Tin triangulate(const HeightField& field, double max_error) {
    if (field.width < 2 || field.height < 2) return {};
    if (max_error <= 0) return fullGrid(field);
    return GreedyTin(field, std::max(max_error, 0.001)).run();
}

}  // namespace marlwood
