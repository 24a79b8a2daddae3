#include "fetch/remote_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <fstream>
#include <future>
#include <map>
#include <mutex>
#include <semaphore>
#include <system_error>

#include "fetch/http_client.h"
#include "fetch/range_cache.h"

namespace marlwood {

namespace {

using fetch_detail::Answer;
using fetch_detail::FileFacts;
using fetch_detail::RangeCache;
using fetch_detail::RequestLimits;

// The first request of a file: its header, and with a COG's layout its tags and block lists
// too (a 3DEP tile's take some 10 KiB).
constexpr std::uint64_t kHeadBytes = 64 << 10;
// A read outside what is held fetches at least this much, so that libtiff's small reads of
// tags do not each make a request.
constexpr std::uint64_t kReadAhead = 64 << 10;
constexpr std::size_t kReadAheadsHeld = 16;
// Blocks less than this apart are fetched in one request: the bytes between cost less than
// another request's round trip.
constexpr std::uint64_t kMergeGap = 256 << 10;
constexpr std::uint64_t kLongestRequest = 32 << 20;
// How long a file's length and ETag are trusted without asking the server again.
constexpr double kFactsFreshSeconds = 7 * 24 * 3600;

struct Run {
    std::mutex mutex;
    FetchSettings settings;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    FetchCounts counts;
    std::map<std::string, std::shared_ptr<RemoteFile>> files;
};

Run& run() {
    static Run r;
    return r;
}

RequestLimits limitsNow() {
    Run& r = run();
    std::lock_guard lock(r.mutex);
    const auto run_time = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(r.settings.run_seconds));
    return {r.started + run_time, r.settings.stall_seconds, r.settings.retries,
            r.settings.first_backoff_seconds};
}

std::optional<RangeCache> cacheNow() {
    Run& r = run();
    std::lock_guard lock(r.mutex);
    if (!r.settings.use_cache) return std::nullopt;
    std::filesystem::path dir = r.settings.cache_dir;
    if (dir.empty()) dir = RangeCache::defaultDir();
    if (dir.empty()) return std::nullopt;
    return RangeCache(dir, r.settings.cache_bytes);
}

enum class Counted { Fetched, FromCache, Told };

void count(Counted what, std::uint64_t bytes) {
    Run& r = run();
    FetchCounts now;
    std::function<void(const FetchCounts&)> progress;
    {
        std::lock_guard lock(r.mutex);
        switch (what) {
            case Counted::Fetched:
                ++r.counts.requests;
                r.counts.bytes_fetched += bytes;
                break;
            case Counted::FromCache:
                ++r.counts.cache_hits;
                r.counts.bytes_from_cache += bytes;
                break;
            case Counted::Told:
                r.counts.bytes_told += bytes;
                break;
        }
        now = r.counts;
        progress = r.settings.progress;
    }
    if (progress) progress(now);
}

// The run's connections: a request waits for one of kMostConnections.
std::counting_semaphore<kMostConnections>& connections() {
    static std::counting_semaphore<kMostConnections> slots(kMostConnections);
    return slots;
}

struct Connection {
    Connection() { connections().acquire(); }
    ~Connection() { connections().release(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
};

using Fetched = std::shared_future<Result<std::string>>;

// `fetch` on a thread of its own; on this one when no thread is to be had.
template <typename F>
Fetched started(F fetch) {
    try {
        return std::async(std::launch::async, fetch).share();
    } catch (const std::system_error&) {
        std::promise<Result<std::string>> done;
        done.set_value(fetch());
        return done.get_future().share();
    }
}

// Held ranges of a file: the head for the file's life, those `expect` was told until the next
// call, and a few read-aheads.
class Held {
  public:
    const std::string* find(std::uint64_t offset, std::uint64_t length, std::uint64_t& at) const {
        for (const auto* list : {&head_, &expected_, &read_aheads_}) {
            for (const auto& [first, bytes] : *list) {
                if (offset >= first && offset + length <= first + bytes.size()) {
                    at = offset - first;
                    return &bytes;
                }
            }
        }
        return nullptr;
    }
    void setHead(std::uint64_t first, std::string bytes) {
        head_.assign(1, {first, std::move(bytes)});
    }
    void expectOnly() { expected_.clear(); }
    void addExpected(std::uint64_t first, std::string bytes) {
        expected_.emplace_back(first, std::move(bytes));
    }
    void addReadAhead(std::uint64_t first, std::string bytes) {
        if (read_aheads_.size() == kReadAheadsHeld) read_aheads_.pop_front();
        read_aheads_.emplace_back(first, std::move(bytes));
    }

  private:
    std::deque<std::pair<std::uint64_t, std::string>> head_, expected_, read_aheads_;
};

class ServerFile final : public RemoteFile {
  public:
    ServerFile(std::string url, FileFacts facts) : url_(std::move(url)), facts_(std::move(facts)) {}

    std::uint64_t size() const override { return facts_.total; }

    void holdHead(std::string bytes) { held_.setHead(0, std::move(bytes)); }

    Status read(std::uint64_t offset, std::span<std::uint8_t> out) override {
        std::lock_guard lock(mutex_);
        if (offset > facts_.total || out.size() > facts_.total - offset) {
            return failure("a read past the end of the file");
        }
        std::uint64_t at = 0;
        const std::string* bytes = held_.find(offset, out.size(), at);
        if (bytes == nullptr) {
            const ByteRange range{offset, std::min(std::max<std::uint64_t>(out.size(), kReadAhead),
                                                   facts_.total - offset)};
            Result<std::string> got = fetch(range);
            if (!got) return got.error();
            held_.addReadAhead(offset, std::move(*got));
            bytes = held_.find(offset, out.size(), at);
            if (bytes == nullptr) return failure("a read past the end of the file");
        }
        std::memcpy(out.data(), bytes->data() + at, out.size());
        return {};
    }

    Status expect(std::span<const ByteRange> now, std::span<const ByteRange> next,
                  std::uint64_t window_bytes) override {
        if (window_bytes > 0) count(Counted::Told, window_bytes);
        std::lock_guard lock(mutex_);
        held_.expectOnly();
        // Each request of `now` from one fetched meanwhile that holds it, else started now, all
        // of them at once.
        std::vector<std::pair<ByteRange, Fetched>> coming;
        for (const ByteRange& r : wanted(now)) {
            const auto ahead = std::find_if(pending_.begin(), pending_.end(), [&](const auto& p) {
                return p.first.first <= r.first && r.end() <= p.first.end();
            });
            if (ahead != pending_.end()) {
                if (std::none_of(coming.begin(), coming.end(), [&](const auto& c) {
                        return c.first.first == ahead->first.first;
                    }))
                    coming.push_back(*ahead);
                continue;
            }
            coming.emplace_back(r, started([this, r] { return fetch(r); }));
        }
        std::erase_if(pending_, [&](const auto& p) {
            return std::any_of(coming.begin(), coming.end(),
                               [&](const auto& c) { return c.first.first == p.first.first; });
        });
        Status problem;
        for (auto& [range, bytes] : coming) {
            const Result<std::string>& got = bytes.get();
            if (!got) {
                if (problem) problem = got.error();
                continue;
            }
            held_.addExpected(range.first, *got);
        }
        if (!problem) return problem;
        // What comes next, fetched while this is read (what is fetched already is not again).
        std::vector<std::pair<ByteRange, Fetched>> still;
        for (const ByteRange& r : wanted(next)) {
            const auto ahead = std::find_if(pending_.begin(), pending_.end(), [&](const auto& p) {
                return p.first.first <= r.first && r.end() <= p.first.end();
            });
            if (ahead != pending_.end()) {
                still.push_back(*ahead);
            } else {
                still.emplace_back(r, started([this, r] { return fetch(r); }));
            }
        }
        pending_ = std::move(still);
        return {};
    }

    // The bytes of `range` from the cache, else from the server (then kept in the cache).
    Result<std::string> fetch(ByteRange range) {
        std::optional<RangeCache> cache = cacheNow();
        if (cache) {
            if (auto bytes = cache->bytes(url_, facts_.etag, range.first, range.length);
                bytes && bytes->size() == range.length) {
                count(Counted::FromCache, bytes->size());
                return std::move(*bytes);
            }
        }
        Result<Answer> answer = failure("");
        {
            Connection connection;
            answer = fetch_detail::fetchRange(url_, range, facts_.total, limitsNow());
        }
        if (!answer) return answer.error();
        count(Counted::Fetched, answer->body.size());
        if (answer->etag != facts_.etag) {
            // Learnt again by the next run.
            if (cache) cache->forgetFacts(url_);
            return failure("the file changed on the server since it was first read (its ETag was " +
                           facts_.etag + ", now " + answer->etag + "); run again");
        }
        if (cache) cache->keepBytes(url_, facts_.etag, range.first, answer->body);
        return std::move(answer->body);
    }

  private:
    // The requests that fetch `ranges`' bytes not held, neighbours together.
    std::vector<ByteRange> wanted(std::span<const ByteRange> ranges) const {
        std::vector<ByteRange> missing;
        for (const ByteRange& r : ranges) {
            if (r.first > facts_.total || r.length > facts_.total - r.first) continue;
            std::uint64_t at = 0;
            if (held_.find(r.first, r.length, at) == nullptr) missing.push_back(r);
        }
        return mergeRanges(std::move(missing), kMergeGap, kLongestRequest);
    }

    std::mutex mutex_;
    std::string url_;
    FileFacts facts_;
    Held held_;
    // Requests under way for what was told to come next. Declared last, so that a file let go
    // waits for them before what they use goes.
    std::vector<std::pair<ByteRange, Fetched>> pending_;
};

// A file:// URL: a local file read where asked.
class LocalFile final : public RemoteFile {
  public:
    LocalFile(std::ifstream in, std::uint64_t size) : in_(std::move(in)), size_(size) {}
    std::uint64_t size() const override { return size_; }
    Status read(std::uint64_t offset, std::span<std::uint8_t> out) override {
        std::lock_guard lock(mutex_);
        if (offset > size_ || out.size() > size_ - offset) {
            return failure("a read past the end of the file");
        }
        in_.clear();
        in_.seekg(static_cast<std::streamoff>(offset));
        in_.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
        if (static_cast<std::uint64_t>(in_.gcount()) != out.size()) {
            return failure("the file cannot be read");
        }
        return {};
    }
    Status expect(std::span<const ByteRange>, std::span<const ByteRange>, std::uint64_t) override {
        return {};
    }

  private:
    std::mutex mutex_;
    std::ifstream in_;
    std::uint64_t size_;
};

Result<std::shared_ptr<RemoteFile>> openLocal(const std::string& path) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status)) return failure("no such file", ErrorKind::Absent);
    if (!std::filesystem::is_regular_file(status)) return failure("not a regular file");
    std::ifstream in(path, std::ios::binary);
    if (!in) return failure(std::string("cannot open it: ") + std::strerror(errno));
    const std::uint64_t size = std::filesystem::file_size(path, error);
    if (error) return failure("cannot read its length");
    return std::shared_ptr<RemoteFile>(std::make_shared<LocalFile>(std::move(in), size));
}

Result<std::shared_ptr<RemoteFile>> openServer(const std::string& url) {
    std::optional<RangeCache> cache = cacheNow();
    if (cache) {
        if (const std::optional<FileFacts> facts = cache->facts(url, kFactsFreshSeconds)) {
            return std::shared_ptr<RemoteFile>(std::make_shared<ServerFile>(url, *facts));
        }
    }
    Result<Answer> head = failure("");
    {
        Connection connection;
        head = fetch_detail::fetchRange(url, {0, kHeadBytes}, 0, limitsNow());
    }
    if (!head) return head.error();
    count(Counted::Fetched, head->body.size());
    if (head->total == 0) return failure("the server's file is empty");
    const FileFacts facts{head->total, head->etag};
    if (cache) {
        cache->keepFacts(url, facts);
        cache->keepBytes(url, facts.etag, 0, head->body);
    }
    auto file = std::make_shared<ServerFile>(url, facts);
    file->holdHead(std::move(head->body));
    return std::shared_ptr<RemoteFile>(std::move(file));
}

}  // namespace

void beginFetchRun(const FetchSettings& settings) {
    endFetchRun();
    Run& r = run();
    std::lock_guard lock(r.mutex);
    r.settings = settings;
    r.started = std::chrono::steady_clock::now();
    r.counts = {};
}

FetchCounts fetchCounts() {
    Run& r = run();
    std::lock_guard lock(r.mutex);
    return r.counts;
}

void endFetchRun() {
    Run& r = run();
    std::map<std::string, std::shared_ptr<RemoteFile>> files;
    {
        std::lock_guard lock(r.mutex);
        files.swap(r.files);
    }
    files.clear();  // outside the lock: a request still under way counts what it fetched
    std::lock_guard lock(r.mutex);
    r.settings.progress = nullptr;
}

Result<std::shared_ptr<RemoteFile>> openRemote(const std::string& url) {
    if (Status allowed = remoteAllowed(url); !allowed) return allowed.error();
    Run& r = run();
    {
        std::lock_guard lock(r.mutex);
        if (const auto it = r.files.find(url); it != r.files.end()) return it->second;
    }
    Result<std::shared_ptr<RemoteFile>> opened =
        filePathOf(url) ? openLocal(*filePathOf(url)) : openServer(url);
    if (!opened) return opened.error();
    std::lock_guard lock(r.mutex);
    return r.files.emplace(url, *opened).first->second;
}

}  // namespace marlwood
