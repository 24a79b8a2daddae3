#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

// The real USGS transfers sit in ../shared beside the repository. In CI they must be there; on a
// developer's machine without them the test is skipped, visibly.
#define MARLWOOD_REQUIRE_SHARED_DATA(dir_variable)                               \
    const std::filesystem::path dir_variable =                                   \
        std::filesystem::path(MARLWOOD_SHARED_DIR) / "data" / "usgs-sdts";       \
    if (!std::filesystem::is_directory(dir_variable)) {                          \
        const char* ci = std::getenv("CI");                                      \
        if (ci != nullptr && std::string(ci) == "true") {                        \
            FAIL() << "the shared USGS transfers are missing: " << dir_variable; \
        }                                                                        \
        GTEST_SKIP() << "no shared USGS transfers at " << dir_variable;          \
    }
