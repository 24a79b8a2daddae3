#include "cli/batch.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <iomanip>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "pipeline/conversion.h"
#include "pipeline/merge.h"
#include "source/transfer_source.h"

namespace marlwood {

namespace {

constexpr char kVersion[] = "marlwood 1.1";

// What one source came to; filled by its job, printed in source order.
struct Outcome {
    bool done = false;
    bool converted = false;
    std::string stage_lines;  // everything the stages printed
    std::string report;       // the report line, when converted
    std::vector<std::string> problems;
};

std::string postingText(GridSpacing spacing) {
    if (spacing == kSpacing10m) return "10 m";
    if (spacing == kSpacing30m) return "30 m";
    return "posting unknown";
}

std::string valueTypeText(ValueType type) {
    if (type == kBi16) return "BI16";
    if (type == kBfp32) return "BFP32";
    return "value type unknown";
}

// The stages mark a problem by starting its line with "**"; those lines are the source's
// warnings, the rest are what -v shows.
void collectWarnings(const std::string& stage_lines, std::vector<std::string>& problems) {
    std::istringstream lines(stage_lines);
    for (std::string line; std::getline(lines, line);) {
        if (line.size() >= 4 && line.rfind("**", 0) == 0 && line.ends_with("**")) {
            problems.push_back(line.substr(2, line.size() - 4));
        }
    }
}

std::string outputPathFor(const Options& options, const Transfer& transfer) {
    if (!options.output_file.empty()) return options.output_file;
    const std::filesystem::path dir = options.output_dir.empty() ? "." : options.output_dir;
    return (dir / (transfer.output_stem + ".ter")).string();
}

class Batch {
  public:
    Batch(const Options& options, std::ostream& out, std::ostream& err, bool err_is_terminal)
        : options_(options),
          out_(out),
          err_(err),
          progress_(err_is_terminal && options.sources.size() > 1),
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
        return std::all_of(outcomes_.begin(), outcomes_.end(),
                           [](const Outcome& o) { return o.converted; })
                   ? 0
                   : 1;
    }

  private:
    void runJobs(const std::function<void(std::size_t)>& job) {
        std::atomic<std::size_t> next{0};
        auto worker = [&] {
            for (std::size_t i; (i = next++) < outcomes_.size();) job(i);
        };
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        const std::size_t count =
            std::min<std::size_t>(options_.jobs == 0 ? cores : options_.jobs, outcomes_.size());
        std::vector<std::thread> threads;
        for (std::size_t t = 1; t < count; ++t) threads.emplace_back(worker);
        worker();
        for (auto& thread : threads) thread.join();
    }

    // Finds the source's transfer; nothing (and the problem noted) when it cannot be had.
    std::optional<Transfer> find(std::size_t i) {
        FoundTransfer found = findTransfer(options_.sources[i]);
        if (!found.transfer) fail(i, found.error);
        return std::move(found.transfer);
    }

    void findExtremes(std::size_t i) {
        const auto transfer = find(i);
        if (!transfer) return;
        std::ostringstream console;
        std::string problem;
        const auto extremes = readExtremes(transfer->modules, console, problem);
        std::lock_guard lock(mutex_);
        if (!extremes) {
            outcomes_[i].problems.push_back(problem);
            outcomes_[i].done = true;
            return;
        }
        range_ = have_range_ ? unionOf(range_, *extremes) : *extremes;
        have_range_ = true;
    }

    void convert(std::size_t i) {
        {
            std::lock_guard lock(mutex_);
            if (outcomes_[i].done) return;  // refused in the first pass
        }
        const auto transfer = find(i);
        if (!transfer) return;
        const std::string output = outputPathFor(options_, *transfer);
        if (const std::string clash = claimOutput(i, output); !clash.empty()) {
            return fail(i, clash);
        }
        std::ostringstream console;
        ConversionSettings settings;
        settings.height_scale = options_.height_scale;
        if (options_.common_range) settings.common_range = range_;
        settings.true_scale = options_.true_scale;
        settings.fill_voids = options_.fill_voids;
        settings.preview = options_.preview;
        const ConversionResult result =
            convertTransfer(transfer->modules, settings, output, console);

        Outcome outcome;
        outcome.done = true;
        outcome.converted = result.converted;
        outcome.stage_lines = console.str();
        collectWarnings(outcome.stage_lines, outcome.problems);
        if (!result.converted) {
            outcome.problems.push_back(result.problem);
        } else {
            const auto& m = result.metadata;
            std::ostringstream line;
            line << options_.sources[i] << ": " << m.size.rows << " x " << m.size.columns << ", "
                 << postingText(m.grid_spacing) << ", " << valueTypeText(m.value_type) << ", ";
            const bool none_valid =
                result.void_cells == static_cast<std::int64_t>(m.size.rows) * m.size.columns;
            if (none_valid) {
                line << "no valid elevation";
            } else if (result.true_scale) {
                line << std::fixed << std::setprecision(2) << "elevations " << result.lowest_m
                     << ".." << result.highest_m << " m";
            } else {
                line << "elevations " << result.extremes.min_elevation << ".."
                     << result.extremes.max_elevation;
            }
            line << ", " << result.void_cells << " void";
            if (options_.fill_voids) line << " (" << result.filled_cells << " filled)";
            line << " -> " << output;
            if (result.true_scale) {
                line << std::setprecision(4) << " (true scale, steps of "
                     << result.true_scale->stepMetres() << " m)";
            }
            if (!result.preview_path.empty()) line << " + " << result.preview_path;
            outcome.report = line.str();
        }
        std::lock_guard lock(mutex_);
        outcomes_[i] = std::move(outcome);
        flushReady();
    }

    // Two sources must not write one file, and an existing file stays unless -f.
    std::string claimOutput(std::size_t i, const std::string& output) {
        std::lock_guard lock(mutex_);
        std::error_code error;
        auto key = std::filesystem::weakly_canonical(output, error).string();
        if (error) key = output;
        if (const auto it = claimed_.find(key); it != claimed_.end()) {
            return "writes " + output + " like " + options_.sources[it->second] +
                   "; give it its own -d";
        }
        claimed_[key] = i;
        if (!options_.force && std::filesystem::exists(output, error)) {
            return output + " exists; -f replaces it";
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
        if (progress_) err_ << "\r\033[K";
        if (options_.verbose && !outcome.stage_lines.empty()) out_ << outcome.stage_lines;
        for (const std::string& problem : outcome.problems) {
            err_ << "marlwood: " << source << ": " << problem << '\n';
        }
        if (!options_.quiet && !outcome.report.empty()) out_ << outcome.report << '\n';
        out_ << std::flush;
        err_ << std::flush;
    }

    const Options& options_;
    std::ostream& out_;
    std::ostream& err_;
    const bool progress_;
    std::mutex mutex_;
    std::vector<Outcome> outcomes_;
    std::size_t flushed_ = 0;
    std::map<std::string, std::size_t> claimed_;
    Extremes range_;
    bool have_range_ = false;
};

}  // namespace

// --merge: every source found first, then one terrain from them all.
int runMerge(const Options& options, std::ostream& out, std::ostream& err) {
    std::vector<MergeSource> sources;
    bool found_all = true;
    for (const std::string& source : options.sources) {
        FoundTransfer found = findTransfer(source);
        if (!found.transfer) {
            err << "marlwood: " << source << ": " << found.error << '\n';
            found_all = false;
            continue;
        }
        sources.push_back({source, std::move(found.transfer->modules)});
    }
    if (!found_all) {
        err << "marlwood: nothing merged\n" << std::flush;
        return 1;
    }
    std::error_code error;
    if (!options.force && std::filesystem::exists(options.output_file, error)) {
        err << "marlwood: " << options.output_file << " exists; -f replaces it\n" << std::flush;
        return 1;
    }
    ConversionSettings settings;
    settings.height_scale = options.height_scale;
    settings.true_scale = options.true_scale;
    settings.fill_voids = options.fill_voids;
    settings.preview = options.preview;
    std::ostringstream console;
    const MergeResult merged = mergeTransfers(sources, settings, options.output_file, console);
    std::vector<std::string> warnings;
    collectWarnings(console.str(), warnings);
    if (options.verbose) out << console.str();
    for (const std::string& warning : warnings) err << "marlwood: " << warning << '\n';
    const ConversionResult& result = merged.conversion;
    if (!result.converted) {
        err << "marlwood: " << result.problem << "\nmarlwood: nothing merged\n" << std::flush;
        return 1;
    }
    if (!options.quiet) {
        for (const MergePiece& piece : merged.plan->pieces) {
            out << piece.source << ": " << piece.metadata.size.rows << " x "
                << piece.metadata.size.columns << " at row " << piece.row_offset << ", column "
                << piece.column_offset << '\n';
        }
        const GridSize& size = merged.plan->size;
        out << "merged: " << size.rows << " x " << size.columns << ", " << merged.plan->posting_m
            << " m, ";
        if (result.true_scale) {
            out << std::fixed << std::setprecision(2) << "elevations " << result.lowest_m << ".."
                << result.highest_m << " m" << std::defaultfloat;
        } else {
            out << "elevations " << result.extremes.min_elevation << ".."
                << result.extremes.max_elevation;
        }
        out << ", " << result.void_cells << " void";
        if (options.fill_voids) out << " (" << result.filled_cells << " filled)";
        out << ", " << merged.outcome.disagreements << " cells where sources disagree -> "
            << options.output_file;
        if (!result.preview_path.empty()) out << " + " << result.preview_path;
        out << '\n';
    }
    out << std::flush;
    err << std::flush;
    return 0;
}

int runBatch(const Options& options, std::ostream& out, std::ostream& err, bool err_is_terminal) {
    if (options.merge) return runMerge(options, out, err);
    if (!options.output_dir.empty()) {
        std::error_code error;
        if (!std::filesystem::is_directory(options.output_dir, error)) {
            err << "marlwood: " << options.output_dir << " is not a directory\n" << std::flush;
            return 1;
        }
    }
    return Batch(options, out, err, err_is_terminal).run();
}

int runCommandLine(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                   bool err_is_terminal) {
    const ParsedOptions parsed = parseOptions(arguments);
    if (!parsed.options) {
        err << "marlwood: " << parsed.usage_error << "\nTry 'marlwood --help'.\n" << std::flush;
        return 2;
    }
    if (parsed.options->help) {
        out << helpText() << std::flush;
        return 0;
    }
    if (parsed.options->version) {
        out << kVersion << '\n' << std::flush;
        return 0;
    }
    return runBatch(*parsed.options, out, err, err_is_terminal);
}

}  // namespace marlwood
