#include <vector>

#include "heightmap/heightmap_writer.h"
#include "platform/whole_file.h"

namespace marlwood {

Status writeRaw16(const std::string& path, std::int32_t rows, std::int32_t columns,
                  const HeightmapRowSource& source, ByteOrder order, RowOrder row_order,
                  FileSet* set) {
    if (rows < 1 || columns < 1) return failure("no heightmap " + path + ": the grid is empty");
    std::vector<std::uint16_t> values(static_cast<std::size_t>(columns));
    std::vector<unsigned char> bytes(values.size() * 2);
    const FileWriter write = [&](std::ostream& out) {
        for (std::int32_t i = 0; i < rows && out; ++i) {
            source(row_order == RowOrder::NorthFirst ? i : rows - 1 - i, values);
            encodeRow16(values, order, bytes);
            out.write(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<std::streamsize>(bytes.size()));
        }
        return static_cast<bool>(out);
    };
    return set != nullptr ? set->add(path, write) : writeWholeFile(path, write);
}

}  // namespace marlwood
