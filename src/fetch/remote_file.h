#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "common/result.h"
#include "fetch/locations.h"

// Files read by ranges from a server (libcurl, loaded when first needed; WinHTTP on Windows) or a
// file:// URL, with a cache of what was fetched on the user's disk.
namespace marlwood {

// What the run has fetched so far.
struct FetchCounts {
    std::uint64_t requests = 0, bytes_fetched = 0;  // from servers
    std::uint64_t cache_hits = 0, bytes_from_cache = 0;
    std::uint64_t bytes_told = 0;  // the blocks the readers said they will read
};

// How a run fetches; the front end sets it before its first source.
struct FetchSettings {
    bool use_cache = true;
    // Empty: the user's, $XDG_CACHE_HOME/marlwood or ~/.cache/marlwood (%LOCALAPPDATA%\marlwood on
    // Windows).
    std::string cache_dir;
    std::uint64_t cache_bytes = std::uint64_t{4} << 30;  // oldest entries evicted past this
    double run_seconds = 3600;                           // every request of the run together
    double stall_seconds = 30;           // a request that moves no byte this long is given up
    int retries = 4;                     // of a request answered 5xx, or timed out
    double first_backoff_seconds = 0.5;  // doubled each retry
    // What the run holds of what it fetched, so that no range is fetched twice (a merge's seams
    // read again blocks its windows read); past it, the ranges read longest ago are let go.
    std::uint64_t held_bytes = std::uint64_t{256} << 20;
    // Ranges told to come are fetched ahead while no more than this is fetched and not yet
    // read; beyond, they are fetched when their reader comes to them.
    std::uint64_t ahead_bytes = std::uint64_t{128} << 20;
    // Told the counts after each request or cache hit, on the thread that made it.
    std::function<void(const FetchCounts&)> progress;
};

// At most this many requests are made at once, over as many connections.
inline constexpr int kMostConnections = 4;

// A new run: its settings, its clock, its counts at zero and no file held from an earlier one.
void beginFetchRun(const FetchSettings& settings);
FetchCounts fetchCounts();
// The run's end: requests still under way are waited for, the files let go, and the progress
// callback told nothing more.
void endFetchRun();

// One remote file, read by ranges: the bytes asked for come from those held, the cache, or
// the server, in that order. Safe to share between threads.
class RemoteFile {
  public:
    virtual ~RemoteFile() = default;
    virtual std::uint64_t size() const = 0;
    // Fills `out` with the bytes at `offset`, all of them or a failure.
    virtual Status read(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
    // The ranges about to be read (`now`): fetched, neighbours together and on several
    // connections, and waited for. Those to be read after them (`next`) are fetched meanwhile,
    // in the order told. Both are held for later reads (see FetchSettings::held_bytes), and what
    // is held or under way is never asked again. Each range told the first time counts as bytes
    // the run will read (FetchCounts::bytes_told).
    virtual Status expect(std::span<const ByteRange> now, std::span<const ByteRange> next) = 0;
};

// The run's file at `url` (opened once a run): its length learnt from the server (or the
// cache). A file the server does not have is an Error of kind Absent.
Result<std::shared_ptr<RemoteFile>> openRemote(const std::string& url);

}  // namespace marlwood
