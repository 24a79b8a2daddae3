#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/grid_placement.h"
#include "common/result.h"

// What a GeoTIFF's tags and blocks mean, as pure functions of their values and bytes: the reader
// (geotiff_reader.h) takes the values from libtiff and hands them here, so each rule is tested on
// its own.
namespace marlwood {

// The sample types of elevation GeoTIFFs marlwood reads (one sample a cell).
enum class SampleType { Int16, UInt16, Int32, Float32, Float64 };

// The type of BitsPerSample `bits` and SampleFormat `format` (1 unsigned, 2 signed, 3 IEEE),
// or a line saying which type it is and that it is not read.
Result<SampleType> sampleTypeOf(unsigned bits, unsigned format);
int sampleBytes(SampleType type);
const char* sampleTypeName(SampleType type);

// Lengths in the units GeoKeys give them (EPSG unit codes 9001, 9002, 9003).
enum class LengthUnit { NotGiven, Metre, FootInternational, FootUS };
// The unit of code `code` (0: not given), or a line naming the code.
Result<LengthUnit> lengthUnitOf(int code, std::string_view what);
double metresPer(LengthUnit unit);

// The GeoKeys marlwood reads, as their codes (0 where the directory does not give one).
struct GeoKeys {
    int model_type = 0;       // 1 projected, 2 geographic, 3 geocentric
    int raster_type = 0;      // 1 PixelIsArea, 2 PixelIsPoint
    int geographic_type = 0;  // an EPSG geographic system, 32767 user-defined
    int projected_type = 0;   // an EPSG projected system, 32767 user-defined
    int linear_units = 0;     // of the projected system
    int vertical_type = 0;    // an EPSG vertical system
    int vertical_datum = 0;
    int vertical_units = 0;
};
inline constexpr int kUserDefined = 32767;

// The keys of a GeoKeyDirectory (tag 34735): its four-short header, then four shorts a key (id,
// where the value is, count, value). Every count is checked against the directory's length; a
// key whose value lies in another tag (doubles, text) is skipped, as none marlwood reads does.
Result<GeoKeys> parseGeoKeys(std::span<const std::uint16_t> directory);

// The datums marlwood tells apart; any other system is kept by its EPSG code alone.
enum class Datum { Unknown, NAD27, NAD83, NAD83_2011, WGS84 };

// A coordinate system by its EPSG code, what is known of it without PROJ.
struct GeoTiffCrs {
    int epsg = 0;             // 0: none that marlwood can place (no keys, user-defined, geocentric)
    bool geographic = false;  // degrees of latitude and longitude
    Datum datum = Datum::Unknown;
    int utm_zone = 0;  // 1..60 north, -1..-60 south; 0 when not UTM
    bool user_defined = false;
};

// The system the keys name: the projected one of a projected model, the geographic one of a
// geographic model (or of keys that give no model but only one of them).
GeoTiffCrs crsOf(const GeoKeys& keys);
// What is known of EPSG code `epsg` (geographic when `geographic`, as the keys say).
GeoTiffCrs crsOfEpsg(int epsg, bool geographic);

// The line refusing `name` when it cannot be placed on the ground: no system by an EPSG code (no
// GeoKeys, a user-defined or geocentric one) or no geotransform; nothing when it can.
Status checkPlaceable(const GeoTiffCrs& crs, bool has_geotransform, const std::string& name);

// The geotransform of the cells' outer corners from ModelTiepoint (33922) and ModelPixelScale
// (33550), or ModelTransformation (34264); nothing when the file gives neither. A PixelIsPoint
// grid's tie point is a cell's centre, so its corner is half a cell up and left. A grid placed by
// several tie points, turned, sheared, or not north up is refused with a line saying so.
Result<std::optional<GeoTransform>> geoTransformOf(std::span<const double> tiepoints,
                                                   std::span<const double> pixel_scale,
                                                   std::span<const double> transformation,
                                                   bool pixel_is_point);

// The value of GDAL's NoData tag (42113), text such as "-999999" or "nan"; nothing when the
// text is not a number.
std::optional<double> parseNoData(std::string_view text);

// Undoes Predictor 2 on one row of samples in the machine's byte order: each sample the sum,
// wrapping, of itself and every one before it.
void undoHorizontalPredictor(std::span<std::uint8_t> row, int sample_bytes);
// Undoes Predictor 3 on one row: sums the bytes back, then takes each sample's bytes from the
// planes (most significant first) into the machine's order. `in` and `out` are a row's bytes.
void undoFloatPredictor(std::span<std::uint8_t> in, std::span<std::uint8_t> out, int sample_bytes);
// Reverses each sample's bytes (a file in the other byte order).
void swapSampleBytes(std::span<std::uint8_t> samples, int sample_bytes);

// A row's samples (machine order) as doubles; a cell equal to `no_data` in the sample's own type,
// or NaN, becomes NaN, which is how the reader's rows say "no data".
void samplesToDoubles(std::span<const std::uint8_t> samples, SampleType type,
                      std::optional<double> no_data, std::span<double> out);

}  // namespace marlwood
