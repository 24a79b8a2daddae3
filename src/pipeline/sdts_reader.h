#pragma once

#include "pipeline/reader.h"

// The reader row of SDTS transfers: a module prefix, a directory of modules or a USGS archive.
namespace marlwood {

InputFormat sdtsTransferFormat();

// Whether a CEL0 read strictly was read: success when it was (a CEL0 that merely ends early is
// said as an event); a failure when it did not open (`opened` false) or could not be read on
// before its end.
Status cel0Read(const ModuleReader& reader, bool opened, const ModuleSource& cel0);

}  // namespace marlwood
