#include "pipeline/writers.h"

#include <bit>
#include <limits>
#include <vector>

#include "preview/preview.h"
#include "ter/ter_writer.h"
#include "tiff/geotiff_writer.h"

namespace marlwood {

void writeTer(std::ostream& out, const Terrain& terrain) {
    const GridSize& size = terrain.size();
    const auto write = [&out](const auto& header) {
        out.write(reinterpret_cast<const char*>(header.data()),
                  static_cast<std::streamsize>(header.size()));
    };
    // A resampled terrain's sides may have been scaled apart: SCAL's x and y carry each.
    const Terrain::Postings postings = terrain.postings();
    const PointSpacing spacing{static_cast<float>(postings.x_m), static_cast<float>(postings.y_m)};
    if (const auto& scale = terrain.true_scale) {
        write(trueScaleHeader(size.rows, size.columns, size.min_rows_cols,
                              static_cast<float>(scale->scal_m), scale->height_scale,
                              scale->base_height, spacing));
    } else if (terrain.resampled_from && terrain.decoded.posting_m > 0) {
        // A resampled terrain says its new posting: the true-scale chunks, BaseHeight 0.
        write(trueScaleHeader(size.rows, size.columns, size.min_rows_cols,
                              static_cast<float>(terrain.decoded.posting_m), terrain.height_scale,
                              0, spacing));
    } else {
        write(terHeader(size.rows, size.columns, terrain.height_scale, size.min_rows_cols));
    }
    // The file holds the southern row first: the grid's rows in reverse.
    writeTerBody(
        out, size.rows, size.columns,
        [&](std::int32_t y, std::int32_t* heights) {
            terrain.rowHeights(size.rows - 1 - y, heights);
        },
        terrain.voidHeight());
}

Status writeGeoTiffFile(const std::string& path, const Terrain& terrain) {
    const DecodedGrid& d = terrain.decoded;
    if (!d.placement) return failure("no GeoTIFF " + path + ": where the grid lies is not known");
    const std::int32_t valid_above = kVoidThreshold * (d.thousandths ? kThousandths : 1);
    const double metres_per_cell_unit = d.unit_m / (d.thousandths ? kThousandths : 1);
    return writeGeoTiff(path, d.size.rows, d.size.columns, *d.placement,
                        [&](std::int32_t row, std::span<float> metres) {
                            const std::int32_t* cells = d.grid[static_cast<std::size_t>(row)];
                            // Converted whether void or not, then chosen by a mask: a loop
                            // without branches (a select of floats is not), which the compiler
                            // vectorises.
                            const double scale = metres_per_cell_unit;
                            const std::int32_t above = valid_above;
                            const auto void_bits = std::bit_cast<std::uint32_t>(kGeoTiffNoData);
                            float* out = metres.data();
                            const std::size_t n = metres.size();
                            for (std::size_t j = 0; j < n; ++j) {
                                const auto bits = std::bit_cast<std::uint32_t>(
                                    static_cast<float>(cells[j] * scale));
                                const std::uint32_t keep = cells[j] > above ? ~0u : 0u;
                                out[j] = std::bit_cast<float>((bits & keep) | (void_bits & ~keep));
                            }
                        });
}

Status writePreviewFile(const std::string& png_path, const Terrain& terrain) {
    // Each height read back as metres, as a reader of the file would see it.
    PreviewInput input;
    input.rows = terrain.size().rows;
    input.columns = terrain.size().columns;
    input.posting_m = terrain.decoded.posting_m > 0 ? terrain.decoded.posting_m : 30.0;
    const DecodedGrid& d = terrain.decoded;
    const std::int32_t valid_above = kVoidThreshold * kThousandths;
    input.metres = [&](std::int32_t row, std::int32_t column) {
        const std::int32_t cell = d.grid[static_cast<std::size_t>(row)][column];
        if (d.thousandths && !terrain.true_scale) {
            // Elevations beyond any 16-bit height, for a format of metres: as that file holds them.
            return cell > valid_above ? cell * d.unit_m / kThousandths
                                      : std::numeric_limits<double>::quiet_NaN();
        }
        const std::int32_t h = terrain.height(cell);
        return h == kVoidMarker ? std::numeric_limits<double>::quiet_NaN() : terrain.metres(h);
    };
    return writePreview(png_path, input);
}

}  // namespace marlwood
