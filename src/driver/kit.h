// What the commands share: an option table whose rows carry everything about an option
// (its names, its value, whether it repeats, its help and what it does), the parser,
// usage, help and manual page made from such a table, and the filling of a message's
// blanks. korvane-dis and korvane-run each have one table; korvane's command line is
// the source's name alone and has none.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::kit {

// What the parser knows of an option, apart from what it does.
struct OptionText {
    std::string_view name;   // "--base"
    std::string_view brief;  // its short name ("-o", "-h"), or ""
    std::string_view value;  // how usage names its value ("ADDR"); "" when it takes none
    bool repeats;
    std::string_view help;   // lines separated by '\n'
    bool required = false;   // written without brackets in the usage
};

// One row: the text and the action, which returns "" or why the value cannot be taken
// (a usage error). `flags` are the command's own (korvane-dis: taken beside --check).
template <class Parsed>
struct Option {
    OptionText text;
    std::string (*apply)(Parsed&, std::string_view option, std::string_view value);
    unsigned flags = 0;
};

// Why a command line cannot be read, before any option's action says so.
enum class Problem : std::uint8_t {
    None,
    Unknown,     // no such option
    Missing,     // its value is missing
    Unwanted,    // --flag=value for an option that takes none
    Twice,       // given twice and it does not repeat
};

struct Reading {
    Problem problem = Problem::None;
    std::string option;       // as written
    std::string said;         // an action's own usage error
    std::vector<std::string> operands;  // the arguments that are no options
    std::vector<std::string_view> given;  // the options taken, by their long names
};

// Finds a row by either name; nullptr when there is none.
const OptionText* find(std::span<const OptionText> texts, std::string_view name);

// The parser's walk over argv, apart from the actions: --opt value, --opt=value, -o value,
// "--" (everything after it an operand), "-" an operand. `take(index, value)` runs
// row `index`'s action.
template <class Take>
Reading read(std::span<const OptionText> texts, int argc, char** argv, Take take) {
    Reading r;
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
            r.operands.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnd = true;
            continue;
        }
        std::string_view inlineValue;
        bool hasInline = false;
        if (const std::size_t eq = arg.find('='); eq != std::string_view::npos && arg[1] == '-') {
            inlineValue = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasInline = true;
        }
        const OptionText* o = find(texts, arg);
        r.option = arg;
        if (o == nullptr) {
            r.problem = Problem::Unknown;
            return r;
        }
        if (hasInline && o->value.empty()) {
            r.problem = Problem::Unwanted;
            return r;
        }
        std::string_view value;
        if (!o->value.empty()) {
            if (!hasInline && i + 1 >= argc) {
                r.problem = Problem::Missing;
                return r;
            }
            value = hasInline ? inlineValue : std::string_view(argv[++i]);
        }
        if (!o->repeats) {
            for (std::string_view g : r.given) {
                if (g == o->name) {
                    r.problem = Problem::Twice;
                    return r;
                }
            }
        }
        r.given.push_back(o->name);
        r.said = take(static_cast<std::size_t>(o - texts.data()), value);
        if (!r.said.empty()) return r;
    }
    return r;
}

// The texts of a table's rows, in order (for read, usage, help and the manual page).
template <class Parsed>
std::vector<OptionText> texts(std::span<const Option<Parsed>> table) {
    std::vector<OptionText> out;
    out.reserve(table.size());
    for (const Option<Parsed>& o : table) out.push_back(o.text);
    return out;
}

// The usage error of a reading's problem from the command's own templates (each with an
// {opt} blank); "" for none, and for a missing value, which the command words itself.
std::string problemText(const Reading& r, std::string_view unknown, std::string_view unwanted, std::string_view twice);

// Parses argv into `parsed` by the table's actions.
template <class Parsed>
Reading parse(std::span<const Option<Parsed>> table, int argc, char** argv, Parsed& parsed) {
    const std::vector<OptionText> t = texts(table);
    return read(t, argc, argv, [&](std::size_t row, std::string_view value) {
        return table[row].apply(parsed, table[row].text.name, value);
    });
}

// "[--base ADDR]" words wrapped after `command` into lines of at most 88 columns.
std::string usageLines(std::string_view command, std::string_view operands, std::span<const OptionText> texts);
// One entry an option: its names and value, then its help, at column 24.
std::string helpLines(std::span<const OptionText> texts);

// A manual page in roff (man(7)): NAME, SYNOPSIS, DESCRIPTION (paragraphs of the
// manual's text, Markdown's `code` made bold), OPTIONS from the table, EXIT STATUS and
// SEE ALSO.
struct ManPage {
    std::string_view command, summary;
    std::string_view usage;  // the usage lines as --help prints them ("usage: " first)
    std::vector<std::string> description;  // paragraphs
    std::span<const OptionText> options;
    std::string_view exitStatus, seeAlso;
    std::string_view version, date;
};
std::string manPage(const ManPage& page);

// The paragraphs of a Markdown page's section whose heading is `heading` (its first
// section when `heading` is empty), leaving out code blocks, tables and lists.
std::vector<std::string> paragraphsOf(std::string_view markdown, std::string_view heading, std::size_t most);

// Why an option's value is refused: "OPTION VALUE: a leading 0 is refused; …" when
// `number` (the value or its numeric part) is written with a leading 0, else otherwise.
std::string refused(std::string_view option, std::string_view value, std::string_view number, std::string otherwise);

// Whether a catalogue lists its messages in the order of their codes (row i has code i).
template <class Row, std::size_t N>
constexpr bool inOrder(const Row (&catalogue)[N]) {
    for (std::size_t i = 0; i < N; ++i) {
        if (static_cast<std::size_t>(catalogue[i].code) != i) return false;
    }
    return true;
}

// A message's text with its blanks filled: each {key} replaced by its value.
std::string fill(std::string_view text, std::span<const std::pair<std::string_view, std::string_view>> blanks);

}  // namespace korvane::kit
