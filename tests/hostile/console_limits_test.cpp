// The console under abuse: 1,000-character lines and the end of input at every prompt, and output
// files that cannot be opened or written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "hostile_support.h"

namespace marlwood::hostile {
namespace {

// A sound transfer in its own scratch directory, with the file its sound conversion writes.
class Console : public testing::Test {
  protected:
    void SetUp() override {
        ts::writeModules(prefix, ts::buildModules(ts::makeQuad(10, 8, ts::CellFormat::Bi16)));
        modules = dir.entries();
        const Outcome sound = convert(prefix, output);
        ASSERT_EQ(sound.status, 0);
        sound_ter = readFile(output);
        std::filesystem::remove(output);
    }

    // Files in the directory besides the modules.
    std::size_t created() const { return dir.entries() - modules; }

    ts::TempDir dir{ts::TempDir::InMemory};
    const std::string prefix = dir / "7018";
    const std::string output = dir / "o.ter";
    std::size_t modules = 0;
    std::string sound_ter;
};

const std::string kCannotOpen = "**Cannot open";
const std::string kScaleRefused = "Please type a whole number from -32768 to 32767.\n";

// ---- End of input: at each prompt, also after a refused answer, the conversion is abandoned
// with one line, the closing step runs, the status is 1 and no file is made. Without a line end
// the last answer still counts.

TEST_F(Console, EndOfInputAtEveryPrompt) {
    const std::string key = "k";
    const struct {
        const char* where;
        std::string input;  // the whole of standard input, banner key included
    } cases[] = {
        {"before the banner key", ""},
        {"at the prefix", "k"},
        {"at the prefix after a wrong one", key + dir / "0000" + "\n"},
        {"at the height scale", key + prefix + "\n"},
        {"at the height scale, the prefix without a line end", key + prefix},
        {"at the height scale after a refused answer", key + prefix + "\nthirty\n"},
        {"at the output file", key + prefix + "\n30\n"},
        {"at the output file, the scale without a line end", key + prefix + "\n30"},
        {"at the output file after one that did not open",
         key + prefix + "\n30\n" + dir / "none/o.ter" + "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.where);
        const Outcome outcome = ts::converse(c.input);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(count(outcome.transcript, kAbandoned), 1u);
        EXPECT_TRUE(endsWith(outcome.transcript, std::string(kAbandoned) + kClosing));
        EXPECT_EQ(created(), 0u);
    }
}

TEST_F(Console, EndOfInputAtTheClosingKey) {
    for (const std::string& typed :
         {prefix + "\n30\n" + output + "\n", prefix + "\n30\n" + output}) {
        const Outcome outcome = ts::converse("k" + typed);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_TRUE(endsWith(outcome.transcript, kClosing));
        EXPECT_TRUE(readFile(output) == sound_ter);
    }
}

// ---- 1,000-character lines. A typed line keeps 39 characters and throws away 100 more; the
// rest waits for the next read.

TEST_F(Console, ThousandCharacterPrefixLine) {
    // 1,000 = 7 x 139 + 27: seven reads of 39 kept characters, one of the last 27, each a failed
    // open, then the sound prefix.
    const Outcome outcome = convert(std::string(1000, 'x') + "\n" + prefix, output);
    EXPECT_EQ(count(outcome.transcript, kCannotOpen), 8u);
    EXPECT_EQ(count(outcome.transcript, kCannotOpen + std::string(39, 'x') + "cel0.ddf**"), 7u);
    EXPECT_EQ(count(outcome.transcript, kCannotOpen + std::string(27, 'x') + "cel0.ddf**"), 1u);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_TRUE(readFile(output) == sound_ter);
}

TEST_F(Console, ThousandCharacterHeightScaleLines) {
    const struct {
        const char* what;
        std::string answers;  // the lines typed at the height-scale prompt
        std::string echo;
        std::size_t refused;
    } cases[] = {
        {"1,000 digits", std::string(1000, '3') + "\n30\n", "integer is:  30\n", 1},
        {"1,000 letters", std::string(1000, 'x') + "\n-7\n", "integer is:  -7\n", 1},
        {"30 then 998 blanks", std::string("30").append(998, ' ') + "\n", "integer is:  30\n", 0},
        {"a sign then 999 zeros", std::string("-").append(999, '0') + "\n", "integer is:  0\n", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome outcome = ts::converse("k" + prefix + "\n" + c.answers + output + "\nk");
        EXPECT_EQ(count(outcome.transcript, kScaleRefused), c.refused);
        EXPECT_EQ(count(outcome.transcript, c.echo), 1u);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(readFile(output).size(), sound_ter.size());
        std::filesystem::remove(output);
    }
}

TEST_F(Console, ThousandCharacterOutputLine) {
    // The file is named by the first 39 characters; the rest of the line is never a name.
    const std::string line = dir / std::string(999 - dir.path().string().size(), 'a');
    const Outcome outcome = convert(prefix, line);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_TRUE(readFile(line.substr(0, 39)) == sound_ter);
    EXPECT_EQ(created(), 1u);
}

// ---- Output files that cannot be opened are asked for again; one that cannot be written is
// reported and gives status 1.

TEST_F(Console, OutputThatDoesNotOpen) {
    ts::TempDir other{ts::TempDir::InMemory};
    writeFile(other / "f", "a file, not a directory");
    std::filesystem::create_directory(other / "d");
    for (const std::string& bad : {other / "f/o.ter", other / "d", other / "none/o.ter"}) {
        SCOPED_TRACE(bad);
        const Outcome outcome = ts::converse("k" + prefix + "\n30\n" + bad + "\n" + output + "\nk");
        EXPECT_EQ(count(outcome.transcript, kCannotOpen + bad + "**\nPlease try again.\n"), 1u);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_TRUE(readFile(output) == sound_ter);
    }
}

TEST_F(Console, OutputInAReadOnlyDirectory) {
    namespace fs = std::filesystem;
    ts::TempDir other{ts::TempDir::InMemory};
    fs::permissions(other.path(), fs::perms::owner_read | fs::perms::owner_exec |
                                      fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec);
    const std::string bad = other / "o.ter";
    const std::string typed = prefix + "\n30\n" + bad + "\n" + output + "\nk";
    const auto judge = [&](const Outcome& outcome) {
        return (count(outcome.transcript, kCannotOpen + bad + "**\nPlease try again.\n") == 1) +
               2 * !fs::exists(bad) + 4 * (outcome.status == 0) +
               8 * (readFile(output) == sound_ter);
    };
    int verdict = 0;
    if (geteuid() != 0) {
        verdict = judge(ts::converse("k" + typed));
    } else {
        // Root writes into any directory whatever its mode (and CI runs as root): the
        // conversion runs in a child that has become nobody, in a directory nobody may use.
        fs::permissions(dir.path(), fs::perms::all);
        verdict = exitStatusInChild([&] {
            if (setgid(65534) != 0 || setuid(65534) != 0) return 100;
            return judge(ts::converse("k" + typed));
        });
        ASSERT_GE(verdict, 0) << "the conversion did not end by itself";
        if (verdict == 100) GTEST_SKIP() << "running as root and cannot become nobody";
    }
    EXPECT_TRUE(verdict & 1) << "no \"Cannot open\" line for " << bad;
    EXPECT_TRUE(verdict & 2) << bad << " was created";
    EXPECT_TRUE(verdict & 4) << "exit status not 0";
    EXPECT_TRUE(verdict & 8) << "the retried output file is not the sound one";
}

TEST_F(Console, OutputToAFullDevice) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
    const Outcome outcome = convert(prefix, "/dev/full");
    EXPECT_EQ(count(outcome.transcript, "**Cannot write /dev/full: the file is incomplete**\n"),
              1u);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(endsWith(outcome.transcript, kClosing));
}

}  // namespace
}  // namespace marlwood::hostile
