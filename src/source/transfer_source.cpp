#include "source/transfer_source.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <system_error>
#include <vector>

#include "common/text.h"
#include "source/module_names.h"

namespace marlwood {

namespace fs = std::filesystem;
using namespace source_detail;

namespace source_detail {

std::optional<ModuleName> matchModuleName(std::string_view base_name, bool allow_gz) {
    bool gzipped = false;
    if (allow_gz && endsWithNoCase(base_name, ".gz")) {
        base_name.remove_suffix(3);
        gzipped = true;
    }
    for (std::size_t kind = 0; kind < kModuleKinds.size(); ++kind) {
        const std::string_view suffix = kModuleKinds[kind].suffix;
        if (endsWithNoCase(base_name, suffix)) {
            return ModuleName{
                kind, std::string(base_name.substr(0, base_name.size() - suffix.size())), gzipped};
        }
    }
    return std::nullopt;
}

std::string_view baseName(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool hasNativeDemExtension(std::string_view name) {
    return endsWithNoCase(name, ".dem") || endsWithNoCase(name, ".dem.gz");
}

bool hasArchiveExtension(std::string_view name) {
    return endsWithNoCase(name, ".tar.gz") || endsWithNoCase(name, ".tgz") ||
           endsWithNoCase(name, ".tar");
}

std::string printable(std::string_view text) {
    return printableText(text, 120, HighBytes::Kept);
}

std::string archiveStem(std::string_view archive_name, const std::string& fallback) {
    const std::string_view name = baseName(archive_name);
    std::string stem(name.substr(0, name.find('.')));
    return stem.empty() ? fallback : stem;
}

}  // namespace source_detail

namespace {

// The same test the dialogue makes: the module opens and its first block can be read.
bool opensAsModule(const std::string& path) {
    ModuleReader reader;
    return reader.open(path) && !reader.failed();
}

// For a module that did not open: a failure saying why when something named `path` exists, and
// success when nothing does (the caller then says what is missing).
Status checkAbsent(const std::string& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (!fs::exists(status)) return {};
    if (!fs::is_regular_file(status))
        return failure("cannot open module " + printable(path) + ": not a regular file");
    return failure("cannot open module " + printable(path) + ": not readable");
}

std::string lastComponent(const std::string& path) {
    std::string name = fs::path(path).filename().string();
    return name == "." || name == ".." ? std::string() : name;
}

// Modules named "cel0.ddf" and so on, without prefix: the directory's own name is the stem.
std::string directoryName(const std::string& directory) {
    std::error_code error;
    fs::path path = fs::absolute(directory, error).lexically_normal();
    if (!path.has_filename()) path = path.parent_path();
    const std::string name = lastComponent(path.string());
    return name.empty() ? "transfer" : name;
}

// The module of this kind at `prefix`: the lower-case name, then the upper-case one that USGS
// transfers use; nothing when neither opens.
std::optional<std::string> moduleAtPrefix(const std::string& prefix, const ModuleKind& kind) {
    for (const std::string_view suffix : {kind.suffix, kind.upper_suffix}) {
        std::string path = prefix + std::string(suffix);
        if (opensAsModule(path)) return path;
    }
    return std::nullopt;
}

FoundTransfer fromPrefix(const std::string& prefix) {
    Transfer transfer{prefix, lastComponent(prefix), {}};
    if (transfer.output_stem.empty()) transfer.output_stem = "transfer";
    for (const ModuleKind& kind : kModuleKinds) {
        const std::string lower = prefix + std::string(kind.suffix);
        const std::string upper = prefix + std::string(kind.upper_suffix);
        if (auto path = moduleAtPrefix(prefix, kind)) {
            transfer.modules.*kind.slot = std::move(*path);
        } else if (kind.required) {
            if (Status absent = checkAbsent(lower); !absent) return absent.error();
            if (Status absent = checkAbsent(upper); !absent) return absent.error();
            // A file given as the source is most likely an archive renamed.
            std::error_code error;
            const std::string read_as =
                fs::is_regular_file(prefix, error)
                    ? "is a file, read as a module prefix (an archive is read as one when its name "
                      "ends in .tar.gz, .tgz or .tar): "
                    : "";
            return failure(read_as + "no module " + printable(lower) + " (nor " + printable(upper) +
                           ")");
        }
    }
    return transfer;
}

FoundTransfer fromDirectory(const std::string& directory) {
    // Prefix -> the names found for each module, sorted, so any choice is the same on every run.
    std::map<std::string, std::array<std::vector<std::string>, kModuleKinds.size()>> by_prefix;
    std::vector<std::string> archives, dems;
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (auto module = matchModuleName(name, false)) {
            by_prefix[module->prefix][module->kind].push_back(name);
        } else if (hasArchiveExtension(name)) {
            archives.push_back(name);
        } else if (hasNativeDemExtension(name)) {
            dems.push_back(name);
        }
    }
    if (error) return failure("cannot list the directory: " + error.message());
    // Only the required modules make a transfer: a prefix with nothing else is not counted.
    std::erase_if(by_prefix, [](const auto& entry) {
        for (std::size_t i = 0; i < kModuleKinds.size(); ++i) {
            if (kModuleKinds[i].required && !entry.second[i].empty()) return false;
        }
        return true;
    });
    if (by_prefix.empty()) {
        std::string line = "holds no SDTS DEM modules (no file named like NNNNcel0.ddf)";
        if (!archives.empty()) {
            std::sort(archives.begin(), archives.end());
            line += "; to read an archive, give its path: " + printable(archives.front());
        }
        if (!dems.empty()) {
            std::sort(dems.begin(), dems.end());
            line += "; to read a native DEM, give its path: " + printable(dems.front());
        }
        return failure(line);
    }
    if (by_prefix.size() > 1) {
        constexpr std::size_t kNamed = 8;
        std::string line = "holds modules of several transfers:";
        std::size_t named = 0;
        for (const auto& [prefix, names] : by_prefix) {
            if (named++ == kNamed) {
                line += " ...";
                break;
            }
            line += " " + (prefix.empty() ? std::string("(no prefix)") : printable(prefix));
        }
        return failure(line + "; give the directory followed by one of these prefixes");
    }

    auto& [prefix, names] = *by_prefix.begin();
    Transfer transfer{directory, prefix, {}};
    if (transfer.output_stem.empty()) transfer.output_stem = directoryName(directory);
    for (std::size_t i = 0; i < kModuleKinds.size(); ++i) {
        const ModuleKind& kind = kModuleKinds[i];
        std::vector<std::string>& found = names[i];
        if (found.empty()) {
            if (!kind.required) continue;
            return failure("holds no module " + printable(prefix + std::string(kind.suffix)) +
                           " (in either case)");
        }
        // Two names that differ only in case: the lower-case one, then the upper-case one.
        std::sort(found.begin(), found.end());
        std::string chosen = found.front();
        for (const std::string_view suffix : {kind.upper_suffix, kind.suffix}) {
            if (std::find(found.begin(), found.end(), prefix + std::string(suffix)) !=
                found.end()) {
                chosen = prefix + std::string(suffix);
            }
        }
        const std::string path = (fs::path(directory) / chosen).string();
        const bool opens = opensAsModule(path);
        if (!opens && !kind.required) continue;  // no module: as if absent
        if (!opens) {
            Status absent = checkAbsent(path);
            return absent ? failure("cannot open module " + printable(path)) : absent.error();
        }
        transfer.modules.*kind.slot = path;
    }
    return transfer;
}

// What the gzip trailer gives as the unpacked size (modulo 4 GiB): what a gzipped DEM read when
// opened will hold, as far as is known beforehand.
std::uint64_t gzipUnpackedSize(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         &std::fclose);
    unsigned char tail[4] = {};
    if (!file || std::fseek(file.get(), -4, SEEK_END) != 0 ||
        std::fread(tail, 1, 4, file.get()) != 4) {
        return 0;
    }
    return tail[0] | (tail[1] << 8) | (tail[2] << 16) | (std::uint64_t{tail[3]} << 24);
}

}  // namespace

Result<TransferModules> findPrefixModules(const std::string& prefix) {
    TransferModules modules;
    for (const ModuleKind& kind : kModuleKinds) {
        if (!kind.required) continue;
        auto path = moduleAtPrefix(prefix, kind);
        if (!path) {
            const std::string lower = prefix + std::string(kind.suffix);
            return failureAbout("cannot open " + lower, lower);
        }
        modules.*kind.slot = std::move(*path);
    }
    return modules;
}

FoundTransfer findFileTransfer(const std::string& path, const std::string& what,
                               std::uint64_t most_bytes, Cel0Reading reading) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (!fs::exists(status)) return failure("no such " + what + " file");
    if (!fs::is_regular_file(status)) return failure("the " + what + " is not a regular file");
    Transfer transfer{path, archiveStem(path, "terrain"), {}};
    if (!endsWithNoCase(path, ".gz")) {
        transfer.file = ModuleSource(path);
        return transfer;
    }
    if (Status support = gzipSupport(); !support) return support.error();
    if (reading == Cel0Reading::WhenOpened) {
        const auto loader = [path, most_bytes]() -> Result<std::shared_ptr<const std::string>> {
            Result<std::string> bytes = gunzipFile(path, most_bytes);
            if (!bytes) return bytes.error();
            return std::make_shared<const std::string>(std::move(*bytes));
        };
        transfer.file = ModuleSource(path, loader, gzipUnpackedSize(path));
        return transfer;
    }
    Result<std::string> bytes = gunzipFile(path, most_bytes);
    if (!bytes) return bytes.error();
    transfer.file = ModuleSource(path, std::make_shared<const std::string>(std::move(*bytes)));
    return transfer;
}

bool namesNativeDem(std::string_view name) {
    return hasNativeDemExtension(name);
}

FoundTransfer findTransfer(const std::string& source, Cel0Reading cel0_reading) {
    if (source.empty())
        return failure(
            "no transfer named: give a module prefix, a directory, an archive or a .dem file");
    std::error_code error;
    const fs::file_status status = fs::status(source, error);
    if (fs::is_directory(status)) {
        // A name the narrow strings cannot hold (Windows) throws from path::string().
        try {
            return fromDirectory(source);
        } catch (const std::system_error& e) {
            return failure("cannot list the directory: " + printable(e.what()));
        }
    }
    if (hasArchiveExtension(source)) {
        if (Status support = archiveSupport(); !support) return support.error();
        if (!fs::exists(status)) return failure("no such archive");
        if (!fs::is_regular_file(status)) return failure("the archive is not a regular file");
        return readArchiveFile(source, cel0_reading);
    }
    return fromPrefix(source);
}

}  // namespace marlwood
