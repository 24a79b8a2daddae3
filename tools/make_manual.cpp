// make_manual man|completion TEMPLATE OUTPUT [DATE]
//
// Writes the manual page or the bash completion from its hand-written template and the option
// table, so that neither can drift from --help. In the template, a line "@OPTIONS@" becomes the
// options, "@VERSION@" the version --version prints and "@DATE@" the release date.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

#include "cli/options.h"
#include "pipeline/formats.h"

namespace {

using marlwood::OptionDescription;

// Text as roff prints it: a backslash and a hyphen escaped (a bare '-' may become a hyphen
// glyph, which breaks copying an option from the page), a leading '.' or '\'' kept as text.
std::string roff(std::string_view text) {
    std::string out;
    if (!text.empty() && (text[0] == '.' || text[0] == '\'')) out += "\\&";
    for (const char c : text) {
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else {
            out += c;
        }
    }
    return out;
}

// The help lines are wrapped for an 80-column terminal; the page wraps by itself.
std::string oneLine(std::string_view help) {
    std::string out(help);
    for (char& c : out) {
        if (c == '\n') c = ' ';
    }
    return out;
}

// --format's entry: a tagged paragraph per row of the format table, with the file it names.
std::string manFormats() {
    std::string out =
        "The format of the output (default: by \\fB\\-o\\fR's extension, else "
        "\\fBter\\fR):\n.RS\n";
    for (const marlwood::OutputFormat& format : marlwood::outputFormats()) {
        out += ".TP\n\\fB" + roff(format.name) + "\\fR (\\fINAME\\fB" +
               roff(format.extensions.front()) + "\\fR)\n" + roff(format.description) + '\n';
    }
    return out +
           ".RE\n.IP\nThe heightmaps hold the lowest elevation as 0, the highest as 65535 and "
           "voids as 0, with a JSON sidecar \\fINAME\\fB.json\\fR of the engines' scales "
           "(see \\fBENGINE HEIGHTMAPS\\fR).\n";
}

std::string manOptions() {
    std::string out;
    for (const OptionDescription& d : marlwood::optionDescriptions()) {
        out += ".TP\n";
        if (d.short_name != '\0') out += "\\fB" + roff(std::string("-") + d.short_name) + "\\fR, ";
        out += "\\fB" + roff("--" + std::string(d.long_name)) + "\\fR";
        if (!d.value.empty()) out += " \\fI" + roff(d.value) + "\\fR";
        out += '\n' + (d.value == "FORMAT" ? manFormats() : roff(oneLine(d.help)) + '\n');
    }
    return out;
}

// --format's words: the names of the format table's rows.
std::string formatWords() {
    std::string words;
    for (const marlwood::OutputFormat& format : marlwood::outputFormats()) {
        words += (words.empty() ? "" : " ") + format.name;
    }
    return words;
}

// The option words, then a case arm for the options whose value is a file, a directory, one of
// a few words (offered), or something the shell cannot guess (then nothing is offered).
std::string completionOptions() {
    std::string words;
    std::string file;
    std::string dir;
    std::string other;
    std::string choices;
    for (const OptionDescription& d : marlwood::optionDescriptions()) {
        std::string names;
        if (d.short_name != '\0') names = std::string("-") + d.short_name;
        names += (names.empty() ? "--" : " --") + std::string(d.long_name);
        words += (words.empty() ? "" : " ") + names;
        if (d.value.empty()) continue;
        std::string pattern = names;
        for (char& c : pattern) {
            if (c == ' ') c = '|';
        }
        const std::string offered = d.value == "FORMAT" ? formatWords() : std::string(d.choices);
        if (!offered.empty()) {
            choices += "        " + pattern + ")\n            COMPREPLY=($(compgen -W '" + offered +
                       "' -- \"$cur\"))\n            return ;;\n";
            continue;
        }
        std::string& arm = d.value == "FILE" ? file : d.value == "DIR" ? dir : other;
        arm += (arm.empty() ? "" : "|") + pattern;
    }
    std::string out = "    local options='" + words + "'\n    case $prev in\n";
    if (!file.empty())
        out += "        " + file + ")\n            _filedir\n            return ;;\n";
    if (!dir.empty())
        out += "        " + dir + ")\n            _filedir -d\n            return ;;\n";
    out += choices;
    if (!other.empty()) out += "        " + other + ")\n            return ;;\n";
    return out + "    esac\n";
}

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if ((mode != "man" && mode != "completion") || argc < 4 || argc > 5) {
        std::fprintf(stderr, "usage: make_manual man|completion TEMPLATE OUTPUT [DATE]\n");
        return 2;
    }
    std::ifstream in(argv[2], std::ios::binary);
    std::stringstream template_text;
    template_text << in.rdbuf();
    if (!in) {
        std::fprintf(stderr, "make_manual: cannot read %s\n", argv[2]);
        return 1;
    }
    std::string text = template_text.str();
    replaceAll(text, "@OPTIONS@\n", mode == "man" ? manOptions() : completionOptions());
    // "marlwood 1.2": the page's header names the program and its version.
    replaceAll(text, "@VERSION@", marlwood::versionText());
    replaceAll(text, "@DATE@", argc == 5 ? argv[4] : "");
    std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::fprintf(stderr, "make_manual: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
