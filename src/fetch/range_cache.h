#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace marlwood::fetch_detail {

// What a server told of a file: its length and ETag.
struct FileFacts {
    std::uint64_t total = 0;
    std::string etag;
};

// Fetched ranges on disk, each file keyed by the URL, its ETag and the range, holding the key,
// the length and a checksum of its bytes, all checked before use: an entry that does not match
// is removed and fetched again. Written whole under a temporary name; past `most_bytes` the
// entries used longest ago go first. What cannot be read or written is passed over: the cache
// only ever saves fetching.
class RangeCache {
  public:
    RangeCache(std::filesystem::path dir, std::uint64_t most_bytes)
        : dir_(std::move(dir)), most_bytes_(most_bytes) {}

    // The folder: $XDG_CACHE_HOME/marlwood, else ~/.cache/marlwood (%LOCALAPPDATA%\marlwood on
    // Windows); empty when none is set.
    static std::filesystem::path defaultDir();

    std::optional<std::string> bytes(const std::string& url, const std::string& etag,
                                     std::uint64_t first, std::uint64_t length);
    void keepBytes(const std::string& url, const std::string& etag, std::uint64_t first,
                   const std::string& bytes);
    // A file's facts, when learnt less than `fresh_seconds` ago.
    std::optional<FileFacts> facts(const std::string& url, double fresh_seconds);
    void keepFacts(const std::string& url, const FileFacts& facts);
    void forgetFacts(const std::string& url);

  private:
    std::optional<std::string> entry(const std::string& key, const char* suffix);
    void keep(const std::string& key, const char* suffix, const std::string& bytes);
    void evict();

    std::filesystem::path dir_;
    std::uint64_t most_bytes_;
};

// FNV-1a, 64 bits: a cache entry's checksum and its file name.
std::uint64_t checksum(std::string_view bytes);

}  // namespace marlwood::fetch_detail
