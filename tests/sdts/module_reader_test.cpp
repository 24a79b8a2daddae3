#include "sdts/module_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "files.h"
#include "temp_dir.h"

namespace marlwood {
namespace {

using namespace std::string_literals;

TEST(ParseDecimal, StopsAtTheFirstNonDigit) {
    const struct {
        std::string text;
        std::int32_t value;
    } cases[] = {
        {"00123", 123}, {" 1234", 1234},    {"12 34", 12}, {"01a45", 1},         {"     ", 0},
        {"", 0},        {"-7", -7},         {"+42", 42},   {"\t\n\v\f\r9", 9},   {"--5", 0},
        {"12\x1e", 12}, {"ab\x1e\x1f ", 0}, {"- 5", 0},    {"9999999", 9999999},
    };
    for (const auto& c : cases) EXPECT_EQ(parseDecimal(c.text), c.value) << '"' << c.text << '"';
}

// readDecimal consumes exactly w bytes whatever they hold, and what follows never matters.
TEST(ModuleReader, ReadDecimalConsumesExactlyItsWidth) {
    const struct {
        std::string bytes;
        std::int32_t width;
        std::int32_t value;
        std::size_t consumed;
    } cases[] = {
        {"00123X", 5, 123, 5},
        {"ab\x1e\x1f X", 5, 0, 5},
        {"26\x1e"
         "999",
         3, 26, 3},
        {"12345", 2, 12, 2},
        {"1234567", 7, 1234567, 7},
        {"12345678", 8, 0, 0},  // wider than the reader keeps: nothing read
        {"123", 0, 0, 0},
        {"123", -3, 0, 0},
    };
    for (const auto& c : cases) {
        ModuleReader reader;
        reader.openBytes(c.bytes + "Z");
        EXPECT_EQ(reader.readDecimal(c.width), c.value) << c.bytes;
        reader.skipBytes(static_cast<std::int32_t>(c.bytes.size() - c.consumed));
        EXPECT_EQ(reader.readByte(), 'Z') << c.bytes;
        EXPECT_FALSE(reader.failed());
    }
}

TEST(ModuleReader, ReadUnitIntegerReadsThroughTheTerminator) {
    const struct {
        std::string bytes;
        std::int32_t value;
    } cases[] = {
        {"1201\x1f", 1201},         {"\x1f", 0}, {"  -7\x1f", -7}, {"467\x1e\x1f", 467},
        {"123456789\x1f", 1234567},  // only the first seven characters count
    };
    for (const auto& c : cases) {
        ModuleReader reader;
        reader.openBytes(c.bytes + "Z");
        EXPECT_EQ(reader.readUnitInteger(), c.value);
        EXPECT_EQ(reader.readByte(), 'Z');
    }
}

TEST(ModuleReader, EndOfDataFailsAndEveryLoopStops) {
    ModuleReader reader;
    reader.openBytes("ab");
    EXPECT_EQ(reader.readByte(), 'a');
    EXPECT_EQ(reader.readByte(), 'b');
    EXPECT_FALSE(reader.failed());  // exactly at the end is not past it
    EXPECT_EQ(reader.readByte(), 0);
    EXPECT_TRUE(reader.failed());
    EXPECT_EQ(reader.readDecimal(5), 0);
    reader.skipPast(kFieldTerminator);  // returns although no terminator will ever come
    EXPECT_EQ(reader.readUnitInteger(), 0);
    reader.close();
    EXPECT_FALSE(reader.failed());

    reader.openBytes("0123");
    reader.skipBytes(-5);
    reader.skipBytes(0);
    EXPECT_EQ(reader.readByte(), '0');
    reader.skipBytes(3);
    EXPECT_FALSE(reader.failed());
    reader.skipBytes(1);
    EXPECT_TRUE(reader.failed());
}

// Each test has a directory of its own, so runs side by side never share a file.
class ModuleFile : public ::testing::Test {
  protected:
    testsupport::TempDir dir_;
    std::filesystem::path path_ = dir_ / "m.ddf";
    void write(const std::string& bytes) { testsupport::writeFile(path_, bytes); }
};

// Blocks are refilled across their boundary: a file several blocks long reads back whole.
TEST_F(ModuleFile, ReadsLargeFilesAcrossBlocks) {
    std::string bytes;
    for (int i = 0; i < 300000; ++i) bytes.push_back(static_cast<char>(i * 7 + i / 256));
    write(bytes);
    ModuleReader reader;
    ASSERT_TRUE(reader.open(path_.string()));
    for (std::size_t i = 0; i < 70000; ++i) {
        ASSERT_EQ(reader.readByte(), static_cast<std::uint8_t>(bytes[i])) << i;
    }
    reader.skipBytes(150000);
    for (std::size_t i = 220000; i < bytes.size(); ++i) {
        ASSERT_EQ(reader.readByte(), static_cast<std::uint8_t>(bytes[i])) << i;
    }
    EXPECT_FALSE(reader.failed());
    reader.readByte();
    EXPECT_TRUE(reader.failed());
}

TEST_F(ModuleFile, OpenNeverCreatesAndRefusesDirectories) {
    ModuleReader reader;
    EXPECT_FALSE(reader.open(path_.string()));
    EXPECT_FALSE(std::filesystem::exists(path_));
    EXPECT_FALSE(reader.open(dir_.path().string()));
    write("");
    EXPECT_TRUE(reader.open(path_.string()));   // an empty module opens; reading it fails
    EXPECT_FALSE(reader.open(path_.string()));  // already open
    reader.readByte();
    EXPECT_TRUE(reader.failed());
}

// A whole module fits a limit of exactly its size and is refused one byte under it, read from a
// file across block boundaries or from memory; a module that does not open gives no bytes.
TEST_F(ModuleFile, ReadWholeModuleWithinItsLimit) {
    std::string bytes;
    for (int i = 0; i < 2 * 65536 + 3; ++i) bytes.push_back(static_cast<char>(i * 13 + i / 256));
    write(bytes);
    const auto held = std::make_shared<const std::string>(bytes);
    for (const ModuleSource& source : {ModuleSource(path_.string()), ModuleSource("held", held)}) {
        const Result<std::string> exact = readWholeModule(source, bytes.size());
        EXPECT_TRUE(exact && *exact == bytes) << source.name;
        const Result<std::string> over = readWholeModule(source, bytes.size() - 1);
        ASSERT_FALSE(over);
        EXPECT_EQ(over.message(), source.name + " holds more than 131074 bytes");
    }
    EXPECT_EQ(readWholeModule(dir_ / "none.ddf", 10).message(),
              "cannot open " + (dir_ / "none.ddf") + ": No such file or directory");
    write("");
    EXPECT_EQ(readWholeModule(path_.string(), 0).value(), "");
}

TEST_F(ModuleFile, OpenCel0StandsOnTheFirstDataRecord) {
    std::string bytes = "01234L" + std::string(1228, '.') + "R" + std::string(10, '-');
    write(bytes);
    ModuleReader reader;
    EXPECT_EQ(openCel0AtFirstRecord(reader, path_.string()), 1234);
    EXPECT_EQ(reader.readByte(), 'R');
}

}  // namespace
}  // namespace marlwood
