#include "geo/projection.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "geo/proj_library.h"
#include "platform/platform.h"

namespace marlwood {

namespace {

std::filesystem::path pathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string textOf(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// PROJ's own data folder, where its proj.db is (PROJ_DATA's, the installed one, or beside
// marlwood.exe): asked once of a context that still has PROJ's own search paths.
const std::string& projDataFolder(const geo_detail::ProjLibrary& proj) {
    static const std::string folder = [&proj] {
        PJ_CONTEXT* context = proj.context_create();
        if (context == nullptr) return std::string();
        proj.log_level(context, PJ_LOG_NONE);
        const char* database = proj.context_get_database_path(context);
        std::string path = database != nullptr ? database : "";
        proj.context_destroy(context);
        const std::size_t slash = path.find_last_of("/\\");
        return slash == std::string::npos ? std::string() : path.substr(0, slash);
    }();
    return folder;
}

// Every context looks for grids in marlwood's folder first, then in PROJ's own, where proj.db
// is; never on the network, so a run does the same with or without one.
void useOwnFolders(const geo_detail::ProjLibrary& proj, PJ_CONTEXT* context) {
    proj.log_level(context, PJ_LOG_NONE);
    proj.context_set_enable_network(context, 0);
    const std::string grids = datumGridFolder();
    const std::string& own = projDataFolder(proj);
    std::vector<const char*> paths;
    if (!grids.empty()) paths.push_back(grids.c_str());
    if (!own.empty()) paths.push_back(own.c_str());
    if (!paths.empty()) {
        proj.context_set_search_paths(context, static_cast<int>(paths.size()), paths.data());
    }
}

bool isDatumGrid(const char* name) {
    if (name == nullptr) return false;
    for (std::string_view grid : kDatumGrids) {
        if (grid == name) return true;
    }
    return false;
}

std::string degreesText(const DegreeBox& b) {
    char text[96];
    std::snprintf(text, sizeof text, "%.6g,%.6g,%.6g,%.6g", b.west, b.south, b.east, b.north);
    return text;
}

}  // namespace

std::string datumGridFolder() {
    if (const char* named = std::getenv("MARLWOOD_PROJ_GRIDS"); named != nullptr && *named != 0) {
        return named;
    }
    const std::string program = executableFolder();
    if (program.empty()) return {};
    std::error_code error;
    const std::filesystem::path beside = pathOf(program) / "proj-grids";
    if (std::filesystem::is_directory(beside, error)) return textOf(beside);
    return textOf(
        (pathOf(program) / ".." / "share" / "marlwood" / "proj-grids").lexically_normal());
}

struct Reprojection::Held {
    const geo_detail::ProjLibrary* proj = nullptr;
    PJ_CONTEXT* context = nullptr;
    PJ* transform = nullptr;
    std::string from, to;

    Held(const geo_detail::ProjLibrary* p, std::string from_name, std::string to_name)
        : proj(p),
          context(p->context_create()),
          from(std::move(from_name)),
          to(std::move(to_name)) {}
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held() {
        if (transform != nullptr) proj->destroy(transform);
        if (context != nullptr) proj->context_destroy(context);
    }
    Error failed(const std::string& what) const {
        const char* why = proj->context_errno_string(context, proj->context_errno(context));
        return Error{"PROJ " + what + " from " + from + " to " + to +
                     (why != nullptr ? std::string(": ") + why : std::string())};
    }
};

Reprojection::Reprojection(std::unique_ptr<Held> held) : held_(std::move(held)) {}
Reprojection::Reprojection(Reprojection&&) noexcept = default;
Reprojection& Reprojection::operator=(Reprojection&&) noexcept = default;
Reprojection::~Reprojection() = default;

// A new transformation's context, set up; an Error when PROJ cannot be had.
Result<std::unique_ptr<Reprojection::Held>> Reprojection::started(const std::string& from,
                                                                  const std::string& to) {
    const Result<const geo_detail::ProjLibrary*> loaded = geo_detail::projLibrary();
    if (!loaded) return loaded.error();
    auto held = std::make_unique<Held>(*loaded, from, to);
    // A context per transformation: conversions run on several threads, and a context is not
    // shared.
    if (held->context == nullptr) return failure("PROJ could not start");
    // Problems come back as this function's one line, not as PROJ's own on standard error.
    useOwnFolders(**loaded, held->context);
    return held;
}

Result<Reprojection> Reprojection::between(int from, int to) {
    Result<std::unique_ptr<Held>> started_held =
        started("EPSG:" + std::to_string(from), "EPSG:" + std::to_string(to));
    if (!started_held) return started_held.error();
    std::unique_ptr<Held> held = std::move(*started_held);
    const geo_detail::ProjLibrary* proj = held->proj;
    PJ* raw = proj->create_crs_to_crs(held->context, held->from.c_str(), held->to.c_str(), nullptr);
    if (raw == nullptr) return held->failed("cannot project");
    // EPSG gives geographic coordinates latitude first; ours are longitude first.
    held->transform = proj->normalize_for_visualization(held->context, raw);
    proj->destroy(raw);
    if (held->transform == nullptr) return held->failed("cannot project");
    return Reprojection(std::move(held));
}

Result<Reprojection> Reprojection::forArea(int from, int to, const DegreeBox& area) {
    return forArea("EPSG:" + std::to_string(from), "EPSG:" + std::to_string(to), area);
}

Result<Reprojection> Reprojection::forArea(const std::string& from, const std::string& to,
                                           const DegreeBox& area_given, DatumGrid needed) {
    const bool grid_required = needed == DatumGrid::Always;
    // PROJ ranks candidates by how much of the area they cover, which a point or a line does not
    // tell: it is widened to a hundredth of a degree.
    DegreeBox area = area_given;
    constexpr double kNarrowest = 0.01;
    if (!(area.east - area.west >= kNarrowest)) {
        const double middle = (area.west + area.east) / 2;
        area.west = middle - kNarrowest / 2;
        area.east = middle + kNarrowest / 2;
    }
    if (!(area.north - area.south >= kNarrowest)) {
        const double middle = (area.south + area.north) / 2;
        area.south = middle - kNarrowest / 2;
        area.north = middle + kNarrowest / 2;
    }
    Result<std::unique_ptr<Held>> started_held = started(from, to);
    if (!started_held) return started_held.error();
    std::unique_ptr<Held> held = std::move(*started_held);
    const geo_detail::ProjLibrary& proj = *held->proj;
    PJ_CONTEXT* const context = held->context;
    const auto destroy = [&proj](PJ* p) {
        if (p != nullptr) proj.destroy(p);
    };
    const auto destroy_list = [&proj](PJ_OBJ_LIST* l) {
        if (l != nullptr) proj.list_destroy(l);
    };
    using Owned = std::unique_ptr<PJ, decltype(destroy)>;
    using OwnedList = std::unique_ptr<PJ_OBJ_LIST, decltype(destroy_list)>;
    const Owned source(proj.create(context, from.c_str()), destroy);
    const Owned target(proj.create(context, to.c_str()), destroy);
    if (!source || !target) return held->failed("cannot transform");
    // Each candidate for the area, best first, as PROJ sorts them: with every grid as if found,
    // or only those whose grids are found.
    const auto candidates = [&](PROJ_GRID_AVAILABILITY_USE use) {
        PJ_OPERATION_FACTORY_CONTEXT* factory =
            proj.create_operation_factory_context(context, nullptr);
        if (factory == nullptr) return OwnedList(nullptr, destroy_list);
        proj.operation_factory_context_set_area_of_interest(context, factory, area.west, area.south,
                                                            area.east, area.north);
        proj.operation_factory_context_set_spatial_criterion(
            context, factory, PROJ_SPATIAL_CRITERION_PARTIAL_INTERSECTION);
        proj.operation_factory_context_set_grid_availability_use(context, factory, use);
        OwnedList list(proj.create_operations(context, source.get(), target.get(), factory),
                       destroy_list);
        proj.operation_factory_context_destroy(factory);
        return list;
    };
    // marlwood's grids an operation uses.
    const auto own_grids = [&](const PJ* operation) {
        std::vector<std::string> names;
        const int grids = proj.coordoperation_get_grid_used_count(context, operation);
        for (int i = 0; i < grids; ++i) {
            const char* name = nullptr;
            if (proj.coordoperation_get_grid_used(context, operation, i, &name, nullptr, nullptr,
                                                  nullptr, nullptr, nullptr, nullptr) != 0 &&
                isDatumGrid(name)) {
                names.emplace_back(name);
            }
        }
        return names;
    };
    // marlwood's grids that the best candidate using any of them uses: as if every grid were
    // found, PROJ's sort puts it first among those.
    std::vector<std::string> best_uses;
    if (const OwnedList all = candidates(PROJ_GRID_AVAILABILITY_IGNORED)) {
        const int count = proj.list_get_count(all.get());
        for (int i = 0; i < count && best_uses.empty(); ++i) {
            const Owned operation(proj.list_get(context, all.get(), i), destroy);
            if (operation) best_uses = own_grids(operation.get());
        }
    }
    const OwnedList found = candidates(PROJ_GRID_AVAILABILITY_DISCARD_OPERATION_IF_MISSING_GRID);
    Owned picked(found && proj.list_get_count(found.get()) > 0
                     ? proj.list_get(context, found.get(), 0)
                     : nullptr,
                 destroy);
    if (!picked) return held->failed("finds no transformation");
    // The pick must use every one of them: a pick through NADCON alone would leave heights
    // unshifted when VERTCON is not found.
    const std::vector<std::string> used = own_grids(picked.get());
    std::vector<std::string> lacking;
    for (const std::string& grid : best_uses) {
        if (std::find(used.begin(), used.end(), grid) == used.end()) lacking.push_back(grid);
    }
    if (!lacking.empty() || (grid_required && used.empty())) {
        const char* name = proj.get_name(picked.get());
        const std::string instead = " (PROJ would take " + from + " to " + to + " by \"" +
                                    (name != nullptr ? name : "another transformation") +
                                    "\" instead)";
        if (lacking.empty()) {
            return failure("no datum grid of marlwood's takes " + from + " to " + to + " at " +
                           degreesText(area) + instead);
        }
        std::string grids = lacking.front();
        for (std::size_t i = 1; i < lacking.size(); ++i) {
            grids += (i + 1 < lacking.size() ? ", " : " and ") + lacking[i];
        }
        const std::string folder = datumGridFolder();
        return failure((lacking.size() > 1 ? "the datum grids " + grids + " are not in "
                                           : "the datum grid " + grids + " is not in ") +
                       (folder.empty() ? std::string("marlwood's proj-grids folder") : folder) +
                       instead);
    }
    // EPSG gives geographic coordinates latitude first; ours are longitude first.
    held->transform = proj.normalize_for_visualization(context, picked.get());
    if (held->transform == nullptr) return held->failed("cannot transform");
    return Reprojection(std::move(held));
}

Status Reprojection::apply(std::span<GroundPoint> points, bool backwards) const {
    return apply(points, {}, backwards);
}

Status Reprojection::apply(std::span<GroundPoint> points, std::span<double> heights,
                           bool backwards) const {
    if (points.empty()) return {};
    if (!heights.empty() && heights.size() != points.size()) {
        return failure("a height for every point, or none");
    }
    const geo_detail::ProjLibrary* proj = held_->proj;
    proj->trans_generic(held_->transform, backwards ? PJ_INV : PJ_FWD, &points[0].x,
                        sizeof(GroundPoint), points.size(), &points[0].y, sizeof(GroundPoint),
                        points.size(), heights.empty() ? nullptr : heights.data(), sizeof(double),
                        heights.size(), nullptr, 0, 0);
    // PROJ marks a point it could not transform with HUGE_VAL.
    const auto off = [](double v) { return !std::isfinite(v) || std::abs(v) > 1e10; };
    for (const GroundPoint& p : points) {
        if (off(p.x) || off(p.y)) return held_->failed("cannot project every point of the area");
    }
    for (double h : heights) {
        if (off(h)) return held_->failed("cannot transform every height");
    }
    return {};
}

Result<std::vector<GroundPoint>> projectDegrees(int geographic, int projected,
                                                std::span<const Degrees> points) {
    if (points.empty()) return std::vector<GroundPoint>{};
    const Result<Reprojection> reprojection = Reprojection::between(geographic, projected);
    if (!reprojection) return reprojection.error();
    std::vector<GroundPoint> out;
    out.reserve(points.size());
    for (const Degrees& d : points) out.push_back({d.longitude, d.latitude});
    if (Status done = reprojection->apply(out); !done) return done.error();
    return out;
}

Result<std::vector<double>> ngvd29ToNavd88(int geographic, std::span<const Degrees> points) {
    if (points.empty()) return std::vector<double>{};
    DegreeBox area{INFINITY, INFINITY, -INFINITY, -INFINITY};
    std::vector<GroundPoint> ground;
    ground.reserve(points.size());
    for (const Degrees& d : points) {
        if (!std::isfinite(d.longitude) || !std::isfinite(d.latitude)) {
            return failure("a point of the NGVD29 to NAVD88 shift is not a number");
        }
        area = {std::min(area.west, d.longitude), std::min(area.south, d.latitude),
                std::max(area.east, d.longitude), std::max(area.north, d.latitude)};
        ground.push_back({d.longitude, d.latitude});
    }
    // Heights on NGVD29 (EPSG:7968) to NAVD88 (EPSG:5703): VERTCON, whichever of its three grids
    // PROJ picks for the area; a pick without one would be no shift at all.
    const Result<Reprojection> shift =
        Reprojection::forArea("EPSG:" + std::to_string(geographic) + "+7968", "EPSG:4269+5703",
                              area, Reprojection::DatumGrid::Always);
    if (!shift) return shift.error();
    std::vector<double> heights(points.size(), 0.0);
    if (Status done = shift->apply(ground, heights); !done) return done.error();
    return heights;
}

}  // namespace marlwood
