#include "source/gzip_stream.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "source/archive_library.h"

namespace marlwood::source_detail {

namespace {

constexpr std::size_t kBlockSize = 64 * 1024;

bool beginsAsGzip(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 2 && bytes[0] == 0x1f && bytes[1] == 0x8b;
}

// zlib's words for a damaged stream, said the way a user can act on.
std::string damaged(const char* zlib_message) {
    const std::string said = zlib_message != nullptr ? zlib_message : "";
    if (said == "incorrect data check") {
        return "damaged gzip data: the unpacked bytes do not match the CRC-32 stored with them";
    }
    if (said == "incorrect length check") {
        return "damaged gzip data: the unpacked bytes are not as many as its trailer says";
    }
    return "damaged gzip data" + (said.empty() ? std::string() : ": " + said);
}

}  // namespace

CompressedInput fileInput(std::FILE* file) {
    auto block = std::make_shared<std::vector<std::uint8_t>>(kBlockSize);
    return [file, block]() -> Result<std::span<const std::uint8_t>> {
        const std::size_t got = std::fread(block->data(), 1, block->size(), file);
        if (got == 0 && std::ferror(file)) return failure("cannot read the file");
        return std::span<const std::uint8_t>(block->data(), got);
    };
}

CompressedInput memoryInput(std::span<const std::uint8_t> bytes) {
    auto given = std::make_shared<bool>(false);
    return [bytes, given]() -> Result<std::span<const std::uint8_t>> {
        if (*given) return std::span<const std::uint8_t>();
        *given = true;
        return bytes;
    };
}

struct GzipStream::Inflater {
    const ZlibLibrary& zlib;
    z_stream z{};
    bool started = false;
    bool in_member = false;

    explicit Inflater(const ZlibLibrary& library) : zlib(library) {}
    ~Inflater() {
        if (started) zlib.end(&z);
    }
};

GzipStream::GzipStream(CompressedInput input, bool gzip_only)
    : input_(std::move(input)), gzip_only_(gzip_only) {}

GzipStream::~GzipStream() = default;

Result<std::unique_ptr<GzipStream>> GzipStream::open(CompressedInput input, bool gzip_only) {
    const Result<const ZlibLibrary*> zlib = zlibLibrary();
    if (!zlib) return zlib.error();
    std::unique_ptr<GzipStream> stream(new GzipStream(std::move(input), gzip_only));
    stream->inflater_ = std::make_unique<Inflater>(**zlib);
    return stream;
}

Result<bool> GzipStream::haveInput() {
    if (!pending_.empty()) return true;
    Result<std::span<const std::uint8_t>> more = input_();
    if (!more) return more.error();
    pending_ = *more;
    return !pending_.empty();
}

Status GzipStream::peekTwo() {
    const Result<bool> have = haveInput();
    if (!have) return have.error();
    if (pending_.size() != 1) return {};
    // Two bytes tell gzip, even when a block ends between them.
    carry_.assign(1, pending_[0]);
    pending_ = {};
    const Result<bool> more = haveInput();
    if (!more) return more.error();
    carry_.insert(carry_.end(), pending_.begin(), pending_.end());
    pending_ = carry_;
    return {};
}

Status GzipStream::beginMember() {
    Inflater& in = *inflater_;
    // 16 + 15: a gzip wrapper around a 32 KiB window, its header read and its trailer checked
    // by zlib itself.
    const int status =
        in.started ? in.zlib.reset(&in.z)
                   : in.zlib.init(&in.z, 16 + 15, ZLIB_VERSION, static_cast<int>(sizeof(z_stream)));
    if (status != Z_OK) return failure("cannot unpack gzip: not enough memory");
    in.started = true;
    in.in_member = true;
    ++members_;
    return {};
}

Result<std::size_t> GzipStream::read(std::uint8_t* into, std::size_t capacity) {
    if (capacity == 0 || mode_ == Mode::Ended) return std::size_t{0};
    if (mode_ == Mode::Unknown) {
        if (Status peeked = peekTwo(); !peeked) return peeked.error();
        if (beginsAsGzip(pending_)) {
            mode_ = Mode::Gzip;
        } else if (gzip_only_) {
            return failure("is not gzip data");
        } else {
            mode_ = Mode::Plain;
        }
    }
    if (mode_ == Mode::Plain) {
        const Result<bool> have = haveInput();
        if (!have) return have.error();
        const std::size_t n = std::min(capacity, pending_.size());
        if (n == 0) return n;  // the end: an empty block may have no bytes to point at
        std::memcpy(into, pending_.data(), n);
        pending_ = pending_.subspan(n);
        return n;
    }
    return inflate(into, capacity);
}

Result<std::size_t> GzipStream::inflate(std::uint8_t* into, std::size_t capacity) {
    Inflater& in = *inflater_;
    for (;;) {
        if (!in.in_member) {
            // After a member, another member or the end; bytes that are neither are ignored, as
            // gzip(1) ignores them (tape padding).
            if (Status peeked = peekTwo(); !peeked) return peeked.error();
            if (!beginsAsGzip(pending_)) {
                mode_ = Mode::Ended;
                pending_ = {};
                return std::size_t{0};
            }
            if (Status begun = beginMember(); !begun) return begun.error();
        }
        const Result<bool> have = haveInput();
        if (!have) return have.error();
        if (!*have) return failure("the gzip data is cut short: it ends before its trailer");
        in.z.next_in = const_cast<Bytef*>(pending_.data());
        in.z.avail_in = static_cast<uInt>(std::min<std::size_t>(pending_.size(), 1u << 30));
        in.z.next_out = into;
        in.z.avail_out = static_cast<uInt>(std::min<std::size_t>(capacity, 1u << 30));
        const uInt offered = in.z.avail_in;
        const int status = in.zlib.inflate(&in.z, Z_NO_FLUSH);
        pending_ = pending_.subspan(offered - in.z.avail_in);
        const std::size_t made = std::min<std::size_t>(capacity, 1u << 30) - in.z.avail_out;
        if (status == Z_STREAM_END) {
            in.in_member = false;  // its trailer matched
        } else if (status == Z_MEM_ERROR) {
            return failure("cannot unpack gzip: not enough memory");
        } else if (status != Z_OK && status != Z_BUF_ERROR) {
            return failure(damaged(in.z.msg));
        }
        if (made > 0) return made;
    }
}

Status GzipStream::finish() {
    if (mode_ == Mode::Plain) return {};  // no trailer to check
    std::vector<std::uint8_t> sink(kBlockSize);
    for (;;) {
        const Result<std::size_t> got = read(sink.data(), sink.size());
        if (!got) return got.error();
        if (*got == 0) return {};
    }
}

}  // namespace marlwood::source_detail
