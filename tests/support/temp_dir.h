#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace marlwood::testsupport {

// A fresh directory with a short path, removed with everything in it at the end of the test.
// Typed paths keep only 39 characters, so it lives in /tmp whatever TMPDIR says.
class TempDir {
  public:
    TempDir() {
        std::random_device seed;
        for (;;) {
            path_ = std::filesystem::path("/tmp") / ("mw" + std::to_string(seed() % 1000000000u));
            if (std::filesystem::create_directory(path_)) break;
        }
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream(path_ / name, std::ios::binary) << bytes;
    }
    std::string read(const std::string& name) const {
        std::ifstream in(path_ / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

  private:
    std::filesystem::path path_;
};

}  // namespace marlwood::testsupport
