#include "tiff/geotiff_reader.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <new>
#include <string_view>
#include <type_traits>
#include <vector>

#include "common/text.h"
#include "tiff/deflate_library.h"
#include "tiff/tiff_library.h"

namespace marlwood {

namespace {

using tiff_detail::Inflater;
using tiff_detail::TiffLibrary;

constexpr ttag_t kModelPixelScaleTag = 33550;
constexpr ttag_t kModelTiepointTag = 33922;
constexpr ttag_t kModelTransformationTag = 34264;
constexpr ttag_t kGeoKeyDirectoryTag = 34735;
constexpr ttag_t kGdalNoDataTag = 42113;
constexpr std::uint16_t kDeflate = 8, kAdobeDeflate = 32946;
constexpr std::uint64_t kMaxSide = std::numeric_limits<std::int32_t>::max();
// The most a reader holds at once: a row of blocks and the row it gives (a 3DEP tile's whole
// width is 22 MiB).
constexpr std::uint64_t kMaxHeldBytes = std::uint64_t{1} << 30;
// Every block has an offset in the file of at least four bytes, so a file lists no more blocks
// than a quarter of its size.
constexpr std::uint64_t kLeastBytesPerBlock = 4;

// libtiff's first error about one file, the line a failure shows; warnings (unknown tags, the
// GeoTIFF ones among them) are dropped.
struct Messages {
    std::string first;

    void add(const char* format, std::va_list args) {
        if (!first.empty()) return;
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        first = printableText(text);
    }
    std::string or_(std::string fallback) const { return first.empty() ? fallback : first; }
};

int onTiffError(TIFF*, void* messages, const char*, const char* format, std::va_list args) {
    static_cast<Messages*>(messages)->add(format, args);
    return 1;  // handled: libtiff's own handler would print it
}
int onTiffWarning(TIFF*, void*, const char*, const char*, std::va_list) {
    return 1;
}

// The bytes libtiff reads, from memory, a file or ranges, counted; why ranges failed, kept for
// the line (libtiff's own says only that a read failed).
struct Input {
    std::shared_ptr<const std::string> memory;
    std::shared_ptr<const RangedBytes> ranged;
    std::ifstream file;
    std::uint64_t size = 0, at = 0, read = 0;
    std::optional<Error> problem;
};

Input& inputOf(thandle_t handle) {
    return *static_cast<Input*>(handle);
}
tmsize_t readBytes(thandle_t handle, void* data, tmsize_t size) {
    Input& in = inputOf(handle);
    if (size <= 0 || in.at >= in.size) return 0;
    const std::uint64_t n =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(size), in.size - in.at);
    if (in.memory) {
        std::memcpy(data, in.memory->data() + in.at, n);
    } else if (in.ranged) {
        const Status got = in.ranged->read(in.at, {static_cast<std::uint8_t*>(data), n});
        if (!got) {
            if (!in.problem) in.problem = got.error();
            return -1;
        }
    } else {
        in.file.clear();
        in.file.seekg(static_cast<std::streamoff>(in.at));
        in.file.read(static_cast<char*>(data), static_cast<std::streamsize>(n));
        if (static_cast<std::uint64_t>(in.file.gcount()) != n) return -1;
    }
    in.at += n;
    in.read += n;
    return static_cast<tmsize_t>(n);
}
tmsize_t writeNothing(thandle_t, void*, tmsize_t) {
    return -1;
}
toff_t seekTo(thandle_t handle, toff_t offset, int whence) {
    Input& in = inputOf(handle);
    const std::uint64_t from = whence == SEEK_END ? in.size : whence == SEEK_CUR ? in.at : 0;
    // libtiff passes a negative offset from the end or here as its unsigned value.
    in.at = from + offset;
    return in.at;
}
int closeNothing(thandle_t) {
    return 0;
}
toff_t sizeOf(thandle_t handle) {
    return inputOf(handle).size;
}
int mapNothing(thandle_t, void**, toff_t*) {
    return 0;
}
void unmapNothing(thandle_t, void*, toff_t) {}

// An open file and libtiff's handle on it, which reads through `input` and reports to
// `messages`: both stay where they are for the handle's life.
struct OpenTiff {
    const TiffLibrary* l = nullptr;
    Input input;
    Messages messages;
    TIFF* tif = nullptr;

    OpenTiff() = default;
    OpenTiff(const OpenTiff&) = delete;
    OpenTiff& operator=(const OpenTiff&) = delete;
    ~OpenTiff() {
        if (tif != nullptr) l->close(tif);
    }
};

Result<std::unique_ptr<OpenTiff>> openTiff(const GeoTiffSource& source) {
    const Result<const TiffLibrary*> library = tiff_detail::tiffLibrary();
    if (!library) return failure("cannot read " + source.name + ": " + library.message());
    auto open = std::make_unique<OpenTiff>();
    open->l = *library;
    Input& in = open->input;
    if (source.bytes) {
        in.memory = source.bytes;
        in.size = source.bytes->size();
    } else if (source.ranged) {
        in.ranged = source.ranged;
        in.size = source.ranged->size;
    } else {
        in.file.open(source.name, std::ios::binary);
        if (!in.file) return failure("cannot open " + source.name + ": " + std::strerror(errno));
        in.file.seekg(0, std::ios::end);
        const std::streamoff end = in.file.tellg();
        if (end < 0) return failure("cannot read " + source.name);
        in.size = static_cast<std::uint64_t>(end);
    }
    const TiffLibrary& l = *open->l;
    TIFFOpenOptions* options = l.options_alloc();
    if (options == nullptr) return failure("not enough memory to read " + source.name);
    l.options_error_handler(options, onTiffError, &open->messages);
    l.options_warning_handler(options, onTiffWarning, nullptr);
    // What a lying tag can make libtiff allocate in one go.
    l.options_max_alloc(options, static_cast<tmsize_t>(kMaxBlockBytes));
    // "O": block offsets and byte counts are read when a block is, not all when the file opens
    // (a 3DEP tile lists 484 blocks and its overviews more).
    open->tif = l.client_open(source.name.c_str(), "rO", &open->input, readBytes, writeNothing,
                              seekTo, closeNothing, sizeOf, mapNothing, unmapNothing, options);
    l.options_free(options);
    if (open->tif == nullptr) {
        if (in.problem) return *in.problem;
        return failure("cannot read " + source.name +
                       " as a TIFF: " + open->messages.or_("libtiff refuses it"));
    }
    return open;
}

// A tag's values, libtiff's known tags and those it only passes on alike (these keep the type
// the file gives, so the type is checked): nothing when the file lacks the tag.
template <class T>
Result<std::span<const T>> tagValues(const OpenTiff& t, ttag_t tag, TIFFDataType type,
                                     const char* what) {
    const TiffLibrary& l = *t.l;
    const TIFFField* field = l.find_field(t.tif, tag, TIFF_ANY);
    if (field == nullptr) return std::span<const T>();
    if (l.field_data_type(field) != type) {
        return failure("the " + std::string(what) + " (tag " + std::to_string(tag) +
                       ") holds values of TIFF type " +
                       std::to_string(static_cast<int>(l.field_data_type(field))));
    }
    const T* data = nullptr;
    std::size_t count = 0;
    if (!l.field_pass_count(field)) {
        if (l.get_field(t.tif, tag, &data) != 1 || data == nullptr) return std::span<const T>();
        if constexpr (std::is_same_v<T, char>)
            count = std::strlen(data);
        else
            return failure("the " + std::string(what) + " has no count");
    } else if (l.field_read_count(field) == TIFF_VARIABLE2) {
        std::uint32_t n = 0;
        if (l.get_field(t.tif, tag, &n, &data) != 1 || data == nullptr) return std::span<const T>();
        count = n;
    } else {
        std::uint16_t n = 0;
        if (l.get_field(t.tif, tag, &n, &data) != 1 || data == nullptr) return std::span<const T>();
        count = n;
    }
    return std::span<const T>(data, count);
}

template <class T>
T fieldOr(const OpenTiff& t, ttag_t tag, T fallback) {
    T value{};
    return t.l->get_field(t.tif, tag, &value) == 1 ? value : fallback;
}

Status readLayout(const OpenTiff& t, GeoTiffInfo& info) {
    const TiffLibrary& l = *t.l;
    const auto width = fieldOr<std::uint32_t>(t, TIFFTAG_IMAGEWIDTH, 0);
    const auto height = fieldOr<std::uint32_t>(t, TIFFTAG_IMAGELENGTH, 0);
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) {
        return failure("an image of " + std::to_string(width) + " x " + std::to_string(height) +
                       " cells, where marlwood reads 1 to " + std::to_string(kMaxSide) + " a side");
    }
    info.width = static_cast<std::int32_t>(width);
    info.height = static_cast<std::int32_t>(height);
    const auto samples = fieldOr<std::uint16_t>(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    if (samples != 1) {
        return failure(std::to_string(samples) +
                       " samples a cell, where marlwood reads one (an elevation)");
    }
    const Result<SampleType> type =
        sampleTypeOf(fieldOr<std::uint16_t>(t, TIFFTAG_BITSPERSAMPLE, 1),
                     fieldOr<std::uint16_t>(t, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT));
    if (!type) return type.error();
    info.sample_type = *type;
    info.planar_separate = fieldOr<std::uint16_t>(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) ==
                           PLANARCONFIG_SEPARATE;
    info.tiled = l.is_tiled(t.tif) != 0;
    if (info.tiled) {
        info.block_width = fieldOr<std::uint32_t>(t, TIFFTAG_TILEWIDTH, 0);
        info.block_height = fieldOr<std::uint32_t>(t, TIFFTAG_TILELENGTH, 0);
    } else {
        info.block_width = width;
        info.block_height =
            std::min(fieldOr<std::uint32_t>(t, TIFFTAG_ROWSPERSTRIP, height), height);
    }
    const std::uint64_t block_bytes = std::uint64_t{info.block_width} * info.block_height *
                                      static_cast<std::uint64_t>(sampleBytes(info.sample_type));
    if (block_bytes < 1 || block_bytes > kMaxBlockBytes) {
        return failure(std::string(info.tiled ? "tiles of " : "strips of ") +
                       std::to_string(info.block_width) + " x " +
                       std::to_string(info.block_height) +
                       " cells, where marlwood reads blocks of " + "1 to " +
                       std::to_string(kMaxBlockBytes >> 20) + " MiB");
    }
    const std::uint64_t blocks = std::uint64_t{info.blocksAcross()} * info.blocksDown();
    const std::uint64_t listed = info.tiled ? l.number_of_tiles(t.tif) : l.number_of_strips(t.tif);
    if (blocks != listed || blocks > t.input.size / kLeastBytesPerBlock) {
        return failure(std::to_string(blocks) + " blocks in a file of " +
                       std::to_string(t.input.size) + " bytes");
    }
    info.compression = fieldOr<std::uint16_t>(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    if (!l.is_codec_configured(info.compression)) {
        return failure("compression " + std::to_string(info.compression) +
                       ", which this machine's libtiff does not decode");
    }
    // Only codecs that take a predictor know the tag.
    info.predictor = info.compression == COMPRESSION_NONE
                         ? 1
                         : fieldOr<std::uint16_t>(t, TIFFTAG_PREDICTOR, PREDICTOR_NONE);
    if (info.predictor < 1 || info.predictor > 3) {
        return failure("predictor " + std::to_string(info.predictor) + ", not 1, 2 or 3");
    }
    const bool floating =
        info.sample_type == SampleType::Float32 || info.sample_type == SampleType::Float64;
    if (info.predictor == 3 && !floating) {
        return failure("the floating-point predictor on " +
                       std::string(sampleTypeName(info.sample_type)) + " samples");
    }
    info.byte_swapped = l.is_byte_swapped(t.tif) != 0;
    return {};
}

Status readPlace(const OpenTiff& t, GeoTiffInfo& info) {
    const Result<std::span<const char>> no_data =
        tagValues<char>(t, kGdalNoDataTag, TIFF_ASCII, "NoData value");
    if (!no_data) return no_data.error();
    if (!no_data->empty()) {
        const std::string_view text(no_data->data(), no_data->size());
        info.no_data = parseNoData(text.substr(0, text.find('\0')));
        if (!info.no_data)
            return failure("the NoData value " + quotedText(text, 40) + " is not a number");
    }
    const Result<std::span<const std::uint16_t>> directory =
        tagValues<std::uint16_t>(t, kGeoKeyDirectoryTag, TIFF_SHORT, "GeoKey directory");
    if (!directory) return directory.error();
    if (!directory->empty()) {
        const Result<GeoKeys> keys = parseGeoKeys(*directory);
        if (!keys) return keys.error();
        info.has_geo_keys = true;
        info.keys = *keys;
        info.crs = crsOf(*keys);
        info.pixel_is_point = keys->raster_type == 2;
        // The EPSG code fixes the projected system's unit; this one is only reported.
        info.linear_unit = lengthUnitOf(keys->linear_units, "").value_or(LengthUnit::NotGiven);
        const Result<LengthUnit> vertical = lengthUnitOf(keys->vertical_units, "the elevations'");
        if (!vertical) return vertical.error();
        info.vertical_unit = *vertical;
    }
    const auto tiepoints = tagValues<double>(t, kModelTiepointTag, TIFF_DOUBLE, "tie point");
    const auto scale = tagValues<double>(t, kModelPixelScaleTag, TIFF_DOUBLE, "pixel scale");
    const auto matrix =
        tagValues<double>(t, kModelTransformationTag, TIFF_DOUBLE, "model transformation");
    for (const auto* values : {&tiepoints, &scale, &matrix}) {
        if (!*values) return values->error();
    }
    const Result<std::optional<GeoTransform>> gt =
        geoTransformOf(*tiepoints, *scale, *matrix, info.pixel_is_point);
    if (!gt) return gt.error();
    info.geotransform = *gt;
    return {};
}

// TIFF's NewSubfileType bits: a reduced-resolution copy of the image, a transparency mask.
constexpr std::uint32_t kReducedImage = 1, kMaskImage = 4;

// Whether `side` is about half of `before` (GDAL rounds a half up or down).
bool aboutHalf(std::int32_t side, std::int32_t before) {
    return std::abs(2 * std::int64_t{side} - before) <= 2 && side <= before;
}

// The overviews after the full image `info` (the current directory), listed in `info.levels`
// up to `level` or, with `every_level`, all of them; the handle is left at image `level`, whose
// layout `chosen` takes.
Status readLevels(const OpenTiff& t, GeoTiffInfo& info, std::int32_t level, bool every_level,
                  GeoTiffInfo& chosen) {
    const TiffLibrary& l = *t.l;
    info.levels = {{info.width, info.height}};
    chosen = info;
    tdir_t directory = 0, chosen_directory = 0;
    while (every_level || info.levels.size() <= static_cast<std::size_t>(level)) {
        const std::size_t k = info.levels.size();
        const std::string named = "its overview " + std::to_string(k);
        const bool quiet = t.messages.first.empty();
        if (l.read_directory(t.tif) != 1) {
            if (t.input.problem) return *t.input.problem;
            if (quiet && !t.messages.first.empty()) return failure(named + ": " + t.messages.first);
            break;  // the last image
        }
        ++directory;
        const auto subfile = fieldOr<std::uint32_t>(t, TIFFTAG_SUBFILETYPE, 0);
        if (subfile & kMaskImage) continue;
        if (!(subfile & kReducedImage)) break;  // another page: no overview of this image
        if (k > kMostLevels) {
            return failure("more than " + std::to_string(kMostLevels) + " overviews");
        }
        GeoTiffInfo reduced;
        if (Status layout = readLayout(t, reduced); !layout) {
            return failure(named + ": " + layout.message());
        }
        if (reduced.sample_type != info.sample_type || reduced.compression != info.compression ||
            reduced.predictor != info.predictor) {
            return failure(named + " differs from the full image in its samples (" +
                           sampleTypeName(reduced.sample_type) + ", compression " +
                           std::to_string(reduced.compression) + ", predictor " +
                           std::to_string(reduced.predictor) + ")");
        }
        const ImageLevel& before = info.levels.back();
        if (!aboutHalf(reduced.width, before.width) || !aboutHalf(reduced.height, before.height)) {
            return failure(named + " is " + std::to_string(reduced.width) + " x " +
                           std::to_string(reduced.height) + " cells, not about half the " +
                           std::to_string(before.width) + " x " + std::to_string(before.height) +
                           " before it");
        }
        info.levels.push_back({reduced.width, reduced.height});
        if (k == static_cast<std::size_t>(level)) {
            chosen = reduced;
            chosen_directory = directory;
        }
    }
    if (static_cast<std::size_t>(level) >= info.levels.size()) {
        return failure("no overview " + std::to_string(level) + ": the file has " +
                       std::to_string(info.levels.size() - 1));
    }
    if (level > 0 && directory != chosen_directory &&
        l.set_directory(t.tif, chosen_directory) != 1) {
        if (t.input.problem) return *t.input.problem;
        return failure(
            t.messages.or_("its overview " + std::to_string(level) + " cannot be read again"));
    }
    return {};
}

// Image `level`'s layout with the full image's place, its cells as wide and high as the level's
// share of the full image's; the overviews listed up to it or, with `every_level`, all.
Result<GeoTiffInfo> readInfo(const OpenTiff& t, std::int32_t level = 0, bool every_level = false) {
    GeoTiffInfo info;
    if (Status layout = readLayout(t, info); !layout) return layout.error();
    if (Status place = readPlace(t, info); !place) return place.error();
    if (level < 0) return failure("no overview " + std::to_string(level));
    if (level == 0 && !every_level) {
        info.levels = {{info.width, info.height}};
        return info;
    }
    GeoTiffInfo chosen;
    if (Status levels = readLevels(t, info, level, every_level, chosen); !levels) {
        return levels.error();
    }
    if (level == 0) return info;
    const double across = static_cast<double>(info.width) / chosen.width;
    const double down = static_cast<double>(info.height) / chosen.height;
    if (info.geotransform) {
        GeoTransform& g = *info.geotransform;
        g[1] *= across, g[4] *= across;
        g[2] *= down, g[5] *= down;
    }
    info.width = chosen.width, info.height = chosen.height;
    info.planar_separate = chosen.planar_separate;
    info.tiled = chosen.tiled;
    info.block_width = chosen.block_width, info.block_height = chosen.block_height;
    info.byte_swapped = chosen.byte_swapped;
    info.level = level;
    return info;
}

}  // namespace

Result<GeoTiffInfo> readGeoTiffInfo(const GeoTiffSource& source, std::int32_t level) {
    try {
        const Result<std::unique_ptr<OpenTiff>> open = openTiff(source);
        if (!open) return open.error();
        return readInfo(**open, level, true);
    } catch (const std::bad_alloc&) {
        return failure("not enough memory to read " + source.name);
    }
}

struct GeoTiffRows::State {
    std::unique_ptr<OpenTiff> tiff;
    GeoTiffInfo info;
    RasterWindow window;
    std::optional<Inflater> inflater;  // none: libtiff inflates
    std::uint32_t first_block_column = 0, last_block_column = 0;
    std::int64_t block_row = -1;                    // the row of blocks held
    std::vector<std::vector<std::uint8_t>> blocks;  // machine order, predictors undone
    std::vector<bool> sparse;                       // blocks the file leaves out: no data
    std::vector<std::uint8_t> raw, plane_row;
    std::vector<double> row;
    std::int32_t rows_given = 0;
    std::int64_t blocks_read = 0;

    std::size_t rowBytes() const {
        return std::size_t{info.block_width} *
               static_cast<std::size_t>(sampleBytes(info.sample_type));
    }
    Status readBlockRow(std::uint32_t block_row);
    Status expectBlockRow(std::uint32_t block_row, const RangedBytes& ranged);
    std::vector<ByteSpan> blockRowSpans(std::uint32_t block_row, std::uint64_t size) const;
    std::vector<ByteSpan> windowSpans(std::uint64_t size) const;
    std::uint32_t lastBlockRow() const {
        return static_cast<std::uint32_t>(window.first_row + window.rows - 1) / info.block_height;
    }
    Status readBlock(std::uint32_t index, std::uint32_t rows, std::vector<std::uint8_t>& out,
                     bool& is_sparse);
    Status undoPredictor(std::span<std::uint8_t> decoded, std::uint32_t rows);
};

Status GeoTiffRows::State::readBlock(std::uint32_t index, std::uint32_t rows,
                                     std::vector<std::uint8_t>& out, bool& is_sparse) {
    const TiffLibrary& l = *tiff->l;
    TIFF* tif = tiff->tif;
    const std::string block = "block " + std::to_string(index);
    int error = 0;
    const std::uint64_t offset = l.strile_offset(tif, index, &error);
    const std::uint64_t count = error == 0 ? l.strile_byte_count(tif, index, &error) : 0;
    if (error != 0) return failure(tiff->messages.or_("the place of " + block + " is not listed"));
    is_sparse = offset == 0 && count == 0;  // left out of the file: no data
    if (is_sparse) return {};
    const std::uint64_t size = tiff->input.size;
    if (offset > size || count > size - offset) {
        return failure(block + " lies beyond the end of the file (bytes " + std::to_string(offset) +
                       " + " + std::to_string(count) + " of " + std::to_string(size) + ")");
    }
    // A tile is decoded whole; a strip's rows that the image has (the last may be short).
    if (info.tiled) rows = info.block_height;
    const std::size_t needed = rows * rowBytes();
    const std::size_t whole = info.block_height * rowBytes();
    if (info.compression == COMPRESSION_NONE && count < needed) {
        return failure(block + " is cut short: " + std::to_string(count) + " bytes of " +
                       std::to_string(needed));
    }
    out.resize(whole);
    const bool deflate = info.compression == kDeflate || info.compression == kAdobeDeflate;
    ++blocks_read;
    if (!deflate || !inflater) {
        const auto want = static_cast<tmsize_t>(needed);
        const tmsize_t got = info.tiled ? l.read_encoded_tile(tif, index, out.data(), want)
                                        : l.read_encoded_strip(tif, index, out.data(), want);
        if (got != want) {
            if (tiff->input.problem) return *tiff->input.problem;
            return failure(tiff->messages.or_(block + " is cut short or damaged"));
        }
        return {};
    }
    raw.resize(count);
    const tmsize_t got =
        info.tiled ? l.read_raw_tile(tif, index, raw.data(), static_cast<tmsize_t>(count))
                   : l.read_raw_strip(tif, index, raw.data(), static_cast<tmsize_t>(count));
    if (got != static_cast<tmsize_t>(count)) {
        if (tiff->input.problem) return *tiff->input.problem;
        return failure(tiff->messages.or_(block + " cannot be read"));
    }
    const std::optional<std::size_t> inflated = inflater->inflate(raw, out);
    if (!inflated || *inflated < needed) return failure(block + " is cut short or damaged");
    return undoPredictor(std::span(out).first(needed), rows);
}

// What libtiff does after inflating, done here for the blocks inflated here.
Status GeoTiffRows::State::undoPredictor(std::span<std::uint8_t> decoded, std::uint32_t rows) {
    const int bytes = sampleBytes(info.sample_type);
    const std::size_t row_bytes = rowBytes();
    for (std::uint32_t r = 0; r < rows; ++r) {
        const std::span<std::uint8_t> row_span = decoded.subspan(r * row_bytes, row_bytes);
        if (info.predictor == 3) {
            // The planes' order does not depend on the file's byte order.
            plane_row.resize(row_bytes);
            undoFloatPredictor(row_span, plane_row, bytes);
            std::copy(plane_row.begin(), plane_row.end(), row_span.begin());
            continue;
        }
        if (info.byte_swapped) swapSampleBytes(row_span, bytes);
        if (info.predictor == 2) undoHorizontalPredictor(row_span, bytes);
    }
    return {};
}

// The bytes of the window's blocks in a row of blocks; a block whose place is wrong is left to
// readBlock, which says what is wrong with it.
std::vector<ByteSpan> GeoTiffRows::State::blockRowSpans(std::uint32_t index,
                                                        std::uint64_t size) const {
    const TiffLibrary& l = *tiff->l;
    std::vector<ByteSpan> spans;
    for (std::uint32_t c = first_block_column; c <= last_block_column; ++c) {
        const std::uint32_t block = index * info.blocksAcross() + c;
        int error = 0;
        const std::uint64_t offset = l.strile_offset(tiff->tif, block, &error);
        const std::uint64_t count = error == 0 ? l.strile_byte_count(tiff->tif, block, &error) : 0;
        if (error != 0 || count == 0 || offset > size || count > size - offset) continue;
        spans.push_back({offset, count});
    }
    return spans;
}

Status GeoTiffRows::State::expectBlockRow(std::uint32_t index, const RangedBytes& ranged) {
    const std::vector<ByteSpan> spans = blockRowSpans(index, ranged.size);
    // The next row's blocks are fetched while these are decoded.
    const std::vector<ByteSpan> next =
        index < lastBlockRow() ? blockRowSpans(index + 1, ranged.size) : std::vector<ByteSpan>();
    return tiff->input.problem ? Status(*tiff->input.problem) : ranged.expect(spans, next);
}

Status GeoTiffRows::State::readBlockRow(std::uint32_t index) {
    const std::uint32_t rows = std::min<std::uint32_t>(
        info.block_height, static_cast<std::uint32_t>(info.height) - index * info.block_height);
    if (const auto& ranged = tiff->input.ranged; ranged && ranged->expect) {
        // Told first, so that a server is asked for the row's blocks in few requests.
        if (Status told = expectBlockRow(index, *ranged); !told) return told;
    }
    for (std::uint32_t c = first_block_column; c <= last_block_column; ++c) {
        const std::size_t k = c - first_block_column;
        bool is_sparse = false;
        const Status read = readBlock(index * info.blocksAcross() + c, rows, blocks[k], is_sparse);
        if (!read) return read;
        sparse[k] = is_sparse;
    }
    block_row = index;
    return {};
}

// The state of a window's rows, checked against the image; its buffers not yet made.
static Result<std::unique_ptr<GeoTiffRows::State>> windowState(std::unique_ptr<OpenTiff> open,
                                                               const RasterWindow& window) {
    Result<GeoTiffInfo> info = readInfo(*open, window.level);
    if (!info) return info.error();
    const RasterWindow& w = window;
    if (w.rows < 1 || w.columns < 1 || w.first_row < 0 || w.first_column < 0 ||
        w.first_row > info->height - w.rows || w.first_column > info->width - w.columns) {
        return failure("a window of " + std::to_string(w.rows) + " x " + std::to_string(w.columns) +
                       " cells at row " + std::to_string(w.first_row) + ", column " +
                       std::to_string(w.first_column) + " does not lie in the image of " +
                       std::to_string(info->height) + " x " + std::to_string(info->width));
    }
    auto state = std::make_unique<GeoTiffRows::State>();
    state->info = *info;
    state->window = window;
    state->first_block_column = static_cast<std::uint32_t>(w.first_column) / info->block_width;
    state->last_block_column =
        static_cast<std::uint32_t>(w.first_column + w.columns - 1) / info->block_width;
    state->tiff = std::move(open);
    return state;
}

// The bytes of every block of the window, row after row of blocks.
std::vector<ByteSpan> GeoTiffRows::State::windowSpans(std::uint64_t size) const {
    std::vector<ByteSpan> spans;
    for (std::uint32_t r = static_cast<std::uint32_t>(window.first_row) / info.block_height;
         r <= lastBlockRow(); ++r) {
        for (const ByteSpan& span : blockRowSpans(r, size)) spans.push_back(span);
    }
    return spans;
}

Status GeoTiffRows::prefetch(const GeoTiffSource& source, const RasterWindow& window) {
    if (!source.ranged || !source.ranged->expect) return {};
    try {
        Result<std::unique_ptr<OpenTiff>> open = openTiff(source);
        if (!open) return open.error();
        Result<std::unique_ptr<State>> state = windowState(std::move(*open), window);
        if (!state) return state.error();
        const RangedBytes& ranged = *source.ranged;
        return ranged.expect({}, (*state)->windowSpans(ranged.size));
    } catch (const std::bad_alloc&) {
        return failure("not enough memory to read " + source.name);
    }
}

Result<GeoTiffRows> GeoTiffRows::open(const GeoTiffSource& source, const RasterWindow& window,
                                      InflateBy inflate) {
    try {
        Result<std::unique_ptr<OpenTiff>> open = openTiff(source);
        if (!open) return open.error();
        Result<std::unique_ptr<State>> made = windowState(std::move(*open), window);
        if (!made) return made.error();
        std::unique_ptr<State> state = std::move(*made);
        const GeoTiffInfo* info = &state->info;
        const RasterWindow& w = window;
        const std::size_t across = state->last_block_column - state->first_block_column + 1;
        const std::uint64_t held =
            across * info->block_height * state->rowBytes() +
            std::uint64_t{static_cast<std::uint32_t>(w.columns)} * sizeof(double);
        if (held > kMaxHeldBytes) {
            return failure("a row of blocks of " + std::to_string(held >> 20) +
                           " MiB, more than marlwood holds at once (" +
                           std::to_string(kMaxHeldBytes >> 20) + " MiB)");
        }
        // Block buffers grow when a block is read, after its size is checked against the file.
        state->blocks.resize(across);
        state->sparse.resize(across);
        state->row.resize(static_cast<std::size_t>(w.columns));
        if (inflate == InflateBy::Libdeflate) {
            Result<Inflater> inflater = Inflater::make();
            if (inflater) state->inflater.emplace(std::move(*inflater));
        }
        if (const auto& ranged = state->tiff->input.ranged; ranged && ranged->expect) {
            // The window's blocks told, fetched from now on, row after row.
            if (Status told = ranged->expect({}, state->windowSpans(ranged->size)); !told) {
                return told.error();
            }
        }
        return GeoTiffRows(std::move(state));
    } catch (const std::bad_alloc&) {
        return failure("not enough memory to read " + source.name);
    }
}

Result<std::span<const double>> GeoTiffRows::next() {
    State& s = *state_;
    if (s.rows_given == s.window.rows) return std::span<const double>();
    const auto row = static_cast<std::uint32_t>(s.window.first_row + s.rows_given);
    const std::uint32_t block_row = row / s.info.block_height;
    if (s.block_row != block_row) {
        try {
            if (Status read = s.readBlockRow(block_row); !read) return read.error();
        } catch (const std::bad_alloc&) {
            return failure("not enough memory to read a row of blocks");
        }
    }
    const GeoTiffInfo& info = s.info;
    const std::size_t bytes = static_cast<std::size_t>(sampleBytes(info.sample_type));
    const std::uint32_t in_block = row - block_row * info.block_height;
    const auto first = static_cast<std::uint32_t>(s.window.first_column);
    const std::uint32_t end = first + static_cast<std::uint32_t>(s.window.columns);
    for (std::uint32_t c = s.first_block_column; c <= s.last_block_column; ++c) {
        const std::size_t k = c - s.first_block_column;
        const std::uint32_t left = std::max(first, c * info.block_width);
        const std::uint32_t right = std::min(end, (c + 1) * info.block_width);
        const std::span<double> out = std::span(s.row).subspan(left - first, right - left);
        if (s.sparse[k]) {
            std::fill(out.begin(), out.end(), info.no_data ? NAN : 0.0);
            continue;
        }
        const std::size_t at =
            (std::size_t{in_block} * info.block_width + (left - c * info.block_width)) * bytes;
        samplesToDoubles(std::span(s.blocks[k]).subspan(at, out.size() * bytes), info.sample_type,
                         info.no_data, out);
    }
    ++s.rows_given;
    return std::span<const double>(s.row);
}

GeoTiffRows::GeoTiffRows(std::unique_ptr<State> state) : state_(std::move(state)) {}
GeoTiffRows::GeoTiffRows(GeoTiffRows&&) noexcept = default;
GeoTiffRows& GeoTiffRows::operator=(GeoTiffRows&&) noexcept = default;
GeoTiffRows::~GeoTiffRows() = default;

const GeoTiffInfo& GeoTiffRows::info() const {
    return state_->info;
}
std::int64_t GeoTiffRows::blocksRead() const {
    return state_->blocks_read;
}
std::uint64_t GeoTiffRows::bytesRead() const {
    return state_->tiff->input.read;
}
std::uint64_t GeoTiffRows::fileBytes() const {
    return state_->tiff->input.size;
}

}  // namespace marlwood
