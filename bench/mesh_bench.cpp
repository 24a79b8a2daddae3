// The triangulation timed on a grid of float32 heights, for bench/mesh, which runs Delatin on the
// same file:
//   mesh_bench synth OUT.f32 SIDE          a synthetic SIDE x SIDE terrain (metres), written raw
//   mesh_bench run FILE.f32 W H ERROR [N]  the best of N triangulations after one that warms
//                                          the process (counted too when N is 1), as
//                                          delatin_run.mjs times Delatin: triangles, vertices, ms
//                                          (clock and processor), the triangulation's bytes a
//                                          grid point, peak RSS
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "mesh/tin.h"

namespace {

// A value on the lattice, from a hash of its corner: deterministic on every machine.
double lattice(std::int64_t x, std::int64_t y, std::uint32_t octave) {
    std::uint64_t h = static_cast<std::uint64_t>(x) * 0x9E3779B97F4A7C15ULL ^
                      static_cast<std::uint64_t>(y) * 0xC2B2AE3D27D4EB4FULL ^
                      octave * 0x165667B1ULL;
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ULL;
    h ^= h >> 32;
    return static_cast<double>(h & 0xFFFFFF) / 0xFFFFFF;
}

double noise(double x, double y, std::uint32_t octave) {
    const double fx = std::floor(x), fy = std::floor(y);
    const double tx = x - fx, ty = y - fy;
    const double sx = tx * tx * (3 - 2 * tx), sy = ty * ty * (3 - 2 * ty);
    const auto ix = static_cast<std::int64_t>(fx), iy = static_cast<std::int64_t>(fy);
    const double a = lattice(ix, iy, octave), b = lattice(ix + 1, iy, octave);
    const double c = lattice(ix, iy + 1, octave), d = lattice(ix + 1, iy + 1, octave);
    return (a + (b - a) * sx) + ((c + (d - c) * sx) - (a + (b - a) * sx)) * sy;
}

// Ridged hills over some 2,000 m, with detail down to a few points, heights to the centimetre as
// a DEM in metres might hold them.
std::vector<float> synthetic(std::int32_t side) {
    std::vector<float> heights(static_cast<std::size_t>(side) * side);
    for (std::int32_t y = 0; y < side; ++y) {
        for (std::int32_t x = 0; x < side; ++x) {
            double z = 0, amplitude = 1000, scale = 1.0 / 512;
            for (std::uint32_t octave = 0; octave < 9; ++octave) {
                const double n = noise(x * scale, y * scale, octave);
                z += amplitude * (octave < 3 ? 1 - std::fabs(2 * n - 1) : n);
                amplitude *= 0.45;
                scale *= 2;
            }
            heights[static_cast<std::size_t>(y) * side + x] =
                static_cast<float>(std::round(z * 100) / 100);
        }
    }
    return heights;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "synth" && argc == 4) {
        const std::int32_t side = std::atoi(argv[3]);
        const std::vector<float> heights = synthetic(side);
        std::ofstream out(argv[2], std::ios::binary);
        out.write(reinterpret_cast<const char*>(heights.data()),
                  static_cast<std::streamsize>(heights.size() * sizeof(float)));
        return out ? 0 : 1;
    }
    if (what != "run" || argc < 6) {
        std::fprintf(stderr, "usage: mesh_bench synth OUT.f32 SIDE | run FILE.f32 W H ERROR [N]\n");
        return 2;
    }
    const std::int32_t width = std::atoi(argv[3]), height = std::atoi(argv[4]);
    const double max_error = std::atof(argv[5]);
    const int runs = argc > 6 ? std::max(1, std::atoi(argv[6])) : 3;
    std::vector<float> heights(static_cast<std::size_t>(width) * height);
    std::ifstream in(argv[2], std::ios::binary);
    in.read(reinterpret_cast<char*>(heights.data()),
            static_cast<std::streamsize>(heights.size() * sizeof(float)));
    if (!in) {
        std::fprintf(stderr, "mesh_bench: %s does not hold %d x %d floats\n", argv[2], width,
                     height);
        return 1;
    }
    const marlwood::HeightField field{width, height, width, heights.data()};
    // Processor time as well as the clock's: on a machine shared with other builds the clock
    // counts the waits for a core.
    const auto cpu_ms = [] {
        timespec now{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
    };
    double best_ms = 1e300, best_cpu_ms = 1e300;
    marlwood::Tin tin;
    // Run 0 finds the process cold (its pages not yet mapped, its caches empty), as Delatin's
    // first run finds its JIT: counted only when it is the one run asked for, as there.
    for (int run = 0; run <= runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        const double cpu_start = cpu_ms();
        tin = marlwood::triangulate(field, max_error);
        const double cpu_took = cpu_ms() - cpu_start;
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        if (run > 0 || runs == 1) {
            best_cpu_ms = std::min(best_cpu_ms, cpu_took);
            best_ms = std::min(best_ms, took.count());
        }
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double points = static_cast<double>(width) * height;
    std::printf(
        "triangles %zu vertices %zu ms %.1f cpu_ms %.1f bytes_per_point %.2f "
        "heights_bytes_per_point 4 "
        "peak_rss_kib %ld\n",
        tin.triangleCount(), tin.vertices.size(), best_ms, best_cpu_ms, tin.working_bytes / points,
        usage.ru_maxrss);
    return 0;
}
