// A build without libtiff (a Windows build made without tools/windows-deps): GeoTIFF output and
// input are refused with a line that says why.
#include "tiff/geotiff_reader.h"
#include "tiff/geotiff_writer.h"

namespace marlwood {

namespace {

constexpr char kNoLibtiff[] = "GeoTIFF needs libtiff, which this build of marlwood lacks";

}  // namespace

Status writeGeoTiff(const std::string&, std::int32_t, std::int32_t, const GridPlacement&,
                    const GeoTiffRowSource&) {
    return failure("GeoTIFF output needs libtiff, which this build of marlwood lacks");
}

Result<GeoTiffInfo> readGeoTiffInfo(const GeoTiffSource&, std::int32_t) {
    return failure(kNoLibtiff);
}

struct GeoTiffRows::State {};

Result<GeoTiffRows> GeoTiffRows::open(const GeoTiffSource&, const RasterWindow&, InflateBy) {
    return failure(kNoLibtiff);
}

GeoTiffRows::GeoTiffRows(std::unique_ptr<State> state) : state_(std::move(state)) {}
GeoTiffRows::GeoTiffRows(GeoTiffRows&&) noexcept = default;
GeoTiffRows& GeoTiffRows::operator=(GeoTiffRows&&) noexcept = default;
GeoTiffRows::~GeoTiffRows() = default;

const GeoTiffInfo& GeoTiffRows::info() const {
    static const GeoTiffInfo none;
    return none;
}
Result<std::span<const double>> GeoTiffRows::next() {
    return failure(kNoLibtiff);
}
std::int64_t GeoTiffRows::blocksRead() const {
    return 0;
}
std::uint64_t GeoTiffRows::bytesRead() const {
    return 0;
}
std::uint64_t GeoTiffRows::fileBytes() const {
    return 0;
}

}  // namespace marlwood
