// The triangulation measured from outside: every grid point, not only the vertices, is found in
// a triangle and held against that triangle's plane; the triangles tile the grid's rectangle.
#include "mesh/tin.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace marlwood {
namespace {

struct Field {
    std::string name;
    std::int32_t width = 0, height = 0;
    std::vector<float> heights;
    HeightField view() const { return {width, height, width, heights.data()}; }
};

template <class F>
Field makeField(std::string name, std::int32_t width, std::int32_t height, F f) {
    Field field{std::move(name), width, height, {}};
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) field.heights.push_back(f(x, y));
    }
    return field;
}

Field rough(std::int32_t width, std::int32_t height, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> noise(-3, 3);
    return makeField("rough", width, height, [&](std::int32_t x, std::int32_t y) {
        return static_cast<float>(300 + 40 * std::sin(x * 0.2) * std::cos(y * 0.15) +
                                  noise(random));
    });
}

struct Measured {
    double max_error = 0;
    std::int64_t uncovered = 0;
    std::int64_t area2 = 0;  // twice the triangles' area, in cells
    std::string fault;
};

// Each triangle's closed area rasterised over its bounding box with exact orientation tests, its
// plane interpolated by barycentric weights: the worst grid point anywhere.
Measured measure(const Field& field, const Tin& tin) {
    Measured m;
    std::vector<char> covered(field.heights.size(), 0);
    const auto at = [&](std::int32_t x, std::int32_t y) {
        return static_cast<double>(field.heights[static_cast<std::size_t>(y) * field.width + x]);
    };
    std::set<std::pair<std::int32_t, std::int32_t>> seen;
    for (const GridPoint& v : tin.vertices) {
        if (v.x < 0 || v.y < 0 || v.x >= field.width || v.y >= field.height) m.fault = "off grid";
        if (!seen.insert({v.x, v.y}).second) m.fault = "a vertex twice";
    }
    for (std::size_t t = 0; t < tin.triangles.size(); t += 3) {
        const GridPoint& a = tin.vertices[tin.triangles[t]];
        const GridPoint& b = tin.vertices[tin.triangles[t + 1]];
        const GridPoint& c = tin.vertices[tin.triangles[t + 2]];
        const auto orient = [](const GridPoint& p, const GridPoint& q, std::int64_t x,
                               std::int64_t y) {
            return (std::int64_t{q.x} - p.x) * (y - p.y) - (std::int64_t{q.y} - p.y) * (x - p.x);
        };
        // Counter-clockwise with north up is clockwise in (column, row).
        const std::int64_t area = -orient(a, b, c.x, c.y);
        if (area <= 0) {
            m.fault = "a triangle not counter-clockwise or of no area";
            continue;
        }
        m.area2 += area;
        for (std::int32_t y = std::min({a.y, b.y, c.y}); y <= std::max({a.y, b.y, c.y}); ++y) {
            for (std::int32_t x = std::min({a.x, b.x, c.x}); x <= std::max({a.x, b.x, c.x}); ++x) {
                const std::int64_t wa = -orient(b, c, x, y), wb = -orient(c, a, x, y),
                                   wc = -orient(a, b, x, y);
                if (wa < 0 || wb < 0 || wc < 0) continue;
                covered[static_cast<std::size_t>(y) * field.width + x] = 1;
                const double z = (wa * at(a.x, a.y) + wb * at(b.x, b.y) + wc * at(c.x, c.y)) /
                                 static_cast<double>(area);
                m.max_error = std::max(m.max_error, std::fabs(z - at(x, y)));
            }
        }
    }
    for (const char c : covered) m.uncovered += c == 0;
    return m;
}

TEST(Triangulate, EveryGridPointWithinTheErrorAndTheGridTiled) {
    const std::vector<Field> fields = {
        rough(97, 61, 1),
        rough(2, 40, 2),
        rough(40, 2, 3),
        rough(3, 3, 4),
        makeField(
            "ridge", 50, 70,
            [](auto x, auto y) { return static_cast<float>(std::abs(x - 20) * 3.0 + y * 0.5); }),
        makeField("steps", 33, 33,
                  [](auto x, auto y) { return static_cast<float>((x / 4) * 10 + (y / 8) * 2.5); }),
        makeField("spike", 31, 29,
                  [](auto x, auto y) { return x == 17 && y == 9 ? 900.0F : 100.0F; }),
    };
    for (const Field& field : fields) {
        for (const double max_error : {0.0, 0.25, 1.0, 5.0}) {
            const Tin tin = triangulate(field.view(), max_error);
            const Measured m = measure(field, tin);
            const std::string where = field.name + " " + std::to_string(field.width) + " x " +
                                      std::to_string(field.height) + " within " +
                                      std::to_string(max_error);
            EXPECT_EQ(m.fault, "") << where;
            EXPECT_EQ(m.uncovered, 0) << where;
            EXPECT_EQ(m.area2, 2 * std::int64_t{field.width - 1} * (field.height - 1)) << where;
            EXPECT_LE(m.max_error, max_error + 1e-9) << where;
            if (max_error == 0) {
                EXPECT_EQ(tin.vertices.size(), field.heights.size()) << where;
                EXPECT_EQ(tin.triangleCount(), 2u * (field.width - 1) * (field.height - 1))
                    << where;
            }
        }
    }
}

TEST(Triangulate, APlaneIsTwoTriangles) {
    for (const Field& field : {makeField("flat", 64, 40, [](auto, auto) { return 412.0F; }),
                               makeField("slope", 65, 33, [](auto x, auto y) {
                                   return static_cast<float>(100 + 0.75 * x - 1.5 * y);
                               })}) {
        const Tin tin = triangulate(field.view(), 0.01);
        EXPECT_EQ(tin.triangleCount(), 2u) << field.name;
        EXPECT_EQ(tin.vertices.size(), 4u) << field.name;
    }
}

TEST(Triangulate, FewerErrorAllowedMoreTriangles) {
    const Field field = rough(120, 80, 5);
    const std::size_t fine = triangulate(field.view(), 0.5).triangleCount();
    const std::size_t coarse = triangulate(field.view(), 4).triangleCount();
    EXPECT_LT(coarse * 2, fine);
    EXPECT_LT(fine, 2u * 119 * 79);
}

// The queue takes the worse error first unless the two lie within one step (an eighth), and
// within a step the tile earlier in Z order; no tile, even the last, outranks a worse step.
TEST(Triangulate, QueueRankOrdersByErrorStepThenTile) {
    struct Case {
        float error;
        GridPoint worst;
        float below_error;
        GridPoint below_worst;
    };
    for (const Case& c : {
             Case{1.2F, {65535, 65535}, 1.0F, {0, 0}},      // a step apart: the error decides
             Case{1.125F, {65535, 65535}, 1.124F, {0, 0}},  // the step's first error
             Case{1000.0F, {4000, 10}, 950.0F, {0, 0}},     // [960, 1024) above [896, 960)
             Case{1.0F, {0, 0}, 1.1F, {64, 0}},             // one step: the earlier tile
             Case{1.1F, {63, 63}, 1.0F, {64, 0}},           // (63, 63) lies in the first tile
             Case{1.0F, {64, 0}, 1.0F, {0, 64}},            // Z order: east before south
             Case{1.0F, {127, 127}, 1.0F, {128, 0}},        // a block of four before the next
         }) {
        EXPECT_GT(queueRank(c.error, c.worst), queueRank(c.below_error, c.below_worst))
            << c.error << " at " << c.worst.x << "," << c.worst.y << " against " << c.below_error
            << " at " << c.below_worst.x << "," << c.below_worst.y;
    }
}

// A window's rows lie a stride apart in the larger grid; from a million points the heights are
// copied before they are scanned.
TEST(Triangulate, AWindowOfALargerGrid) {
    struct Case {
        std::int32_t width, height, x, y, columns, rows;
        double max_error;
    };
    for (const Case& c :
         {Case{60, 50, 10, 7, 31, 25, 1.0}, Case{1100, 1040, 37, 5, 1030, 1025, 4.0}}) {
        const Field whole = rough(c.width, c.height, 6);
        const HeightField window = whole.view().window(c.x, c.y, c.columns, c.rows);
        Field copy =
            makeField("window", c.columns, c.rows, [&](auto x, auto y) { return window.at(x, y); });
        const Tin tin = triangulate(window, c.max_error);
        const Measured m = measure(copy, tin);
        EXPECT_EQ(m.fault, "") << c.columns;
        EXPECT_EQ(m.uncovered, 0) << c.columns;
        EXPECT_LE(m.max_error, c.max_error) << c.columns;
    }
}

TEST(Triangulate, ShapesWithNoTriangle) {
    const std::vector<float> heights = {5, 6};
    // Wider than a grid point's column can be held (the mesh formats' largest side is less).
    const std::vector<float> wide(65537 * 2, 1.0F);
    for (const HeightField& field :
         {HeightField{2, 1, 2, heights.data()}, HeightField{1, 2, 1, heights.data()},
          HeightField{1, 1, 1, heights.data()}, HeightField{0, 0, 0, nullptr},
          HeightField{65537, 2, 65537, wide.data()}}) {
        for (const double max_error : {0.0, 1.0}) {
            const Tin tin = triangulate(field, max_error);
            EXPECT_TRUE(tin.triangles.empty()) << field.width << " x " << field.height;
        }
    }
}

}  // namespace
}  // namespace marlwood
