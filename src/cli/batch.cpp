#include "cli/batch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>

#include "cli/report.h"
#include "fetch/locations.h"
#include "fetch/remote_file.h"
#include "pipeline/conversion.h"
#include "platform/whole_file.h"
#include "source/transfer_source.h"

namespace marlwood {

namespace {

// job(0) .. job(count - 1), on `jobs` threads (0: one a core), each index taken once. A job
// that runs out of memory is handed to `no_memory` on this thread once all are done: an
// exception on another thread would end the process without a word.
void forEachOnCores(std::size_t count, unsigned jobs, const std::function<void(std::size_t)>& job,
                    const std::function<void(std::size_t)>& no_memory) {
    std::atomic<std::size_t> next{0};
    std::vector<char> out_of_memory(count, 0);
    auto worker = [&] {
        for (std::size_t i; (i = next++) < count;) {
            try {
                job(i);
            } catch (const std::bad_alloc&) {
                out_of_memory[i] = 1;
            }
        }
    };
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t threads_wanted = std::min<std::size_t>(jobs == 0 ? cores : jobs, count);
    std::vector<std::thread> threads;
    for (std::size_t t = 1; t < threads_wanted; ++t) {
        try {
            threads.emplace_back(worker);
        } catch (const std::system_error&) {
            break;  // no other thread to be had: the ones there take every job
        }
    }
    worker();
    for (auto& thread : threads) thread.join();
    for (std::size_t i = 0; i < count; ++i) {
        if (out_of_memory[i]) no_memory(i);
    }
}

constexpr const char* kNoMemoryForSource = "not enough memory to read and convert it";

// What the run has fetched from servers, on a terminal: the bytes come of those the readers said
// they will read, rewritten in place, cleared before any other line and at the end.
class FetchLine {
  public:
    void start(std::ostream& err, std::string label) {
        std::lock_guard lock(mutex_);
        err_ = &err;
        label_ = std::move(label);
    }
    void show(const FetchCounts& counts) {
        std::lock_guard lock(mutex_);
        const auto now = std::chrono::steady_clock::now();
        // Often enough to be seen moving, seldom enough to cost nothing.
        if (err_ == nullptr || (shown_ && now - last_ < std::chrono::milliseconds(100))) return;
        last_ = now;
        const std::uint64_t done = counts.bytes_fetched + counts.bytes_from_cache;
        char text[96];
        std::snprintf(text, sizeof text, "%.1f of %.1f MB fetched", static_cast<double>(done) / 1e6,
                      static_cast<double>(std::max(done, counts.bytes_told)) / 1e6);
        *err_ << '\r' << label_ << ": " << text << "\033[K" << std::flush;
        shown_ = true;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        if (shown_) *err_ << "\r\033[K" << std::flush;
        shown_ = false;
    }
    void stop() {
        clear();
        std::lock_guard lock(mutex_);
        err_ = nullptr;
    }

  private:
    std::mutex mutex_;
    std::ostream* err_ = nullptr;
    std::string label_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_;
};

FetchLine& fetchLine() {
    static FetchLine line;
    return line;
}

namespace fs = std::filesystem;

// The device that is standard output, by whatever name an output reaches it.
const std::string kStandardOutputDevice[] = {"/dev/stdout"};

// What one source came to; filled by its job, printed in source order.
struct Outcome {
    bool done = false;
    bool converted = false;
    bool shape_refused = false;            // a usage error found only once the terrain was known
    std::vector<std::string> stage_lines;  // what -v shows
    std::vector<std::string> problems;
    std::string report;  // the report line, when converted
};

ConversionTarget targetFor(const Options& options, const Transfer& transfer) {
    ConversionTarget target;
    if (!options.output_file.empty()) {
        target.path = options.output_file;
    } else {
        const fs::path dir = options.output_dir.empty() ? "." : options.output_dir;
        target.path =
            (dir / (transfer.output_stem + options.settings.outputFormat().extension())).string();
    }
    if (options.settings.preview) {
        target.preview = fs::path(target.path).replace_extension(".png").string();
    }
    return target;
}

// Every file a conversion writes: the terrain's (a heightmap's tiles and sidecar too) and the
// picture.
std::vector<std::string> writtenFiles(const Options& options, const ConversionTarget& target) {
    std::vector<std::string> files;
    if (!target.path.empty()) {
        files = filesWritten(options.settings.outputFormat(), target.path, options.settings);
    }
    files.push_back(target.preview);
    return files;
}

// The files a source is read from: its module files or its one file, or its archive.
std::vector<std::string> inputFiles(const Input& input) {
    std::vector<std::string> files{input.source};
    for (const ModuleSource* m : input.files()) {
        if (!m->bytes) files.push_back(m->name);
    }
    return files;
}

// Whether `output` may be written; not when it is an input of the run (whatever -f says: device and
// inode compared, so links and ".." do not get around it), a directory, a link to nothing, or an
// existing file without -f. A device, a named pipe or standard output is written in place.
Status mayWrite(const std::string& output, bool force, const std::vector<std::string>& inputs) {
    if (output == kStandardOutput) return {};
    if (const auto input = sameFileAs(output, inputs)) {
        return failure(output + " is an input of this run (" + inputs[*input] +
                       "); it is never written over");
    }
    switch (outputTarget(output)) {
        case OutputTarget::Absent:
        case OutputTarget::InPlace:
            return {};
        case OutputTarget::Directory:
            return failure(output + " is a directory");
        case OutputTarget::DanglingLink:
            return failure(output + " is a link to nothing; marlwood does not create its target");
        case OutputTarget::RegularFile:
            break;
    }
    if (force) return {};
    return failure(output + " exists; -f replaces it");
}

// With -f, the tiles an older set of a heightmap's name left beside it are removed, unless the
// run reads or writes them; without -f they stay and the report names them.
void removeStaleTiles(ConversionSummary& summary, bool force,
                      const std::function<bool(const std::string&)>& in_use) {
    if (!force) return;
    std::vector<std::string> kept;
    for (const std::string& tile : summary.stale_tiles) {
        std::error_code error;
        if (!in_use(tile) && fs::remove(tile, error)) {
            ++summary.stale_tiles_removed;
        } else {
            kept.push_back(tile);
        }
    }
    summary.stale_tiles = std::move(kept);
}

// Refuses two outputs of one source that are one file (-o x.png with --preview), or a picture
// beside standard output.
Status outputsApart(const Options& options) {
    if (!options.settings.preview || options.output_file.empty()) return {};
    if (options.output_file == kStandardOutput) {
        return failure("--preview writes a picture beside the terrain's file; -o - has none");
    }
    const fs::path terrain(options.output_file);
    if (fs::path(terrain).replace_extension(".png") == terrain) {
        return failure("--preview writes " + options.output_file +
                       " beside the terrain, which -o names too; give the terrain another name");
    }
    return {};
}

class Batch {
  public:
    Batch(const Options& options, std::ostream& out, std::ostream& err, bool err_is_terminal,
          EventSink* watcher)
        : options_(options),
          watcher_(watcher),
          out_(out),
          err_(err),
          progress_(err_is_terminal && !options.quiet && options.sources.size() > 1),
          outcomes_(options.sources.size()) {}

    int run() {
        if (options_.common_range) {
            runJobs([this](std::size_t i) { findExtremes(i); });
            if (!have_range_) {
                flushAll();
                return 1;
            }
        }
        runJobs([this](std::size_t i) { convert(i); });
        flushAll();
        if (std::any_of(outcomes_.begin(), outcomes_.end(),
                        [](const Outcome& o) { return o.shape_refused; })) {
            return 2;
        }
        return std::all_of(outcomes_.begin(), outcomes_.end(),
                           [](const Outcome& o) { return o.converted; })
                   ? 0
                   : 1;
    }

  private:
    void runJobs(const std::function<void(std::size_t)>& job) {
        forEachOnCores(outcomes_.size(), options_.jobs, job, [this](std::size_t i) {
            {
                std::lock_guard lock(mutex_);
                // Outputs it claimed are free again; its line says what happened.
                outcomes_[i].done = false;
            }
            fail(i, kNoMemoryForSource);
        });
    }

    void findExtremes(std::size_t i) {
        Result<Input> transfer = inputFormats().find(options_.sources[i]);
        if (!transfer) return fail(i, transfer.message());
        NoEvents quiet;
        if (options_.settings.outputFormat().heightmap) {
            const Result<std::optional<HeightRange>> heights = readHeightRange(*transfer, quiet);
            if (!heights) return fail(i, heights.message());
            std::lock_guard lock(mutex_);
            if (*heights) heights_ = heights_ ? unionOf(*heights_, **heights) : **heights;
            have_range_ = true;
            return;
        }
        const Result<Extremes> extremes = readExtremes(*transfer, quiet);
        if (!extremes) return fail(i, extremes.message());
        std::lock_guard lock(mutex_);
        range_ = have_range_ ? unionOf(range_, *extremes) : *extremes;
        have_range_ = true;
    }

    void convert(std::size_t i) {
        {
            std::lock_guard lock(mutex_);
            if (outcomes_[i].done) return;  // refused in the first pass
        }
        // Memory that runs out here must still let this source take its turn below, or the
        // sources after it would wait for that turn for ever.
        Result<Input> transfer = failure(kNoMemoryForSource);
        ConversionTarget target;
        try {
            transfer = inputFormats().find(options_.sources[i]);
            if (transfer) target = targetFor(options_, *transfer);
        } catch (const std::bad_alloc&) {
            transfer = failure(kNoMemoryForSource);
        }
        // Outputs are claimed in the order the sources were given, whatever -j is, so which of
        // two sources gets a shared name never depends on timing.
        if (const Status claimed = claimInTurn(i, transfer, target); !claimed) {
            return fail(i, claimed.message());
        }
        ConversionRequest request;
        request.sources = {std::move(*transfer)};
        request.settings = options_.settings;
        if (options_.common_range) {
            request.settings.common_range = range_;
            request.settings.common_heights = heights_;
        }
        SourceEvents words;
        TeeEvents events(words, watcher_);
        Result<ConversionOutcome> conversion = runConversion(request, fixedTarget(target), events);

        Outcome outcome;
        outcome.done = true;
        outcome.stage_lines = std::move(words.stage_lines);
        outcome.problems = std::move(words.warnings);
        if (!conversion) {
            outcome.problems.push_back(conversion.message());
            outcome.shape_refused = conversion.error().kind == ErrorKind::UsageShape;
        } else {
            removeStaleTiles(conversion->summary, options_.force, [this](const std::string& tile) {
                std::lock_guard lock(mutex_);
                std::error_code error;
                const std::string key = fs::weakly_canonical(tile, error).string();
                return sameFileAs(tile, inputs_).has_value() || claimed_.count(key) > 0;
            });
            outcome.converted = !conversion->summary.preview_problem;
            if (conversion->summary.preview_problem) {
                outcome.problems.push_back(conversion->summary.preview_problem->message);
            }
            outcome.report = conversionReport(options_.sources[i], *conversion);
        }
        std::lock_guard lock(mutex_);
        outcomes_[i] = std::move(outcome);
        flushReady();
    }

    // Waits until every earlier source has claimed its outputs, then claims this one's: an Error
    // when the transfer was not found or an output may not be written.
    Status claimInTurn(std::size_t i, const Result<Input>& transfer,
                       const ConversionTarget& outputs) {
        std::unique_lock lock(mutex_);
        turn_changed_.wait(lock, [&] { return claimed_upto_ == i; });
        Status claimed = failure(kNoMemoryForSource);
        try {
            claimed = claim(i, transfer, outputs);
        } catch (const std::bad_alloc&) {
        }
        ++claimed_upto_;
        turn_changed_.notify_all();
        return claimed;
    }

    Status claim(std::size_t i, const Result<Input>& transfer, const ConversionTarget& outputs) {
        if (!transfer) return transfer.error();
        for (const std::string& file : inputFiles(*transfer)) {
            inputs_.push_back(file);
        }
        for (const std::string& output : writtenFiles(options_, outputs)) {
            if (output.empty()) continue;
            std::error_code error;
            auto key = fs::weakly_canonical(output, error).string();
            if (error) key = output;
            if (const auto it = claimed_.find(key); it != claimed_.end()) {
                return failure("writes " + output + " like " + options_.sources[it->second] +
                               "; give it its own -d");
            }
            if (Status writable = mayWrite(output, options_.force, inputs_); !writable) {
                return writable;
            }
            claimed_[key] = i;
        }
        return {};
    }

    void fail(std::size_t i, const std::string& problem) {
        std::lock_guard lock(mutex_);
        outcomes_[i].problems.push_back(problem);
        outcomes_[i].done = true;
        flushReady();
    }

    // Prints the outcomes that are done, in source order, up to the first that is not.
    void flushReady() {
        for (; flushed_ < outcomes_.size() && outcomes_[flushed_].done; ++flushed_) {
            print(outcomes_[flushed_], options_.sources[flushed_]);
        }
        if (progress_) {
            std::size_t done = 0;
            for (const Outcome& o : outcomes_) done += o.done ? 1 : 0;
            err_ << "\r" << done << " of " << outcomes_.size() << " sources" << std::flush;
            if (done == outcomes_.size()) err_ << "\r\033[K" << std::flush;
        }
    }

    void flushAll() {
        std::lock_guard lock(mutex_);
        for (Outcome& o : outcomes_) o.done = true;
        flushReady();
    }

    void print(const Outcome& outcome, const std::string& source) {
        fetchLine().clear();
        if (progress_) err_ << "\r\033[K";
        if (options_.verbose) {
            for (const std::string& line : outcome.stage_lines)
                out_ << source << ": " << line << '\n';
        }
        for (const std::string& problem : outcome.problems) {
            err_ << "marlwood: " << source << ": " << problem << '\n';
        }
        if (!options_.quiet && !outcome.report.empty()) out_ << outcome.report << '\n';
        out_ << std::flush;
        err_ << std::flush;
    }

    const Options& options_;
    EventSink* watcher_;
    std::ostream& out_;
    std::ostream& err_;
    const bool progress_;
    std::mutex mutex_;
    std::condition_variable turn_changed_;
    std::size_t claimed_upto_ = 0;
    std::vector<Outcome> outcomes_;
    std::size_t flushed_ = 0;
    std::map<std::string, std::size_t> claimed_;
    std::vector<std::string> inputs_;  // every input file of the sources claimed so far
    Extremes range_;
    std::optional<HeightRange> heights_;  // a heightmap's common range, from valid cells only
    bool have_range_ = false;
};

// --merge: every source found first, then one terrain from them all.
int runMerge(const Options& options, std::ostream& out, std::ostream& err, EventSink* watcher) {
    std::vector<Input> sources;
    std::vector<std::string> inputs;
    bool found_all = true;
    // Each CEL0 is read when its rows are decoded, so that a merge from archives never holds
    // every source's elevations at once. The sources are found on every core: an archive is
    // unpacked to find its modules.
    std::vector<std::optional<Result<Input>>> founds(options.sources.size());
    // Finding a source on a server waits for its header: as many at once as there are
    // connections.
    const bool all_remote = std::all_of(options.sources.begin(), options.sources.end(),
                                        [](const std::string& s) { return namesRemote(s); });
    const unsigned finders =
        all_remote ? std::max(options.jobs, static_cast<unsigned>(kMostConnections)) : options.jobs;
    forEachOnCores(
        founds.size(), finders,
        [&](std::size_t i) {
            founds[i] = inputFormats().find(options.sources[i], Cel0Reading::WhenOpened);
        },
        [&](std::size_t i) { founds[i] = Result<Input>(failure(kNoMemoryForSource)); });
    fetchLine().clear();
    std::size_t not_found = 0;
    std::vector<std::string> absent;  // tiles of a 3DEP box the server has not
    for (std::size_t i = 0; i < founds.size(); ++i) {
        const std::string& source = options.sources[i];
        Result<Input>& found = *founds[i];
        if (!found && !options.dep_source.empty() && found.error().kind == ErrorKind::Absent) {
            absent.push_back(lastComponent(source));
            continue;
        }
        if (!found) {
            err << "marlwood: " << source << ": " << found.message() << '\n';
            found_all = false;
            ++not_found;
            continue;
        }
        for (const std::string& file : inputFiles(*found)) inputs.push_back(file);
        sources.push_back(std::move(*found));
    }
    if (!found_all) {
        // One line says it all; after several, a last one says what came of them.
        if (not_found > 1) {
            err << "marlwood: nothing merged: " << not_found << " of " << founds.size()
                << " sources failed\n";
        }
        err << std::flush;
        return 1;
    }
    if (sources.empty()) {
        err << "marlwood: " << options.dep_source << ": the server has none of the box's "
            << absent.size() << " tiles (" << absent.front() << " ...)\n"
            << std::flush;
        return 1;
    }
    ConversionTarget target{options.output_file, nullptr, {}};
    if (options.settings.preview) {
        target.preview = fs::path(target.path).replace_extension(".png").string();
    }
    for (const std::string& output : writtenFiles(options, target)) {
        if (output.empty()) continue;
        if (Status writable = mayWrite(output, options.force, inputs); !writable) {
            err << "marlwood: " << writable.message() << '\n' << std::flush;
            return 1;
        }
    }
    ConversionRequest request;
    request.sources = std::move(sources);
    request.merge = true;
    request.whole_crop = !absent.empty();
    request.settings = options.settings;
    request.settings.threads = options.jobs;
    SourceEvents words;
    TeeEvents events(words, watcher);
    Result<ConversionOutcome> merged = runConversion(request, fixedTarget(target), events);
    fetchLine().clear();
    if (options.verbose) {
        for (const std::string& line : words.stage_lines) out << "merge: " << line << '\n';
    }
    for (const std::string& warning : words.warnings) err << "marlwood: " << warning << '\n';
    if (!merged) {
        err << "marlwood: " << merged.message() << '\n' << std::flush;
        return merged.error().kind == ErrorKind::UsageShape ? 2 : 1;
    }
    removeStaleTiles(merged->summary, options.force,
                     [&](const std::string& tile) { return sameFileAs(tile, inputs).has_value(); });
    if (!options.quiet) {
        for (const std::string& line : mergeReport(*merged)) out << line << '\n';
        for (const std::string& tile : absent) {
            out << options.dep_source << ": " << tile
                << " is not on the server (no data there): its part of the box is void\n";
        }
    }
    int status = 0;
    if (const auto& problem = merged->summary.preview_problem) {
        err << "marlwood: " << problem->message << '\n';
        status = 1;
    }
    out << std::flush;
    err << std::flush;
    return status;
}

}  // namespace

int runBatch(const Options& options, std::ostream& out, std::ostream& err, bool err_is_terminal,
             EventSink* watcher) {
    if (options.merge) return runMerge(options, out, err, watcher);
    if (!options.output_dir.empty()) {
        // A folder that is not there yet is made, as batch tools do; its parent must exist.
        std::error_code error;
        if (!fs::is_directory(options.output_dir, error) &&
            !fs::create_directory(options.output_dir, error)) {
            err << "marlwood: cannot make the directory " << options.output_dir << ": "
                << (error ? error.message() : "a file of that name is there") << '\n'
                << std::flush;
            return 1;
        }
    }
    return Batch(options, out, err, err_is_terminal, watcher).run();
}

int runCommandLine(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                   bool err_is_terminal, EventSink* watcher, const FormatTable& formats) {
    Result<Options> parsed = parseOptions(arguments, formats);
    const Status usable = parsed ? outputsApart(*parsed) : Status(parsed.error());
    if (!usable) {
        err << "marlwood: " << usable.message() << "\nTry 'marlwood --help'.\n" << std::flush;
        return 2;
    }
    FetchSettings fetching;
    fetching.use_cache = !parsed->no_cache;
    fetching.stall_seconds = parsed->stall_seconds;
    fetching.progress = [](const FetchCounts& counts) { fetchLine().show(counts); };
    beginFetchRun(fetching);
    const bool fetches = std::any_of(parsed->sources.begin(), parsed->sources.end(),
                                     [](const std::string& s) { return namesRemote(s); });
    // Not beside a batch's own line of sources done.
    if (fetches && err_is_terminal && !parsed->quiet && parsed->output_file != kStandardOutput &&
        (parsed->merge || parsed->sources.size() == 1)) {
        fetchLine().start(err, parsed->dep_source.empty() ? "fetching" : parsed->dep_source);
    }
    int status = 0;
    if (parsed->help) {
        out << helpText();
    } else if (parsed->version) {
        out << versionText() << '\n';
    } else if (parsed->output_file == kStandardOutput ||
               (!parsed->output_file.empty() &&
                sameFileAs(parsed->output_file, kStandardOutputDevice))) {
        // The terrain's bytes go to standard output; the report goes beside the problems.
        status = runBatch(*parsed, err, err, false, watcher);
    } else {
        status = runBatch(*parsed, out, err, err_is_terminal, watcher);
    }
    endFetchRun();
    fetchLine().stop();
    if (!parsed->dep_source.empty() && !parsed->quiet) {
        const FetchCounts fetched = fetchCounts();
        (parsed->output_file == kStandardOutput ? err : out)
            << parsed->dep_source << ": " << parsed->sources.size() << " tile"
            << (parsed->sources.size() == 1 ? "" : "s") << ", " << fetched.bytes_fetched
            << " bytes fetched in " << fetched.requests << " requests, " << fetched.bytes_from_cache
            << " from the cache\n";
    }
    out << std::flush;
    if (!out) {
        // A report that did not reach its reader (a full disk, a closed pipe) is a failed run.
        err << "marlwood: cannot write the report to standard output\n" << std::flush;
        return 1;
    }
    return status;
}

}  // namespace marlwood
