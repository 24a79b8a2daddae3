// Full-size synthetic 7.5-minute transfers for the benchmarks and the comparison script.
//
// The grids have the shape of real quads (1,391 x 1,087 at 10 m, 467 x 323 at 30 m), CEL0 laid
// out as one 'R' record and then records without leader, with terrain that varies from cell to
// cell, fill outside the quad's trapezoid and a small void patch. Everything is generated from
// fixed arithmetic, so every machine times the same bytes.
#pragma once

#include <cstdint>
#include <string>

#include "sdts_writer.h"

namespace marlwood::bench {

enum class Quad { Bfp32At10m, Bi16At30m };

struct QuadTransfer {
    testsupport::Transfer transfer;
    // Lowest and highest valid elevation as stored (before any truncation), for tools that need
    // the span of the data.
    double min_elevation = 0;
    double max_elevation = 0;
};

QuadTransfer makeQuadTransfer(Quad quad, const std::string& file_id);

// Parses "10m" or "30m"; false for anything else.
bool parseQuad(const std::string& text, Quad& quad);

}  // namespace marlwood::bench
