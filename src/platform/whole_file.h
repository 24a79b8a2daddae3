#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace marlwood {

// The output path that stands for standard output.
inline constexpr std::string_view kStandardOutput = "-";

// Fills the stream; false when it could not (the file is then not kept).
using FileWriter = std::function<bool(std::ostream&)>;

// Writes `path` whole or not at all, and replaces nothing but a regular file:
//  - a new or regular file is written under a temporary name of its own, created exclusively in
//    the same directory (never through a link), and renamed to `path` once every byte is written;
//    whatever fails, nothing half-written is left under either name;
//  - a device or named pipe is written in place, and "-" writes standard output;
//  - a link is followed to its target, which obeys the same rules; a link to nothing is refused
//    (creating a file wherever a stray link points is no safer than replacing what it names);
//  - a directory is refused.
// The error is one line naming `path` and the reason.
Status writeWholeFile(const std::string& path, const FileWriter& write);

// Writes several files as one: all of them or none. Each is written under a temporary name of
// its own beside it (new or regular files only, links followed, as for writeWholeFile); commit()
// then renames them to their names in turn. What stood under those names stays until then, and
// is put back when a rename fails (a name the directory cannot hold), so a failure leaves the old
// files as they were and none of the new. A set that goes without a commit leaves nothing.
class FileSet {
  public:
    FileSet();
    ~FileSet();
    FileSet(const FileSet&) = delete;
    FileSet& operator=(const FileSet&) = delete;

    // The file's bytes under its temporary name; the error is one line naming `path`.
    Status add(const std::string& path, const FileWriter& write);
    // Every file under its name, or (an error naming the file that failed) none.
    Status commit();

  private:
    struct Member;
    void rollBack(std::size_t failed);
    std::vector<std::unique_ptr<Member>> members_;
};

// What an output path names now, for the front ends' checks before anything is written.
enum class OutputTarget {
    Absent,        // nothing: a new file
    RegularFile,   // replaced whole (directly or through links)
    InPlace,       // a device, a named pipe or standard output: written in place
    Directory,     // refused
    DanglingLink,  // a link to nothing: refused
};
OutputTarget outputTarget(const std::string& path);

// A file as the system knows it, whatever name reaches it.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};
// Links followed; nothing when the path reaches no file.
std::optional<FileIdentity> fileIdentity(const std::string& path);

// The index of the first of `inputs` that is the same file as `path` (links, "..", hard links
// and case do not hide it), if any.
std::optional<std::size_t> sameFileAs(const std::string& path, std::span<const std::string> inputs);

// On SIGINT and SIGTERM, removes the temporary files being written, then ends the process by
// the same signal (a shell sees 130 or 143). Called once, early, by a front end that writes
// files while the user may interrupt it.
void installSignalCleanup();

}  // namespace marlwood
