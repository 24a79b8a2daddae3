#pragma once

#include <vector>

#include "pipeline/formats.h"

// Meshes written from a prepared terrain: a printable STL solid, or a glTF binary or OBJ surface
// with its JSON sidecar.
namespace marlwood {

// The mesh formats' rows of the format table: stl, glb and obj, each with its own writer and the
// options it takes (--max-error; --print-size, --z-scale, --base and --tiles for the STL).
std::vector<OutputFormat> meshFormats();

}  // namespace marlwood
