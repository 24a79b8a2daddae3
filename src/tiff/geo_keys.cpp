#include "tiff/geo_keys.h"

#include <iterator>

namespace marlwood {

namespace {

// GeoKey ids and the codes of their values.
constexpr std::uint16_t kModelTypeKey = 1024, kModelTypeProjected = 1;
constexpr std::uint16_t kRasterTypeKey = 1025, kRasterPixelIsArea = 1;
constexpr std::uint16_t kProjectedCrsKey = 3072;
constexpr std::uint16_t kProjLinearUnitsKey = 3076, kLinearMetre = 9001;

}  // namespace

std::vector<std::uint16_t> geoKeyDirectory(std::uint16_t epsg) {
    const std::uint16_t keys[][2] = {
        {kModelTypeKey, kModelTypeProjected},
        {kRasterTypeKey, kRasterPixelIsArea},
        {kProjectedCrsKey, epsg},
        {kProjLinearUnitsKey, kLinearMetre},
    };
    std::vector<std::uint16_t> directory = {1, 1, 0, static_cast<std::uint16_t>(std::size(keys))};
    for (const auto& [id, value] : keys) directory.insert(directory.end(), {id, 0, 1, value});
    return directory;
}

}  // namespace marlwood
