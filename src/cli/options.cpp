#include "cli/options.h"

#include <charconv>
#include <functional>
#include <limits>
#include <string_view>

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

struct Flag {
    char short_name;
    std::string_view long_name;
    bool takes_value;
    // Applies the option; the error text when its value is refused.
    std::function<std::string(Options&, const std::string&)> apply;
};

// An option without a value that turns one switch on.
std::function<std::string(Options&, const std::string&)> switchOn(bool Options::*option) {
    return [option](Options& o, const std::string&) {
        o.*option = true;
        return std::string();
    };
}

const std::vector<Flag>& flags() {
    static const std::vector<Flag> table{
        {'s', "height-scale", true,
         [](Options& o, const std::string& v) -> std::string {
             const auto n = wholeNumber(v, -32768, 32767);
             if (!n)
                 return "the height scale is a whole number from -32768 to 32767, not '" + v + "'";
             o.height_scale = static_cast<std::int32_t>(*n);
             o.height_scale_given = true;
             return {};
         }},
        {'o', "output", true,
         [](Options& o, const std::string& v) -> std::string {
             if (v.empty()) return "the output file needs a name";
             o.output_file = v;
             return {};
         }},
        {'d', "output-dir", true,
         [](Options& o, const std::string& v) -> std::string {
             if (v.empty()) return "the output directory needs a name";
             o.output_dir = v;
             return {};
         }},
        {'j', "jobs", true,
         [](Options& o, const std::string& v) -> std::string {
             const auto n = wholeNumber(v, 1, 1024);
             if (!n) return "jobs is a whole number from 1 to 1024, not '" + v + "'";
             o.jobs = static_cast<unsigned>(*n);
             return {};
         }},
        {'f', "force", false, switchOn(&Options::force)},
        {'\0', "true-scale", false, switchOn(&Options::true_scale)},
        {'\0', "fill-voids", false, switchOn(&Options::fill_voids)},
        {'\0', "merge", false, switchOn(&Options::merge)},
        {'\0', "preview", false, switchOn(&Options::preview)},
        {'\0', "common-range", false, switchOn(&Options::common_range)},
        {'q', "quiet", false, switchOn(&Options::quiet)},
        {'v', "verbose", false, switchOn(&Options::verbose)},
        {'h', "help", false, switchOn(&Options::help)},
        {'\0', "version", false, switchOn(&Options::version)},
    };
    return table;
}

const Flag* findShort(char c) {
    for (const Flag& f : flags()) {
        if (f.short_name == c) return &f;
    }
    return nullptr;
}

const Flag* findLong(std::string_view name) {
    for (const Flag& f : flags()) {
        if (f.long_name == name) return &f;
    }
    return nullptr;
}

ParsedOptions refuse(std::string text) {
    return {std::nullopt, std::move(text)};
}

}  // namespace

ParsedOptions parseOptions(const std::vector<std::string>& arguments) {
    Options options;
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
            const Flag* flag = findLong(name);
            if (flag == nullptr) return refuse("unknown option '--" + name + "'");
            std::string value;
            if (flag->takes_value) {
                const auto v = value_of(
                    equals == std::string::npos ? std::string() : argument.substr(equals + 1),
                    equals != std::string::npos);
                if (!v) return refuse("option '--" + name + "' needs a value");
                value = *v;
            } else if (equals != std::string::npos) {
                return refuse("option '--" + name + "' takes no value");
            }
            if (auto error = flag->apply(options, value); !error.empty()) return refuse(error);
            continue;
        }
        // Short options, grouped (-fq) or with their value attached (-s30) or following.
        for (std::size_t k = 1; k < argument.size(); ++k) {
            const Flag* flag = findShort(argument[k]);
            if (flag == nullptr)
                return refuse(std::string("unknown option '-") + argument[k] + "'");
            std::string value;
            if (flag->takes_value) {
                const bool attached = k + 1 < argument.size();
                const auto v =
                    value_of(attached ? argument.substr(k + 1) : std::string(), attached);
                if (!v) return refuse(std::string("option '-") + argument[k] + "' needs a value");
                value = *v;
                k = argument.size();
            }
            if (auto error = flag->apply(options, value); !error.empty()) return refuse(error);
        }
    }
    if (options.help || options.version) return {options, {}};
    if (options.sources.empty()) return refuse("no SOURCE given");
    if (!options.output_file.empty() && !options.output_dir.empty()) {
        return refuse("-o and -d do not go together");
    }
    if (options.merge && options.output_file.empty()) {
        return refuse("--merge writes one terrain: name it with -o");
    }
    if (options.merge && options.common_range) {
        return refuse("--merge makes one colormap anyway; leave out --common-range");
    }
    if (!options.merge && !options.output_file.empty() && options.sources.size() > 1) {
        return refuse("-o names the output of one SOURCE; with several, use -d");
    }
    if (options.quiet && options.verbose) return refuse("-q and -v do not go together");
    if (options.true_scale && options.height_scale_given) {
        return refuse("--true-scale chooses the height scale itself; leave out -s");
    }
    if (options.true_scale && options.common_range) {
        return refuse(
            "--true-scale writes true heights, which join by themselves; "
            "--common-range is for stretched heights");
    }
    return {options, {}};
}

std::string helpText() {
    return R"(Usage: marlwood [OPTIONS] SOURCE...
       marlwood                (no arguments: the interactive dialogue)

Converts USGS SDTS DEM transfers into Terragen .ter files. A SOURCE is a module prefix
(/data/7172 for /data/7172cel0.ddf ...), a directory holding one transfer, or a USGS
archive (.tar.gz, .tgz or .tar), read in place.

Options:
  -s, --height-scale N  the file's height scale, -32768 to 32767 (default 30)
  -o, --output FILE     the output file (one SOURCE only)
  -d, --output-dir DIR  where the outputs go, named after their sources (default: here)
  -f, --force           replace existing output files
  -j, --jobs N          conversions at once (default: the number of cores)
      --common-range    one colormap for all SOURCEs, from their lowest and highest
                        valid elevation together, so neighbouring quads join
      --true-scale      true elevations in metres at the posting's scale (SCAL),
                        decimetres of 10 m quads kept, instead of the stretched 0..32000
      --fill-voids      fill void cells from the valid cells around them
      --preview         a PNG picture of each terrain beside its .ter file
      --merge           one terrain from all SOURCEs (neighbouring quads on one
                        lattice, placed by their georeference), written to -o
  -q, --quiet           no report lines, only problems
  -v, --verbose         each source's stage lines too
  -h, --help            this text
      --version         the version

One report line per source on standard output, problems on standard error.
Exit status: 0 when every SOURCE converted, 1 when any failed, 2 for a usage error.
)";
}

}  // namespace marlwood
