// fuzz_seeds <conversion dir> <decode-row dir> <archive dir> <iso8211 dir> <usgsdem dir>
// <options dir> <geotiff dir>: writes the seed corpora, one file per seed, from the test-transfer
// writer, the native DEM writer, command lines, the real transfers in tests/data/usgs/ and small
// GeoTIFFs written by marlwood's writer and by libtiff.
#include <tiffio.h>

#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archive_maker.h"
#include "files.h"
#include "fuzz_input.h"
#include "native_dem_writer.h"
#include "quad_terrain.h"
#include "sdts_writer.h"
#include "tiff/geotiff_writer.h"

namespace fs = std::filesystem;
namespace ts = marlwood::testsupport;

namespace {

struct Seed {
    std::string name;
    char value_type;
    int columns;
    ts::ModuleSet modules;  // by lower-case suffix, as the writer gives them
};

std::string decodeSeed(const Seed& seed) {
    std::string bytes;
    bytes += seed.value_type == 'I' ? '\0' : '\1';  // selector % 3: 0 is BI16, 1 is BFP32
    bytes += static_cast<char>((seed.columns >> 8) & 0xFF);
    bytes += static_cast<char>(seed.columns & 0xFF);
    bytes += static_cast<char>(seed.name.size());  // some lead, different for each seed
    return bytes + seed.modules.at("cel0.ddf");
}

// Every field the georeference and a merge read, in one module: the fuzz target reads the same
// bytes as each of its modules, so only such a module takes it on to placing and merging the
// grid. DULUTH's values.
std::string georeferenceInOneModule() {
    const auto described = [](const char* tag, const char* labels, const char* format) {
        return ts::Field{tag, ts::fieldDescription("1600;&", tag, labels, format)};
    };
    const std::string ddr = ts::descriptiveRecord({
        {"0000", ts::fieldDescription("0000;&", "GEOREFERENCE", "", "")},
        {"0001", ts::fieldDescription("0100;&", "DDF RECORD IDENTIFER", "", "")},
        described("IREF", "MODN!RCID!SFAX!SFAY!XORG!YORG!XHRS!YHRS", "(A,I,6R)"),
        described("LDEF", "MODN!RCID!NROW!NCOL!INTR", "(A,I,2I,A)"),
        described("RSDF", "MODN!RCID!SCOR", "(A,I,A)"),
        described("SADR", "X!Y", "(2R)"),
        described("XREF", "MODN!RCID!RSNM!HDAT!ZONE", "(A,I,3A)"),
        described("DDSH", "MODN!RCID!FMT!UNIT", "(A,I,2A)"),
        described("DDOM", "MODN!RCID!RAVA!DVDF!DVAL", "(A,I,2A,I)"),
    });
    return ddr +
           ts::dataRecord(
               'D',
               {{"0001", std::string("0000001") + ts::kFieldTerminator},
                {"IREF", ts::unitField({"IREF", "1", "1.0", "1.0", "0.0", "0.0", "30.0", "30.0"})},
                {"LDEF", ts::unitField({"LDEF", "1", "467", "323", "CE"})},
                {"RSDF", ts::unitField({"RSDF", "1", "TL"})},
                {"SADR", ts::unitField({"566700.0", "5191530.0"})},
                {"XREF", ts::unitField({"XREF", "1", "UTM", "NAS", "15"})},
                {"DDSH", ts::unitField({"DDSH", "1", "BI16", "FEET"})},
                {"DDOM", ts::unitField({"DDOM", "1", "VALUE", "Void area", "-32767"})}});
}

// A small GeoTIFF of 16-bit or 64-bit samples as libtiff writes it, in the layouts marlwood's own
// writer does not use: tiled, LZW, big-endian, a PixelIsPoint tie point, a NoData value.
bool writeGeoTiffSeed(const fs::path& path, int bits, bool tiled, std::uint16_t compression,
                      std::uint16_t predictor, bool big_endian) {
    static const TIFFFieldInfo fields[] = {
        {33550, -1, -1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char*>("ModelPixelScale")},
        {33922, -1, -1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char*>("ModelTiepoint")},
        {34735, -1, -1, TIFF_SHORT, FIELD_CUSTOM, 1, 1, const_cast<char*>("GeoKeyDirectory")},
        {42113, -1, -1, TIFF_ASCII, FIELD_CUSTOM, 1, 0, const_cast<char*>("GDALNoDataValue")},
    };
    constexpr std::uint32_t kWidth = 40, kHeight = 35, kBlock = 16;
    TIFF* tif = TIFFOpen(path.c_str(), big_endian ? "wb" : "wl");
    if (tif == nullptr) return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, bits == 64 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_INT);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    if (compression != COMPRESSION_NONE) TIFFSetField(tif, TIFFTAG_PREDICTOR, predictor);
    if (tiled) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, kBlock);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, kBlock);
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 4);
    }
    TIFFMergeFieldInfo(tif, fields, 4);
    TIFFSetField(tif, 42113, "-32768");
    std::uint16_t keys[] = {1, 1, 0,    4, 1024, 0,    1,    2, 1025, 0,
                            1, 2, 2048, 0, 1,    4269, 4099, 0, 1,    9002};
    double tie[] = {0, 0, 0, -93, 47, 0}, scale[] = {1.0 / 3600, 1.0 / 3600, 0};
    TIFFSetField(tif, 34735, 20, keys);
    TIFFSetField(tif, 33922, 6, tie);
    TIFFSetField(tif, 33550, 3, scale);
    const std::uint32_t block_width = tiled ? kBlock : kWidth, block_rows = tiled ? kBlock : 4;
    const std::size_t bytes = static_cast<std::size_t>(bits / 8);
    std::vector<std::uint8_t> block(block_width * block_rows * bytes);
    const std::uint32_t blocks =
        tiled ? 9 : (kHeight + block_rows - 1) / block_rows;  // 3 x 3 tiles, or the strips
    bool ok = true;
    for (std::uint32_t b = 0; b < blocks; ++b) {
        for (std::size_t i = 0; i < block_width * block_rows; ++i) {
            const double v = (i * 37 + b * 101) % 3000 - 200.0;
            if (bits == 64)
                std::memcpy(&block[i * 8], &v, 8);
            else {
                const auto h = static_cast<std::int16_t>(i % 53 == 0 ? -32768 : v);
                std::memcpy(&block[i * 2], &h, 2);
            }
        }
        const std::uint32_t rows = tiled ? kBlock : std::min(block_rows, kHeight - b * block_rows);
        const auto size = static_cast<tmsize_t>(block_width * rows * bytes);
        ok = ok && (tiled ? TIFFWriteEncodedTile(tif, b, block.data(), size)
                          : TIFFWriteEncodedStrip(tif, b, block.data(), size)) == size;
    }
    TIFFClose(tif);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 8) {
        std::fprintf(stderr,
                     "usage: fuzz_seeds <conversion dir> <decode-row dir> <archive dir> "
                     "<iso8211 dir> <usgsdem dir> <options dir> <geotiff dir>\n");
        return 2;
    }
    const fs::path conversion_dir = argv[1];
    const fs::path decode_dir = argv[2];
    const fs::path archive_dir = argv[3];
    const fs::path iso8211_dir = argv[4];
    const fs::path usgsdem_dir = argv[5];
    const fs::path options_dir = argv[6];
    const fs::path geotiff_dir = argv[7];
    for (const fs::path& dir : {conversion_dir, decode_dir, archive_dir, iso8211_dir, usgsdem_dir,
                                options_dir, geotiff_dir}) {
        fs::create_directories(dir);
    }
    // Command lines, one argument a line, the last line a grid's rows, columns and posting.
    const char* command_lines[] = {
        "-o\nduluth.tif\n7172\n467 323 30",
        "--centre\n46.8,-92.06\n--extent\n5\n--size\n1025\n-o\nlake.ter\n7172\n467 323 30",
        "--bbox\n-92.1,46.76,-92.05,46.8\n--size\n7472\n7172\n467 323 30",
        "--merge\n--zone\n16\n--bbox=-180,-90,180,90\n-o\na.tif\nw\ne\n1391 1087 10",
        "--size=65535\n--fill-voids\n--true-scale\n7172\n1 1 30",
        "--centre\n0,0\n--extent\n10000\n-fq\n7172\n65535 65535 0.1",
    };
    int lines = 0;
    for (const char* line : command_lines) {
        ts::writeFile(options_dir / ("command-line-" + std::to_string(lines++)), line);
    }

    std::vector<Seed> seeds;
    const struct {
        const char* name;
        int rows, columns;
        ts::CellFormat format;
        ts::Cel0Layout layout;
        int spacing_m;
    } synthetic[] = {
        {"bi16-d-30m", 6, 5, ts::CellFormat::Bi16, ts::Cel0Layout::AllD, 30},
        {"bi16-r-10m", 5, 7, ts::CellFormat::Bi16, ts::Cel0Layout::RThenLeaderless, 10},
        {"bfp32-r-10m", 7, 6, ts::CellFormat::Bfp32, ts::Cel0Layout::RThenLeaderless, 10},
        {"bfp32-d-30m", 4, 4, ts::CellFormat::Bfp32, ts::Cel0Layout::AllD, 30},
        {"bi16-1x1", 1, 1, ts::CellFormat::Bi16, ts::Cel0Layout::RThenLeaderless, 30},
    };
    for (const auto& s : synthetic) {
        seeds.push_back({s.name, s.format == ts::CellFormat::Bi16 ? 'I' : 'F', s.columns,
                         ts::buildModules(ts::makeQuad(s.rows, s.columns, s.format, s.spacing_m,
                                                       "7018", s.layout))});
    }

    // The fuzzers take inputs of at most 64 KiB and grids of at most 65536 cells, so the real
    // transfer goes in as its first rows: once with LDEF saying so (a whole conversion), once with
    // LDEF promising more rows than CEL0 holds (a short module). Its CEL0: descriptive record 188
    // bytes, the 'R' record 727, then 675 for each further row.
    const fs::path duluth = fs::path(MARLWOOD_TEST_DATA_DIR) / "usgs/7172-duluth-mn";
    if (!fs::is_directory(duluth)) {
        std::fprintf(stderr, "fuzz_seeds: the DULUTH transfer is missing: %s\n", duluth.c_str());
        return 1;
    }
    Seed real{"duluth-60-rows", 'I', 323, {}};
    for (const auto suffix : marlwood::fuzz::kModuleSuffixes) {
        const std::string name(suffix);
        real.modules[name] = ts::readFile(duluth / ("7172" + name));
    }
    std::string& ldef = real.modules["ldef.ddf"];
    std::string& cel0 = real.modules["cel0.ddf"];
    constexpr std::size_t kRowCount = 267;
    if (ldef.size() < kRowCount + 4 || ldef.compare(kRowCount, 4, "467\x1f") != 0 ||
        cel0.size() != 188 + 727 + 466 * 675) {
        std::fprintf(stderr, "fuzz_seeds: %s is not the transfer expected\n", duluth.c_str());
        return 1;
    }
    ldef.replace(kRowCount, 3, "060");
    cel0.resize(188 + 727 + 59 * 675);
    seeds.push_back(real);
    real.name = "duluth-short";
    ldef.replace(kRowCount, 3, "080");
    cel0.resize(188 + 727 + 19 * 675);
    seeds.push_back(real);

    int n = 0;
    for (const Seed& seed : seeds) {
        std::array<std::string, marlwood::fuzz::kPieceCount> pieces;
        // Mostly a good answer, so the whole conversion runs; one negative, one refused.
        pieces[0] = n == 1 ? "-5" : n == 2 ? "x 40" : "30";
        ++n;
        for (std::size_t i = 0; i < marlwood::fuzz::kModuleSuffixes.size(); ++i) {
            pieces[i + 1] = seed.modules.at(std::string(marlwood::fuzz::kModuleSuffixes[i]));
        }
        ts::writeFile(conversion_dir / seed.name, marlwood::fuzz::joinInput(pieces));
        ts::writeFile(decode_dir / seed.name, decodeSeed(seed));
    }
    // Archives of the small synthetic transfers (the real one is larger than an input may be):
    // plain tar, so mutations meet tar headers directly, and gzipped, with names in either case,
    // in a folder, and with gzipped members.
    int archives = 0;
    for (const Seed& seed : seeds) {
        if (seed.name.starts_with("duluth")) continue;
        std::vector<ts::TarMember> plain, upper, gzipped;
        for (const auto& [suffix, bytes] : seed.modules) {
            std::string upper_suffix = suffix;
            for (char& c : upper_suffix) c = static_cast<char>(std::toupper(c));
            plain.push_back({"7018" + suffix, bytes});
            upper.push_back({"1107834/7018" + upper_suffix, bytes});
            gzipped.push_back({"7018" + upper_suffix + ".GZ", ts::gzip(bytes)});
        }
        const std::string pick[] = {ts::tarArchive(plain), ts::gzip(ts::tarArchive(upper)),
                                    ts::tarArchive(gzipped)};
        ts::writeFile(archive_dir / (seed.name + ".tar"), pick[archives % 3]);
        ++archives;
    }
    // Single modules for the ISO 8211 reader: the georeference modules and a few others of both
    // real transfers, DULUTH's CEL0 to the end of its fifth row, and the synthetic modules.
    int modules = 0;
    const fs::path usgs = fs::path(MARLWOOD_TEST_DATA_DIR) / "usgs";
    for (const char* file :
         {"7172-duluth-mn/7172iref.ddf", "7172-duluth-mn/7172rsdf.ddf",
          "7172-duluth-mn/7172xref.ddf", "7172-duluth-mn/7172ddsh.ddf",
          "7172-duluth-mn/7172ddom.ddf", "7172-duluth-mn/7172ldef.ddf",
          "7172-duluth-mn/7172catd.ddf", "7172-duluth-mn/7172iden.ddf",
          "3814-black-forest-co/3814ddom.ddf", "3814-black-forest-co/3814stat.ddf"}) {
        const std::string bytes = ts::readFile(usgs / file);
        if (bytes.empty()) {
            std::fprintf(stderr, "fuzz_seeds: %s is missing\n", file);
            return 1;
        }
        ts::writeFile(iso8211_dir / fs::path(file).filename(), bytes);
        ++modules;
    }
    ts::writeFile(iso8211_dir / "georeference.ddf", georeferenceInOneModule());
    ++modules;
    ts::writeFile(iso8211_dir / "7172cel0-5-rows.ddf",
                  ts::readFile(duluth / "7172cel0.ddf").substr(0, 188 + 727 + 4 * 675));
    ++modules;
    for (const Seed& seed : seeds) {
        if (seed.name.starts_with("duluth")) continue;
        for (const char* suffix : {"iref.ddf", "rsdf.ddf", "xref.ddf", "ddom.ddf", "cel0.ddf"}) {
            ts::writeFile(iso8211_dir / (seed.name + "-" + suffix), seed.modules.at(suffix));
            ++modules;
        }
    }
    // Native DEMs from their writer: quads whose profiles start at different northings, with
    // and without line ends, profiles past their first record, a datum and a finer z.
    const struct {
        const char* name;
        std::vector<int> start_rows, lengths;
        const char* line_end;
        double dz, datum;
    } dems[] = {
        {"quad-3", {0, 1, 2}, {3, 4, 3}, "", 1, 0},
        {"quad-lf", {2, 0, 1, 3}, {5, 8, 6, 2}, "\n", 1, 0},
        {"quad-crlf", {0, 0}, {150, 320}, "\r\n", 0.1, 0},
        {"datum", {1, 0, 0, 2, 1}, {10, 12, 12, 9, 11}, "", 1, 250},
    };
    int native = 0;
    for (const auto& d : dems) {
        ts::DemContents model = ts::quadShapedDem(d.start_rows, d.lengths, 600);
        model.line_end = d.line_end;
        model.dz = d.dz;
        for (auto& profile : model.profiles) {
            profile.datum = d.datum;
            profile.values.back() = -32767;
        }
        ts::writeFile(usgsdem_dir / (std::string(d.name) + ".dem"), ts::nativeDem(model));
        ++native;
    }
    // GeoTIFFs: one as marlwood writes them (Float32 strips, DEFLATE with the floating-point
    // predictor, a UTM system), and libtiff's in the other layouts.
    const marlwood::Status written = marlwood::writeGeoTiff(
        (geotiff_dir / "marlwood.tif").string(), 40, 33, {26915, {566685, 30, 0, 5191545, 0, -30}},
        [](std::int32_t row, std::span<float> metres) {
            for (std::size_t c = 0; c < metres.size(); ++c)
                metres[c] = c == 5 ? marlwood::kGeoTiffNoData : 180.0f + row * 0.5f + c * 0.25f;
        });
    const bool seeded =
        written &&
        writeGeoTiffSeed(geotiff_dir / "int16-tiled-lzw-be.tif", 16, true, COMPRESSION_LZW, 2,
                         true) &&
        writeGeoTiffSeed(geotiff_dir / "int16-strips-deflate.tif", 16, false,
                         COMPRESSION_ADOBE_DEFLATE, 2, false) &&
        writeGeoTiffSeed(geotiff_dir / "float64-tiled.tif", 64, true, COMPRESSION_NONE, 1, false) &&
        writeGeoTiffSeed(geotiff_dir / "float64-deflate-fp.tif", 64, true,
                         COMPRESSION_ADOBE_DEFLATE, 3, false);
    if (!seeded) {
        std::fprintf(stderr, "fuzz_seeds: cannot write the GeoTIFF seeds in %s\n",
                     geotiff_dir.c_str());
        return 1;
    }
    std::printf(
        "fuzz_seeds: %zu seeds each in %s and %s, %d in %s, %d in %s, %d in %s, %d in %s, 5 in "
        "%s\n",
        seeds.size(), conversion_dir.c_str(), decode_dir.c_str(), archives, archive_dir.c_str(),
        modules, iso8211_dir.c_str(), native, usgsdem_dir.c_str(), lines, options_dir.c_str(),
        geotiff_dir.c_str());
    return 0;
}
