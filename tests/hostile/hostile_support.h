// What the hostile-input tests share besides tests/support.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "conversation.h"
#include "expected_output.h"
#include "files.h"
#include "quad_terrain.h"
#include "sdts_writer.h"
#include "temp_dir.h"
#include "transcript.h"

namespace marlwood::hostile {

namespace ts = marlwood::testsupport;

using ts::count;
using ts::endsWith;
using ts::Outcome;
using ts::readFile;
using ts::terSize;
using ts::writeFile;

// The usual answers after the banner key.
inline Outcome convert(const std::string& prefix, const std::string& output) {
    return ts::converse(ts::answers(prefix, output));
}

inline std::string shortModuleLine(const std::string& cel0_path, int decoded, int rows) {
    return "**" + cel0_path + " ended after " + std::to_string(decoded) + " of " +
           std::to_string(rows) + " rows; the missing rows are void**\n";
}

}  // namespace marlwood::hostile
