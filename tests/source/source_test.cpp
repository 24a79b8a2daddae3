#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>

#include "files.h"
#include "pipeline/reader.h"
#include "quad_terrain.h"
#include "sdts_writer.h"
#include "source/module_names.h"
#include "source/transfer_source.h"
#include "temp_dir.h"
#if MARLWOOD_TEST_ARCHIVES
#include "source/archive_maker.h"
#include "source/gzip_stream.h"
#endif

namespace marlwood {
namespace {

namespace fs = std::filesystem;
namespace ts = testsupport;

// The modules as (TransferModules slot, lower-case suffix): the five required, then the three
// found when present.
const std::pair<ModuleSource TransferModules::*, std::string> kSlots[] = {
    {&TransferModules::cel0, "cel0.ddf"}, {&TransferModules::ldef, "ldef.ddf"},
    {&TransferModules::spdm, "spdm.ddf"}, {&TransferModules::ddsh, "ddsh.ddf"},
    {&TransferModules::iref, "iref.ddf"}, {&TransferModules::rsdf, "rsdf.ddf"},
    {&TransferModules::xref, "xref.ddf"}, {&TransferModules::ddom, "ddom.ddf"},
};

const ts::ModuleSet& smallSet() {
    static const ts::ModuleSet set = ts::buildModules(ts::makeQuad(6, 5, ts::CellFormat::Bi16));
    return set;
}

// Every module of the set reads, through a ModuleReader, exactly the bytes that were written or
// packed; a module the set lacks is absent.
void expectModuleBytes(const TransferModules& modules, const ts::ModuleSet& set) {
    for (const auto& [slot, suffix] : kSlots) {
        if (!set.contains(suffix)) {
            EXPECT_EQ((modules.*slot).name, "") << suffix;
            continue;
        }
        ModuleReader reader;
        ASSERT_TRUE(reader.open(modules.*slot)) << (modules.*slot).name;
        std::string read;
        for (std::uint8_t byte = reader.readByte(); !reader.failed(); byte = reader.readByte()) {
            read.push_back(static_cast<char>(byte));
        }
        EXPECT_EQ(read, set.at(suffix)) << (modules.*slot).name;
    }
}

// Source of the case: a path inside the test directory ("" is the directory itself, with a
// trailing slash), or no text at all.
struct SourceCase {
    const char* what;
    std::function<void(const ts::TempDir&)> setup;
    std::optional<std::string> source;
    std::string stem;   // empty: an error is expected
    std::string cel0;   // the CEL0 module's name, relative to the test directory
    std::string error;  // a part of the error line
};

void runSourceCases(const std::vector<SourceCase>& cases) {
    for (const SourceCase& c : cases) {
        SCOPED_TRACE(c.what);
        ts::TempDir dir;
        c.setup(dir);
        const std::string root = dir.path().string() + "/";
        const std::string source = c.source ? root + *c.source : "";
        const FoundTransfer found = findTransfer(source);
        if (c.stem.empty()) {
            ASSERT_FALSE(found);
            EXPECT_NE(found.message().find(c.error), std::string::npos) << found.message();
            EXPECT_EQ(found.message().find('\n'), std::string::npos);
            continue;
        }
        ASSERT_TRUE(found) << found.message();
        EXPECT_EQ(found->source, source);
        EXPECT_EQ(found->output_stem, c.stem);
        EXPECT_EQ(found->modules.cel0.name, root + c.cel0);
        expectModuleBytes(found->modules, smallSet());
    }
}

const auto kLower = [](const ts::TempDir& d) { ts::writeModules(d / "7018", smallSet()); };
const auto kUpper = [](const ts::TempDir& d) { ts::writeModules(d / "7018", smallSet(), true); };
auto withoutFile(std::function<void(const ts::TempDir&)> setup, std::string name) {
    return [=](const ts::TempDir& d) {
        setup(d);
        fs::remove(d / name);
    };
}

TEST(SourceFinding, PrefixesAndDirectories) {
    runSourceCases({
        {"prefix, lower-case names", kLower, "7018", "7018", "7018cel0.ddf", ""},
        {"prefix, upper-case names", kUpper, "7018", "7018", "7018CEL0.DDF", ""},
        {"prefix, both cases: lower first",
         [](const ts::TempDir& d) {
             kUpper(d);
             kLower(d);
         },
         "7018", "7018", "7018cel0.ddf", ""},
        {"directory, lower-case names", kLower, "", "7018", "7018cel0.ddf", ""},
        {"directory, upper-case names", kUpper, ".", "7018", "./7018CEL0.DDF", ""},
        {"directory, mixed-case names",
         [](const ts::TempDir& d) {
             kLower(d);
             fs::rename(d / "7018cel0.ddf", d / "7018Cel0.Ddf");
         },
         "", "7018", "7018Cel0.Ddf", ""},
        {"directory named like its prefix",
         [](const ts::TempDir& d) {
             fs::create_directory(d / "7172");
             ts::writeModules(d / "7172/7172", smallSet());
         },
         "7172", "7172", "7172/7172cel0.ddf", ""},
        {"directory of modules without prefix: the directory names the output",
         [](const ts::TempDir& d) {
             fs::create_directory(d / "quad");
             ts::writeModules(d / "quad/", smallSet(), true);
         },
         "quad/", "quad", "quad/CEL0.DDF", ""},
        {"prefix, a module missing", withoutFile(kLower, "7018ldef.ddf"), "7018", "", "",
         "7018ldef.ddf (nor "},
        {"prefix, nothing there", kLower, "9999", "", "", "no module "},
        {"an archive without extension, read as a prefix",
         [](const ts::TempDir& d) { ts::writeFile(d.path() / "1107834", "x"); }, "1107834", "", "",
         "is a file, read as a module prefix (an archive is read as one when its name "
         "ends in .tar.gz, .tgz or .tar): no module "},
        {"prefix, a module that is a directory",
         [](const ts::TempDir& d) {
             kLower(d);
             fs::remove(d / "7018spdm.ddf");
             fs::create_directory(d / "7018spdm.ddf");
         },
         "7018", "", "", "7018spdm.ddf: not a regular file"},
        {"directory, a module missing", withoutFile(kUpper, "7018IREF.DDF"), "", "", "",
         "holds no module 7018iref.ddf (in either case)"},
        {"directory without modules",
         [](const ts::TempDir& d) { ts::writeFile(d.path() / "notes.txt", "x"); }, "", "", "",
         "holds no SDTS DEM modules"},
        {"directory holding an archive",
         [](const ts::TempDir& d) { ts::writeFile(d.path() / "1107834.DEM.SDTS.TAR.GZ", "x"); }, "",
         "", "", "give its path: 1107834.DEM.SDTS.TAR.GZ"},
        {"directory holding two transfers",
         [](const ts::TempDir& d) {
             kLower(d);
             ts::writeModules(d / "7172", smallSet(), true);
         },
         "", "", "", "several transfers: 7018 7172;"},
        {"no source", kLower, std::nullopt, "", "", "no transfer named"},
    });
}

// The small set without the modules named.
ts::ModuleSet smallSetWithout(std::initializer_list<const char*> suffixes) {
    ts::ModuleSet set = smallSet();
    for (const char* suffix : suffixes) set.erase(suffix);
    return set;
}

// RSDF, XREF and DDOM are found like the others when there, and never required: missing, not a
// module, or of another transfer, they are left out and the rest is found as before.
TEST(SourceFinding, GeoreferenceModulesWhenPresent) {
    const struct {
        const char* what;
        std::function<void(const ts::TempDir&)> setup;
        std::string source;
        ts::ModuleSet expected;  // empty: refused
        std::string error;
    } cases[] = {
        {"prefix, none of them",
         [](const ts::TempDir& d) {
             ts::writeModules(d / "7018", smallSetWithout({"rsdf.ddf", "xref.ddf", "ddom.ddf"}));
         },
         "7018", smallSetWithout({"rsdf.ddf", "xref.ddf", "ddom.ddf"}), ""},
        {"prefix, upper-case names, DDOM a directory",
         [](const ts::TempDir& d) {
             ts::writeModules(d / "7018", smallSetWithout({"ddom.ddf"}), true);
             fs::create_directory(d / "7018DDOM.DDF");
         },
         "7018", smallSetWithout({"ddom.ddf"}), ""},
        {"directory, XREF of another transfer beside",
         [](const ts::TempDir& d) {
             ts::writeModules(d / "7018", smallSetWithout({"xref.ddf"}));
             ts::writeFile(d.path() / "7172xref.ddf", smallSet().at("xref.ddf"));
         },
         "", smallSetWithout({"xref.ddf"}), ""},
        {"directory, RSDF in either case",
         [](const ts::TempDir& d) {
             kLower(d);
             ts::writeFile(d.path() / "7018RSDF.DDF", "other bytes");
         },
         "", smallSet(), ""},
        {"directory of nothing but them",
         [](const ts::TempDir& d) {
             kLower(d);
             for (const char* suffix : {"cel0.ddf", "ldef.ddf", "spdm.ddf", "ddsh.ddf", "iref.ddf"})
                 fs::remove(d / ("7018" + std::string(suffix)));
         },
         "",
         {},
         "holds no SDTS DEM modules"},
        {"prefix, a required module missing",
         withoutFile(kLower, "7018cel0.ddf"),
         "7018",
         {},
         "no module "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ts::TempDir dir;
        c.setup(dir);
        const FoundTransfer found = findTransfer(dir.path().string() + "/" + c.source);
        if (c.expected.empty()) {
            ASSERT_FALSE(found);
            EXPECT_NE(found.message().find(c.error), std::string::npos) << found.message();
            continue;
        }
        ASSERT_TRUE(found) << found.message();
        expectModuleBytes(found->modules, c.expected);
    }
}

#if MARLWOOD_TEST_ARCHIVES

// The set's members, named prefix + suffix in a folder, the suffix in upper case when asked.
std::vector<ts::TarMember> members(const std::string& folder = "", bool upper = false,
                                   bool gzipped = false) {
    std::vector<ts::TarMember> list;
    for (const auto& [suffix, bytes] : smallSet()) {
        std::string name = suffix + (gzipped ? ".gz" : "");
        if (upper) {
            for (char& ch : name)
                ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        }
        list.push_back({folder + "7018" + name, gzipped ? ts::gzip(bytes) : bytes});
    }
    return list;
}
std::vector<ts::TarMember> plus(std::vector<ts::TarMember> list,
                                const std::vector<ts::TarMember>& more) {
    list.insert(list.end(), more.begin(), more.end());
    return list;
}
std::vector<ts::TarMember> without(std::vector<ts::TarMember> list, const std::string& name) {
    std::erase_if(list, [&](const ts::TarMember& m) { return m.name == name; });
    return list;
}
std::string manyMembers(std::size_t count) {
    std::vector<ts::TarMember> list = members();
    while (list.size() < count) {
        std::string name = "f";  // not "f" + to_string: GCC 12 warns wrongly (-Wrestrict)
        name += std::to_string(list.size());
        list.push_back({name, ""});
    }
    return ts::tarArchive(list);
}

TEST(ArchiveSource, ModulesComeOutAsPackedOrTheArchiveIsRefused) {
    const std::string zeros(2 << 20, '\0');
    // The second header's name changed after its checksum was written: the format is known
    // from the first header, and the reading stops at the damaged one.
    std::string bad_checksum = ts::tarArchive(members());
    bad_checksum[512 + (smallSet().begin()->second.size() + 511) / 512 * 512] ^= 1;
    const struct {
        const char* what;
        std::string name;  // the archive's display name
        std::string bytes;
        std::string stem;  // empty: an error is expected
        std::string cel0;  // the CEL0 member's name
        std::string error;
    } cases[] = {
        {"tar.gz, lower-case names, prefix unlike the archive's digits",
         "dl/1107834.DEM.SDTS.TAR.GZ", ts::gzip(ts::tarArchive(members())), "1107834",
         "7018cel0.ddf", ""},
        {"plain tar, upper-case names in a folder", "7018.tar",
         ts::tarArchive(members("1107834/", true)), "7018", "1107834/7018CEL0.DDF", ""},
        {"gzipped members", "q.tgz", ts::gzip(ts::tarArchive(members("", true, true))), "q",
         "7018CEL0.DDF.GZ", ""},
        {"links and directories named like modules are no modules", "a.tar",
         ts::tarArchive(plus({{"7018cel0.ddf", "", '2'}, {"7018ldef.ddf", "", '5'}}, members())),
         "a", "7018cel0.ddf", ""},
        {"a module missing", "a.tar", ts::tarArchive(without(members(), "7018ldef.ddf")), "", "",
         "holds no member 7018ldef.ddf (in either case)"},
        {"CEL0 a symbolic link", "a.tar",
         ts::tarArchive(plus({{"x/7018CEL0.DDF", "", '2'}}, without(members(), "7018cel0.ddf"))),
         "", "",
         "holds no member 7018cel0.ddf (in either case); x/7018CEL0.DDF is a link, and links in "
         "an archive are not followed"},
        {"CEL0 a hard link", "a.tar",
         ts::tarArchive(plus(without(members(), "7018cel0.ddf"), {{"7018cel0.ddf", "", '1'}})), "",
         "", "7018cel0.ddf is a link, and links in an archive are not followed"},
        {"no modules", "a.tar", ts::tarArchive({{"README", "hello"}}), "", "",
         "holds no SDTS DEM modules"},
        {"two transfers", "a.tar", ts::tarArchive(plus(members(), {{"7172ldef.ddf", "x"}})), "", "",
         "holds modules of two transfers: 7018cel0.ddf and 7172ldef.ddf"},
        {"a module twice", "a.tar",
         ts::tarArchive(plus(members(), {{"x/7018CEL0.DDF.GZ", ts::gzip("x")}})), "", "",
         "holds the CEL0 module twice: 7018cel0.ddf and x/7018CEL0.DDF.GZ"},
        {"a name stepping up", "a.tar",
         ts::tarArchive(plus({{"a/../7018cel0.ddf", "x"}}, members())), "", "",
         "member a/../7018cel0.ddf has \"..\" in its name"},
        {"a metadata module declared over its bound", "a.tar",
         ts::tarArchive(plus({{"7018ldef.ddf", "", '0', (1u << 20) + 1}}, members())), "", "",
         "member 7018ldef.ddf declares 1048577 bytes, more than the 1 MiB allowed for LDEF"},
        {"a 4 GiB member", "a.tar", ts::tarArchive({{"big.bin", "", '0', std::uint64_t{4} << 30}}),
         "", "",
         "member big.bin declares 4294967296 bytes, more than any module may hold (512 MiB)"},
        {"a gzipped member unpacking over its bound", "a.tar",
         ts::tarArchive(
             plus(without(members(), "7018ldef.ddf"), {{"7018ldef.ddf.gz", ts::gzip(zeros)}})),
         "", "", "member 7018ldef.ddf.gz holds more than 1 MiB, the most allowed for LDEF"},
        {"a .gz member that is not gzipped", "a.tar",
         ts::tarArchive({{"7018cel0.ddf.gz", smallSet().at("cel0.ddf")}}), "", "",
         "member 7018cel0.ddf.gz is not gzip data"},
        {"too many members", "a.tar", manyMembers(201), "", "", "holds more than 200 members"},
        {"as many members as allowed", "a.tar", manyMembers(200), "a", "7018cel0.ddf", ""},
        {"garbage", "a.tar.gz", std::string(5000, 'x'), "", "", "damaged archive: "},
        {"a damaged header", "a.tar", bad_checksum, "", "", "damaged archive: "},
        {"gzip of something that is no tar", "a.tgz", ts::gzip("no archive here"), "", "",
         "damaged archive: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const FoundTransfer found = readArchiveTransfer(c.name, c.bytes);
        if (c.stem.empty()) {
            ASSERT_FALSE(found);
            EXPECT_NE(found.message().find(c.error), std::string::npos) << found.message();
            continue;
        }
        ASSERT_TRUE(found) << found.message();
        EXPECT_EQ(found->source, c.name);
        EXPECT_EQ(found->output_stem, c.stem);
        EXPECT_EQ(found->modules.cel0.name, c.name + ":" + c.cel0);
        expectModuleBytes(found->modules, smallSet());
    }
}

// A member of exactly its bound is read, packed or gzipped; one byte more is refused (above).
TEST(ArchiveSource, MembersOfExactlyTheirBound) {
    const std::string bound(1u << 20, ' ');
    for (const bool gzipped : {false, true}) {
        SCOPED_TRACE(gzipped ? "gzipped" : "packed");
        const FoundTransfer found = readArchiveTransfer(
            "a.tar", ts::tarArchive(plus(without(members(), "7018ddom.ddf"),
                                         {{gzipped ? "7018ddom.ddf.gz" : "7018ddom.ddf",
                                           gzipped ? ts::gzip(bound) : bound}})));
        ASSERT_TRUE(found) << found.message();
        ASSERT_TRUE(found->modules.ddom.bytes);
        EXPECT_EQ(found->modules.ddom.bytes->size(), bound.size());
    }
}

// The georeference modules in archives: kept when they belong to the transfer, whatever the order;
// one of another transfer is passed over, before or after the required modules.
TEST(ArchiveSource, GeoreferenceModulesOfTheTransferOnly) {
    const std::string xref = smallSet().at("xref.ddf");
    const std::vector<ts::TarMember> no_xref = without(members(), "7018xref.ddf");
    const struct {
        const char* what;
        std::vector<ts::TarMember> members;
        ts::ModuleSet expected;  // empty: refused
        std::string error;
    } cases[] = {
        {"none of them", without(without(no_xref, "7018rsdf.ddf"), "7018ddom.ddf"),
         smallSetWithout({"rsdf.ddf", "xref.ddf", "ddom.ddf"}), ""},
        {"XREF first", plus({{"7018xref.ddf", xref}}, no_xref), smallSet(), ""},
        {"another transfer's XREF first", plus({{"7172xref.ddf", "x"}}, no_xref),
         smallSetWithout({"xref.ddf"}), ""},
        {"another transfer's XREF first, then the transfer's",
         plus({{"7172xref.ddf", "x"}}, members()), smallSet(), ""},
        {"another transfer's XREF last", plus(no_xref, {{"7172XREF.DDF", "x"}}),
         smallSetWithout({"xref.ddf"}), ""},
        {"XREF twice",
         plus(members(), {{"a/7018XREF.DDF", xref}}),
         {},
         "holds the XREF module twice: 7018xref.ddf and a/7018XREF.DDF"},
        {"XREF of two other transfers before any other module",
         plus({{"7172xref.ddf", "x"}, {"3814xref.ddf", "y"}}, members()),
         {},
         "holds modules of two transfers: 7172xref.ddf and 3814xref.ddf"},
        {"DDOM declared over its bound",
         plus({{"7018ddom.ddf", "", '0', (1u << 20) + 1}}, members()),
         {},
         "member 7018ddom.ddf declares 1048577 bytes, more than the 1 MiB allowed for DDOM"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const FoundTransfer found = readArchiveTransfer("a.tar", ts::tarArchive(c.members));
        if (c.expected.empty()) {
            ASSERT_FALSE(found);
            EXPECT_EQ(found.message(), c.error);
            continue;
        }
        ASSERT_TRUE(found) << found.message();
        expectModuleBytes(found->modules, c.expected);
    }
}

// Cut anywhere, an archive is refused or (cut only in its closing blocks) gives the modules
// exactly; never a module with other bytes.
TEST(ArchiveSource, CutArchivesNeverGiveOtherBytes) {
    const std::string tar = ts::tarArchive(members("", false, true));
    for (const std::string& whole : {tar, ts::gzip(tar)}) {
        std::size_t refused = 0;
        for (std::size_t cut = 0; cut < whole.size(); cut += 61) {
            const FoundTransfer found = readArchiveTransfer("a.tar", whole.substr(0, cut));
            if (found) {
                expectModuleBytes(found->modules, smallSet());
            } else {
                EXPECT_FALSE(found.message().empty());
                ++refused;
            }
        }
        EXPECT_GT(refused, whole.size() / 61 / 2);
    }
}

TEST(ArchiveSource, FilesOnDisk) {
    runSourceCases({
        {"tar.gz, upper-case extension",
         [](const ts::TempDir& d) {
             ts::writeFile(d.path() / "1107834.DEM.SDTS.TAR.GZ",
                           ts::gzip(ts::tarArchive(members())));
         },
         "1107834.DEM.SDTS.TAR.GZ", "1107834", "1107834.DEM.SDTS.TAR.GZ:7018cel0.ddf", ""},
        {".tgz",
         [](const ts::TempDir& d) {
             ts::writeFile(d.path() / "x.TGZ", ts::gzip(ts::tarArchive(members())));
         },
         "x.TGZ", "x", "x.TGZ:7018cel0.ddf", ""},
        {"a directory named like an archive is a directory",
         [](const ts::TempDir& d) {
             fs::create_directory(d / "d.tar");
             ts::writeModules(d / "d.tar/7018", smallSet());
         },
         "d.tar", "7018", "d.tar/7018cel0.ddf", ""},
        {"no such archive", kLower, "7018.tar.gz", "", "", "no such archive"},
        {"a named pipe", [](const ts::TempDir& d) { mkfifo((d / "p.tar").c_str(), 0600); }, "p.tar",
         "", "", "not a regular file"},
        {"a damaged archive file",
         [](const ts::TempDir& d) { ts::writeFile(d.path() / "z.tgz", "garbage"); }, "z.tgz", "",
         "", "damaged archive"},
    });
}

// A native DEM, plain or gzipped, found as a SOURCE whatever the case of its name: its bytes as
// written (unpacked when found, or each time it is opened for a merge), or one line.
TEST(NativeDemSource, FoundByNameOrRefused) {
    const std::string dem(3 * 1024, '7');
    const struct {
        const char* name;
        std::function<void(const ts::TempDir&)> setup;
        std::string stem;   // empty: refused
        std::string error;  // a part of the line
    } cases[] = {
        {"7172.dem", [&](const ts::TempDir& d) { ts::writeFile(d / "7172.dem", dem); }, "7172", ""},
        {"Q.DEM", [&](const ts::TempDir& d) { ts::writeFile(d / "Q.DEM", dem); }, "Q", ""},
        {"duluth.dem.gz",
         [&](const ts::TempDir& d) { ts::writeFile(d / "duluth.dem.gz", ts::gzip(dem)); }, "duluth",
         ""},
        {"A.B.DEM.GZ",
         [&](const ts::TempDir& d) { ts::writeFile(d / "A.B.DEM.GZ", ts::gzip(dem)); }, "A", ""},
        {"none.dem", [](const ts::TempDir&) {}, "", "no such DEM file"},
        {"p.dem", [](const ts::TempDir& d) { mkfifo((d / "p.dem").c_str(), 0600); }, "",
         "not a regular file"},
        {"text.dem.gz", [&](const ts::TempDir& d) { ts::writeFile(d / "text.dem.gz", dem); }, "",
         "is not gzip data"},
        {"cut.dem.gz",
         [&](const ts::TempDir& d) {
             ts::writeFile(d / "cut.dem.gz", ts::gzip(dem).substr(0, 20));
         },
         "", "the gzip data is cut short"},
        {"dir.dem",
         [&](const ts::TempDir& d) {
             fs::create_directory(d / "dir.dem");
             ts::writeFile(d / "dir.dem/b.DEM", dem);
             ts::writeFile(d / "dir.dem/a.dem.gz", dem);
         },
         "",
         "holds no SDTS DEM modules (no file named like NNNNcel0.ddf); to read a native DEM, "
         "give its path: a.dem.gz"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ts::TempDir dir;
        c.setup(dir);
        for (const Cel0Reading reading : {Cel0Reading::WhenFound, Cel0Reading::WhenOpened}) {
            const Result<Input> found = inputFormats().find(dir / c.name, reading);
            if (c.stem.empty()) {
                // A gzipped file cut short is found for a merge and refused when it is read.
                if (found && found->file.load) {
                    const auto loaded = found->file.load();
                    ASSERT_FALSE(loaded);
                    EXPECT_NE(loaded.message().find(c.error), std::string::npos)
                        << loaded.message();
                    continue;
                }
                ASSERT_FALSE(found);
                EXPECT_NE(found.message().find(c.error), std::string::npos) << found.message();
                EXPECT_EQ(found.message().find('\n'), std::string::npos);
                continue;
            }
            ASSERT_TRUE(found) << found.message();
            EXPECT_EQ(found->output_stem, c.stem);
            const ModuleSource& m = found->file;
            EXPECT_EQ(m.name, dir / c.name);
            EXPECT_EQ(found->modules.cel0.name, "");
            std::string bytes;
            if (m.bytes) {
                bytes = *m.bytes;
            } else if (m.load) {
                EXPECT_EQ(m.heldBytes(), dem.size());
                bytes = **m.load();
            } else {
                bytes = ts::readFile(m.name);
            }
            EXPECT_EQ(bytes, dem);
        }
    }
}

// For a merge, an archive's CEL0 is held only while it is open: it is read again from the archive,
// which must still hold it where it was.
TEST(ArchiveSource, Cel0ReadWhenOpened) {
    const ts::TempDir dir;
    const std::string path = dir / "q.tar.gz";
    ts::writeFile(path, ts::gzip(ts::tarArchive(members("", true))));
    const FoundTransfer found = findTransfer(path, Cel0Reading::WhenOpened);
    ASSERT_TRUE(found) << found.message();
    const ModuleSource& cel0 = found->modules.cel0;
    EXPECT_EQ(cel0.name, path + ":7018CEL0.DDF");
    EXPECT_EQ(cel0.bytes, nullptr);
    // Read as a stream when opened: nothing of it is held but the reader's block.
    EXPECT_TRUE(cel0.stream);
    EXPECT_EQ(cel0.heldBytes(), 0u);
    EXPECT_NE(found->modules.ldef.bytes, nullptr);
    expectModuleBytes(found->modules, smallSet());
    ModuleReader deferred, held;
    EXPECT_EQ(openCel0AtFirstRecord(deferred, cel0),
              openCel0AtFirstRecord(held, ModuleSource("held", std::make_shared<const std::string>(
                                                                   smallSet().at("cel0.ddf")))));
    EXPECT_EQ(deferred.readByte(), held.readByte());

    ts::writeFile(path, ts::gzip(ts::tarArchive(plus({{"README", "x"}}, members("", true)))));
    ModuleReader changed;
    EXPECT_FALSE(changed.open(cel0));
}

// A merge unpacks each gzipped archive whole when it can; whatever the gzip data, it finds the
// same transfer, or says the same, as reading the archive as a stream does. Every gzip trailer
// is checked: bytes that do not match it are refused, never converted.
TEST(ArchiveSource, UnpackedWholeOrAsAStreamAlike) {
    const std::string tar = ts::tarArchive(members("", true));
    const std::string gz = ts::gzip(tar);
    const auto withTrailer = [&](std::size_t from_end, std::uint32_t value) {
        std::string lying = gz;
        for (std::size_t i = 0; i < 4; ++i)
            lying[lying.size() - from_end + i] = static_cast<char>(value >> (8 * i));
        return lying;
    };
    const auto withSize = [&](std::uint32_t size) { return withTrailer(4, size); };
    std::string flipped = gz;
    flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 0x10);
    const struct {
        const char* what;
        std::string bytes;
        bool whole;           // unpacked whole
        const char* refused;  // what the line says; nothing: found
    } cases[] = {
        {"one gzip member", gz, true, nullptr},
        {"two gzip members", ts::gzip(tar.substr(0, 1024)) + ts::gzip(tar.substr(1024)), false,
         nullptr},
        {"bytes after it", gz + "junk", false, nullptr},
        {"its size a byte short", withSize(static_cast<std::uint32_t>(tar.size() - 1)), false,
         "not as many as its trailer says"},
        {"its size beyond what it can make", withSize(0xFFFFFFF0u), false,
         "not as many as its trailer says"},
        {"its CRC-32 wrong", withTrailer(8, 0x12345678u), false,
         "do not match the CRC-32 stored with them"},
        {"a bit flipped in its data", flipped, false, "damaged gzip data"},
        {"cut short", gz.substr(0, gz.size() - 9), false, "cut short"},
        {"plain tar", tar, false, nullptr},
        {"no archive", std::string(2000, 'x'), false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
#if MARLWOOD_HAS_LIBDEFLATE
        const std::optional<LargeBuffer> whole = source_detail::gunzipWhole(c.bytes, 1u << 30);
        EXPECT_EQ(whole.has_value(), c.whole);
        if (whole) {
            EXPECT_EQ(whole->view(), tar);
        }
#endif
        const ts::TempDir dir;
        const std::string path = dir / "q.tar.gz";
        ts::writeFile(path, c.bytes);
        const FoundTransfer merged = findTransfer(path, Cel0Reading::WhenOpened);
        const FoundTransfer streamed = findTransfer(path, Cel0Reading::WhenFound);
        ASSERT_EQ(merged.ok(), streamed.ok()) << (merged ? streamed.message() : merged.message());
        ASSERT_EQ(merged.ok(), c.refused == nullptr) << (merged ? "" : merged.message());
        if (!merged) {
            EXPECT_EQ(merged.message(), streamed.message());
            EXPECT_NE(merged.message().find(c.refused), std::string::npos) << merged.message();
            continue;
        }
        expectModuleBytes(merged->modules, smallSet());
    }
}

// Gzip handed over a byte at a time, so that every header, member boundary and trailer falls
// across blocks: the same bytes as in one block, and the same refusals.
TEST(GzipStream, AByteAtATimeAsInOneBlock) {
    const std::string text(100000, 'x');
    const std::string one = ts::gzip(text);
    std::string crc = one;
    crc[crc.size() - 8] = static_cast<char>(crc[crc.size() - 8] ^ 1);
    const struct {
        const char* what;
        std::string bytes;
        std::string unpacked;  // empty: refused
    } cases[] = {
        {"one member", one, text},
        {"two members", ts::gzip(text.substr(0, 7)) + ts::gzip(text.substr(7)), text},
        {"a member and padding", one + std::string(3, '\0'), text},
        {"plain bytes", text, text},
        {"a wrong CRC-32", crc, ""},
        {"cut in its trailer", one.substr(0, one.size() - 3), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const bool bytewise : {false, true}) {
            const auto* data = reinterpret_cast<const std::uint8_t*>(c.bytes.data());
            std::size_t at = 0;
            source_detail::CompressedInput input =
                bytewise ? source_detail::CompressedInput(
                               [&]() -> Result<std::span<const std::uint8_t>> {
                                   const std::size_t n = at < c.bytes.size() ? 1 : 0;
                                   at += n;
                                   return std::span<const std::uint8_t>(data + at - n, n);
                               })
                         : source_detail::memoryInput({data, c.bytes.size()});
            auto stream = source_detail::GzipStream::open(std::move(input), false);
            ASSERT_TRUE(stream) << stream.message();
            std::string out;
            std::uint8_t block[4096];
            Result<std::size_t> got = std::size_t{0};
            while ((got = (*stream)->read(block, sizeof block)) && *got > 0) {
                out.append(reinterpret_cast<const char*>(block), *got);
            }
            EXPECT_EQ(got.ok(), !c.unpacked.empty()) << (got ? "" : got.message());
            if (got) {
                EXPECT_TRUE(out == c.unpacked) << out.size();
            }
        }
    }
}

// The archive as tar and gzip make it, as USGS archives were made.
TEST(ArchiveSource, MadeByTar) {
    if (std::system("tar --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no tar here";
    ts::TempDir dir;
    fs::create_directory(dir / "in");
    ts::writeModules(dir / "in/7018", smallSet(), true);
    const std::string archive = dir / "1107834.DEM.SDTS.TAR.GZ";
    ASSERT_EQ(std::system(("tar -czf " + archive + " -C " + (dir / "in") + " .").c_str()), 0);
    const FoundTransfer found = findTransfer(archive);
    ASSERT_TRUE(found) << found.message();
    EXPECT_EQ(found->modules.cel0.name, archive + ":7018CEL0.DDF");
    expectModuleBytes(found->modules, smallSet());

    // The walks and the strict reader both read modules held in memory as they read files.
    for (const MetadataReading reading : {MetadataReading::Walks, MetadataReading::Strict}) {
        NoEvents events;
        const Result<TransferMetadata> metadata =
            readMetadata(sdtsInput(archive, found->modules), reading, false, events);
        ASSERT_TRUE(metadata) << metadata.message();
        EXPECT_EQ(metadata->size.rows, 6);
        EXPECT_EQ(metadata->size.columns, 5);
    }
}

#else

TEST(ArchiveSource, RefusedInABuildWithoutLibarchive) {
    EXPECT_FALSE(archivesSupported());
    for (const std::string source : {"x.tar.gz", "/no/such/1107834.DEM.SDTS.TGZ"}) {
        const FoundTransfer found = findTransfer(source);
        ASSERT_FALSE(found);
        EXPECT_NE(found.message().find("unpack the archive first"), std::string::npos);
    }
}

#endif

}  // namespace
}  // namespace marlwood
