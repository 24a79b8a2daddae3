#include "sdts_writer.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <utility>

#include "files.h"

namespace marlwood::testsupport {
namespace {

constexpr int kLeaderSize = 24;
constexpr int kTagSize = 4;
constexpr int kMaxRecordLength = 99999;  // five digits in the leader
constexpr int kMaxDirectoryWidth = 9;    // one digit in the leader's entry map
// The reader takes a 'D' record's last directory entry as three digits of length and three of
// position, so CEL0 'D' records always use those widths.
constexpr int kDRecordDigits = 3;
// A USGS 'R' record has two position digits (its values field sits at 28) and at least three
// length digits.
constexpr int kRRecordPositionDigits = 2;
constexpr int kRRecordMinLengthDigits = 3;

std::string printed(const char* fmt, auto... args) {
    char buffer[64];
    const int n = std::snprintf(buffer, sizeof buffer, fmt, args...);
    if (n < 0 || n >= static_cast<int>(sizeof buffer)) {
        throw std::invalid_argument("sdts_writer: number too long to format");
    }
    return std::string(buffer, static_cast<std::size_t>(n));
}

int digitCount(long long value) {
    int digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}

std::string fixedDigits(long long value, int width, const char* what) {
    if (value < 0 || digitCount(value) > width) {
        throw std::invalid_argument(std::string("sdts_writer: ") + what + " " +
                                    std::to_string(value) + " does not fit " +
                                    std::to_string(width) + " digits");
    }
    return printed("%0*lld", width, value);
}

std::string decimal8(double value) {
    return printed("%.8f", value);
}

int cellSize(CellFormat format) {
    return format == CellFormat::Bi16 ? 2 : 4;
}

std::string moduleFileName(const Transfer& t, std::string_view module) {
    return t.file_id + std::string(module) + ".DDF";
}

// A whole record: leader, directory and field area. Throws when a number does not fit its width.
std::string recordWithDirectory(const std::string& leaderMiddle, const std::vector<Field>& fields,
                                int lengthDigits, int positionDigits) {
    const int entrySize = kTagSize + lengthDigits + positionDigits;
    const long long base = kLeaderSize + static_cast<long long>(fields.size()) * entrySize + 1;
    long long areaSize = 0;
    for (const Field& f : fields) areaSize += static_cast<long long>(f.bytes.size());
    const long long recordLength = base + areaSize;

    std::string record = fixedDigits(recordLength, 5, "record length");
    record += leaderMiddle;  // bytes 5-11
    record += fixedDigits(base, 5, "base address");
    record += "   ";
    record += static_cast<char>('0' + lengthDigits);
    record += static_cast<char>('0' + positionDigits);
    record += "04";
    long long position = 0;
    for (const Field& f : fields) {
        if (f.tag.size() != kTagSize) {
            throw std::invalid_argument("sdts_writer: tag '" + f.tag + "' is not 4 characters");
        }
        record += f.tag;
        record += fixedDigits(static_cast<long long>(f.bytes.size()), lengthDigits, "field length");
        record += fixedDigits(position, positionDigits, "field position");
        position += static_cast<long long>(f.bytes.size());
    }
    record += kFieldTerminator;
    record += fieldArea(fields);
    return record;
}

// Smallest widths that hold every field length and position, as USGS files use them.
std::pair<int, int> smallestWidths(const std::vector<Field>& fields) {
    int lengthDigits = 1;
    int positionDigits = 1;
    long long position = 0;
    for (const Field& f : fields) {
        lengthDigits = std::max(lengthDigits, digitCount(static_cast<long long>(f.bytes.size())));
        positionDigits = std::max(positionDigits, digitCount(position));
        position += static_cast<long long>(f.bytes.size());
    }
    return {lengthDigits, positionDigits};
}

std::string recordIdDescription() {
    // Spelled as in USGS transfers.
    return fieldDescription("0100;&", "DDF RECORD IDENTIFER", "", "");
}

std::string moduleDescriptiveRecord(const Transfer& t, std::string_view module,
                                    std::vector<Field> userFields) {
    std::string tag_pairs;
    for (const Field& f : userFields) tag_pairs += t.tag_pairs ? "0001" + f.tag : "";
    std::vector<Field> fields = {
        {"0000", fieldDescription("0000;&", moduleFileName(t, module), tag_pairs, "")},
        {"0001", recordIdDescription()},
    };
    fields.insert(fields.end(), userFields.begin(), userFields.end());
    return descriptiveRecord(fields);
}

Field recordIdField(int recordId) {
    return {"0001", fixedDigits(recordId, 7, "record id") + kFieldTerminator};
}

std::string buildLdef(const Transfer& t) {
    const std::string ddr = moduleDescriptiveRecord(
        t, "LDEF",
        {{"LDEF", fieldDescription("1600;&", "Layer Definition",
                                   "MODN!RCID!CMNM!LLBL!CODE!NROW!NCOL!SORI!SOCI!RWOO!CLOO!INTR",
                                   "(A,I,3A,6I,A)")}});
    const std::string ldef =
        unitField({"LDEF", "1", "CEL0", "ELEVATION", "V", std::to_string(t.rows),
                   std::to_string(t.columns), "1", "1", "0", "0", "CE"});
    return ddr + dataRecord('D', {recordIdField(1), {"LDEF", ldef}});
}

std::string buildDdsh(const Transfer& t) {
    const std::string ddr = moduleDescriptiveRecord(
        t, "DDSH",
        {{"DDSH", fieldDescription("1600;&", "Data Dictionary/Schema",
                                   "MODN!RCID!NAME!TYPE!ATLB!AUTH!FMT!UNIT!PREC", "(A,I,6A,R)")}});
    const std::string ddsh =
        unitField({"DDSH", "1", "CEL0", "CELL", "ELEVATION", "USGS/NMD",
                   t.format == CellFormat::Bi16 ? "BI16" : "BFP32", t.units, "1.00000000"});
    return ddr + dataRecord('D', {recordIdField(1), {"DDSH", ddsh}});
}

std::string buildIref(const Transfer& t) {
    // "Spacial" is how the USGS descriptive record spells it.
    const std::string ddr = moduleDescriptiveRecord(
        t, "IREF",
        {{"IREF", fieldDescription("1600;&", "Internal Spacial Reference",
                                   "MODN!RCID!SATP!XLBL!YLBL!HFMT!SFAX!SFAY!XORG!YORG!XHRS!YHRS",
                                   "(A,I,4A,6R)")}});
    const std::string iref =
        unitField({"IREF", "1", "2-TUPLE", "Easting", "Northing", "R", "1.00000000", "1.00000000",
                   "0.00000000", "0.00000000", decimal8(t.spacing_m), decimal8(t.spacing_m)});
    return ddr + dataRecord('D', {recordIdField(1), {"IREF", iref}});
}

std::string buildSpdm(const Transfer& t) {
    const std::string ddr = moduleDescriptiveRecord(
        t, "SPDM",
        {{"SPDM", fieldDescription("1600;&", "Spatial Domain", "MODN!RCID!DTYP!DSTP", "(A,I,2A)")},
         {"DMSA", fieldDescription("1600;&", "Domain Spatial Address", "X!Y", "(2R)")}});
    std::vector<std::string> coordinates;
    for (double c : t.corners) coordinates.push_back(decimal8(c));
    return ddr + dataRecord('D', {recordIdField(1),
                                  {"SPDM", unitField({"SPDM", "1", "RING", "EXTERNAL"})},
                                  {"DMSA", unitField(coordinates)}});
}

std::string buildRsdf(const Transfer& t) {
    const std::string ddr = moduleDescriptiveRecord(
        t, "RSDF",
        {{"RSDF",
          fieldDescription("1600;&", "Raster Definition",
                           "MODN!RCID!OBRP!CSCD!DEFI!RWXT!CLXT!SCOR!TIDX!ALTN!FSCN!ASPR!NLAY",
                           "(A,I,3A,2I,2A,I,A,R,I)")},
         {"ISID", fieldDescription("1600;&", "Internal Spatial ID", "MODN!RCID", "(A,I)")},
         {"SADR", fieldDescription("1600;&", "Spatial Address", "X!Y", "(2R)")},
         {"LYID", fieldDescription("1600;&", "Layer ID", "MODN!RCID", "(A,I)")}});
    // USGS grids hold the postings inside the quad's bounding box; SADR is the north-west one.
    const double s = t.spacing_m;
    const double west = std::min(t.corners[0], t.corners[2]);
    const double north = std::max(t.corners[3], t.corners[5]);
    const double x = t.first_cell ? (*t.first_cell)[0] : std::ceil(west / s) * s;
    const double y = t.first_cell ? (*t.first_cell)[1] : std::floor(north / s) * s;
    const std::string rsdf =
        unitField({"RSDF", "1", "G2", "GI", "DEF", std::to_string(t.rows),
                   std::to_string(t.columns), "TL", "NOTESS", "1", "R", "1.00000000", "1"});
    return ddr + dataRecord('D', {recordIdField(1),
                                  {"RSDF", rsdf},
                                  {"ISID", unitField({"IREF", "1"})},
                                  {"SADR", unitField({decimal8(x), decimal8(y)})},
                                  {"LYID", unitField({"LDEF", "1"})}});
}

std::string buildXref(const Transfer& t) {
    const std::string ddr = moduleDescriptiveRecord(
        t, "XREF",
        {{"XREF", fieldDescription("1600;&", "External Spatial Reference",
                                   "MODN!RCID!COMT!RSNM!HDAT!ZONE", "(A,I,4A)")},
         {"VATT",
          fieldDescription("1600;&", "Vertical Attributes", "VDAT!VEM!ATLB!AUTH", "(4A)")}});
    return ddr +
           dataRecord('D', {recordIdField(1),
                            {"XREF", unitField({"XREF", "1", t.xref_comment, t.reference_system,
                                                t.datum, std::to_string(t.zone)})},
                            {"VATT", unitField({"NGVD", "CELL", "ELEVATION", "USGS/NMD"})}});
}

std::string buildDdom(const Transfer& t) {
    const bool integers = t.format == CellFormat::Bi16;
    const std::string ddr = moduleDescriptiveRecord(
        t, "DDOM",
        {{"DDOM", fieldDescription("1600;&", "Data Dictionary/Domain",
                                   "MODN!RCID!ATLB!AUTH!ATYP!ADVF!ADMU!RAVA!DVAL!DVDF",
                                   integers ? "(A,I,6A,I,A)" : "(A,I,6A,R,A)")}});
    double low = 0;
    double high = 0;
    bool any = false;
    for (const double e : t.elevations) {
        if (e == t.void_value || e == t.fill_value) continue;
        low = any ? std::min(low, e) : e;
        high = any ? std::max(high, e) : e;
        any = true;
    }
    const auto value = [&](double v) {
        return integers ? std::to_string(std::lround(v)) : decimal8(v);
    };
    const struct {
        std::string unit, kind;
        double value;
        const char* description;
    } domains[] = {
        {"", "VALUE", static_cast<double>(t.void_value), "Void area in DEM"},
        {"", "VALUE", static_cast<double>(t.fill_value),
         "Fill Value used to make the DEM a rectangle"},
        {t.units, "MIN", t.min_elevation.value_or(low), "Minimum elevation of the DEM"},
        {t.units, "MAX", t.max_elevation.value_or(high), "Maximum elevation of the DEM"},
    };
    std::string module = ddr;
    int id = 0;
    for (const auto& d : domains) {
        ++id;
        module += dataRecord(
            'D', {recordIdField(id),
                  {"DDOM", unitField({"DDOM", std::to_string(id), "ELEVATION", "USGS/NMD",
                                      integers ? "INTEGER" : "REAL", integers ? "I" : "R", d.unit,
                                      d.kind, value(d.value), d.description})}});
    }
    return module;
}

std::string buildCatd(const Transfer& t) {
    const std::string ddr = moduleDescriptiveRecord(
        t, "CATD",
        {{"CATD", fieldDescription("1600;&", "Catalog/Directory",
                                   "MODN!RCID!NAME!TYPE!FILE!EXTR!MVER", "(A,I,5A)")}});
    // In USGS order; GDAL takes the first entry whose type begins with "Cell" as the raster.
    const std::vector<std::pair<std::string, std::string>> entries = {
        {"IREF", "Internal Spatial Reference"},
        {"XREF", "External Spatial Reference"},
        {"DDSH", "Data Dictionary/Schema"},
        {"RSDF", "Raster Definition"},
        {"LDEF", "Layer Definition"},
        {"CATD", "Catalog/Directory"},
        {"SPDM", "Spatial Domain"},
        {"CEL0", "Cell"}};
    std::string module = ddr;
    int id = 0;
    for (const auto& [name, type] : entries) {
        ++id;
        module += dataRecord('D', {recordIdField(id),
                                   {"CATD", unitField({"CATD", std::to_string(id), name, type,
                                                       moduleFileName(t, name), "N", "1"})}});
    }
    return module;
}

std::string buildCel0(const Transfer& t) {
    std::string module = cel0DescriptiveRecord(t);
    for (int row = 0; row < t.rows; ++row) {
        const std::vector<Field> fields = cel0Fields(t, row);
        if (t.layout == Cel0Layout::AllD) {
            module += dataRecord('D', fields, kDRecordDigits, kDRecordDigits);
        } else if (row == 0) {
            const int lengthDigits =
                std::max(kRRecordMinLengthDigits,
                         digitCount(static_cast<long long>(fields[2].bytes.size())));
            module += dataRecord('R', fields, lengthDigits, kRRecordPositionDigits);
        } else {
            module += fieldArea(fields);
        }
    }
    return module;
}

// Length of the 'R' record of a row of `columns` cells of `size` bytes.
long long rRecordLength(int size, long long columns) {
    const long long valuesLength = size * columns + 1;
    const int lengthDigits = std::max(kRRecordMinLengthDigits, digitCount(valuesLength));
    const long long base = kLeaderSize + 3 * (kTagSize + lengthDigits + kRRecordPositionDigits) + 1;
    return base + 8 + 20 + valuesLength;
}

void validate(const Transfer& t) {
    if (t.rows <= 0 || t.columns <= 0) {
        throw std::invalid_argument("sdts_writer: rows and columns must be positive");
    }
    if (t.rows > 99999) throw std::invalid_argument("sdts_writer: ROWI has five digits");
    if (t.columns > maxColumns(t.format, t.layout)) {
        throw std::invalid_argument("sdts_writer: " + std::to_string(t.columns) +
                                    " columns do not fit this CEL0 layout");
    }
    const auto cells = static_cast<std::size_t>(t.rows) * static_cast<std::size_t>(t.columns);
    const bool bits = t.format == CellFormat::Bfp32 && !t.bfp32_bits.empty();
    if (bits ? t.bfp32_bits.size() != cells : t.elevations.size() != cells) {
        throw std::invalid_argument("sdts_writer: need rows * columns cell values");
    }
    if (t.file_id.size() != 4) {
        // The module layouts (e.g. LDEF's row count at byte 267) assume four characters.
        throw std::invalid_argument("sdts_writer: file_id must be 4 characters");
    }
    if (t.spacing_m <= 0) throw std::invalid_argument("sdts_writer: spacing must be positive");
}

}  // namespace

std::string unitField(const std::vector<std::string>& subfields) {
    std::string field;
    for (std::size_t i = 0; i < subfields.size(); ++i) {
        if (i > 0) field += kUnitTerminator;
        field += subfields[i];
    }
    field += kFieldTerminator;
    return field;
}

std::string fieldDescription(std::string_view control, std::string_view name,
                             std::string_view labels, std::string_view format) {
    std::string field(control);
    field += name;
    field += kUnitTerminator;
    field += labels;
    field += kUnitTerminator;
    field += format;
    field += kFieldTerminator;
    return field;
}

std::string descriptiveRecord(const std::vector<Field>& fields) {
    const auto [lengthDigits, positionDigits] = smallestWidths(fields);
    // Interchange level 2, version 1, field control length 06.
    return recordWithDirectory("2L 1 06", fields, lengthDigits, positionDigits);
}

std::string dataRecord(char leaderId, const std::vector<Field>& fields, int lengthDigits,
                       int positionDigits) {
    const auto [smallestLength, smallestPosition] = smallestWidths(fields);
    if (lengthDigits == 0) lengthDigits = smallestLength;
    if (positionDigits == 0) positionDigits = smallestPosition;
    if (lengthDigits < 1 || lengthDigits > kMaxDirectoryWidth || positionDigits < 1 ||
        positionDigits > kMaxDirectoryWidth) {
        throw std::invalid_argument("sdts_writer: directory widths must be 1 to 9 digits");
    }
    std::string middle = " ";
    middle += leaderId;
    middle += " 1   ";
    return recordWithDirectory(middle, fields, lengthDigits, positionDigits);
}

std::string fieldArea(const std::vector<Field>& fields) {
    std::string area;
    for (const Field& f : fields) area += f.bytes;
    return area;
}

std::vector<Field> cel0Fields(const Transfer& t, int row) {
    const int recordId = row + 1;
    // RCID, then ROWI counted from SORI 1, then COLI 1: fixed five-digit widths as in (A(4),3I(5)).
    std::string cell = "CEL0";
    cell += fixedDigits(recordId, 5, "RCID");
    cell += fixedDigits(row + 1, 5, "ROWI");
    cell += fixedDigits(1, 5, "COLI");
    cell += kFieldTerminator;

    std::string values;
    values.reserve(static_cast<std::size_t>(t.columns) * 4 + 1);
    const std::size_t first = static_cast<std::size_t>(row) * static_cast<std::size_t>(t.columns);
    for (std::size_t i = first; i < first + static_cast<std::size_t>(t.columns); ++i) {
        if (t.format == CellFormat::Bi16) {
            const long rounded = std::lround(t.elevations.at(i));
            if (rounded < -32768 || rounded > 32767) {
                throw std::invalid_argument("sdts_writer: elevation outside BI16 range");
            }
            const auto bits = static_cast<std::uint16_t>(static_cast<std::int16_t>(rounded));
            values += static_cast<char>(bits >> 8);
            values += static_cast<char>(bits & 0xFF);
        } else {
            const std::uint32_t bits =
                t.bfp32_bits.empty()
                    ? std::bit_cast<std::uint32_t>(static_cast<float>(t.elevations.at(i)))
                    : t.bfp32_bits.at(i);
            for (int shift = 24; shift >= 0; shift -= 8) {
                values += static_cast<char>((bits >> shift) & 0xFF);
            }
        }
    }
    values += kFieldTerminator;
    return {recordIdField(recordId), {"CELL", cell}, {"CVLS", values}};
}

std::string cel0DescriptiveRecord(const Transfer& t) {
    return moduleDescriptiveRecord(
        t, "CEL0",
        {{"CELL", fieldDescription("1600;&", "Cell", "MODN!RCID!ROWI!COLI", "(A(4),3I(5))")},
         {"CVLS", fieldDescription("2600;&", "Cell Values", "*ELEVATION",
                                   t.format == CellFormat::Bi16 ? "(B(16))" : "(B(32))")}});
}

int maxColumns(CellFormat format, Cel0Layout layout) {
    const int size = cellSize(format);
    if (layout == Cel0Layout::AllD) return (999 - 1) / size;
    long long columns = kMaxRecordLength / size;
    while (rRecordLength(size, columns) > kMaxRecordLength) --columns;
    return static_cast<int>(columns);
}

ModuleSet buildModules(const Transfer& transfer) {
    validate(transfer);
    return {{"catd.ddf", buildCatd(transfer)}, {"cel0.ddf", buildCel0(transfer)},
            {"ddom.ddf", buildDdom(transfer)}, {"ddsh.ddf", buildDdsh(transfer)},
            {"iref.ddf", buildIref(transfer)}, {"ldef.ddf", buildLdef(transfer)},
            {"rsdf.ddf", buildRsdf(transfer)}, {"spdm.ddf", buildSpdm(transfer)},
            {"xref.ddf", buildXref(transfer)}};
}

void writeModules(const std::string& prefix, const ModuleSet& modules, bool upperCaseNames) {
    for (const auto& [suffix, bytes] : modules) {
        std::string name = suffix;
        if (upperCaseNames) {
            std::transform(name.begin(), name.end(), name.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        }
        writeFile(prefix + name, bytes);
    }
}

}  // namespace marlwood::testsupport
