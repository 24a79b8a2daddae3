#pragma once

#include "pipeline/reader.h"

// The reader row of USGS native DEMs (.dem, .dem.gz): ASCII profiles on a UTM lattice.
namespace marlwood {

InputFormat nativeDemFormat();

}  // namespace marlwood
