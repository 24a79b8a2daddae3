// Synthetic transfers with terrain: realistic quads for the bundled sample and the benchmarks,
// small ones for damage and fuzz tests.
#pragma once

#include <string>

#include "sdts_writer.h"

namespace marlwood::testsupport {

// A quad of the given size laid out as USGS delivered them (one 'R' record, then records without
// leader): hills, a river valley winding into a flat lake, roughness down to a few cells, fill
// outside the quad's slightly rotated trapezoid and a small void patch inside it. BI16 holds whole
// metres, BFP32 keeps the fractions. Fixed arithmetic only, so every machine gets the same bytes.
Transfer makeQuad(int rows, int columns, CellFormat format, int spacing_m,
                  const std::string& file_id);

// A small transfer for damage and fuzz tests: a slope, a ridge every 11 columns and void cells on
// its west edge.
Transfer smallTransfer(int rows, int columns, CellFormat format, Cel0Layout layout,
                       int spacing_m = 30);

}  // namespace marlwood::testsupport
