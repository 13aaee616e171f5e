// What a user tells the disassembler: an info file of names, entries, ranges, tables,
// comments and constants; names from other tools' symbol tables; and the info file of
// what a run found, to start from.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <map>
#include <set>

#include "disasm/grammar/grammar.h"
#include "disasm/input/input.h"
#include "korvane/dis_inputs.h"
#include "korvane/dis_sources.h"
#include "korvane/numbers.h"
#include "korvane/korvane.h"

namespace korvane {

namespace {

// The widths of data, in DataWidth's order after Any.
constexpr std::array<std::string_view, 5> kWidthNames = {"bytes", "words", "longs", "strings", "pointers"};
static_assert(kWidthNames.size() == static_cast<std::size_t>(DataWidth::Pointers));

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

// The rest of the line after the first n words.
std::string_view after(std::string_view line, std::size_t n) {
    std::size_t i = 0;
    for (std::size_t k = 0; k < n; ++k) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    }
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    std::string_view rest = line.substr(i);
    while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t' || rest.back() == '\r')) rest.remove_suffix(1);
    return rest;
}

bool address(std::string_view text, std::uint32_t& a) {
    std::uint64_t v;
    if (!parseAddress(text, v) || v > 0xFFFFFFFFull) return false;
    a = static_cast<std::uint32_t>(v);
    return true;
}

// A file's errors past this many are counted, not said.
constexpr std::size_t kMostErrors = 20;

// The errors of a file, each "FILE:LINE: text", the first kMostErrors of them said.
class Errors {
  public:
    explicit Errors(const std::string& file) : file_(file) {}
    void add(std::uint32_t line, const std::string& why) {
        if (said_.size() < kMostErrors) {
            said_.push_back(file_ + ":" + std::to_string(line) + ": " + why);
        } else {
            ++more_;
        }
    }
    std::vector<std::string> take() {
        if (more_ != 0) said_.push_back(file_ + ": " + std::to_string(more_) + " more errors");
        return std::move(said_);
    }

  private:
    const std::string& file_;
    std::vector<std::string> said_;
    std::size_t more_ = 0;
};

constexpr std::size_t kLabelMost = 20;

// Whether the assembler takes name as a label as it stands.
bool goodLabel(std::string_view name) {
    if (name.size() < 2 || name.size() > kLabelMost || isRegisterName(name)) return false;
    if (!(std::isupper(static_cast<unsigned char>(name[0])) || name[0] == '_')) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return std::isupper(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)) || c == '_';
    });
}

// A name mapped to a label: upper case, other characters as '_', a leading digit or a
// register's name after a '_', a long one cut to 15 characters, '_' and four digits of
// a hash of the whole (FNV-1a, folded to 16 bits).
std::string labelFor(std::string_view name) {
    std::string s;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        s += std::isalnum(u) ? static_cast<char>(std::toupper(u)) : '_';
    }
    if (s.empty() || std::isdigit(static_cast<unsigned char>(s[0])) || isRegisterName(s)) s = "_" + s;
    if (s.size() < 2) s += '_';
    if (s.size() > kLabelMost) {
        std::uint32_t h = 2166136261u;
        for (const char c : name) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
        char tail[8];
        std::snprintf(tail, sizeof tail, "_%04X", (h ^ (h >> 16)) & 0xFFFF);
        s = s.substr(0, kLabelMost - 5) + tail;
    }
    return s;
}

// The disassembler's own labels are L and 8 digits, and B and 8 digits for a base: a
// user's name must not look like one of another address, nor like a base's.
bool ownLabelOfAnother(std::string_view name, std::uint32_t at) {
    const auto v = dis::ownLabelAddress(name);
    return (v && *v != at) || dis::ownLabelAddress(name, 'B');
}

// A line without its line end (LF or CR LF).
std::string_view withoutCr(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

// Adds a name, or says why it cannot be added.
std::string addName(DisassemblyOptions& o, std::uint32_t at, std::string name, std::string comment) {
    if (ownLabelOfAnother(name, at)) return "the name " + name + " is the disassembler's label of another address";
    for (const DisassemblyOptions::Name& n : o.names) {
        if (n.name == name && n.address != at) return "the name " + name + " is already the label of another address";
        if (n.address == at && n.name != name) return "the address already has the name " + n.name;
        if (n.address == at) return {};
    }
    o.names.push_back({at, std::move(name), std::move(comment)});
    return {};
}

}  // namespace

std::vector<std::string> readInfo(std::string_view text, const std::string& file, DisassemblyOptions& o) {
    Errors errors(file);
    // Another module's info file (its first line names another image): only its extern
    // lines are about this image.
    bool another = false;
    if (text.starts_with(kInfoHeader) && !o.imageName.empty()) {
        const std::string_view named = text.substr(kInfoHeader.size());
        another = !(named.starts_with(o.imageName) && named.substr(o.imageName.size()).starts_with(" "));
    }
    std::size_t at = 0;
    for (std::uint32_t n = 1; at <= text.size(); ++n) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = withoutCr(text.substr(at, end - at));
        at = end + 1;
        if (const std::size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
        const std::vector<std::string_view> w = words(line);
        if (w.empty()) {
            if (end == text.size()) break;
            continue;
        }
        const std::string_view what = w[0];
        // The line's numbers: the first refused for a leading 0 is what its error says.
        std::string_view zero;
        auto number = [&zero](std::string_view t, std::uint64_t& v) {
            if (parseAddress(t, v)) return true;
            if (zero.empty() && !leadingZeroText({}, t).empty()) zero = t;
            return false;
        };
        auto address = [&number](std::string_view t, std::uint32_t& v) {
            std::uint64_t x;
            if (!number(t, x) || x > 0xFFFFFFFFull) return false;
            v = static_cast<std::uint32_t>(x);
            return true;
        };
        auto range = [&](std::string_view t, std::uint32_t& from, std::uint64_t& to) {
            const std::size_t dash = t.find('-');
            return dash != std::string_view::npos && address(t.substr(0, dash), from) && number(t.substr(dash + 1), to) &&
                   to >= from;
        };
        auto bad = [&](const std::string& why) {
            errors.add(n, zero.empty() ? why : leadingZeroText(std::string(what) + " " + std::string(zero), zero));
        };
        std::uint32_t a = 0;
        if (another && what != "extern") {
            if (end == text.size()) break;
            continue;
        }
        if (what == "extern") {
            std::uint32_t from;
            if (w.size() < 4 || !address(w[1], a) || (w[2] != "call" && w[2] != "jump") ||
                !std::all_of(w.begin() + 3, w.end(), [&](std::string_view x) { return address(x, from); })) {
                bad("extern needs an address, call or jump, and the addresses it is called or jumped from");
            } else {
                o.externs.push_back({a, w[2] == "call"});
            }
        } else if (what == "label") {
            if (w.size() < 3 || !address(w[1], a)) {
                bad("label needs an address and a name");
            } else if (!goodLabel(w[2])) {
                bad("the name " + dis::excerpt(w[2]) + " cannot be a label: 2 to 20 of A-Z, 0-9 and _, not a register, "
                                                       "not starting with a digit");
            } else if (const std::string why = addName(o, a, std::string(w[2]), std::string(after(line, 3))); !why.empty()) {
                bad(why);
            }
        } else if (what == "entry") {
            if (w.size() != 2 || !address(w[1], a)) {
                bad("entry needs an address");
            } else {
                o.entries.push_back(a);
            }
        } else if (what == "code" || what == "data") {
            std::uint64_t to;
            const auto width = std::find(kWidthNames.begin(), kWidthNames.end(), w.size() > 2 ? w[2] : "");
            if (w.size() < 2 || !range(w[1], a, to)) {
                bad(std::string(what) + " needs a range A-B");
            } else if (what == "data" && w.size() > 2 && width == kWidthNames.end()) {
                bad("data widths are bytes, words, longs, strings and pointers");
            } else if (w.size() > (what == "data" ? 3u : 2u)) {
                bad("too much after " + std::string(what));
            } else if (what == "code") {
                o.code.push_back({a, to});
            } else {
                const auto shape = w.size() > 2 ? static_cast<DataWidth>(width - kWidthNames.begin() + 1) : DataWidth::Any;
                o.data.push_back({{a, to}, shape});
            }
        } else if (what == "table") {
            std::uint32_t count = 0, width = 0, base = 0;
            const bool relative = w.size() == 6 && w[4] == "relative";
            if ((w.size() != 4 && !relative) || !address(w[1], a) || !address(w[2], count) || !address(w[3], width) ||
                (width != 1 && width != 2 && width != 4) || count == 0 || (relative && !address(w[5], base))) {
                bad("table needs ADDR COUNT WIDTH (1, 2 or 4) [relative BASE]");
            } else if (!relative && width != 4) {
                bad("a table of addresses has entries of 4 bytes");
            } else {
                o.tables.push_back({a, count, static_cast<std::uint8_t>(width), relative, base});
            }
        } else if (what == "comment") {
            if (w.size() < 3 || !address(w[1], a)) {
                bad("comment needs an address and a text");
            } else {
                o.comments.push_back({a, std::string(after(line, 2))});
            }
        } else if (what == "const") {
            if (w.size() != 2 || !address(w[1], a)) {
                bad("const needs an address");
            } else {
                o.constants.push_back(a);
            }
        } else {
            bad("unknown statement " + dis::excerpt(what) +
                " (label, entry, code, data, table, comment, const, extern)");
        }
        if (end == text.size()) break;
    }
    return errors.take();
}

std::vector<std::string> readSymbols(std::string_view text, const std::string& file, DisassemblyOptions& o) {
    Errors errors(file);
    std::map<std::string, std::pair<std::string, std::uint32_t>> mapped;  // label -> name, line
    std::size_t at = 0;
    for (std::uint32_t n = 1; at < text.size(); ++n) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = withoutCr(text.substr(at, end - at));
        at = end + 1;
        const std::vector<std::string_view> w = words(line);
        if (w.empty()) continue;
        auto bad = [&](const std::string& why) { errors.add(n, why); };
        std::uint32_t a = 0;
        std::string_view name;
        auto hexWord = [](std::string_view s, std::uint32_t& v) {
            if (s.empty() || s.size() > 8 || !std::all_of(s.begin(), s.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
                return false;
            v = static_cast<std::uint32_t>(std::stoul(std::string(s), nullptr, 16));
            return true;
        };
        if (w.size() == 3 && w[1] == "=" && address(w[2], a)) {  // NAME = ADDR
            name = w[0];
        } else if (w.size() == 3 && w[1].size() == 1 && hexWord(w[0], a)) {  // nm: ADDR T NAME
            name = w[2];
        } else if (w.size() == 2 && (address(w[0], a) || hexWord(w[0], a))) {  // ADDR NAME
            name = w[1];
        } else if (w.size() == 3 && w[1] == "=" && !leadingZeroText({}, w[2]).empty()) {
            bad(leadingZeroText(dis::excerpt(w[0]) + " = " + dis::excerpt(w[2]), w[2]));
            continue;
        } else {
            bad("not a symbol: NAME = ADDR, ADDR NAME or nm's ADDR TYPE NAME");
            continue;
        }
        std::string label = goodLabel(name) ? std::string(name) : labelFor(name);
        // A name the disassembler gives another address (or a base) gets a '_' more.
        if (ownLabelOfAnother(label, a)) label += '_';
        const auto [it, fresh] = mapped.emplace(label, std::make_pair(std::string(name), n));
        if (!fresh && it->second.first != name) {
            bad(dis::excerpt(name) + " and " + dis::excerpt(it->second.first) + " (line " + std::to_string(it->second.second) +
                ") both become the label " + label);
            continue;
        }
        const std::string comment = label == name ? std::string() : "is " + std::string(name);
        if (const std::string why = addName(o, a, label, comment); !why.empty()) bad(why);
    }
    return errors.take();
}

std::string infoText(const Model& m, const DisassemblyOptions& o) {
    std::string out = std::string(kInfoHeader) + o.imageName +
                      " (an info file: give it with --info; lines starting with # are comments)\n";
    out += detail::kInfoFingerprintLead;
    const std::size_t digitsAt = out.size();
    out += std::string(detail::kFingerprintDigits, '0') + " (--info-out replaces this file only while its text is unchanged)\n";
    for (const std::uint32_t e : o.entries) out += "entry " + dis::addressText(e) + "\n";
    for (const AddressRange& r : o.code) out += "code " + dis::addressText(r.begin) + "-" + dis::addressText(static_cast<std::uint32_t>(r.end)) + "\n";
    for (const DataRange& r : o.data) {
        out += "data " + dis::addressText(r.begin) + "-" + dis::addressText(static_cast<std::uint32_t>(r.end));
        if (r.width != DataWidth::Any) out += " " + std::string(kWidthNames[static_cast<std::size_t>(r.width) - 1]);
        out += "\n";
    }
    for (const DisassemblyOptions::Name& n : o.names)
        out += "label " + dis::addressText(n.address) + " " + n.name + (n.comment.empty() ? "" : " " + n.comment) + "\n";
    for (const DisassemblyOptions::Note& n : o.comments) out += "comment " + dis::addressText(n.address) + " " + n.text + "\n";
    for (const std::uint32_t c : o.constants) out += "const " + dis::addressText(c) + "\n";
    for (const DisassemblyOptions::UserTable& t : o.tables) {
        out += "table " + dis::addressText(t.address) + " " + std::to_string(t.count) + " " + std::to_string(t.width) +
               (t.relative ? " relative " + dis::addressText(t.base) : "") + "\n";
    }
    out += "# Found by the analysis itself (it finds them again; uncomment to keep one):\n";
    for (const Function& f : m.functions()) {
        if (f.why == Evidence::Entry) continue;
        out += "# entry " + dis::addressText(f.start) + "  (" + std::string(evidenceText(f.why)) + ")\n";
    }
    for (const Table& t : m.tables()) {
        if (t.jump == 0 && !t.pointers) continue;  // the user's own, above
        if (t.count == 0) {
            out += "# table " + dis::addressText(t.address) + " ? " + std::to_string(t.width) + "  (a jump table of unknown length)\n";
            continue;
        }
        out += "# table " + dis::addressText(t.address) + " " + std::to_string(t.count) + " " + std::to_string(t.width) +
               (t.relative ? " relative " + dis::addressText(t.base) : "") + (t.pointers ? t.jump && t.open ? "  (code pointers, as far as they point at code)" : "  (pointers)" : "  (jump table)") + "\n";
    }
    // Where the image calls and jumps out of itself: for the info files of the modules
    // there (another module's run takes those that land in it as entries).
    std::map<std::uint32_t, std::pair<bool, std::vector<std::uint32_t>>> leaving;
    for (const Reference& r : m.references()) {
        if ((r.kind != RefKind::Call && r.kind != RefKind::Jump && r.kind != RefKind::Branch) || m.kindAt(r.to)) continue;
        auto& x = leaving[r.to];
        x.first = x.first || r.kind == RefKind::Call;
        if (std::find(x.second.begin(), x.second.end(), r.from) == x.second.end()) x.second.push_back(r.from);
    }
    if (!leaving.empty()) out += "# Calls and jumps out of the image, with where they come from:\n";
    for (const auto& [to, x] : leaving) {
        out += "extern ";
        out += dis::addressText(to);
        out += x.first ? " call" : " jump";
        for (const std::uint32_t from : x.second) {
            out += ' ';
            out += dis::addressText(from);
        }
        out += '\n';
    }
    detail::seal(out, digitsAt);  // the fingerprint of everything but its own digits
    return out;
}

}  // namespace korvane
