#include "platform/whole_file.h"

#include <atomic>
#include <filesystem>
#include <fstream>

namespace marlwood {

bool writeWholeFile(const std::string& path, const std::function<bool(std::ostream&)>& write,
                    std::string& problem) {
    // Unique among the files this process writes at once, and plainly not a finished one.
    static std::atomic<unsigned> counter{0};
    const std::string partial = path + ".part" + std::to_string(counter++);
    std::error_code error;
    {
        std::ofstream out(partial, std::ios::out | std::ios::binary | std::ios::trunc);
        if (!out.is_open()) {
            problem = "cannot create " + partial;
            return false;
        }
        const bool written = write(out);
        out.close();
        if (!written || out.fail()) {
            std::filesystem::remove(partial, error);
            problem = "cannot write " + path + (written ? ": the disk may be full" : "");
            return false;
        }
    }
    std::filesystem::rename(partial, path, error);
    if (error) {
        std::filesystem::remove(partial, error);
        problem = "cannot write " + path + ": " + error.message();
        return false;
    }
    return true;
}

}  // namespace marlwood
