#pragma once

#include <vector>

#include "pipeline/formats.h"

// An engine heightmap written from a prepared terrain: the file or its tiles, and the sidecar.
namespace marlwood {

// The heightmap formats' rows of the format table: png16, r16 and unity, each with its own
// writer, the options it takes (--tiles, --cs2-height-scale; --byte-order for the raw ones) and
// its checks; then exr, metres as 32-bit floats.
std::vector<OutputFormat> heightmapFormats();

}  // namespace marlwood
