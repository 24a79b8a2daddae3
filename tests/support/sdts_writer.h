// Writes synthetic SDTS raster transfers (ISO 8211 modules) for tests and the sample tool.
//
// The modules are laid out like the USGS 7.5-minute DEM transfers: the same descriptive records,
// the same subfields in the same order, directory widths as small as the values allow. The
// program finds what it needs by byte position, so this layout is part of what tests rely on.
// GDAL opens the result through the CATD module (`gdalinfo NNNNcatd.ddf`).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace marlwood::testsupport {

inline constexpr char kFieldTerminator = '\x1e';
inline constexpr char kUnitTerminator = '\x1f';

// Cell values USGS uses for "no data": void inside the quad, fill outside it.
inline constexpr int kVoidElevation = -32767;
inline constexpr int kFillElevation = -32766;

enum class CellFormat { Bi16, Bfp32 };

// AllD: every CEL0 data record has its own 'D' leader and directory (3-digit field lengths and
// positions). RThenLeaderless: the real USGS layout, one 'R' record and then records that are
// the field area alone.
enum class Cel0Layout { AllD, RThenLeaderless };

struct Transfer {
    int rows = 0;
    int columns = 0;
    // Row-major, rows * columns; row 0 is the first CEL0 record (the northernmost row).
    // BI16 rounds to the nearest integer; BFP32 stores the nearest float.
    std::vector<double> elevations;
    // BFP32 only: exact bit patterns, used instead of `elevations` when not empty.
    std::vector<std::uint32_t> bfp32_bits;
    CellFormat format = CellFormat::Bi16;
    Cel0Layout layout = Cel0Layout::AllD;
    int spacing_m = 30;  // IREF XHRS/YHRS; 10 and 30 are what USGS delivers
    // sw x, sw y, nw x, nw y, ne x, ne y, se x, se y (UTM metres), written "%.8f".
    std::array<double, 8> corners = {455212.37, 5003187.92, 455101.85, 5013331.04,
                                     462718.44, 5013419.71, 462836.10, 5003276.33};
    // RSDF SADR, the centre of the top-left cell (x, y); by default the lattice point of whole
    // postings nearest the corners' north-west, as USGS places it.
    std::optional<std::array<double, 2>> first_cell;
    // Four characters that begin every file name; the CATD and each descriptive record name
    // the files with them, so they must match the prefix given to writeModules for GDAL.
    std::string file_id = "7018";
    std::string units = "METERS";  // DDSH UNIT: METERS or FEET
    // XREF: reference system, zone, horizontal datum as USGS codes it (NAS is NAD27, NAX NAD83),
    // and the comment USGS writes there (on the vertical datum).
    std::string reference_system = "UTM";
    int zone = 15;
    std::string datum = "NAS";
    std::string xref_comment = "Synthetic test transfer";
    // DDOM: the void and fill values, and the elevation range; without a range given, that of the
    // elevations other than the void and fill values (0 to 0 when there are none).
    int void_value = kVoidElevation;
    int fill_value = kFillElevation;
    std::optional<double> min_elevation, max_elevation;
    // Each descriptive record's file control field (0000) lists the field tag pairs (0001 to each
    // field), as ISO 8211 allows.
    bool tag_pairs = false;
};

// Lower-case file suffix ("cel0.ddf") -> module bytes.
using ModuleSet = std::map<std::string, std::string>;

// Builds cel0, ldef, spdm, ddsh, iref, the catd, rsdf and xref modules GDAL needs, and ddom.
// Throws std::invalid_argument for a transfer that cannot be laid out (see maxColumns).
ModuleSet buildModules(const Transfer& transfer);

// Writes each module to prefix + suffix (e.g. "/tmp/x/7018" + "cel0.ddf"), the suffix in upper
// case when asked. Throws std::runtime_error when a file cannot be written.
void writeModules(const std::string& prefix, const ModuleSet& modules, bool upperCaseNames = false);

// The widest grid each CEL0 layout can carry: a 'D' record's values field must fit the 3-digit
// field length the reader expects, an 'R' record the 5-digit record length of its leader.
int maxColumns(CellFormat format, Cel0Layout layout);

// ---- Building blocks, for tests that craft odd records by hand ----

// One field of a record: its tag and all its bytes, field terminator included.
struct Field {
    std::string tag;
    std::string bytes;
};

// Subfields joined by unit terminators, the last one ended by the field terminator.
std::string unitField(const std::vector<std::string>& subfields);

// A field description of a descriptive record, e.g. ("1600;&", "Layer Definition",
// "MODN!RCID", "(A,I)"). The 0000 and 0001 descriptions have empty labels and format.
std::string fieldDescription(std::string_view control, std::string_view name,
                             std::string_view labels, std::string_view format);

// A descriptive record (leader identifier 'L'), directory widths as small as fit.
std::string descriptiveRecord(const std::vector<Field>& fields);

// A data record with its own leader and directory. Widths of the directory's field length and
// field position (leader bytes 20 and 21): 0 picks the smallest that fits, as USGS files do.
// Throws std::invalid_argument when a value does not fit its width.
std::string dataRecord(char leaderId, const std::vector<Field>& fields, int lengthDigits = 0,
                       int positionDigits = 0);

// The field area alone: what a record without leader and directory consists of.
std::string fieldArea(const std::vector<Field>& fields);

// The three fields (0001, CELL, CVLS) of CEL0 data record `row` of a transfer.
std::vector<Field> cel0Fields(const Transfer& transfer, int row);

// The CEL0 descriptive record for the transfer's format and file id.
std::string cel0DescriptiveRecord(const Transfer& transfer);

}  // namespace marlwood::testsupport
