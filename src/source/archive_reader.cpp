// The archive reader (libarchive): a USGS .tar.gz read in place. An archive is hostile input like
// any module: only the modules of one transfer are kept, each within a bound checked against the
// member's declared size and again while reading, and anything odd ends the reading with one line.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <new>

#include "source/archive_library.h"
#include "source/gzip_stream.h"
#include "source/module_names.h"
#include "source/transfer_source.h"

namespace marlwood {

using namespace source_detail;

namespace {

constexpr std::size_t kBlockSize = 64 * 1024;

// Only called once the entry points have made sure the library is there.
const ArchiveLibrary& la() {
    return **archiveLibrary();
}

struct ArchiveFree {
    void operator()(archive* a) const { la().read_free(a); }
};
using ArchivePtr = std::unique_ptr<archive, ArchiveFree>;

std::string errorOf(archive* a) {
    const char* text = la().error_string(a);
    return printable(text != nullptr ? text : "unknown error");
}

std::string mebibytes(std::uint64_t bytes) {
    return std::to_string(bytes >> 20) + " MiB";
}

// A name that steps up a directory: never a path we would use, and no USGS archive holds one.
bool stepsUp(std::string_view name) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = name.find_first_of("/\\", start);
        if (name.substr(start, end - start) == "..") return true;
        if (end == std::string_view::npos) return false;
        start = end + 1;
    }
}

// The line of a member or file that memory ran out reading, with as much as was had.
std::string noMemoryBeyond(std::uint64_t held) {
    return "cannot be read: not enough memory to hold more than " + mebibytes(held) + " of it";
}

std::string tooLarge(std::uint64_t bound, std::string_view label) {
    return "holds more than " + mebibytes(bound) + ", the most allowed for " + std::string(label);
}

// Reads the current entry's data into `out`, or only counts its bytes into `counted` when `out`
// is null. An error line (without the member's name) when the data is damaged or holds more than
// `bound` bytes.
Status readData(archive* a, std::uint64_t bound, std::string_view label, std::string* out,
                std::uint64_t& counted) {
    std::array<char, kBlockSize> block;
    counted = 0;
    for (;;) {
        const la_ssize_t n = la().read_data(a, block.data(), block.size());
        if (n == 0) return {};
        if (n < 0) return failure("cannot be read: " + errorOf(a));
        if (counted + static_cast<std::uint64_t>(n) > bound) return failure(tooLarge(bound, label));
        counted += static_cast<std::uint64_t>(n);
        if (out == nullptr) continue;
        try {
            out->append(block.data(), static_cast<std::size_t>(n));
        } catch (const std::bad_alloc&) {
            return failure(noMemoryBeyond(out->size()));
        }
    }
}

Status readData(archive* a, std::uint64_t bound, std::string_view label, std::string& out) {
    std::uint64_t counted = 0;
    return readData(a, bound, label, &out, counted);
}

// Gzip unpacked whole within `bound`, every trailer checked; an error line as readData gives one.
Status gunzipAll(CompressedInput input, std::uint64_t bound, std::string_view label,
                 std::string& out) {
    Result<std::unique_ptr<GzipStream>> stream = GzipStream::open(std::move(input), true);
    if (!stream) return stream.error();
    std::array<std::uint8_t, kBlockSize> block;
    for (;;) {
        const Result<std::size_t> n = (*stream)->read(block.data(), block.size());
        if (!n) return n.error();
        if (*n == 0) return {};
        if (out.size() + *n > bound) return failure(tooLarge(bound, label));
        try {
            out.append(reinterpret_cast<const char*>(block.data()), *n);
        } catch (const std::bad_alloc&) {
            return failure(noMemoryBeyond(out.size()));
        }
    }
}

// A member that is itself gzipped, unpacked within the same bound.
Status gunzip(const std::string& compressed, std::uint64_t bound, std::string_view label,
              std::string& out) {
    return gunzipAll(
        memoryInput({reinterpret_cast<const std::uint8_t*>(compressed.data()), compressed.size()}),
        bound, label, out);
}

// A reader of plain tar archives (unpacked already); nothing else is tried on hostile bytes.
ArchivePtr newReader() {
    ArchivePtr a(la().read_new());
    if (a) la().support_format_tar(a.get());
    return a;
}

// A tar, plain or gzipped, handed to libarchive unpacked by a GzipStream, so that a damaged
// gzip member is a failed read rather than wrong bytes.
struct TarInput {
    std::unique_ptr<GzipStream> stream;
    std::array<std::uint8_t, kBlockSize> block;
    // Why the stream stopped, when it did: its own line says more than libarchive's wrapping.
    std::optional<Error> failed;
};

la_ssize_t pullTar(archive* a, void* data, const void** buffer) {
    auto* input = static_cast<TarInput*>(data);
    const Result<std::size_t> got = input->stream->read(input->block.data(), input->block.size());
    if (!got) {
        input->failed = got.error();
        la().set_error(a, EIO, "%s", got.message().c_str());
        return ARCHIVE_FATAL;
    }
    *buffer = input->block.data();
    return static_cast<la_ssize_t>(*got);
}

// The input first, so that it outlives the archive reading it.
struct OpenTar {
    std::unique_ptr<TarInput> input;
    ArchivePtr archive;
};

Result<OpenTar> openTar(CompressedInput bytes) {
    Result<std::unique_ptr<GzipStream>> stream = GzipStream::open(std::move(bytes), false);
    if (!stream) return stream.error();
    OpenTar tar;
    tar.input = std::make_unique<TarInput>();
    tar.input->stream = std::move(*stream);
    tar.archive = newReader();
    if (!tar.archive) return failure("cannot read the archive: out of memory");
    if (la().open(tar.archive.get(), tar.input.get(), nullptr, &pullTar, nullptr) != ARCHIVE_OK) {
        if (tar.input->failed) return *tar.input->failed;
        return failure("damaged archive: " + errorOf(tar.archive.get()));
    }
    return tar;
}

// The current member's bytes, unpacked when it is gzipped, within the bound of its module; the
// line (without the member's name) when they cannot be had.
Result<std::string> readMemberBytes(archive* a, const ModuleKind& kind, bool gzipped,
                                    std::uint64_t declared) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(declared, 8u << 20)));
    if (Status read = readData(a, kind.max_bytes, kind.label, bytes); !read) return read.error();
    if (gzipped) {
        std::string unpacked;
        if (Status unpack = gunzip(bytes, kind.max_bytes, kind.label, unpacked); !unpack) {
            return unpack.error();
        }
        bytes = std::move(unpacked);
    }
    return bytes;
}

// A member read again when its module is opened: the archive is read from its start up to it.
struct DeferredMember {
    std::string path;      // the archive file
    std::size_t index;     // the member's place in the archive, from 1
    std::string raw_name;  // as its header gives it, to make sure it is the same member
    std::string shown;     // as messages show it
    std::size_t kind;
    bool gzipped;
    std::uint64_t declared;  // its size in the archive
};

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// The archive of a deferred member opened again and read up to that member's data.
struct Reopened {
    FilePtr file{nullptr, &std::fclose};
    OpenTar tar;
    ::archive* reader() const { return tar.archive.get(); }
};

Result<Reopened> reopenAt(const DeferredMember& m) {
    if (auto library = archiveLibrary(); !library) return library.error();
    Reopened at;
    at.file = FilePtr(std::fopen(m.path.c_str(), "rb"), &std::fclose);
    // The member's name, which names the archive, comes before these lines.
    if (!at.file)
        return failure("the archive does not open again: " + printable(std::strerror(errno)));
    Result<OpenTar> tar = openTar(fileInput(at.file.get()));
    if (!tar) return failure("the archive does not open again: " + tar.message());
    at.tar = std::move(*tar);
    for (std::size_t n = 1; n <= m.index; ++n) {
        archive_entry* entry = nullptr;
        const int status = la().next_header(at.reader(), &entry);
        if (status != ARCHIVE_OK && status != ARCHIVE_WARN) {
            return failure("damaged archive " + printable(m.path) + ": " + errorOf(at.reader()));
        }
        if (n < m.index) continue;
        const char* name = la().entry_pathname(entry);
        if (name == nullptr || m.raw_name != name) {
            return failure(printable(m.path) + " changed since it was first read");
        }
    }
    return at;
}

Result<std::shared_ptr<const std::string>> readDeferred(const DeferredMember& m) {
    Result<Reopened> at = reopenAt(m);
    if (!at) return at.error();
    Result<std::string> bytes =
        readMemberBytes(at->reader(), kModuleKinds[m.kind], m.gzipped, m.declared);
    if (!bytes) return failure("member " + m.shown + " " + bytes.message());
    return std::make_shared<const std::string>(std::move(*bytes));
}

// A deferred member that is not itself gzipped, read as a stream: the reader pulls its blocks
// straight from libarchive, within the same bound, and may stop where it needs no more.
Result<ModuleChunks> streamDeferred(const DeferredMember& m) {
    Result<Reopened> at = reopenAt(m);
    if (!at) return at.error();
    auto open = std::make_shared<Reopened>(std::move(*at));
    auto counted = std::make_shared<std::uint64_t>(0);
    const std::uint64_t bound = kModuleKinds[m.kind].max_bytes;
    return ModuleChunks(
        [open, counted, bound](std::uint8_t* into, std::size_t capacity) -> Result<std::size_t> {
            const la_ssize_t n = la().read_data(open->reader(), into, capacity);
            if (n < 0) return failure("cannot be read: " + errorOf(open->reader()));
            *counted += static_cast<std::uint64_t>(n);
            if (*counted > bound) return failure("holds more than " + mebibytes(bound));
            return static_cast<std::size_t>(n);
        });
}

struct FoundModule {
    std::string member;  // as shown in messages and module names
    std::string prefix;
};

// The most a gzipped archive read whole may unpack to: its CEL0 and far more than the rest.
constexpr std::uint64_t kMostUnpackedWhole = kMaxCel0ModuleBytes + (std::uint64_t{64} << 20);

// A gzipped archive file unpacked whole, when it can be (see gunzipWhole).
std::optional<LargeBuffer> unpackedWhole(std::FILE* file) {
    if (std::fseek(file, 0, SEEK_END) != 0) return std::nullopt;
    const long size = std::ftell(file);
    std::rewind(file);
    if (size <= 0 || static_cast<std::uint64_t>(size) > kMostUnpackedWhole) return std::nullopt;
    std::optional<LargeBuffer> compressed = LargeBuffer::allocate(static_cast<std::size_t>(size));
    if (!compressed) return std::nullopt;
    // A file that changes size while it is read is read as a stream.
    if (std::fread(compressed->data(), 1, compressed->size(), file) != compressed->size() ||
        std::fgetc(file) != EOF) {
        return std::nullopt;
    }
    return gunzipWhole(compressed->view(), kMostUnpackedWhole);
}

// Reads the headers of an opened archive through to its end. With `reread_from`, the archive's
// file, the CEL0 member is read and checked but not kept: it is read again when opened.
FoundTransfer readOpened(archive* a, const std::string& display_name,
                         const std::string* reread_from = nullptr) {
    std::array<std::optional<FoundModule>, kModuleKinds.size()> found;
    std::array<std::string, kModuleKinds.size()> linked;  // the first link named like each module
    TransferModules modules;
    const FoundModule* first = nullptr;  // the first module found gives the transfer's prefix
    std::size_t members = 0;
    for (;;) {
        archive_entry* entry = nullptr;
        const int status = la().next_header(a, &entry);
        if (status == ARCHIVE_EOF) break;
        if (status != ARCHIVE_OK && status != ARCHIVE_WARN) {
            return failure("damaged archive: " + errorOf(a));
        }
        if (++members > kMaxArchiveMembers) {
            return failure("holds more than " + std::to_string(kMaxArchiveMembers) +
                           " members; a DEM transfer has about 20");
        }
        const char* raw_name = la().entry_pathname(entry);
        const std::string_view name = raw_name != nullptr ? raw_name : "";
        // "./7172CEL0.DDF", as tar writes names given as ".", is shown as "7172CEL0.DDF".
        std::string_view shown = name;
        while (shown.starts_with("./")) shown.remove_prefix(2);
        const std::string member = printable(shown);
        if (stepsUp(name)) return failure("member " + member + " has \"..\" in its name");
        const bool size_known = la().entry_size_is_set(entry) != 0;
        const auto declared = static_cast<std::uint64_t>(la().entry_size(entry));
        if (size_known && declared > kMaxCel0ModuleBytes) {
            return failure("member " + member + " declares " + std::to_string(declared) +
                           " bytes, more than any module may hold (" +
                           mebibytes(kMaxCel0ModuleBytes) + ")");
        }
        std::optional<ModuleName> module = matchModuleName(baseName(name), true);
        // Links and directories are no modules, whatever their name; other members are skipped
        // by the next header read, their data never read. A link named like a module is kept
        // for the message, should that module be missing.
        const bool hard_link = la().entry_hardlink(entry) != nullptr;
        if (la().entry_filetype(entry) != AE_IFREG || hard_link) {
            const bool link = hard_link || la().entry_filetype(entry) == AE_IFLNK;
            if (module && link && linked[module->kind].empty()) linked[module->kind] = member;
            continue;
        }
        if (!module) continue;
        const ModuleKind& kind = kModuleKinds[module->kind];
        std::optional<FoundModule>& held = found[module->kind];
        if (!kind.required) {
            // Only the required modules name the transfer. An optional one of another transfer
            // is passed over; before the first required module, one of each kind is held and
            // dropped at the end if it turns out to belong elsewhere.
            if (first != nullptr && module->prefix != first->prefix) continue;
            if (held && held->prefix != module->prefix) {
                if (first == nullptr) {
                    return failure("holds modules of two transfers: " + held->member + " and " +
                                   member);
                }
                held.reset();  // held before the transfer was known, and not of it
            }
        } else if (first != nullptr && module->prefix != first->prefix) {
            return failure("holds modules of two transfers: " + first->member + " and " + member);
        }
        if (held) {
            return failure("holds the " + std::string(kind.label) +
                           " module twice: " + held->member + " and " + member);
        }
        if (size_known && declared > kind.max_bytes) {
            return failure("member " + member + " declares " + std::to_string(declared) +
                           " bytes, more than the " + mebibytes(kind.max_bytes) + " allowed for " +
                           std::string(kind.label));
        }
        const bool deferred_cel0 = reread_from != nullptr && &kind == &kModuleKinds[0];
        if (deferred_cel0 && !module->gzipped) {
            // Read again as a stream when it is decoded: here it is only checked and counted.
            std::uint64_t counted = 0;
            if (Status read = readData(a, kind.max_bytes, kind.label, nullptr, counted); !read) {
                return failure("member " + member + " " + read.message());
            }
            held = FoundModule{member, module->prefix};
            if (first == nullptr) first = &*held;
            const DeferredMember deferred{*reread_from, members, std::string(name), member,
                                          module->kind, false,   declared};
            modules.*kind.slot = ModuleSource(display_name + ":" + member,
                                              [deferred] { return streamDeferred(deferred); });
            continue;
        }
        Result<std::string> bytes = readMemberBytes(a, kind, module->gzipped, declared);
        if (!bytes) return failure("member " + member + " " + bytes.message());
        held = FoundModule{member, module->prefix};
        if (first == nullptr && kind.required) first = &*held;
        const std::string module_name = display_name + ":" + member;
        if (deferred_cel0) {
            const DeferredMember deferred{*reread_from, members,         std::string(name), member,
                                          module->kind, module->gzipped, declared};
            modules.*kind.slot = ModuleSource(
                module_name, [deferred] { return readDeferred(deferred); }, bytes->size());
        } else {
            modules.*kind.slot =
                ModuleSource(module_name, std::make_shared<const std::string>(std::move(*bytes)));
        }
    }
    const auto notFollowed = [&](std::size_t kind) {
        return linked[kind].empty()
                   ? std::string()
                   : "; " + linked[kind] + " is a link, and links in an archive are not followed";
    };
    if (first == nullptr) {
        return failure("holds no SDTS DEM modules (no member named like NNNNcel0.ddf)" +
                       notFollowed(0));
    }
    for (std::size_t i = 0; i < kModuleKinds.size(); ++i) {
        const ModuleKind& kind = kModuleKinds[i];
        if (kind.required && !found[i]) {
            return failure("holds no member " + printable(first->prefix) +
                           std::string(kind.suffix) + " (in either case)" + notFollowed(i));
        }
        if (!kind.required && found[i] && found[i]->prefix != first->prefix) {
            modules.*kind.slot = ModuleSource();
        }
    }
    Transfer transfer{display_name,
                      archiveStem(display_name, first->prefix.empty() ? "transfer" : first->prefix),
                      std::move(modules)};
    return transfer;
}

}  // namespace

bool archivesSupported() {
    return archiveSupport().ok();
}

Status archiveSupport() {
    if (auto library = archiveLibrary(); !library) return library.error();
    if (auto zlib = zlibLibrary(); !zlib) return zlib.error();
    return {};
}

namespace {
// Reads a whole tar through `tar`: its transfer once every gzip trailer was checked.
FoundTransfer readTar(OpenTar& tar, const std::string& display_name,
                      const std::string* reread_from = nullptr) {
    FoundTransfer found = readOpened(tar.archive.get(), display_name, reread_from);
    if (!found && tar.input->failed) return *tar.input->failed;
    if (!found) return found;
    if (Status checked = tar.input->stream->finish(); !checked) return checked.error();
    return found;
}
}  // namespace

FoundTransfer readArchiveTransfer(const std::string& display_name, std::string_view bytes) {
    if (auto library = archiveLibrary(); !library) return library.error();
    Result<OpenTar> tar =
        openTar(memoryInput({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}));
    if (!tar) return tar.error();
    return readTar(*tar, display_name);
}

namespace source_detail {
FoundTransfer readArchiveFile(const std::string& path, Cel0Reading cel0_reading) {
    if (auto library = archiveLibrary(); !library) return library.error();
    // Opened here, so that a file that cannot be read is told apart from one that is no archive.
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                               &std::fclose);
    if (!file) return failure("cannot read the archive: " + printable(std::strerror(errno)));
    const std::string* reread_from = cel0_reading == Cel0Reading::WhenOpened ? &path : nullptr;
    // A merge reads an archive whole to find its modules, CEL0 through, and keeps only the small
    // ones: unpacked at once it takes a fraction of the time, within a bound on what it may hold.
    // Should that fail, the archive is read as a stream, as otherwise, and says what is wrong.
    if (reread_from != nullptr) {
        if (std::optional<LargeBuffer> tar = unpackedWhole(file.get()); tar) {
            ArchivePtr a = newReader();
            if (!a) return failure("cannot read the archive: out of memory");
            if (la().open_memory(a.get(), tar->data(), tar->size()) == ARCHIVE_OK) {
                FoundTransfer found = readOpened(a.get(), path, reread_from);
                if (found) return found;
            }
        }
        std::rewind(file.get());
    }
    Result<OpenTar> tar = openTar(fileInput(file.get()));
    if (!tar) return tar.error();
    return readTar(*tar, path, reread_from);
}

Result<std::string> gunzipFile(const std::string& path, std::uint64_t bound) {
    if (auto library = archiveLibrary(); !library) return library.error();
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                               &std::fclose);
    if (!file) return failure("cannot read the file: " + printable(std::strerror(errno)));
    std::string bytes;
    if (Status unpacked = gunzipAll(fileInput(file.get()), bound, "a DEM", bytes); !unpacked) {
        return unpacked.error();
    }
    return bytes;
}

Status gzipSupport() {
    return archiveSupport();
}
}  // namespace source_detail

}  // namespace marlwood
