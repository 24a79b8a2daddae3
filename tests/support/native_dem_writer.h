// Writes USGS native DEMs for the tests: record A, then one record B per profile, each record
// padded to 1024 bytes and followed by `line_end`.
#pragma once

#include <string>
#include <vector>

namespace marlwood::testsupport {

struct DemProfile {
    double x = 0, y = 0;  // the first (southernmost) point
    std::vector<int> values;
    double datum = 0;
};

struct DemContents {
    std::string name = "TEST QUAD";
    int reference_system = 1, zone = 15, ground_unit = 2, elevation_unit = 1;
    int horizontal_datum = 1;
    double dx = 30, dy = 30, dz = 1;
    std::vector<DemProfile> profiles;
    int profiles_in_a = -1;  // what record A says; -1: as many as there are
    std::string line_end;    // "", "\n" or "\r\n"
};

// A Fortran D24.15 field: 24 characters, the exponent written with D.
std::string fortranReal(double v, int width = 24, int decimals = 15);

std::string nativeDem(const DemContents& model);

// Profiles of a quad whose edges are not on the lattice: column c starts `start_rows[c]` rows
// north of the lattice's southern row and holds `lengths[c]` points; values count up from `base`.
DemContents quadShapedDem(const std::vector<int>& start_rows, const std::vector<int>& lengths,
                          int base);

// A geographic DEM as the 1-degree series lays one out: `columns` profiles of `rows` points,
// `spacing` arc-seconds apart both ways, the south-west point at (`west`, `south`) arc-seconds;
// point k of profile c holds c + 2 * k.
DemContents geographicDem(int columns, int rows, double spacing, double west, double south);

}  // namespace marlwood::testsupport
