#include "fetch/range_cache.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <vector>

namespace marlwood::fetch_detail {

namespace fs = std::filesystem;

namespace {

constexpr char kMagic[] = "marlwood cache 1\n";
constexpr char kBytes[] = ".range", kFacts[] = ".facts";

std::string hex(std::uint64_t v) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(v));
    return text;
}

std::string rangeKey(const std::string& url, const std::string& etag, std::uint64_t first,
                     std::uint64_t length) {
    return url + "\n" + etag + "\n" + std::to_string(first) + "+" + std::to_string(length);
}

}  // namespace

std::uint64_t checksum(std::string_view bytes) {
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (const char c : bytes) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001b3ULL;
    }
    return h;
}

fs::path RangeCache::defaultDir() {
#ifdef _WIN32
    // The machine's own application data, not roamed; read wide, as a user's name may be any.
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    if (local != nullptr && fs::path(local).is_absolute()) return fs::path(local) / "marlwood";
    return {};
#else
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg != nullptr && *xdg == '/') return fs::path(xdg) / "marlwood";
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home == '/') return fs::path(home) / ".cache" / "marlwood";
    return {};
#endif
}

// An entry: the magic line, the key's length and the bytes' length and checksum on one line,
// the key, the bytes.
std::optional<std::string> RangeCache::entry(const std::string& key, const char* suffix) {
    if (dir_.empty()) return std::nullopt;
    const fs::path path = dir_ / (hex(checksum(key)) + suffix);
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string magic(sizeof kMagic - 1, '\0');
    std::uint64_t key_length = 0, length = 0, sum = 0;
    bool good =
        in.read(magic.data(), static_cast<std::streamsize>(magic.size())) && magic == kMagic;
    std::string line;
    if (good && std::getline(in, line)) {
        std::istringstream fields(line);
        fields >> key_length >> length >> std::hex >> sum;
        good = !fields.fail() && key_length == key.size();
    } else {
        good = false;
    }
    std::string stored_key(good ? key_length : 0, '\0'), bytes;
    if (good) {
        good = in.read(stored_key.data(), static_cast<std::streamsize>(key_length)) &&
               stored_key == key;
    }
    if (good) {
        const std::streampos at = in.tellg();
        in.seekg(0, std::ios::end);
        good = at >= 0 && static_cast<std::uint64_t>(in.tellg() - at) == length;
        in.seekg(at);
    }
    if (good) {
        bytes.resize(length);
        good =
            in.read(bytes.data(), static_cast<std::streamsize>(length)) && checksum(bytes) == sum;
    }
    in.close();
    std::error_code error;
    if (!good) {
        // Damaged, cut short, or another key's: never used, fetched again.
        fs::remove(path, error);
        return std::nullopt;
    }
    // Used now: the last to be evicted.
    fs::last_write_time(path, fs::file_time_type::clock::now(), error);
    return bytes;
}

void RangeCache::keep(const std::string& key, const char* suffix, const std::string& bytes) {
    if (dir_.empty()) return;
    std::error_code error;
    fs::create_directories(dir_, error);
    const fs::path path = dir_ / (hex(checksum(key)) + suffix);
    thread_local std::mt19937_64 random{std::random_device{}()};
    const fs::path temporary = dir_ / (hex(random()) + ".part");
    {
        std::ofstream out(temporary, std::ios::binary);
        out << kMagic << key.size() << ' ' << bytes.size() << ' ' << hex(checksum(bytes)) << '\n'
            << key << bytes;
        out.close();
        if (!out) {
            fs::remove(temporary, error);
            return;
        }
    }
    fs::rename(temporary, path, error);
    if (error) {
        fs::remove(temporary, error);
        return;
    }
    evict();
}

void RangeCache::evict() {
    struct Entry {
        fs::path path;
        fs::file_time_type used;
        std::uint64_t size;
    };
    std::vector<Entry> entries;
    std::uint64_t total = 0;
    std::error_code error;
    for (fs::directory_iterator it(dir_, error), end; !error && it != end; it.increment(error)) {
        const fs::path& path = it->path();
        if (path.extension() != kBytes && path.extension() != kFacts) continue;
        std::error_code e;
        const std::uint64_t size = it->file_size(e);
        const fs::file_time_type used = it->last_write_time(e);
        if (e) continue;
        entries.push_back({path, used, size});
        total += size;
    }
    if (total <= most_bytes_) return;
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.used < b.used; });
    for (const Entry& e : entries) {
        if (total <= most_bytes_) break;
        if (fs::remove(e.path, error)) total -= e.size;
    }
}

std::optional<std::string> RangeCache::bytes(const std::string& url, const std::string& etag,
                                             std::uint64_t first, std::uint64_t length) {
    std::optional<std::string> got = entry(rangeKey(url, etag, first, length), kBytes);
    if (got && got->size() > length) return std::nullopt;
    return got;
}

void RangeCache::keepBytes(const std::string& url, const std::string& etag, std::uint64_t first,
                           const std::string& bytes) {
    keep(rangeKey(url, etag, first, bytes.size()), kBytes, bytes);
}

std::optional<FileFacts> RangeCache::facts(const std::string& url, double fresh_seconds) {
    if (dir_.empty()) return std::nullopt;
    const fs::path path = dir_ / (hex(checksum(url)) + kFacts);
    std::error_code error;
    const auto written = fs::last_write_time(path, error);
    if (error) return std::nullopt;
    const double age =
        std::chrono::duration<double>(fs::file_time_type::clock::now() - written).count();
    if (age > fresh_seconds || age < -60) return std::nullopt;
    const std::optional<std::string> text = entry(url, kFacts);
    if (!text) return std::nullopt;
    // Learnt when written, not when last read: the time it was told stays.
    fs::last_write_time(path, written, error);
    std::istringstream in(*text);
    FileFacts facts;
    if (!(in >> facts.total) || facts.total == 0) return std::nullopt;
    in.ignore(1);
    std::getline(in, facts.etag);
    return facts;
}

void RangeCache::forgetFacts(const std::string& url) {
    if (dir_.empty()) return;
    std::error_code error;
    fs::remove(dir_ / (hex(checksum(url)) + kFacts), error);
}

void RangeCache::keepFacts(const std::string& url, const FileFacts& facts) {
    keep(url, kFacts, std::to_string(facts.total) + "\n" + facts.etag);
}

}  // namespace marlwood::fetch_detail
