#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>

namespace marlwood::testsupport {

// A fresh directory of its own, removed with everything in it at the end. Typed paths keep only
// 39 characters, so it lives in /tmp whatever TMPDIR says; in memory (/dev/shm) when asked and
// the machine offers it, for the sweeps that write thousands of files.
class TempDir {
  public:
    enum Place { OnDisk, InMemory };

    explicit TempDir(Place place = OnDisk) {
        const bool memory = place == InMemory && access("/dev/shm", W_OK | X_OK) == 0;
        std::string name = memory ? "/dev/shm/mwXXXXXX" : "/tmp/mwXXXXXX";
        if (mkdtemp(name.data()) == nullptr) {
            throw std::runtime_error(name + ": " + std::strerror(errno));
        }
        path_ = name;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string operator/(std::string_view name) const { return (path_ / name).string(); }
    // Entries in the directory, for "no file was created" checks.
    std::size_t entries() const {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(path_),
                                                      std::filesystem::directory_iterator()));
    }

  private:
    std::filesystem::path path_;
};

}  // namespace marlwood::testsupport
