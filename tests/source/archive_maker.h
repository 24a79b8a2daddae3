// Builds tar archives in memory for the source tests and the fuzz seeds. The tar headers are
// written here byte by byte, so a test can make them lie (a declared size, a type, a name) in
// ways no archiver would; gzip comes from libarchive's writer.
#pragma once

#include <archive.h>
#include <archive_entry.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace marlwood::testsupport {

struct TarMember {
    std::string name;
    std::string bytes;
    char type = '0';  // '0' file, '5' directory, '2' symbolic link, '1' hard link
    // Written in the header instead of bytes.size(); the data that follows is `bytes` all the same.
    std::optional<std::uint64_t> declared_size = std::nullopt;
};

// A ustar archive: a 512-byte header per member, its data padded to 512 bytes, two empty blocks.
inline std::string tarArchive(const std::vector<TarMember>& members) {
    std::string tar;
    for (const TarMember& member : members) {
        if (member.name.size() > 100) throw std::invalid_argument("tar name over 100 bytes");
        std::string header(512, '\0');
        const auto octal = [&header](std::size_t at, std::size_t width, std::uint64_t value) {
            std::snprintf(header.data() + at, width, "%0*llo", static_cast<int>(width - 1),
                          static_cast<unsigned long long>(value));
        };
        header.replace(0, member.name.size(), member.name);
        octal(100, 8, member.type == '5' ? 0755 : 0644);
        octal(108, 8, 1000);
        octal(116, 8, 1000);
        octal(124, 12, member.declared_size.value_or(member.bytes.size()));
        octal(136, 12, 1000000000);
        header[156] = member.type;
        if (member.type == '1' || member.type == '2') header.replace(157, 4, "else");
        header.replace(257, 8,
                       std::string("ustar\0"
                                   "00",
                                   8));
        header.replace(148, 8, "        ");
        unsigned sum = 0;
        for (const char c : header) sum += static_cast<unsigned char>(c);
        std::snprintf(header.data() + 148, 8, "%06o", sum);  // then NUL, and the space stays
        header[155] = ' ';
        tar += header;
        tar += member.bytes;
        tar.append((512 - member.bytes.size() % 512) % 512, '\0');
    }
    return tar + std::string(1024, '\0');
}

// The bytes gzipped, as one .gz file holds them.
inline std::string gzip(std::string_view bytes) {
    struct Sink {
        static la_ssize_t write(archive*, void* out, const void* data, std::size_t size) {
            static_cast<std::string*>(out)->append(static_cast<const char*>(data), size);
            return static_cast<la_ssize_t>(size);
        }
    };
    std::string out;
    archive* a = archive_write_new();
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, "data");
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_size(entry, static_cast<la_int64_t>(bytes.size()));
    const bool ok =
        archive_write_add_filter_gzip(a) == ARCHIVE_OK &&
        archive_write_set_format_raw(a) == ARCHIVE_OK &&
        archive_write_set_bytes_in_last_block(a, 1) == ARCHIVE_OK &&
        archive_write_open2(a, &out, nullptr, &Sink::write, nullptr, nullptr) == ARCHIVE_OK &&
        archive_write_header(a, entry) == ARCHIVE_OK &&
        archive_write_data(a, bytes.data(), bytes.size()) ==
            static_cast<la_ssize_t>(bytes.size()) &&
        archive_write_close(a) == ARCHIVE_OK;
    archive_entry_free(entry);
    archive_write_free(a);
    if (!ok) throw std::runtime_error("gzip failed");
    return out;
}

}  // namespace marlwood::testsupport
