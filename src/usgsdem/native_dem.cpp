#include "usgsdem/native_dem.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "common/text.h"

namespace marlwood::usgsdem {

namespace {

constexpr std::size_t kBlockBytes = 64 * 1024;
// Ground coordinates beyond this are the mark of a damaged file (UTM's lie well within it).
constexpr double kMaxCoordinate = 1e8;
// How far from a lattice point a profile may start, in postings: written coordinates are whole
// metres, so this leaves room for rounding only.
constexpr double kLatticeTolerance = 1e-3;
// 180 and 90 degrees in arc-seconds, a geographic DEM's ground unit.
constexpr double kHalfTurn = 180 * 3600.0;
constexpr double kQuarterTurn = 90 * 3600.0;
// The most an elevation may be, in its unit: far beyond any terrain, far within 32-bit cells kept
// in thousandths.
constexpr double kMaxElevation = 1e6;

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

// Bytes `first` to `last` of a record, counted from 1 as the record layout gives them.
std::string_view bytes(std::string_view record, std::size_t first, std::size_t last) {
    return record.substr(first - 1, last - first + 1);
}

// The fields of a record, each refused with a line naming it and the text found.
struct Fields {
    std::string_view record;
    std::string where;  // "record A", "profile 3"

    Result<std::int64_t> integer(std::size_t first, std::size_t last, const char* what) const {
        const std::string_view text = bytes(record, first, last);
        if (auto v = parseInteger(text)) return *v;
        return failure(where + ": the " + what + " " + quotedText(text) + " (bytes " +
                       std::to_string(first) + "-" + std::to_string(last) + ") is not a number");
    }
    Result<double> real(std::size_t first, std::size_t last, const char* what) const {
        const std::string_view text = bytes(record, first, last);
        if (auto v = parseReal(text)) return *v;
        return failure(where + ": the " + what + " " + quotedText(text) + " (bytes " +
                       std::to_string(first) + "-" + std::to_string(last) + ") is not a number");
    }
};

}  // namespace

std::optional<double> parseReal(std::string_view field) {
    std::string text(trimmed(field));
    if (text.empty()) return 0.0;
    for (char& c : text) {
        if (c == 'D' || c == 'd') c = 'E';
    }
    // from_chars takes no '+' sign; the exponent's sign it reads itself.
    std::string_view digits = text;
    if (digits.front() == '+') {
        digits.remove_prefix(1);
        if (digits.empty() || digits.front() == '-') return std::nullopt;
    }
    double value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int64_t> parseInteger(std::string_view field) {
    std::string_view text = trimmed(field);
    if (text.empty()) return 0;
    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 18) return std::nullopt;
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return negative ? -value : value;
}

namespace {

// A geographic model's own checks: its zone field means nothing, its spacings are arc-seconds.
Status checkGeographic(const RecordA& a) {
    if (a.ground_unit != kArcSeconds) {
        return failure("record A: ground unit " + std::to_string(a.ground_unit) +
                       "; a geographic DEM gives arc-seconds (3)");
    }
    for (const double r : {a.resolution_x, a.resolution_y}) {
        if (!(r >= kFinestArcSeconds && r <= kCoarsestArcSeconds)) {
            return failure("record A: the spacing " + shownNumber(r) + " is not " +
                           shownNumber(kFinestArcSeconds) + " to " +
                           shownNumber(kCoarsestArcSeconds) + " arc-seconds");
        }
    }
    return {};
}

}  // namespace

Result<RecordA> parseRecordA(std::string_view record) {
    if (record.size() < kRecordBytes) return failure("record A is cut short");
    const Fields f{record, "record A"};
    RecordA a;
    a.name = std::string(trimmed(bytes(record, 1, 40)));
    const struct {
        std::int64_t RecordA::*slot;
        std::size_t first, last;
        const char* what;
    } integers[] = {
        {&RecordA::reference_system, 157, 162, "planimetric reference system"},
        {&RecordA::zone, 163, 168, "zone"},
        {&RecordA::ground_unit, 529, 534, "ground unit"},
        {&RecordA::elevation_unit, 535, 540, "elevation unit"},
        {&RecordA::columns, 859, 864, "number of profiles"},
        {&RecordA::horizontal_datum, 891, 892, "horizontal datum"},
    };
    for (const auto& field : integers) {
        Result<std::int64_t> v = f.integer(field.first, field.last, field.what);
        if (!v) return v.error();
        a.*field.slot = *v;
    }
    const struct {
        double RecordA::*slot;
        std::size_t first;
        const char* what;
    } resolutions[] = {
        {&RecordA::resolution_x, 817, "x resolution"},
        {&RecordA::resolution_y, 829, "y resolution"},
        {&RecordA::resolution_z, 841, "z resolution"},
    };
    for (const auto& field : resolutions) {
        Result<double> v = f.real(field.first, field.first + 11, field.what);
        if (!v) return v.error();
        a.*field.slot = *v;
    }
    // Fields marlwood only shows: what does not parse reads as 0 rather than refusing the file.
    a.level = parseInteger(bytes(record, 145, 150)).value_or(0);
    a.pattern = parseInteger(bytes(record, 151, 156)).value_or(0);
    a.rows = parseInteger(bytes(record, 853, 858)).value_or(0);
    for (std::size_t i = 0; i < 2; ++i) {
        const std::optional<double> v = parseReal(bytes(record, 739 + 24 * i, 762 + 24 * i));
        (i == 0 ? a.min_elevation : a.max_elevation) = v.value_or(0);
    }

    if (a.reference_system != kUtm && a.reference_system != kGeographic &&
        a.reference_system != kStatePlane) {
        return failure("record A: planimetric reference system " +
                       std::to_string(a.reference_system) +
                       " is none of 0 (geographic), 1 (UTM), 2 (state plane)");
    }
    if (a.reference_system == kGeographic) {
        if (Status checked = checkGeographic(a); !checked) return checked.error();
    } else if (a.reference_system == kStatePlane) {
        // Its zone is the state plane's FIPS number; feet or metres, its system says which.
        if (a.zone < 101 || a.zone > 5400) {
            return failure("record A: state plane zone " + std::to_string(a.zone) +
                           " is not 101 to 5400");
        }
        if (a.ground_unit != kMetres && a.ground_unit != kFeet) {
            return failure("record A: ground unit " + std::to_string(a.ground_unit) +
                           "; a state plane DEM gives feet (1) or metres (2)");
        }
        for (const double r : {a.resolution_x, a.resolution_y}) {
            if (!(r >= 0.1 && r <= 3e4)) {
                return failure("record A: the posting " + shownNumber(r) + " is not 0.1 to 30000 " +
                               (a.ground_unit == kFeet ? "feet" : "m"));
            }
        }
    } else {
        if (a.zone < 1 || a.zone > 60) {
            return failure("record A: UTM zone " + std::to_string(a.zone) + " is not 1 to 60");
        }
        if (a.ground_unit != kMetres) {
            return failure("record A: ground unit " + std::to_string(a.ground_unit) +
                           "; a UTM DEM gives metres (2)");
        }
        for (const double r : {a.resolution_x, a.resolution_y}) {
            if (!(r >= 0.1 && r <= 1e4)) {
                return failure("record A: the posting " + shownNumber(r) +
                               " is not 0.1 to 10000 m");
            }
        }
    }
    if (!(a.resolution_z > 0 && a.resolution_z <= 1e3)) {
        return failure("record A: the z resolution " + shownNumber(a.resolution_z) +
                       " is not above 0 and at most 1000");
    }
    if (a.columns < 1 || a.columns > kMaxPoints) {
        return failure("record A gives " + std::to_string(a.columns) +
                       " profiles; a .ter file holds 1 to 65535 columns");
    }
    return a;
}

Result<ProfileHeader> parseProfileHeader(std::string_view record, std::int64_t number) {
    if (record.size() < kProfileHeaderBytes) {
        return failure("profile " + std::to_string(number) + " is cut short");
    }
    const Fields f{record, "profile " + std::to_string(number)};
    ProfileHeader h;
    const struct {
        std::int64_t ProfileHeader::*slot;
        std::size_t first;
        const char* what;
    } integers[] = {{&ProfileHeader::row, 1, "row"},
                    {&ProfileHeader::column, 7, "column"},
                    {&ProfileHeader::count, 13, "number of elevations"},
                    {&ProfileHeader::columns, 19, "number of columns"}};
    for (const auto& field : integers) {
        Result<std::int64_t> v = f.integer(field.first, field.first + 5, field.what);
        if (!v) return v.error();
        h.*field.slot = *v;
    }
    const struct {
        double ProfileHeader::*slot;
        std::size_t first;
        const char* what;
    } reals[] = {{&ProfileHeader::x, 25, "first point's x"},
                 {&ProfileHeader::y, 49, "first point's y"},
                 {&ProfileHeader::datum, 73, "datum elevation"},
                 {&ProfileHeader::min_elevation, 97, "minimum"},
                 {&ProfileHeader::max_elevation, 121, "maximum"}};
    for (const auto& field : reals) {
        Result<double> v = f.real(field.first, field.first + 23, field.what);
        if (!v) return v.error();
        h.*field.slot = *v;
    }
    if (h.count < 1 || h.count > kMaxPoints) {
        return failure(f.where + " gives " + std::to_string(h.count) +
                       " elevations; a .ter file holds 1 to 65535 rows");
    }
    if (h.columns != 1) {
        return failure(f.where + " gives " + std::to_string(h.columns) +
                       " columns; a profile is one column");
    }
    for (const double v : {h.x, h.y}) {
        if (!(std::abs(v) <= kMaxCoordinate)) {
            return failure(f.where + ": the ground coordinate " + shownNumber(v) +
                           " is beyond -1e8 to 1e8");
        }
    }
    if (!(std::abs(h.datum) <= kMaxElevation)) {
        return failure(f.where + ": the datum elevation " + shownNumber(h.datum) +
                       " is beyond -1e6 to 1e6");
    }
    return h;
}

ElevationPlace elevationPlace(std::int64_t i) {
    if (i < kFirstRecordElevations) {
        return {0, kProfileHeaderBytes + static_cast<std::size_t>(i) * kElevationBytes};
    }
    const std::int64_t j = i - kFirstRecordElevations;
    return {1 + j / kContinuationElevations,
            static_cast<std::size_t>(j % kContinuationElevations) * kElevationBytes};
}

std::size_t lineEndBytes(std::string_view rest) {
    if (rest.starts_with("\r\n")) return 2;
    if (rest.starts_with('\n') || rest.starts_with('\r')) return 1;
    return 0;
}

bool RecordReader::open(const std::string& path, std::shared_ptr<const std::string> bytes) {
    file_.reset();
    held_.reset();
    buffer_.clear();
    data_ = {};
    pos_ = 0;
    short_ = false;
    records_ = 0;
    if (bytes) {
        held_ = std::move(bytes);
        data_ = *held_;
        return true;
    }
    // Only a regular file: a pipe would hold the open, a device might never end.
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return false;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    file_.reset(f);
    buffer_.resize(kBlockBytes);
    return true;
}

void RecordReader::fill(std::size_t n) {
    if (!file_ || data_.size() - pos_ >= n) return;
    // What is left moves to the front; the rest of the block is read after it.
    const std::size_t left = data_.size() - pos_;
    std::copy(data_.begin() + static_cast<std::ptrdiff_t>(pos_), data_.end(), buffer_.begin());
    std::size_t have = left;
    while (have < n && !std::feof(file_.get()) && !std::ferror(file_.get())) {
        have += std::fread(buffer_.data() + have, 1, buffer_.size() - have, file_.get());
    }
    data_ = std::string_view(buffer_.data(), have);
    pos_ = 0;
}

std::optional<std::string_view> RecordReader::next() {
    if (short_) return std::nullopt;
    fill(kRecordBytes + 2);
    const std::size_t left = data_.size() - pos_;
    if (left < kRecordBytes) {
        short_ = left > 0 || (file_ && std::ferror(file_.get()));
        return std::nullopt;
    }
    const std::string_view record = data_.substr(pos_, kRecordBytes);
    pos_ += kRecordBytes;
    pos_ += lineEndBytes(data_.substr(pos_));
    ++records_;
    return record;
}

Result<NativeDem> readNativeDem(RecordReader& reader) {
    NativeDem dem;
    const std::optional<std::string_view> first = reader.next();
    if (!first) {
        return failure(reader.shortRecord() ? "record A is cut short (fewer than 1024 bytes)"
                                            : "is empty: no record A");
    }
    Result<RecordA> a = parseRecordA(*first);
    if (!a) return a.error();
    dem.a = *a;
    for (std::int64_t p = 1; p <= dem.a.columns; ++p) {
        const std::string where = "profile " + std::to_string(p);
        std::optional<std::string_view> record = reader.next();
        if (!record) {
            return failure(reader.shortRecord()
                               ? where + " is cut short (fewer than 1024 bytes)"
                               : "the file ends after " + std::to_string(p - 1) + " of the " +
                                     std::to_string(dem.a.columns) + " profiles record A gives");
        }
        Result<ProfileHeader> header = parseProfileHeader(*record, p);
        if (!header) return header.error();
        Profile profile{header->x, header->y, header->datum, {}};
        // At most 65535 values: a count the file does not keep is refused before the next
        // profile is read, so no more is held than one profile beyond what the file holds.
        profile.values.reserve(static_cast<std::size_t>(header->count));
        std::int64_t in_record = 0;
        for (std::int64_t i = 0; i < header->count; ++i) {
            const ElevationPlace place = elevationPlace(i);
            if (place.record != in_record) {
                record = reader.next();
                in_record = place.record;
                if (!record) {
                    return failure(where + " gives " + std::to_string(header->count) +
                                   " elevations, but the file ends after " + std::to_string(i));
                }
            }
            const std::string_view text = record->substr(place.offset, kElevationBytes);
            // A blank field is no elevation: it is where a profile's count ran past its values.
            const std::optional<std::int64_t> v =
                trimmed(text).empty() ? std::nullopt : parseInteger(text);
            if (!v || *v < -99999 || *v > 999999) {
                return failure(where + ": elevation " + std::to_string(i + 1) + " " +
                               quotedText(text) + " is not a number");
            }
            profile.values.push_back(static_cast<std::int32_t>(*v));
        }
        dem.profiles.push_back(std::move(profile));
    }
    return dem;
}

namespace {

// How many postings `distance` is, when it is (nearly) whole and within any lattice.
std::optional<std::int64_t> postings(double distance, double posting) {
    const double steps = distance / posting;
    if (!(std::abs(steps) <= static_cast<double>(kMaxPoints) * 4)) return std::nullopt;
    const double whole = std::round(steps);
    if (std::abs(steps - whole) > kLatticeTolerance) return std::nullopt;
    return static_cast<std::int64_t>(whole);
}

// A profile's column and the row (from the south) of its first point.
struct Place {
    std::int64_t column = 0, south_row = 0;
};

std::optional<Place> placeOf(const Profile& profile, double west, double south, double dx,
                             double dy) {
    const auto column = postings(profile.x - west, dx);
    const auto row = postings(profile.y - south, dy);
    if (!column || !row) return std::nullopt;
    return Place{*column, *row};
}

}  // namespace

Result<Lattice> latticeOf(const RecordA& a, const std::vector<Profile>& profiles) {
    if (profiles.empty()) return failure("holds no profile");
    Lattice lattice;
    lattice.dx = a.resolution_x;
    lattice.dy = a.resolution_y;
    double west = profiles.front().x, south = profiles.front().y;
    for (const Profile& p : profiles) {
        west = std::min(west, p.x);
        south = std::min(south, p.y);
    }
    std::int64_t rows = 0, columns = 0;
    for (std::size_t i = 0; i < profiles.size(); ++i) {
        const Profile& p = profiles[i];
        const std::optional<Place> place = placeOf(p, west, south, lattice.dx, lattice.dy);
        if (!place) {
            return failure("profile " + std::to_string(i + 1) + " starts at " + shownNumber(p.x) +
                           ", " + shownNumber(p.y) + ", off the lattice of " +
                           shownNumber(lattice.dx) + " by " + shownNumber(lattice.dy) +
                           (a.reference_system == kGeographic ? " arc-second"
                            : a.ground_unit == kFeet          ? " foot"
                                                              : " m") +
                           " postings through " + shownNumber(west) + ", " + shownNumber(south));
        }
        columns = std::max(columns, place->column + 1);
        rows = std::max(rows, place->south_row + static_cast<std::int64_t>(p.values.size()));
    }
    if (rows > kMaxPoints || columns > kMaxPoints) {
        return failure("the profiles span a grid of " + std::to_string(rows) + " x " +
                       std::to_string(columns) + "; a .ter file holds 0 to 65535 rows and columns");
    }
    lattice.rows = rows;
    lattice.columns = columns;
    lattice.west = west;
    lattice.north = south + static_cast<double>(rows - 1) * lattice.dy;
    if (a.reference_system == kGeographic) {
        // Arc-seconds: a lattice past a pole or the antimeridian is no place on the ground.
        const double east = west + static_cast<double>(columns - 1) * lattice.dx;
        if (!(west >= -kHalfTurn && east <= kHalfTurn && south >= -kQuarterTurn &&
              lattice.north <= kQuarterTurn)) {
            return failure("the profiles span longitudes " + shownNumber(west / 3600) + " to " +
                           shownNumber(east / 3600) + " and latitudes " +
                           shownNumber(south / 3600) + " to " + shownNumber(lattice.north / 3600) +
                           " degrees, beyond -180 to 180 and -90 to 90");
        }
    }
    return lattice;
}

std::optional<std::int32_t> cellValue(std::int32_t written, double datum, double z_resolution,
                                      bool thousandths, std::int32_t void_cell) {
    if (written == kDemVoid) return void_cell;
    const double elevation = datum + written * z_resolution;
    if (!(std::abs(elevation) <= kMaxElevation)) return std::nullopt;
    return static_cast<std::int32_t>(thousandths ? std::lround(elevation * 1000)
                                                 : std::trunc(elevation));
}

Status layDown(const NativeDem& dem, const Lattice& lattice, const Window& window, bool thousandths,
               std::int32_t void_cell, std::span<std::int32_t* const> rows_of_window) {
    if (static_cast<std::int64_t>(rows_of_window.size()) < window.rows) {
        return failure("the grid holds fewer rows than the window");
    }
    const double south = lattice.north - static_cast<double>(lattice.rows - 1) * lattice.dy;
    for (std::size_t i = 0; i < dem.profiles.size(); ++i) {
        const Profile& p = dem.profiles[i];
        const std::optional<Place> place = placeOf(p, lattice.west, south, lattice.dx, lattice.dy);
        if (!place) return failure("profile " + std::to_string(i + 1) + " lies off the lattice");
        const std::int64_t column = place->column - window.first_column;
        if (column < 0 || column >= window.columns) continue;
        for (std::size_t k = 0; k < p.values.size(); ++k) {
            const std::int64_t row = lattice.rows - 1 - place->south_row -
                                     static_cast<std::int64_t>(k) - window.first_row;
            if (row < 0 || row >= window.rows) continue;
            const std::optional<std::int32_t> cell =
                cellValue(p.values[k], p.datum, dem.a.resolution_z, thousandths, void_cell);
            if (!cell) {
                return failure("profile " + std::to_string(i + 1) + ": elevation " +
                               std::to_string(k + 1) + " is beyond -1e6 to 1e6");
            }
            rows_of_window[static_cast<std::size_t>(row)][column] = *cell;
        }
    }
    return {};
}

}  // namespace marlwood::usgsdem
