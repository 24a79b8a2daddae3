// The build without PROJ (the Windows build): crops by place are refused with a line that says
// where they can be had.
#include "geo/projection.h"

namespace marlwood {

Result<std::vector<GroundPoint>> projectDegrees(int, int, std::span<const Degrees>) {
    return failure("--bbox and --centre need the Linux build of marlwood (this one has no PROJ)");
}

}  // namespace marlwood
