// The one terrain of synthetic transfers, at every size: the bundled sample, the benchmarks, the
// tests and the fuzz seeds.
#pragma once

#include <string>

#include "sdts_writer.h"

namespace marlwood::testsupport {

// The synthetic ground in metres at (u, v) in [0, 1]^2, u east and v north: hills, a winding
// river valley, a flat lake and noise down to a few cells of a quad. Continuous, so windows cut
// from it share their edges.
double terrain(double u, double v);

// A quad of the given size: hills, a river valley winding into a flat lake, roughness down to a
// few cells, fill outside the quad's slightly rotated trapezoid (in a small grid, its edges) and,
// from 8 rows up, a small void patch inside it. BI16 holds whole metres, BFP32 keeps the
// fractions. Fixed arithmetic only, so every machine gets the same bytes. The default layout is
// the one USGS delivered: one 'R' record, then records without leader.
Transfer makeQuad(int rows, int columns, CellFormat format, int spacing_m = 30,
                  const std::string& file_id = "7018",
                  Cel0Layout layout = Cel0Layout::RThenLeaderless);

}  // namespace marlwood::testsupport
