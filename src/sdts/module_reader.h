#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/result.h"

namespace marlwood {

// Bytes of the ISO 8211 subset the readers rely on.
inline constexpr std::uint8_t kFieldTerminator = 0x1E;
inline constexpr std::uint8_t kUnitTerminator = 0x1F;
inline constexpr int kLeaderSize = 24;
inline constexpr int kLeaderIdOffset = 6;
inline constexpr int kLeaderBaseOffset = 12;
inline constexpr int kLeaderEntryMapOffset = 20;
inline constexpr int kLengthWidth = 5;  // record length and base address: five digits
// Fixed-width numbers and unit-terminated integers keep at most this many characters.
inline constexpr std::int32_t kMaxNumberChars = 7;

// Leading decimal integer of a text, the way the module numbers have always been read: white
// space skipped, an optional sign, then digits up to the first non-digit. No digits give 0; the
// text never holds more than seven characters, so nothing overflows.
std::int32_t parseDecimal(std::string_view text);

// Gives a module's bytes when the module is opened, or the line saying why it cannot.
using ModuleLoader = std::function<Result<std::shared_ptr<const std::string>>()>;

// Pulls a module's next bytes into `into` (at most `capacity` of them), giving how many: 0 at its
// end, an Error when it cannot be read on.
using ModuleChunks = std::function<Result<std::size_t>(std::uint8_t* into, std::size_t capacity)>;
// Starts a module's bytes over from its first, as a stream.
using ModuleStreamOpener = std::function<Result<ModuleChunks>()>;

// Where a module's bytes are: a file, bytes already in memory (a member read out of an archive),
// bytes read when the module is opened (an archive member read again when it is decoded, so
// that a merge of many archives holds one CEL0 at a time), or a stream opened each time (such a
// member read a block at a time, so that a merge holds none and stops where its rows end).
// `name` is what reports call it: the path, or the archive and the member.
struct ModuleSource {
    ModuleSource() = default;
    ModuleSource(std::string path) : name(std::move(path)) {}  // NOLINT: a path is a source
    ModuleSource(const char* path) : name(path) {}             // NOLINT
    ModuleSource(std::string display_name, std::shared_ptr<const std::string> contents)
        : name(std::move(display_name)), bytes(std::move(contents)) {}
    ModuleSource(std::string display_name, ModuleLoader loader, std::uint64_t loaded_bytes)
        : name(std::move(display_name)), load(std::move(loader)), load_bytes(loaded_bytes) {}

    ModuleSource(std::string display_name, ModuleStreamOpener opener)
        : name(std::move(display_name)), stream(std::move(opener)) {}

    // The bytes held in memory for this module, now or while it is open (a file or a stream:
    // none beyond a block).
    std::uint64_t heldBytes() const { return bytes ? bytes->size() : load ? load_bytes : 0; }

    std::string name;
    std::shared_ptr<const std::string> bytes;  // null: `load` them, or read the file `name`
    ModuleLoader load;
    std::uint64_t load_bytes = 0;  // what `load` gives, as far as is known beforehand
    ModuleStreamOpener stream;     // set: the bytes come from it, block by block
};

// The five modules a conversion reads, and those the georeference reads besides when the transfer
// holds them (an empty name: absent; initialised so that a list of the five is still complete).
struct TransferModules {
    ModuleSource cel0, ldef, spdm, ddsh, iref;
    ModuleSource rsdf{}, xref{}, ddom{};
};

// The one way any module byte is read: a forward-only reader over a file, filled in large blocks.
// It never seeks; going back means close and open again. Reading past the end of the data (or a
// read error) makes it fail for good until it is closed: every later read yields 0, and every loop
// that waits for a terminator also stops on `failed()`.
class ModuleReader {
  public:
    ModuleReader();
    ~ModuleReader();
    ModuleReader(const ModuleReader&) = delete;
    ModuleReader& operator=(const ModuleReader&) = delete;

    // Opens a module file for reading in binary mode (never creates it), or the bytes of a module
    // held in memory (read in place, not copied). False when it does not open or cannot be read
    // at all (a directory, say).
    bool open(const ModuleSource& module);
    // Reads from memory instead of a file; for tests and the fuzzers.
    void openBytes(std::string_view bytes);
    // Closes and clears the failed state; closing a closed reader does nothing.
    void close();

    bool isOpen() const { return open_; }
    bool failed() const { return failed_; }
    // Why the module did not open, or why its bytes stopped before their end (a read error, not
    // the end of the data); kept through `close` until the next open.
    const std::optional<Error>& problem() const { return problem_; }
    void setProblem(Error problem) { problem_ = std::move(problem); }

    // Next byte, advancing by one; 0 (and the failed state) once the data has ended.
    std::uint8_t readByte() {
        if (pos_ < end_) return data_[pos_++];
        return refill();
    }
    // The bytes already read ahead, from the current position on; valid until the next read.
    // Lets a decoder take whole values straight from the block, then `advance` past them.
    std::span<const std::uint8_t> buffered() const { return {data_ + pos_, end_ - pos_}; }
    // Moves past n bytes of `buffered()`; n must not exceed its size.
    void advance(std::size_t n) { pos_ += n; }
    // Reads and discards n bytes; n <= 0 reads nothing.
    void skipBytes(std::int32_t n);
    // Reads exactly `width` bytes and gives the decimal number at their start. A width outside
    // 1..7 reads nothing and gives 0.
    std::int32_t readDecimal(std::int32_t width);
    // Reads up to and including the next unit terminator and gives the decimal number at the
    // start of the text before it (only its first seven characters count).
    std::int32_t readUnitInteger();
    // Reads until the byte just read is `terminator` (at least one byte), or the data ends.
    void skipPast(std::uint8_t terminator);
    // Reads until the byte just read is `terminator`, keeping at most `limit` of the bytes before
    // it in `text`.
    void readTextUntil(std::uint8_t terminator, std::size_t limit, std::string& text);

  private:
    std::uint8_t refill();
    bool openHeld(std::shared_ptr<const std::string> bytes);

    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, FileCloser> file_;
    ModuleChunks chunks_;  // a stream's, while open
    std::vector<std::uint8_t> buffer_;
    std::shared_ptr<const std::string> held_;  // in-memory module bytes, kept alive while open
    const std::uint8_t* data_ = nullptr;       // buffer_ or the held bytes
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    bool open_ = false;
    bool failed_ = false;
    std::optional<Error> problem_;
};

// A whole module read into memory through a ModuleReader, for readers that parse it as a whole.
// An Error when it does not open or holds more than `limit` bytes.
Result<std::string> readWholeModule(const ModuleSource& module, std::size_t limit);

// The module's data descriptive record is skipped by its own record length, after which the reader
// stands on byte 0 of the first data record. Returns that length (0 when the module did not open,
// and the reader's problem says why).
std::int32_t openCel0AtFirstRecord(ModuleReader& input_stream, const ModuleSource& cel0_path);

// Whether a module was read whole: success when it was (or only ended early, which its decoder
// reports), else the line "NAME cannot be read: WHY".
Status moduleRead(const ModuleReader& reader, const ModuleSource& module);

}  // namespace marlwood
