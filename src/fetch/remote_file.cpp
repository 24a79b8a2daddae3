#include "fetch/remote_file.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <future>
#include <list>
#include <map>
#include <mutex>
#include <semaphore>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

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
// Blocks less than this apart are fetched in one request: the bytes between cost less than
// another request's round trip.
constexpr std::uint64_t kMergeGap = 256 << 10;
constexpr std::uint64_t kLongestRequest = 32 << 20;
// How long a file's length and ETag are trusted without asking the server again.
constexpr double kFactsFreshSeconds = 7 * 24 * 3600;
using Fetched = std::shared_future<Result<std::string>>;

// The run's requests, made by at most kMostConnections threads: those a reader waits for
// first, then those told to come, each in the order asked.
class FetchQueue {
  public:
    ~FetchQueue() { stop(); }

    // `id` names the request for `hurry`.
    Fetched add(std::function<Result<std::string>()> fetch, bool waited_for, std::uint64_t& id) {
        Job job{std::move(fetch), {}, 0};
        Fetched result = job.done.get_future().share();
        std::unique_lock lock(mutex_);
        id = job.id = ++last_id_;
        auto& queue = waited_for ? urgent_ : ahead_;
        queue.push_back(std::move(job));
        if (idle_ == 0 && workers_.size() < kMostConnections) {
            try {
                workers_.emplace_back([this] { work(); });
            } catch (const std::system_error&) {
                // No thread to be had: the request is made here, now.
                if (workers_.empty()) {
                    Job now = std::move(queue.back());
                    queue.pop_back();
                    lock.unlock();
                    now.run();
                    return result;
                }
            }
        }
        lock.unlock();
        wake_.notify_one();
        return result;
    }

    // A request fetched ahead that a reader now waits for, made before the other ones ahead.
    void hurry(std::uint64_t id) {
        std::lock_guard lock(mutex_);
        const auto it = std::find_if(ahead_.begin(), ahead_.end(),
                                     [&](const Job& job) { return job.id == id; });
        if (it == ahead_.end()) return;
        urgent_.push_back(std::move(*it));
        ahead_.erase(it);
    }

    // Requests not begun fail; those under way are waited for.
    void stop() {
        std::vector<std::thread> workers;
        std::list<Job> dropped;  // moved in without allocating
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            workers.swap(workers_);
            dropped.splice(dropped.end(), urgent_);
            dropped.splice(dropped.end(), ahead_);
        }
        wake_.notify_all();
        for (Job& job : dropped) job.fail("the run ended");
        for (std::thread& worker : workers) worker.join();
        std::lock_guard lock(mutex_);
        stopping_ = false;
        idle_ = 0;
    }

  private:
    struct Job {
        std::function<Result<std::string>()> fetch;
        std::promise<Result<std::string>> done;
        std::uint64_t id;
        void run() {
            try {
                done.set_value(fetch());
            } catch (const std::bad_alloc&) {
                fail("not enough memory for what the server sent");
            }
        }
        // Without memory for the line, whoever waits is told of a broken promise instead.
        void fail(const char* why) {
            try {
                done.set_value(failure(why));
            } catch (const std::exception&) {
            }
        }
    };

    void work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            ++idle_;
            wake_.wait(lock, [&] { return stopping_ || !urgent_.empty() || !ahead_.empty(); });
            --idle_;
            if (stopping_) return;
            auto& queue = urgent_.empty() ? ahead_ : urgent_;
            Job job = std::move(queue.front());
            queue.pop_front();
            lock.unlock();
            job.run();
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::list<Job> urgent_, ahead_;
    std::vector<std::thread> workers_;
    std::size_t idle_ = 0;
    std::uint64_t last_id_ = 0;
    bool stopping_ = false;
};

class ServerFile;

struct Run {
    std::mutex mutex;
    FetchSettings settings;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    FetchCounts counts;
    std::map<std::string, std::shared_ptr<RemoteFile>> files;
    std::vector<std::shared_ptr<ServerFile>> servers;  // the files above on a server
    // Bytes held by every file of the run, and those fetched ahead and not yet read.
    std::uint64_t held = 0, ahead = 0;
    std::uint64_t uses = 0;  // a clock of reads, for letting go the range used longest ago
    FetchQueue queue;
};

// Never destroyed: a process may end (exit on another thread) while a conversion still reads,
// and its files and queue must not go from under it then.
Run& run() {
    static Run* const r = new Run;
    return *r;
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

Fetched ready(Result<std::string> bytes) {
    std::promise<Result<std::string>> done;
    done.set_value(std::move(bytes));
    return done.get_future().share();
}

// Made before it may be needed: when it is, memory may be short.
const Result<std::string> kBroken(failure("a request ended without an answer"));

// The answer to a request, or why there is none; waits for it.
const Result<std::string>& awaited(const Fetched& bytes) {
    try {
        return bytes.get();
    } catch (const std::future_error&) {
        return kBroken;
    }
}

void letGoHeld();

// A file on a server. What the run fetched of it is held (within the run's held_bytes), each
// range fetched once: a read of bytes under way waits for them.
class ServerFile final : public RemoteFile, public std::enable_shared_from_this<ServerFile> {
  public:
    ServerFile(std::string url, FileFacts facts) : url_(std::move(url)), facts_(std::move(facts)) {}

    std::uint64_t size() const override { return facts_.total; }

    void holdHead(std::string bytes) {
        const std::uint64_t length = bytes.size();
        std::lock_guard lock(mutex_);
        held_.push_back({0, length, ready(std::move(bytes)), true, 0, 0});
        std::lock_guard run_lock(run().mutex);
        run().held += length;
    }

    Status read(std::uint64_t offset, std::span<std::uint8_t> out) override {
        if (offset > facts_.total || out.size() > facts_.total - offset) {
            return failure("a read past the end of the file");
        }
        Fetched bytes;
        std::uint64_t first = 0;
        {
            std::lock_guard lock(mutex_);
            Held* held = holding(offset, out.size());
            if (held == nullptr) {
                const ByteRange range{offset,
                                      std::min(std::max<std::uint64_t>(out.size(), kReadAhead),
                                               facts_.total - offset)};
                held = &start(range, true);
            }
            use(*held);
            bytes = held->bytes;
            first = held->first;
        }
        letGoHeld();
        const Result<std::string>& got = awaited(bytes);
        if (!got) return forget(first, got.error());
        if (offset - first + out.size() > got->size()) {
            return failure("a read past the end of the file");
        }
        std::memcpy(out.data(), got->data() + (offset - first), out.size());
        return {};
    }

    Status expect(std::span<const ByteRange> now, std::span<const ByteRange> next) override {
        std::vector<std::pair<std::uint64_t, Fetched>> waited;
        std::uint64_t told = 0;
        {
            std::lock_guard lock(mutex_);
            for (const auto* ranges : {&now, &next}) {
                for (const ByteRange& r : *ranges) {
                    if (told_.insert(r.first).second) told += r.length;
                }
            }
            for (const ByteRange& r : wanted(now)) start(r, true);
            for (const ByteRange& r : now) {
                if (Held* held = holding(r.first, r.length)) {
                    if (!held->read && held->request != 0) run().queue.hurry(held->request);
                    waited.emplace_back(held->first, held->bytes);
                }
            }
            std::vector<ByteRange> ahead = wanted(next);
            std::uint64_t room = 0;
            {
                Run& r = run();
                std::lock_guard run_lock(r.mutex);
                const std::uint64_t most = r.settings.ahead_bytes;
                room = r.ahead < most ? most - r.ahead : 0;
            }
            for (const ByteRange& r : ahead) {
                if (r.length > room) break;
                room -= r.length;
                start(r, false);
            }
        }
        if (told > 0) count(Counted::Told, told);
        letGoHeld();
        for (const auto& [first, bytes] : waited) {
            if (const Result<std::string>& got = awaited(bytes); !got) {
                return forget(first, got.error());
            }
        }
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

    // Lets go of ranges read and fetched until `bytes` are let go or none is left; returns the
    // bytes let go. Read ones go first, those used longest ago first.
    std::uint64_t letGo(std::uint64_t bytes, std::uint64_t used_before) {
        std::lock_guard lock(mutex_);
        std::uint64_t gone = 0;
        std::erase_if(held_, [&](const Held& h) {
            if (gone >= bytes || !h.read || h.last_use >= used_before || h.first == 0) return false;
            if (h.bytes.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
                return false;
            }
            gone += h.length;
            return true;
        });
        return gone;
    }

    // The oldest use of a range read that could be let go, if any.
    std::optional<std::uint64_t> oldestUse() {
        std::lock_guard lock(mutex_);
        std::optional<std::uint64_t> oldest;
        for (const Held& h : held_) {
            if (h.read && h.first != 0 && (!oldest || h.last_use < *oldest)) oldest = h.last_use;
        }
        return oldest;
    }

  private:
    struct Held {
        std::uint64_t first = 0, length = 0;
        Fetched bytes;
        bool read = false;  // by a reader, not only fetched ahead
        std::uint64_t last_use = 0;
        std::uint64_t request = 0;  // the queue's, while it may wait there
    };

    Held* holding(std::uint64_t offset, std::uint64_t length) {
        for (Held& h : held_) {
            if (offset >= h.first && offset + length <= h.first + h.length) return &h;
        }
        return nullptr;
    }

    void use(Held& held) {
        if (!held.read && held.request != 0) run().queue.hurry(held.request);
        Run& r = run();
        std::lock_guard lock(r.mutex);
        if (!held.read) {
            held.read = true;
            r.ahead -= std::min(r.ahead, held.length);
        }
        held.last_use = ++r.uses;
    }

    // A request for `range` begun, its bytes held.
    Held& start(ByteRange range, bool waited_for) {
        {
            Run& r = run();
            std::lock_guard lock(r.mutex);
            r.held += range.length;
            if (!waited_for) r.ahead += range.length;
        }
        std::weak_ptr<ServerFile> self = weak_from_this();
        std::uint64_t request = 0;
        Fetched bytes = run().queue.add(
            [self, range]() -> Result<std::string> {
                const std::shared_ptr<ServerFile> file = self.lock();
                if (!file) return failure("the run ended");
                return file->fetch(range);
            },
            waited_for, request);
        held_.push_back({range.first, range.length, std::move(bytes), waited_for, 0, request});
        return held_.back();
    }

    // A range that failed is not held: asked again, it is fetched again.
    Status forget(std::uint64_t first, const Error& error) {
        std::lock_guard lock(mutex_);
        std::erase_if(held_, [&](const Held& h) {
            if (h.first != first) return false;
            if (h.bytes.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
                return false;
            }
            if (awaited(h.bytes)) return false;
            Run& r = run();
            std::lock_guard run_lock(r.mutex);
            r.held -= std::min(r.held, h.length);
            if (!h.read) r.ahead -= std::min(r.ahead, h.length);
            return true;
        });
        return error;
    }

    // The requests that fetch `ranges`' bytes not held nor under way, neighbours together.
    std::vector<ByteRange> wanted(std::span<const ByteRange> ranges) {
        std::vector<ByteRange> missing;
        for (const ByteRange& r : ranges) {
            if (r.first > facts_.total || r.length > facts_.total - r.first) continue;
            if (holding(r.first, r.length) == nullptr) missing.push_back(r);
        }
        return mergeRanges(std::move(missing), kMergeGap, kLongestRequest);
    }

    std::mutex mutex_;
    std::string url_;
    FileFacts facts_;
    std::vector<Held> held_;
    std::set<std::uint64_t> told_;  // where the ranges told begin: each counted once
};

// Past the run's held_bytes, the ranges read longest ago in any file of the run are let go.
void letGoHeld() {
    Run& r = run();
    std::vector<std::shared_ptr<ServerFile>> servers;
    {
        std::lock_guard lock(r.mutex);
        if (r.held <= r.settings.held_bytes) return;
        servers = r.servers;
    }
    for (;;) {
        std::uint64_t excess = 0;
        {
            std::lock_guard lock(r.mutex);
            if (r.held <= r.settings.held_bytes) return;
            excess = r.held - r.settings.held_bytes;
        }
        // The file whose oldest read range is oldest gives up ranges up to the next file's.
        std::shared_ptr<ServerFile> oldest;
        std::uint64_t oldest_use = 0, next_use = ~std::uint64_t{0};
        for (const auto& file : servers) {
            const std::optional<std::uint64_t> use = file->oldestUse();
            if (!use) continue;
            if (!oldest || *use < oldest_use) {
                if (oldest) next_use = std::min(next_use, oldest_use);
                oldest = file;
                oldest_use = *use;
            } else {
                next_use = std::min(next_use, *use);
            }
        }
        if (!oldest) return;  // all that is held is under way or not yet read
        const std::uint64_t gone =
            oldest->letGo(excess, next_use == ~std::uint64_t{0} ? next_use : next_use + 1);
        if (gone == 0) return;
        std::lock_guard lock(r.mutex);
        r.held -= std::min(r.held, gone);
    }
}

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
    Status expect(std::span<const ByteRange>, std::span<const ByteRange>) override { return {}; }

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

// A file on a server, known to the run, which lets go of what it holds.
std::shared_ptr<RemoteFile> registered(std::shared_ptr<ServerFile> file) {
    Run& r = run();
    std::lock_guard lock(r.mutex);
    r.servers.push_back(file);
    return file;
}

Result<std::shared_ptr<RemoteFile>> openServer(const std::string& url) {
    std::optional<RangeCache> cache = cacheNow();
    if (cache) {
        if (const std::optional<FileFacts> facts = cache->facts(url, kFactsFreshSeconds)) {
            return registered(std::make_shared<ServerFile>(url, *facts));
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
    return registered(std::move(file));
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
    r.queue.stop();
    std::map<std::string, std::shared_ptr<RemoteFile>> files;
    std::vector<std::shared_ptr<ServerFile>> servers;
    {
        std::lock_guard lock(r.mutex);
        files.swap(r.files);
        servers.swap(r.servers);
    }
    files.clear();  // outside the lock: a file let go gives back what it held
    servers.clear();
    std::lock_guard lock(r.mutex);
    r.settings.progress = nullptr;
    r.held = r.ahead = 0;
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
