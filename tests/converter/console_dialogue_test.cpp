#include "converter/console_dialogue.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "files.h"
#include "temp_dir.h"
#include "transcript.h"

namespace marlwood {
namespace {

namespace ts = testsupport;

TEST(Banner, ByteForByteThenOneKey) {
    std::istringstream in("ab");
    std::ostringstream out;
    showBanner(in, out);
    EXPECT_EQ(out.str(), kBanner);
    EXPECT_EQ(in.get(), 'b');  // exactly one key consumed
}

TEST(ReadLine, KeepsThirtyNineDiscardsAHundred) {
    const struct {
        std::string input;
        std::string kept;
        std::string rest;  // what the next read starts with
    } cases[] = {
        {"\nX", "", "X"},
        {std::string(39, 'a') + "\nX", std::string(39, 'a'), "X"},
        {std::string(40, 'a') + "\nX", std::string(39, 'a'), "X"},
        {std::string(138, 'a') + "\nX", std::string(39, 'a'), "X"},
        {std::string(139, 'a') + "\nX", std::string(39, 'a'), "\nX"},
        {std::string(200, 'a') + "\nX", std::string(39, 'a'), std::string(61, 'a') + "\nX"},
        {"  c:\\7018  \nX", "  c:\\7018  ", "X"},
        {"c:\\7018\r\nX", "c:\\7018", "X"},  // a Windows line end
        {"a\rb\nX", "a\rb", "X"},            // a lone CR is a character
        {std::string(39, 'a') + "\r\nX", std::string(39, 'a'), "X"},
        {std::string(138, 'a') + "\r\nX", std::string(39, 'a'), "X"},
        {"last line", "last line", ""},  // no newline before the end of input
    };
    for (const auto& c : cases) {
        std::istringstream in(c.input);
        std::string slot = "old";
        EXPECT_TRUE(readLine(in, slot));
        EXPECT_EQ(slot, c.kept) << c.input.size();
        std::string rest(std::istreambuf_iterator<char>(in), {});
        EXPECT_EQ(rest, c.rest) << c.input.size();
    }
    std::istringstream empty("");
    std::string slot = "old";
    EXPECT_FALSE(readLine(empty, slot));
    EXPECT_EQ(slot, "");
}

class ModulePrefix : public ::testing::Test {
  protected:
    ts::TempDir dir_;
    void touch(const std::string& name) { ts::writeFile(dir_ / name, "x"); }
    void touchAll(const std::string& four, bool upper = false) {
        for (const char* m : {"cel0", "ldef", "spdm", "ddsh", "iref"}) {
            std::string suffix = std::string(m) + ".ddf";
            if (upper) {
                for (char& ch : suffix) ch = static_cast<char>(std::toupper(ch));
            }
            touch(four + suffix);
        }
    }
    std::optional<ModulePaths> ask(const std::string& input, std::string& transcript) {
        std::istringstream in(input);
        std::ostringstream out;
        auto paths = askModulePrefix(in, out);
        transcript = out.str();
        return paths;
    }
};

TEST_F(ModulePrefix, RetriesFromCel0AfterAMissingModule) {
    touch("7018cel0.ddf");
    const std::string prefix = dir_ / "7018";
    std::string transcript;
    auto paths = ask(prefix + "\n" + prefix + "\n", transcript);
    EXPECT_FALSE(paths);
    EXPECT_EQ(transcript, std::string(kPrefixPrompt) + "**Cannot open" + prefix +
                              "ldef.ddf**\nPlease try again.\n\n" + kPrefixPrompt +
                              "**Cannot open" + prefix + "ldef.ddf**\nPlease try again.\n\n" +
                              kPrefixPrompt);

    touchAll("7018");
    std::filesystem::remove(dir_.path() / "7018cel0.ddf");
    std::filesystem::remove(dir_.path() / "7018iref.ddf");
    const std::string wrong = dir_ / "7019";
    paths = ask(wrong + "\n" + prefix + "\n", transcript);
    EXPECT_FALSE(paths);
    EXPECT_EQ(transcript, std::string(kPrefixPrompt) + "**Cannot open" + wrong +
                              "cel0.ddf**\nPlease try again.\n\n" + kPrefixPrompt +
                              "**Cannot open" + prefix + "cel0.ddf**\nPlease try again.\n\n" +
                              kPrefixPrompt);
    // The mistyped prefixes created nothing.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 3);

    touch("7018cel0.ddf");
    touch("7018iref.ddf");
    paths = ask(wrong + "\n" + prefix + "\n", transcript);
    ASSERT_TRUE(paths);
    EXPECT_EQ(paths->module_prefix, prefix);
    EXPECT_EQ(paths->modules.cel0.name, prefix + "cel0.ddf");
    EXPECT_EQ(paths->modules.ldef.name, prefix + "ldef.ddf");
    EXPECT_EQ(paths->modules.spdm.name, prefix + "spdm.ddf");
    EXPECT_EQ(paths->modules.ddsh.name, prefix + "ddsh.ddf");
    EXPECT_EQ(paths->modules.iref.name, prefix + "iref.ddf");
}

TEST_F(ModulePrefix, UpperCaseModuleNames) {
    touchAll("1107", true);
    const std::string prefix = dir_ / "1107";
    std::string transcript;
    auto paths = ask(prefix + "\n", transcript);
    ASSERT_TRUE(paths);
    EXPECT_EQ(paths->modules.cel0.name, prefix + "CEL0.DDF");
    EXPECT_EQ(paths->modules.iref.name, prefix + "IREF.DDF");
    EXPECT_EQ(transcript, kPrefixPrompt);
}

// A prefix of up to 39 typed characters makes a path of up to 47, stored and opened whole.
TEST_F(ModulePrefix, LongPrefixesAreKeptWhole) {
    const std::string dir = dir_ / std::string(33 - dir_.path().string().size(), 'd');
    std::filesystem::create_directory(dir);
    const std::string prefix = dir + "/7018";
    ASSERT_EQ(prefix.size(), 39u);
    for (const char* m : {"cel0", "ldef", "spdm", "ddsh", "iref"}) {
        ts::writeFile(prefix + m + ".ddf", "x");
    }
    std::string transcript;
    auto paths = ask(prefix + "\n", transcript);
    ASSERT_TRUE(paths);
    EXPECT_EQ(paths->modules.cel0.name.size(), 47u);
}

TEST(HeightScale, TypedValues) {
    const struct {
        std::string input;
        std::optional<std::int32_t> value;
        std::string transcript;
        std::string rest;
    } cases[] = {
        {"30 word\nX", 30, "integer is:  30\n", "X"},
        {"-5\n", -5, "integer is:  -5\n", ""},
        {"\n\n  +7\nX", 7, "integer is:  7\n", "X"},
        {"0\n", 0, "integer is:  0\n", ""},
        {"-32768\n", -32768, "integer is:  -32768\n", ""},
        {"abc\n12\n", 12, "Please type a whole number from -32768 to 32767.\n", ""},
        {"70000\n32767\n", 32767, "Please type a whole number from -32768 to 32767.\n", ""},
        {"99999999999999999999\n-\n1\n", 1, "", ""},
        {"", std::nullopt, "", ""},
        {"  \n \n", std::nullopt, "", ""},
        {"x\n", std::nullopt, "Please type a whole number from -32768 to 32767.\n", ""},
    };
    const std::string prompt = "Input the elevation scale factor (try 30)....  ";
    for (const auto& c : cases) {
        std::istringstream in(c.input);
        std::ostringstream out;
        EXPECT_EQ(askHeightScale(in, out), c.value) << c.input;
        EXPECT_EQ(out.str().substr(0, prompt.size()), prompt);
        if (!c.transcript.empty()) {
            EXPECT_EQ(out.str().substr(prompt.size(), c.transcript.size()), c.transcript);
        }
        std::string rest(std::istreambuf_iterator<char>(in), {});
        EXPECT_EQ(rest, c.rest) << c.input;
    }
}

TEST(OutputFile, RetriesUntilItOpens) {
    ts::TempDir dir;
    const std::string bad = dir / "no/such/dir/out.ter";
    const std::string good = dir / "out.ter";
    ts::writeFile(good, "old contents");
    std::istringstream in(bad + "\n" + good + "\nX");
    std::ostringstream out;
    std::ofstream file;
    std::string ter_path;
    ASSERT_TRUE(askOutputFile(in, out, file, ter_path));
    EXPECT_TRUE(file.is_open());
    file.close();
    EXPECT_EQ(ter_path, good);
    EXPECT_EQ(ts::readFile(good), "");  // emptied
    EXPECT_EQ(out.str(), std::string(kOutputPrompt) + "**Cannot open" + bad +
                             "**\nPlease try again.\n\n" + kOutputPrompt);

    std::istringstream ended(bad + "\n");
    EXPECT_FALSE(askOutputFile(ended, out, file, ter_path));
    EXPECT_FALSE(file.is_open());
}

}  // namespace
}  // namespace marlwood
