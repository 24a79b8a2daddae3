#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
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

// An area in degrees: where the points a transformation is made for lie.
struct DegreeBox {
    double west = 0, south = 0, east = 0, north = 0;
    bool operator==(const DegreeBox&) const = default;
};

// marlwood's own datum grids (data/proj-grids), by file name: NADCON's NAD27 to NAD83 and
// VERTCON's NGVD29 to NAVD88 heights, which PROJ's data in Debian lacks.
inline constexpr std::string_view kDatumGrids[] = {"us_noaa_conus.tif", "us_noaa_alaska.tif",
                                                   "us_noaa_vertconw.tif", "us_noaa_vertconc.tif",
                                                   "us_noaa_vertcone.tif"};

// The folder holding marlwood's datum grids: the one MARLWOOD_PROJ_GRIDS names when it is set;
// else proj-grids beside the program (a build tree, the Windows zip), else
// ../share/marlwood/proj-grids from the program's folder (the Debian package). Every PROJ context
// marlwood makes looks there first, then in PROJ's own data folder, and never on the network.
std::string datumGridFolder();

// The EPSG code of the geographic coordinate system of the datum XREF's HDAT names: NAS NAD27
// 4267, NAX NAD83 4269, WGE WGS 84 4326, WGC WGS 72 4322. An Error in one line for another.
Result<int> geographicEpsg(std::string_view datum, std::string_view from = "XREF");
// The EPSG code of a state plane zone as a USGS DEM's record A names it: its FIPS zone number on
// NAD27 ("NAS") or NAD83 ("NAX"), in feet (US survey feet, else international) or metres; one
// line when no such system is known.
Result<int> statePlaneEpsg(int fips_zone, std::string_view datum, bool feet);

// A transformation by PROJ from one EPSG coordinate system to another: metres for a projected
// system, longitude then latitude in degrees for a geographic one. It holds its own PROJ context,
// so one thread uses it at a time; made once, it transforms any number of points. PROJ is loaded
// when the first one is made; a plain conversion never maps it. The Windows build refuses.
class Reprojection {
  public:
    // An Error in one line when PROJ is missing or does not know the codes.
    static Result<Reprojection> between(int from, int to);

    // When the transformation for an area must go through one of marlwood's datum grids: where
    // one serves the area (NAD27 to NAD83 or WGS 84 in the United States), or always (a shift of
    // heights, which without its grid is none at all).
    enum class DatumGrid { WhereOneServes, Always };

    // The transformation PROJ picks for points in `area`, from `from` to `to` (EPSG codes, or
    // PROJ's names such as "EPSG:4267+7968" for NAD27 with NGVD29 heights). Where marlwood's
    // datum grids serve the area, the pick must go through every one of them that the best
    // transformation for it uses: when one is not found, an Error in one line naming it, never a
    // coarser shift in its place. Points beyond the pick's grid fail apply().
    static Result<Reprojection> forArea(int from, int to, const DegreeBox& area);
    static Result<Reprojection> forArea(const std::string& from, const std::string& to,
                                        const DegreeBox& area,
                                        DatumGrid needed = DatumGrid::WhereOneServes);

    // Transforms `points` in place (`backwards`: from `to` into `from`); an Error in one line when
    // one cannot be transformed.
    Status apply(std::span<GroundPoint> points, bool backwards = false) const;
    // The same with heights: `heights` beside `points`, one each, transformed with them.
    Status apply(std::span<GroundPoint> points, std::span<double> heights,
                 bool backwards = false) const;

    Reprojection(Reprojection&&) noexcept;
    Reprojection& operator=(Reprojection&&) noexcept;
    ~Reprojection();

  private:
    struct Held;
    explicit Reprojection(std::unique_ptr<Held> held);
    // A new transformation's PROJ context, looking in marlwood's grid folder first.
    static Result<std::unique_ptr<Held>> started(const std::string& from, const std::string& to);
    std::unique_ptr<Held> held_;
};

// Transformations by their two EPSG codes, each made once and kept: making one takes PROJ tens of
// milliseconds (it reads its database), using it a fraction of a microsecond a point. For one
// thread at a time, as each transformation is.
class Reprojections {
  public:
    Result<const Reprojection*> between(int from, int to);
    // Reprojection::forArea's, kept by codes and area.
    Result<const Reprojection*> forArea(int from, int to, const DegreeBox& area);

  private:
    struct Made {
        int from, to;
        std::optional<DegreeBox> area;
        Reprojection reprojection;
    };
    Result<const Reprojection*> made(int from, int to, const std::optional<DegreeBox>& area);
    std::deque<Made> made_;  // a deque keeps each where it was made
};

inline Result<const Reprojection*> Reprojections::made(int from, int to,
                                                       const std::optional<DegreeBox>& area) {
    for (const Made& m : made_) {
        if (m.from == from && m.to == to && m.area == area) return &m.reprojection;
    }
    Result<Reprojection> made =
        area ? Reprojection::forArea(from, to, *area) : Reprojection::between(from, to);
    if (!made) return made.error();
    made_.push_back({from, to, area, std::move(*made)});
    return &made_.back().reprojection;
}

inline Result<const Reprojection*> Reprojections::between(int from, int to) {
    return made(from, to, std::nullopt);
}

inline Result<const Reprojection*> Reprojections::forArea(int from, int to, const DegreeBox& area) {
    return made(from, to, area);
}

// `points` in degrees on EPSG `geographic`, projected by PROJ into EPSG `projected` (metres).
// An Error in one line when PROJ is missing, does not know the codes or cannot project a point.
Result<std::vector<GroundPoint>> projectDegrees(int geographic, int projected,
                                                std::span<const Degrees> points);

// How far NAVD88 heights lie above NGVD29 heights, in metres, at `points` (degrees on EPSG
// `geographic`: 4267 NAD27 or 4269 NAD83), through PROJ and the VERTCON grid it picks for the
// points' area. An Error in one line naming the grid when it is not found, when no VERTCON grid
// serves the area, or when a point lies beyond the grid picked. Making the transformation takes
// PROJ tens of milliseconds: give all the points of an area at once.
Result<std::vector<double>> ngvd29ToNavd88(int geographic, std::span<const Degrees> points);

}  // namespace marlwood
