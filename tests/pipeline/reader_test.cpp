// The reader table: which row takes a SOURCE, and a format added through a table of its own
// alone, read by a single conversion and by a merge.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "files.h"
#include "native_dem_writer.h"
#include "pipeline/conversion.h"
#include "pipeline/reader.h"
#include "temp_dir.h"

namespace marlwood {
namespace {

namespace fs = std::filesystem;
namespace ts = testsupport;

TEST(ReaderTable, EachSourceIsTakenByItsRow) {
    const ts::TempDir dir;
    fs::create_directory(dir / "dir.dem");
    for (const char* file : {"a.dem", "B.DEM.GZ", "c.tif", "d.TIFF"}) std::ofstream(dir / file);
    const struct {
        std::string source;
        const char* row;
    } cases[] = {
        {"a.dem", "native DEM"},  {"B.DEM.GZ", "native DEM"},   {"c.tif", "GeoTIFF"},
        {"d.TIFF", "GeoTIFF"},    {"dir.dem", "SDTS transfer"}, {"7172", "SDTS transfer"},
        {"x.tar.gz", "SDTS transfer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        const std::string source = dir / c.source;
        const InputFormat* taken = nullptr;
        for (const InputFormat& row : inputFormats().rows()) {
            if (!row.claims || row.claims(source)) {
                taken = &row;
                break;
            }
        }
        ASSERT_NE(taken, nullptr);
        EXPECT_EQ(taken->name, c.row);
    }
}

// A geographic native DEM is placed in degrees on record A's datum, to be laid onto UTM.
TEST(ReaderTable, AGeographicNativeDemIsPlacedInDegreesOnItsDatum) {
    const ts::TempDir dir;
    const struct {
        int datum;
        int epsg;
    } cases[] = {{0, 4267}, {1, 4267}, {2, 4322}, {3, 4326}, {4, 4269}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.datum);
        ts::DemContents model = ts::geographicDem(4, 5, 3, -93 * 3600, 46 * 3600);
        model.horizontal_datum = c.datum;
        const std::string path = dir / "geo.dem";
        ts::writeFile(path, ts::nativeDem(model));
        const Result<Input> input = inputFormats().find(path);
        ASSERT_TRUE(input) << input.message();
        NoEvents quiet;
        // Placed even when not asked: a conversion lays it onto UTM whatever it writes.
        const Result<TransferMetadata> m =
            readMetadata(*input, MetadataReading::Strict, false, quiet);
        ASSERT_TRUE(m) << m.message();
        EXPECT_TRUE(m->reprojected);
        EXPECT_EQ(m->posting_m, 90);  // 3" of latitude
        EXPECT_EQ(m->size.rows, 5);
        EXPECT_EQ(m->size.columns, 4);
        ASSERT_TRUE(m->placement);
        EXPECT_EQ(m->placement->epsg, c.epsg);
        const GeoTransform& g = m->placement->geotransform;
        const double cell = 3.0 / 3600;
        EXPECT_NEAR(g[0], -93 - cell / 2, 1e-12);
        EXPECT_NEAR(g[3], 46 + 4 * cell + cell / 2, 1e-12);
        EXPECT_NEAR(g[1], cell, 1e-15);
        EXPECT_NEAR(g[5], -cell, 1e-15);
    }
}

// A format of 3 x 4 cells at 30 m in UTM zone 15 (NAD27): "dummy:K" lies K * 3 columns east, so
// neighbours share a column; its cells are 100 * K + 10 * row + column.
class DummyRows final : public RowStream {
  public:
    DummyRows(int k, CellWindow window) : k_(k), window_(window) {}
    bool next(std::int32_t* cells) override {
        if (row_ == window_.rows) return false;
        for (std::int32_t c = 0; c < window_.columns; ++c) {
            cells[c] = 100 * k_ + 10 * (window_.first_row + row_) + window_.first_column + c;
        }
        ++row_;
        return true;
    }

  private:
    int k_;
    CellWindow window_;
    std::int32_t row_ = 0;
};

int dummyNumber(const Input& input) {
    return std::stoi(input.file.name.substr(6));
}

InputFormat dummyFormat() {
    InputFormat row;
    row.name = "dummy";
    row.claims = [](const std::string& source) { return source.rfind("dummy:", 0) == 0; };
    row.find = [](const std::string& source, Cel0Reading) -> Result<Input> {
        Input input;
        input.source = source;
        input.output_stem = "dummy";
        input.file = ModuleSource(source);
        return input;
    };
    row.metadata = [](const Input& input, MetadataReading, bool, EventSink&) {
        TransferMetadata m;
        m.values = "dummy";
        m.size = {3, 4, 2};
        m.size_from = input.file.name;
        m.posting_m = 30;
        m.unit_m = 1.0;
        Georeference g;
        g.xhrs = g.yhrs = 30;
        g.sadr_x = 500015 + 90.0 * dummyNumber(input);
        g.sadr_y = 5000015;
        g.scan_origin = "TL";
        g.sadr_meaning = "CE";
        g.rsnm = "UTM";
        g.hdat = "NAS";
        g.zone = 15;
        g.unit = "METERS";
        m.georeference = g;
        return Result<TransferMetadata>(std::move(m));
    };
    row.rows = [](const Input& input, const TransferMetadata&, const RowRequest& request,
                  EventSink&) -> Result<std::unique_ptr<RowStream>> {
        return std::unique_ptr<RowStream>(
            std::make_unique<DummyRows>(dummyNumber(input), request.window));
    };
    return row;
}

TEST(ReaderTable, AFormatOfItsOwnIsReadByAConversionAndAMerge) {
    ReaderTable readers = inputFormats();
    readers.add(dummyFormat());
    const ts::TempDir dir;
    const struct {
        std::vector<std::string> sources;
        GridSize size;
        Extremes extremes;
    } cases[] = {
        {{"dummy:0"}, {3, 4}, {23, 0}},
        {{"dummy:0", "dummy:1"}, {3, 7}, {123, 0}},
        {{"dummy:1", "dummy:0"}, {3, 7}, {123, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sources.size());
        ConversionRequest request;
        for (const std::string& source : c.sources) {
            Result<Input> input = readers.find(source);
            ASSERT_TRUE(input) << input.message();
            ASSERT_EQ(input->format->name, "dummy");
            request.sources.push_back(*input);
        }
        request.merge = c.sources.size() > 1;
        NoEvents events;
        const Result<ConversionOutcome> done =
            runConversion(request, fixedTarget({dir / "out.ter", nullptr, {}}), events);
        ASSERT_TRUE(done) << done.message();
        EXPECT_EQ(done->summary.size.rows, c.size.rows);
        EXPECT_EQ(done->summary.size.columns, c.size.columns);
        EXPECT_EQ(done->summary.extremes.max_elevation, c.extremes.max_elevation);
        EXPECT_EQ(done->summary.extremes.min_elevation, c.extremes.min_elevation);
        EXPECT_EQ(done->summary.void_cells, 0);
    }
}

}  // namespace
}  // namespace marlwood
