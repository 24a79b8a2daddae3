// An archive as a download would hand it over: whatever the bytes, the reader gives the five
// modules of one transfer (and those of RSDF, XREF and DDOM it holds), each within its bound and
// read through to its end, or one line saying why not.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_promises.h"
#include "sdts/module_reader.h"
#include "source/transfer_source.h"

namespace {

constexpr std::string_view kName = "1107834.DEM.SDTS.TAR.GZ";

using marlwood::fuzz::broken;

// Reads a module through with a ModuleReader, as the stages do; returns how many bytes it gave.
std::size_t readThrough(const marlwood::ModuleSource& module) {
    marlwood::ModuleReader reader;
    if (!reader.open(module)) broken("a module found does not open: " + module.name);
    std::size_t read = 0;
    for (;;) {
        read += reader.buffered().size();
        reader.advance(reader.buffered().size());
        reader.readByte();
        if (reader.failed()) return read;
        ++read;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const marlwood::FoundTransfer found = marlwood::readArchiveTransfer(
        std::string(kName), std::string_view(reinterpret_cast<const char*>(data), size));
    if (!found) {
        if (found.message().empty() || found.message().find('\n') != std::string::npos) {
            broken("no transfer, and not one line saying why: \"" + found.message() + "\"");
        }
        return 0;
    }
    if (found->output_stem != "1107834") broken("stem " + found->output_stem);
    const marlwood::TransferModules& m = found->modules;
    const struct {
        const marlwood::ModuleSource& module;
        std::uint64_t bound;
    } modules[] = {
        {m.cel0, marlwood::kMaxCel0ModuleBytes},     {m.ldef, marlwood::kMaxMetadataModuleBytes},
        {m.spdm, marlwood::kMaxMetadataModuleBytes}, {m.ddsh, marlwood::kMaxMetadataModuleBytes},
        {m.iref, marlwood::kMaxMetadataModuleBytes},
    };
    // The georeference modules, when the archive holds them, are kept like the others.
    for (const marlwood::ModuleSource* optional : {&m.rsdf, &m.xref, &m.ddom}) {
        if (optional->name.empty()) continue;
        if (!optional->bytes) broken("a module without bytes: " + optional->name);
        if (optional->name.rfind(std::string(kName) + ":", 0) != 0)
            broken("name " + optional->name);
        if (optional->bytes->size() > marlwood::kMaxMetadataModuleBytes) {
            broken("a module over its bound: " + optional->name);
        }
        if (readThrough(*optional) != optional->bytes->size())
            broken("read short: " + optional->name);
    }
    for (const auto& [module, bound] : modules) {
        if (!module.bytes) broken("a module without bytes: " + module.name);
        if (module.name.rfind(std::string(kName) + ":", 0) != 0) broken("name " + module.name);
        if (module.bytes->size() > bound) broken("a module over its bound: " + module.name);
        if (readThrough(module) != module.bytes->size()) broken("read short: " + module.name);
    }
    return 0;
}
