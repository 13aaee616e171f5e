// The commands' shared pieces: option look-up, usage, help, manual pages, messages.
#include "driver/kit.h"

#include "korvane/numbers.h"

namespace korvane::kit {

const OptionText* find(std::span<const OptionText> texts, std::string_view name) {
    for (const OptionText& o : texts) {
        if (o.name == name || (!o.brief.empty() && o.brief == name)) return &o;
    }
    return nullptr;
}

std::string usageLines(std::string_view command, std::string_view operands, std::span<const OptionText> texts) {
    constexpr std::size_t kWidth = 88;
    std::string line = "usage: ";
    line += command;
    if (!operands.empty()) {
        line += ' ';
        line += operands;
    }
    const std::string indent(8 + command.size(), ' ');
    std::string out;
    for (const OptionText& o : texts) {
        std::string word = o.required ? "" : "[";
        word += o.brief.empty() ? o.name : o.brief;
        if (!o.value.empty()) {
            word += ' ';
            word += o.value;
        }
        if (!o.required) word += ']';
        if (o.repeats) word += "...";
        if (line.size() + 1 + word.size() > kWidth) {
            out += line;
            out += '\n';
            line = indent.substr(0, indent.size() - 1);
        }
        line += ' ';
        line += word;
    }
    out += line;
    out += '\n';
    return out;
}

std::string helpLines(std::span<const OptionText> texts) {
    constexpr std::size_t kColumn = 24;
    std::string out;
    for (const OptionText& o : texts) {
        std::string left = "  ";
        if (!o.brief.empty()) {
            left += o.brief;
            left += ", ";
        }
        left += o.name;
        if (!o.value.empty()) {
            left += ' ';
            left += o.value;
        }
        std::string_view rest = o.help;
        bool first = true;
        while (!rest.empty() || first) {
            const std::size_t nl = rest.find('\n');
            std::string l = first ? left : std::string();
            if (l.size() >= kColumn) {  // a long name: its text on the next line
                out += l;
                out += '\n';
                l.clear();
            }
            l.resize(kColumn, ' ');
            out += l;
            out += rest.substr(0, nl);
            out += '\n';
            rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
            first = false;
        }
    }
    return out;
}

namespace {

// Text for roff: a backslash doubled, a line that would start with . or ' escaped, and
// Markdown's `code` in bold.
std::string roff(std::string_view text, bool markdown) {
    std::string out;
    bool code = false;
    bool lineStart = true;
    for (const char c : text) {
        if (lineStart && (c == '.' || c == '\'')) out += "\\&";
        lineStart = c == '\n';
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else if (markdown && c == '`') {
            out += code ? "\\fR" : "\\fB";
            code = !code;
        } else {
            out += c;
        }
    }
    if (code) out += "\\fR";
    return out;
}

}  // namespace

std::string manPage(const ManPage& p) {
    std::string upper(p.command);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    std::string out = ".TH " + upper + " 1 \"" + std::string(p.date) + "\" \"korvane " + std::string(p.version) +
                      "\" \"KORVANE\"\n";
    out += ".SH NAME\n" + roff(p.command, false) + " \\- " + roff(p.summary, false) + "\n";
    // The usage lines without "usage: ", each at the margin.
    std::string synopsis(p.usage.substr(p.usage.starts_with("usage: ") ? 7 : 0));
    for (std::size_t at = synopsis.find("\n       "); at != std::string::npos; at = synopsis.find("\n       ", at + 1))
        synopsis.erase(at + 1, 7);
    out += ".SH SYNOPSIS\n.nf\n" + roff(synopsis, false) + ".fi\n";
    out += ".SH DESCRIPTION\n";
    for (std::size_t i = 0; i < p.description.size(); ++i) {
        if (i > 0) out += ".PP\n";
        out += roff(p.description[i], true) + "\n";
    }
    if (!p.options.empty()) {
        out += ".SH OPTIONS\n";
        for (const OptionText& o : p.options) {
            out += ".TP\n";
            std::string head;
            if (!o.brief.empty()) head += "\\fB" + roff(o.brief, false) + "\\fR, ";
            head += "\\fB" + roff(o.name, false) + "\\fR";
            if (!o.value.empty()) head += " \\fI" + roff(o.value, false) + "\\fR";
            out += head + "\n";
            std::string help(o.help);
            for (char& c : help) {
                if (c == '\n') c = ' ';
            }
            out += roff(help, false) + "\n";
        }
    }
    out += ".SH EXIT STATUS\n" + roff(p.exitStatus, true) + "\n";
    out += ".SH SEE ALSO\n" + roff(p.seeAlso, true) + "\n";
    return out;
}

std::vector<std::string> paragraphsOf(std::string_view md, std::string_view heading, std::size_t most) {
    std::vector<std::string> out;
    bool in = heading.empty();
    bool fence = false;
    std::string paragraph;
    auto flush = [&] {
        if (!paragraph.empty() && out.size() < most) out.push_back(paragraph);
        paragraph.clear();
    };
    while (!md.empty()) {
        const std::size_t nl = md.find('\n');
        const std::string_view line = md.substr(0, nl);
        md = nl == std::string_view::npos ? std::string_view() : md.substr(nl + 1);
        if (line.starts_with("```")) {
            fence = !fence;
            flush();
            continue;
        }
        if (fence) continue;
        if (line.starts_with("#")) {
            flush();
            const std::size_t text = line.find_first_not_of("# ");
            const std::string_view title = text == std::string_view::npos ? std::string_view() : line.substr(text);
            if (heading.empty()) {
                in = line.starts_with("# ");  // the page's own title opens its first section
            } else {
                in = title == heading;
            }
            continue;
        }
        if (!in) continue;
        if (line.empty() || line.starts_with("|") || line.starts_with("- ") || line.starts_with("  ") ||
            line.starts_with("<!--")) {
            flush();
            continue;
        }
        if (!paragraph.empty()) paragraph += ' ';
        paragraph += line;
    }
    flush();
    return out;
}

std::string problemText(const Reading& r, std::string_view unknown, std::string_view unwanted, std::string_view twice) {
    const std::pair<std::string_view, std::string_view> blank[] = {{"{opt}", r.option}};
    switch (r.problem) {
        case Problem::Unknown:
            return fill(unknown, blank);
        case Problem::Unwanted:
            return fill(unwanted, blank);
        case Problem::Twice:
            return fill(twice, blank);
        case Problem::None:
        case Problem::Missing:
            break;
    }
    return "";
}

std::string refused(std::string_view option, std::string_view value, std::string_view number, std::string otherwise) {
    std::string why = leadingZeroText(std::string(option) + " " + std::string(value), number);
    return why.empty() ? otherwise : why;
}

std::string fill(std::string_view text, std::span<const std::pair<std::string_view, std::string_view>> blanks) {
    std::string out(text);
    for (const auto& [blank, value] : blanks) {
        for (std::size_t at = out.find(blank); at != std::string::npos; at = out.find(blank, at + value.size()))
            out.replace(at, blank.size(), value);
    }
    return out;
}

}  // namespace korvane::kit
