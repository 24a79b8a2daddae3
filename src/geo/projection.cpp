#include "geo/projection.h"

#include <cmath>
#include <memory>
#include <string>

#include "geo/proj_library.h"

namespace marlwood {

Result<std::vector<GroundPoint>> projectDegrees(int geographic, int projected,
                                                std::span<const Degrees> points) {
    if (points.empty()) return std::vector<GroundPoint>{};
    const Result<const geo_detail::ProjLibrary*> loaded = geo_detail::projLibrary();
    if (!loaded) return loaded.error();
    const geo_detail::ProjLibrary* proj = *loaded;
    // A context per call: conversions run on several threads, and a context is not shared.
    const std::unique_ptr<PJ_CONTEXT, decltype(proj->context_destroy)> context(
        proj->context_create(), proj->context_destroy);
    if (!context) return failure("PROJ could not start");
    // Problems come back as this function's one line, not as PROJ's own on standard error.
    proj->log_level(context.get(), PJ_LOG_NONE);
    const std::string from = "EPSG:" + std::to_string(geographic);
    const std::string to = "EPSG:" + std::to_string(projected);
    const auto fail = [&](const std::string& what) -> Result<std::vector<GroundPoint>> {
        const char* why =
            proj->context_errno_string(context.get(), proj->context_errno(context.get()));
        return failure("PROJ " + what + " from " + from + " to " + to +
                       (why != nullptr ? std::string(": ") + why : std::string()));
    };
    const auto destroy = [proj](PJ* p) { proj->destroy(p); };
    const std::unique_ptr<PJ, decltype(destroy)> raw(
        proj->create_crs_to_crs(context.get(), from.c_str(), to.c_str(), nullptr), destroy);
    if (!raw) return fail("cannot project");
    // EPSG gives geographic coordinates latitude first; these are longitude first.
    const std::unique_ptr<PJ, decltype(destroy)> transform(
        proj->normalize_for_visualization(context.get(), raw.get()), destroy);
    if (!transform) return fail("cannot project");
    std::vector<GroundPoint> out;
    out.reserve(points.size());
    for (const Degrees& d : points) out.push_back({d.longitude, d.latitude});
    proj->trans_generic(transform.get(), PJ_FWD, &out[0].x, sizeof(GroundPoint), out.size(),
                        &out[0].y, sizeof(GroundPoint), out.size(), nullptr, 0, 0, nullptr, 0, 0);
    for (const GroundPoint& p : out) {
        // PROJ marks a point it could not project with HUGE_VAL.
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || std::abs(p.x) > 1e10 ||
            std::abs(p.y) > 1e10) {
            return fail("cannot project every point of the area");
        }
    }
    return out;
}

}  // namespace marlwood
