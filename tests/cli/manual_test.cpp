#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "cli/options.h"
#include "files.h"

namespace marlwood {
namespace {

// A name as roff source writes it: every '-' as "\-".
std::string roffName(std::string_view name) {
    std::string out;
    for (const char c : name) out += c == '-' ? std::string("\\-") : std::string(1, c);
    return out;
}

// The manual page and the completion are generated from the option table at build time; these
// read the generated files, so a generator that drops or garbles an option fails here.
TEST(Manual, EveryOptionInThePageAndTheCompletion) {
    const std::string page = testsupport::readFile(MARLWOOD_MAN_PAGE);
    const std::string completion = testsupport::readFile(MARLWOOD_COMPLETION);
    ASSERT_FALSE(page.empty());
    ASSERT_FALSE(completion.empty());
    // Built by appending: GCC 12 warns (-Wrestrict) on "literal" + string.
    std::string quoted_version(1, '"');
    quoted_version += versionText();
    quoted_version += '"';
    EXPECT_NE(page.find(quoted_version), std::string::npos)
        << "the page's header names the version";

    // The words offered after '-', and the names of the case arms that complete an option's value.
    std::smatch words_match;
    ASSERT_TRUE(std::regex_search(completion, words_match, std::regex("local options='([^']*)'")));
    std::set<std::string> words;
    std::istringstream word_stream(words_match[1].str());
    for (std::string w; word_stream >> w;) words.insert(w);
    std::set<std::string> takes_value;
    const std::regex arm(R"(\n +([-a-z0-9|]+)\))");
    for (std::sregex_iterator it(completion.begin(), completion.end(), arm), end; it != end; ++it) {
        std::istringstream names((*it)[1].str());
        for (std::string n; std::getline(names, n, '|');) takes_value.insert(n);
    }

    std::size_t names = 0;
    for (const OptionDescription& d : optionDescriptions()) {
        const std::string long_name = "--" + std::string(d.long_name);
        const std::string short_name = d.short_name ? std::string("-") + d.short_name : "";
        SCOPED_TRACE(long_name);
        // The page: an entry tagged with the names and the value's name.
        std::string tag = ".TP\n";
        if (!short_name.empty()) tag += "\\fB" + roffName(short_name) + "\\fR, ";
        tag += "\\fB" + roffName(long_name) + "\\fR";
        if (!d.value.empty()) tag += " \\fI" + std::string(d.value) + "\\fR";
        EXPECT_NE(page.find(tag + "\n"), std::string::npos) << tag;
        // The completion: each name offered, and the next word taken as its value when it has one.
        for (const std::string& name : {long_name, short_name}) {
            if (name.empty()) continue;
            ++names;
            EXPECT_EQ(words.count(name), 1u) << name;
            EXPECT_EQ(takes_value.count(name), d.value.empty() ? 0u : 1u) << name;
        }
        // The words a value may be are offered after the option.
        if (!d.choices.empty()) {
            EXPECT_NE(completion.find(long_name + ")\n            COMPREPLY=($(compgen -W '" +
                                      std::string(d.choices) + "'"),
                      std::string::npos)
                << d.choices;
        }
    }
    EXPECT_EQ(words.size(), names) << "the completion offers only the table's options";
}

}  // namespace
}  // namespace marlwood
