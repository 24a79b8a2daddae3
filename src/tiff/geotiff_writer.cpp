#include "tiff/geotiff_writer.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>
#include <ostream>
#include <streambuf>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/whole_file.h"
#include "tiff/deflate_library.h"
#include "tiff/float_predictor.h"
#include "tiff/geo_keys.h"
#include "tiff/tiff_library.h"

namespace marlwood {

namespace {

using tiff_detail::Deflater;
using tiff_detail::TiffLibrary;

// Strips of 16 rows: no cell beyond the grid is predicted or compressed (256-cell tiles padded a
// full 10 m quad by 30%), and a strip of such a quad is 89 kB, well past DEFLATE's 32 kB window.
constexpr std::uint32_t kStripRows = 16;
// DEFLATE at level 1, libdeflate's fastest algorithm (faster than its levels 2 to 9): on a
// full-size 10 m quad the file is a few % larger than GDAL's level 6 for far less time.
constexpr int kDeflateLevel = 1;
// Tags libtiff writes but does not know: the GeoTIFF tags that place the grid, and GDAL's tag
// that keeps a band's NoData value as text.
constexpr ttag_t kModelPixelScaleTag = 33550;
constexpr ttag_t kModelTiepointTag = 33922;
constexpr ttag_t kGeoKeyDirectoryTag = 34735;
constexpr ttag_t kGdalNoDataTag = 42113;
const TIFFFieldInfo kExtraFields[] = {
    {kModelPixelScaleTag, TIFF_VARIABLE, TIFF_VARIABLE, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1,
     const_cast<char*>("ModelPixelScaleTag")},
    {kModelTiepointTag, TIFF_VARIABLE, TIFF_VARIABLE, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1,
     const_cast<char*>("ModelTiepointTag")},
    {kGeoKeyDirectoryTag, TIFF_VARIABLE, TIFF_VARIABLE, TIFF_SHORT, FIELD_CUSTOM, 1, 1,
     const_cast<char*>("GeoKeyDirectoryTag")},
    {kGdalNoDataTag, TIFF_VARIABLE, TIFF_VARIABLE, TIFF_ASCII, FIELD_CUSTOM, 1, 0,
     const_cast<char*>("GDALNoDataValue")},
};
constexpr char kNoDataText[] = "-32767";
static_assert(kGeoTiffNoData == -32767.0f);
// A TIFF (not BigTIFF) addresses 4 GiB; a grid whose cells come near that (deflate may not shrink
// them) is written as BigTIFF, which GDAL reads but some other readers do not.
constexpr std::uint64_t kTiffCellBytes = (std::uint64_t{1} << 32) - (std::uint64_t{1} << 28);
constexpr unsigned kGeoKeyMax = 0xFFFF;  // GeoKeys hold 16-bit values

// libtiff's words about one file: the first error becomes the Error's line;
// warnings are dropped, as standard error gets one line per problem and the file is still right.
struct Messages {
    Status first_error;

    void add(const char* format, std::va_list args) {
        if (!first_error) return;
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        for (char* c = text; *c != '\0'; ++c) {
            if (static_cast<unsigned char>(*c) < 0x20) *c = ' ';
        }
        first_error = failure(text);
    }
};

int onTiffError(TIFF*, void* messages, const char*, const char* format, std::va_list args) {
    static_cast<Messages*>(messages)->add(format, args);
    return 1;  // handled: libtiff's own handler would print it
}
int onTiffWarning(TIFF*, void*, const char*, const char*, std::va_list) {
    return 1;
}

// libtiff writes through the temporary file's stream: it seeks back to link the directory, and
// never reads or maps a file it writes.
std::ostream& streamOf(thandle_t handle) {
    return *static_cast<std::ostream*>(handle);
}
tmsize_t readNothing(thandle_t, void*, tmsize_t) {
    return 0;
}
tmsize_t writeBytes(thandle_t handle, void* data, tmsize_t size) {
    std::ostream& out = streamOf(handle);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    return out ? size : -1;
}
toff_t seekTo(thandle_t handle, toff_t offset, int whence) {
    std::ostream& out = streamOf(handle);
    const std::ios::seekdir from = whence == SEEK_END   ? std::ios::end
                                   : whence == SEEK_CUR ? std::ios::cur
                                                        : std::ios::beg;
    out.seekp(static_cast<std::streamoff>(offset), from);
    const std::streampos at = out.tellp();
    return out && at != std::streampos(-1) ? static_cast<toff_t>(at) : static_cast<toff_t>(-1);
}
int closeNothing(thandle_t) {
    return 0;  // the stream is writeWholeFile's to close
}
toff_t sizeOf(thandle_t handle) {
    std::ostream& out = streamOf(handle);
    const std::streampos here = out.tellp();
    out.seekp(0, std::ios::end);
    const std::streampos end = out.tellp();
    out.seekp(here);
    return static_cast<toff_t>(end);
}
int mapNothing(thandle_t, void**, toff_t*) {
    return 0;
}
void unmapNothing(thandle_t, void*, toff_t) {}

// A file in memory for a target that cannot seek: libtiff seeks back to link its directories
// and forward past the end to align them (a file fills the gap with zeros; so does this).
class MemoryFile : public std::streambuf {
  public:
    const std::vector<char>& bytes() const { return bytes_; }

  protected:
    std::streamsize xsputn(const char* data, std::streamsize count) override {
        const std::size_t end = at_ + static_cast<std::size_t>(count);
        if (end > bytes_.size()) bytes_.resize(end);
        std::copy(data, data + count, bytes_.begin() + static_cast<std::ptrdiff_t>(at_));
        at_ = end;
        return count;
    }
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char byte = traits_type::to_char_type(c);
        xsputn(&byte, 1);
        return c;
    }
    pos_type seekoff(off_type offset, std::ios::seekdir dir, std::ios::openmode) override {
        const off_type from = dir == std::ios::beg   ? 0
                              : dir == std::ios::cur ? static_cast<off_type>(at_)
                                                     : static_cast<off_type>(bytes_.size());
        if (from + offset < 0) return pos_type(off_type(-1));
        at_ = static_cast<std::size_t>(from + offset);
        return pos_type(static_cast<off_type>(at_));
    }
    pos_type seekpos(pos_type position, std::ios::openmode which) override {
        return seekoff(off_type(position), std::ios::beg, which);
    }

  private:
    std::vector<char> bytes_;
    std::size_t at_ = 0;
};

struct Grid {
    std::uint32_t rows, columns;
    const GridPlacement& placement;
    const GeoTiffRowSource& source;
};

// The tie point is the outer corner of the first cell (pixel is area), as the geotransform says.
bool writeTags(const TiffLibrary& l, TIFF* tif, const Grid& g) {
    const GeoTransform& gt = g.placement.geotransform;
    double pixel_scale[3] = {gt[1], -gt[5], 0};
    double tie_point[6] = {0, 0, 0, gt[0], gt[3], 0};
    std::vector<std::uint16_t> geo_keys =
        geoKeyDirectory(static_cast<std::uint16_t>(g.placement.epsg));
    return l.set_field(tif, TIFFTAG_IMAGEWIDTH, g.columns) == 1 &&
           l.set_field(tif, TIFFTAG_IMAGELENGTH, g.rows) == 1 &&
           l.set_field(tif, TIFFTAG_BITSPERSAMPLE, 32) == 1 &&
           l.set_field(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP) == 1 &&
           l.set_field(tif, TIFFTAG_SAMPLESPERPIXEL, 1) == 1 &&
           l.set_field(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK) == 1 &&
           l.set_field(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1 &&
           l.set_field(tif, TIFFTAG_ROWSPERSTRIP, std::min(kStripRows, g.rows)) == 1 &&
           l.set_field(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) == 1 &&
           l.set_field(tif, TIFFTAG_PREDICTOR, PREDICTOR_FLOATINGPOINT) == 1 &&
           l.set_field(tif, TIFFTAG_ZIPQUALITY, kDeflateLevel) == 1 &&
           l.merge_field_info(tif, kExtraFields, std::size(kExtraFields)) == 0 &&
           l.set_field(tif, kGdalNoDataTag, kNoDataText) == 1 &&
           l.set_field(tif, kModelPixelScaleTag, 3, pixel_scale) == 1 &&
           l.set_field(tif, kModelTiepointTag, 6, tie_point) == 1 &&
           l.set_field(tif, kGeoKeyDirectoryTag, static_cast<int>(geo_keys.size()),
                       geo_keys.data()) == 1;
}

// One strip: its rows as the source gives them, predicted, compressed, with its own compressor.
struct Strip {
    std::vector<float> row;
    std::vector<std::uint8_t> predicted, compressed;
    Deflater deflater;
    std::size_t predicted_size = 0, compressed_size = 0;

    void compress() {
        compressed_size = deflater.compress(std::span(predicted).first(predicted_size), compressed);
    }
};

Strip makeStrip(std::uint32_t columns, Deflater deflater) {
    const std::size_t bytes = std::size_t{columns} * sizeof(float) * kStripRows;
    const std::size_t bound = deflater.bound(bytes);
    return Strip{std::vector<float>(columns), std::vector<std::uint8_t>(bytes),
                 std::vector<std::uint8_t>(bound), std::move(deflater)};
}

// A second thread that compresses one strip at a time while this one reads and compresses the
// next: DEFLATE is most of a GeoTIFF's time, and two strips in flight cost two strips' memory.
class Helper {
  public:
    explicit Helper(Strip& strip) : strip_(strip), thread_([this] { run(); }) {}
    Helper(const Helper&) = delete;
    Helper& operator=(const Helper&) = delete;
    ~Helper() {
        {
            const std::lock_guard lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    void start() {
        {
            const std::lock_guard lock(mutex_);
            busy_ = true;
        }
        changed_.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !busy_; });
    }

  private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return busy_ || quit_; });
            if (!busy_) return;
            lock.unlock();
            strip_.compress();
            lock.lock();
            busy_ = false;
            changed_.notify_all();
        }
    }

    Strip& strip_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool busy_ = false, quit_ = false;
    std::thread thread_;  // last: started when the rest is ready
};

// The helper, or none on a machine of one core or where no thread can be had.
std::unique_ptr<Helper> makeHelper(Strip& strip) {
    if (std::thread::hardware_concurrency() < 2) return nullptr;
    try {
        return std::make_unique<Helper>(strip);
    } catch (const std::system_error&) {
        return nullptr;
    }
}

// Strip `index`'s rows from the source, predicted.
void readStrip(const Grid& g, std::uint32_t index, Strip& strip) {
    const std::uint32_t top = index * kStripRows;
    const std::uint32_t rows = std::min(kStripRows, g.rows - top);
    const std::size_t row_bytes = std::size_t{g.columns} * sizeof(float);
    for (std::uint32_t r = 0; r < rows; ++r) {
        g.source(static_cast<std::int32_t>(top + r), strip.row);
        predictFloatRow(strip.row, std::span(strip.predicted).subspan(r * row_bytes));
    }
    strip.predicted_size = rows * row_bytes;
}

bool writeStrip(const TiffLibrary& l, TIFF* tif, std::uint32_t index, Strip& strip) {
    const auto bytes = static_cast<tmsize_t>(strip.compressed_size);
    return bytes > 0 && l.write_raw_strip(tif, index, strip.compressed.data(), bytes) == bytes;
}

// The strips in pairs: the first compressed by the helper while this thread reads and
// compresses the second; both then handed to libtiff as they are, in order.
bool writeStrips(const TiffLibrary& l, TIFF* tif, const Grid& g, Strip& mine, Strip& its,
                 Helper* helper) {
    const std::uint32_t strips = (g.rows + kStripRows - 1) / kStripRows;
    for (std::uint32_t index = 0; index < strips; index += 2) {
        readStrip(g, index, its);
        if (helper != nullptr)
            helper->start();
        else
            its.compress();
        const bool second = index + 1 < strips;
        if (second) {
            readStrip(g, index + 1, mine);
            mine.compress();
        }
        if (helper != nullptr) helper->wait();
        if (!writeStrip(l, tif, index, its) || (second && !writeStrip(l, tif, index + 1, mine)))
            return false;
    }
    return true;
}

bool writeTiff(const TiffLibrary& l, const std::string& path, std::ostream& out, const Grid& g,
               Messages& messages) {
    // Allocated before libtiff holds anything, so running out of memory leaves nothing open.
    Result<Deflater> first = Deflater::make(kDeflateLevel);
    Result<Deflater> second = Deflater::make(kDeflateLevel);
    if (!first || !second) {
        messages.first_error = (first ? second : first).error();
        return false;
    }
    Strip mine = makeStrip(g.columns, std::move(*first));
    Strip its = makeStrip(g.columns, std::move(*second));
    const std::unique_ptr<Helper> helper = makeHelper(its);
    TIFFOpenOptions* options = l.options_alloc();
    if (options == nullptr) return false;
    l.options_error_handler(options, onTiffError, &messages);
    l.options_warning_handler(options, onTiffWarning, nullptr);
    const bool big = std::uint64_t{g.rows} * g.columns * sizeof(float) > kTiffCellBytes;
    TIFF* tif = l.client_open(path.c_str(), big ? "w8" : "w", &out, readNothing, writeBytes, seekTo,
                              closeNothing, sizeOf, mapNothing, unmapNothing, options);
    l.options_free(options);  // the handle keeps its own copy of the handlers
    if (tif == nullptr) return false;
    const bool ok = writeTags(l, tif, g) && writeStrips(l, tif, g, mine, its, helper.get()) &&
                    l.flush(tif) == 1;
    l.close(tif);
    return ok && out.good();
}

// Whether the file can record the grid and its place; what it cannot, when not.
Status checkWritable(std::int32_t rows, std::int32_t columns, const GridPlacement& p) {
    if (rows < 1 || columns < 1) return failure("a grid without cells");
    if (p.epsg < 1 || static_cast<unsigned>(p.epsg) > kGeoKeyMax) {
        return failure("EPSG code " + std::to_string(p.epsg) + " cannot be a GeoTIFF key");
    }
    const GeoTransform& gt = p.geotransform;
    for (const double v : gt) {
        if (!std::isfinite(v)) return failure("a geotransform that is not finite");
    }
    if (gt[2] != 0 || gt[4] != 0 || !(gt[1] > 0) || !(gt[5] < 0)) {
        return failure("a geotransform that is not north up");
    }
    return {};
}

}  // namespace

Status writeGeoTiff(const std::string& path, std::int32_t rows, std::int32_t columns,
                    const GridPlacement& placement, const GeoTiffRowSource& rows_of_metres) {
    if (const Status writable = checkWritable(rows, columns, placement); !writable) {
        return failure("cannot write " + path + ": " + writable.message());
    }
    const Result<const TiffLibrary*> loaded = tiff_detail::tiffLibrary();
    if (!loaded) return failure("cannot write " + path + ": " + loaded.message());
    const TiffLibrary* library = *loaded;
    const Grid grid{static_cast<std::uint32_t>(rows), static_cast<std::uint32_t>(columns),
                    placement, rows_of_metres};
    Messages messages;
    bool no_memory = false;
    const Status written = writeWholeFile(path, [&](std::ostream& out) {
        try {
            if (out.tellp() != std::streampos(-1))
                return writeTiff(*library, path, out, grid, messages);
            // libtiff seeks back to link its directories; a pipe cannot, so the file is made in
            // memory and then copied out (compressed, it is a fraction of the grid).
            out.clear();
            MemoryFile memory;
            std::ostream whole(&memory);
            if (!writeTiff(*library, path, whole, grid, messages)) return false;
            out.write(memory.bytes().data(), static_cast<std::streamsize>(memory.bytes().size()));
            return out.good();
        } catch (const std::bad_alloc&) {
            no_memory = true;
            return false;
        }
    });
    if (written) return {};
    if (no_memory) return failure("cannot write " + path + ": not enough memory");
    // The system's reason (a full disk, a closed pipe) says more than libtiff's account of it.
    if (written.message() != "cannot write " + path &&
        written.message() != "cannot write standard output") {
        return written;
    }
    if (!messages.first_error)
        return failure("cannot write " + path + ": " + messages.first_error.message());
    return written;
}

}  // namespace marlwood
