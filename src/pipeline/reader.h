#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/events.h"
#include "common/result.h"
#include "geo/window.h"
#include "pipeline/transfer.h"
#include "source/transfer_source.h"

// The input side's table: one row per input format, each saying how it finds a SOURCE, what its
// metadata is and how its rows are read. Everything above reads a source through its row, and
// every grid's rows pass through one RowSource.
namespace marlwood {

struct InputFormat;

// A SOURCE as its row found it: the modules of a transfer, or one file, and the row that reads
// them.
struct Input : Transfer {
    const InputFormat* format = nullptr;
    // Which of the source's grids is read: 0 the full one, k its k-th coarser copy (see
    // TransferMetadata::levels).
    std::int32_t level = 0;

    // Every module or file it is read from, named (those absent left out).
    std::vector<const ModuleSource*> files() const;
    // The bytes it holds in memory now (archive members, unpacked files).
    std::uint64_t heldBytes() const;
};

// What a row's reader is asked for: the cells of `window` (inside the grid), north to south.
struct RowRequest {
    CellWindow window;
    bool thousandths = false;  // cells in thousandths of the unit, decimals kept
    MetadataReading reading = MetadataReading::Strict;
};

// A grid's rows as a format reads them, one at a time.
class RowStream {
  public:
    virtual ~RowStream() = default;
    // The window's next row into `cells` (window.columns of them, void when it comes), or false
    // when none is left: all were given, the data ended early (said as an event), or it could
    // not be read on (`read`).
    virtual bool next(std::int32_t* cells) = 0;
    // A failure when the source could not be read on to the window's end.
    virtual Status read() const { return {}; }
    // Extremes of every value read, when a format counts values the cells do not hold (the
    // dialogue's decoder counts those beyond a row's last column); nothing: the cells' own.
    virtual std::optional<Extremes> ownExtremes() const { return std::nullopt; }
    // After the extremes are told: the dialogue's reading shows the corners then.
    virtual void finish(EventSink&) {}
};

struct InputFormat {
    std::string name;  // as lines name it: "SDTS transfer", "native DEM"
    // Whether a SOURCE is this format's, by its name (the last row takes every other).
    std::function<bool(const std::string& source)> claims;
    std::function<Result<Input>(const std::string& source, Cel0Reading reading)> find;
    // Its metadata; `placed`: where the grid lies too. Read the dialogue's way (`Walks`), what is
    // damaged is said as events and the conversion goes on; formats without such a way read
    // strictly always.
    std::function<Result<TransferMetadata>(const Input&, MetadataReading reading, bool placed,
                                           EventSink& events)>
        metadata;
    std::function<Result<std::unique_ptr<RowStream>>(const Input&, const TransferMetadata&,
                                                     const RowRequest&, EventSink& events)>
        rows;
    // Whether two windows side by side can be read at once (on two threads) at no more cost than
    // one: each reads only the blocks it needs.
    bool windows_side_by_side = false;
    // Told of a window that will be read later, so that a source on a server fetches its bytes
    // meanwhile; not given where reading costs no wait.
    std::function<void(const Input&, const CellWindow&)> prefetch;
    // Bytes held beside the grid while the rows are read (a member unpacked when opened, a
    // format laid out whole before its first row); none when not given.
    std::function<std::uint64_t(const Input&, const TransferMetadata&)> reading_bytes;
};

// The rows, tried in order: the first that claims a SOURCE finds it.
class ReaderTable {
  public:
    explicit ReaderTable(std::deque<InputFormat> rows) : rows_(std::move(rows)) {}
    void add(InputFormat row) { rows_.push_front(std::move(row)); }  // before every other
    Result<Input> find(const std::string& source,
                       Cel0Reading reading = Cel0Reading::WhenFound) const;
    const std::deque<InputFormat>& rows() const { return rows_; }
    // The row of that name, or null.
    const InputFormat* named(const std::string& name) const;

  private:
    std::deque<InputFormat> rows_;
};

// The program's readers (reader_rows.cpp).
const ReaderTable& inputFormats();
// A transfer's modules as the SDTS row reads them (the dialogue's, found by its prefix).
Input sdtsInput(std::string source, TransferModules modules);

// An input's metadata, read by its row.
Result<TransferMetadata> readMetadata(const Input& input, MetadataReading reading, bool placed,
                                      EventSink& events);

// The one way a grid's rows are read: a window's rows from the input's row, void first, the
// extremes of the valid cells kept as they come.
class RowSource {
  public:
    // `start`: the extremes before any cell (what a grid with no valid cell reports).
    static Result<RowSource> open(const Input& input, const TransferMetadata& metadata,
                                  const RowRequest& request, Extremes start, EventSink& events);
    // The next row into `cells` (the window's columns), or false when none is left.
    bool next(std::int32_t* cells);
    std::int32_t rowsGiven() const { return given_; }
    Status read() const { return stream_->read(); }
    // Of the cells given or, for a whole grid read to its end, of every value the format read.
    Extremes extremes() const;
    void finish(EventSink& events) { stream_->finish(events); }

  private:
    RowSource() = default;
    std::unique_ptr<RowStream> stream_;
    RowRequest request_;
    bool own_extremes_ = false;  // the stream's own count stands: a whole grid read
    std::int32_t no_data_ = 0, valid_above_ = 0, given_ = 0;
    Extremes found_{};
};

// The rows of `window` (the whole grid when none) into a fresh grid: its extremes in whole units
// and where it lies. Read the dialogue's way, what cannot be read reads as void.
Result<DecodedGrid> readGrid(const Input& input, const TransferMetadata& metadata,
                             const std::optional<CellWindow>& window, MetadataReading reading,
                             bool thousandths, EventSink& events);

// A grid read only for its extremes, holding none of it: in whole units or, with `thousandths`,
// in thousandths of one (then max below min when no cell is valid).
Result<Extremes> readGridExtremes(const Input& input, const TransferMetadata& metadata,
                                  bool thousandths, EventSink& events);

}  // namespace marlwood
