// make_bench_transfer <dir> <four digits> <10m|30m>
//
// Writes a full-size benchmark transfer (see bench_transfer.h) and prints one line for scripts:
// rows, columns, and the lowest and highest valid elevation rounded outward to whole metres.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "bench_transfer.h"

int main(int argc, char** argv) {
    marlwood::bench::Quad quad{};
    const auto fourDigits = [](const std::string& s) {
        return s.size() == 4 && std::all_of(s.begin(), s.end(),
                                            [](unsigned char c) { return c >= '0' && c <= '9'; });
    };
    if (argc != 4 || !fourDigits(argv[2]) || !marlwood::bench::parseQuad(argv[3], quad)) {
        std::fprintf(stderr, "usage: make_bench_transfer <dir> <four digits> <10m|30m>\n");
        return 2;
    }
    try {
        const std::filesystem::path dir = argv[1];
        std::filesystem::create_directories(dir);
        const auto q = marlwood::bench::makeQuadTransfer(quad, argv[2]);
        marlwood::testsupport::writeModules((dir / argv[2]).string(),
                                            marlwood::testsupport::buildModules(q.transfer));
        std::printf("%d %d %.0f %.0f\n", q.transfer.rows, q.transfer.columns,
                    std::floor(q.min_elevation), std::ceil(q.max_elevation));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_bench_transfer: %s\n", e.what());
        return 1;
    }
    return 0;
}
