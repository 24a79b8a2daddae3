// make_neighbours <dir> <four digits> <10m|30m> <grid rows>x<grid columns> [<rows>x<columns>]
//
// Writes neighbouring transfers for --merge: a grid of windows cut from one synthetic terrain,
// each window sharing its last row and column with the next, numbered row by row from the four
// digits. 10m windows are BFP32, 30m BI16; each window is rows x columns cells, by default the
// size of a full quad (1391 x 1087 at 10 m, 467 x 323 at 30 m). Prints one line for scripts:
// the merged grid's rows and columns, then the module prefixes in order.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "neighbours.h"
#include "quad_terrain.h"

namespace {

bool parsePair(const char* text, int& a, int& b) {
    char end = 0;
    return std::sscanf(text, "%dx%d%c", &a, &b, &end) == 2 && a > 0 && b > 0;
}

}  // namespace

int main(int argc, char** argv) {
    namespace ts = marlwood::testsupport;
    int grid_rows = 0, grid_columns = 0, rows = 0, columns = 0;
    const std::string posting = argc > 3 ? argv[3] : "";
    const bool ten = posting == "10m";
    if (ten || posting == "30m") {
        rows = ten ? 1391 : 467;
        columns = ten ? 1087 : 323;
    }
    const std::string digits = argc > 2 ? argv[2] : "";
    if ((argc != 5 && argc != 6) || digits.size() != 4 ||
        digits.find_first_not_of("0123456789") != std::string::npos || rows == 0 ||
        !parsePair(argv[4], grid_rows, grid_columns) ||
        (argc == 6 && !parsePair(argv[5], rows, columns)) ||
        std::stoi(digits) + grid_rows * grid_columns > 10000) {
        std::fprintf(stderr,
                     "usage: make_neighbours <dir> <four digits> <10m|30m> <grid rows>x<grid "
                     "columns> [<rows>x<columns>]\n");
        return 2;
    }
    const int first_id = std::stoi(digits);
    try {
        const std::filesystem::path dir = argv[1];
        std::filesystem::create_directories(dir);
        const int whole_rows = grid_rows * (rows - 1) + 1;
        const int whole_columns = grid_columns * (columns - 1) + 1;
        const ts::Transfer whole = ts::makeQuad(whole_rows, whole_columns,
                                                ten ? ts::CellFormat::Bfp32 : ts::CellFormat::Bi16,
                                                ten ? 10 : 30, argv[2]);
        std::printf("%d %d", whole_rows, whole_columns);
        for (int i = 0; i < grid_rows * grid_columns; ++i) {
            char id[8];
            std::snprintf(id, sizeof id, "%04d", first_id + i);
            const ts::Window w{i / grid_columns * (rows - 1), i % grid_columns * (columns - 1),
                               rows, columns};
            const std::string prefix = (dir / id).string();
            ts::writeModules(prefix, ts::buildModules(ts::cutWindow(whole, w, id)));
            std::printf(" %s", prefix.c_str());
        }
        std::printf("\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_neighbours: %s\n", e.what());
        return 1;
    }
    return 0;
}
