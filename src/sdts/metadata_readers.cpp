#include "sdts/metadata_readers.h"

#include <charconv>
#include <limits>

namespace marlwood {

namespace {

// Which module a failed leader check is reported as: DDSH's walk reports itself as SPDM's.
constexpr char kLeaderKindSpdm[] = "spdm";
constexpr char kLeaderKindIref[] = "iref";

// The row count of a USGS LDEF module always starts here: its descriptive record and the
// subfields before NROW have fixed lengths.
constexpr std::int32_t kLdefRowCountOffset = 267;
// Subfields before the cell format in DDSH, and before the spacing (XHRS) in IREF.
constexpr int kDdshSubfieldsBeforeFormat = 6;
constexpr int kIrefSubfieldsBeforeSpacing = 10;
// The leader walk stops after the base address, on byte 17 of the first data record.
constexpr std::int32_t kAfterBaseAddress = 17;
// SPDM: the last directory entry's position ends three bytes before the field area.
constexpr std::int32_t kSpdmPositionBack = 3;
constexpr std::int32_t kSpdmPositionWidth = 3;
constexpr std::size_t kCoordinateChars = 18;

bool openModule(ModuleReader& in, const ModuleSource& path, EventSink& events) {
    if (in.open(path)) return true;
    events.emit(event::ModuleUnreadable{path.name});
    return false;
}

void closeModule(ModuleReader& in, const ModuleSource& path, EventSink& events) {
    if (in.failed()) events.emit(event::ModuleEndedEarly{path.name});
    in.close();
}

// Checks the descriptive and first data record leaders and leaves the reader on byte 17 of the
// first data record. Returns the base address, or -1 when the module did not open.
std::int32_t walkToFirstDataRecord(ModuleReader& in, const ModuleSource& path,
                                   const char* leader_kind, EventSink& events) {
    if (!openModule(in, path, events)) return -1;
    const std::int32_t ddr_length = in.readDecimal(kLengthWidth);
    in.skipBytes(1);
    char leader_id = static_cast<char>(in.readByte());
    if (leader_id != 'L') events.emit(event::NotLegitimate{leader_kind});
    in.close();
    if (!openModule(in, path, events)) return -1;
    in.skipBytes(ddr_length);
    in.readDecimal(kLengthWidth);
    in.skipBytes(1);
    leader_id = static_cast<char>(in.readByte());
    if (leader_id != 'D') events.emit(event::NotLegitimate{leader_kind});
    in.skipBytes(kLeaderBaseOffset - kLeaderIdOffset - 1);
    return in.readDecimal(kLengthWidth);
}

}  // namespace

ValueType readValueType(ModuleReader& in, const ModuleSource& ddsh_path, EventSink& events) {
    const std::int32_t base_address = walkToFirstDataRecord(in, ddsh_path, kLeaderKindSpdm, events);
    if (base_address < 0) return 0;
    in.skipBytes(base_address - kAfterBaseAddress);
    in.skipPast(kFieldTerminator);
    for (int i = 0; i < kDdshSubfieldsBeforeFormat; ++i) in.skipPast(kUnitTerminator);
    in.readByte();
    const auto value_type = static_cast<ValueType>(in.readByte());
    closeModule(in, ddsh_path, events);
    return value_type;
}

GridSize readGridSize(ModuleReader& in, const ModuleSource& ldef_path, EventSink& events) {
    GridSize size;
    if (openModule(in, ldef_path, events)) {
        in.skipBytes(kLdefRowCountOffset);
        size.rows = in.readUnitInteger();
        size.columns = in.readUnitInteger();
        closeModule(in, ldef_path, events);
    }
    size.min_rows_cols = (size.columns > size.rows ? size.rows : size.columns) - 1;
    events.emit(event::GridSizeRead{size});
    return size;
}

GridSpacing readGridSpacing(ModuleReader& in, const ModuleSource& iref_path, EventSink& events) {
    const std::int32_t base_address = walkToFirstDataRecord(in, iref_path, kLeaderKindIref, events);
    if (base_address < 0) return kNoSpacing;
    in.skipBytes(base_address - kAfterBaseAddress);
    in.skipPast(kFieldTerminator);
    for (int i = 0; i < kIrefSubfieldsBeforeSpacing; ++i) in.skipPast(kUnitTerminator);
    const std::uint8_t spacing = in.readByte();
    const GridSpacing grid_spacing = spacing == '1'   ? kSpacing10m
                                     : spacing == '3' ? kSpacing30m
                                                      : kNoSpacing;
    events.emit(event::SpacingRead{grid_spacing});
    closeModule(in, iref_path, events);
    return grid_spacing;
}

float parseCoordinate(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // from_chars reads no locale; starting only at a digit or point keeps out the infinities,
    // NaNs and second signs that it would take but that are no coordinate.
    double value = 0.0;
    const char* first = text.data() + i;
    const char* last = text.data() + text.size();
    if (first < last && ((*first >= '0' && *first <= '9') || *first == '.')) {
        if (std::from_chars(first, last, value, std::chars_format::general).ec != std::errc{}) {
            value = 0.0;
        }
    }
    // Beyond the float range the nearest float is an infinity; say so rather than leave the
    // conversion undefined. The bound is halfway between the largest float and 2^128.
    constexpr double kFloatOverflow = 0x1.ffffffp127;
    if (value >= kFloatOverflow) value = std::numeric_limits<double>::infinity();
    return static_cast<float>(negative ? -value : value);
}

Corners readCorners(ModuleReader& in, const ModuleSource& spdm_path, EventSink& events) {
    Corners corners;
    const std::int32_t base_address = walkToFirstDataRecord(in, spdm_path, kLeaderKindSpdm, events);
    if (base_address < 0) return corners;
    in.skipBytes(base_address - kAfterBaseAddress - kSpdmPositionBack);
    const std::int32_t field_position = in.readDecimal(kSpdmPositionWidth);
    in.skipBytes(field_position - 1);
    in.skipBytes(1);

    float* const coordinates[] = {
        &corners.sw_cornerx, &corners.sw_cornery, &corners.nw_cornerx, &corners.nw_cornery,
        &corners.ne_cornerx, &corners.ne_cornery, &corners.se_cornerx, &corners.se_cornery,
    };
    std::string text;
    for (std::size_t k = 0; k < std::size(coordinates); ++k) {
        const bool last = k + 1 == std::size(coordinates);
        in.readTextUntil(last ? kFieldTerminator : kUnitTerminator, kCoordinateChars, text);
        *coordinates[k] = parseCoordinate(text);
    }
    events.emit(event::CornersRead{corners});
    closeModule(in, spdm_path, events);
    return corners;
}

}  // namespace marlwood
