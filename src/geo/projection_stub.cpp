// A build without PROJ (a Windows build made without tools/windows-deps): crops by place are
// refused with a line that says why.
#include "geo/projection.h"

namespace marlwood {

Result<std::vector<GroundPoint>> projectDegrees(int, int, std::span<const Degrees>) {
    return failure("--bbox and --centre need PROJ, which this build of marlwood lacks");
}

}  // namespace marlwood
