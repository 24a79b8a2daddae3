#pragma once

#include "common/events.h"
#include "common/result.h"
#include "geo/window.h"
#include "pipeline/transfer.h"
#include "sdts/module_reader.h"

// A USGS native DEM read as a transfer: the same metadata and decoded grid the modules give, so
// every later step is the same for both.
namespace marlwood {

// Whether the transfer is a native DEM rather than modules.
inline bool isNativeDem(const TransferModules& modules) {
    return !modules.native_dem.name.empty();
}

// Its metadata (with `placed`, its georeference and placement too): the lattice its profiles lie
// on, the posting, the elevation unit.
Result<TransferMetadata> readNativeDemMetadata(const ModuleSource& dem, bool placed,
                                               EventSink& events);

// Its grid, or with `window` only that window's cells, as the metadata read it: row 0 the
// northern row, every cell no profile reaches void.
Result<DecodedGrid> decodeNativeDem(const ModuleSource& dem, const TransferMetadata& metadata,
                                    const CellWindow* window, bool thousandths, EventSink& events);

// Its extremes only, holding no grid: in whole units or, with `thousandths`, in thousandths of
// one (then max below min when no cell is valid).
Result<Extremes> nativeDemExtremes(const ModuleSource& dem, bool thousandths = false);

}  // namespace marlwood
