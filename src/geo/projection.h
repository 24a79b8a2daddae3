#pragma once

#include <deque>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "sdts/georeference.h"

namespace marlwood {

// A point in degrees on a geographic coordinate system.
struct Degrees {
    double longitude = 0;
    double latitude = 0;
};

// The EPSG code of the geographic coordinate system of the datum XREF's HDAT names: NAS NAD27
// 4267, NAX NAD83 4269, WGE WGS 84 4326, WGC WGS 72 4322. An Error in one line for another.
Result<int> geographicEpsg(std::string_view datum, std::string_view from = "XREF");

// A transformation by PROJ from one EPSG coordinate system to another: metres for a projected
// system, longitude then latitude in degrees for a geographic one. It holds its own PROJ context,
// so one thread uses it at a time; made once, it transforms any number of points. PROJ is loaded
// when the first one is made; a plain conversion never maps it. The Windows build refuses.
class Reprojection {
  public:
    // An Error in one line when PROJ is missing or does not know the codes.
    static Result<Reprojection> between(int from, int to);

    // Transforms `points` in place (`backwards`: from `to` into `from`); an Error in one line when
    // one cannot be transformed.
    Status apply(std::span<GroundPoint> points, bool backwards = false) const;

    Reprojection(Reprojection&&) noexcept;
    Reprojection& operator=(Reprojection&&) noexcept;
    ~Reprojection();

  private:
    struct Held;
    explicit Reprojection(std::unique_ptr<Held> held);
    std::unique_ptr<Held> held_;
};

// Transformations by their two EPSG codes, each made once and kept: making one takes PROJ tens of
// milliseconds (it reads its database), using it a fraction of a microsecond a point. For one
// thread at a time, as each transformation is.
class Reprojections {
  public:
    Result<const Reprojection*> between(int from, int to);

  private:
    struct Made {
        int from, to;
        Reprojection reprojection;
    };
    std::deque<Made> made_;  // a deque keeps each where it was made
};

inline Result<const Reprojection*> Reprojections::between(int from, int to) {
    for (const Made& m : made_) {
        if (m.from == from && m.to == to) return &m.reprojection;
    }
    Result<Reprojection> made = Reprojection::between(from, to);
    if (!made) return made.error();
    made_.push_back({from, to, std::move(*made)});
    return &made_.back().reprojection;
}

// `points` in degrees on EPSG `geographic`, projected by PROJ into EPSG `projected` (metres).
// An Error in one line when PROJ is missing, does not know the codes or cannot project a point.
Result<std::vector<GroundPoint>> projectDegrees(int geographic, int projected,
                                                std::span<const Degrees> points);

}  // namespace marlwood
