#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "common/result.h"

// Gzip unpacked as it is read, every member's CRC-32 and length checked against its trailer.
// libarchive's gzip filter leaves both unchecked, so a flipped bit in a .tar.gz would otherwise
// convert into wrong elevations without a word; the archive reader hands libarchive what this
// stream gives instead.
namespace marlwood::source_detail {

// Pulls the next compressed bytes: a block that stays valid until the next call, empty at the
// end, or an Error when the bytes cannot be read.
using CompressedInput = std::function<Result<std::span<const std::uint8_t>>()>;

// A file read in blocks of its own, or bytes in memory given once.
CompressedInput fileInput(std::FILE* file);
CompressedInput memoryInput(std::span<const std::uint8_t> bytes);

class GzipStream {
  public:
    // A stream over `input`. Bytes that do not begin as gzip does pass through unchanged unless
    // `gzip_only`, when they are refused with a line on the first read.
    static Result<std::unique_ptr<GzipStream>> open(CompressedInput input, bool gzip_only);
    ~GzipStream();
    GzipStream(const GzipStream&) = delete;
    GzipStream& operator=(const GzipStream&) = delete;

    // Unpacked bytes into `into`: how many, 0 at the end once the last trailer was checked, or
    // the line saying why the data is damaged, cut short or cannot be read.
    Result<std::size_t> read(std::uint8_t* into, std::size_t capacity);
    // Reads on to the end, so that the last trailer is checked even when the reader above stops
    // early (a tar ends with blocks of zeros that nobody reads).
    Status finish();
    // Whether the input is gzip (known after the first read).
    bool gzipped() const { return mode_ == Mode::Gzip; }

  private:
    enum class Mode { Unknown, Gzip, Plain, Ended };
    struct Inflater;
    GzipStream(CompressedInput input, bool gzip_only);
    Result<bool> haveInput();  // false at the end of the input
    Status peekTwo();          // two bytes pending, unless the input ends first
    Status beginMember();
    Result<std::size_t> inflate(std::uint8_t* into, std::size_t capacity);

    CompressedInput input_;
    bool gzip_only_;
    Mode mode_ = Mode::Unknown;
    std::span<const std::uint8_t> pending_;  // input not yet consumed
    std::vector<std::uint8_t> carry_;        // a block's last byte and the next block
    std::unique_ptr<Inflater> inflater_;
    std::uint64_t members_ = 0;
};

}  // namespace marlwood::source_detail
