// A build without PROJ (a Windows build made without tools/windows-deps): crops by place and
// merges across zones are refused with a line that says why.
#include "geo/projection.h"

namespace marlwood {

struct Reprojection::Held {};

Reprojection::Reprojection(std::unique_ptr<Held> held) : held_(std::move(held)) {}
Reprojection::Reprojection(Reprojection&&) noexcept = default;
Reprojection& Reprojection::operator=(Reprojection&&) noexcept = default;
Reprojection::~Reprojection() = default;

Result<Reprojection> Reprojection::between(int, int) {
    return failure(
        "--bbox, --centre and merges across UTM zones need PROJ, which this build of "
        "marlwood lacks");
}

Result<Reprojection> Reprojection::forArea(int from, int to, const DegreeBox&) {
    return between(from, to);
}

Result<Reprojection> Reprojection::forArea(const std::string&, const std::string&, const DegreeBox&,
                                           DatumGrid) {
    return failure("a change of datum needs PROJ, which this build of marlwood lacks");
}

Status Reprojection::apply(std::span<GroundPoint>, bool) const {
    return failure("this build of marlwood has no PROJ");
}

Status Reprojection::apply(std::span<GroundPoint>, std::span<double>, bool) const {
    return failure("this build of marlwood has no PROJ");
}

std::string datumGridFolder() {
    return {};
}

Result<std::vector<double>> ngvd29ToNavd88(int, std::span<const Degrees>) {
    return failure("the NGVD29 to NAVD88 shift needs PROJ, which this build of marlwood lacks");
}

Result<std::vector<GroundPoint>> projectDegrees(int, int, std::span<const Degrees>) {
    return failure("--bbox and --centre need PROJ, which this build of marlwood lacks");
}

}  // namespace marlwood
