// skav_manpage: writes the man page's generated parts and checks that the documentation names
// every option and settings key the program has. Run by the build and by the test suite.
//
//   skav_manpage generate TEMPLATE README OUT  fills @SYNOPSIS@, @OPTIONS@, @SECTIONS@ and
//       @SETTINGS@ of TEMPLATE: the options from the usage text (--help), the keys from the
//       settings key table with their defaults, each key's meaning from README's table
//   skav_manpage check MANPAGE README         every option of --help and every key of the
//       table in both files, and README's defaults as the program has them; says what is
//       missing where, exit status 1
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/Options.h"
#include "config/config.h"

namespace {

std::string ReadText(const std::string& APath) {
    std::ifstream in(APath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> LinesOf(const std::string& AText) {
    std::vector<std::string> lines;
    std::istringstream in(AText);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool IsWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

// Whether AText holds AWord as a whole word (not the start of a longer one).
bool HasWord(const std::string& AText, const std::string& AWord) {
    for (std::size_t at = AText.find(AWord); at != std::string::npos;
         at = AText.find(AWord, at + 1)) {
        const std::size_t end = at + AWord.size();
        if ((at == 0 || !IsWordChar(AText[at - 1])) &&
            (end == AText.size() || !IsWordChar(AText[end])))
            return true;
    }
    return false;
}

// Plain text for roff: backslashes escaped, a line never starting a request.
std::string Roff(const std::string& AText) {
    std::string out;
    for (char c : AText)
        out += c == '\\' ? std::string("\\e") : std::string(1, c);
    if (!out.empty() && (out[0] == '.' || out[0] == '\''))
        out.insert(0, "\\&");
    return out;
}

// Usage words in roff: options bold with \- for each minus, their arguments italic.
std::string RoffUsage(const std::string& AText) {
    std::string out;
    for (std::size_t i = 0; i < AText.size();) {
        if (!IsWordChar(AText[i])) {
            out += AText[i] == '\\' ? std::string("\\e") : std::string(1, AText[i]);
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < AText.size() && IsWordChar(AText[end]))
            ++end;
        std::string word = AText.substr(i, end - i);
        if (word[0] == '-') {
            std::string escaped;
            for (char c : word)
                escaped += c == '-' ? std::string("\\-") : std::string(1, c);
            out += "\\fB" + escaped + "\\fR";
        } else {
            out += word == "sk_kav" ? "\\fBsk_kav\\fR" : "\\fI" + word + "\\fR";
        }
        i = end;
    }
    return out;
}

// Minus signs of option names in running text.
std::string RoffText(const std::string& AText) {
    std::string out;
    const std::string text = Roff(AText);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool optionStart = text[i] == '-' && (i == 0 || !IsWordChar(text[i - 1]));
        if (optionStart || (text[i] == '-' && i > 0 && text[i - 1] == '-' && out.ends_with("\\-")))
            out += "\\-";
        else
            out += text[i];
    }
    return out;
}

struct TUsage {
    std::vector<std::string> Commands; // each "sk_kav ...", continuation lines joined
    std::vector<std::pair<std::string, std::string>> Options; // heading, text
};

// The usage text: "Usage: sk_kav ..." and its further command lines, then one entry per
// option: a line "  --name ARG  text" (or the heading alone) and lines indented further.
TUsage ParseUsage(const std::string& AText) {
    TUsage usage;
    for (const std::string& line : LinesOf(AText)) {
        const std::size_t start = line.find_first_not_of(' ');
        if (start == std::string::npos)
            continue;
        const std::string rest = line.substr(start);
        if (start == 2 && rest[0] == '-') {
            const std::size_t gap = rest.find("  ");
            const std::size_t text = rest.find_first_not_of(' ', gap);
            usage.Options.push_back(
                {rest.substr(0, gap), gap == std::string::npos ? "" : rest.substr(text)});
        } else if (!usage.Options.empty()) {
            std::string& text = usage.Options.back().second;
            text += (text.empty() ? "" : " ") + rest;
        } else if (rest.starts_with("Usage: ") || rest.starts_with("sk_kav")) {
            usage.Commands.push_back(rest.substr(rest.find("sk_kav")));
        } else if (!usage.Commands.empty()) {
            usage.Commands.back() += " " + rest;
        }
    }
    return usage;
}

// Every "--name" of the usage text, once each.
std::set<std::string> OptionNames(const std::string& AUsage) {
    std::set<std::string> names;
    for (std::size_t at = AUsage.find("--"); at != std::string::npos;
         at = AUsage.find("--", at + 2)) {
        std::size_t end = at + 2;
        while (end < AUsage.size() && IsWordChar(AUsage[end]))
            ++end;
        if (end > at + 2 && (at == 0 || !IsWordChar(AUsage[at - 1])))
            names.insert(AUsage.substr(at, end - at));
        at = end - 2;
    }
    return names;
}

// README's settings table: "| section | key | default | meaning | where |", by section and key.
struct TReadmeRow {
    std::string Default;
    std::string Meaning;
};
std::map<std::pair<std::string, std::string>, TReadmeRow> ReadmeRows(const std::string& AText) {
    std::map<std::pair<std::string, std::string>, TReadmeRow> rows;
    for (const std::string& line : LinesOf(AText)) {
        if (!line.starts_with("| "))
            continue;
        std::vector<std::string> cells;
        for (std::size_t at = 1; at < line.size();) {
            const std::size_t end = line.find(" |", at);
            if (end == std::string::npos)
                break;
            std::string cell = line.substr(at, end - at);
            cells.push_back(cell.substr(cell.find_first_not_of(' ') == std::string::npos
                                            ? cell.size()
                                            : cell.find_first_not_of(' ')));
            at = end + 2;
        }
        if (cells.size() >= 4)
            rows[{cells[0], cells[1]}] = {cells[2], cells[3]};
    }
    return rows;
}

// A README meaning as man page text: code spans bold, links reduced to their text.
std::string ManMeaning(const std::string& AMarkdown) {
    std::string out;
    bool code = false;
    for (std::size_t i = 0; i < AMarkdown.size(); ++i) {
        const char c = AMarkdown[i];
        if (c == '`') {
            out += code ? "\\fR" : "\\fB";
            code = !code;
        } else if (const std::size_t close = AMarkdown.find(']', i);
                   c == '[' && !code && close != std::string::npos &&
                   AMarkdown.compare(close, 2, "](") == 0 &&
                   AMarkdown.find(')', close) != std::string::npos) {
            out += Roff(AMarkdown.substr(i + 1, close - i - 1)); // a link: its text
            i = AMarkdown.find(')', close);
        } else {
            out += c == '\\' ? std::string("\\e") : c == '-' && code ? "\\-" : std::string(1, c);
        }
    }
    if (code)
        out += "\\fR";
    return out.starts_with(".") ? "\\&" + out : out;
}

// A text as a sentence of the man page: its first letter upper case, a full stop at its end.
std::string Sentence(std::string AText) {
    if (!AText.empty() && AText[0] >= 'a' && AText[0] <= 'z')
        AText[0] = static_cast<char>(AText[0] - 'a' + 'A');
    return AText.ends_with('.') ? AText : AText + ".";
}

std::string SynopsisPart(const TUsage& AUsage) {
    std::string out;
    for (const std::string& command : AUsage.Commands) {
        if (!out.empty())
            out += ".br\n";
        out += RoffUsage(command) + "\n";
    }
    return out;
}

std::string OptionsPart(const TUsage& AUsage) {
    std::string out;
    for (const auto& [heading, text] : AUsage.Options)
        out += ".TP\n" + RoffUsage(heading) + "\n" + RoffText(Sentence(text)) + "\n";
    return out;
}

std::vector<std::string> SectionsInOrder(const std::vector<TSettingKeyDoc>& AKeys) {
    std::vector<std::string> sections;
    for (const TSettingKeyDoc& key : AKeys)
        if (std::find(sections.begin(), sections.end(), key.Section) == sections.end())
            sections.push_back(key.Section);
    return sections;
}

std::string SectionsPart(const std::vector<TSettingKeyDoc>& AKeys) {
    std::string out;
    for (const std::string& section : SectionsInOrder(AKeys))
        out += ".BR [" + section + "] ,\n";
    return out;
}

std::string DefaultText(const std::string& ADefault) {
    return ADefault.empty() ? "empty" : ADefault;
}

std::string SettingsPart(const std::vector<TSettingKeyDoc>& AKeys, const std::string& AReadme) {
    const auto rows = ReadmeRows(AReadme);
    std::string out;
    for (const std::string& section : SectionsInOrder(AKeys)) {
        out += ".SS [" + section + "]\n";
        for (const TSettingKeyDoc& key : AKeys) {
            if (key.Section != section)
                continue;
            const auto row = rows.find({key.Section, key.Name});
            const std::string meaning = row == rows.end()
                                            ? std::string("Not described in README.md.")
                                            : Sentence(ManMeaning(row->second.Meaning));
            out += ".TP\n.B " + key.Name + "\n" + meaning + " Default " + DefaultText(key.Default) +
                   ".\n";
        }
    }
    return out;
}

bool Replace(std::string& AText, const std::string& AMarker, const std::string& AWith) {
    const std::size_t at = AText.find(AMarker + "\n");
    if (at == std::string::npos)
        return false;
    AText.replace(at, AMarker.size() + 1, AWith);
    return true;
}

int Generate(const std::string& ATemplate, const std::string& AReadme, const std::string& AOut) {
    std::string page = ReadText(ATemplate);
    const std::string readme = ReadText(AReadme);
    const TUsage usage = ParseUsage(UsageText());
    const std::vector<TSettingKeyDoc> keys = SettingKeyDocs();
    if (!Replace(page, "@SYNOPSIS@", SynopsisPart(usage)) ||
        !Replace(page, "@OPTIONS@", OptionsPart(usage)) ||
        !Replace(page, "@SECTIONS@", SectionsPart(keys)) ||
        !Replace(page, "@SETTINGS@", SettingsPart(keys, readme))) {
        std::fprintf(stderr, "skav_manpage: %s lacks a marker line\n", ATemplate.c_str());
        return 1;
    }
    std::ofstream out(AOut, std::ios::binary | std::ios::trunc);
    out << page;
    return out.good() ? 0 : 1;
}

// The lines of AManPage's section ".SS [ASection]".
std::string ManSection(const std::string& AManPage, const std::string& ASection) {
    const std::size_t start = AManPage.find(".SS [" + ASection + "]\n");
    if (start == std::string::npos)
        return {};
    return AManPage.substr(start, AManPage.find("\n.S", start + 1) - start);
}

int Check(const std::string& AManPage, const std::string& AReadme) {
    const std::string man = ReadText(AManPage);
    const std::string readme = ReadText(AReadme);
    std::vector<std::string> problems;
    if (man.empty() || readme.empty())
        problems.push_back("cannot read " + AManPage + " or " + AReadme);
    for (const std::string& option : OptionNames(UsageText())) {
        std::string roff;
        for (char c : option)
            roff += c == '-' ? std::string("\\-") : std::string(1, c);
        if (!HasWord(readme, option))
            problems.push_back("README.md lacks the option " + option +
                               " of sk_kav --help: describe it under \"Running it\"");
        if (man.find(roff + "\\f") == std::string::npos)
            problems.push_back("the man page lacks the option " + option +
                               ": it is made from the usage text (src/app/Options.cpp), whose "
                               "option lines start with two blanks and \"-\"");
    }
    const auto rows = ReadmeRows(readme);
    for (const TSettingKeyDoc& key : SettingKeyDocs()) {
        const std::string name = "[" + key.Section + "] " + key.Name;
        const auto row = rows.find({key.Section, key.Name});
        if (row == rows.end())
            problems.push_back("README.md's settings table lacks " + name + ": add the row \"| " +
                               key.Section + " | " + key.Name + " | " + DefaultText(key.Default) +
                               " | meaning | where in the window |\"");
        else if (row->second.Default != DefaultText(key.Default))
            problems.push_back("README.md's settings table gives " + name + " the default \"" +
                               row->second.Default + "\"; the program's is \"" +
                               DefaultText(key.Default) + "\"");
        if (ManSection(man, key.Section).find("\n.B " + key.Name + "\n") == std::string::npos)
            problems.push_back("the man page lacks " + name);
    }
    for (const std::string& problem : problems)
        std::fprintf(stderr, "documentation: %s\n", problem.c_str());
    return problems.empty() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "generate" && argc == 5)
        return Generate(argv[2], argv[3], argv[4]);
    if (mode == "check" && argc == 4)
        return Check(argv[2], argv[3]);
    std::fputs("usage: skav_manpage generate TEMPLATE README OUT | check MANPAGE README\n", stderr);
    return 2;
}
