#include "cli/options.h"

#include <gtest/gtest.h>

#include "fetch/locations.h"

namespace marlwood {
namespace {

TEST(Options, ParsedOrRefused) {
    struct Case {
        std::vector<std::string> arguments;
        const char* error;  // empty: accepted
        std::vector<std::string> sources{};
        std::int32_t height_scale = 30;
        std::string output_file{}, output_dir{};
        unsigned jobs = 0;
        bool force = false, common_range = false;
    };
    const Case cases[] = {
        {{"a"}, "", {"a"}, 30, "", "", 0, false, false},
        {{"-s", "60", "a", "b"}, "", {"a", "b"}, 60, "", "", 0, false, false},
        {{"-s-5", "a"}, "", {"a"}, -5, "", "", 0, false, false},
        {{"--height-scale=32767", "a"}, "", {"a"}, 32767, "", "", 0, false, false},
        {{"--height-scale", "-32768", "a"}, "", {"a"}, -32768, "", "", 0, false, false},
        {{"-o", "x.ter", "a"}, "", {"a"}, 30, "x.ter", "", 0, false, false},
        {{"-fd", "out", "-j2", "a", "b"}, "", {"a", "b"}, 30, "", "out", 2, true, false},
        {{"--common-range", "--jobs=1", "a", "b"}, "", {"a", "b"}, 30, "", "", 1, false, true},
        {{"--", "-a", "b"}, "", {"-a", "b"}, 30, "", "", 0, false, false},
        {{"-"}, "", {"-"}, 30, "", "", 0, false, false},
        {{}, "no SOURCE given"},
        {{"-s", "32768", "a"},
         "the height scale is a whole number from -32768 to 32767, not '32768'"},
        {{"-s", "3x", "a"}, "the height scale is a whole number from -32768 to 32767, not '3x'"},
        {{"-s"}, "option '-s' needs a value"},
        {{"--output"}, "option '--output' needs a value"},
        {{"-j", "0", "a"}, "jobs is a whole number from 1 to 1024, not '0'"},
        {{"--size", "1", "a"},
         "the size is a whole number from 2 to 65535, unreal, unity, cs2 or cs2-world, not '1'"},
        {{"--size=65536", "a"},
         "the size is a whole number from 2 to 65535, unreal, unity, cs2 or cs2-world, not "
         "'65536'"},
        {{"-x", "a"}, "unknown option '-x'"},
        {{"--frobnicate", "a"}, "unknown option '--frobnicate'"},
        {{"--force=yes", "a"}, "option '--force' takes no value"},
        {{"-o", "x.ter", "a", "b"}, "-o names the output of one SOURCE; with several, use -d"},
        {{"-o", "x.ter", "-d", "out", "a"}, "-o and -d do not go together"},
        {{"-q", "-v", "a"}, "-q and -v do not go together"},
        {{"--true-scale", "-s", "30", "a"},
         "--true-scale chooses the height scale itself; leave out -s"},
        {{"--bbox", "1,2,3", "a"},
         "--bbox is WEST,SOUTH,EAST,NORTH in degrees, west of east and south of north, not "
         "'1,2,3'"},
        {{"--bbox=-92,46,-93,47", "a"},
         "--bbox is WEST,SOUTH,EAST,NORTH in degrees, west of east and south of north, not "
         "'-92,46,-93,47'"},
        {{"--centre", "nan,1", "a"}, "--centre is LATITUDE,LONGITUDE in degrees, not 'nan,1'"},
        {{"--extent", "0", "a"},
         "--extent is a number of kilometres above 0 and up to 10000, not '0'"},
        {{"--centre", "46.8,-92", "a"}, "--centre and --extent go together"},
        {{"--bbox=-93,46,-92,47", "--centre", "46.8,-92", "--extent", "1", "a"},
         "--bbox and --centre do not go together"},
        {{"--posting", "0", "a"}, "--posting is metres from 0.01 to 100000, not '0'"},
        {{"--degrees-on", "etrs89", "--centre", "46.8,-92", "--extent", "1", "a"},
         "--degrees-on is wgs84, nad83 or nad27, not 'etrs89'"},
        {{"--degrees-on=wgs84", "a"},
         "--degrees-on says which datum the degrees of --bbox or --centre are on; it goes with "
         "one of them"},
        {{"--merge", "-o", "m.ter", "--zone=61", "a", "b"},
         "the zone is a whole number from 1 to 60, not '61'"},
        {{"--merge", "-o", "m.ter", "--zone", "0", "a", "b"},
         "the zone is a whole number from 1 to 60, not '0'"},
        {{"--true-scale", "--common-range", "a", "b"},
         "--true-scale writes true heights, which join by themselves; --common-range is for "
         "stretched heights"},
    };
    for (const Case& c : cases) {
        const Result<Options> parsed = parseOptions(c.arguments);
        const std::string what = ::testing::PrintToString(c.arguments);
        if (*c.error != '\0') {
            ASSERT_FALSE(parsed) << what;
            EXPECT_EQ(parsed.message(), c.error) << what;
            continue;
        }
        ASSERT_TRUE(parsed) << what << ": " << parsed.message();
        const Options& o = *parsed;
        EXPECT_EQ(o.sources, c.sources) << what;
        EXPECT_EQ(o.settings.height_scale, c.height_scale) << what;
        EXPECT_EQ(o.output_file, c.output_file) << what;
        EXPECT_EQ(o.output_dir, c.output_dir) << what;
        EXPECT_EQ(o.jobs, c.jobs) << what;
        EXPECT_EQ(o.force, c.force) << what;
        EXPECT_EQ(o.common_range, c.common_range) << what;
    }
    const auto all =
        parseOptions({"--true-scale", "--fill-voids", "--preview", "--size", "65535", "a"});
    ASSERT_TRUE(all);
    EXPECT_TRUE(all->settings.true_scale && all->settings.fill_voids && all->settings.preview);
    const auto crop = parseOptions({"--centre", "46.8,-92.1", "--extent", "2.5", "a"});
    ASSERT_TRUE(crop && crop->settings.crop && crop->settings.crop->centre);
    EXPECT_EQ(crop->settings.crop->centre->latitude, 46.8);
    EXPECT_EQ(crop->settings.crop->centre->longitude, -92.1);
    EXPECT_EQ(crop->settings.crop->extent_km, 2.5);
    EXPECT_FALSE(crop->settings.crop->degrees_on);  // the source's own datum
    const auto on = parseOptions({"--bbox=-93,46,-92,47", "--degrees-on", "wgs84", "a"});
    ASSERT_TRUE(on && on->settings.crop);
    EXPECT_EQ(on->settings.crop->degrees_on, 4326);
    EXPECT_EQ(all->settings.size, 65535);
    // --help and --version stand without a source.
    EXPECT_TRUE(parseOptions({"--help"})->help);
    EXPECT_TRUE(parseOptions({"-h"})->help);
    EXPECT_TRUE(parseOptions({"--version"})->version);
}

// 3DEP's tiles are named by NAD83 degrees. An east edge 7 m east of 92 W on NAD27 lies 7 m
// west of it on NAD83 (NADCON's shift there), so it reaches no tile east of 92 W.
TEST(Options, A3depBoxOnAnotherDatumNamesTheTilesOfItsNad83Degrees) {
    const struct {
        const char* datum;  // empty: none given
        std::vector<std::string> tiles;
    } cases[] = {
        {"", {"USGS_13_n47w093.tif", "USGS_13_n47w092.tif"}},
        {"nad83", {"USGS_13_n47w093.tif", "USGS_13_n47w092.tif"}},
        {"nad27", {"USGS_13_n47w093.tif"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.datum);
        std::vector<std::string> arguments = {"--bbox=-92.2,46.5,-91.9999,46.6", "-o", "x.tif",
                                              "3dep:13"};
        if (*c.datum != '\0') arguments.insert(arguments.end(), {"--degrees-on", c.datum});
        const Result<Options> parsed = parseOptions(arguments);
        ASSERT_TRUE(parsed) << parsed.message();
        std::vector<std::string> tiles;
        for (const std::string& url : parsed->sources) tiles.push_back(lastComponent(url));
        EXPECT_EQ(tiles, c.tiles);
    }
}

}  // namespace
}  // namespace marlwood
