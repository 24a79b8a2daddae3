#include "sdts/module_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace marlwood {

namespace {
constexpr std::size_t kBlockSize = 64 * 1024;

bool isSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
}  // namespace

std::int32_t parseDecimal(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::int64_t value = 0;
    // The cap only matters for callers that pass longer texts than the readers ever keep.
    for (; i < text.size() && isDigit(text[i]) && value < 100000000; ++i) {
        value = value * 10 + (text[i] - '0');
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

ModuleReader::ModuleReader() = default;
ModuleReader::~ModuleReader() = default;

bool ModuleReader::openHeld(std::shared_ptr<const std::string> bytes) {
    held_ = std::move(bytes);
    data_ = reinterpret_cast<const std::uint8_t*>(held_->data());
    pos_ = 0;
    end_ = held_->size();
    open_ = true;
    failed_ = false;
    return true;
}

bool ModuleReader::open(const ModuleSource& module) {
    if (open_) return false;
    problem_.reset();
    if (module.bytes) return openHeld(module.bytes);
    if (module.load) {
        Result<std::shared_ptr<const std::string>> loaded = module.load();
        if (!loaded) problem_ = loaded.error();
        return loaded.ok() && *loaded != nullptr && openHeld(std::move(*loaded));
    }
    if (module.stream) {
        Result<ModuleChunks> chunks = module.stream();
        if (!chunks) problem_ = chunks.error();
        if (!chunks || !*chunks) return false;
        chunks_ = std::move(*chunks);
        buffer_.resize(kBlockSize);
        data_ = buffer_.data();
        pos_ = end_ = 0;
        open_ = true;
        failed_ = false;
        // As a file: what opens but yields nothing readable counts as not opened.
        const Result<std::size_t> first = chunks_(buffer_.data(), buffer_.size());
        if (!first) {
            close();
            problem_ = first.error();
            return false;
        }
        end_ = std::min(*first, buffer_.size());
        return true;
    }
    const std::string& path = module.name;
    // Only a regular file can be a module. A named pipe would hold the open until a writer came,
    // and a device such as /dev/zero never ends, so no terminator loop would; an unpacked archive
    // can hold either, also behind a link.
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        problem_ = failure(error ? error.message() : "not a regular file");
        return false;
    }
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        problem_ = failure(std::strerror(errno));
        return false;
    }
    // Our own block buffer does the buffering; a second one in stdio would only copy.
    std::setvbuf(f, nullptr, _IONBF, 0);
    file_.reset(f);
    buffer_.resize(kBlockSize);
    data_ = buffer_.data();
    pos_ = end_ = 0;
    open_ = true;
    failed_ = false;
    // Read the first block now, so that something that opens but cannot be read (a directory)
    // counts as a failed open.
    end_ = std::fread(buffer_.data(), 1, buffer_.size(), file_.get());
    if (std::ferror(file_.get())) {
        close();
        problem_ = failure(std::strerror(errno));
        return false;
    }
    return true;
}

void ModuleReader::openBytes(std::string_view bytes) {
    close();
    buffer_.assign(bytes.begin(), bytes.end());
    data_ = buffer_.data();
    pos_ = 0;
    end_ = buffer_.size();
    open_ = true;
}

void ModuleReader::close() {
    file_.reset();
    chunks_ = nullptr;
    held_.reset();
    data_ = buffer_.data();
    pos_ = end_ = 0;
    open_ = false;
    failed_ = false;
}

std::uint8_t ModuleReader::refill() {
    if (!failed_ && chunks_) {
        const Result<std::size_t> got = chunks_(buffer_.data(), buffer_.size());
        pos_ = 0;
        end_ = got ? std::min(*got, buffer_.size()) : 0;
        if (!got) problem_ = got.error();
        if (end_ > 0) return buffer_[pos_++];
        chunks_ = nullptr;  // ended, or cannot be read on: failed for good, as a file
    }
    if (!failed_ && file_ && !std::feof(file_.get()) && !std::ferror(file_.get())) {
        end_ = std::fread(buffer_.data(), 1, buffer_.size(), file_.get());
        pos_ = 0;
        if (end_ > 0) return buffer_[pos_++];
        if (std::ferror(file_.get())) problem_ = failure(std::strerror(errno));
    }
    pos_ = end_ = 0;
    failed_ = true;
    return 0;
}

void ModuleReader::skipBytes(std::int32_t n) {
    auto left = static_cast<std::size_t>(std::max<std::int32_t>(n, 0));
    while (left > 0 && !failed_) {
        if (pos_ == end_) {
            refill();
            --left;
            continue;
        }
        std::size_t step = std::min(left, end_ - pos_);
        pos_ += step;
        left -= step;
    }
}

std::int32_t ModuleReader::readDecimal(std::int32_t width) {
    if (width < 1 || width > kMaxNumberChars) return 0;
    char text[kMaxNumberChars];
    for (std::int32_t i = 0; i < width; ++i) text[i] = static_cast<char>(readByte());
    return parseDecimal(std::string_view(text, static_cast<std::size_t>(width)));
}

std::int32_t ModuleReader::readUnitInteger() {
    std::string text;
    readTextUntil(kUnitTerminator, kMaxNumberChars, text);
    return parseDecimal(text);
}

void ModuleReader::skipPast(std::uint8_t terminator) {
    while (readByte() != terminator && !failed_) {
    }
}

void ModuleReader::readTextUntil(std::uint8_t terminator, std::size_t limit, std::string& text) {
    text.clear();
    for (;;) {
        std::uint8_t byte = readByte();
        if (byte == terminator || failed_) return;
        if (text.size() < limit) text.push_back(static_cast<char>(byte));
    }
}

Status moduleRead(const ModuleReader& reader, const ModuleSource& module) {
    if (const std::optional<Error>& why = reader.problem()) {
        return failure(module.name + " cannot be read: " + why->message);
    }
    return {};
}

Result<std::string> readWholeModule(const ModuleSource& module, std::size_t limit) {
    ModuleReader reader;
    if (!reader.open(module)) {
        return failure("cannot open " + module.name +
                       (reader.problem() ? ": " + reader.problem()->message : ""));
    }
    std::string bytes;
    for (;;) {
        const std::span<const std::uint8_t> block = reader.buffered();
        if (block.size() > limit - bytes.size()) break;
        bytes.append(reinterpret_cast<const char*>(block.data()), block.size());
        reader.advance(block.size());
        const std::uint8_t byte = reader.readByte();  // the next block, or the end
        if (reader.failed()) {
            if (Status read = moduleRead(reader, module); !read) return read.error();
            return bytes;
        }
        if (bytes.size() == limit) break;
        bytes.push_back(static_cast<char>(byte));
    }
    return failure(module.name + " holds more than " + std::to_string(limit) + " bytes");
}

std::int32_t openCel0AtFirstRecord(ModuleReader& input_stream, const ModuleSource& cel0_path) {
    // Bytes read when opened are read once for both opens.
    ModuleSource cel0 = cel0_path;
    if (!cel0.bytes && cel0.load) {
        Result<std::shared_ptr<const std::string>> loaded = cel0.load();
        if (!loaded) {
            input_stream.setProblem(loaded.error());
            return 0;
        }
        cel0 = ModuleSource(cel0.name, std::move(*loaded));
    }
    if (!input_stream.open(cel0)) return 0;
    std::int32_t ddr_length = input_stream.readDecimal(kLengthWidth);
    // The length's own digits are read already; a length shorter than they are is skipped from
    // the first byte again (a stream opens once more).
    if (ddr_length >= kLengthWidth && !input_stream.failed()) {
        input_stream.skipBytes(ddr_length - kLengthWidth);
        return ddr_length;
    }
    input_stream.close();
    if (!input_stream.open(cel0)) return 0;
    input_stream.skipBytes(ddr_length);
    return ddr_length;
}

}  // namespace marlwood
