#include "tiff/geotiff_decode.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "common/text.h"

namespace marlwood {

namespace {

// GeoKey ids.
constexpr std::uint16_t kModelTypeKey = 1024, kRasterTypeKey = 1025;
constexpr std::uint16_t kGeographicTypeKey = 2048, kProjectedTypeKey = 3072;
constexpr std::uint16_t kLinearUnitsKey = 3076;
constexpr std::uint16_t kVerticalTypeKey = 4096, kVerticalDatumKey = 4098;
constexpr std::uint16_t kVerticalUnitsKey = 4099;
// A key whose value lies in the directory itself, after the keys.
constexpr std::uint16_t kInDirectory = 34735;

constexpr int kModelProjected = 1, kModelGeographic = 2;

template <class T>
T load(const std::uint8_t* at) {
    T v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

template <class T>
void accumulate(std::span<std::uint8_t> row) {
    const std::size_t n = row.size() / sizeof(T);
    if (n == 0) return;
    T sum = load<T>(row.data());
    for (std::size_t i = 1; i < n; ++i) {
        sum = static_cast<T>(sum + load<T>(row.data() + i * sizeof(T)));
        std::memcpy(row.data() + i * sizeof(T), &sum, sizeof sum);
    }
}

// `v` in Float32 when some float equals it: the NoData text of a Float32 band is often FLT_MAX
// written with fewer digits ("-3.4028235e+38"), which lies just past it.
std::optional<float> asFloat(double v) {
    constexpr double kMax = std::numeric_limits<float>::max();
    constexpr double kHalfStepPast = kMax + 0x1p103;  // half the gap below FLT_MAX, above it
    if (std::isnan(v) || std::isinf(v)) return static_cast<float>(v);
    if (std::fabs(v) <= kMax) return static_cast<float>(v);
    if (std::fabs(v) < kHalfStepPast) return static_cast<float>(std::copysign(kMax, v));
    return std::nullopt;
}

template <class T>
void integersToDoubles(std::span<const std::uint8_t> samples, std::optional<double> no_data,
                       std::span<double> out) {
    // An integer band's NoData matches only when it is one of the type's values.
    std::optional<T> void_value;
    if (no_data && std::nearbyint(*no_data) == *no_data &&
        *no_data >= static_cast<double>(std::numeric_limits<T>::min()) &&
        *no_data <= static_cast<double>(std::numeric_limits<T>::max())) {
        void_value = static_cast<T>(*no_data);
    }
    for (std::size_t i = 0; i < out.size(); ++i) {
        const T v = load<T>(samples.data() + i * sizeof(T));
        out[i] = void_value && v == *void_value ? NAN : static_cast<double>(v);
    }
}

}  // namespace

Result<SampleType> sampleTypeOf(unsigned bits, unsigned format) {
    constexpr unsigned kUnsigned = 1, kSigned = 2, kFloat = 3;
    if (format == kSigned && bits == 16) return SampleType::Int16;
    if (format == kUnsigned && bits == 16) return SampleType::UInt16;
    if (format == kSigned && bits == 32) return SampleType::Int32;
    if (format == kFloat && bits == 32) return SampleType::Float32;
    if (format == kFloat && bits == 64) return SampleType::Float64;
    const char* kind = format == kUnsigned ? "unsigned integer"
                       : format == kSigned ? "signed integer"
                       : format == kFloat  ? "floating-point"
                                           : nullptr;
    const std::string type = kind != nullptr ? std::to_string(bits) + "-bit " + kind
                                             : "sample format " + std::to_string(format);
    return failure("samples of " + type +
                   ", where marlwood reads Int16, UInt16, Int32, Float32 and Float64");
}

int sampleBytes(SampleType type) {
    switch (type) {
        case SampleType::Int16:
        case SampleType::UInt16:
            return 2;
        case SampleType::Int32:
        case SampleType::Float32:
            return 4;
        case SampleType::Float64:
            return 8;
    }
    return 0;
}

const char* sampleTypeName(SampleType type) {
    switch (type) {
        case SampleType::Int16:
            return "Int16";
        case SampleType::UInt16:
            return "UInt16";
        case SampleType::Int32:
            return "Int32";
        case SampleType::Float32:
            return "Float32";
        case SampleType::Float64:
            return "Float64";
    }
    return "?";
}

Result<LengthUnit> lengthUnitOf(int code, std::string_view what) {
    switch (code) {
        case 0:
            return LengthUnit::NotGiven;
        case 9001:
            return LengthUnit::Metre;
        case 9002:
            return LengthUnit::FootInternational;
        case 9003:
            return LengthUnit::FootUS;
        default:
            return failure(std::string(what) + " unit " + std::to_string(code) +
                           " is neither metres nor feet");
    }
}

double metresPer(LengthUnit unit) {
    switch (unit) {
        case LengthUnit::FootInternational:
            return 0.3048;
        case LengthUnit::FootUS:
            return 1200.0 / 3937.0;
        case LengthUnit::NotGiven:
        case LengthUnit::Metre:
            return 1;
    }
    return 1;
}

Result<GeoKeys> parseGeoKeys(std::span<const std::uint16_t> directory) {
    if (directory.size() < 4) return failure("the GeoKey directory is cut short");
    if (directory[0] != 1) {
        return failure("GeoKey directory version " + std::to_string(directory[0]) +
                       ", where marlwood reads version 1");
    }
    const std::size_t count = directory[3];
    if (4 + 4 * count > directory.size()) {
        return failure("the GeoKey directory lists " + std::to_string(count) +
                       " keys but holds room for " + std::to_string((directory.size() - 4) / 4));
    }
    GeoKeys keys;
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint16_t* entry = directory.data() + 4 + 4 * k;
        const std::uint16_t id = entry[0], location = entry[1], values = entry[2];
        int value = 0;
        if (location == 0) {
            value = entry[3];
        } else if (location == kInDirectory) {
            if (values < 1 || std::size_t{entry[3]} + values > directory.size()) {
                return failure("GeoKey " + std::to_string(id) +
                               " lies beyond the end of the directory");
            }
            value = directory[entry[3]];
        } else {
            continue;  // doubles or text: no key marlwood reads
        }
        switch (id) {
            case kModelTypeKey:
                keys.model_type = value;
                break;
            case kRasterTypeKey:
                keys.raster_type = value;
                break;
            case kGeographicTypeKey:
                keys.geographic_type = value;
                break;
            case kProjectedTypeKey:
                keys.projected_type = value;
                break;
            case kLinearUnitsKey:
                keys.linear_units = value;
                break;
            case kVerticalTypeKey:
                keys.vertical_type = value;
                break;
            case kVerticalDatumKey:
                keys.vertical_datum = value;
                break;
            case kVerticalUnitsKey:
                keys.vertical_units = value;
                break;
            default:
                break;
        }
    }
    return keys;
}

GeoTiffCrs crsOfEpsg(int epsg, bool geographic) {
    GeoTiffCrs crs{epsg, geographic};
    const auto utm = [&](Datum datum, int zone) {
        crs.geographic = false;
        crs.datum = datum;
        crs.utm_zone = zone;
    };
    if (epsg == 4267) {
        crs.geographic = true, crs.datum = Datum::NAD27;
    } else if (epsg == 4269) {
        crs.geographic = true, crs.datum = Datum::NAD83;
    } else if (epsg == 6318) {
        crs.geographic = true, crs.datum = Datum::NAD83_2011;
    } else if (epsg == 4326) {
        crs.geographic = true, crs.datum = Datum::WGS84;
    } else if (epsg >= 26701 && epsg <= 26722) {
        utm(Datum::NAD27, epsg - 26700);
    } else if (epsg >= 26901 && epsg <= 26923) {
        utm(Datum::NAD83, epsg - 26900);
    } else if (epsg >= 32601 && epsg <= 32660) {
        utm(Datum::WGS84, epsg - 32600);
    } else if (epsg >= 32701 && epsg <= 32760) {
        utm(Datum::WGS84, -(epsg - 32700));
    } else if (epsg == 6328 || epsg == 6329) {
        utm(Datum::NAD83_2011, epsg - 6328 + 59);  // zones 59N and 60N come first
    } else if (epsg >= 6330 && epsg <= 6348) {
        utm(Datum::NAD83_2011, epsg - 6329);
    } else if (epsg == 6350) {
        crs.geographic = false, crs.datum = Datum::NAD83_2011;  // Conus Albers
    }
    return crs;
}

GeoTiffCrs crsOf(const GeoKeys& keys) {
    const bool projected =
        keys.model_type == kModelProjected || (keys.model_type == 0 && keys.projected_type != 0);
    const bool geographic =
        keys.model_type == kModelGeographic || (keys.model_type == 0 && keys.projected_type == 0);
    const int code = projected ? keys.projected_type : geographic ? keys.geographic_type : 0;
    if (code == kUserDefined) return GeoTiffCrs{.user_defined = true};
    if (code <= 0) return {};
    return crsOfEpsg(code, geographic);
}

Status checkPlaceable(const GeoTiffCrs& crs, bool has_geotransform, const std::string& name) {
    if (crs.epsg > 0 && has_geotransform) return {};
    const char* why = crs.user_defined ? "a user-defined system"
                      : crs.epsg <= 0  ? "no system named by an EPSG code"
                                       : "no tie point";
    return failure(name + " has no coordinate system marlwood can place (" + why + ")");
}

Result<std::optional<GeoTransform>> geoTransformOf(std::span<const double> tiepoints,
                                                   std::span<const double> pixel_scale,
                                                   std::span<const double> transformation,
                                                   bool pixel_is_point) {
    GeoTransform gt{};
    if (!transformation.empty()) {
        if (transformation.size() != 16) {
            return failure("a model transformation of " + std::to_string(transformation.size()) +
                           " values, not 16");
        }
        const auto& m = transformation;
        if (m[1] != 0 || m[4] != 0) return failure("a grid that is turned or sheared");
        gt = {m[3], m[0], 0, m[7], 0, m[5]};
    } else if (!tiepoints.empty()) {
        if (tiepoints.size() % 6 != 0) {
            return failure("tie points of " + std::to_string(tiepoints.size()) + " values");
        }
        if (tiepoints.size() > 6) {
            return failure("a grid placed by " + std::to_string(tiepoints.size() / 6) +
                           " tie points, not by one and a pixel scale");
        }
        if (pixel_scale.size() < 2) return failure("a tie point without a pixel scale");
        const double i = tiepoints[0], j = tiepoints[1], x = tiepoints[3], y = tiepoints[4];
        gt = {x - i * pixel_scale[0], pixel_scale[0], 0, y + j * pixel_scale[1], 0,
              -pixel_scale[1]};
    } else {
        return std::optional<GeoTransform>();
    }
    if (!std::all_of(gt.begin(), gt.end(), [](double v) { return std::isfinite(v); }))
        return failure("a geotransform that is not finite");
    if (!(gt[1] > 0) || !(gt[5] < 0)) {
        return failure("a grid that is not north up (cells " + shownNumber(gt[1]) + " by " +
                       shownNumber(gt[5]) + ")");
    }
    if (pixel_is_point) {
        gt[0] -= 0.5 * gt[1];
        gt[3] -= 0.5 * gt[5];
    }
    return std::optional<GeoTransform>(gt);
}

std::optional<double> parseNoData(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '+')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.remove_suffix(1);
    double v = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return v;
}

void undoHorizontalPredictor(std::span<std::uint8_t> row, int sample_bytes) {
    switch (sample_bytes) {
        case 2:
            accumulate<std::uint16_t>(row);
            break;
        case 4:
            accumulate<std::uint32_t>(row);
            break;
        case 8:
            accumulate<std::uint64_t>(row);
            break;
        default:
            break;
    }
}

void undoFloatPredictor(std::span<std::uint8_t> in, std::span<std::uint8_t> out, int sample_bytes) {
    std::uint8_t sum = 0;
    for (std::uint8_t& b : in) b = sum = static_cast<std::uint8_t>(sum + b);
    const auto bytes = static_cast<std::size_t>(sample_bytes);
    const std::size_t n = in.size() / bytes;
    const std::uint8_t* p = in.data();
    if (bytes == 4) {
        // Float32, nearly every elevation GeoTIFF: whole samples, which the compiler vectorises.
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t v = std::uint32_t{p[i]} << 24 | std::uint32_t{p[n + i]} << 16 |
                                    std::uint32_t{p[2 * n + i]} << 8 | p[3 * n + i];
            std::memcpy(out.data() + 4 * i, &v, 4);
        }
        return;
    }
    for (std::size_t plane = 0; plane < bytes; ++plane) {
        // Plane 0 holds the most significant bytes.
        const std::size_t at =
            std::endian::native == std::endian::little ? bytes - 1 - plane : plane;
        for (std::size_t i = 0; i < n; ++i) out[i * bytes + at] = p[plane * n + i];
    }
}

void swapSampleBytes(std::span<std::uint8_t> samples, int sample_bytes) {
    const auto bytes = static_cast<std::size_t>(sample_bytes);
    for (std::size_t i = 0; i + bytes <= samples.size(); i += bytes)
        std::reverse(samples.begin() + static_cast<std::ptrdiff_t>(i),
                     samples.begin() + static_cast<std::ptrdiff_t>(i + bytes));
}

void samplesToDoubles(std::span<const std::uint8_t> samples, SampleType type,
                      std::optional<double> no_data, std::span<double> out) {
    switch (type) {
        case SampleType::Int16:
            integersToDoubles<std::int16_t>(samples, no_data, out);
            return;
        case SampleType::UInt16:
            integersToDoubles<std::uint16_t>(samples, no_data, out);
            return;
        case SampleType::Int32:
            integersToDoubles<std::int32_t>(samples, no_data, out);
            return;
        case SampleType::Float32: {
            const std::optional<float> void_value = no_data ? asFloat(*no_data) : std::nullopt;
            for (std::size_t i = 0; i < out.size(); ++i) {
                const float v = load<float>(samples.data() + i * 4);
                out[i] = void_value && v == *void_value ? NAN : v;
            }
            return;
        }
        case SampleType::Float64:
            for (std::size_t i = 0; i < out.size(); ++i) {
                const double v = load<double>(samples.data() + i * 8);
                out[i] = no_data && v == *no_data ? NAN : v;
            }
            return;
    }
}

}  // namespace marlwood
