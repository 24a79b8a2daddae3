#include <cstdlib>
#include <cstring>
#include <memory>
#include <ostream>
#include <vector>

#include "heightmap/exr_library.h"
#include "heightmap/heightmap_writer.h"
#include "platform/whole_file.h"

namespace marlwood {

namespace {

using exr_detail::ExrLibrary;

// ZIP: 16 rows a block, deflated after tinyexr's byte reordering and differencing, which a smooth
// heightmap's floats shrink under (see the commit that chose it for the figures).
constexpr int kCompression = TINYEXR_COMPRESSIONTYPE_ZIP;

}  // namespace

Status writeExr32(const std::string& path, std::int32_t rows, std::int32_t columns,
                  const FloatRowSource& source, FileSet* set) {
    const Result<const ExrLibrary*> library = exr_detail::exrLibrary();
    if (!library) return failure("no EXR " + path + ": " + library.message());
    if (rows < 1 || columns < 1) return failure("no EXR " + path + ": the grid is empty");
    const ExrLibrary& l = **library;
    // tinyexr takes the whole image at once.
    std::vector<float> values(static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns));
    for (std::int32_t row = 0; row < rows; ++row) {
        source(row, std::span<float>(values.data() + static_cast<std::size_t>(row) *
                                                         static_cast<std::size_t>(columns),
                                     static_cast<std::size_t>(columns)));
    }
    EXRHeader header;
    l.init_header(&header);
    EXRImage image;
    l.init_image(&image);
    EXRChannelInfo channel{};
    std::strcpy(channel.name, "R");
    int pixel_type = TINYEXR_PIXELTYPE_FLOAT;
    int requested_type = TINYEXR_PIXELTYPE_FLOAT;
    header.num_channels = 1;
    header.channels = &channel;
    header.pixel_types = &pixel_type;
    header.requested_pixel_types = &requested_type;
    header.compression_type = kCompression;
    float* planes[] = {values.data()};
    image.num_channels = 1;
    image.images = reinterpret_cast<unsigned char**>(planes);
    image.width = columns;
    image.height = rows;
    unsigned char* memory = nullptr;
    const char* problem = nullptr;
    const std::size_t size = l.save_to_memory(&image, &header, &memory, &problem);
    // tinyexr's buffer is malloc'd.
    const std::unique_ptr<unsigned char, decltype(&std::free)> bytes(memory, &std::free);
    if (size == 0) {
        const std::string why = problem != nullptr ? problem : "it wrote nothing";
        if (problem != nullptr) l.free_error(problem);
        return failure("no EXR " + path + ": tinyexr: " + why);
    }
    std::vector<float>().swap(values);  // not needed while the bytes are written
    const FileWriter write = [&](std::ostream& out) {
        out.write(reinterpret_cast<const char*>(bytes.get()), static_cast<std::streamsize>(size));
        return static_cast<bool>(out);
    };
    return set != nullptr ? set->add(path, write) : writeWholeFile(path, write);
}

}  // namespace marlwood
