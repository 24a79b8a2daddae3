#include "cli/options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <numbers>

#include "common/text.h"
#include "fetch/locations.h"
#include "geo/projection.h"
#include "platform/whole_file.h"
#include "ter/ter_writer.h"

namespace marlwood {

namespace {

// A whole number in [low, high], the whole text and nothing else.
std::optional<std::int64_t> wholeNumber(std::string_view text, std::int64_t low,
                                        std::int64_t high) {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const char* first = text.data();
    if (first != end && *first == '+') ++first;
    const auto [stop, error] = std::from_chars(first, end, value);
    if (text.empty() || error != std::errc() || stop != end || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

// `count` decimal numbers separated by commas, the whole text; nothing for anything else.
std::optional<std::vector<double>> decimals(std::string_view text, std::size_t count) {
    std::vector<double> values;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t comma = i + 1 < count ? text.find(',') : text.size();
        if (comma == std::string_view::npos) return std::nullopt;
        const std::string_view part = text.substr(0, comma);
        double value = 0;
        const auto [stop, error] = std::from_chars(part.data(), part.data() + part.size(), value);
        if (part.empty() || error != std::errc() || stop != part.data() + part.size() ||
            !std::isfinite(value)) {
            return std::nullopt;
        }
        values.push_back(value);
        text.remove_prefix(std::min(text.size(), comma + 1));
    }
    return values;
}

// --format's lines: a line per row of the format table, then how -o's name chooses one.
const std::string& formatHelp() {
    static const std::string text = [] {
        std::string lines;
        bool heightmaps = false;
        for (const OutputFormat& format : outputFormats()) {
            lines += format.name + ": " + format.description + "\n";
            heightmaps = heightmaps || format.heightmap;
        }
        if (heightmaps) {
            lines +=
                "(heightmaps: the lowest elevation 0, the highest 65535, voids 0,\n"
                "a JSON sidecar NAME.json of the engines' scales beside them)\n";
        }
        return lines + "(default: by -o's extension, else ter)";
    }();
    return text;
}

PlaceCrop& cropOf(Options& o) {
    if (!o.settings.crop) o.settings.crop.emplace();
    return *o.settings.crop;
}

// Applies an option to the options; the Error when its value is refused.
using Apply = std::function<Status(Options&, const std::string&)>;

struct Option {
    OptionDescription description;
    Apply apply;
};

// An option without a value that turns one switch on.
template <class Member>
Apply switchOn(Member member) {
    return [member](Options& o, const std::string&) {
        std::invoke(member, o) = true;
        return Status{};
    };
}

// The one table of options: parsing, --help, the manual page and the completion all read it.
const std::vector<Option>& table() {
    static const std::vector<Option> options{
        {{'s', "height-scale", "N", "the file's height scale, -32768 to 32767 (default 30)"},
         [](Options& o, const std::string& v) -> Status {
             const auto n = wholeNumber(v, -32768, 32767);
             if (!n)
                 return failure("the height scale is a whole number from -32768 to 32767, not '" +
                                v + "'");
             o.settings.height_scale = static_cast<std::int32_t>(*n);
             o.height_scale_given = true;
             return {};
         }},
        {{'o', "output", "FILE",
          "the output file (one SOURCE only); its extension chooses the\n"
          "format (.ter, .tif, .png, .r16, .raw); - is standard output,\n"
          "but not for a heightmap, whose sidecar is named after its file"},
         [](Options& o, const std::string& v) -> Status {
             if (v.empty()) return failure("the output file needs a name");
             o.output_file = v;
             return {};
         }},
        {{'d', "output-dir", "DIR",
          "where the outputs go, named after their sources (default: here)"},
         [](Options& o, const std::string& v) -> Status {
             if (v.empty()) return failure("the output directory needs a name");
             o.output_dir = v;
             return {};
         }},
        {{'\0', "format", "FORMAT", formatHelp()},
         [](Options& o, const std::string& v) -> Status {
             const OutputFormat* format = o.formats->named(v);
             if (!format) {
                 return failure("the format is " + o.formats->names() + ", not '" + v + "'");
             }
             o.settings.format = format;
             o.format_given = true;
             return {};
         }},
        {{'f', "force", "", "replace existing output files"}, switchOn(&Options::force)},
        {{'j', "jobs", "N", "conversions at once (default: the number of cores)"},
         [](Options& o, const std::string& v) -> Status {
             const auto n = wholeNumber(v, 1, 1024);
             if (!n) return failure("jobs is a whole number from 1 to 1024, not '" + v + "'");
             o.jobs = static_cast<unsigned>(*n);
             return {};
         }},
        {{'\0', "common-range", "",
          "one colormap for all SOURCEs, from their lowest and highest\n"
          "valid elevation together, so neighbouring quads join"},
         switchOn(&Options::common_range)},
        {{'\0', "true-scale", "",
          "true elevations in metres at the posting's scale (SCAL),\n"
          "decimals of 10 m quads kept, instead of the stretched 0..32000"},
         switchOn([](Options& o) -> bool& { return o.settings.true_scale; })},
        {{'\0', "fill-voids", "", "fill void cells from the valid cells around them"},
         switchOn([](Options& o) -> bool& { return o.settings.fill_voids; })},
        {{'\0', "preview", "",
          "a PNG picture of each terrain beside its file (area.ter or\n"
          "area.tif gives area.png); not with a png16 heightmap"},
         switchOn([](Options& o) -> bool& { return o.settings.preview; })},
        {{'\0', "size", "N",
          "resample so the longer side has N points (2 to 65535),\n"
          "the posting with it: averaged when shrinking, bilinear\n"
          "when growing (Terragen previews want 257, 513 ... 4097);\n"
          "unreal: each side to the nearest whole Unreal components, so\n"
          "that Unreal takes it exactly and the points are kept (with\n"
          "--tiles, in whole tiles too); unity: Unity's side (33, 65 ...\n"
          "4097) nearest at or below the terrain's longer side; cs2,\n"
          "cs2-world: Cities: Skylines II's 4096 x 4096 heightmap of its\n"
          "playable area (14.336 km square) or world map (57.344 km)",
          "unreal unity cs2 cs2-world"},
         [](Options& o, const std::string& v) -> Status {
             o.settings.engine_size.reset();
             o.settings.cs2.reset();
             if (v == "unreal" || v == "unity") {
                 o.settings.engine_size = v == "unreal" ? Engine::Unreal : Engine::Unity;
                 o.settings.size.reset();
                 return {};
             }
             if (v == "cs2" || v == "cs2-world") {
                 o.settings.cs2 = v == "cs2" ? Cs2Map::Playable : Cs2Map::World;
                 o.settings.size.reset();
                 return {};
             }
             const auto n = wholeNumber(v, 2, kMaxTerSide);
             if (!n) {
                 return failure(
                     "the size is a whole number from 2 to 65535, unreal, unity, cs2 or "
                     "cs2-world, not '" +
                     v + "'");
             }
             o.settings.size = static_cast<std::int32_t>(*n);
             return {};
         }},
        {{'\0', "full-resolution", "",
          "read every source at its full resolution: without it a\n"
          "GeoTIFF's overview is read when --size N makes the terrain at\n"
          "least twice as coarse (the coarsest no coarser than it)"},
         switchOn([](Options& o) -> bool& { return o.settings.full_resolution; })},
        {{'\0', "merge", "",
          "one terrain from all SOURCEs (neighbouring quads on one\n"
          "lattice, placed by their georeference), written to -o"},
         switchOn(&Options::merge)},
        {{'\0', "zone", "N",
          "the UTM zone (1 to 60) of the terrain; sources in another\n"
          "zone or in degrees are reprojected into it (default: theirs,\n"
          "or the zone holding the centre of their area)"},
         [](Options& o, const std::string& v) -> Status {
             const auto n = wholeNumber(v, 1, 60);
             if (!n) return failure("the zone is a whole number from 1 to 60, not '" + v + "'");
             o.settings.zone = static_cast<int>(*n);
             return {};
         }},
        {{'\0', "keep-heights", "",
          "with --merge: keep each source's heights on its own vertical\n"
          "datum (NGVD29 is otherwise raised to NAVD88 where both meet)"},
         [](Options& o, const std::string&) -> Status {
             o.settings.keep_heights = true;
             return {};
         }},
        {{'\0', "posting", "METRES",
          "the posting of the UTM grid a source in degrees (or another\n"
          "system) is reprojected onto (default: 30 m an arc-second)"},
         [](Options& o, const std::string& v) -> Status {
             const auto d = decimals(v, 1);
             if (!d || !((*d)[0] >= 0.01 && (*d)[0] <= 100000)) {
                 return failure("--posting is metres from 0.01 to 100000, not '" + v + "'");
             }
             o.settings.posting = (*d)[0];
             return {};
         }},
        {{'\0', "bbox", "W,S,E,N",
          "only the cells of this box, in degrees on the source's datum\n"
          "or --degrees-on's (west, south, east, north longitude and\n"
          "latitude)"},
         [](Options& o, const std::string& v) -> Status {
             const auto d = decimals(v, 4);
             if (!d || !((*d)[0] >= -180 && (*d)[0] < (*d)[2] && (*d)[2] <= 180 && (*d)[1] >= -90 &&
                         (*d)[1] < (*d)[3] && (*d)[3] <= 90)) {
                 return failure(
                     "--bbox is WEST,SOUTH,EAST,NORTH in degrees, west of east and south of "
                     "north, not '" +
                     v + "'");
             }
             cropOf(o).box = PlaceCrop::Box{(*d)[0], (*d)[1], (*d)[2], (*d)[3]};
             return {};
         }},
        {{'\0', "centre", "LAT,LON",
          "only the cells of a square around this point, in degrees on\n"
          "the source's datum or --degrees-on's; its side is --extent"},
         [](Options& o, const std::string& v) -> Status {
             const auto d = decimals(v, 2);
             if (!d || !(std::abs((*d)[0]) <= 90 && std::abs((*d)[1]) <= 180)) {
                 return failure("--centre is LATITUDE,LONGITUDE in degrees, not '" + v + "'");
             }
             cropOf(o).centre = Degrees{(*d)[1], (*d)[0]};
             return {};
         }},
        {{'\0', "extent", "KM", "the side of the --centre square in kilometres"},
         [](Options& o, const std::string& v) -> Status {
             const auto d = decimals(v, 1);
             if (!d || !((*d)[0] > 0 && (*d)[0] <= 10000)) {
                 return failure(
                     "--extent is a number of kilometres above 0 and up to 10000, not '" + v + "'");
             }
             cropOf(o).extent_km = (*d)[0];
             return {};
         }},
        {{'\0', "degrees-on", "DATUM",
          "the datum the degrees of --bbox and --centre are on: wgs84\n"
          "(a web map's, a phone's), nad83 or nad27 (default: the\n"
          "source's own datum, mostly NAD27 for USGS quads)",
          "wgs84 nad83 nad27"},
         [](Options& o, const std::string& v) -> Status {
             // The geographic systems' EPSG codes.
             constexpr std::pair<std::string_view, int> kDatums[] = {
                 {"wgs84", 4326}, {"nad83", 4269}, {"nad27", 4267}};
             for (const auto& [name, epsg] : kDatums) {
                 if (v == name) {
                     cropOf(o).degrees_on = epsg;
                     return {};
                 }
             }
             return failure("--degrees-on is wgs84, nad83 or nad27, not '" + v + "'");
         }},
        {{'\0', "3dep-url", "URL",
          "where the 3DEP products of 3dep:13 and 3dep:1 are: a mirror\n"
          "of USGS's bucket, with its layout (default: MARLWOOD_3DEP_URL,\n"
          "else https://prd-tnm.s3.amazonaws.com)"},
         [](Options& o, const std::string& v) -> Status {
             if (Status allowed = remoteAllowed(v); !allowed) {
                 return failure("--3dep-url: " + allowed.message());
             }
             o.dep_url = v;
             return {};
         }},
        {{'\0', "no-cache", "",
          "fetch from servers again, neither reading nor filling the cache\n"
          "($XDG_CACHE_HOME/marlwood, else ~/.cache/marlwood)"},
         switchOn(&Options::no_cache)},
        {{'q', "quiet", "", "no report lines and no progress, only problems"},
         switchOn(&Options::quiet)},
        {{'v', "verbose", "", "each source's stage lines too"}, switchOn(&Options::verbose)},
        {{'h', "help", "", "this text"}, switchOn(&Options::help)},
        {{'\0', "version", "", "the version"}, switchOn(&Options::version)},
    };
    return options;
}

// The options of a run choosing from `formats`: the command line's own, and after --format
// --help names the bucket in text of its own (option texts are views of literals): the two agree.
static_assert(std::string_view(kDepDefaultBase) == "https://prd-tnm.s3.amazonaws.com");

// those the format rows declare.
std::vector<Option> optionsFor(const FormatTable& formats) {
    std::vector<Option> options;
    for (const Option& own : table()) {
        options.push_back(own);
        if (own.description.long_name != "format") continue;
        for (const FormatOption* declared : formats.options()) {
            options.push_back(
                {{'\0', declared->long_name, declared->value, declared->help, declared->choices},
                 [declared](Options& o, const std::string& v) -> Status {
                     o.format_options_given.push_back(declared->long_name);
                     return declared->apply(o.settings, v);
                 }});
        }
    }
    return options;
}

// The program's, made once: --help, the manual page and the completion read them.
const std::vector<Option>& programOptions() {
    static const std::vector<Option> options = optionsFor(outputFormats());
    return options;
}

const Option* findShort(const std::vector<Option>& options, char c) {
    for (const Option& o : options) {
        if (o.description.short_name == c) return &o;
    }
    return nullptr;
}

const Option* findLong(const std::vector<Option>& options, std::string_view name) {
    for (const Option& o : options) {
        if (o.description.long_name == name) return &o;
    }
    return nullptr;
}

// An extension that names no format, without --format, or that names another format than
// --format's: either would write one format under another's name.
Status extensionProblem(const Options& o) {
    if (o.output_file.empty() || o.output_file == kStandardOutput) return {};
    const std::string extension = std::filesystem::path(o.output_file).extension().string();
    if (extension.empty()) return {};
    const OutputFormat* named = o.formats->ofPath(o.output_file);
    const OutputFormat& format = o.settings.outputFormat();
    if (!o.format_given && named == nullptr) {
        std::string extensions;
        for (const OutputFormat& f : *o.formats) {
            for (const std::string& e : f.extensions)
                extensions += (extensions.empty() ? "" : ", ") + e;
        }
        return failure("no format is written as " + extension + "; end -o's name in " + extensions +
                       ", or choose the format with --format");
    }
    if (named != nullptr && named != &format) {
        return failure("--format " + format.name + " writes " + format.extension() +
                       " files, and " + o.output_file + " is named as " + named->name +
                       "; end -o's name in " + format.extension());
    }
    return {};
}

// What the chosen format's row says of the request: the options of other rows it does not take,
// and its own checks.
Status formatProblem(const Options& o) {
    const FormatRequest request{o.settings, o.output_file,
                                [&](std::string_view name) {
                                    if (name == "height-scale") return o.height_scale_given;
                                    return std::find(o.format_options_given.begin(),
                                                     o.format_options_given.end(),
                                                     name) != o.format_options_given.end();
                                },
                                *o.formats};
    return o.formats->check(o.settings.outputFormat(), request);
}

// The combinations that make no sense, checked once every option is known.
Status combinationProblem(const Options& o) {
    if (o.sources.empty()) return failure("no SOURCE given");
    if (!o.output_file.empty() && !o.output_dir.empty())
        return failure("-o and -d do not go together");
    if (o.merge && o.output_file.empty())
        return failure("--merge writes one terrain: name it with -o");
    if (o.merge && o.common_range) {
        return failure("--merge makes one colormap anyway; leave out --common-range");
    }
    if (!o.merge && !o.output_file.empty() && o.sources.size() > 1) {
        return failure("-o names the output of one SOURCE; with several, use -d");
    }
    if (o.quiet && o.verbose) return failure("-q and -v do not go together");
    if (Status named = extensionProblem(o); !named) return named;
    if (Status fits = formatProblem(o); !fits) return fits;
    // A heightmap spans the common range too; other formats of metres have no height scale.
    if (const OutputFormat& format = o.settings.outputFormat();
        !format.stretched_heights && !format.heightmap &&
        (o.height_scale_given || o.common_range)) {
        return failure("a " + format.label +
                       " holds elevations in metres; -s and --common-range are for "
                       ".ter files");
    }
    if (o.settings.cs2 && !o.settings.outputFormat().heightmap) {
        return failure(
            "--size cs2 makes Cities: Skylines II's 16-bit heightmap: write a PNG (-o NAME.png) "
            "or r16");
    }
    if (o.settings.cs2 && o.common_range) {
        return failure(
            "Cities: Skylines II's heights run from 0 m to its height scale; leave out "
            "--common-range");
    }
    if (const auto& crop = o.settings.crop) {
        if (crop->degrees_on && !crop->box && !crop->centre && crop->extent_km <= 0) {
            return failure(
                "--degrees-on says which datum the degrees of --bbox or --centre are on; it goes "
                "with one of them");
        }
        if (crop->box && (crop->centre || crop->extent_km > 0)) {
            return failure("--bbox and --centre do not go together");
        }
        if (!crop->box && !(crop->centre && crop->extent_km > 0)) {
            return failure("--centre and --extent go together");
        }
    }
    if (o.settings.true_scale && o.height_scale_given) {
        return failure("--true-scale chooses the height scale itself; leave out -s");
    }
    if (o.settings.true_scale && o.common_range) {
        return failure(
            "--true-scale writes true heights, which join by themselves; "
            "--common-range is for stretched heights");
    }
    return {};
}

// The most tiles one box is read from.
constexpr std::size_t kMostDepTiles = 16;
constexpr double kKmPerDegree = 111.32;

// 3DEP's tiles are on NAD83 (EPSG:4269).
constexpr int kDepGeographicEpsg = 4269;

// The NAD83 bounds of `box` given on the geographic system `epsg`, through marlwood's datum grids.
Result<DegreeBox> boxOnNad83(const DegreeBox& box, int epsg) {
    Result<Reprojection> to_nad83 = Reprojection::forArea(epsg, kDepGeographicEpsg, box);
    if (!to_nad83) return to_nad83.error();
    // A datum's shift bends no edge measurably over a few degrees: the corners suffice.
    GroundPoint corners[] = {
        {box.west, box.south}, {box.east, box.south}, {box.east, box.north}, {box.west, box.north}};
    if (Status moved = to_nad83->apply(corners); !moved) return moved.error();
    DegreeBox moved{corners[0].x, corners[0].y, corners[0].x, corners[0].y};
    for (const GroundPoint& p : corners) {
        moved = {std::min(moved.west, p.x), std::min(moved.south, p.y), std::max(moved.east, p.x),
                 std::max(moved.north, p.y)};
    }
    return moved;
}

// A 3DEP product as the SOURCE: the tiles its box touches become the sources, merged when
// there are several.
Status expandDepSource(Options& o) {
    const auto named = std::find_if(o.sources.begin(), o.sources.end(), [](const std::string& s) {
        return depProductOf(s).has_value();
    });
    if (named == o.sources.end()) return {};
    const std::string source = *named;
    const DepProduct product = *depProductOf(source);
    if (!product.known) {
        return failure(
            "the 3DEP products are 3dep:13 (1/3 arc-second) and 3dep:1 (1 arc-second), "
            "not '" +
            source + "'");
    }
    if (o.sources.size() > 1)
        return failure(source + " is the only SOURCE: its tiles are the sources");
    const auto& crop = o.settings.crop;
    if (!crop || !(crop->box || crop->centre)) {
        return failure(source +
                       " needs a box: --bbox WEST,SOUTH,EAST,NORTH, or --centre LAT,LON with "
                       "--extent KM");
    }
    PlaceCrop::Box box{};
    if (crop->box) {
        box = *crop->box;
    } else {
        // A little wider than the square, so that no tile it reaches is left out.
        const double half_lat = crop->extent_km / 2 / kKmPerDegree * 1.02;
        const double lat = crop->centre->latitude;
        const double half_lon =
            half_lat /
            std::max(0.01, std::cos(std::min(89.0, std::abs(lat)) * std::numbers::pi / 180));
        box = {crop->centre->longitude - half_lon, std::max(-90.0, lat - half_lat),
               crop->centre->longitude + half_lon, std::min(90.0, lat + half_lat)};
    }
    if (crop->degrees_on && *crop->degrees_on != kDepGeographicEpsg) {
        // The tiles are named by NAD83 degrees: a box on another datum is taken there first, so
        // that an edge near a whole degree names the tiles it reaches on the ground.
        Result<DegreeBox> moved = boxOnNad83(box, *crop->degrees_on);
        if (!moved) return failure(source + ": " + moved.message());
        box = *moved;
    }
    std::string base = o.dep_url;
    if (base.empty()) {
        const char* env = std::getenv("MARLWOOD_3DEP_URL");
        base = env != nullptr && *env != '\0' ? env : kDepDefaultBase;
        if (Status allowed = remoteAllowed(base); !allowed) {
            return failure("MARLWOOD_3DEP_URL: " + allowed.message());
        }
    }
    const std::vector<DepTile> tiles =
        depTilesTouching(product.code, box.west, box.south, box.east, box.north, base);
    if (tiles.size() > kMostDepTiles) {
        return failure("the box touches " + std::to_string(tiles.size()) + " tiles of " + source +
                       "; marlwood reads " + std::to_string(kMostDepTiles) +
                       " at most: make it smaller");
    }
    if (tiles.size() > 1 && o.output_file.empty()) {
        return failure("the box touches " + std::to_string(tiles.size()) + " tiles of " + source +
                       ", merged into one terrain: name it with -o");
    }
    o.sources.clear();
    for (const DepTile& tile : tiles) o.sources.push_back(tile.url);
    o.merge = o.merge || tiles.size() > 1;
    o.dep_source = source;
    return {};
}

// MARLWOOD_STALL_SECONDS: how long a server may send nothing before its request is given up
// (a slow link may want more than the default; tests want less). Read only when a source is
// on a server, so that a bad value never stops a local conversion.
Status stallFromEnvironment(Options& o) {
    if (std::none_of(o.sources.begin(), o.sources.end(),
                     [](const std::string& s) { return namesRemote(s); })) {
        return {};
    }
    const char* env = std::getenv("MARLWOOD_STALL_SECONDS");
    if (env == nullptr || *env == '\0') return {};
    const auto seconds = wholeNumber(env, 1, 3600);
    if (!seconds) {
        return failure("MARLWOOD_STALL_SECONDS is a whole number of seconds from 1 to 3600, not " +
                       quotedText(env, 40));
    }
    o.stall_seconds = static_cast<double>(*seconds);
    return {};
}

}  // namespace

std::vector<OptionDescription> optionDescriptions() {
    std::vector<OptionDescription> descriptions;
    for (const Option& o : programOptions()) descriptions.push_back(o.description);
    return descriptions;
}

Result<Options> parseOptions(const std::vector<std::string>& arguments,
                             const FormatTable& formats) {
    Options options;
    options.formats = &formats;
    const std::vector<Option> own_table =
        &formats == &outputFormats() ? std::vector<Option>() : optionsFor(formats);
    const std::vector<Option>& known = own_table.empty() ? programOptions() : own_table;
    bool only_sources = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (only_sources || argument.size() < 2 || argument[0] != '-') {
            options.sources.push_back(argument);
            continue;
        }
        if (argument == "--") {
            only_sources = true;
            continue;
        }
        // The value of an option that takes one: attached, or the next argument.
        auto value_of = [&](std::string attached, bool has_attached) -> std::optional<std::string> {
            if (has_attached) return attached;
            if (i + 1 >= arguments.size()) return std::nullopt;
            return arguments[++i];
        };
        if (argument.rfind("--", 0) == 0) {
            const auto equals = argument.find('=');
            const std::string name =
                argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            const Option* option = findLong(known, name);
            if (option == nullptr) return failure("unknown option '--" + name + "'");
            std::string value;
            if (!option->description.value.empty()) {
                const auto v = value_of(
                    equals == std::string::npos ? std::string() : argument.substr(equals + 1),
                    equals != std::string::npos);
                if (!v) return failure("option '--" + name + "' needs a value");
                value = *v;
            } else if (equals != std::string::npos) {
                return failure("option '--" + name + "' takes no value");
            }
            if (Status applied = option->apply(options, value); !applied) return applied.error();
            continue;
        }
        // Short options, grouped (-fq) or with their value attached (-s30) or following.
        for (std::size_t k = 1; k < argument.size(); ++k) {
            const Option* option = findShort(known, argument[k]);
            if (option == nullptr) {
                return failure(std::string("unknown option '-") + argument[k] + "'");
            }
            std::string value;
            if (!option->description.value.empty()) {
                const bool attached = k + 1 < argument.size();
                const auto v =
                    value_of(attached ? argument.substr(k + 1) : std::string(), attached);
                if (!v) return failure(std::string("option '-") + argument[k] + "' needs a value");
                value = *v;
                k = argument.size();
            }
            if (Status applied = option->apply(options, value); !applied) return applied.error();
        }
    }
    if (options.help || options.version) return options;
    // -o's extension chooses the format unless --format says otherwise.
    if (!options.format_given) {
        if (const OutputFormat* format = options.formats->ofPath(options.output_file)) {
            options.settings.format = format;
        }
    }
    if (Status sensible = combinationProblem(options); !sensible) return sensible.error();
    if (Status expanded = expandDepSource(options); !expanded) return expanded.error();
    if (Status stall = stallFromEnvironment(options); !stall) return stall.error();
    return options;
}

std::string helpText() {
    std::string text =
        "Usage: marlwood [OPTIONS] SOURCE...\n"
        "       marlwood                (no arguments: the interactive dialogue)\n"
        "\n"
        "Converts USGS DEMs into Terragen .ter files, GeoTIFFs and engine heightmaps\n"
        "(png16, r16, unity, exr). A SOURCE is an SDTS transfer: a module prefix (/data/7172\n"
        "for /data/7172cel0.ddf ...), a directory holding one transfer, or a USGS archive\n"
        "(.tar.gz, .tgz or .tar), read in place; or a USGS native ASCII DEM in UTM (.dem\n"
        "or .dem.gz); a GeoTIFF DEM (.tif), a local file or an https:// URL; or a 3DEP\n"
        "product, 3dep:13 or 3dep:1, read from USGS's servers for the box --bbox or\n"
        "--centre names, only the blocks the box needs.\n"
        "\n"
        "Options:\n";
    constexpr std::size_t kHelpColumn = 24;
    for (const Option& o : programOptions()) {
        const OptionDescription& d = o.description;
        // Built by appending: GCC 12 warns (-Wrestrict) on "literal" + string here.
        std::string left = "  ";
        if (d.short_name != '\0') {
            left += '-';
            left += d.short_name;
            left += ", ";
        } else {
            left += "    ";
        }
        left += "--";
        left += d.long_name;
        if (!d.value.empty()) {
            left += ' ';
            left += d.value;
        }
        left.resize(std::max(left.size() + 2, kHelpColumn), ' ');
        std::string_view help = d.help;
        for (bool first = true; !help.empty(); first = false) {
            const std::size_t newline = help.find('\n');
            text += first ? left : std::string(kHelpColumn, ' ');
            text += help.substr(0, newline);
            text += '\n';
            help.remove_prefix(newline == std::string_view::npos ? help.size() : newline + 1);
        }
    }
    text +=
        "\n"
        "Examples:\n"
        "  marlwood -o duluth.tif 7172.DEM.SDTS.TAR.GZ\n"
        "      a GeoTIFF of a quad, placed in its UTM zone\n"
        "  marlwood --centre 46.8,-92.06 --extent 5 --size 1025 -o area.ter 7172.DEM.SDTS.TAR.GZ\n"
        "      a 5 km square around a point, 1025 x 1025 points\n"
        "  marlwood --merge --zone 16 -o area.tif west/4300 east/4301\n"
        "      quads either side of 90 W (zones 15 and 16) as one terrain in zone 16\n"
        "  marlwood --size unreal -o duluth.png 7172.DEM.SDTS.TAR.GZ\n"
        "      a 16-bit PNG heightmap at Unreal's size, its scales in duluth_unreal.json\n"
        "  marlwood --fill-voids -o duluth.exr 7172.DEM.SDTS.TAR.GZ\n"
        "      a float EXR of metres for Godot, Terrain3D's settings in duluth.json\n"
        "  marlwood --merge --centre LAT,LON --extent 14.336 --size cs2 -o city.png QUADS\n"
        "      Cities: Skylines II's 4096 x 4096 heightmap of a 14.336 km square\n"
        "  marlwood --bbox -121.9,46.75,-121.6,46.95 --size 2017 -o rainier.png 3dep:13\n"
        "      the 1/3 arc-second tiles of a box, fetched from USGS and merged\n"
        "\n"
        "One report line per source on standard output, problems on standard error.\n"
        "Exit status: 0 when every SOURCE converted, 1 when any failed, 2 for a usage\n"
        "error or a heightmap of a shape its engine does not take (found once the\n"
        "terrain is read).\n";
    return text;
}

std::string versionText() {
    return std::string("marlwood ") + MARLWOOD_VERSION;
}

}  // namespace marlwood
