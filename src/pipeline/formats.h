#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/dem_types.h"
#include "common/result.h"
#include "heightmap/heightmap.h"

// The one table of output formats: what each is called, the names its files end in, what it
// needs of a conversion and the writer that makes it. The command line's --format, -o's
// extension, -d's names, --help, the manual page and the completion all read it, and a
// conversion asks its row what to keep, so a new format is one row and its writer.
namespace marlwood {

struct ConversionSettings;
struct Terrain;
class FormatTable;

// An option some formats take beyond what every conversion takes: declared by the rows that take
// it, so that the command line offers it, --help shows it (its first declaration) and a format
// that does not take it refuses it, without the command line knowing any format.
struct FormatOption {
    std::string long_name;  // without the leading "--"
    std::string value;      // the value's name ("ORDER")
    std::string help;       // one or more lines
    std::string choices;    // the words the completion offers, when the value is one of them
    std::string elsewhere;  // the line when it is given for a format that does not take it
    // Fills the settings from the value; the Error (a usage error) when it is refused.
    std::function<Status(ConversionSettings&, const std::string& value)> apply;
};

// What the command line asks of a format, checked by its row before anything is read.
struct FormatRequest {
    const ConversionSettings& settings;
    std::string output;                                     // -o's name; empty with -d
    std::function<bool(std::string_view long_name)> given;  // whether an option was given
    const FormatTable& formats;                             // the table the format was chosen from
};

// Writes a terrain's bytes to an open stream: the dialogue's file, standard output, or a file
// written whole through a temporary name. The stream's state says whether every byte went.
using StreamWriter = std::function<void(std::ostream&, const Terrain&, const ConversionSettings&)>;
// What a writer made, for the report.
struct Written {
    std::string path;  // the terrain's file, or a tiled heightmap's first tile
    // A heightmap: the elevations its 0..65535 span, its sidecar, and its tiles when tiled.
    std::optional<HeightRange> heights;
    std::string sidecar_path;
    std::string engine_fit;  // how the engine takes its size, or what a mesh holds, for the report
    std::int32_t tile_count = 0;
    std::string tile_size;  // "505 x 505"
    // Tiles of an older set of the heightmap's name that it did not write.
    std::vector<std::string> stale_tiles;

    static Written file(std::string path) {
        Written written;
        written.path = std::move(path);
        return written;
    }
};

// Writes the terrain's own file (or files) at `path` whole, through a temporary name, for a
// format whose library writes files rather than streams, or that writes more than one file.
using PathWriter = std::function<Result<Written>(const std::string& path, const Terrain&,
                                                 const ConversionSettings&)>;
// Every file a format writes at `path` (tiles, a sidecar), known before anything is read, so a
// run can claim them all against its other outputs and inputs.
using OutputFiles =
    std::function<std::vector<std::string>(const std::string& path, const ConversionSettings&)>;

struct OutputFormat {
    std::string name;                     // --format's word
    std::string label;                    // what messages call it ("GeoTIFF")
    std::string description;              // what --help says of it
    std::vector<std::string> extensions;  // lower case, with the dot; the first names -d outputs
    // Elevations kept in thousandths of their unit, decimals and all.
    bool keeps_decimals = false;
    // The grid's place on the ground is read and written too.
    bool needs_placement = false;
    // It is read when it can be (a sidecar names the system), but not needed.
    bool reads_placement = false;
    // An engine heightmap: 0..65535 over the elevations, with a sidecar, tiles, an engine's
    // sizes and a byte order.
    bool heightmap = false;
    // Written with a height scale (-s, --common-range): stretched heights rather than elevations.
    bool stretched_heights = false;
    // A surface, which a void would hole: voids are filled whether or not --fill-voids is given.
    bool fills_voids = false;
    // The most rows or columns a file holds.
    std::int64_t largest_side = 0;
    // One of the two writers: a stream writer also writes paths, through a temporary name.
    StreamWriter stream;
    PathWriter path;
    // Without it, the format writes `path` alone.
    OutputFiles files;
    // The options it takes (see FormatOption), and its own line for one it does not take where
    // that says more than the option's (long name, line).
    std::vector<FormatOption> options;
    std::vector<std::pair<std::string, std::string>> refuses;
    // Checks a request before anything is read: a usage error when the settings or the output's
    // name do not fit the format. Without it, every request fits.
    std::function<Status(const FormatRequest&)> check;

    const std::string& extension() const { return extensions.front(); }
    bool takes(std::string_view long_name) const;
};

// A table of output formats, read front to back: the program's own (outputFormats()), or a
// copy of it that a test adds a format of its own to without any other table seeing it. Rows
// never move, so a pointer to one stays good while its table lives.
class FormatTable {
  public:
    explicit FormatTable(std::deque<OutputFormat> rows) : rows_(std::move(rows)) {}

    // Adds a row; its name and extensions must be new to this table. The row as held.
    const OutputFormat& add(OutputFormat format);

    // The row called `name`, or nothing.
    const OutputFormat* named(std::string_view name) const;
    // The row whose extension `path` ends in (in any case), or nothing.
    const OutputFormat* ofPath(std::string_view path) const;
    // "ter or tif": every name, for a usage line.
    std::string names() const;
    // Every option the rows declare, once each (its first declaration), in the rows' order.
    std::vector<const FormatOption*> options() const;
    // Whether `path` has no name before its extension ("out/", "out/.png"), which the files
    // beside a format's own (tiles, a sidecar) would be named after.
    bool namesNoFile(const std::string& path) const;
    // `format`'s answer to a request: the options it was given that it does not take, then its
    // own check.
    Status check(const OutputFormat& format, const FormatRequest& request) const;

    std::deque<OutputFormat>::const_iterator begin() const { return rows_.begin(); }
    std::deque<OutputFormat>::const_iterator end() const { return rows_.end(); }

  private:
    std::deque<OutputFormat> rows_;
};

// The program's formats, the Terragen .ter first (the default). Never added to: a test that
// needs a format of its own copies it.
const FormatTable& outputFormats();

// The .ter row of the program's table: what a conversion writes unless asked otherwise.
const OutputFormat& terFormat();

// Whether a grid of `size` can be written as `format`; the Error says why not, `what` naming
// the grid's source ("7172LDEF.DDF gives a grid of", "the merged grid would be").
Status fitsFormat(const OutputFormat& format, const GridSize& size, const std::string& what);

// Every file `format` writes at `path`.
std::vector<std::string> filesWritten(const OutputFormat& format, const std::string& path,
                                      const ConversionSettings& settings);

// Writes `terrain` as `format` at `path` ("-": standard output): whole or not at all.
Result<Written> writeTerrainAt(const OutputFormat& format, const std::string& path,
                               const Terrain& terrain, const ConversionSettings& settings);

// Writes `terrain` as `format` to an open stream, which is flushed; an Error when the format
// writes only files or a byte did not go.
Status writeTerrainTo(const OutputFormat& format, std::ostream& out, const Terrain& terrain,
                      const ConversionSettings& settings, const std::string& name);

}  // namespace marlwood
