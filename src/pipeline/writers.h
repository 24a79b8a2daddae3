#pragma once

#include <ostream>
#include <string>

#include "common/result.h"
#include "pipeline/terrain.h"

// The third step: a prepared terrain written by a writer (each a row of pipeline/formats.h).
namespace marlwood {

// The .ter file's bytes, header then heights (the southern row first), to an open stream: the
// dialogue's own file. The stream's state tells whether every byte went.
void writeTer(std::ostream& out, const Terrain& terrain);

// The GeoTIFF: the grid's elevations in metres as Float32, voids as its NoData value, placed
// where the grid lies.
Status writeGeoTiffFile(const std::string& path, const Terrain& terrain);

// The PNG picture of the heights as written, north up.
Status writePreviewFile(const std::string& png_path, const Terrain& terrain);

}  // namespace marlwood
