// The build without PROJ (the Windows build): crops by place and merges across zones are refused
// with a line that says where they can be had.
#include "geo/projection.h"

namespace marlwood {

struct Reprojection::Held {};

Reprojection::Reprojection(std::unique_ptr<Held> held) : held_(std::move(held)) {}
Reprojection::Reprojection(Reprojection&&) noexcept = default;
Reprojection& Reprojection::operator=(Reprojection&&) noexcept = default;
Reprojection::~Reprojection() = default;

Result<Reprojection> Reprojection::between(int, int) {
    return failure(
        "--bbox, --centre and merges across UTM zones need the Linux build of marlwood (this one "
        "has no PROJ)");
}

Status Reprojection::apply(std::span<GroundPoint>, bool) const {
    return failure("this build of marlwood has no PROJ");
}

Result<const Reprojection*> Reprojections::between(int from, int to) {
    for (const Made& m : made_) {
        if (m.from == from && m.to == to) return &m.reprojection;
    }
    Result<Reprojection> made = Reprojection::between(from, to);
    if (!made) return made.error();
    made_.push_back({from, to, std::move(*made)});
    return &made_.back().reprojection;
}

Result<std::vector<GroundPoint>> projectDegrees(int, int, std::span<const Degrees>) {
    return failure("--bbox and --centre need the Linux build of marlwood (this one has no PROJ)");
}

}  // namespace marlwood
