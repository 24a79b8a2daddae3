// The program's reader table: each input format's row, registered here so that the table itself
// (reader.cpp) includes none of them. The SDTS row comes last: it takes every SOURCE the others
// do not claim by name.
#include "pipeline/geotiff_input.h"
#include "pipeline/native_dem.h"
#include "pipeline/reader.h"
#include "pipeline/sdts_reader.h"

namespace marlwood {

const ReaderTable& inputFormats() {
    static const ReaderTable readers({nativeDemFormat(), geoTiffFormat(), sdtsTransferFormat()});
    return readers;
}

Input sdtsInput(std::string source, TransferModules modules) {
    Input input;
    input.source = std::move(source);
    input.modules = std::move(modules);
    input.format = &inputFormats().rows().back();
    return input;
}

}  // namespace marlwood
