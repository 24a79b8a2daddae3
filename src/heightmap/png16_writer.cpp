#include <csetjmp>
#include <cstring>
#include <ostream>
#include <vector>

#include "heightmap/heightmap_writer.h"
#include "heightmap/png_library.h"
#include "platform/whole_file.h"

namespace marlwood {

namespace {

using png_detail::PngLibrary;

// The Up filter leaves a smooth heightmap's rows as small differences, which zlib's run-length
// strategy at level 1 packs fastest: on the 1009 x 788 points of a 10 m quad it took about a third
// of the time of the default strategy at level 1, for a file 2% smaller (Sub was no faster and 2%
// larger; level 6 took twice as long as level 1 and was larger than run lengths).
constexpr int kZlibLevel = 1;
constexpr int kZlibRunLengths = 3;  // Z_RLE

// The library the callbacks are called from (loaded before any of them can be).
const PngLibrary& loaded() {
    return **png_detail::pngLibrary();
}

// libpng's first error, kept for the Error's line; libpng unwinds by longjmp to writeImage.
struct ErrorState {
    char message[200];
};

// Never returns: png_longjmp unwinds to writeImage.
void onPngError(png_structp png, png_const_charp message) {
    auto* state = static_cast<ErrorState*>(loaded().get_error_ptr(png));
    std::strncpy(state->message, message != nullptr ? message : "libpng failed",
                 sizeof state->message - 1);
    loaded().longjmp(png, 1);
}
void onPngWarning(png_structp, png_const_charp) {}

struct Sink {
    std::ostream* out;
    bool failed;
};
void writeBytes(png_structp png, png_bytep data, std::size_t size) {
    auto* sink = static_cast<Sink*>(loaded().get_io_ptr(png));
    if (!sink->out->write(reinterpret_cast<const char*>(data),
                          static_cast<std::streamsize>(size))) {
        sink->failed = true;
    }
}
void flushNothing(png_structp) {}

struct Image {
    std::int32_t rows, columns;
    const HeightmapRowSource* source;
    std::uint16_t* values;
    unsigned char* bytes;
};

// Every libpng call of one image, under the one setjmp; this frame and libpng's hold nothing that
// a longjmp would skip the destruction of.
bool writeImage(const PngLibrary& l, png_structp png, png_infop info, Sink& sink,
                const Image& image) {
    if (setjmp(*l.set_longjmp_fn(png, std::longjmp, sizeof(std::jmp_buf)))) return false;
    l.set_write_fn(png, &sink, writeBytes, flushNothing);
    l.set_ihdr(png, info, static_cast<png_uint_32>(image.columns),
               static_cast<png_uint_32>(image.rows), 16, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    l.set_compression_level(png, kZlibLevel);
    l.set_compression_strategy(png, kZlibRunLengths);
    l.set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    l.write_info(png, info);
    const std::span<std::uint16_t> values(image.values, static_cast<std::size_t>(image.columns));
    const std::span<unsigned char> bytes(image.bytes, values.size() * 2);
    for (std::int32_t row = 0; row < image.rows; ++row) {
        (*image.source)(row, values);
        encodeRow16(values, ByteOrder::Big, bytes);  // PNG holds 16-bit samples big-endian
        l.write_row(png, image.bytes);
    }
    l.write_end(png, nullptr);
    return !sink.failed;
}

}  // namespace

Status writePng16(const std::string& path, std::int32_t rows, std::int32_t columns,
                  const HeightmapRowSource& source, FileSet* set) {
    const Result<const PngLibrary*> library = png_detail::pngLibrary();
    if (!library) return failure("no PNG " + path + ": " + library.message());
    if (rows < 1 || columns < 1) return failure("no PNG " + path + ": the grid is empty");
    const PngLibrary& l = **library;
    std::vector<std::uint16_t> values(static_cast<std::size_t>(columns));
    std::vector<unsigned char> bytes(values.size() * 2);
    ErrorState state{};
    const FileWriter write = [&](std::ostream& out) {
        png_structp png =
            l.create_write_struct(PNG_LIBPNG_VER_STRING, &state, onPngError, onPngWarning);
        if (png == nullptr) return false;
        png_infop info = l.create_info_struct(png);
        Sink sink{&out, false};
        const bool ok = info != nullptr &&
                        writeImage(l, png, info, sink,
                                   Image{rows, columns, &source, values.data(), bytes.data()});
        l.destroy_write_struct(&png, &info);
        return ok && static_cast<bool>(out);
    };
    const Status written = set != nullptr ? set->add(path, write) : writeWholeFile(path, write);
    if (!written && state.message[0] != '\0') {
        return failure("no PNG " + path + ": libpng: " + state.message);
    }
    return written;
}

}  // namespace marlwood
