#pragma once

#include "pipeline/reader.h"

// The reader row of USGS native DEMs (.dem, .dem.gz): ASCII profiles on a UTM lattice, or in
// arc-seconds, then laid onto a UTM lattice as they are read.
namespace marlwood {

InputFormat nativeDemFormat();

}  // namespace marlwood
