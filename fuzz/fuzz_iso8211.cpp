// Any bytes as one ISO 8211 module, read as the georeference reads its modules: the descriptive
// record, then every record, every field and every subfield as text, integer and real. Besides
// what the sanitizers catch, the reader must keep its promises: what it gives lies inside the
// bytes, it stops, and what it cannot read it says in one line. A georeference read from them is
// placed, cropped and merged with a neighbour in the next UTM zone.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_promises.h"
#include "geo/placement.h"
#include "geo/window.h"
#include "pipeline/merge.h"
#include "quad_terrain.h"
#include "sdts/georeference.h"
#include "sdts/iso8211.h"
#include "sdts_writer.h"

namespace {

namespace iso = marlwood::iso8211;

using marlwood::fuzz::broken;
using marlwood::fuzz::expectOneLine;

bool inside(std::string_view part, std::string_view whole) {
    const auto begin = reinterpret_cast<std::uintptr_t>(whole.data());
    const auto at = reinterpret_cast<std::uintptr_t>(part.data());
    return part.empty() ||
           (at >= begin && part.size() <= whole.size() && at - begin <= whole.size() - part.size());
}

void readField(const iso::Field& field, std::string_view module) {
    if (!inside(field.data, module)) broken("a field outside the module");
    const marlwood::Result<std::vector<iso::Subfield>> subfields = iso::splitSubfields(field);
    if (!subfields) return expectOneLine(subfields.message(), "splitSubfields");
    const std::size_t round = field.description->labels.size();
    for (std::size_t i = 0; i < subfields->size(); ++i) {
        const iso::Subfield& s = (*subfields)[i];
        if (!inside(s.bytes, field.data)) broken("a subfield outside its field");
        if (s.format->width > 0 && s.bytes.size() != s.format->width) broken("a width not kept");
        iso::integerValue(s);
        iso::realValue(s);
        if (i < round) {
            const marlwood::Result<iso::Subfield> found = iso::findSubfield(field, s.label);
            if (!found) broken("a subfield split but not found: " + found.message());
        }
    }
}

}  // namespace

// A 12 x 12 neighbour in UTM zone 16 over DULUTH's north-west corner (which lies in zone 15):
// merged with the transfer read, it is reprojected into zone 15, or the transfer into 16.
const marlwood::TransferModules& neighbour() {
    static const marlwood::TransferModules modules = [] {
        namespace ts = marlwood::testsupport;
        ts::Transfer t = ts::makeQuad(12, 12, ts::CellFormat::Bi16, 30, "7173");
        t.zone = 16;
        t.units = "FEET";
        t.corners = {109680, 5203560, 109680, 5203890, 110010, 5203890, 110010, 5203560};
        marlwood::TransferModules m;
        const std::pair<const char*, marlwood::ModuleSource*> slots[] = {
            {"cel0.ddf", &m.cel0}, {"ldef.ddf", &m.ldef}, {"spdm.ddf", &m.spdm},
            {"ddsh.ddf", &m.ddsh}, {"iref.ddf", &m.iref}, {"rsdf.ddf", &m.rsdf},
            {"xref.ddf", &m.xref}, {"ddom.ddf", &m.ddom}};
        const ts::ModuleSet built = ts::buildModules(t);
        for (const auto& [suffix, slot] : slots) {
            *slot = marlwood::ModuleSource(std::string("7173") + suffix,
                                           std::make_shared<const std::string>(built.at(suffix)));
        }
        return m;
    }();
    return modules;
}

// The transfer merged with the neighbour: planned in one line or with every piece inside the
// merged grid, and decoded (small grids only, so a run stays quick) in one line or whole.
void merge(const marlwood::TransferModules& modules) {
    marlwood::NoEvents events;
    const marlwood::Result<marlwood::MergePlan> plan = marlwood::planMerge(
        {marlwood::sdtsInput("read", modules), marlwood::sdtsInput("neighbour", neighbour())}, true,
        events);
    if (!plan) {
        expectOneLine(plan.message(), "planMerge");
        return;
    }
    constexpr std::int64_t kMostCells = std::int64_t{1} << 21;
    for (const marlwood::MergePiece& piece : plan->pieces) {
        if (piece.row_offset < 0 || piece.column_offset < 0 || piece.rows < 0 ||
            piece.columns < 0 || piece.row_offset + std::int64_t{piece.rows} > plan->size.rows ||
            piece.column_offset + std::int64_t{piece.columns} > plan->size.columns) {
            broken("a piece outside the merged grid");
        }
        if (std::int64_t{piece.metadata.size.rows} * piece.metadata.size.columns > kMostCells) {
            return;
        }
    }
    if (std::int64_t{plan->size.rows} * plan->size.columns > kMostCells) return;
    const marlwood::Result<marlwood::MergedGrid> merged =
        marlwood::decodeMerged(*plan, true, events);
    if (!merged) expectOneLine(merged.message(), "decodeMerged");
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    iso::ModuleParser parser(bytes);
    iso::Record record;
    std::size_t records = 0;
    while (parser.next(record)) {
        // Every record takes at least one byte, so the reading ends.
        if (++records > size) broken("more records than bytes");
        for (const iso::Field& field : record.fields) readField(field, bytes);
    }
    if (!parser.status()) expectOneLine(parser.status().message(), "ModuleParser");

    // The same bytes as every module of a georeference.
    const marlwood::ModuleSource module("m.ddf", std::make_shared<const std::string>(bytes));
    marlwood::TransferModules modules;
    for (marlwood::ModuleSource* m : {&modules.cel0, &modules.ldef, &modules.spdm, &modules.ddsh,
                                      &modules.iref, &modules.rsdf, &modules.xref, &modules.ddom}) {
        *m = module;
    }
    const marlwood::Result<marlwood::Georeference> result = marlwood::readGeoreference(modules);
    if (!result) {
        expectOneLine(result.message(), "readGeoreference");
        return 0;
    }
    // Placed, or refused in one line; a placed grid lies at a finite corner.
    const marlwood::Result<marlwood::GridPlacement> placed = marlwood::placeGrid(*result);
    if (!placed) {
        expectOneLine(placed.message(), "placeGrid");
        return 0;
    }
    for (const double v : placed->geotransform) {
        if (!std::isfinite(v)) broken("a geotransform that is not finite");
    }
    merge(modules);
    // The placed grid cropped: the window arithmetic takes its values (PROJ takes only the
    // codes epsgCode gives and degrees the option parser checked; in a merge, the points the
    // georeference's values place).
    const marlwood::GroundPoint area[] = {{4.5e5, 5.0e6}, {4.6e5, 5.1e6}};
    const std::int32_t rows = 1000, columns = 2000;
    for (const std::optional<marlwood::CellWindow> window :
         {marlwood::windowHolding(area, placed->geotransform, rows, columns),
          marlwood::squareWindow(area[0], 3000, placed->geotransform, rows, columns)}) {
        if (window && !(window->rows > 0 && window->columns > 0 && window->first_row >= 0 &&
                        window->first_column >= 0 && window->first_row + window->rows <= rows &&
                        window->first_column + window->columns <= columns)) {
            broken("a window outside the grid");
        }
    }
    return 0;
}
