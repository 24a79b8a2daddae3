#pragma once

#include <gtest/gtest.h>

#include <filesystem>

// The real USGS transfers come with the repository (tests/data/usgs/); a missing folder means a
// broken checkout or build set-up, so the test fails rather than passing without them.
#define MARLWOOD_REQUIRE_USGS_DATA(dir_variable)                           \
    const std::filesystem::path dir_variable =                             \
        std::filesystem::path(MARLWOOD_TEST_DATA_DIR) / "usgs";            \
    if (!std::filesystem::is_directory(dir_variable)) {                    \
        FAIL() << "the real USGS transfers are missing: " << dir_variable; \
    }
