#include "tiff/geotiff_decode.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "tiff/float_predictor.h"

namespace marlwood {
namespace {

// Directories as writers lay them out (header, then id, location, count, value), the system each
// names, and the damaged ones refused.
TEST(GeoTiffDecode, GeoKeysNameTheSystem) {
    const struct {
        const char* what;
        std::vector<std::uint16_t> directory;
        int epsg;
        bool geographic;
        Datum datum;
        int zone;
        const char* refusal;  // nullptr: read
    } cases[] = {
        {"3DEP 1/3 arc-second",
         {1, 1, 0, 3, 1024, 0, 1, 2, 1025, 0, 1, 1, 2048, 0, 1, 4269},
         4269,
         true,
         Datum::NAD83,
         0,
         nullptr},
        {"NAD27 UTM 15",
         {1, 1, 0, 2, 1024, 0, 1, 1, 3072, 0, 1, 26715},
         26715,
         false,
         Datum::NAD27,
         15,
         nullptr},
        {"NAD83(2011) UTM 15",
         {1, 1, 0, 1, 3072, 0, 1, 6344},
         6344,
         false,
         Datum::NAD83_2011,
         15,
         nullptr},
        {"NAD83(2011) UTM 59",
         {1, 1, 0, 1, 3072, 0, 1, 6328},
         6328,
         false,
         Datum::NAD83_2011,
         59,
         nullptr},
        {"WGS 84 UTM 33 south",
         {1, 1, 0, 1, 3072, 0, 1, 32733},
         32733,
         false,
         Datum::WGS84,
         -33,
         nullptr},
        {"Conus Albers",
         {1, 1, 0, 2, 1024, 0, 1, 1, 3072, 0, 1, 6350},
         6350,
         false,
         Datum::NAD83_2011,
         0,
         nullptr},
        {"another code", {1, 1, 0, 1, 3072, 0, 1, 2056}, 2056, false, Datum::Unknown, 0, nullptr},
        {"value after the keys",
         {1, 1, 0, 1, 2048, 34735, 1, 8, 4326},
         4326,
         true,
         Datum::WGS84,
         0,
         nullptr},
        {"user-defined",
         {1, 1, 0, 2, 1024, 0, 1, 1, 3072, 0, 1, 32767},
         0,
         false,
         Datum::Unknown,
         0,
         nullptr},
        {"geocentric",
         {1, 1, 0, 2, 1024, 0, 1, 3, 2048, 0, 1, 4326},
         0,
         false,
         Datum::Unknown,
         0,
         nullptr},
        {"lying key count",
         {1, 1, 0, 5000, 1024, 0, 1, 1},
         0,
         false,
         Datum::Unknown,
         0,
         "lists 5000 keys but holds room for 1"},
        {"value beyond the end",
         {1, 1, 0, 1, 2048, 34735, 1, 60000},
         0,
         false,
         Datum::Unknown,
         0,
         "beyond the end"},
        {"cut short", {1, 1}, 0, false, Datum::Unknown, 0, "cut short"},
        {"version 2", {2, 1, 0, 0}, 0, false, Datum::Unknown, 0, "version 2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Result<GeoKeys> keys = parseGeoKeys(c.directory);
        if (c.refusal != nullptr) {
            ASSERT_FALSE(keys);
            EXPECT_NE(keys.message().find(c.refusal), std::string::npos) << keys.message();
            continue;
        }
        ASSERT_TRUE(keys) << keys.message();
        const GeoTiffCrs crs = crsOf(*keys);
        EXPECT_EQ(crs.epsg, c.epsg);
        EXPECT_EQ(crs.geographic, c.geographic);
        EXPECT_EQ(crs.datum, c.datum);
        EXPECT_EQ(crs.utm_zone, c.zone);
        EXPECT_EQ(crs.user_defined, std::string(c.what) == "user-defined");
        EXPECT_EQ(checkPlaceable(crs, true, "x.tif").ok(), c.epsg != 0);
    }
}

// Corners as GDAL reports them: a PixelIsPoint tie point is the first cell's centre.
TEST(GeoTiffDecode, GeotransformOfCellCorners) {
    const std::vector<double> tie = {0, 0, 0, 500000, 5200000, 0},
                              tie_at_2_3 = {2, 3, 0, 500060, 5199910, 0};
    const std::vector<double> scale = {30, 30, 0}, none;
    std::vector<double> matrix(16, 0.0);
    matrix[0] = 30, matrix[3] = 500000, matrix[5] = -30, matrix[7] = 5200000, matrix[15] = 1;
    std::vector<double> turned = matrix;
    turned[1] = 0.5;
    const struct {
        const char* what;
        std::vector<double> tiepoints, scale, matrix;
        bool point;
        GeoTransform expected;
        const char* refusal;
    } cases[] = {
        {"area", tie, scale, none, false, {500000, 30, 0, 5200000, 0, -30}, nullptr},
        {"point", tie, scale, none, true, {499985, 30, 0, 5200015, 0, -30}, nullptr},
        {"tie point inside",
         tie_at_2_3,
         scale,
         none,
         false,
         {500000, 30, 0, 5200000, 0, -30},
         nullptr},
        {"matrix", none, none, matrix, false, {500000, 30, 0, 5200000, 0, -30}, nullptr},
        {"matrix, point", none, none, matrix, true, {499985, 30, 0, 5200015, 0, -30}, nullptr},
        {"turned", none, none, turned, false, {}, "turned or sheared"},
        {"south up", tie, {30, -30, 0}, none, false, {}, "not north up"},
        {"control points",
         {0, 0, 0, 1, 2, 0, 5, 5, 0, 3, 4, 0},
         scale,
         none,
         false,
         {},
         "2 tie points"},
        {"no scale", tie, none, none, false, {}, "without a pixel scale"},
        {"NaN", {0, 0, 0, NAN, 5200000, 0}, scale, none, false, {}, "not finite"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto gt = geoTransformOf(c.tiepoints, c.scale, c.matrix, c.point);
        if (c.refusal != nullptr) {
            ASSERT_FALSE(gt);
            EXPECT_NE(gt.message().find(c.refusal), std::string::npos) << gt.message();
            continue;
        }
        ASSERT_TRUE(gt) << gt.message();
        ASSERT_TRUE(gt->has_value());
        EXPECT_EQ(**gt, c.expected);
    }
    EXPECT_FALSE(geoTransformOf(none, none, none, false)->has_value());
}

template <class T>
std::vector<std::uint8_t> bytesOf(std::vector<T> values) {
    std::vector<std::uint8_t> bytes(values.size() * sizeof(T));
    std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
}

// Sums that wrap, at every sample width; the floating-point planes as the writer makes them
// come back bit for bit.
TEST(GeoTiffDecode, PredictorsUndone) {
    std::vector<std::uint8_t> r16 = bytesOf<std::uint16_t>({65535, 2, 10, 65526});
    undoHorizontalPredictor(r16, 2);
    EXPECT_EQ(r16, bytesOf<std::uint16_t>({65535, 1, 11, 1}));
    std::vector<std::uint8_t> r32 = bytesOf<std::uint32_t>({100, 0xFFFFFFFF, 7});
    undoHorizontalPredictor(r32, 4);
    EXPECT_EQ(r32, bytesOf<std::uint32_t>({100, 99, 106}));
    std::vector<std::uint8_t> r64 = bytesOf<std::uint64_t>({1ull << 40, 1ull << 40, 3});
    undoHorizontalPredictor(r64, 8);
    EXPECT_EQ(r64, bytesOf<std::uint64_t>({1ull << 40, 1ull << 41, (1ull << 41) + 3}));
    std::vector<std::uint8_t> swapped = bytesOf<std::uint16_t>({0x0102, 0x0304});
    swapSampleBytes(swapped, 2);
    EXPECT_EQ(swapped, bytesOf<std::uint16_t>({0x0201, 0x0403}));

    const std::vector<float> row = {-999999.0f, 183.49f, 448.67f, -0.0f, 1e-30f, 3.5f, 3.5f};
    std::vector<std::uint8_t> planes(row.size() * 4), back(row.size() * 4);
    predictFloatRow(row, planes);
    undoFloatPredictor(planes, back, 4);
    EXPECT_EQ(back, bytesOf(row));
}

// NoData compared in the band's own type: Float32's FLT_MAX as GDAL writes it, an integer value
// the type cannot hold matching nothing.
TEST(GeoTiffDecode, NoDataInTheSampleType) {
    const struct {
        const char* text;
        SampleType type;
        std::vector<std::uint8_t> samples;
        std::vector<bool> void_cells;
    } cases[] = {
        {"-999999", SampleType::Float32, bytesOf<float>({-999999.0f, 12.5f}), {true, false}},
        {"-3.4028235e+38", SampleType::Float32, bytesOf<float>({-FLT_MAX, FLT_MAX}), {true, false}},
        {"nan", SampleType::Float32, bytesOf<float>({NAN, 0}), {true, false}},
        {"-32768", SampleType::Int16, bytesOf<std::int16_t>({-32768, 32767}), {true, false}},
        {"-1", SampleType::UInt16, bytesOf<std::uint16_t>({65535, 0}), {false, false}},
        {" -9999 ", SampleType::Int32, bytesOf<std::int32_t>({-9999, 9999}), {true, false}},
        {"1e300", SampleType::Float64, bytesOf<double>({1e300, 1e299}), {true, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<double> no_data = parseNoData(c.text);
        ASSERT_TRUE(no_data.has_value());
        std::vector<double> out(c.void_cells.size());
        samplesToDoubles(c.samples, c.type, no_data, out);
        for (std::size_t i = 0; i < out.size(); ++i) EXPECT_EQ(std::isnan(out[i]), c.void_cells[i]);
    }
    EXPECT_FALSE(parseNoData("none").has_value());
    EXPECT_FALSE(parseNoData("").has_value());
}

}  // namespace
}  // namespace marlwood
