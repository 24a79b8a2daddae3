// USGS native DEMs: ASCII files of 1024-byte logical records. One record A describes the model,
// then one record B per profile (a south-to-north column of elevations, profiles west to east),
// then an optional record C (accuracy), which marlwood does not need. Numbers are Fortran fields.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace marlwood::usgsdem {

inline constexpr std::size_t kRecordBytes = 1024;
// A profile's header takes the first 144 bytes of its first record; elevations are 6 bytes each.
inline constexpr std::size_t kProfileHeaderBytes = 144;
inline constexpr std::size_t kElevationBytes = 6;
inline constexpr std::int64_t kFirstRecordElevations = 146;
inline constexpr std::int64_t kContinuationElevations = 170;
inline constexpr std::int32_t kDemVoid = -32767;
// A .ter file holds at most this many points a side, so no profile or lattice may be longer.
inline constexpr std::int64_t kMaxPoints = 65535;

// Planimetric reference systems and units as record A codes them.
inline constexpr int kGeographic = 0;
inline constexpr int kUtm = 1;
inline constexpr int kStatePlane = 2;
inline constexpr int kFeet = 1;
inline constexpr int kMetres = 2;
inline constexpr int kArcSeconds = 3;
// The spacings a geographic DEM may give, in arc-seconds: the finest and coarsest series lie well
// within them (CDED's 0.75" to 12", the 1-degree series' 3" to 9").
inline constexpr double kFinestArcSeconds = 0.01;
inline constexpr double kCoarsestArcSeconds = 600;

// A Fortran real field: blanks around it are ignored and a blank field reads as 0, as Fortran
// reads one; the exponent may be written with D or E (either case). Nothing when it is no number
// or not finite.
std::optional<double> parseReal(std::string_view field);
// A Fortran integer field: blanks around it ignored, a blank field 0, an optional sign, then at
// most 18 digits. Nothing otherwise.
std::optional<std::int64_t> parseInteger(std::string_view field);

struct Corner {
    double x = 0, y = 0;
};

struct RecordA {
    std::string name;  // the first 40 bytes, blanks trimmed
    std::int64_t level = 0, pattern = 0, reference_system = 0, zone = 0;
    std::int64_t ground_unit = 0, elevation_unit = 0;
    std::array<Corner, 4> corners{};  // south-west, north-west, north-east, south-east
    double min_elevation = 0, max_elevation = 0;
    double resolution_x = 0, resolution_y = 0, resolution_z = 0;
    std::int64_t rows = 0, columns = 0;  // rows 1 for profiles; columns: how many profiles
    std::int64_t horizontal_datum = 0;   // 1 NAD27, 2 WGS 72, 3 WGS 84, 4 NAD83; 0 (blank) NAD27
};

// Record A from its 1024 bytes: every field used parsed and checked, or one line saying which is
// wrong. UTM models in metres and geographic ones in arc-seconds are accepted.
Result<RecordA> parseRecordA(std::string_view record);

struct ProfileHeader {
    std::int64_t row = 0, column = 0;  // which profile, from 1
    std::int64_t count = 0;            // elevations in the profile
    std::int64_t columns = 0;          // always 1
    double x = 0, y = 0;               // the first (southernmost) elevation's ground point
    double datum = 0;                  // added to every elevation
    double min_elevation = 0, max_elevation = 0;
};

// A profile's header from the first 144 bytes of its first record; `number` (from 1) names the
// profile in the line of a refusal.
Result<ProfileHeader> parseProfileHeader(std::string_view record, std::int64_t number);

// Where elevation `i` (from 0) of a profile lies: which of its records, and the byte in it.
struct ElevationPlace {
    std::int64_t record = 0;
    std::size_t offset = 0;
};
ElevationPlace elevationPlace(std::int64_t i);

// How many line-end bytes follow a record at the start of `rest`: 2 for CR LF, 1 for LF (or a
// lone CR), 0 for none.
std::size_t lineEndBytes(std::string_view rest);

// The one way a native DEM's bytes are read: forward only, a block at a time, one logical record
// after another with any line end after each skipped. A file must be a regular one.
class RecordReader {
  public:
    // `bytes` in memory (not copied; kept alive while the reader is), or the file `path` when null.
    bool open(const std::string& path, std::shared_ptr<const std::string> bytes);
    // The next whole record, valid until the next call; nothing at the end of the data. A record
    // cut short sets `shortRecord()`.
    std::optional<std::string_view> next();
    bool shortRecord() const { return short_; }
    std::int64_t recordsRead() const { return records_; }

  private:
    // Makes at least n bytes available from pos_ unless the data ends first.
    void fill(std::size_t n);

    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, FileCloser> file_;
    std::shared_ptr<const std::string> held_;
    std::vector<char> buffer_;
    std::string_view data_;  // held_, or the filled part of buffer_
    std::size_t pos_ = 0;
    bool short_ = false;
    std::int64_t records_ = 0;
};

struct Profile {
    double x = 0, y = 0;
    double datum = 0;
    std::vector<std::int32_t> values;  // as written, south to north; kDemVoid for a void
};

struct NativeDem {
    RecordA a;
    std::vector<Profile> profiles;
};

// Reads a whole model: record A, then every profile record A announces. What is held grows only
// with the bytes read, never with a count the file gives.
Result<NativeDem> readNativeDem(RecordReader& reader);

// The one lattice every point lies on: cell (0, 0) is the north-western one; its centre is
// (west, north), cells `dx` apart eastward and `dy` southward, in record A's ground unit (metres,
// or arc-seconds for a geographic DEM).
struct Lattice {
    double west = 0, north = 0, dx = 0, dy = 0;
    std::int64_t rows = 0, columns = 0;
};

// The profiles' points placed by their coordinates: the lattice that spans them all, or a line
// when a profile starts off it, the lattice could not be written to a .ter file or, in degrees,
// it reaches beyond the poles or 180 degrees east or west.
Result<Lattice> latticeOf(const RecordA& a, const std::vector<Profile>& profiles);

// The cell a value is held as: whole units (cut toward zero, as the elevations of a float grid
// are) or thousandths of one (rounded); `void_cell` for a void. Nothing when beyond any terrain.
std::optional<std::int32_t> cellValue(std::int32_t written, double datum, double z_resolution,
                                      bool thousandths, std::int32_t void_cell);

// Every point laid into the rows of a window of the lattice (`first_row`, `first_column`, of
// `rows` by `columns`): `rows_of_window` holds a window row's cells for each, every one void
// already. Points of the window only are laid; an Error when a value is beyond any terrain.
struct Window {
    std::int64_t first_row = 0, first_column = 0, rows = 0, columns = 0;
};
Status layDown(const NativeDem& dem, const Lattice& lattice, const Window& window, bool thousandths,
               std::int32_t void_cell, std::span<std::int32_t* const> rows_of_window);

}  // namespace marlwood::usgsdem
