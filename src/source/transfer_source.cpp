#include "source/transfer_source.h"
#include <filesystem>
namespace marlwood {
FoundTransfer findTransfer(const std::string& source) {
    Transfer t; t.source = source; t.output_stem = std::filesystem::path(source).filename().string();
    auto mod = [&](const char* lo, const char* up) { std::string p = source + lo; if (!std::filesystem::exists(p)) p = source + up; return ModuleSource(p); };
    t.modules = {mod("cel0.ddf","CEL0.DDF"), mod("ldef.ddf","LDEF.DDF"), mod("spdm.ddf","SPDM.DDF"), mod("ddsh.ddf","DDSH.DDF"), mod("iref.ddf","IREF.DDF")};
    if (!std::filesystem::exists(t.modules.cel0.name)) return {std::nullopt, "no " + t.modules.cel0.name};
    return {t, {}};
}
FoundTransfer readArchiveTransfer(const std::string&, std::string_view) { return {}; }
bool archivesSupported() { return false; }
}
