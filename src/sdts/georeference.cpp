#include "sdts/georeference.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <string_view>
#include <utility>
#include <vector>

#include "common/quoted_text.h"
#include "sdts/iso8211.h"

namespace marlwood {

namespace {

using iso8211::Subfield;
using iso8211::SubfieldFormat;

// Ends the read with one line; caught in readGeoreference, never let out.
struct Refusal {
    std::string line;
};

// A subfield copied out of its module, which is gone once the field has been read.
struct Value {
    std::string label;
    SubfieldFormat format;
    std::string bytes;

    Subfield subfield() const { return Subfield{label, &format, bytes}; }
};

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    return text;
}

std::string quoted(std::string_view text) {
    return quotedText(text, 40);
}

// A number as a line shows it: ten significant digits at most, with an exponent where one is
// due, so 1E300 is not 301 digits and 1E-300 is not 0.
std::string shown(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", v);
    return text;
}

// What a georeference value may be: anything beyond is the mark of a damaged module, and is
// refused before any arithmetic can overflow on it or place a grid half a world away.
struct Range {
    double low, high;
    const char* what;  // "is not ..." / "is outside ..."
    bool contains(double v) const { return v >= low && v <= high; }  // false for NaN
};
// Ground units are metres for UTM; other systems get the bounds of the largest (state plane
// coordinates in feet).
constexpr double kMaxCoordinate = 1e8;
constexpr Range kScaleFactor{1e-9, 1e9, "a positive scale factor (1e-9 to 1e9)"};
constexpr Range kOrigin{-kMaxCoordinate, kMaxCoordinate, "a ground offset (-1e8 to 1e8)"};
constexpr Range kPosting{0.1, 1e4, "a posting (0.1 to 10000 ground units)"};
constexpr Range kInternal{-1e15, 1e15, "an internal coordinate (-1e15 to 1e15)"};
// Where a quad's first cell may lie: in a UTM zone, or within the bounds above elsewhere.
struct Extent {
    Range x, y;
};
constexpr Extent kUtmExtent{{0, 1e6, "a UTM easting (0 to 1000000 m)"},
                            {0, 1e7, "a UTM northing (0 to 10000000 m)"}};
constexpr Extent kAnyExtent{{-kMaxCoordinate, kMaxCoordinate, "a ground x (-1e8 to 1e8)"},
                            {-kMaxCoordinate, kMaxCoordinate, "a ground y (-1e8 to 1e8)"}};

// One field of one record of a module: its subfields found by label.
class FieldValues {
  public:
    FieldValues(std::string where, std::vector<Value> values)
        : where_(std::move(where)), values_(std::move(values)) {}

    std::string text(std::string_view label) const {
        const std::string_view text = trimmed(find(label).bytes);
        if (text.empty()) throw Refusal{where_ + std::string(label) + " is empty"};
        return std::string(text);
    }
    // The text, or nothing when the subfield is empty.
    std::optional<std::string> optionalText(std::string_view label) const {
        const std::string_view text = trimmed(find(label).bytes);
        if (text.empty()) return std::nullopt;
        return std::string(text);
    }
    double real(std::string_view label) const {
        const Value& value = find(label);
        const std::optional<double> real = iso8211::realValue(value.subfield());
        if (!real)
            throw Refusal{where_ + std::string(label) + " is no number: " + quoted(value.bytes)};
        return *real;
    }
    // A real number within `range`.
    double realWithin(std::string_view label, const Range& range) const {
        const double v = real(label);
        if (!range.contains(v)) {
            throw Refusal{where_ + std::string(label) + " " + shown(v) + " is not " + range.what};
        }
        return v;
    }
    // A whole number within int32_t, written as an integer or as a real with no fraction.
    std::int32_t whole(std::string_view label) const {
        const Value& value = find(label);
        const std::optional<double> real = iso8211::realValue(value.subfield());
        if (!real || *real != std::trunc(*real) || *real < INT32_MIN || *real > INT32_MAX) {
            throw Refusal{where_ + std::string(label) +
                          " is no whole number: " + quoted(value.bytes)};
        }
        return static_cast<std::int32_t>(*real);
    }
    const std::string& where() const { return where_; }

  private:
    const Value& find(std::string_view label) const {
        for (const Value& value : values_) {
            if (value.label == label) return value;
        }
        throw Refusal{where_ + "no subfield " + std::string(label)};
    }

    std::string where_;
    std::vector<Value> values_;
};

// Field `tag` of every record of a module that holds it, in record order (the first of them when
// a record holds it twice). `label` names the module in messages.
std::vector<FieldValues> readFields(std::string_view label, const ModuleSource& module,
                                    std::string_view tag) {
    const std::string where = std::string(label) + " module " + module.name + ": ";
    if (module.name.empty()) throw Refusal{"the transfer has no " + std::string(label) + " module"};
    const Result<std::string> whole = readWholeModule(module, kMaxGeoreferenceModuleBytes);
    if (!whole) throw Refusal{where + whole.message()};
    iso8211::ModuleParser parser(*whole);
    std::vector<FieldValues> fields;
    iso8211::Record record;
    while (parser.next(record)) {
        const iso8211::Field* field = record.find(tag);
        if (field == nullptr) continue;
        Result<std::vector<Subfield>> subfields = iso8211::splitSubfields(*field);
        if (!subfields) throw Refusal{where + subfields.message()};
        std::vector<Value> values;
        values.reserve(subfields->size());
        for (const Subfield& s : *subfields) {
            values.push_back(Value{std::string(s.label), *s.format, std::string(s.bytes)});
        }
        fields.emplace_back(where + "field " + std::string(tag) + ": ", std::move(values));
    }
    if (!parser.error().empty()) throw Refusal{where + parser.error()};
    if (fields.empty()) throw Refusal{where + "no record holds a field " + std::string(tag)};
    return fields;
}

FieldValues firstField(std::string_view label, const ModuleSource& module, std::string_view tag) {
    return std::move(readFields(label, module, tag).front());
}

bool mentions(std::string_view text, std::string_view lower_word) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower.find(lower_word) != std::string::npos;
}

void readIref(const ModuleSource& module, Georeference& g) {
    const FieldValues iref = firstField("IREF", module, "IREF");
    g.sfax = iref.realWithin("SFAX", kScaleFactor);
    g.sfay = iref.realWithin("SFAY", kScaleFactor);
    g.xorg = iref.realWithin("XORG", kOrigin);
    g.yorg = iref.realWithin("YORG", kOrigin);
    g.xhrs = iref.realWithin("XHRS", kPosting);
    g.yhrs = iref.realWithin("YHRS", kPosting);
}

// The first cell must lie where the reference system has ground: SADR is checked with IREF's
// scale and offset, once XREF has said which system it is.
void checkFirstCell(const FieldValues& sadr, const ModuleSource& iref, const Georeference& g) {
    const Extent* extent = g.rsnm == "UTM" ? &kUtmExtent : &kAnyExtent;
    const GroundPoint first = g.firstCell();
    const struct {
        const char* label;
        double internal, scale, offset, ground;
        const Range& range;
    } axes[] = {{"X", g.sadr_x, g.sfax, g.xorg, first.x, extent->x},
                {"Y", g.sadr_y, g.sfay, g.yorg, first.y, extent->y}};
    for (const auto& a : axes) {
        if (a.range.contains(a.ground)) continue;
        throw Refusal{sadr.where() + a.label + " " + shown(a.internal) +
                      " places the first cell at " + shown(a.ground) + " (with SFA" + a.label +
                      " " + shown(a.scale) + " and " + a.label + "ORG " + shown(a.offset) +
                      " of IREF module " + iref.name + "), which is not " + a.range.what};
    }
}

void readXref(const ModuleSource& module, Georeference& g) {
    const FieldValues xref = firstField("XREF", module, "XREF");
    g.rsnm = xref.text("RSNM");
    g.hdat = xref.text("HDAT");
    // A system without zones (geographic coordinates) leaves ZONE empty.
    if (xref.optionalText("ZONE")) g.zone = xref.whole("ZONE");
}

// DDSH: the cell format (FMT, "BI16" or "BFP32") and the elevation unit.
ValueType readDdsh(const ModuleSource& module, Georeference& g) {
    const FieldValues ddsh = firstField("DDSH", module, "DDSH");
    g.unit = ddsh.optionalText("UNIT").value_or("");
    const std::string format = ddsh.text("FMT");
    if (format == "BI16") return kBi16;
    if (format == "BFP32") return kBfp32;
    throw Refusal{ddsh.where() + "FMT " + quoted(format) + " is neither BI16 nor BFP32"};
}

void requireKnownUnit(const ModuleSource& module, const std::string& unit) {
    if (unit != "METERS" && unit != "FEET") {
        throw Refusal{"DDSH module " + module.name + ": field DDSH: UNIT " + quoted(unit) +
                      " is neither METERS nor FEET"};
    }
}

// DDOM tells the void and fill values apart only in words: each is a domain record with RAVA
// "VALUE", described (DVDF) as "Void area in DEM" or "Fill Value used to make the DEM a
// rectangle" in USGS transfers.
void readDdom(const ModuleSource& module, Georeference& g) {
    for (const FieldValues& ddom : readFields("DDOM", module, "DDOM")) {
        if (ddom.optionalText("RAVA") != "VALUE") continue;
        const std::string described = ddom.optionalText("DVDF").value_or("");
        if (!g.void_value && mentions(described, "void")) {
            g.void_value = ddom.whole("DVAL");
        } else if (!g.fill_value && mentions(described, "fill")) {
            g.fill_value = ddom.whole("DVAL");
        }
    }
}

}  // namespace

std::optional<GroundPoint> Georeference::topLeftCorner() const {
    if (scan_origin != "TL") return std::nullopt;
    // From the point SADR gives to the cell's top-left corner, in postings.
    const struct {
        const char* code;
        double right, up;
    } offsets[] = {{"CE", -0.5, 0.5}, {"TL", 0, 0}, {"TR", -1, 0}, {"BL", 0, 1}, {"BR", -1, 1}};
    for (const auto& offset : offsets) {
        if (sadr_meaning == offset.code) {
            const GroundPoint first = firstCell();
            return GroundPoint{first.x + offset.right * xhrs, first.y + offset.up * yhrs};
        }
    }
    return std::nullopt;
}

namespace {
// Module names come from the user and from archives: the line stays one line.
std::string oneLine(std::string line) {
    for (char& c : line) {
        if (static_cast<unsigned char>(c) < 0x20) c = '?';
    }
    return line;
}
}  // namespace

Result<TransferDescription> readTransferDescription(const TransferModules& modules, bool placed) {
    try {
        TransferDescription d;
        Georeference& g = d.georeference;
        d.value_type = readDdsh(modules.ddsh, g);
        const FieldValues ldef = firstField("LDEF", modules.ldef, "LDEF");
        d.size.rows = ldef.whole("NROW");
        d.size.columns = ldef.whole("NCOL");
        d.size.min_rows_cols = std::min(d.size.rows, d.size.columns) - 1;
        g.sadr_meaning = ldef.optionalText("INTR").value_or("");
        readIref(modules.iref, g);
        if (!placed) return d;
        requireKnownUnit(modules.ddsh, g.unit);
        if (g.sadr_meaning.empty()) g.sadr_meaning = ldef.text("INTR");
        const FieldValues sadr = firstField("RSDF", modules.rsdf, "SADR");
        g.sadr_x = sadr.realWithin("X", kInternal);
        g.sadr_y = sadr.realWithin("Y", kInternal);
        g.scan_origin = firstField("RSDF", modules.rsdf, "RSDF").text("SCOR");
        readXref(modules.xref, g);
        checkFirstCell(sadr, modules.iref, g);
        if (!modules.ddom.name.empty()) readDdom(modules.ddom, g);
        return d;
    } catch (const Refusal& refusal) {
        return failure(oneLine(refusal.line));
    }
}

Result<Georeference> readGeoreference(const TransferModules& modules) {
    Result<TransferDescription> description = readTransferDescription(modules, true);
    if (!description) return description.error();
    return description->georeference;
}

}  // namespace marlwood
