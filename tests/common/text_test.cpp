#include "common/text.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace marlwood {
namespace {

TEST(Text, SuffixInAnyCase) {
    const struct {
        std::string_view text, lower_end;
        bool ends;
    } cases[] = {
        {"n.TAR.GZ", ".tar.gz", true}, {"n.Dem", ".dem", true},     {".dem", ".dem", true},
        {"dem", ".dem", false},        {"n.dem.gz", ".dem", false}, {"n.d@m", ".d`m", false},
        {"n.[em", ".{em", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(endsWithNoCase(c.text, c.lower_end), c.ends) << c.text << " " << c.lower_end;
    }
}

TEST(Text, PrintableInOneLine) {
    using namespace std::string_literals;
    const struct {
        std::string text;
        std::size_t longest;
        HighBytes high;
        std::string shown;
    } cases[] = {
        {"a\nb\tc\x7F"
         "d",
         20, HighBytes::Shown, "a?b?c?d"},
        {"\x1F !~", 20, HighBytes::Shown, "? !~"},
        {"caf\xC3\xA9", 20, HighBytes::Shown, "caf??"},
        {"caf\xC3\xA9\x7F", 20, HighBytes::Kept, "caf\xC3\xA9?"},
        {"abcdef", 6, HighBytes::Shown, "abcdef"},
        {"abcdefg", 6, HighBytes::Shown, "abcdef..."},
        {"a\0b"s, 20, HighBytes::Kept, "a?b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(printableText(c.text, c.longest, c.high), c.shown) << c.text;
    }
    EXPECT_EQ(quotedText("", 4), "\"\"");
    EXPECT_EQ(quotedText("ab\ncdef", 4), "\"ab?c...\"");
    EXPECT_EQ(quotedText(std::string(300, 'x')), "\"" + std::string(300, 'x') + "\"");
}

TEST(Text, NumbersInTenDigits) {
    const struct {
        double value;
        const char* shown;
    } cases[] = {
        {30, "30"},
        {0.1, "0.1"},
        {-1.5, "-1.5"},
        {1234567890123.0, "1.23456789e+12"},
        {1e300, "1e+300"},
        {1e-300, "1e-300"},
        {2.0 / 3, "0.6666666667"},
    };
    for (const auto& c : cases) EXPECT_EQ(shownNumber(c.value), c.shown) << c.value;
}

}  // namespace
}  // namespace marlwood
