#include "tiff/geotiff_reader.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace marlwood {
namespace {

// A GeoTIFF as the test writes it with libtiff itself.
struct TiffShape {
    SampleType type = SampleType::Float32;
    std::uint32_t width = 37, height = 29;
    bool tiled = false;
    std::uint32_t block_width = 16, block_height = 5;  // a strip: only the rows
    std::uint16_t compression = COMPRESSION_NONE, predictor = PREDICTOR_NONE;
    bool big_endian = false;
    const char* no_data = nullptr;
    std::vector<std::uint16_t> geo_keys = {1, 1, 0, 2, 1024, 0, 1, 1, 3072, 0, 1, 26915};
    std::vector<double> tiepoint = {0, 0, 0, 500000, 5200000, 0}, scale = {30, 30, 0};
    // Images after the first, each marked by its NewSubfileType (1 an overview, 4 a mask) and
    // of its own size and sample type; an overview's cells are the full image's of rows from
    // 100 times its level on (so that each level reads back its own).
    struct Image {
        std::uint32_t subfile = 1, width = 0, height = 0;
        std::optional<SampleType> type;  // none: the full image's
    };
    std::vector<Image> images;
};

// Every type's range crossed, and the band's NoData value at every eleventh cell.
double cell(SampleType type, std::uint32_t r, std::uint32_t c) {
    const std::int64_t n = std::int64_t{r} * 7919 + std::int64_t{c} * 104729;
    switch (type) {
        case SampleType::Int16:
            return static_cast<double>(n % 65536 - 32767);
        case SampleType::UInt16:
            return static_cast<double>(n % 65535);
        case SampleType::Int32:
            return static_cast<double>(n * 40503 % 4000000000 - 2000000000);
        case SampleType::Float32:
            return static_cast<float>(std::sin(n * 1e-3) * 4000);
        case SampleType::Float64:
            return std::sin(n * 1e-3) * 4000 + c * 1e-9;
    }
    return 0;
}

const char* noDataOf(SampleType type) {
    return type == SampleType::Int16 ? "-32768" : type == SampleType::UInt16 ? "65535" : "-999999";
}

void put(SampleType type, double v, std::uint8_t* at) {
    const auto copy = [&](auto typed) { std::memcpy(at, &typed, sizeof typed); };
    switch (type) {
        case SampleType::Int16:
            copy(static_cast<std::int16_t>(v));
            break;
        case SampleType::UInt16:
            copy(static_cast<std::uint16_t>(v));
            break;
        case SampleType::Int32:
            copy(static_cast<std::int32_t>(v));
            break;
        case SampleType::Float32:
            copy(static_cast<float>(v));
            break;
        case SampleType::Float64:
            copy(v);
            break;
    }
}

bool isVoidCell(const TiffShape& s, std::uint32_t r, std::uint32_t c) {
    return s.no_data != nullptr && (r + c) % 11 == 0;
}

const TIFFFieldInfo kGeoFields[] = {
    {33550, -1, -1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char*>("ModelPixelScale")},
    {33922, -1, -1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char*>("ModelTiepoint")},
    {34735, -1, -1, TIFF_SHORT, FIELD_CUSTOM, 1, 1, const_cast<char*>("GeoKeyDirectory")},
    {42113, -1, -1, TIFF_ASCII, FIELD_CUSTOM, 1, 0, const_cast<char*>("GDALNoDataValue")},
};

// One image: its tags and blocks, the cells from row `first_row` of the full image's pattern.
std::string writeImage(TIFF* tif, TiffShape s, const TiffShape::Image& image,
                       std::uint32_t first_row) {
    if (image.width > 0) {
        s.width = image.width, s.height = image.height, s.type = image.type.value_or(s.type);
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, image.subfile);
    }
    const int bytes = sampleBytes(s.type);
    const bool floating = s.type == SampleType::Float32 || s.type == SampleType::Float64;
    const bool is_signed = s.type == SampleType::Int16 || s.type == SampleType::Int32;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, s.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, s.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8 * bytes);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT,
                 floating    ? SAMPLEFORMAT_IEEEFP
                 : is_signed ? SAMPLEFORMAT_INT
                             : SAMPLEFORMAT_UINT);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, s.compression);
    if (s.compression != COMPRESSION_NONE) TIFFSetField(tif, TIFFTAG_PREDICTOR, s.predictor);
    if (s.tiled) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, s.block_width);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, s.block_height);
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, s.block_height);
    }
    if (s.no_data != nullptr) TIFFSetField(tif, TIFFTAG_GDAL_NODATA, s.no_data);
    if (!s.geo_keys.empty() && image.width == 0) {
        TIFFSetField(tif, 34735, static_cast<int>(s.geo_keys.size()), s.geo_keys.data());
        TIFFSetField(tif, 33922, static_cast<int>(s.tiepoint.size()), s.tiepoint.data());
        TIFFSetField(tif, 33550, static_cast<int>(s.scale.size()), s.scale.data());
    }
    const std::uint32_t bw = s.tiled ? s.block_width : s.width;
    std::vector<std::uint8_t> block(std::size_t{bw} * s.block_height * bytes);
    for (std::uint32_t top = 0, index = 0; top < s.height; top += s.block_height) {
        for (std::uint32_t left = 0; left < s.width; left += bw, ++index) {
            std::fill(block.begin(), block.end(), 0);
            const std::uint32_t rows =
                s.tiled ? s.block_height : std::min(s.block_height, s.height - top);
            for (std::uint32_t r = 0; r < rows && top + r < s.height; ++r) {
                for (std::uint32_t c = 0; c < bw && left + c < s.width; ++c) {
                    const std::uint32_t row = first_row + top + r;
                    const double v = isVoidCell(s, row, left + c) ? std::stod(s.no_data)
                                                                  : cell(s.type, row, left + c);
                    put(s.type, v, block.data() + (std::size_t{r} * bw + c) * bytes);
                }
            }
            const auto size = static_cast<tmsize_t>(std::size_t{rows} * bw * bytes);
            const tmsize_t written = s.tiled
                                         ? TIFFWriteEncodedTile(tif, index, block.data(), size)
                                         : TIFFWriteEncodedStrip(tif, index, block.data(), size);
            if (written != size) return "cannot write block " + std::to_string(index);
        }
    }
    return "";
}

std::string writeTiff(const std::string& path, const TiffShape& s) {
    TIFF* tif = TIFFOpen(path.c_str(), s.big_endian ? "wb" : "wl");
    if (tif == nullptr) return "cannot create " + path;
    TIFFMergeFieldInfo(tif, kGeoFields, std::size(kGeoFields));
    std::string problem = writeImage(tif, s, {}, 0);
    std::uint32_t level = 0;
    for (const TiffShape::Image& image : s.images) {
        if (!problem.empty()) break;
        if (image.subfile == 1) ++level;
        if (TIFFWriteDirectory(tif) != 1) problem = "cannot write an image";
        if (problem.empty()) problem = writeImage(tif, s, image, 100 * level);
    }
    TIFFClose(tif);
    return problem;
}

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every row of the window against the cells written: the same value, NaN where void.
void expectWindow(const TiffShape& s, GeoTiffRows& rows, const RasterWindow& w) {
    for (std::int32_t r = 0; r < w.rows; ++r) {
        const Result<std::span<const double>> row = rows.next();
        ASSERT_TRUE(row) << row.message();
        ASSERT_EQ(row->size(), static_cast<std::size_t>(w.columns));
        for (std::int32_t c = 0; c < w.columns; ++c) {
            const auto fr = static_cast<std::uint32_t>(100 * w.level + w.first_row + r);
            const auto fc = static_cast<std::uint32_t>(w.first_column + c);
            if (isVoidCell(s, fr, fc)) {
                ASSERT_TRUE(std::isnan((*row)[c])) << "row " << fr << " column " << fc;
            } else {
                ASSERT_EQ((*row)[c], cell(s.type, fr, fc)) << "row " << fr << " column " << fc;
            }
        }
    }
    const Result<std::span<const double>> after = rows.next();
    ASSERT_TRUE(after);
    EXPECT_TRUE(after->empty());
}

// Every sample type, striped and tiled, uncompressed, DEFLATE and LZW with each predictor that
// applies, in both byte orders, DEFLATE inflated both by libdeflate and by libtiff: read back
// exactly, each block once.
TEST(GeoTiffReader, ReadsBackEveryLayout) {
    testsupport::TempDir tmp;
    int files = 0;
    for (const SampleType type : {SampleType::Int16, SampleType::UInt16, SampleType::Int32,
                                  SampleType::Float32, SampleType::Float64}) {
        const bool floating = type == SampleType::Float32 || type == SampleType::Float64;
        for (const bool tiled : {false, true}) {
            for (const std::uint16_t compression :
                 {COMPRESSION_NONE, COMPRESSION_ADOBE_DEFLATE, COMPRESSION_LZW}) {
                for (std::uint16_t predictor = 1; predictor <= (floating ? 3 : 2); ++predictor) {
                    if (compression == COMPRESSION_NONE && predictor > 1) continue;
                    TiffShape s;
                    s.type = type, s.tiled = tiled, s.compression = compression;
                    s.predictor = predictor;
                    // libtiff 4.5 writes the floating-point predictor wrongly in big-endian
                    // files (GDAL reads them as libtiff does): those only little-endian.
                    s.big_endian = files % 2 == 1 && predictor != 3;
                    s.block_height = tiled ? 16 : 5;
                    s.no_data = noDataOf(type);
                    std::ostringstream name;
                    name << sampleTypeName(type) << (tiled ? " tiled" : " striped")
                         << " compression " << compression << " predictor " << predictor
                         << (s.big_endian ? " big-endian" : "");
                    SCOPED_TRACE(name.str());
                    // Not "f" + to_string(): GCC 12 warns wrongly (-Wrestrict).
                    const std::string path = tmp / (std::to_string(files++) + ".tif");
                    ASSERT_EQ(writeTiff(path, s), "");
                    for (const InflateBy by : {InflateBy::Libdeflate, InflateBy::Libtiff}) {
                        const RasterWindow whole{0, 0, 29, 37};
                        Result<GeoTiffRows> rows =
                            GeoTiffRows::open(GeoTiffSource::file(path), whole, by);
                        ASSERT_TRUE(rows) << rows.message();
                        EXPECT_EQ(rows->info().sample_type, type);
                        EXPECT_EQ(rows->info().tiled, tiled);
                        EXPECT_EQ(rows->info().predictor, predictor);
                        expectWindow(s, *rows, whole);
                        EXPECT_EQ(rows->blocksRead(), tiled ? 3 * 2 : 6);
                    }
                }
            }
        }
    }
    EXPECT_EQ(files, 2 * (3 * 5 + 2 * 7));
}

// A window reads only the blocks it touches: rows 20-39 and columns 33-50 of 16-cell tiles are
// tile rows 1-2 and columns 2-3; of 5-row strips, strips 4-7. Far fewer bytes than the file.
TEST(GeoTiffReader, WindowReadsOnlyItsBlocks) {
    testsupport::TempDir tmp;
    for (const bool tiled : {true, false}) {
        SCOPED_TRACE(tiled ? "tiled" : "striped");
        TiffShape s;
        s.width = s.height = 200;
        s.tiled = tiled, s.block_height = tiled ? 16 : 5;
        s.compression = COMPRESSION_ADOBE_DEFLATE, s.predictor = 3;
        const std::string path = tmp / (tiled ? "t.tif" : "s.tif");
        ASSERT_EQ(writeTiff(path, s), "");
        const RasterWindow window{20, 33, 20, 18};
        Result<GeoTiffRows> rows = GeoTiffRows::open(GeoTiffSource::file(path), window);
        ASSERT_TRUE(rows) << rows.message();
        expectWindow(s, *rows, window);
        EXPECT_EQ(rows->blocksRead(), 4);
        EXPECT_LT(rows->bytesRead(), contents(path).size() / 5);
    }
}

// Overviews, a mask between them passed over: each listed, each read at its own size and place,
// a window of one reading only its blocks; and overviews that are none refused in one line.
TEST(GeoTiffReader, OverviewsListedReadAndChecked) {
    testsupport::TempDir tmp;
    TiffShape s;
    s.width = s.height = 200;
    s.tiled = true, s.block_height = 16;
    s.compression = COMPRESSION_ADOBE_DEFLATE, s.predictor = 3;
    s.images = {{1, 100, 100, {}}, {4, 100, 100, {}}, {1, 50, 50, {}}};
    const std::string path = tmp / "o.tif";
    ASSERT_EQ(writeTiff(path, s), "");
    const Result<GeoTiffInfo> full = readGeoTiffInfo(GeoTiffSource::file(path));
    ASSERT_TRUE(full) << full.message();
    ASSERT_EQ(full->levels.size(), 3u);
    EXPECT_EQ(full->levels[1].width, 100);
    EXPECT_EQ(full->levels[2].height, 50);
    const Result<GeoTiffInfo> coarsest = readGeoTiffInfo(GeoTiffSource::file(path), 2);
    ASSERT_TRUE(coarsest) << coarsest.message();
    EXPECT_EQ(coarsest->width, 50);
    EXPECT_EQ(coarsest->level, 2);
    const GeoTransform g = *coarsest->geotransform;
    EXPECT_EQ(g, (GeoTransform{500000, 120, 0, 5200000, 0, -120}));
    for (const std::int32_t level : {1, 2}) {
        SCOPED_TRACE(level);
        const RasterWindow window{10, 5, 20, 30, level};
        Result<GeoTiffRows> rows = GeoTiffRows::open(GeoTiffSource::file(path), window);
        ASSERT_TRUE(rows) << rows.message();
        expectWindow(s, *rows, window);
        EXPECT_EQ(rows->blocksRead(), 6);  // tile rows 0-1, columns 0-2
    }
    const Result<GeoTiffInfo> beyond = readGeoTiffInfo(GeoTiffSource::file(path), 3);
    ASSERT_FALSE(beyond);
    EXPECT_EQ(beyond.message(), "no overview 3: the file has 2");

    using Image = TiffShape::Image;
    const struct {
        const char* what;
        std::vector<Image> images;
        const char* refusal;
    } hostile[] = {
        {"not half", {{1, 150, 100, {}}}, "its overview 1 is 150 x 100 cells, not about half"},
        {"larger", {{1, 100, 100, {}}, {1, 400, 400, {}}}, "its overview 2 is 400 x 400 cells"},
        {"another type", {{1, 100, 100, SampleType::Float64}}, "its overview 1 differs"},
        {"a side of none", {{1, 100, 0, {}}}, "its overview 1: "},
    };
    for (const auto& c : hostile) {
        SCOPED_TRACE(c.what);
        s.images = c.images;
        ASSERT_EQ(writeTiff(path, s), "");
        const Result<GeoTiffInfo> info = readGeoTiffInfo(GeoTiffSource::file(path));
        ASSERT_FALSE(info);
        EXPECT_NE(info.message().find(c.refusal), std::string::npos) << info.message();
        EXPECT_EQ(info.message().find('\n'), std::string::npos) << info.message();
    }
}

// What the tags say: the NoData value, the system, where the cells lie (a PixelIsPoint tie point
// is a cell's centre), feet; and the files marlwood cannot place.
TEST(GeoTiffReader, InfoFromTheTags) {
    testsupport::TempDir tmp;
    const std::vector<std::uint16_t> nad83 = {1,    1, 0, 3, 1024, 0, 1, 2,
                                              1025, 0, 1, 1, 2048, 0, 1, 4269};
    std::vector<std::uint16_t> point_in_feet = {1, 1, 0,    4, 1024, 0,     1,    1, 1025, 0,
                                                1, 2, 3072, 0, 1,    26715, 4099, 0, 1,    9003};
    const std::vector<double> degree = {0.000092592592593, 0.000092592592593, 0};
    const struct {
        const char* what;
        std::vector<std::uint16_t> keys;
        std::vector<double> scale;
        int epsg;
        GeoTransform gt;
        LengthUnit vertical;
        const char* refusal;  // of checkPlaceable
    } cases[] = {
        {"3DEP",
         nad83,
         degree,
         4269,
         {500000, degree[0], 0, 5200000, 0, -degree[0]},
         LengthUnit::NotGiven,
         nullptr},
        {"point, feet",
         point_in_feet,
         {30, 30, 0},
         26715,
         {499985, 30, 0, 5200015, 0, -30},
         LengthUnit::FootUS,
         nullptr},
        {"user-defined",
         {1, 1, 0, 2, 1024, 0, 1, 1, 3072, 0, 1, 32767},
         {30, 30, 0},
         0,
         {},
         LengthUnit::NotGiven,
         "x.tif has no coordinate system marlwood can place"},
        {"no keys",
         {},
         {},
         0,
         {},
         LengthUnit::NotGiven,
         "x.tif has no coordinate system marlwood can place"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TiffShape s;
        s.geo_keys = c.keys, s.scale = c.scale, s.no_data = "-999999";
        const std::string path = tmp / "i.tif";
        ASSERT_EQ(writeTiff(path, s), "");
        const Result<GeoTiffInfo> info = readGeoTiffInfo(GeoTiffSource::file(path));
        ASSERT_TRUE(info) << info.message();
        EXPECT_EQ(info->no_data, -999999.0);
        EXPECT_EQ(info->crs.epsg, c.epsg);
        EXPECT_EQ(info->vertical_unit, c.vertical);
        const Status placeable = checkPlaceable(*info, "x.tif");
        if (c.refusal != nullptr) {
            ASSERT_FALSE(placeable);
            EXPECT_NE(placeable.message().find(c.refusal), std::string::npos)
                << placeable.message();
            continue;
        }
        ASSERT_TRUE(placeable) << placeable.message();
        ASSERT_TRUE(info->geotransform.has_value());
        for (int i = 0; i < 6; ++i) EXPECT_DOUBLE_EQ((*info->geotransform)[i], c.gt[i]) << i;
    }
}

// The file's first IFD entry for `tag` (a little-endian TIFF): where its value is.
std::size_t entryValue(const std::string& bytes, std::uint16_t tag) {
    const auto u16 = [&](std::size_t at) {
        return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[at]) |
                                          static_cast<std::uint8_t>(bytes[at + 1]) << 8);
    };
    std::uint32_t ifd = 0;
    std::memcpy(&ifd, bytes.data() + 4, 4);
    for (std::size_t e = 0, n = u16(ifd); e < n; ++e) {
        const std::size_t at = ifd + 2 + 12 * e;
        if (u16(at) == tag) return at + 8;
    }
    return 0;
}

// Damaged files: each refused with one line, never a crash or a huge allocation.
TEST(GeoTiffReader, HostileFilesRefused) {
    testsupport::TempDir tmp;
    TiffShape s;  // one strip, one tile: their offsets and counts lie in their entries
    s.block_height = 29, s.compression = COMPRESSION_ADOBE_DEFLATE, s.predictor = 3;
    ASSERT_EQ(writeTiff(tmp / "s.tif", s), "");
    const std::string strip = contents(tmp / "s.tif");
    s.tiled = true, s.block_width = 48, s.block_height = 32;
    ASSERT_EQ(writeTiff(tmp / "t.tif", s), "");
    const std::string tile = contents(tmp / "t.tif");
    // The entry made one LONG (libtiff writes what fits as SHORT).
    const auto patched = [](std::string bytes, std::uint16_t tag, std::uint32_t value) {
        const std::size_t at = entryValue(bytes, tag);
        const std::uint16_t type_long = 4;
        const std::uint32_t one = 1;
        std::memcpy(bytes.data() + at - 6, &type_long, 2);
        std::memcpy(bytes.data() + at - 4, &one, 4);
        std::memcpy(bytes.data() + at, &value, 4);
        return bytes;
    };
    const std::uint32_t count = [&] {
        const std::size_t at = entryValue(strip, TIFFTAG_STRIPBYTECOUNTS);
        std::uint16_t type = 0;
        std::uint32_t v = 0;
        std::memcpy(&type, strip.data() + at - 6, 2);
        std::memcpy(&v, strip.data() + at, type == TIFF_SHORT ? 2 : 4);
        return v;
    }();
    const std::uint32_t keys_at = [&] {
        std::uint32_t v = 0;
        std::memcpy(&v, strip.data() + entryValue(strip, 34735), 4);
        return v;
    }();
    std::string lying_keys = strip;
    lying_keys[keys_at + 6] = 0x30;  // the key count's low byte: 48 keys
    const struct {
        const char* what;
        std::string bytes;
        const char* refusal;  // nullptr: any one line
    } cases[] = {
        {"offset beyond", patched(strip, TIFFTAG_STRIPOFFSETS, 1u << 30), "beyond the end"},
        {"count beyond", patched(strip, TIFFTAG_STRIPBYTECOUNTS, 1u << 30), "beyond the end"},
        {"truncated block", patched(strip, TIFFTAG_STRIPBYTECOUNTS, count / 2), "cut short"},
        {"tile offset beyond", patched(tile, TIFFTAG_TILEOFFSETS, 0xFFFFFFF0u), "beyond the end"},
        {"huge width", patched(strip, TIFFTAG_IMAGEWIDTH, 0x7FFFFFFF), "strips of 2147483647 x 29"},
        {"width past 2^31", patched(strip, TIFFTAG_IMAGEWIDTH, 0x80000000u), "an image of"},
        {"huge tiles",
         patched(patched(tile, TIFFTAG_TILEWIDTH, 1u << 20), TIFFTAG_TILELENGTH, 1u << 20),
         "tiles of 1048576 x 1048576"},
        {"many strips",
         patched(patched(strip, TIFFTAG_IMAGELENGTH, 0x7FFFFFFF), TIFFTAG_ROWSPERSTRIP, 1),
         "2147483647 blocks in a file"},
        {"lying GeoKey count", lying_keys, "GeoKey directory lists"},
        {"8-bit samples", patched(strip, TIFFTAG_BITSPERSAMPLE, 8), "8-bit floating"},
        {"cut file", strip.substr(0, strip.size() / 2), nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto source =
            GeoTiffSource::memory("x.tif", std::make_shared<const std::string>(c.bytes));
        std::string message;
        Result<GeoTiffRows> rows = GeoTiffRows::open(source, {0, 0, 29, 37});
        if (!rows) {
            message = rows.message();
        } else {
            for (;;) {
                const Result<std::span<const double>> row = rows->next();
                if (!row) {
                    message = row.message();
                    break;
                }
                ASSERT_FALSE(row->empty()) << "read whole";
            }
        }
        EXPECT_FALSE(message.empty());
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
        if (c.refusal != nullptr) {
            EXPECT_NE(message.find(c.refusal), std::string::npos) << message;
        }
    }
}

}  // namespace
}  // namespace marlwood
