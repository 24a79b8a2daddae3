#include "platform/whole_file.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <new>
#include <random>
#include <streambuf>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace marlwood {

namespace fs = std::filesystem;

namespace {

std::string reason(int error) {
    return std::generic_category().message(error);
}

// Writes to a file descriptor through a buffer of its own and remembers the first error, so that
// the message can say why (a full disk, a closed pipe) rather than only that it failed.
class DescriptorBuffer : public std::streambuf {
  public:
    explicit DescriptorBuffer(int fd) : fd_(fd) { setp(buffer_.data(), buffer_.data() + size()); }
    ~DescriptorBuffer() override = default;
    DescriptorBuffer(const DescriptorBuffer&) = delete;
    DescriptorBuffer& operator=(const DescriptorBuffer&) = delete;

    int error() const { return error_; }

  protected:
    int_type overflow(int_type c) override {
        if (!drain()) return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override { return drain() ? 0 : -1; }

    // Writers that go back to fill in an offset (a TIFF's directory) seek; what is buffered goes
    // first. A device or pipe that cannot seek says so with -1.
    pos_type seekoff(off_type offset, std::ios::seekdir dir, std::ios::openmode) override {
        if (!drain()) return pos_type(off_type(-1));
        const int whence = dir == std::ios::beg   ? SEEK_SET
                           : dir == std::ios::cur ? SEEK_CUR
                                                  : SEEK_END;
#ifdef _WIN32
        const auto at = _lseeki64(fd_, offset, whence);
#else
        const auto at = ::lseek(fd_, static_cast<off_t>(offset), whence);
#endif
        return at < 0 ? pos_type(off_type(-1)) : pos_type(static_cast<off_type>(at));
    }
    pos_type seekpos(pos_type position, std::ios::openmode which) override {
        return seekoff(off_type(position), std::ios::beg, which);
    }

  private:
    static constexpr std::size_t kBytes = 64 * 1024;
    static constexpr std::ptrdiff_t size() {
        return static_cast<std::ptrdiff_t>(kBytes);
    }

    bool drain() {
        const char* from = pbase();
        while (error_ == 0 && from < pptr()) {
            const auto left = static_cast<std::size_t>(pptr() - from);
#ifdef _WIN32
            const int n = _write(fd_, from, static_cast<unsigned>(left));
#else
            const ssize_t n = ::write(fd_, from, left);
#endif
            if (n > 0) {
                from += n;
            } else if (n == 0) {
                error_ = EIO;
            } else if (errno != EINTR) {
                error_ = errno;
            }
        }
        setp(buffer_.data(), buffer_.data() + size());
        return error_ == 0;
    }

    int fd_;
    int error_ = 0;
    std::array<char, kBytes> buffer_{};
};

// Runs the writer on a descriptor; the errno of a failed write, -1 when the writer itself gave
// up, 0 when all was written. A writer that throws fails like a write, so its temporary file is
// removed like any other.
int fill(int fd, const FileWriter& write) {
    DescriptorBuffer buffer(fd);
    std::ostream out(&buffer);
    bool written = false;
    try {
        written = write(out);
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    } catch (...) {
        return EIO;
    }
    out.flush();
    if (buffer.error() != 0) return buffer.error();
    if (!written || !out) return -1;
    return 0;
}

Error cannotWrite(const std::string& path, int error) {
    return failure("cannot write " + path + (error > 0 ? ": " + reason(error) : ""));
}

// ---- The temporary files in flight, for the signal handler ----
//
// A fixed table the handler can walk without locks or allocation: a slot is claimed (Busy),
// filled, then marked Armed; the handler removes what Armed slots name. Beyond the table's size
// a file is still written, only not cleaned up on a signal.

#ifdef _WIN32
constexpr std::size_t kSlotChars = 520;  // a whole path: the handler has no directory handle
#else
constexpr std::size_t kSlotChars = 32;  // the name within the directory `dir`
#endif
constexpr std::size_t kSlots = 1024;  // the most conversions at once (-j) and then some

enum SlotState : int { Free, Busy, Armed };
struct Slot {
    std::atomic<int> state{Free};
    int dir = -1;
    std::array<char, kSlotChars> name{};
};
std::array<Slot, kSlots> slots;
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the slots");

class Registration {
  public:
    Registration(int dir, const std::string& name) {
        if (name.size() >= kSlotChars) return;
        for (Slot& s : slots) {
            int expected = Free;
            if (s.state.compare_exchange_strong(expected, Busy)) {
                s.dir = dir;
                std::memcpy(s.name.data(), name.c_str(), name.size() + 1);
                s.state.store(Armed);
                slot_ = &s;
                return;
            }
        }
    }
    ~Registration() {
        if (slot_ != nullptr) slot_->state.store(Free);
    }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

  private:
    Slot* slot_ = nullptr;
};

extern "C" void removePartialFiles(int signal_number) {
    for (Slot& s : slots) {
        if (s.state.load() != Armed) continue;
#ifdef _WIN32
        DeleteFileA(s.name.data());
#else
        unlinkat(s.dir, s.name.data(), 0);
#endif
    }
#ifdef _WIN32
    _exit(128 + signal_number);
#else
    // The handler was reset on entry (SA_RESETHAND): the signal, raised again, ends the process
    // once this returns, so the parent sees how it ended.
    raise(signal_number);
#endif
}

// ---- Temporary names ----

// Short, so that it fits wherever the output's own name fits, and unlike any finished file.
std::string temporaryName() {
    static std::atomic<std::uint64_t> state{std::random_device{}()};
    std::uint64_t z = state.fetch_add(0x9E3779B97F4A7C15ull) + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string name = "marlwood-";
    for (int shift = 60; shift >= 28; shift -= 4) name.push_back(kHex[(z >> shift) & 0xF]);
    return name + ".part";
}

constexpr int kNameAttempts = 100;

std::string directoryOf(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

Status writeInPlace(const std::string& path, int fd, const FileWriter& write) {
    const int error = fill(fd, write);
    return error == 0 ? Status() : cannotWrite(path, error);
}

Error cannotWrite(const std::string& path, const std::error_code& error) {
    return failure("cannot write " + path + ": " + error.message());
}

// A file's bytes, complete, under a temporary name in the directory of the name it will take.
// Removed when it goes, unless it was renamed.
// A directory held open where the system allows, so that every name of a file is taken in the
// same one, whatever happens to its path meanwhile; shared by the files of a set.
struct OpenDirectory {
    std::string path;
    int fd = -1;
    explicit OpenDirectory(std::string p) : path(std::move(p)) {}
    ~OpenDirectory() {
#ifndef _WIN32
        if (fd >= 0) close(fd);
#endif
    }
    OpenDirectory(const OpenDirectory&) = delete;
    OpenDirectory& operator=(const OpenDirectory&) = delete;
};

class PartialFile {
  public:
    PartialFile(std::string path, const std::string& target,
                std::shared_ptr<OpenDirectory> dir = nullptr)
        : path_(std::move(path)),
          dir_(dir ? std::move(dir) : std::make_shared<OpenDirectory>(directoryOf(target))),
          name_(fs::path(target).filename().string()) {}
    ~PartialFile() {
        if (!temporary_.empty()) remove(temporary_);
    }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    const std::string& path() const { return path_; }
    const std::string& name() const { return name_; }
    const std::shared_ptr<OpenDirectory>& directory() const { return dir_; }

    // Creates the temporary file exclusively and fills it: an Error naming the output when it
    // could not be written whole.
    Status write(const FileWriter& write) {
        if (const std::error_code opened = openDirectory()) return cannotWrite(path_, opened);
        for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
            std::string partial = temporaryName();
            // Before it exists: a signal may come at once.
            registered_ = std::make_unique<Registration>(dir_->fd, registeredName(partial));
            int fd = -1;
            if (const std::error_code created = create(partial, fd)) {
                registered_.reset();
                if (created == std::errc::file_exists) continue;
                return cannotWrite(path_, created);
            }
            temporary_ = std::move(partial);
            int error = fill(fd, write);
#ifdef _WIN32
            if (_close(fd) != 0 && error == 0) error = errno;
#else
            if (close(fd) != 0 && error == 0) error = errno;
#endif
            if (error != 0) return cannotWrite(path_, error);
            return {};
        }
        return cannotWrite(path_, EEXIST);
    }

    // The temporary file renamed to `to` (a name in the same directory) over whatever is there.
    std::error_code renameTo(const std::string& to) {
        const std::error_code error = rename(temporary_, to);
        if (!error) {
            temporary_.clear();
            registered_.reset();
        }
        return error;
    }

    // Names in the output's directory.
    std::error_code rename(const std::string& from, const std::string& to) const {
#ifdef _WIN32
        if (MoveFileExA(within(from).c_str(), within(to).c_str(), MOVEFILE_REPLACE_EXISTING) == 0)
            return lastError();
#else
        if (renameat(dir_->fd, from.c_str(), dir_->fd, to.c_str()) != 0) return lastError();
#endif
        return {};
    }
    std::error_code link(const std::string& from, const std::string& to) const {
#ifdef _WIN32
        if (CreateHardLinkA(within(to).c_str(), within(from).c_str(), nullptr) == 0)
            return lastError();
#else
        if (linkat(dir_->fd, from.c_str(), dir_->fd, to.c_str(), 0) != 0) return lastError();
#endif
        return {};
    }
    void remove(const std::string& name) const {
#ifdef _WIN32
        DeleteFileA(within(name).c_str());
#else
        unlinkat(dir_->fd, name.c_str(), 0);
#endif
    }
    // Whether `name` is there, as a file of any kind.
    bool holds(const std::string& name) const {
#ifdef _WIN32
        return GetFileAttributesA(within(name).c_str()) != INVALID_FILE_ATTRIBUTES;
#else
        struct stat st {};
        return fstatat(dir_->fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
#endif
    }

  private:
    static std::error_code lastError() {
#ifdef _WIN32
        return {static_cast<int>(GetLastError()), std::system_category()};
#else
        return {errno, std::generic_category()};
#endif
    }

#ifdef _WIN32
    std::string within(const std::string& name) const {
        return (fs::path(dir_->path) / name).string();
    }
    // The handler has no directory handle: it is given the whole path.
    std::string registeredName(const std::string& name) const {
        return within(name);
    }
    std::error_code openDirectory() {
        return {};
    }
    std::error_code create(const std::string& name, int& fd) const {
        // CREATE_NEW never opens what is there; FILE_SHARE_DELETE lets the signal handler remove
        // the file while it is still open.
        const HANDLE handle = CreateFileA(within(name).c_str(), GENERIC_WRITE, FILE_SHARE_DELETE,
                                          nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS)
                return std::make_error_code(std::errc::file_exists);
            return lastError();
        }
        fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
        if (fd < 0) {
            CloseHandle(handle);
            DeleteFileA(within(name).c_str());
            return std::make_error_code(std::errc::too_many_files_open);
        }
        return {};
    }
#else
    static const std::string& registeredName(const std::string& name) {
        return name;
    }
    std::error_code openDirectory() {
#ifdef O_PATH
        constexpr int kDirectoryFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;  // no read right needed
#else
        constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
        if (dir_->fd < 0) dir_->fd = open(dir_->path.c_str(), kDirectoryFlags);
        return dir_->fd < 0 ? lastError() : std::error_code();
    }
    std::error_code create(const std::string& name, int& fd) const {
        fd = openat(dir_->fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    0666);
        return fd < 0 ? lastError() : std::error_code();
    }
#endif

    std::string path_;
    std::shared_ptr<OpenDirectory> dir_;
    std::string name_;
    std::string temporary_;
    std::unique_ptr<Registration> registered_;
};

Status writeThroughTemporary(const std::string& path, const FileWriter& write) {
    PartialFile partial(path, path);
    if (Status written = partial.write(write); !written) return written;
    if (const std::error_code error = partial.renameTo(partial.name())) {
        return cannotWrite(path, error);
    }
    return {};
}

Status writeDevice(const std::string& path, const FileWriter& write) {
#ifdef _WIN32
    const int fd = _open(path.c_str(), _O_WRONLY | _O_BINARY);
    if (fd < 0) return cannotWrite(path, errno);
    const Status status = writeInPlace(path, fd, write);
    _close(fd);
#else
    const int fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return cannotWrite(path, errno);
    const Status status = writeInPlace(path, fd, write);
    close(fd);
#endif
    return status;
}

// The file a link leads to (the path itself when it is no link); a link to nothing is refused,
// since creating a file wherever a stray link points is no safer than replacing what it names.
Result<std::string> linkTarget(const std::string& path) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(path, error))) return path;
    if (!fs::exists(fs::status(path, error))) {
        return failure("cannot write " + path + ": it is a link to " +
                       fs::read_symlink(path, error).string() +
                       ", which does not exist (a link is written through only to a file)");
    }
    std::string target = fs::canonical(path, error).string();
    if (error) return failure("cannot write " + path + ": " + error.message());
    return target;
}

}  // namespace

OutputTarget outputTarget(const std::string& path) {
    if (path == kStandardOutput) return OutputTarget::InPlace;
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (!fs::exists(status)) {
        return fs::is_symlink(fs::symlink_status(path, error)) ? OutputTarget::DanglingLink
                                                               : OutputTarget::Absent;
    }
    if (fs::is_directory(status)) return OutputTarget::Directory;
    return fs::is_regular_file(status) ? OutputTarget::RegularFile : OutputTarget::InPlace;
}

Status writeWholeFile(const std::string& path, const FileWriter& write) {
    if (path == kStandardOutput) {
        std::cout.flush();  // what the program printed before comes first
#ifdef _WIN32
        _setmode(1, _O_BINARY);
#endif
        return writeInPlace("standard output", 1, write);
    }
    std::error_code error;
    // A link to a device or pipe (/dev/stdout, whose target is "pipe:[...]" in /proc and no path
    // at all) is written through as it is.
    const fs::file_status reached = fs::status(path, error);
    if (fs::exists(reached) && !fs::is_regular_file(reached) && !fs::is_directory(reached)) {
        return writeDevice(path, write);
    }
    const Result<std::string> reached_through = linkTarget(path);
    if (!reached_through) return reached_through.error();
    const std::string& target = *reached_through;
    const fs::file_status status = fs::status(target, error);
    if (fs::is_directory(status)) return failure("cannot write " + path + ": it is a directory");
    const Status written = fs::exists(status) && !fs::is_regular_file(status)
                               ? writeDevice(target, write)
                               : writeThroughTemporary(target, write);
    if (!written && target != path) {
        return failure(written.message() + " (reached through the link " + path + ")");
    }
    return written;
}

struct FileSet::Member {
    std::unique_ptr<PartialFile> partial;
    std::string backup;         // the old file's second name while the set is renamed
    bool backup_moved = false;  // its only name: the system could not link it
    bool renamed = false;
};

FileSet::FileSet() = default;
FileSet::~FileSet() = default;

Status FileSet::add(const std::string& path, const FileWriter& write) {
    if (path == kStandardOutput) return failure("standard output is not a file of a set");
    std::error_code error;
    const Result<std::string> reached_through = linkTarget(path);
    if (!reached_through) return reached_through.error();
    const std::string& target = *reached_through;
    const fs::file_status status = fs::status(target, error);
    if (fs::is_directory(status)) return failure("cannot write " + path + ": it is a directory");
    // A device or pipe cannot be taken back once written: a set is files alone.
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        return failure("cannot write " + path + ": it is not a regular file");
    }
    // The files of a set mostly share a directory: it is opened once.
    std::shared_ptr<OpenDirectory> dir;
    const std::string dir_path = directoryOf(target);
    for (const auto& m : members_) {
        if (m->partial->directory()->path == dir_path) dir = m->partial->directory();
    }
    auto member = std::make_unique<Member>();
    member->partial = std::make_unique<PartialFile>(path, target, std::move(dir));
    if (Status written = member->partial->write(write); !written) {
        if (target != path)
            return failure(written.message() + " (reached through the link " + path + ")");
        return written;
    }
    members_.push_back(std::move(member));
    return {};
}

Status FileSet::commit() {
    for (std::size_t i = 0; i < members_.size(); ++i) {
        Member& m = *members_[i];
        const PartialFile& p = *m.partial;
        std::error_code error;
        if (p.holds(p.name())) {
            // The old file keeps a second name, so that it can come back; a system without hard
            // links moves it there instead.
            for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
                m.backup = temporaryName();
                error = p.link(p.name(), m.backup);
                if (error != std::errc::file_exists) break;
            }
            if (error && error != std::errc::file_exists) {
                m.backup_moved = !(error = p.rename(p.name(), m.backup));
            }
            if (error) m.backup.clear();
        }
        if (!error) error = m.partial->renameTo(p.name());
        if (error) {
            const std::string path = p.path();  // the members go with the roll-back
            rollBack(i);
            return failure("cannot write " + path + ": " + error.message() +
                           " (none of the files written with it is kept)");
        }
        m.renamed = true;
    }
    for (const auto& m : members_) {
        if (!m->backup.empty()) m->partial->remove(m->backup);
    }
    members_.clear();
    return {};
}

void FileSet::rollBack(std::size_t failed) {
    for (std::size_t j = failed + 1; j-- > 0;) {
        Member& m = *members_[j];
        const PartialFile& p = *m.partial;
        if (m.backup.empty()) {
            if (m.renamed) p.remove(p.name());
        } else if (m.renamed || m.backup_moved) {
            p.rename(m.backup, p.name());
        } else {
            p.remove(m.backup);
        }
    }
    members_.clear();  // the temporaries not renamed go with them
}

std::optional<FileIdentity> fileIdentity(const std::string& path) {
#ifdef _WIN32
    const HANDLE handle =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (!known) return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber,
                        (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
#else
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev),
                        static_cast<std::uint64_t>(st.st_ino)};
#endif
}

std::optional<std::size_t> sameFileAs(const std::string& path,
                                      std::span<const std::string> inputs) {
    const std::optional<FileIdentity> output = fileIdentity(path);
    if (!output) return std::nullopt;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (fileIdentity(inputs[i]) == output) return i;
    }
    return std::nullopt;
}

void installSignalCleanup() {
#ifdef _WIN32
    std::signal(SIGINT, removePartialFiles);
    std::signal(SIGTERM, removePartialFiles);
#else
    struct sigaction action {};
    action.sa_handler = removePartialFiles;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    // Either signal holds the other off while the files are removed.
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#endif
}

}  // namespace marlwood
