// make_sample <dir> <four digits>
//
// Writes the bundled sample transfer: a synthetic 341 x 257 quad at 30 m, BI16 metres, CEL0 as
// one 'R' record followed by records without leader, like USGS delivered them.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "quad_terrain.h"

int main(int argc, char** argv) {
    namespace ts = marlwood::testsupport;
    const auto four_digits = [](const std::string& s) {
        return s.size() == 4 && std::all_of(s.begin(), s.end(),
                                            [](unsigned char c) { return c >= '0' && c <= '9'; });
    };
    if (argc != 3 || !four_digits(argv[2])) {
        std::fprintf(stderr, "usage: make_sample <dir> <four digits>\n");
        return 2;
    }
    try {
        const std::filesystem::path dir = argv[1];
        std::filesystem::create_directories(dir);
        const std::string prefix = (dir / argv[2]).string();
        ts::writeModules(
            prefix, ts::buildModules(ts::makeQuad(341, 257, ts::CellFormat::Bi16, 30, argv[2])));
        std::printf("wrote %s\n", prefix.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_sample: %s\n", e.what());
        return 1;
    }
    return 0;
}
