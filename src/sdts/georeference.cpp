#include "sdts/georeference.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <string_view>
#include <utility>
#include <vector>

#include "common/text.h"
#include "sdts/iso8211.h"

namespace marlwood {

namespace {

using iso8211::Subfield;
using iso8211::SubfieldFormat;

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

// One field of one record of a module: its subfields found by label. Each read gives the value
// or the one line that refuses the transfer.
class FieldValues {
  public:
    FieldValues(std::string where, std::vector<Value> values)
        : where_(std::move(where)), values_(std::move(values)) {}

    Result<std::string> text(std::string_view label) const {
        const Result<std::string> text = optionalText(label);
        if (text && text->empty()) return refusal(std::string(label) + " is empty");
        return text;
    }
    // The text, empty when the subfield is.
    Result<std::string> optionalText(std::string_view label) const {
        const Value* value = find(label);
        if (value == nullptr) return missing(label);
        return std::string(trimmed(value->bytes));
    }
    Result<double> real(std::string_view label) const {
        const Value* value = find(label);
        if (value == nullptr) return missing(label);
        const std::optional<double> real = iso8211::realValue(value->subfield());
        if (!real) return refusal(std::string(label) + " is no number: " + quoted(value->bytes));
        return *real;
    }
    // A real number within `range`.
    Result<double> realWithin(std::string_view label, const Range& range) const {
        const Result<double> v = real(label);
        if (v && !range.contains(*v)) {
            return refusal(std::string(label) + " " + shownNumber(*v) + " is not " + range.what);
        }
        return v;
    }
    // A whole number within int32_t, written as an integer or as a real with no fraction.
    Result<std::int32_t> whole(std::string_view label) const {
        const Value* value = find(label);
        if (value == nullptr) return missing(label);
        const std::optional<double> real = iso8211::realValue(value->subfield());
        if (!real || *real != std::trunc(*real) || *real < INT32_MIN || *real > INT32_MAX) {
            return refusal(std::string(label) + " is no whole number: " + quoted(value->bytes));
        }
        return static_cast<std::int32_t>(*real);
    }
    Error refusal(const std::string& what) const { return failure(where_ + what); }

  private:
    const Value* find(std::string_view label) const {
        for (const Value& value : values_) {
            if (value.label == label) return &value;
        }
        return nullptr;
    }
    Error missing(std::string_view label) const {
        return refusal("no subfield " + std::string(label));
    }

    std::string where_;
    std::vector<Value> values_;
};

// Field `tag` of every record of a module that holds it, in record order (the first of them when
// a record holds it twice). `label` names the module in messages.
Result<std::vector<FieldValues>> readFields(std::string_view label, const ModuleSource& module,
                                            std::string_view tag) {
    const std::string where = std::string(label) + " module " + module.name + ": ";
    if (module.name.empty())
        return failure("the transfer has no " + std::string(label) + " module");
    const Result<std::string> whole = readWholeModule(module, kMaxGeoreferenceModuleBytes);
    if (!whole) return failure(where + whole.message());
    iso8211::ModuleParser parser(*whole);
    std::vector<FieldValues> fields;
    iso8211::Record record;
    while (parser.next(record)) {
        const iso8211::Field* field = record.find(tag);
        if (field == nullptr) continue;
        Result<std::vector<Subfield>> subfields = iso8211::splitSubfields(*field);
        if (!subfields) return failure(where + subfields.message());
        std::vector<Value> values;
        values.reserve(subfields->size());
        for (const Subfield& s : *subfields) {
            values.push_back(Value{std::string(s.label), *s.format, std::string(s.bytes)});
        }
        fields.emplace_back(where + "field " + std::string(tag) + ": ", std::move(values));
    }
    if (!parser.status()) return failure(where + parser.status().message());
    if (fields.empty()) return failure(where + "no record holds a field " + std::string(tag));
    return fields;
}

Result<FieldValues> firstField(std::string_view label, const ModuleSource& module,
                               std::string_view tag) {
    Result<std::vector<FieldValues>> fields = readFields(label, module, tag);
    if (!fields) return fields.error();
    return std::move(fields->front());
}

bool mentions(std::string_view text, std::string_view lower_word) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower.find(lower_word) != std::string::npos;
}

// Reals of one field, each within its range, into their places.
struct RealTo {
    const char* label;
    const Range& range;
    double& to;
};
Status readReals(const FieldValues& field, std::initializer_list<RealTo> reals) {
    for (const RealTo& r : reals) {
        const Result<double> v = field.realWithin(r.label, r.range);
        if (!v) return v.error();
        r.to = *v;
    }
    return {};
}

Status readIref(const ModuleSource& module, Georeference& g) {
    const Result<FieldValues> iref = firstField("IREF", module, "IREF");
    if (!iref) return iref.error();
    return readReals(*iref, {{"SFAX", kScaleFactor, g.sfax},
                             {"SFAY", kScaleFactor, g.sfay},
                             {"XORG", kOrigin, g.xorg},
                             {"YORG", kOrigin, g.yorg},
                             {"XHRS", kPosting, g.xhrs},
                             {"YHRS", kPosting, g.yhrs}});
}

// The first cell must lie where the reference system has ground: SADR is checked with IREF's
// scale and offset, once XREF has said which system it is.
Status checkFirstCell(const FieldValues& sadr, const ModuleSource& iref, const Georeference& g) {
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
        return sadr.refusal(std::string(a.label) + " " + shownNumber(a.internal) +
                            " places the first cell at " + shownNumber(a.ground) + " (with SFA" +
                            a.label + " " + shownNumber(a.scale) + " and " + a.label + "ORG " +
                            shownNumber(a.offset) + " of IREF module " + iref.name +
                            "), which is not " + a.range.what);
    }
    return {};
}

Status readXref(const ModuleSource& module, Georeference& g) {
    const Result<FieldValues> xref = firstField("XREF", module, "XREF");
    if (!xref) return xref.error();
    const Result<std::string> rsnm = xref->text("RSNM");
    if (!rsnm) return rsnm.error();
    const Result<std::string> hdat = xref->text("HDAT");
    if (!hdat) return hdat.error();
    g.rsnm = *rsnm;
    g.hdat = *hdat;
    // A system without zones (geographic coordinates) leaves ZONE empty.
    const Result<std::string> zone_text = xref->optionalText("ZONE");
    if (!zone_text) return zone_text.error();
    if (!zone_text->empty()) {
        const Result<std::int32_t> zone = xref->whole("ZONE");
        if (!zone) return zone.error();
        g.zone = *zone;
    }
    return {};
}

// DDSH: the cell format (FMT, "BI16" or "BFP32") and the elevation unit.
Result<ValueType> readDdsh(const ModuleSource& module, Georeference& g) {
    const Result<FieldValues> ddsh = firstField("DDSH", module, "DDSH");
    if (!ddsh) return ddsh.error();
    const Result<std::string> unit = ddsh->optionalText("UNIT");
    if (!unit) return unit.error();
    g.unit = *unit;
    const Result<std::string> format = ddsh->text("FMT");
    if (!format) return format.error();
    if (*format == "BI16") return kBi16;
    if (*format == "BFP32") return kBfp32;
    return ddsh->refusal("FMT " + quoted(*format) + " is neither BI16 nor BFP32");
}

Status requireKnownUnit(const ModuleSource& module, const std::string& unit) {
    if (unit != "METERS" && unit != "FEET") {
        return failure("DDSH module " + module.name + ": field DDSH: UNIT " + quoted(unit) +
                       " is neither METERS nor FEET");
    }
    return {};
}

// DDOM tells the void and fill values apart only in words: each is a domain record with RAVA
// "VALUE", described (DVDF) as "Void area in DEM" or "Fill Value used to make the DEM a
// rectangle" in USGS transfers.
Status readDdom(const ModuleSource& module, Georeference& g) {
    const Result<std::vector<FieldValues>> fields = readFields("DDOM", module, "DDOM");
    if (!fields) return fields.error();
    for (const FieldValues& ddom : *fields) {
        const Result<std::string> rava = ddom.optionalText("RAVA");
        if (!rava) return rava.error();
        if (*rava != "VALUE") continue;
        const Result<std::string> dvdf = ddom.optionalText("DVDF");
        if (!dvdf) return dvdf.error();
        const std::string& described = *dvdf;
        std::optional<std::int32_t>* value = nullptr;
        if (!g.void_value && mentions(described, "void")) {
            value = &g.void_value;
        } else if (!g.fill_value && mentions(described, "fill")) {
            value = &g.fill_value;
        }
        if (value == nullptr) continue;
        const Result<std::int32_t> dval = ddom.whole("DVAL");
        if (!dval) return dval.error();
        *value = *dval;
    }
    return {};
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

Result<TransferDescription> readTransferDescription(const TransferModules& modules, bool placed) {
    TransferDescription d;
    Georeference& g = d.georeference;
    // Every refusal is one line: module names come from the user and from archives.
    const auto refused = [](const Error& error) {
        return failure(printableText(error.message, std::string_view::npos, HighBytes::Kept));
    };
    const Result<ValueType> value_type = readDdsh(modules.ddsh, g);
    if (!value_type) return refused(value_type.error());
    d.value_type = *value_type;
    const Result<FieldValues> ldef = firstField("LDEF", modules.ldef, "LDEF");
    if (!ldef) return refused(ldef.error());
    const Result<std::int32_t> rows = ldef->whole("NROW");
    if (!rows) return refused(rows.error());
    const Result<std::int32_t> columns = ldef->whole("NCOL");
    if (!columns) return refused(columns.error());
    d.size.rows = *rows;
    d.size.columns = *columns;
    d.size.min_rows_cols = std::min(d.size.rows, d.size.columns) - 1;
    const Result<std::string> intr = ldef->optionalText("INTR");
    if (!intr) return refused(intr.error());
    g.sadr_meaning = *intr;
    if (Status iref = readIref(modules.iref, g); !iref) return refused(iref.error());
    if (!placed) return d;
    if (Status unit = requireKnownUnit(modules.ddsh, g.unit); !unit) return refused(unit.error());
    if (g.sadr_meaning.empty()) return refused(ldef->refusal("INTR is empty"));
    const Result<FieldValues> sadr = firstField("RSDF", modules.rsdf, "SADR");
    if (!sadr) return refused(sadr.error());
    if (Status read = readReals(*sadr, {{"X", kInternal, g.sadr_x}, {"Y", kInternal, g.sadr_y}});
        !read) {
        return refused(read.error());
    }
    const Result<FieldValues> rsdf = firstField("RSDF", modules.rsdf, "RSDF");
    if (!rsdf) return refused(rsdf.error());
    const Result<std::string> scor = rsdf->text("SCOR");
    if (!scor) return refused(scor.error());
    g.scan_origin = *scor;
    if (Status xref = readXref(modules.xref, g); !xref) return refused(xref.error());
    if (Status first = checkFirstCell(*sadr, modules.iref, g); !first) {
        return refused(first.error());
    }
    if (!modules.ddom.name.empty()) {
        if (Status ddom = readDdom(modules.ddom, g); !ddom) return refused(ddom.error());
    }
    return d;
}

Result<Georeference> readGeoreference(const TransferModules& modules) {
    Result<TransferDescription> description = readTransferDescription(modules, true);
    if (!description) return description.error();
    return description->georeference;
}

}  // namespace marlwood
