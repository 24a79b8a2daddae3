#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "mesh/tin.h"

// Meshes made from a triangulated terrain and the bytes of the files that hold them: a closed
// solid in millimetres for printing (binary STL), a surface in metres for Blender and engines
// (glTF binary, OBJ).
namespace marlwood {

struct Mesh {
    std::vector<std::array<float, 3>> positions;
    std::vector<std::array<float, 3>> normals;  // one a vertex, or none
    // One a vertex, or none: (0, 0) the picture's north-west corner, (1, 1) its south-east one.
    std::vector<std::array<float, 2>> texture_coordinates;
    // Three a triangle, counter-clockwise seen from outside (from above, for a surface).
    std::vector<std::uint32_t> triangles;
};

// How a terrain (or one of its tiles) is scaled into a printable solid: x east, y north, z up,
// in millimetres from the whole terrain's south-west corner and the base's underside.
struct PrintFrame {
    double posting_x_m = 0, posting_y_m = 0;
    double mm_per_m = 1;  // horizontal scale
    double z_scale = 1;   // vertical exaggeration
    double lowest_m = 0;  // the lowest elevation of the whole terrain
    double base_mm = 1;   // below it; above 0, so that no wall has a side of no height
    std::int32_t first_column = 0, first_row = 0;  // of the tile in the whole grid
    std::int32_t rows = 0;                         // of the whole grid
};

// The closed solid of `tin` over `field`: the surface, a wall along each side through the
// surface's border points, and a base fanned from its centre. Every edge joins exactly two
// facets, each facet faces outward and none is degenerate.
Mesh printSolid(const HeightField& field, const Tin& tin, const PrintFrame& frame);

// The surface of `tin` in metres as glTF lays it out: x east, y up (the elevation), z south, from
// grid point (0, 0), the north-west one; normals from the grid's own slopes at each vertex.
Mesh surfaceMesh(const HeightField& field, const Tin& tin, double posting_x_m, double posting_y_m);

// Texture coordinates of a picture of the whole field, north up, whose pixels each cover a block
// of grid points: each vertex at the centre of its point's share of the picture.
void addTextureCoordinates(Mesh& mesh, const HeightField& field, const Tin& tin);

// Binary STL: a header naming the solid, then each facet with its normal.
void writeStl(std::ostream& out, const Mesh& mesh, const std::string& name);
// glTF 2.0 binary: one mesh of positions, normals and 32-bit indices, a plain matte material;
// with `png` (and the mesh's texture coordinates) that picture, held in the file, as the
// material's colour.
void writeGlb(std::ostream& out, const Mesh& mesh, const std::string& png = {});
// Wavefront OBJ: positions to the millimetre, normals, faces (indices from 1).
void writeObj(std::ostream& out, const Mesh& mesh, const std::string& comment);

}  // namespace marlwood
