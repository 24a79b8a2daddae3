#include "pipeline/merge.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <deque>
#include <limits>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <tuple>

#include "common/rounding.h"
#include "common/text.h"
#include "geo/crs.h"
#include "geo/lattice.h"
#include "geo/node_placement.h"
#include "geo/projection.h"
#include "geo/window.h"
#include "grid/grid_overlay.h"
#include "grid/resample.h"
#include "ter/ter_writer.h"

namespace marlwood {

namespace {

// Sources further apart than this, edge to edge, are not neighbours: neighbours share their edge
// rows and columns, and a quad cut a little short still counts.
constexpr std::int64_t kNeighbourGap = 3;

// Sources that touch or overlap, directly or through others, make one area. Pieces outside the
// first piece's area are named, with the area they stand apart from.
Status allJoined(const std::vector<MergePiece>& pieces, const std::vector<LatticeRect>& placed) {
    const std::vector<bool> joined = joinedToFirst(placed, kNeighbourGap);
    constexpr std::size_t kNamed = 8;
    std::string apart, area;
    std::size_t apart_count = 0, area_count = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        std::string& list = joined[i] ? area : apart;
        std::size_t& count = joined[i] ? area_count : apart_count;
        if (count < kNamed) list += (count == 0 ? "" : ", ") + pieces[i].source;
        if (count++ == kNamed) list += ", ...";
    }
    if (apart_count == 0) return {};
    return failure(apart + (apart_count == 1 ? " stands" : " stand") + " apart from " + area +
                   " (more than " + std::to_string(kNeighbourGap) +
                   " postings from any of them): merging joins neighbours that touch or overlap");
}

std::uint64_t gridBytes(const GridSize& size) {
    return (static_cast<std::uint64_t>(std::max(0, size.rows)) + 1) *
           static_cast<std::uint64_t>(std::max(0, size.columns)) * sizeof(std::int32_t);
}

// All that the sources hold now, the most one holds beside while its rows are read, and the
// largest grid of a resampled piece, which is read whole before it is resampled.
std::uint64_t heldWhileDecoding(const std::vector<MergePiece>& pieces) {
    std::uint64_t held = 0, largest_reading = 0, largest_resampled = 0;
    for (const MergePiece& piece : pieces) {
        held += piece.input.heldBytes();
        if (piece.input.format && piece.input.format->reading_bytes) {
            largest_reading = std::max(
                largest_reading, piece.input.format->reading_bytes(piece.input, piece.metadata));
        }
        if (piece.resampled) {
            largest_resampled = std::max(largest_resampled, gridBytes(piece.metadata.size));
        }
    }
    return held + largest_reading + largest_resampled;
}

// The piece's grid in its own system: its outer corner and its postings across and down.
std::vector<GroundPoint> outlineOf(const MergePiece& piece) {
    return marlwood::outlineOf(*piece.georeference.topLeftCorner(), piece.georeference.xhrs,
                               piece.georeference.yhrs, piece.metadata.size.rows,
                               piece.metadata.size.columns);
}

// A piece on a UTM lattice of its own (a quad, a native DEM, a UTM GeoTIFF).
bool isUtm(const MergePiece& piece) {
    return piece.georeference.rsnm == "UTM" && !piece.metadata.reprojected;
}

// Whether the piece lies in the merged grid's own system (then at most off its lattice).
bool onPlanSystem(const MergePiece& piece, const MergePlan& plan) {
    return isUtm(piece) && piece.georeference.zone == plan.zone &&
           piece.georeference.hdat == plan.hdat;
}

// The piece's own system by its EPSG code.
Result<int> ownEpsg(const MergePiece& piece) {
    if (piece.georeference.epsg != 0) return piece.georeference.epsg;
    const Result<int> epsg = epsgCode(piece.georeference.rsnm, piece.georeference.hdat,
                                      piece.georeference.zone, piece.georeference.crs_from);
    if (!epsg) return failure(piece.source + ": " + epsg.message());
    return epsg;
}

// The EPSG code of the merged grid: UTM zone `zone` on datum `hdat`; the Error says it is the
// merged grid's zone, not one a source names.
Result<int> mergedEpsg(const std::string& hdat, int zone, const std::string& from) {
    const Result<int> epsg = epsgCode("UTM", hdat, zone, from);
    if (epsg) return epsg;
    std::string why = epsg.message();
    const std::string named = from + ": ";
    if (why.rfind(named, 0) == 0) why.erase(0, named.size());
    return failure("the merged grid's zone: " + why);
}

Result<int> planEpsg(const MergePlan& plan) {
    return mergedEpsg(plan.hdat, plan.zone, plan.pieces.front().georeference.crs_from);
}

// UTM keeps lengths within 0.1 % inside its zone and within about 1 % a zone beyond; a source
// stretched more lies too far from the zone for its cells to be laid on one lattice.
constexpr double kMostStretch = 0.02;

std::string stretchProblem(const std::string& source, int own, int zone, double stretch) {
    char percent[32];
    std::snprintf(percent, sizeof percent, "%.3g %%", std::min(stretch, 1e9) * 100);
    return source + ": reprojected from zone " + std::to_string(own) + " to zone " +
           std::to_string(zone) + " its lengths would change by up to " + percent + " (at most " +
           shownNumber(kMostStretch * 100) +
           " % is taken); merge it into a nearer zone with --zone, or leave it out";
}

// The piece's area in degrees on its own datum.
Result<DegreeBox> degreeArea(const MergePiece& piece, Reprojections& reprojections) {
    const Result<int> from = ownEpsg(piece);
    if (!from) return from.error();
    const Result<int> degrees =
        geographicEpsg(piece.georeference.hdat, piece.georeference.crs_from);
    if (!degrees) return failure(piece.source + ": " + degrees.message());
    std::vector<GroundPoint> outline = outlineOf(piece);
    if (*from != *degrees) {
        const Result<const Reprojection*> reprojection = reprojections.between(*from, *degrees);
        if (!reprojection) return reprojection.error();
        if (Status done = (*reprojection)->apply(outline); !done) {
            return failure(piece.source + ": " + done.message());
        }
    }
    const std::optional<Bounds> box = boundsOf(outline);
    if (!box) return failure(piece.source + ": its area in degrees is not finite");
    return DegreeBox{box->west, box->south, box->east, box->north};
}

// The transformation from the piece's own system into the merged grid's. Across datums it goes
// through marlwood's datum grids for the piece's area, or fails naming the grid missing: a merge
// shifted by PROJ's ballpark (metres off) would be worse than none.
Result<const Reprojection*> toPlan(const MergePiece& piece, const MergePlan& plan) {
    const Result<int> from = ownEpsg(piece);
    if (!from) return from.error();
    const Result<int> to = planEpsg(plan);
    if (!to) return to.error();
    if (piece.georeference.hdat == plan.hdat) return plan.reprojections->between(*from, *to);
    const Result<DegreeBox> area = degreeArea(piece, *plan.reprojections);
    if (!area) return area.error();
    const Result<const Reprojection*> reprojection =
        plan.reprojections->forArea(*from, *to, *area);
    if (!reprojection) return failure(piece.source + ": " + reprojection.message());
    return reprojection;
}

// The piece's outline in the merged grid's system (unchanged when it lies in it).
Result<std::vector<GroundPoint>> outlineIn(MergePiece& piece, const MergePlan& plan) {
    std::vector<GroundPoint> outline = outlineOf(piece);
    if (onPlanSystem(piece, plan)) return outline;
    const Result<const Reprojection*> reprojection = toPlan(piece, plan);
    if (!reprojection) return reprojection.error();
    // How far a datum shift moves the piece's coordinates, at its centre, for the report.
    if (isUtm(piece) && piece.georeference.zone == plan.zone &&
        piece.georeference.hdat != plan.hdat) {
        const GroundPoint c = *piece.georeference.topLeftCorner();
        const GroundPoint centre{c.x + piece.georeference.xhrs * piece.metadata.size.columns / 2,
                                 c.y - piece.georeference.yhrs * piece.metadata.size.rows / 2};
        GroundPoint moved[] = {centre};
        if (Status done = (*reprojection)->apply(moved); !done) {
            return failure(piece.source + ": " + done.message());
        }
        piece.datum_shift_m = GroundPoint{moved[0].x - centre.x, moved[0].y - centre.y};
    }
    if (Status done = (*reprojection)->apply(outline); !done) {
        return failure(piece.source + ": " + done.message());
    }
    // A UTM grid keeps its lengths into a neighbouring zone; degrees have none to keep.
    if (isUtm(piece) && piece.georeference.zone != plan.zone) {
        if (const double stretch = largestStretch(outlineOf(piece), outline);
            !(stretch <= kMostStretch)) {
            return failure(
                stretchProblem(piece.source, piece.georeference.zone, plan.zone, stretch));
        }
    }
    return outline;
}

// The zone the merged grid lies in: the one asked for, the pieces' one zone, or the zone that
// holds the middle of their area in longitude (their outlines taken to degrees by PROJ).
Result<int> mergedZone(const std::vector<MergePiece>& pieces, int asked,
                       Reprojections& reprojections) {
    if (asked != 0) return asked;
    const int first = pieces.front().georeference.zone;
    if (std::all_of(pieces.begin(), pieces.end(), [&](const MergePiece& p) {
            return isUtm(p) && p.georeference.zone == first;
        })) {
        return first;
    }
    double west = INFINITY, east = -INFINITY;
    for (const MergePiece& piece : pieces) {
        const Result<int> from = ownEpsg(piece);
        if (!from) return from.error();
        // A datum marlwood does not name is near enough WGS 84 for picking a zone.
        const Result<int> degrees =
            piece.georeference.hdat.empty()
                ? Result<int>(4326)
                : geographicEpsg(piece.georeference.hdat, piece.georeference.crs_from);
        if (!degrees) return failure(piece.source + ": " + degrees.message());
        std::vector<GroundPoint> outline = outlineOf(piece);
        if (*from != *degrees) {
            const Result<const Reprojection*> reprojection =
                reprojections.between(*from, *degrees);
            if (!reprojection) return reprojection.error();
            if (Status done = (*reprojection)->apply(outline); !done) {
                return failure(piece.source + ": " + done.message());
            }
        }
        if (const std::optional<Bounds> box = boundsOf(outline)) {
            west = std::min(west, box->west);
            east = std::max(east, box->east);
        }
    }
    return utmZoneOf((west + east) / 2);
}

// VERTCON varies by centimetres across a quad: its shift is taken by PROJ at nodes this many
// cells apart and interpolated between them.
constexpr std::int32_t kShiftStep = 64;

std::int32_t shiftNode(std::int32_t k, std::int32_t step, std::int32_t count) {
    return std::min(k * step, std::max(0, count - 1));
}

// VERTCON's NGVD29 to NAVD88 shift at the piece's nodes, on its own datum's degrees.
Status sampleHeightShift(MergePiece& piece, Reprojections& reprojections) {
    const Result<int> from = ownEpsg(piece);
    if (!from) return from.error();
    const Result<int> degrees =
        geographicEpsg(piece.georeference.hdat, piece.georeference.crs_from);
    if (!degrees) return failure(piece.source + ": " + degrees.message());
    const GridSize& size = piece.metadata.size;
    const std::int32_t step = kShiftStep;
    const std::int32_t rows = (std::max(0, size.rows - 1) + step - 1) / step + 1;
    const std::int32_t columns = (std::max(0, size.columns - 1) + step - 1) / step + 1;
    const GroundPoint corner = *piece.georeference.topLeftCorner();
    std::vector<GroundPoint> nodes;
    for (std::int32_t k = 0; k < rows; ++k) {
        for (std::int32_t j = 0; j < columns; ++j) {
            nodes.push_back(
                {corner.x + (shiftNode(j, step, size.columns) + 0.5) * piece.georeference.xhrs,
                 corner.y - (shiftNode(k, step, size.rows) + 0.5) * piece.georeference.yhrs});
        }
    }
    // The centre too, for the report.
    nodes.push_back({corner.x + size.columns * piece.georeference.xhrs / 2,
                     corner.y - size.rows * piece.georeference.yhrs / 2});
    if (*from != *degrees) {
        const Result<const Reprojection*> reprojection = reprojections.between(*from, *degrees);
        if (!reprojection) return reprojection.error();
        if (Status done = (*reprojection)->apply(nodes); !done) {
            return failure(piece.source + ": " + done.message());
        }
    }
    std::vector<Degrees> points;
    for (const GroundPoint& p : nodes) points.push_back({p.x, p.y});
    Result<std::vector<double>> shifts = ngvd29ToNavd88(*degrees, points);
    if (!shifts) return failure(piece.source + ": " + shifts.message());
    piece.centre_shift_m = shifts->back();
    shifts->pop_back();
    piece.lowest_shift_m = *std::min_element(shifts->begin(), shifts->end());
    piece.highest_shift_m = *std::max_element(shifts->begin(), shifts->end());
    piece.height_shift_m = std::move(*shifts);
    piece.shift_step = step;
    piece.shift_rows = rows;
    piece.shift_columns = columns;
    return {};
}

// Voids a row of a lattice piece's cells (its row `row`, from column `first`) where another
// tile given owns the ground: a tile's overlap is its neighbours' ground, resampled apart.
void yieldToOwners(const MergePiece& piece, std::int32_t row, std::int32_t first,
                   std::int32_t* cells, std::int32_t count, std::int32_t no_data) {
    if (piece.owned_by_others.empty()) return;
    const Georeference& g = piece.georeference;
    const GroundPoint corner = *g.topLeftCorner();
    const double y = corner.y - (row + 0.5) * g.yhrs;
    for (const Bounds& owned : piece.owned_by_others) {
        if (!(y > owned.south && y < owned.north)) continue;
        // Cells whose centres lie inside: column c has its centre at corner.x + (c + 0.5) * xhrs.
        const double from = std::floor((owned.west - corner.x) / g.xhrs - 0.5) + 1;
        const double to = std::ceil((owned.east - corner.x) / g.xhrs - 0.5);  // past the last
        const auto begin = static_cast<std::int32_t>(std::clamp<double>(from - first, 0, count));
        const auto end = static_cast<std::int32_t>(std::clamp<double>(to - first, 0, count));
        if (begin < end) std::fill(cells + begin, cells + end, no_data);
    }
}

// Raises a row of the piece's cells (its row `row`, from column `first`) by VERTCON's shift, in
// the piece's unit (`scale` to a unit: 1000 in thousandths).
void shiftHeights(const MergePiece& piece, std::int32_t row, std::int32_t first,
                  std::int32_t* cells, std::int32_t count, std::int32_t scale,
                  std::int32_t valid_above) {
    if (piece.height_shift_m.empty()) return;
    const GridSize& size = piece.metadata.size;
    const std::int32_t step = piece.shift_step;
    const auto along = [&](std::int32_t at, std::int32_t nodes, std::int32_t cells_count) {
        const std::int32_t k = std::min(at / step, nodes - 1);
        const std::int32_t next = std::min(k + 1, nodes - 1);
        const std::int32_t a = shiftNode(k, step, cells_count), b = shiftNode(next, step, cells_count);
        return std::tuple{k, next, b > a ? static_cast<double>(at - a) / (b - a) : 0.0};
    };
    const auto [k0, k1, t] = along(row, piece.shift_rows, size.rows);
    const auto node = [&](std::int32_t k, std::int32_t j) {
        return piece.height_shift_m[static_cast<std::size_t>(k) * piece.shift_columns + j];
    };
    const double per_metre = scale / piece.unit_m;
    for (std::int32_t c = 0; c < count; ++c) {
        if (cells[c] <= valid_above) continue;
        const auto [j0, j1, u] = along(first + c, piece.shift_columns, size.columns);
        const double shift = (1 - t) * ((1 - u) * node(k0, j0) + u * node(k0, j1)) +
                             t * ((1 - u) * node(k1, j0) + u * node(k1, j1));
        cells[c] += static_cast<std::int32_t>(std::lround(shift * per_metre));
    }
}

// A row's valid cells brought to thousandths of a metre from thousandths of the piece's unit.
void toMetres(std::int32_t* cells, std::size_t count, double to_metres, std::int32_t valid_above) {
    if (to_metres == 1.0) return;
    for (std::int32_t* v = cells; v != cells + count; ++v) {
        if (*v > valid_above) *v = roundHalfAway(*v * to_metres);
    }
}

// The piece's cells a footprint of the merged grid draws on, a cell more each way for the
// interpolation: its outline taken into the piece's system, when the piece lies in another.
Result<std::optional<CellWindow>> cellsDrawnOn(const MergePiece& piece, const MergePlan& plan,
                                               const Reprojection* to_piece, std::int32_t top,
                                               std::int32_t left, std::int32_t bottom,
                                               std::int32_t right) {
    const GroundPoint corner{plan.top_left.x + left * plan.posting_m,
                             plan.top_left.y - top * plan.posting_m};
    std::vector<GroundPoint> outline =
        marlwood::outlineOf(corner, plan.posting_m, plan.posting_m, bottom - top, right - left);
    if (to_piece) {
        if (Status done = to_piece->apply(outline, true); !done) {
            return failure(piece.source + ": " + done.message());
        }
    }
    const GroundPoint c = *piece.georeference.topLeftCorner();
    const GeoTransform grid{c.x, piece.georeference.xhrs, 0, c.y, 0, -piece.georeference.yhrs};
    const GridSize& size = piece.metadata.size;
    std::optional<CellWindow> window = windowHolding(outline, grid, size.rows, size.columns);
    if (!window) return window;
    const std::int32_t first_row = std::max(0, window->first_row - 1);
    const std::int32_t first_column = std::max(0, window->first_column - 1);
    const std::int32_t end_row = std::min(size.rows, window->first_row + window->rows + 1);
    const std::int32_t end_column =
        std::min(size.columns, window->first_column + window->columns + 1);
    return std::optional<CellWindow>(
        CellWindow{first_row, first_column, end_row - first_row, end_column - first_column});
}

// Events of a piece (or half of one) decoded on another thread, told on the calling thread in
// their order.
class HeldEvents final : public EventSink {
  public:
    void emit(const Event& event) override { held_.push_back(event); }
    void tellTo(EventSink& events) {
        for (const Event& event : held_) events.emit(event);
        held_.clear();
    }

  private:
    std::vector<Event> held_;
};

// The cells of `cells` of a piece into a fresh grid, for laying it into the merged grid. A wide
// window of a format that reads windows side by side at no extra cost (a tiled GeoTIFF) is read
// as two halves at once, a thread each.
Result<DecodedGrid> readPieceWindow(const MergePiece& piece, const CellWindow& cells,
                                    bool thousandths, EventSink& events, unsigned threads) {
    constexpr std::int32_t kColumnsWorthAThread = 1024;
    const InputFormat* format = piece.input.format;
    if (threads == 1 || std::thread::hardware_concurrency() < 2 || !format ||
        !format->windows_side_by_side || cells.columns < kColumnsWorthAThread) {
        return readGrid(piece.input, piece.metadata, cells, MetadataReading::Strict, thousandths,
                        events);
    }
    // Each row is made void by the row source before its cells come, and what no row reached is
    // made void below: the grid need not be filled first.
    Result<DecodedGrid> decoded =
        allocateDecodedGrid({cells.rows, cells.columns, std::min(cells.rows, cells.columns) - 1},
                            thousandths, 0, false);
    if (!decoded) return decoded;
    // Halves split on a block's edge, so that no block is read by both.
    std::int32_t half = cells.columns / 2;
    if (const std::int32_t block = piece.metadata.block_columns; block > 0) {
        const std::int32_t edge =
            (cells.first_column + half + block / 2) / block * block - cells.first_column;
        if (edge <= 0 || edge >= cells.columns) {
            return readGrid(piece.input, piece.metadata, cells, MetadataReading::Strict,
                            thousandths, events);
        }
        half = edge;
    }
    const CellWindow halves[2] = {
        {cells.first_row, cells.first_column, cells.rows, half},
        {cells.first_row, cells.first_column + half, cells.rows, cells.columns - half}};
    HeldEvents held[2];
    Status read[2];
    const auto readHalf = [&](int k) {
        try {
            Result<RowSource> rows =
                RowSource::open(piece.input, piece.metadata,
                                {halves[k], thousandths, MetadataReading::Strict}, {0, 0}, held[k]);
            if (!rows) {
                read[k] = rows.error();
                return;
            }
            const std::int32_t at = k == 0 ? 0 : half;
            std::int32_t r = 0;
            while (r < cells.rows && rows->next(decoded->grid[static_cast<std::size_t>(r)] + at)) {
                ++r;
            }
            const std::int32_t no_data = kNoData * (thousandths ? kThousandths : 1);
            for (; r < cells.rows; ++r) {
                std::int32_t* row = decoded->grid[static_cast<std::size_t>(r)] + at;
                std::fill(row, row + halves[k].columns, no_data);
            }
            read[k] = rows->read();
        } catch (const std::bad_alloc&) {
            read[k] = failure(piece.source + ": not enough memory to read it");
        }
    };
    std::thread right(readHalf, 1);
    readHalf(0);
    right.join();
    for (int k = 0; k < 2; ++k) {
        held[k].tellTo(events);
        if (!read[k]) return read[k].error();
    }
    return decoded;
}

// bilinearAt's value where the point and its four centres lie inside the grid and hold values,
// computed as it computes it (the same sums in the same order, so the same bits) without its
// checks; nothing elsewhere, where bilinearAt decides.
inline std::optional<double> interiorBilinear(const ElevationGrid& from, const GridSize& size,
                                              double x, double y, std::int32_t valid_above) {
    const double u = x - 0.5, v = y - 0.5;
    if (!(u >= 0 && v >= 0 && u < size.columns - 1 && v < size.rows - 1)) return std::nullopt;
    const auto c0 = static_cast<std::int32_t>(u), r0 = static_cast<std::int32_t>(v);
    const std::int32_t* top = from[static_cast<std::size_t>(r0)];
    const std::int32_t* below = from[static_cast<std::size_t>(r0) + 1];
    const std::int32_t a = top[c0], b = top[c0 + 1], c = below[c0], d = below[c0 + 1];
    if (a <= valid_above || b <= valid_above || c <= valid_above || d <= valid_above) {
        return std::nullopt;
    }
    const double fx = u - c0, fy = v - r0;
    double sum = 0, weights = 0;
    double w = (1 - fx) * (1 - fy);
    sum += w * a;
    weights += w;
    w = fx * (1 - fy);
    sum += w * b;
    weights += w;
    w = (1 - fx) * fy;
    sum += w * c;
    weights += w;
    w = fx * fy;
    sum += w * d;
    weights += w;
    return sum / weights;
}

// Rows [top, bottom) and columns [left, right) of the merged grid.
struct Rect {
    std::int32_t top, bottom, left, right;
};

// The footprint on the merged grid that a piece laid by resampling covers.
Rect footprintOf(const MergePlan& plan, const MergePiece& piece) {
    const CellWindow window = plan.window.value_or(CellWindow{});
    return {std::max(0, piece.row_offset - window.first_row),
            std::min(plan.size.rows, piece.row_offset - window.first_row + piece.rows),
            std::max(0, piece.column_offset - window.first_column),
            std::min(plan.size.columns, piece.column_offset - window.first_column + piece.columns)};
}

// Lays the void cells of `band` (rows and columns of the merged grid) from the piece: the cells
// of it the band draws on read, then for each void cell its centre taken into the piece's system
// (nodes placed over the whole `footprint`, so that a cell's point does not depend on the band)
// and the value there interpolated.
Status layBand(const MergePlan& plan, const MergePiece& piece, bool thousandths, bool own_area_only,
               ElevationGrid& into, EventSink& events, unsigned threads,
               const Reprojection* to_piece, const Rect& footprint, const Rect& band) {
    const std::int32_t top = footprint.top, left = footprint.left, right = footprint.right;
    const std::int32_t void_top = band.top, void_bottom = band.bottom, void_left = band.left,
                       void_right = band.right;
    const std::int32_t valid_above = kVoidThreshold * (thousandths ? kThousandths : 1);
    const Result<std::optional<CellWindow>> drawn =
        cellsDrawnOn(piece, plan, to_piece, void_top, void_left, void_bottom, void_right);
    if (!drawn) return drawn.error();
    if (!*drawn) return {};  // the footprint misses the piece's cells
    const CellWindow& cells = **drawn;
    Result<DecodedGrid> decoded = readPieceWindow(piece, cells, thousandths, events, threads);
    if (!decoded) return decoded.error();
    for (std::int32_t r = 0; r < decoded->size.rows; ++r) {
        shiftHeights(piece, cells.first_row + r, cells.first_column,
                     decoded->grid[static_cast<std::size_t>(r)], decoded->size.columns,
                     thousandths ? kThousandths : 1, valid_above);
    }
    const GroundPoint corner = *piece.georeference.topLeftCorner();
    const double across = piece.georeference.xhrs, down = piece.georeference.yhrs;
    const std::optional<Bounds>& own = piece.own_area;
    if (own_area_only && own) {
        // Cells beyond its own area are not interpolated from either: near its edge a tile's
        // values are its own square's alone.
        const std::int32_t no_data = kNoData * (thousandths ? kThousandths : 1);
        // The columns inside it are one run, the same in every row.
        const std::int32_t columns = decoded->size.columns;
        const auto inside = [&](std::int32_t c) {
            const double x = corner.x + (cells.first_column + c + 0.5) * across;
            return x > own->west && x < own->east;
        };
        std::int32_t first = 0;
        while (first < columns && !inside(first)) ++first;
        std::int32_t end = first;
        while (end < columns && inside(end)) ++end;
        for (std::int32_t r = 0; r < decoded->size.rows; ++r) {
            const double y = corner.y - (cells.first_row + r + 0.5) * down;
            std::int32_t* row = decoded->grid[static_cast<std::size_t>(r)];
            if (!(y > own->south && y < own->north)) {
                std::fill(row, row + columns, no_data);
                continue;
            }
            std::fill(row, row + first, no_data);
            std::fill(row + end, row + columns, no_data);
        }
    }
    // In thousandths every piece is brought to thousandths of a metre.
    const double to_metres = thousandths ? piece.unit_m : 1.0;
    const double posting = plan.posting_m;
    const auto centre = [&](std::int32_t r, std::int32_t c) {
        return GroundPoint{plan.top_left.x + (c + 0.5) * posting,
                           plan.top_left.y - (r + 0.5) * posting};
    };
    const GridSize size = decoded->size;
    // Cells per unit of the piece's system: a product for every cell rather than a quotient.
    const double per_across = 1 / across, per_down = 1 / down;
    // Rows [from, to) of the footprint. Each band of rows places its own nodes over the whole
    // footprint, so a cell's point depends neither on the band nor on which cells were void;
    // PROJ is called by one band at a time.
    std::mutex proj;
    const auto lay = [&](std::int32_t from, std::int32_t to) -> Status {
        std::optional<NodePlacement> nodes;
        if (to_piece) {
            nodes.emplace(*to_piece, true, centre, top, left, right,
                          NodePlacement::stepFor(posting), &proj);
        }
        for (std::int32_t r = from; r < to; ++r) {
            std::int32_t* row = into[static_cast<std::size_t>(r)];
            if (nodes) {
                if (Status placed = nodes->row(r); !placed) {
                    return failure(piece.source + ": " + placed.message());
                }
            }
            for (std::int32_t c = void_left; c < void_right; ++c) {
                if (row[c] > valid_above) continue;
                const GroundPoint p = nodes ? nodes->at(c) : centre(r, c);
                if (own_area_only && own &&
                    !(p.x >= own->west && p.x < own->east && p.y > own->south &&
                      p.y <= own->north)) {
                    continue;
                }
                const double x = (p.x - corner.x) * per_across - cells.first_column;
                const double y = (corner.y - p.y) * per_down - cells.first_row;
                if (const std::optional<double> value =
                        interiorBilinear(decoded->grid, size, x, y, valid_above)) {
                    row[c] = roundHalfAway(*value * to_metres);
                } else if (const std::optional<double> edge =
                               bilinearAt(decoded->grid, size, x, y, valid_above)) {
                    row[c] = roundHalfAway(*edge * to_metres);
                }
            }
        }
        return {};
    };
    // A second thread lays the lower half of a large footprint.
    constexpr std::int32_t kRowsWorthAThread = 256;
    const std::int32_t rows = void_bottom - void_top;
    if (threads == 1 || std::thread::hardware_concurrency() < 2 || rows < kRowsWorthAThread) {
        return lay(void_top, void_bottom);
    }
    const std::int32_t middle = void_top + rows / 2;
    Status lower;
    std::thread helper([&] {
        try {
            lower = lay(middle, void_bottom);
        } catch (const std::bad_alloc&) {
            lower = failure(piece.source + ": not enough memory to lay it into the merged grid");
        }
    });
    Status upper;
    try {
        upper = lay(void_top, middle);
    } catch (const std::bad_alloc&) {
        upper = failure(piece.source + ": not enough memory to lay it into the merged grid");
    }
    helper.join();
    if (!upper) return upper;
    return lower;
}

// Lays a resampled piece into the merged grid: the cells of it the footprint draws on read, then
// for each cell of the footprint the cell's centre taken into the piece's system by PROJ
// (unchanged within it) and the value there interpolated. Only void cells are filled: cells on
// the lattice came first. With `own_area_only`, only cells whose centres lie in the piece's own
// area (a 3DEP tile's degree square, not its overlap) are filled.
Status resampleInto(const MergePlan& plan, const MergePiece& piece, bool thousandths,
                    bool own_area_only, ElevationGrid& into, EventSink& events, unsigned threads) {
    // The transformation the plan made for the piece's outline, run backwards.
    const Reprojection* to_piece = nullptr;
    if (!onPlanSystem(piece, plan)) {
        const Result<const Reprojection*> reprojection = toPlan(piece, plan);
        if (!reprojection) return reprojection.error();
        to_piece = *reprojection;
    }
    const Rect footprint = footprintOf(plan, piece);
    if (footprint.top >= footprint.bottom || footprint.left >= footprint.right) return {};
    const std::int32_t valid_above = kVoidThreshold * (thousandths ? kThousandths : 1);
    // Only void cells are filled, and only the cells of the piece around them are read: a piece
    // whose footprint holds none (a tile's overlap where its neighbours own every cell) is not
    // read at all, and the seams its neighbours leave along its edges (slanting across the grid
    // where they follow a parallel) are read as the runs of squares of the grid that hold void
    // cells, not as the box around them all.
    constexpr std::int32_t kSquare = 128;
    const std::int32_t down = (footprint.bottom - footprint.top + kSquare - 1) / kSquare;
    const std::int32_t across = (footprint.right - footprint.left + kSquare - 1) / kSquare;
    std::vector<char> holds_void(static_cast<std::size_t>(down) * across, 0);
    for (std::int32_t r = footprint.top; r < footprint.bottom; ++r) {
        const std::int32_t* row = into[static_cast<std::size_t>(r)];
        char* squares =
            holds_void.data() + static_cast<std::size_t>((r - footprint.top) / kSquare) * across;
        for (std::int32_t c = footprint.left; c < footprint.right; ++c) {
            if (row[c] <= valid_above) squares[(c - footprint.left) / kSquare] = 1;
        }
    }
    std::vector<Rect> bands;
    for (std::int32_t y = 0; y < down; ++y) {
        for (std::int32_t x = 0; x < across;) {
            if (!holds_void[static_cast<std::size_t>(y) * across + x]) {
                ++x;
                continue;
            }
            std::int32_t end = x;
            while (end < across && holds_void[static_cast<std::size_t>(y) * across + end]) ++end;
            const Rect run{footprint.top + y * kSquare,
                           std::min(footprint.bottom, footprint.top + (y + 1) * kSquare),
                           footprint.left + x * kSquare,
                           std::min(footprint.right, footprint.left + end * kSquare)};
            // A run under one of the same columns lengthens it.
            const auto above = std::find_if(bands.begin(), bands.end(), [&](const Rect& band) {
                return band.bottom == run.top && band.left == run.left && band.right == run.right;
            });
            if (above != bands.end()) {
                above->bottom = run.bottom;
            } else {
                bands.push_back(run);
            }
            x = end;
        }
    }
    for (const Rect& band : bands) {
        if (Status laid = layBand(plan, piece, thousandths, own_area_only, into, events, threads,
                                  to_piece, footprint, band);
            !laid) {
            return laid;
        }
    }
    return {};
}

// A tile in degrees whose edges lie a few cells beyond whole degrees (3DEP's, 6 cells) owns the
// square of whole degrees inside them; the cells beyond repeat its neighbours' ground, resampled
// apart, and fill only what no tile given owns.
constexpr double kMostOverlapCells = 8;
constexpr double kMostTileCellMetres = 1;
constexpr double kTileKilometre = 1000;

std::optional<Bounds> ownArea(const MergePiece& piece) {
    const Georeference& g = piece.georeference;
    // Tiles in degrees own whole degrees; 3DEP's 1 m tiles, on UTM, own squares of 10 km (whole
    // kilometres are taken, so that smaller tiles cut the same way merge alike).
    double unit = 0;
    if (piece.metadata.reprojected && g.xhrs > 0 && g.xhrs < 1) {
        unit = 1;
    } else if (!piece.metadata.reprojected && g.xhrs > 0 && g.xhrs <= kMostTileCellMetres) {
        unit = kTileKilometre;
    } else {
        return std::nullopt;
    }
    const GroundPoint c = *g.topLeftCorner();
    const Bounds extent{c.x, c.y - g.yhrs * piece.metadata.size.rows,
                        c.x + g.xhrs * piece.metadata.size.columns, c.y};
    const auto inward = [unit](double edge, double cell, int toward) -> std::optional<double> {
        const double units = edge / unit;
        const double whole =
            unit * (toward > 0 ? std::ceil(units - 1e-9) : std::floor(units + 1e-9));
        if (std::abs(whole - edge) > kMostOverlapCells * cell) return std::nullopt;
        return whole;
    };
    const auto west = inward(extent.west, g.xhrs, 1), east = inward(extent.east, g.xhrs, -1);
    const auto south = inward(extent.south, g.yhrs, 1), north = inward(extent.north, g.yhrs, -1);
    if (!west || !east || !south || !north || !(*west < *east) || !(*south < *north)) {
        return std::nullopt;
    }
    return Bounds{*west, *south, *east, *north};
}

}  // namespace

namespace {

// A source as a piece of the merge: its metadata and georeference read strictly, and refused
// unless its top-left cell is known and, on a UTM lattice, its cells are square.
Result<MergePiece> readPiece(const Input& source, EventSink& events) {
    const auto fail = [&](const std::string& what) { return failure(source.source + ": " + what); };
    MergePiece piece;
    piece.source = source.source;
    piece.input = source;
    Result<TransferMetadata> metadata = readMetadata(source, MetadataReading::Strict, true, events);
    if (!metadata) return fail(metadata.message());
    piece.metadata = std::move(*metadata);
    piece.georeference = *piece.metadata.georeference;
    if (!piece.metadata.unit_m) return fail(piece.metadata.unit_m.message());
    piece.unit_m = *piece.metadata.unit_m;
    if (!piece.georeference.topLeftCorner()) {
        return fail("its georeference does not say where the grid's top-left cell lies");
    }
    const Georeference& g = piece.georeference;
    if (!(g.xhrs > 0 && g.yhrs > 0) || (!piece.metadata.reprojected && g.xhrs != g.yhrs)) {
        return fail("its posting is " + shownNumber(g.xhrs) + " by " + shownNumber(g.yhrs) +
                    "; merging needs square cells");
    }
    piece.own_area = ownArea(piece);
    return piece;
}

// Whether `piece` can join the merge of `first`: one datum, one posting among the pieces on a
// UTM lattice and, unless `converting_units`, one elevation unit.
Status agrees(const MergePiece& first, const MergePiece& piece, bool converting_units) {
    const Georeference& a = first.georeference;
    const Georeference& b = piece.georeference;
    const auto fail = [&](const std::string& what) { return failure(piece.source + ": " + what); };
    const auto differs = [&](const char* what, const std::string& mine, const std::string& theirs) {
        return fail(std::string(what) + " " + theirs + " differs from " + mine + " of " +
                    first.source);
    };
    // Systems named by XREF or record A must be one; one named by its EPSG code is reprojected.
    if (a.epsg == 0 && b.epsg == 0 && b.rsnm != a.rsnm) {
        return differs("reference system", a.rsnm, b.rsnm);
    }
    // Between datums lies a shift of up to about 100 m that only shift grids give: NAD27 and
    // NAD83 meet through NADCON's (on NAD83); a merge off by that much is worse than none.
    const auto northAmerican = [](const std::string& code) { return code == "NAS" || code == "NAX"; };
    if (b.hdat != a.hdat && !(northAmerican(a.hdat) && northAmerican(b.hdat))) {
        const auto named = [](const std::string& code) {
            return code.empty() ? std::string("(one marlwood does not name)") : code;
        };
        return fail("datum " + named(b.hdat) + " differs from " + named(a.hdat) + " of " +
                    first.source + "; marlwood merges sources on one datum, or NAD27 with NAD83");
    }
    if (isUtm(first) && isUtm(piece) && b.xhrs != a.xhrs)
        return differs("posting", shownNumber(a.xhrs) + " m", shownNumber(b.xhrs) + " m");
    if (piece.unit_m != first.unit_m && !converting_units) {
        return fail("its elevations are in " + b.unit + ", those of " + first.source + " in " +
                    a.unit + "; --true-scale converts them to metres");
    }
    return {};
}

// The lattice's origin: the top-left corner of the first source in the merged system, whose
// cells are laid down unchanged; without one, cell centres on whole multiples of the posting,
// where USGS posts lie.
GroundPoint latticeOrigin(const MergePlan& plan, double posting) {
    for (const MergePiece& piece : plan.pieces) {
        if (onPlanSystem(piece, plan)) return *piece.georeference.topLeftCorner();
    }
    return {-posting / 2, posting / 2};
}

// Where a piece lies in postings from the lattice's origin, in 64 bits until the merged size is
// known to fit. A piece off the lattice or in another system is marked resampled: it covers the
// cells whose centres fall in its cells, bounded by its outline in the merged system.
Result<LatticeRect> placePiece(MergePiece& piece, const MergePlan& plan, const GroundPoint& origin,
                               double posting) {
    const GroundPoint corner = *piece.georeference.topLeftCorner();
    if (onPlanSystem(piece, plan) && piece.georeference.xhrs == posting) {
        const auto row = wholePostings(origin.y - corner.y, posting);
        const auto column = wholePostings(corner.x - origin.x, posting);
        if (row && column) {
            return LatticeRect{*row, *column, *row + piece.metadata.size.rows,
                               *column + piece.metadata.size.columns};
        }
        const double east = corner.x - origin.x, south = origin.y - corner.y;
        if (!(std::abs(east / posting) <= kMostPostings &&
              std::abs(south / posting) <= kMostPostings)) {
            return failure(piece.source + ": its grid lies too far from the others (" +
                           shownNumber(east) + " m, " + shownNumber(south) + " m)");
        }
        // Half a posting either way is reported as east or south.
        piece.off_east_m = east - std::ceil(east / posting - 0.5) * posting;
        piece.off_south_m = south - std::ceil(south / posting - 0.5) * posting;
    }
    piece.resampled = true;
    const Result<std::vector<GroundPoint>> outline = outlineIn(piece, plan);
    if (!outline) return outline.error();
    const std::optional<Bounds> box = boundsOf(*outline);
    if (!box) return failure(piece.source + ": its outline does not reproject to finite points");
    return cellsWithin(*box, origin, posting);
}

// The merged grid: the union of the placements, each piece's offsets within it.
Status layOut(MergePlan& plan, const std::vector<LatticeRect>& placed, const GroundPoint& origin,
              double posting) {
    const LatticeRect all = unionOf(placed);
    const std::int64_t top = all.row, left = all.column, bottom = all.end_row,
                       right = all.end_column;
    const std::int64_t rows = bottom - top;
    const std::int64_t columns = right - left;
    // What a file may hold is the format's to say, once a crop has narrowed the area; a grid's
    // sides must fit its 32-bit counts all the same.
    constexpr std::int64_t kLargestSide = std::numeric_limits<std::int32_t>::max();
    if (rows > kLargestSide || columns > kLargestSide) {
        return failure("the merged grid would be " + std::to_string(rows) + " x " +
                       std::to_string(columns) + " cells, more than any grid holds");
    }
    for (std::size_t i = 0; i < plan.pieces.size(); ++i) {
        plan.pieces[i].row_offset = static_cast<std::int32_t>(placed[i].row - top);
        plan.pieces[i].column_offset = static_cast<std::int32_t>(placed[i].column - left);
        plan.pieces[i].rows = static_cast<std::int32_t>(placed[i].end_row - placed[i].row);
        plan.pieces[i].columns = static_cast<std::int32_t>(placed[i].end_column - placed[i].column);
    }
    plan.size = {static_cast<std::int32_t>(rows), static_cast<std::int32_t>(columns),
                 static_cast<std::int32_t>(std::min(rows, columns) - 1)};
    plan.top_left = {origin.x + static_cast<double>(left) * posting,
                     origin.y - static_cast<double>(top) * posting};
    plan.posting_m = posting;
    plan.held_bytes = heldWhileDecoding(plan.pieces);
    return {};
}

}  // namespace

Result<MergePlan> planMerge(const std::vector<Input>& sources, bool converting_units,
                            EventSink& events, int zone, double posting, bool shift_heights) {
    if (sources.empty()) return failure("nothing to merge");
    MergePlan plan;
    // Every source read, each agreeing with the first.
    for (const Input& source : sources) {
        Result<MergePiece> piece = readPiece(source, events);
        if (!piece) return piece.error();
        if (!plan.pieces.empty()) {
            if (Status joins = agrees(plan.pieces.front(), *piece, converting_units); !joins) {
                return joins.error();
            }
        }
        plan.pieces.push_back(std::move(*piece));
    }
    // Heights on one vertical datum: NGVD29 raised to NAVD88 where both are merged.
    const auto on = [&](const char* datum) {
        return std::any_of(plan.pieces.begin(), plan.pieces.end(), [&](const MergePiece& p) {
            return p.metadata.vertical_datum == datum;
        });
    };
    if (shift_heights && on("NGVD29") && on("NAVD88")) {
        for (MergePiece& piece : plan.pieces) {
            if (piece.metadata.vertical_datum != "NGVD29") continue;
            if (Status sampled = sampleHeightShift(piece, *plan.reprojections); !sampled) {
                return sampled.error();
            }
        }
    }
    // The zone, the datum and the lattice, then each piece's place on it.
    const Result<int> merged_zone = mergedZone(plan.pieces, zone, *plan.reprojections);
    if (!merged_zone) return merged_zone.error();
    plan.zone = *merged_zone;
    // A datum marlwood does not name is laid onto WGS 84's UTM.
    plan.hdat = plan.pieces.front().georeference.hdat.empty()
                    ? std::string("WGE")
                    : plan.pieces.front().georeference.hdat;
    // NAD27 sources with NAD83 ones are laid onto NAD83, through NADCON's grid.
    for (const MergePiece& piece : plan.pieces) {
        if (piece.georeference.hdat != plan.hdat) plan.hdat = "NAX";
    }
    double lattice_posting = posting;
    for (const MergePiece& piece : plan.pieces) {
        if (lattice_posting > 0) break;
        if (isUtm(piece)) lattice_posting = piece.georeference.xhrs;
    }
    if (!(lattice_posting > 0)) lattice_posting = plan.pieces.front().metadata.posting_m;
    if (!(lattice_posting > 0)) return failure("the merged grid's posting is not known");
    const GroundPoint origin = latticeOrigin(plan, lattice_posting);
    std::vector<LatticeRect> placed;
    for (MergePiece& piece : plan.pieces) {
        const Result<LatticeRect> place = placePiece(piece, plan, origin, lattice_posting);
        if (!place) return place.error();
        placed.push_back(*place);
    }
    // Tiles on the lattice give way where another owns the ground.
    for (MergePiece& piece : plan.pieces) {
        if (piece.resampled) continue;
        for (const MergePiece& other : plan.pieces) {
            if (&other != &piece && !other.resampled && other.own_area) {
                piece.owned_by_others.push_back(*other.own_area);
            }
        }
    }
    // Neighbours only, then the grid that holds them all.
    if (Status joined = allJoined(plan.pieces, placed); !joined) return joined.error();
    if (Status laid = layOut(plan, placed, origin, lattice_posting); !laid) return laid.error();
    return plan;
}

Status cropMergePlan(MergePlan& plan, const PlaceCrop& crop, bool whole) {
    if (whole) {
        // The area widened on every side by the crop's own span, which then lies inside it
        // wherever it touches the pieces (a degree of longitude is at most 111.32 km): the
        // window below is the whole crop, and cells no piece reaches stay void.
        const double metres = 111320;
        double wide = crop.extent_km * 1000, high = wide;
        if (crop.box) {
            wide = (crop.box->east - crop.box->west) * metres;
            high = (crop.box->north - crop.box->south) * metres;
        }
        const auto cells = [&](double span) {
            return static_cast<std::int64_t>(std::ceil(std::abs(span) / plan.posting_m)) + 2;
        };
        const std::int64_t across = cells(wide), down = cells(high);
        constexpr std::int64_t kLargestSide = std::numeric_limits<std::int32_t>::max();
        if (plan.size.columns + 2 * across > kLargestSide ||
            plan.size.rows + 2 * down > kLargestSide) {
            return failure("the merged area: the crop is larger than any grid holds");
        }
        for (MergePiece& piece : plan.pieces) {
            piece.row_offset += static_cast<std::int32_t>(down);
            piece.column_offset += static_cast<std::int32_t>(across);
        }
        plan.size.rows += static_cast<std::int32_t>(2 * down);
        plan.size.columns += static_cast<std::int32_t>(2 * across);
        plan.top_left = {plan.top_left.x - static_cast<double>(across) * plan.posting_m,
                         plan.top_left.y + static_cast<double>(down) * plan.posting_m};
    }
    const GeoTransform area{plan.top_left.x, plan.posting_m, 0, plan.top_left.y, 0,
                            -plan.posting_m};
    // The crop is placed in the merged grid's zone, on its datum.
    Georeference merged;
    merged.rsnm = "UTM";
    merged.hdat = plan.hdat;
    merged.zone = plan.zone;
    merged.crs_from = plan.pieces.front().georeference.crs_from;
    const Result<CellWindow> window =
        cropWindow(crop, merged, area, plan.size.rows, plan.size.columns);
    if (!window) return failure("the merged area: " + window.message());
    return windowMergePlan(plan, *window);
}

Status windowMergePlan(MergePlan& plan, const CellWindow& window_cells) {
    const CellWindow* const window = &window_cells;
    std::vector<MergePiece> kept;
    for (MergePiece& piece : plan.pieces) {
        const std::int32_t row = piece.row_offset - window->first_row;
        const std::int32_t column = piece.column_offset - window->first_column;
        const bool touches = row < window->rows && row + piece.rows > 0 &&
                             column < window->columns && column + piece.columns > 0;
        if (touches) kept.push_back(std::move(piece));
    }
    if (kept.empty()) {
        return failure("the merged area: the crop falls between the sources, on none of them");
    }
    plan.pieces = std::move(kept);
    plan.size = {window->rows, window->columns, std::min(window->rows, window->columns) - 1};
    plan.top_left = {plan.top_left.x + window->first_column * plan.posting_m,
                     plan.top_left.y - window->first_row * plan.posting_m};
    plan.held_bytes = heldWhileDecoding(plan.pieces);
    plan.window = *window;
    return {};
}

namespace {

// The part of a piece the merged grid takes, as a window of the piece's own grid, and the grid's
// row and column its first cell lands on (a crop may leave part of it, or all, out).
struct PieceSpan {
    CellWindow cells;
    std::int32_t at_row = 0, at_column = 0;
};

PieceSpan spanOf(const MergePlan& plan, const MergePiece& piece) {
    const CellWindow window = plan.window.value_or(CellWindow{});
    const std::int32_t row = piece.row_offset - window.first_row;
    const std::int32_t column = piece.column_offset - window.first_column;
    const std::int32_t first_row = std::max(0, -row);
    const std::int32_t end_row = std::clamp(plan.size.rows - row, 0, piece.rows);
    const std::int32_t first_column = std::max(0, -column);
    const std::int32_t end_column = std::clamp(plan.size.columns - column, 0, piece.columns);
    return {{first_row, first_column, std::max(0, end_row - first_row),
             std::max(0, end_column - first_column)},
            row + first_row,
            column + first_column};
}

// The span's rows read from its source, in thousandths of a metre when `thousandths` (every
// piece is brought to them), the extremes found before any cell being 0 and 9000 whole units.
Result<RowSource> openSpan(const MergePiece& piece, const PieceSpan& span, bool thousandths,
                           EventSink& events) {
    const std::int32_t scale = thousandths ? kThousandths : 1;
    return RowSource::open(piece.input, piece.metadata,
                           {span.cells, thousandths, MetadataReading::Strict}, {0, 9000 * scale},
                           events);
}

// Every piece's window told to its format, in the order they are read, so that sources on a
// server fetch what the later ones need while the first are read.
void prefetchWindows(const MergePlan& plan) {
    for (const bool resampled : {false, true}) {
        for (const MergePiece& piece : plan.pieces) {
            const InputFormat* format = piece.input.format;
            if (piece.resampled != resampled || !format || !format->prefetch) continue;
            if (!resampled) {
                const PieceSpan span = spanOf(plan, piece);
                if (span.cells.rows > 0 && span.cells.columns > 0) {
                    format->prefetch(piece.input, span.cells);
                }
                continue;
            }
            const Rect footprint = footprintOf(plan, piece);
            if (footprint.top >= footprint.bottom || footprint.left >= footprint.right) continue;
            const Reprojection* to_piece = nullptr;
            if (!onPlanSystem(piece, plan)) {
                const Result<const Reprojection*> reprojection = toPlan(piece, plan);
                if (!reprojection) continue;
                to_piece = *reprojection;
            }
            const Result<std::optional<CellWindow>> drawn =
                cellsDrawnOn(piece, plan, to_piece, footprint.top, footprint.left, footprint.bottom,
                             footprint.right);
            if (drawn && *drawn) format->prefetch(piece.input, **drawn);
        }
    }
}

}  // namespace

Result<MergedGrid> decodeMerged(const MergePlan& plan, bool thousandths, EventSink& events,
                                unsigned threads) {
    Result<DecodedGrid> decoded = allocateDecodedGrid(plan.size, thousandths, plan.held_bytes);
    if (!decoded) return decoded.error();
    prefetchWindows(plan);
    MergedGrid merged{std::move(*decoded), 0};
    ElevationGrid& raw_grid = merged.decoded.grid;
    Extremes& extremes = merged.decoded.extremes;
    const std::int32_t scale = thousandths ? kThousandths : 1;
    const std::int32_t valid_above = kVoidThreshold * scale;
    bool first = true;
    for (const MergePiece& piece : plan.pieces) {
        if (piece.resampled) continue;
        const PieceSpan span = spanOf(plan, piece);
        if (span.cells.rows == 0 || span.cells.columns == 0) continue;
        Result<RowSource> rows = openSpan(piece, span, thousandths, events);
        if (!rows) return rows.error();
        std::vector<std::int32_t> row(static_cast<std::size_t>(span.cells.columns));
        const double to_metres = thousandths ? piece.unit_m : 1.0;
        for (std::int32_t k = 0; rows->next(row.data()); ++k) {
            yieldToOwners(piece, span.cells.first_row + k, span.cells.first_column, row.data(),
                          span.cells.columns, kNoData * scale);
            shiftHeights(piece, span.cells.first_row + k, span.cells.first_column, row.data(),
                         span.cells.columns, scale, valid_above);
            toMetres(row.data(), row.size(), to_metres, valid_above);
            std::int32_t* into = raw_grid[static_cast<std::size_t>(span.at_row + k)];
            merged.disagreements +=
                overlayRow(row.data(), into + span.at_column, span.cells.columns, valid_above);
        }
        // A source not read is no merge: its ground would be void with nothing said.
        if (Status read = rows->read(); !read) return read.error();
        const Extremes found = rows->extremes();
        const Extremes own{found.max_elevation / scale, found.min_elevation / scale};
        extremes = first ? own : unionOf(extremes, own);
        first = false;
    }
    // Each piece first where it owns the ground, then (a tile's overlap) where no piece does.
    bool resampled = false;
    for (const bool own_area_only : {true, false}) {
        for (const MergePiece& piece : plan.pieces) {
            if (!piece.resampled || (!own_area_only && !piece.own_area)) continue;
            if (Status laid = resampleInto(plan, piece, thousandths, own_area_only, raw_grid,
                                           events, threads);
                !laid) {
                return laid.error();
            }
            resampled = true;
        }
    }
    // A window's extremes are its own, not those of the whole pieces it cuts, and a resampled
    // piece's are those of its values laid down.
    const bool shifted = std::any_of(plan.pieces.begin(), plan.pieces.end(),
                                     [](const MergePiece& p) { return !p.height_shift_m.empty(); });
    if (plan.window || resampled || shifted) {
        Extremes own{0, 9000 * scale};
        for (std::int32_t r = 0; r < plan.size.rows; ++r) {
            const std::int32_t* cells = raw_grid[static_cast<std::size_t>(r)];
            for (std::int32_t c = 0; c < plan.size.columns; ++c) {
                if (cells[c] <= valid_above) continue;
                own.min_elevation = std::min(own.min_elevation, cells[c]);
                own.max_elevation = std::max(own.max_elevation, cells[c]);
            }
        }
        extremes = {own.max_elevation / scale, own.min_elevation / scale};
    }
    // In thousandths every piece was brought to metres; otherwise the pieces share one unit.
    merged.decoded.unit_m = thousandths ? 1.0 : plan.pieces.front().unit_m;
    merged.decoded.posting_m = plan.posting_m;
    return merged;
}

bool decodesAsItResamples(const MergePlan& plan) {
    return std::none_of(plan.pieces.begin(), plan.pieces.end(),
                        [](const MergePiece& piece) { return piece.resampled; });
}

namespace {

// One piece's rows, opened when the first block it reaches is made, read on as the rows of the
// merged grid are needed, and left as soon as the last row the grid needs is read.
struct PieceRows {
    const MergePiece* piece = nullptr;
    std::optional<RowSource> rows;
    HeldEvents events;
    PieceSpan span;
    std::int32_t next = 0;  // the span's rows given so far
    bool ended = false;
    std::vector<std::int32_t> block;  // the grid's rows of this block, the span's columns only
    // A failure when its source was not read, which ends the merge: a source left void is data
    // lost.
    Status read;
};

}  // namespace

Result<MergedGrid> decodeMergedResampled(const MergePlan& plan, const GridSize& into,
                                         bool thousandths, EventSink& events, unsigned threads) {
    Result<DecodedGrid> decoded = allocateDecodedGrid(into, thousandths);
    if (!decoded) return decoded.error();
    prefetchWindows(plan);
    MergedGrid merged{std::move(*decoded), 0};
    const std::int32_t scale = thousandths ? kThousandths : 1;
    const std::int32_t valid_above = kVoidThreshold * scale;
    const GridSize& from = plan.size;
    const auto columns = static_cast<std::size_t>(from.columns);

    std::vector<PieceRows> pieces(plan.pieces.size());
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        PieceRows& p = pieces[k];
        p.piece = &plan.pieces[k];
        p.span = spanOf(plan, *p.piece);
        p.ended = p.span.cells.rows == 0 || p.span.cells.columns == 0;  // the crop leaves it out
    }

    // The span's rows that land on grid rows [begin, end), into its block buffer.
    const auto decodeBlock = [&](PieceRows& p, std::int32_t begin, std::int32_t end) {
        const MergePiece& piece = *p.piece;
        const std::int32_t width = p.span.cells.columns;
        p.block.assign(static_cast<std::size_t>(end - begin) * static_cast<std::size_t>(width),
                       kNoData * scale);
        // Opened when the blocks reach it, so that only the pieces across a block are open.
        if (!p.ended && !p.rows) {
            Result<RowSource> opened = openSpan(piece, p.span, thousandths, p.events);
            if (!opened) {
                p.read = opened.error();
                p.ended = true;
            } else {
                p.rows.emplace(std::move(*opened));
            }
        }
        const double to_metres = thousandths ? piece.unit_m : 1.0;
        const std::int32_t stop = std::min(p.span.cells.rows, end - p.span.at_row);
        while (!p.ended && p.next < stop) {
            const std::int32_t at = p.span.at_row + p.next - begin;
            std::int32_t* cells = p.block.data() + static_cast<std::ptrdiff_t>(at) * width;
            if (!p.rows->next(cells)) {
                p.ended = true;
                break;
            }
            yieldToOwners(piece, p.span.cells.first_row + p.next, p.span.cells.first_column, cells,
                          p.span.cells.columns, kNoData * scale);
            shiftHeights(piece, p.span.cells.first_row + p.next, p.span.cells.first_column, cells,
                         width, scale, valid_above);
            toMetres(cells, static_cast<std::size_t>(width), to_metres, valid_above);
            ++p.next;
        }
        if (p.rows && (p.ended || p.next >= p.span.cells.rows)) {
            p.read = p.rows->read();
            p.rows.reset();  // no more rows needed
            p.ended = true;
        }
    };

    // Grid rows come in blocks; each new row is made once the rows it draws on are there.
    const RowResampler resampler(from, into, valid_above, kNoData * scale);
    constexpr std::int32_t kBlockRows = 64;
    std::deque<std::vector<std::int32_t>> kept;  // grid rows [kept_first, produced)
    std::int32_t kept_first = 0, produced = 0;
    std::vector<const std::int32_t*> rows;
    std::vector<std::size_t> touching;
    std::int32_t next_out = 0;
    while (next_out < into.rows) {
        const std::int32_t begin = produced;
        if (begin >= from.rows) break;  // cannot be: the last new row draws on the last row
        const std::int32_t end = std::min(from.rows, begin + kBlockRows);
        touching.clear();
        for (std::size_t k = 0; k < pieces.size(); ++k) {
            const PieceRows& p = pieces[k];
            const std::int32_t last = p.span.at_row + p.span.cells.rows;
            if (!p.ended && p.span.at_row < end && last > begin) touching.push_back(k);
        }
        // The pieces' records are read and decoded on every core; they are laid in their order.
        // Memory that cannot be had on either thread ends the merge with a line, never the
        // process.
        std::atomic<std::size_t> next_piece{0};
        std::vector<char> no_memory(touching.size(), 0);
        const auto work = [&] {
            for (std::size_t t; (t = next_piece++) < touching.size();) {
                try {
                    decodeBlock(pieces[touching[t]], begin, end);
                } catch (const std::bad_alloc&) {
                    no_memory[t] = 1;
                }
            }
        };
        std::optional<std::thread> helper;
        if (threads != 1 && std::thread::hardware_concurrency() > 1 && touching.size() > 1) {
            try {
                helper.emplace(work);
            } catch (const std::system_error&) {
                // No second thread to be had: this one decodes them all.
            }
        }
        work();
        if (helper) helper->join();
        for (std::size_t t = 0; t < touching.size(); ++t) {
            const PieceRows& p = pieces[touching[t]];
            if (no_memory[t]) {
                return failure(p.piece->source + ": not enough memory to decode its rows " +
                               std::to_string(begin) + " to " + std::to_string(end - 1) +
                               " of the merged grid");
            }
            if (!p.read) return p.read.error();  // the module's name begins with its source's
        }
        for (std::int32_t r = begin; r < end; ++r) {
            kept.emplace_back(columns, kNoData * scale);
        }
        for (const std::size_t k : touching) {
            PieceRows& p = pieces[k];
            p.events.tellTo(events);
            const std::int32_t width = p.span.cells.columns;
            const std::int32_t from_row = std::max(begin, p.span.at_row);
            const std::int32_t to_row = std::min(end, p.span.at_row + p.span.cells.rows);
            for (std::int32_t r = from_row; r < to_row; ++r) {
                std::int32_t* cells = kept[static_cast<std::size_t>(r - kept_first)].data();
                const std::int32_t* source =
                    p.block.data() + static_cast<std::ptrdiff_t>(r - begin) * width;
                merged.disagreements +=
                    overlayRow(source, cells + p.span.at_column, width, valid_above);
            }
        }
        produced = end;
        // Every new row whose source rows are all there.
        while (next_out < into.rows && resampler.lastRow(next_out) < produced) {
            rows.clear();
            for (std::int32_t r = resampler.firstRow(next_out); r <= resampler.lastRow(next_out);
                 ++r) {
                rows.push_back(kept[static_cast<std::size_t>(r - kept_first)].data());
            }
            resampler.row(next_out, rows.data(),
                          merged.decoded.grid[static_cast<std::size_t>(next_out)]);
            ++next_out;
            const std::int32_t needed =
                next_out < into.rows ? resampler.firstRow(next_out) : produced;
            while (kept_first < needed) {
                kept.pop_front();
                ++kept_first;
            }
        }
    }
    for (PieceRows& p : pieces) p.events.tellTo(events);
    merged.decoded.unit_m = thousandths ? 1.0 : plan.pieces.front().unit_m;
    merged.decoded.posting_m = plan.posting_m;
    return merged;
}

Result<GridPlacement> mergedPlacement(const MergePlan& plan) {
    const Result<int> epsg = planEpsg(plan);
    if (!epsg) return epsg.error();
    const double posting = plan.posting_m;
    return GridPlacement{*epsg, {plan.top_left.x, posting, 0, plan.top_left.y, 0, -posting}};
}

}  // namespace marlwood
