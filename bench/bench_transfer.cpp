#include "bench_transfer.h"

#include <algorithm>
#include <limits>

#include "quad_terrain.h"

namespace marlwood::bench {

bool parseQuad(const std::string& text, Quad& quad) {
    if (text == "10m") {
        quad = Quad::Bfp32At10m;
        return true;
    }
    if (text == "30m") {
        quad = Quad::Bi16At30m;
        return true;
    }
    return false;
}

QuadTransfer makeQuadTransfer(Quad quad, const std::string& file_id) {
    using testsupport::CellFormat;
    QuadTransfer q;
    q.transfer = quad == Quad::Bfp32At10m
                     ? testsupport::makeQuad(1391, 1087, CellFormat::Bfp32, 10, file_id)
                     : testsupport::makeQuad(467, 323, CellFormat::Bi16, 30, file_id);
    q.min_elevation = std::numeric_limits<double>::max();
    q.max_elevation = std::numeric_limits<double>::lowest();
    for (double z : q.transfer.elevations) {
        if (z <= -1000) continue;  // fill and void
        // What the module holds: BFP32 keeps the nearest float.
        const double stored = static_cast<double>(static_cast<float>(z));
        q.min_elevation = std::min(q.min_elevation, stored);
        q.max_elevation = std::max(q.max_elevation, stored);
    }
    return q;
}

}  // namespace marlwood::bench
