#include "source/module_names.h"

namespace marlwood::source_detail {

// Without libdeflate, archives are unpacked by libarchive as they are read.
std::optional<LargeBuffer> gunzipWhole(std::string_view, std::uint64_t) {
    return std::nullopt;
}

}  // namespace marlwood::source_detail
