#include "geo/projection.h"

#include <cmath>
#include <string>

#include "geo/proj_library.h"

namespace marlwood {

struct Reprojection::Held {
    const geo_detail::ProjLibrary* proj = nullptr;
    PJ_CONTEXT* context = nullptr;
    PJ* transform = nullptr;
    std::string from, to;

    Held(const geo_detail::ProjLibrary* p, int from_code, int to_code)
        : proj(p),
          context(p->context_create()),
          from("EPSG:" + std::to_string(from_code)),
          to("EPSG:" + std::to_string(to_code)) {}
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

Result<Reprojection> Reprojection::between(int from, int to) {
    const Result<const geo_detail::ProjLibrary*> loaded = geo_detail::projLibrary();
    if (!loaded) return loaded.error();
    auto held = std::make_unique<Held>(*loaded, from, to);
    const geo_detail::ProjLibrary* proj = held->proj;
    // A context per transformation: conversions run on several threads, and a context is not
    // shared.
    if (held->context == nullptr) return failure("PROJ could not start");
    // Problems come back as this function's one line, not as PROJ's own on standard error.
    proj->log_level(held->context, PJ_LOG_NONE);
    PJ* raw = proj->create_crs_to_crs(held->context, held->from.c_str(), held->to.c_str(), nullptr);
    if (raw == nullptr) return held->failed("cannot project");
    // EPSG gives geographic coordinates latitude first; ours are longitude first.
    held->transform = proj->normalize_for_visualization(held->context, raw);
    proj->destroy(raw);
    if (held->transform == nullptr) return held->failed("cannot project");
    return Reprojection(std::move(held));
}

Status Reprojection::apply(std::span<GroundPoint> points, bool backwards) const {
    if (points.empty()) return {};
    const geo_detail::ProjLibrary* proj = held_->proj;
    proj->trans_generic(held_->transform, backwards ? PJ_INV : PJ_FWD, &points[0].x,
                        sizeof(GroundPoint), points.size(), &points[0].y, sizeof(GroundPoint),
                        points.size(), nullptr, 0, 0, nullptr, 0, 0);
    for (const GroundPoint& p : points) {
        // PROJ marks a point it could not project with HUGE_VAL.
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || std::abs(p.x) > 1e10 ||
            std::abs(p.y) > 1e10) {
            return held_->failed("cannot project every point of the area");
        }
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

}  // namespace marlwood
