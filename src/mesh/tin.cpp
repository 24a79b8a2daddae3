#include "mesh/tin.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

#include "platform/large_buffer.h"

namespace marlwood {

namespace {

__extension__ typedef __int128 Wide;  // the in-circle test's products need 70 bits

#if defined(__GNUC__) && defined(__x86_64__)
#define MARLWOOD_WIDE_ROWS 1
// rowWorst's groups of eight, for long rows on processors that have AVX2 and FMA (asked at run
// time: the build itself assumes only SSE2). A function of its own, as only it may use those
// instructions, taking nothing but plain values. In single precision, as rowWorst: the rows
// it measures are only sifted by it, within scan's bound, and measured again exactly.
__attribute__((target("avx2,fma"))) float rowWorstWide(const float* from, std::int32_t n, float z,
                                                       float base, float gx) {
    // |h - (z + base + gx i)|: the corner's height and the plane's base one term, the plane a
    // fused product, the places stepped by adding eight (exact in whole numbers).
    const __m256 cs = _mm256_set1_ps(z + base), gxs = _mm256_set1_ps(gx);
    const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
    const __m256 eight = _mm256_set1_ps(8.0F);
    __m256 index = _mm256_setr_ps(0.0F, 1.0F, 2.0F, 3.0F, 4.0F, 5.0F, 6.0F, 7.0F);
    const __m256 last_index = _mm256_add_ps(index, _mm256_set1_ps(static_cast<float>(n - 8)));
    // The last group overlaps the one before, as rowWorst's do (n >= 8).
    __m256 worst = _mm256_and_ps(
        _mm256_sub_ps(_mm256_loadu_ps(from + n - 8), _mm256_fmadd_ps(gxs, last_index, cs)),
        magnitude);
    for (std::int32_t i = 0; i < n - 8; i += 8, index = _mm256_add_ps(index, eight)) {
        const __m256 e = _mm256_and_ps(
            _mm256_sub_ps(_mm256_loadu_ps(from + i), _mm256_fmadd_ps(gxs, index, cs)), magnitude);
        worst = _mm256_max_ps(worst, e);
    }
    __m128 w = _mm_max_ps(_mm256_castps256_ps128(worst), _mm256_extractf128_ps(worst, 1));
    w = _mm_max_ps(w, _mm_movehl_ps(w, w));
    w = _mm_max_ss(w, _mm_shuffle_ps(w, w, 1));
    return _mm_cvtss_f32(w);
}

const bool kWideRows = [] {
    __builtin_cpu_init();  // a static's initializer may run before the library's own
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}();
#endif

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

constexpr std::int32_t next(std::int32_t e) {
    return e % 3 == 2 ? e - 2 : e + 1;
}
constexpr std::int32_t prev(std::int32_t e) {
    return e % 3 == 0 ? e + 2 : e - 1;
}

// A grid point as one word, its row above its column: the triangulation takes grids of at most
// 65536 points a side, as the mesh formats do.
using Packed = std::uint32_t;
constexpr Packed pack(std::int32_t x, std::int32_t y) {
    return static_cast<Packed>(y) << 16 | static_cast<Packed>(x);
}
constexpr GridPoint unpack(Packed p) {
    return {static_cast<std::int32_t>(p & 0xFFFF), static_cast<std::int32_t>(p >> 16)};
}

// A growing array of plain records on huge pages where the system has them: the triangles of a
// large grid run to a hundred megabytes read in no order, and a page fault and a translation for
// every 2 MiB rather than every 4 KiB is what an insertion waits for less. A large block is grown
// by moving its pages, not copying them.
template <class T>
class Records {
    static_assert(std::is_trivially_copyable_v<T>);

  public:
    Records() = default;
    Records(const Records&) = delete;
    Records& operator=(const Records&) = delete;
    ~Records() { reallocateHuge(data_, capacity_ * sizeof(T), 0); }

    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }
    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    const T* begin() const { return data_; }
    const T* end() const { return data_ + size_; }

    // A new record, as T{} makes it; its index.
    std::int32_t add() {
        if (size_ == capacity_) {
            const std::size_t wanted =
                hugeBlockSize(std::max<std::size_t>(64, capacity_ * 2) * sizeof(T));
            void* moved = reallocateHuge(data_, capacity_ * sizeof(T), wanted);
            if (moved == nullptr) throw std::bad_alloc();
            data_ = static_cast<T*>(moved);
            capacity_ = wanted / sizeof(T);
        }
        new (data_ + size_) T{};
        return static_cast<std::int32_t>(size_++);
    }

  private:
    T* data_ = nullptr;
    std::size_t size_ = 0, capacity_ = 0;
};

// Triangles as half-edges: half-edge e of triangle e / 3 runs from its corner e % 3 to the next,
// and its twin is the same edge run the other way in the neighbour (-1 on the border). Each
// triangle keeps its corners (as grid points, not indices into a list of vertices), twins, worst
// grid point and place in the heap in one record of 32 bytes: a triangle is one read of memory,
// which on a large grid is what an insertion waits for. Those worse than the allowed error wait
// in a max-heap, worst first within an eighth of the error (`queueRank`).
class GreedyTin {
  public:
    GreedyTin(const HeightField& field, double max_error) : f_(field), max_error_(max_error) {
        // On a large grid a triangle's rows lie pages apart, and most reads of a scan wait for a
        // page's translation: the heights are copied onto huge pages, one translation for 2 MiB.
        const std::size_t points = static_cast<std::size_t>(field.width) * field.height;
        large_ = points * sizeof(float) >= hugeBlockFrom;
        if (hugeBlocksMapped && large_) {
            const std::size_t bytes = hugeBlockSize(points * sizeof(float));
            heights_ = static_cast<float*>(reallocateHuge(nullptr, 0, bytes));
            if (heights_ == nullptr) throw std::bad_alloc();
            heights_bytes_ = bytes;
            for (std::int32_t y = 0; y < field.height; ++y) {
                std::copy_n(field.heights + y * field.stride, field.width,
                            heights_ + static_cast<std::size_t>(y) * field.width);
            }
            f_ = {field.width, field.height, field.width, heights_};
        }
        float low = f_.at(0, 0), high = low;
        for (std::int32_t y = 0; y < f_.height; ++y) {
            for (std::int32_t x = 0; x < f_.width; ++x) {
                low = std::min(low, f_.at(x, y));
                high = std::max(high, f_.at(x, y));
            }
        }
        span_ = static_cast<double>(high) - low + std::max(std::fabs(high), std::fabs(low)) * 1e-6;
    }
    GreedyTin(const GreedyTin&) = delete;
    GreedyTin& operator=(const GreedyTin&) = delete;
    ~GreedyTin() { releaseHeights(); }

    Tin run() {
        const std::int32_t w = f_.width - 1, h = f_.height - 1;
        const Packed north_west = pack(0, 0), north_east = pack(w, 0);
        const Packed south_east = pack(w, h), south_west = pack(0, h);
        const std::int32_t t0 = addTriangle(), t1 = addTriangle();
        setTriangle(t0, north_west, north_east, south_east, -1, -1, -1);
        setTriangle(t1, north_west, south_east, south_west, 3 * t0 + 2, -1, -1);
        flush();
        while (!heap_.empty()) {
            const std::int32_t t = heap_.front().triangle;
            insert(tri_[static_cast<std::size_t>(t)].worst, t);
            flush();
        }
        return result();
    }

  private:
    struct Triangle {
        Packed corner[3];
        std::int32_t twin[3];
        Packed worst;            // its grid point farthest from its plane
        std::int32_t heap = -1;  // its place in the heap, or -1
    };
    // The heap holds each triangle's rank beside it, so that sifting reads no other array.
    struct Queued {
        std::uint32_t rank;
        std::int32_t triangle;
    };
    // The rows of the triangle being scanned that may hold its worst point.
    struct Row {
        std::int32_t y, x0, x1;
        float worst;
    };

    Triangle& triangle(std::int32_t e) { return tri_[static_cast<std::size_t>(e / 3)]; }
    Packed corner(std::int32_t e) { return triangle(e).corner[e % 3]; }
    std::int32_t twin(std::int32_t e) { return triangle(e).twin[e % 3]; }

    // The vertices in the grid's order, each triangle's corners found by their rank among the
    // grid points marked as corners (a bit a grid point, a count a word of bits).
    Tin result() {
        const std::size_t run_bytes =
            tri_.capacity() * sizeof(Triangle) + heap_.capacity() * sizeof(Queued) +
            (pending_.capacity() + flips_.capacity()) * sizeof(std::int32_t) +
            rows_.capacity() * sizeof(Row) + heights_bytes_;
        heap_ = {};
        releaseHeights();
        const auto index = [this](Packed p) {
            return static_cast<std::size_t>(p >> 16) * static_cast<std::size_t>(f_.width) +
                   (p & 0xFFFF);
        };
        std::vector<std::uint64_t> marked(
            (static_cast<std::size_t>(f_.width) * static_cast<std::size_t>(f_.height) + 63) / 64);
        for (const Triangle& t : tri_) {
            for (const Packed p : t.corner)
                marked[index(p) / 64] |= std::uint64_t{1} << index(p) % 64;
        }
        std::vector<std::int32_t> before(marked.size());
        std::int32_t count = 0;
        for (std::size_t w = 0; w < marked.size(); ++w) {
            before[w] = count;
            count += std::popcount(marked[w]);
        }
        Tin tin;
        tin.vertices.reserve(static_cast<std::size_t>(count));
        for (std::size_t w = 0; w < marked.size(); ++w) {
            for (std::uint64_t bits = marked[w]; bits != 0; bits &= bits - 1) {
                const std::size_t i = w * 64 + static_cast<std::size_t>(std::countr_zero(bits));
                tin.vertices.push_back(
                    {static_cast<std::int32_t>(i % static_cast<std::size_t>(f_.width)),
                     static_cast<std::int32_t>(i / static_cast<std::size_t>(f_.width))});
            }
        }
        const auto rank = [&](Packed p) {
            const std::size_t i = index(p);
            const std::uint64_t below = marked[i / 64] & ((std::uint64_t{1} << i % 64) - 1);
            return before[i / 64] + std::popcount(below);
        };
        tin.triangles.reserve(tri_.size() * 3);
        for (const Triangle& t : tri_) {
            // Counter-clockwise with rows running south is clockwise seen from above.
            tin.triangles.insert(tin.triangles.end(),
                                 {rank(t.corner[0]), rank(t.corner[2]), rank(t.corner[1])});
        }
        const std::size_t end_bytes =
            tri_.capacity() * sizeof(Triangle) + marked.capacity() * sizeof(std::uint64_t) +
            before.capacity() * sizeof(std::int32_t) + tin.vertices.capacity() * sizeof(GridPoint);
        tin.working_bytes = std::max(run_bytes, end_bytes);
        return tin;
    }

    std::int32_t addTriangle() { return tri_.add(); }

    void link(std::int32_t e, std::int32_t other) {
        triangle(e).twin[e % 3] = other;
        if (other >= 0) triangle(other).twin[other % 3] = e;
    }

    // Triangle t as (a, b, c), its edges a -> b, b -> c, c -> a joined to the given twins; it is
    // scanned again before the next insertion.
    void setTriangle(std::int32_t t, Packed a, Packed b, Packed c, std::int32_t ab, std::int32_t bc,
                     std::int32_t ca) {
        Triangle& r = tri_[static_cast<std::size_t>(t)];
        r.corner[0] = a;
        r.corner[1] = b;
        r.corner[2] = c;
        link(3 * t, ab);
        link(3 * t + 1, bc);
        link(3 * t + 2, ca);
        // The list is short (the triangles about one new vertex): looked through, no branch.
        bool listed = false;
        for (const std::int32_t p : pending_) listed |= p == t;
        if (!listed) pending_.push_back(t);
    }

    void insert(Packed point, std::int32_t t) {
        const GridPoint p = unpack(point);
        const Triangle r = tri_[static_cast<std::size_t>(t)];  // a copy: adding moves the records
        std::int32_t on_edge = -1;
        for (std::int32_t k = 0; k < 3; ++k) {
            if (orient(unpack(r.corner[k]), unpack(r.corner[(k + 1) % 3]), p) == 0) {
                on_edge = 3 * t + k;
            }
        }
        if (on_edge < 0) {
            const std::int32_t t1 = addTriangle(), t2 = addTriangle();
            setTriangle(t, r.corner[0], r.corner[1], point, r.twin[0], -1, -1);
            setTriangle(t1, r.corner[1], r.corner[2], point, r.twin[1], -1, 3 * t + 1);
            setTriangle(t2, r.corner[2], r.corner[0], point, r.twin[2], 3 * t + 2, 3 * t1 + 1);
            flips_ = {3 * t, 3 * t1, 3 * t2};
        } else {
            splitEdge(on_edge, point);
        }
        while (!flips_.empty()) {
            const std::int32_t edge = flips_.back();
            flips_.pop_back();
            legalize(edge);
        }
    }

    // The point p on half-edge e (u -> w of triangle (u, w, x)): both triangles beside the edge
    // are halved.
    void splitEdge(std::int32_t e, Packed p) {
        const std::int32_t t = e / 3;
        const Packed u = corner(e), w = corner(next(e)), x = corner(prev(e));
        const std::int32_t wx = twin(next(e)), xu = twin(prev(e));
        const std::int32_t o = twin(e);
        const std::int32_t t1 = addTriangle();
        setTriangle(t, u, p, x, -1, -1, xu);
        setTriangle(t1, p, w, x, -1, wx, 3 * t + 1);
        flips_ = {3 * t + 2, 3 * t1 + 1};
        if (o < 0) return;
        const std::int32_t s = o / 3;
        const Packed y = corner(prev(o));
        const std::int32_t uy = twin(next(o)), yw = twin(prev(o));
        const std::int32_t s1 = addTriangle();
        setTriangle(s, w, p, y, 3 * t1, -1, yw);
        setTriangle(s1, p, u, y, 3 * t, uy, 3 * s + 1);
        flips_.push_back(3 * s + 2);
        flips_.push_back(3 * s1 + 1);
    }

    // Half-edge e faces the point just inserted: the edge is flipped when the point across it
    // lies inside the circle through e's triangle, and the two edges beyond are looked at next.
    void legalize(std::int32_t e) {
        const std::int32_t o = twin(e);
        if (o < 0) return;
        const Packed a = corner(e), b = corner(next(e)), p = corner(prev(e));
        const Packed q = corner(prev(o));
        if (!inCircle(unpack(a), unpack(b), unpack(p), unpack(q))) return;
        const std::int32_t t = e / 3, s = o / 3;
        const std::int32_t aq = twin(next(o)), qb = twin(prev(o));
        const std::int32_t bp = twin(next(e)), pa = twin(prev(e));
        setTriangle(t, a, q, p, aq, -1, pa);
        setTriangle(s, q, b, p, qb, bp, 3 * t + 1);
        flips_.push_back(3 * t);
        flips_.push_back(3 * s);
    }

    // The rows of every triangle to scan asked of memory before the first is scanned: on a large
    // grid each row is a read of memory, and asked together they arrive together (a small
    // grid's lie in the cache).
    void askRows() const {
        for (const std::int32_t t : pending_) {
            const Triangle& r = tri_[static_cast<std::size_t>(t)];
            const GridPoint a = unpack(r.corner[0]), b = unpack(r.corner[1]);
            const GridPoint c = unpack(r.corner[2]);
            const std::int32_t west = std::min({a.x, b.x, c.x});
            const float* row = f_.heights + std::min({a.y, b.y, c.y}) * f_.stride + west;
            const float* const last = f_.heights + std::max({a.y, b.y, c.y}) * f_.stride + west;
            for (; row <= last; row += f_.stride) __builtin_prefetch(row);
        }
    }

    // Every triangle made or changed since the last insertion: its worst point found again, and
    // its place in the heap.
    void flush() {
        if (large_) askRows();
        for (const std::int32_t t : pending_) {
            const double error = scan(t);
            if (error > max_error_) {
                heapPlace(t, queueRank(static_cast<float>(error),
                                       unpack(tri_[static_cast<std::size_t>(t)].worst)));
            } else if (tri_[static_cast<std::size_t>(t)].heap >= 0) {
                heapRemove(t);
            }
        }
        pending_.clear();
    }

    // One side of a triangle's half: its bound on the columns of each row, stepped exactly from
    // row to row in integers (no division in the loop). A left side's bound is rounded up, a
    // right side's down, so that a row holds exactly the grid points of the closed triangle.
    struct Side {
        std::int32_t column = 0;  // the bound on the current row
        std::int32_t step = 0, carry = 0, remainder = 0, divisor = 1;

        // The side from `from` down to `to` (to.y > from.y), from its first row.
        Side(const GridPoint& from, const GridPoint& to, bool left) {
            const std::int32_t dx = to.x - from.x;
            divisor = to.y - from.y;
            column = from.x;
            remainder = left ? divisor - 1 : 0;
            // Rounded towards minus infinity: a side running west steps by the next lower column.
            const bool west = dx < 0;
            step = (dx + (west ? 1 - divisor : 0)) / divisor;
            carry = dx - step * divisor;
        }
        void next() {
            remainder += carry;
            const bool over = remainder >= divisor;  // as often as not: no branch
            column += step + over;
            remainder -= over ? divisor : 0;
        }
    };

    // Rows of this many points or more are measured in groups of eight where that can be:
    // shorter ones cost less inline than a call.
    static constexpr std::int32_t kWideFrom = 16;

    // The largest of |h - z - (base + gx i)| over the n heights from `from` (n >= 1), at column
    // x of its row, in single precision.
    static float rowWorst(const float* from, std::int32_t n, std::int32_t x, float z, float base,
                          float gx) {
#if defined(__SSE2__)
        // Groups of four points. Most rows are short: the last group of a row overlaps the one
        // before rather than a loop taking the rest, and a row of fewer than four is measured by
        // the four points that end it, those before its start masked out.
        // |h - (z + base + gx i)|: the corner's height and the plane's base one term.
        const __m128 gxs = _mm_set1_ps(gx), cs = _mm_set1_ps(z + base);
        const __m128 lanes = _mm_setr_ps(0.0F, 1.0F, 2.0F, 3.0F);
        const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
        const auto group = [&](std::int32_t i, __m128& index) {
            index = _mm_add_ps(_mm_set1_ps(static_cast<float>(i)), lanes);
            const __m128 plane = _mm_add_ps(cs, _mm_mul_ps(gxs, index));
            return _mm_and_ps(_mm_sub_ps(_mm_loadu_ps(from + i), plane), magnitude);
        };
        __m128 index, worst;
        if (n >= 4) {
            worst = group(n - 4, index);
            for (std::int32_t i = 0; i < n - 4; i += 4) worst = _mm_max_ps(worst, group(i, index));
        } else if (x + n >= 4) {
            worst = group(n - 4, index);
            worst = _mm_and_ps(worst, _mm_cmpge_ps(index, _mm_setzero_ps()));
        } else {
            worst = _mm_setzero_ps();
            for (std::int32_t i = 0; i < n; ++i) {
                const float e = std::fabs((from[i] - z) - (base + gx * static_cast<float>(i)));
                worst = _mm_max_ss(worst, _mm_set_ss(e));
            }
        }
        worst = _mm_max_ps(worst, _mm_movehl_ps(worst, worst));
        worst = _mm_max_ss(worst, _mm_shuffle_ps(worst, worst, 1));
        return _mm_cvtss_f32(worst);
#else
        (void)x;
        float worst = 0;
        for (std::int32_t i = 0; i < n; ++i) {
            worst = std::max(worst, std::fabs((from[i] - z) - (base + gx * static_cast<float>(i))));
        }
        return worst;
#endif
    }

    // The grid point of the closed triangle t farthest from its plane, row by row between its
    // sides: the triangle split at its middle corner's row into halves of two sides each. Each
    // row is measured in single precision, and the rows that may hold the worst point (within
    // the single-precision bound) again in double precision, which decides. The corners lie on
    // the plane, within rounding far below a millimetre.
    double scan(std::int32_t t) {
        const Triangle& r = tri_[static_cast<std::size_t>(t)];
        const GridPoint a = unpack(r.corner[0]), b = unpack(r.corner[1]), c = unpack(r.corner[2]);
        const double za = f_.at(a.x, a.y), zb = f_.at(b.x, b.y), zc = f_.at(c.x, c.y);
        const double inverse = 1.0 / static_cast<double>(orient(a, b, c));
        const double gx = ((zb - za) * (c.y - a.y) - (zc - za) * (b.y - a.y)) * inverse;
        const double gy = ((zc - za) * (b.x - a.x) - (zb - za) * (c.x - a.x)) * inverse;
        // The corners from north to south, sorted as keys of row then column without a branch
        // (which comes first is a coin's toss).
        const auto key = [](const GridPoint& g) {
            return std::uint64_t{static_cast<std::uint32_t>(g.y)} << 32 |
                   static_cast<std::uint32_t>(g.x);
        };
        std::uint64_t k0 = key(a), k1 = key(b), k2 = key(c);
        const std::uint64_t low = std::min(k0, k1);
        k1 = std::max(k0, k1);
        k0 = std::min(low, k2);
        k2 = std::max(low, k2);
        const std::uint64_t middle = std::min(k1, k2);
        k2 = std::max(k1, k2);
        const auto point = [](std::uint64_t k) {
            return GridPoint{static_cast<std::int32_t>(k & 0xFFFFFFFF),
                             static_cast<std::int32_t>(k >> 32)};
        };
        const GridPoint p[3] = {point(k0), point(middle), point(k2)};
        const std::int32_t top = p[0].y, bottom = p[2].y;
        const std::int32_t west = std::min({a.x, b.x, c.x}), east = std::max({a.x, b.x, c.x});
        // Heights less the corner's are within the field's span; the plane's terms within its
        // slopes across the box. Single precision errs by a few units of 2^-24 of those.
        const double reach = span_ + std::fabs(gx) * (east - west) + std::fabs(gy) * (bottom - top);
        const float slack = static_cast<float>(reach * 1e-6);
        const auto zaf = static_cast<float>(za), gxf = static_cast<float>(gx);
        if (rows_.size() < static_cast<std::size_t>(bottom - top + 1)) {
            rows_.resize(static_cast<std::size_t>(bottom - top + 1));
        }
        Row* const first_row = rows_.data();
        Row* kept = first_row;
        float best = -1;
        const auto half = [&](Side& left, Side& right, std::int32_t from, std::int32_t to) {
            // The plane less the corner's height at column 0 of the row.
            double plane = gy * (from - a.y) - gx * a.x;
            for (std::int32_t y = from; y <= to; ++y, left.next(), right.next(), plane += gy) {
                const std::int32_t x0 = left.column, x1 = right.column;
                if (x0 > x1) continue;
                const float* from = f_.heights + y * f_.stride + x0;
                const float base = static_cast<float>(plane + gx * x0);
#if defined(MARLWOOD_WIDE_ROWS)
                const float worst = kWideRows && x1 - x0 + 1 >= kWideFrom
                                        ? rowWorstWide(from, x1 - x0 + 1, zaf, base, gxf)
                                        : rowWorst(from, x1 - x0 + 1, x0, zaf, base, gxf);
#else
                const float worst = rowWorst(from, x1 - x0 + 1, x0, zaf, base, gxf);
#endif
                // Each row written, and kept when it may hold the worst point: no branch.
                *kept = {y, x0, x1, worst};
                kept += worst + slack >= best;
                best = std::max(best, worst);
            }
        };
        // The middle corner left of the long side (north to south corner) or right of it.
        const bool middle_left = orient(p[0], p[2], p[1]) > 0;
        Side long_side(p[0], p[2], !middle_left);
        if (p[1].y > top) {
            // To the middle corner's row, or through it when the southern side runs along it.
            Side upper(p[0], p[1], middle_left);
            const std::int32_t to = p[1].y == bottom ? bottom : p[1].y - 1;
            if (middle_left) {
                half(upper, long_side, top, to);
            } else {
                half(long_side, upper, top, to);
            }
        }
        if (bottom > p[1].y) {
            Side lower(p[1], p[2], middle_left);
            if (middle_left) {
                half(lower, long_side, p[1].y, bottom);
            } else {
                half(long_side, lower, p[1].y, bottom);
            }
        }
        // Within the error allowed even if every row erred by the whole bound: no point need be
        // found, as the triangle stays.
        if (static_cast<double>(best) + slack <= max_error_) return best;
        double worst = -1;
        std::int32_t worst_x = a.x, worst_y = a.y;
        for (const Row* r = first_row; r < kept; ++r) {
            if (r->worst + slack < best) continue;
            const float* row = f_.heights + r->y * f_.stride;
            const double base = za - gx * a.x + gy * (r->y - a.y);
            for (std::int32_t x = r->x0; x <= r->x1; ++x) {
                const double e = std::fabs(row[x] - (base + gx * x));
                if (e > worst) {
                    worst = e;
                    worst_x = x;
                    worst_y = r->y;
                }
            }
        }
        tri_[static_cast<std::size_t>(t)].worst = pack(worst_x, worst_y);
        return worst;
    }

    // A heap of eight children a node (a third of the levels of a binary one, the siblings in a
    // cache line or two: on a large grid each level down is a read of memory), sifted by moving a
    // hole: each level writes one entry and one triangle's place.
    void put(std::int32_t i, Queued q) {
        heap_[static_cast<std::size_t>(i)] = q;
        tri_[static_cast<std::size_t>(q.triangle)].heap = i;
    }
    void siftUp(std::int32_t i, Queued q) {
        while (i > 0) {
            const std::int32_t parent = (i - 1) / 8;
            if (!(q.rank > heap_[static_cast<std::size_t>(parent)].rank)) break;
            put(i, heap_[static_cast<std::size_t>(parent)]);
            i = parent;
        }
        put(i, q);
    }
    void siftDown(std::int32_t i, Queued q) {
        const auto n = static_cast<std::int32_t>(heap_.size());
        for (;;) {
            const std::int32_t first = 8 * i + 1;
            if (first >= n) break;
            std::int32_t top = first;
            const std::int32_t last = std::min(first + 8, n);
            for (std::int32_t child = first + 1; child < last; ++child) {
                if (heap_[static_cast<std::size_t>(child)].rank >
                    heap_[static_cast<std::size_t>(top)].rank) {
                    top = child;
                }
            }
            if (!(heap_[static_cast<std::size_t>(top)].rank > q.rank)) break;
            put(i, heap_[static_cast<std::size_t>(top)]);
            i = top;
        }
        put(i, q);
    }
    void heapPlace(std::int32_t t, std::uint32_t rank) {
        const std::int32_t i = tri_[static_cast<std::size_t>(t)].heap;
        if (i < 0) {
            heap_.push_back({rank, t});
            siftUp(static_cast<std::int32_t>(heap_.size()) - 1, {rank, t});
        } else if (rank > heap_[static_cast<std::size_t>(i)].rank) {
            siftUp(i, {rank, t});
        } else {
            siftDown(i, {rank, t});
        }
    }
    void heapRemove(std::int32_t t) {
        const std::int32_t i = tri_[static_cast<std::size_t>(t)].heap;
        tri_[static_cast<std::size_t>(t)].heap = -1;
        const Queued last = heap_.back();
        heap_.pop_back();
        if (i == static_cast<std::int32_t>(heap_.size())) return;
        if (i > 0 && last.rank > heap_[static_cast<std::size_t>((i - 1) / 8)].rank) {
            siftUp(i, last);
        } else {
            siftDown(i, last);
        }
    }

    void releaseHeights() {
        reallocateHuge(heights_, heights_bytes_, 0);
        heights_ = nullptr;
        heights_bytes_ = 0;
    }

    HeightField f_;
    float* heights_ = nullptr;  // the copy on huge pages, or none
    std::size_t heights_bytes_ = 0;
    const double max_error_;
    Records<Triangle> tri_;
    std::vector<Queued> heap_;
    std::vector<std::int32_t> pending_, flips_;
    double span_ = 0;  // the highest height less the lowest
    bool large_ = false;  // the heights larger than a cache holds
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

std::uint32_t queueRank(float error, GridPoint worst) {
    // The low ten bits of v, each moved to twice its place.
    const auto spread = [](std::uint32_t v) {
        v &= 0x3FF;
        v = (v | v << 8) & 0x00FF00FF;
        v = (v | v << 4) & 0x0F0F0F0F;
        v = (v | v << 2) & 0x33333333;
        return (v | v << 1) & 0x55555555;
    };
    const std::uint32_t tile = spread(static_cast<std::uint32_t>(worst.x) >> 6) |
                               spread(static_cast<std::uint32_t>(worst.y) >> 6) << 1;
    // Sign, exponent and three bits of the fraction, then the tile counted down.
    return (std::bit_cast<std::uint32_t>(error) & 0xFFF00000) | (0xFFFFF - tile);
}

Tin triangulate(const HeightField& field, double max_error) {
    if (field.width < 2 || field.height < 2) return {};
    if (field.width > 65536 || field.height > 65536) return {};
    if (max_error <= 0) return fullGrid(field);
    return GreedyTin(field, std::max(max_error, 0.001)).run();
}

}  // namespace marlwood
