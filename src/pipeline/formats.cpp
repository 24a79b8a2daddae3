#include "pipeline/formats.h"

#include <algorithm>
#include <filesystem>

#include "common/text.h"
#include "platform/whole_file.h"

namespace marlwood {

const OutputFormat& FormatTable::add(OutputFormat format) {
    return rows_.emplace_back(std::move(format));
}

const OutputFormat* FormatTable::named(std::string_view name) const {
    for (const OutputFormat& format : rows_) {
        if (format.name == name) return &format;
    }
    return nullptr;
}

const OutputFormat* FormatTable::ofPath(std::string_view path) const {
    for (const OutputFormat& format : rows_) {
        for (const std::string& extension : format.extensions) {
            if (endsWithNoCase(path, extension)) return &format;
        }
    }
    return nullptr;
}

std::string FormatTable::names() const {
    std::string names;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (i > 0) names += i + 1 == rows_.size() ? " or " : ", ";
        names += rows_[i].name;
    }
    return names;
}

bool OutputFormat::takes(std::string_view long_name) const {
    return std::any_of(options.begin(), options.end(),
                       [&](const FormatOption& o) { return o.long_name == long_name; });
}

std::vector<const FormatOption*> FormatTable::options() const {
    std::vector<const FormatOption*> declared;
    for (const OutputFormat& format : rows_) {
        for (const FormatOption& option : format.options) {
            const bool known = std::any_of(declared.begin(), declared.end(), [&](auto* o) {
                return o->long_name == option.long_name;
            });
            if (!known) declared.push_back(&option);
        }
    }
    return declared;
}

bool FormatTable::namesNoFile(const std::string& path) const {
    const std::string name = std::filesystem::path(path).filename().string();
    if (name.empty() || name == "." || name == "..") return true;
    for (const OutputFormat& format : rows_) {
        for (const std::string& extension : format.extensions) {
            if (name.size() == extension.size() && endsWithNoCase(name, extension)) return true;
        }
    }
    return false;
}

Status FormatTable::check(const OutputFormat& format, const FormatRequest& request) const {
    for (const FormatOption* option : options()) {
        if (!request.given(option->long_name) || format.takes(option->long_name)) continue;
        for (const auto& [name, line] : format.refuses) {
            if (name == option->long_name) return failure(line);
        }
        return failure(option->elsewhere);
    }
    return format.check ? format.check(request) : Status{};
}

Status fitsFormat(const OutputFormat& format, const GridSize& size, const std::string& what) {
    if (size.rows >= 0 && size.rows <= format.largest_side && size.columns >= 0 &&
        size.columns <= format.largest_side) {
        return {};
    }
    return failure(what + " " + std::to_string(size.rows) + " x " + std::to_string(size.columns) +
                   "; a " + format.extension() + " file holds 0 to " +
                   std::to_string(format.largest_side) + " rows and columns");
}

std::vector<std::string> filesWritten(const OutputFormat& format, const std::string& path,
                                      const ConversionSettings& settings) {
    return format.files ? format.files(path, settings) : std::vector<std::string>{path};
}

Result<Written> writeTerrainAt(const OutputFormat& format, const std::string& path,
                               const Terrain& terrain, const ConversionSettings& settings) {
    if (format.path) return format.path(path, terrain, settings);
    const Status written = writeWholeFile(path, [&](std::ostream& out) {
        format.stream(out, terrain, settings);
        return true;
    });
    if (!written) return written.error();
    return Written::file(path);
}

Status writeTerrainTo(const OutputFormat& format, std::ostream& out, const Terrain& terrain,
                      const ConversionSettings& settings, const std::string& name) {
    if (!format.stream) return failure("a " + format.name + " file is written to a path only");
    format.stream(out, terrain, settings);
    out.flush();
    if (!out) return failure("cannot write " + name + ": the file is incomplete");
    return {};
}

}  // namespace marlwood
