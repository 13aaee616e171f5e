// A check of an edited disassembly: the source is assembled in memory, so every label's
// new address is known, and what the disassembler wrote as a number but knew as an
// expression (a relative table entry, a load in a delay slot) is worked out again from
// them; a number that equals where a label stood before it moved is reported as a
// possible stale pointer.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "isa/isa.h"
#include "isa/known.h"
#include "disasm/grammar/annotations.h"
#include "disasm/grammar/grammar.h"
#include "disasm/grammar/settle.h"
#include "korvane/dis_sources.h"
#include "korvane/korvane.h"

namespace korvane {

namespace {

// The most statements out of reach that one check explains, and the most runs made
// again after a displacement written as a number that does not fit.
constexpr std::size_t kMostRefusals = 1000;
constexpr std::size_t kMostRetries = 8;
// How many times --write turns conditional branches around and checks again (each
// turn may push others out of reach).
constexpr unsigned kMostTurns = 16;

// Each line's statement as the assembler recorded it: its PC, size and first word
// (kNoStatement where a line has none).
constexpr std::uint32_t kNoStatement = 0xFFFFFFFFu;
struct Lines : StatementObserver {
    struct Made {
        std::uint32_t pc = kNoStatement;
        std::uint32_t size = 0;
        std::uint16_t word = 0;
    };
    std::vector<Made> made;
    void statement(const StatementRecord& r) override {
        if (r.line >= made.size()) made.resize(std::max<std::size_t>(r.line + 1, made.size() * 2));
        Made& m = made[r.line];
        m.pc = r.pc;
        m.size = static_cast<std::uint32_t>(std::min<std::uint64_t>(r.size, 0xFFFFFFFFu));
        m.word = r.bytes.size() >= 2 ? static_cast<std::uint16_t>(r.bytes[0] << 8 | r.bytes[1]) : 0;
    }
    std::optional<std::uint32_t> pc(std::size_t line) const {
        if (line >= made.size() || made[line].pc == kNoStatement) return std::nullopt;
        return made[line].pc;
    }
    std::uint32_t size(std::size_t line) const { return line < made.size() ? made[line].size : 0; }
    // The instruction a line made, or nothing (data, or no statement).
    const sh2::Form* form(std::size_t line, std::string_view mnemonic) const {
        if (line >= made.size() || made[line].size != 2) return nullptr;
        const auto d = sh2::decode(made[line].word);
        return d && d->form->mnemonic == mnemonic ? d->form : nullptr;
    }
};

struct SourceLine {
    std::size_t begin;      // offset of the line in the text
    std::string_view text;  // without its line end
};

std::vector<SourceLine> splitLines(std::string_view text) {
    std::vector<SourceLine> out;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        out.push_back({at, line});
        at = end + 1;
    }
    return out;
}

// Where the comment begins (a ';' outside a string), or the line's length.
std::size_t commentAt(std::string_view line) {
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') quoted = !quoted;
        if (line[i] == ';' && !quoted) return i;
    }
    return line.size();
}

// The statement's mnemonic and the first $number of its operands (where it starts in
// the line and how long it is).
struct Operand {
    std::string_view mnemonic;
    std::size_t numberAt = 0, numberLength = 0;
    std::uint32_t number = 0;
    bool hasNumber = false;
};

Operand parse(std::string_view line, std::size_t comment) {
    Operand o;
    // Labels end with a colon, in any column; the first word without one is the
    // mnemonic.
    std::size_t i = 0, m = 0;
    for (;;) {
        while (i < comment && (line[i] == ' ' || line[i] == '\t')) ++i;
        m = i;
        while (i < comment && line[i] != ' ' && line[i] != '\t' && line[i] != ':') ++i;
        if (i < comment && line[i] == ':') {
            ++i;
            continue;
        }
        break;
    }
    o.mnemonic = line.substr(m, i - m);
    while (i < comment && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i < comment && line[i] == '$') {
        std::size_t j = i + 1;
        while (j < comment && std::isxdigit(static_cast<unsigned char>(line[j]))) ++j;
        o.hasNumber = dis::hexNumber(line.substr(i + 1, j - i - 1), o.number);
        o.numberAt = i;
        o.numberLength = j - i;
    }
    return o;
}

// A statement's text split into its mnemonic and its operands (without the blanks
// around them).
std::pair<std::string_view, std::string_view> splitStatement(std::string_view st) {
    const std::size_t blank = st.find_first_of(" \t");
    std::string_view operands = blank == std::string_view::npos ? std::string_view() : st.substr(blank);
    while (!operands.empty() && (operands.front() == ' ' || operands.front() == '\t')) operands.remove_prefix(1);
    while (!operands.empty() && (operands.back() == ' ' || operands.back() == '\t')) operands.remove_suffix(1);
    return {st.substr(0, blank), operands};
}

// The label a line defines in column 0 (before its comment), or "".
std::string_view labelDefinedBy(std::string_view line) {
    if (line.empty() || line[0] == ' ' || line[0] == '\t' || line[0] == ';') return {};
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon > commentAt(line)) return {};
    return line.substr(0, colon);
}

// The source assembled in memory, each line's statement recorded, every label out of
// reach listed (nothing of the image is kept).
Result assembleLines(std::string_view text, IncludeOpener& includes, Lines& lines, std::vector<std::uint32_t>& outOfReach) {
    MemorySource source(text);
    NullSink bin("image");
    lines.made.clear();
    outOfReach.clear();
    Options options;
    options.observer = &lines;
    options.outOfReach = &outOfReach;
    return assemble(source, bin, includes, options);
}

}  // namespace

using dis::rangeText;
using dis::settleCode;
using dis::settleMaybe;
using dis::settleTable;

namespace {

// Why a PC-relative statement can no longer reach its label: the reach of its form
// from pc, and where the label is now.
std::string whyUnreachable(std::string_view mnemonic, std::string_view operands, std::uint32_t pc,
                           const std::unordered_map<std::string, std::uint32_t>& labels) {
    const sh2::Form* form = sh2::FormSet(mnemonic).referring();
    const sh2::Reach reach = form != nullptr ? form->reach : sh2::Reach::None;
    std::string_view label = operands;
    if (const std::size_t at = operands.find("@("), end = operands.find(",PC)");
        reach != sh2::Reach::Branch8 && reach != sh2::Reach::Branch12 && at != std::string_view::npos &&
        end != std::string_view::npos && end > at)
        label = operands.substr(at + 2, end - at - 2);
    while (!label.empty() && (label.back() == ' ' || label.back() == ',')) label.remove_suffix(1);
    if (const std::size_t comma = label.find(','); comma != std::string_view::npos) label = label.substr(0, comma);
    const auto it = labels.find(std::string(label));
    if (reach == sh2::Reach::None || it == labels.end()) return {};
    const std::uint32_t target = it->second;
    const sh2::Reaching r = sh2::reachingOf(reach);
    const std::string what = std::string(mnemonic) + " can no longer reach " + std::string(label) + ": ";
    if (target & (r.align - 1)) return what + "it is at " + dis::addressText(target) + ", not a multiple of " + std::to_string(r.align);
    const auto d = static_cast<std::int64_t>(target) - static_cast<std::int64_t>(sh2::reachBase(reach, pc));
    if (d > static_cast<std::int64_t>(r.ahead))
        return what + std::to_string(d - r.ahead) + " bytes beyond its reach of " + std::to_string(r.ahead) + " forward";
    if (-d > static_cast<std::int64_t>(r.back)) {
        if (r.back == 0) return what + "it is " + std::to_string(-d) + " bytes before the load, which reaches forward only";
        return what + std::to_string(-d - r.back) + " bytes beyond its reach of " + std::to_string(r.back) + " back";
    }
    return {};
}

// What mends a statement out of reach: a conditional branch is turned around by
// --write; a load, or a BRA/BSR that must become a load and a jump, needs a literal
// pool within its reach: the nearest place after a jump or return and its slot (where
// no path falls through), or the word that there is none.
std::string remedy(const Lines& lines, std::size_t line, std::string_view mnemonic, std::uint32_t pc, bool write) {
    const sh2::Form* form = sh2::FormSet(mnemonic).referring();
    if (form == nullptr) return {};
    if (sh2::oppositeCondition(*form) != nullptr) return write ? "" : "; --write turns it around";
    const sh2::Reach reach = form->reach == sh2::Reach::Branch12 ? sh2::Reach::PcLong : form->reach;
    if (reach != sh2::Reach::PcLong && reach != sh2::Reach::PcWord) return {};
    const std::uint32_t most = sh2::reachBase(reach, pc) + sh2::reachingOf(reach).ahead;
    for (std::size_t n = line + 1; n + 1 < lines.made.size(); ++n) {
        const auto at = lines.pc(n);
        if (!at) continue;
        if (*at + 4 > most || *at < pc) break;
        const auto d = lines.size(n) == 2 ? sh2::decode(lines.made[n].word) : std::nullopt;
        if (!d || !(d->form->flow & sh2::FlowDelayed) || (d->form->flow & (sh2::FlowConditional | sh2::FlowCall)))
            continue;
        return "; a literal pool may go after line " + std::to_string(n + 1) + " (the delay slot of the " +
               std::string(d->form->mnemonic) + " at " + dis::addressText(*at) + ")";
    }
    return "; no jump or return within its reach has room after it for a literal pool";
}

// A conditional branch that can no longer reach its label, turned around on a rewrite:
// BT L becomes BF over BRA L and NOP (BT/S L with its slot X: BF/S over X, BRA L and
// NOP, so X runs once either way), as GNU as relaxes it. The slot must be an ordinary
// instruction: no label on it, no PC-relative load (which would read from elsewhere).
// The skipped-to label is local, named after the turn and the line. The new text, or "".
std::string turnAround(const std::vector<SourceLine>& all, std::string_view text,
                       const std::vector<std::pair<std::uint32_t, std::string>>& refused,
                       const std::unordered_map<std::string, std::uint32_t>& labels, unsigned turn,
                       std::vector<std::pair<std::uint32_t, std::string>>& turned) {
    std::string out;
    std::size_t copied = 0;
    for (const auto& [line, statement] : refused) {
        const auto [mnemonic, target] = splitStatement(statement);
        if (target.empty() || line == 0 || line > all.size()) continue;
        const sh2::Form* form = sh2::FormSet(mnemonic).referring();
        const sh2::Form* opposite = form != nullptr ? sh2::oppositeCondition(*form) : nullptr;
        if (opposite == nullptr || labels.find(std::string(target)) == labels.end()) continue;
        const bool delayed = (form->flow & sh2::FlowDelayed) != 0;
        if (delayed) {
            if (line >= all.size()) continue;
            const std::string_view slot = all[line].text;  // the next line
            const std::string_view code = slot.substr(0, commentAt(slot));
            if (slot.empty() || (slot[0] != ' ' && slot[0] != '\t') || parse(slot, commentAt(slot)).mnemonic.empty() ||
                code.find(",PC)") != std::string_view::npos || dis::note::readSlotLoad(slot.substr(commentAt(slot))))
                continue;
        }
        const SourceLine& l = all[line - 1];
        const std::size_t c = commentAt(l.text);
        const auto m = static_cast<std::size_t>(parse(l.text, c).mnemonic.data() - l.text.data());
        const std::string skip = "@T" + std::to_string(turn) + "L" + std::to_string(line);
        std::string turnedText(opposite->mnemonic);
        turnedText.resize(std::max<std::size_t>(turnedText.size() + 1, 8), ' ');
        turnedText += skip;
        if (turnedText.size() < statement.size()) turnedText.resize(statement.size(), ' ');
        out.append(text.substr(copied, l.begin + m - copied));
        out += turnedText;
        copied = l.begin + m + statement.size();
        // The address comment's bytes: the turned branch's own, over what it skips.
        if (const auto stood = dis::note::addressOf(l.text.substr(c)); stood && l.text.size() >= c + 15) {
            sh2::Fields f{};
            f.d = delayed ? 2 : 1;
            const std::uint16_t word = sh2::encode(*opposite, f);
            out.append(text.substr(copied, l.begin + c + 11 - copied));
            for (int shift = 12; shift >= 0; shift -= 4) out += dis::kHex[(word >> shift) & 15];
            copied = l.begin + c + 15;
        }
        const SourceLine& last = all[delayed ? line : line - 1];
        const std::size_t end = std::min(text.size(), last.begin + last.text.size() + 1);
        out.append(text.substr(copied, end - copied));
        if (out.back() != '\n') out += '\n';
        copied = end;
        out += "            BRA     " + std::string(target) + "\n            NOP\n" + skip + ":\n";
        turned.emplace_back(line, "turned into " + std::string(opposite->mnemonic) + " over BRA " + std::string(target) + " and NOP");
    }
    if (turned.empty()) return {};
    out.append(text.substr(copied));
    return out;
}

// An image that now ends at end, over a place after it that the program uses (user: who
// uses it, in words, or "" to name it by its old address).
std::string grownOver(std::uint32_t end, const UsedAfter& after, std::string user) {
    static constexpr std::string_view kVerb[] = {" reads", " writes", " names", " saw used"};
    if (after.use == AfterUse::Traced) {
        user = "a trace";
    } else if (user.empty()) {
        user = std::string(after.use == AfterUse::Named ? "the literal" : "the instruction") + " that stood at " +
               dis::addressText(after.by);
    }
    return "the image now ends at " + dis::addressText(end) + ", over " + dis::addressText(after.address) + " that " +
           user + std::string(kVerb[static_cast<std::size_t>(after.use)]) +
           ": memory the program uses after the image (make the image no larger, or move what the program keeps there" +
           (after.use == AfterUse::Named ? std::string("; a number that is no address: delete this line)") : std::string(")"));
}

using LabelValues = std::unordered_map<std::string, std::uint32_t>;
// others: the labels other parts of the program define (for the marks of unknowns,
// which name what they would reach without referring to it).
CheckReport checkText(std::string_view text, const std::string& name, IncludeOpener& includes, bool write,
                      unsigned turn, bool& refusedAny, const LabelValues* others = nullptr);

}  // namespace

CheckReport checkSource(std::string_view text, const std::string& name, IncludeOpener& includes, bool write) {
    bool refused = false;
    return checkText(text, name, includes, write, 0, refused);
}

namespace {

// One check of a source: it is assembled (statements out of reach set aside and
// explained, or with --write conditional branches turned around), then every line's
// marks are held against the labels' new addresses, one check a kind of mark.
class Checker {
  public:
    Checker(std::string_view source, const std::string& named, IncludeOpener& opener, bool rewrite, unsigned turns,
            const LabelValues* elsewhere)
        : text(source), name(named), includes(opener), write(rewrite), turn(turns), others(elsewhere),
          all(splitLines(source)), out(source) {}

    CheckReport run(bool& refusedAny);

  private:
    std::string_view text;
    const std::string& name;
    IncludeOpener& includes;
    bool write;
    unsigned turn;
    const LabelValues* others;
    const std::vector<SourceLine> all;
    CheckReport report;
    std::vector<std::pair<std::uint32_t, std::string>> refused;  // line, its statement text
    Lines lines;
    Result r;
    std::unordered_map<std::string, std::uint32_t> labels;
    std::string out;
    std::ptrdiff_t shift = 0;  // how much the rewrites so far moved the text
    std::unordered_map<std::uint32_t, std::string> stoodAt;
    std::unordered_map<std::uint32_t, std::size_t> statementAt;
    std::unordered_map<std::string_view, std::uint32_t> wasAt;  // label -> where it stood

    void say(std::uint32_t line, const std::string& what) {
        report.messages.push_back(name + ":" + std::to_string(line) + ": " + what);
    }
    // A line's statement: from its mnemonic to its comment (where it starts, its text).
    static std::pair<std::size_t, std::string_view> statementOf(const SourceLine& l) {
        const std::size_t c = commentAt(l.text);
        const auto m = static_cast<std::size_t>(parse(l.text, c).mnemonic.data() - l.text.data());
        return std::make_pair(m, l.text.substr(m, c - m));
    }

    // Reach: the source assembled, every statement out of reach listed. False when it
    // does not assemble for another reason (said).
    bool assemble() {
        // Every label out of reach of its statement is listed by the one run (the field
        // keeps a placeholder, so the addresses stay), and each refusal is explained from
        // the addresses of the whole. A displacement written as a number that does not fit
        // stops a run at its statement: that statement is set aside (a word in its place)
        // and the run made again, a few times at most. Nothing of the image is kept.
        std::string relaxed;
        // What stands in for a refused statement: NOP as a word of data, the same size.
        const std::string nopWord = "DC.W    " + dis::hexText(sh2::known().nopWord) + " ";
        // A line's statement: from its mnemonic to its comment (where it starts, its text).
        std::vector<std::uint32_t> outOfReach;
        for (std::size_t round = 0;; ++round) {
            r = assembleLines(relaxed.empty() ? text : std::string_view(relaxed), includes, lines, outOfReach);
            if (r.ok) break;
            if (relaxed.empty()) relaxed = text;
            const std::vector<SourceLine> now = splitLines(relaxed);
            const std::uint32_t n = r.diagnostic.line;
            if (r.diagnostic.code != Message::InvalidAddressReference || n == 0 || n > now.size() ||
                round == kMostRetries) {
                say(n, r.diagnostic.text);
                report.holds = false;
                return false;
            }
            const auto [at, statement] = statementOf(now[n - 1]);
            refused.emplace_back(n, std::string(statement));
            relaxed.replace(now[n - 1].begin + at, statement.size(), nopWord);
        }
        relaxed = std::string();
        if (!outOfReach.empty()) {
            for (const std::uint32_t n : outOfReach) {
                if (refused.size() == kMostRefusals) break;
                if (n != 0 && n <= all.size()) refused.emplace_back(n, std::string(statementOf(all[n - 1]).second));
            }
            std::sort(refused.begin(), refused.end());
            refused.erase(std::unique(refused.begin(), refused.end()), refused.end());
        }
        for (const Label& l : r.labels) {
            if (l.defined && !l.local) labels.emplace(l.name, l.value);
        }
        return true;
    }
    // Why a refused statement no longer reaches, from where it now stands.
    std::string whyRefused(std::uint32_t line, std::string_view statement) const {
        const auto [mnemonic, operands] = splitStatement(statement);
        const auto pc = lines.pc(line);
        return pc ? whyUnreachable(mnemonic, operands, *pc, labels) : std::string();
    }
    // Relaxation: with --write, the conditional branches out of reach turned around and
    // the source checked again. True when that settled it (the report is the new one's).
    bool turnBranches(bool& refusedAny) {
        refusedAny = !refused.empty();
        if (!refused.empty() && write && turn < kMostTurns) {
            // Conditional branches out of reach turned around, when the source then holds
            // as far as reach goes (a BRA that cannot reach either leaves it as it was).
            std::vector<std::pair<std::uint32_t, std::string>> turned;
            const std::string around = korvane::turnAround(all, text, refused, labels, turn, turned);
            bool stillRefused = false;
            CheckReport next = around.empty() ? CheckReport{} : checkText(around, name, includes, true, turn + 1, stillRefused, others);
            if (!around.empty() && !stillRefused) {
                for (const auto& [turnedLine, what] : turned) {
                    const std::uint32_t line = turnedLine;
                    const std::string& st = std::find_if(refused.begin(), refused.end(), [&](const auto& x) { return x.first == line; })->second;
                    const std::string why = whyRefused(line, st);
                    say(line, (why.empty() ? std::string() : why + "; ") + what);
                }
                for (std::string& m : next.messages) report.messages.push_back(std::move(m));
                report.holds = next.holds;
                report.rewritten = true;
                report.text = next.rewritten ? std::move(next.text) : around;
                refusedAny = false;
                return true;
            }
        }
        return false;
    }
    // What still does not reach, each with its remedy.
    void refusals() {
        if (!refused.empty()) {
            for (const auto& [line, statement] : refused) {
                const std::string why = whyRefused(line, statement);
                say(line, why.empty() ? "invalid address reference: " + statement
                                      : why + remedy(lines, line, splitStatement(statement).first, *lines.pc(line), write));
            }
            report.holds = false;
            write = false;  // nothing is rewritten in a source that does not assemble
        }
    }
    std::optional<std::uint32_t> valueOf(std::string_view label) const {
        if (const auto it = labels.find(std::string(label)); it != labels.end()) return it->second;
        if (others == nullptr) return std::nullopt;
        if (const auto it = others->find(std::string(label)); it != others->end()) return it->second;
        return std::nullopt;
    }
    void rewrite(const SourceLine& l, const Operand& o, const std::string& number) {
        const std::size_t at = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(l.begin + o.numberAt) + shift);
        out.replace(at, o.numberLength, number);
        shift += static_cast<std::ptrdiff_t>(number.size()) - static_cast<std::ptrdiff_t>(o.numberLength);
        report.rewritten = true;
    }
    // A number that should now be another: rewritten, or the source no longer holds.
    void correct(std::uint32_t lineNumber, const SourceLine& l, const Operand& o, const std::string& what,
                 const std::string& now, const std::string& why) {
        say(lineNumber, std::string(write ? "rewrote " : "") + what + dis::hexText(o.number) + (write ? " as " : " should be ") +
                            now + " (" + why + ")");
        if (write) {
            rewrite(l, o, now);
        } else {
            report.holds = false;
        }
    }
    // Where labels and statements stood in the image, from the address comments.
    void indexAddresses() {
        // Where each label stood in the image: the address in the comment of the line that
        // defines it (named or not), or for L and eight digits, those digits.
        for (const auto& [label, value] : labels) {
            if (const auto o = dis::ownAddress(label)) stoodAt.emplace(*o, label);
        }
        // The statements by where they stood, from the address their comments begin with (a
        // BRAF/BSRF offset counts from the end of the branch's delay slot wherever its base
        // label went: code inserted after the slot moves the label, not the base); a line
        // that defines a label also says where that label stood.
        for (std::size_t n = 0; n < all.size(); ++n) {
            const std::string_view line = all[n].text;
            const std::size_t c = commentAt(line);
            const auto stood = dis::note::addressAlone(line.substr(c));
            if (!stood) continue;
            const std::uint32_t was = *stood;
            if (dis::note::addressOf(line.substr(c))) statementAt.emplace(was, n);
            if (const std::string_view label = labelDefinedBy(line); !label.empty()) stoodAt[was] = std::string(label);
        }
        for (const auto& [was, label] : stoodAt) wasAt.emplace(label, was);
    }
    std::optional<std::uint32_t> oldAddress(std::string_view label) const {
        if (const auto it = wasAt.find(label); it != wasAt.end()) return it->second;
        return dis::ownAddress(label);
    }
        // The base's value, and how to name it: the label, or where the branch's slot now
        // ends when code went in between.
        std::optional<std::uint32_t> baseOf(std::string_view label, std::string& named) const {
            named = label;
            const auto value = valueOf(label);
            const auto was = wasAt.find(label);
            if (was == wasAt.end()) return value;
            const auto at = statementAt.find(was->second - 4);
            if (at == statementAt.end()) return value;
            const SourceLine& l = all[at->second];
            const sh2::Form* f = lines.form(at->second + 1, parse(l.text, commentAt(l.text)).mnemonic);
            const auto pc = lines.pc(at->second + 1);
            constexpr std::uint8_t kRelative = sh2::FlowRegister | sh2::FlowRelative;
            if (f == nullptr || (f->flow & kRelative) != kRelative || !pc) return value;
            const std::uint32_t end = *pc + 4;
            if (end != value) named = dis::addressText(end) + ", the end of the " + std::string(f->mnemonic) + "'s delay slot";
            return end;
        }

    // A relative table entry (or BRAF/BSRF offset): its target minus its base.
    void relativeEntry(std::uint32_t lineNumber, const SourceLine& l, const Operand& o, const auto& relative) {
        if (const unsigned width = lines.size(lineNumber); relative && o.hasNumber && (width == 1 || width == 2 || width == 4)) {
            const std::string_view target = relative->target;
            std::string baseNamed;
            const auto t = valueOf(target), b = baseOf(relative->base, baseNamed);
            const std::string what = relative->user == dis::note::User::Braf   ? "BRAF offset "
                                     : relative->user == dis::note::User::Bsrf ? "BSRF offset "
                                                                               : "table entry ";
            if (t && b) {
                const std::uint32_t diff = *t - *b;
                const std::uint32_t mask = width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;
                const auto signedDiff = static_cast<std::int64_t>(static_cast<std::int32_t>(diff));
                const std::int64_t limit = std::int64_t{1} << (8 * width - 1);
                if (width < 4 && (signedDiff < -limit || signedDiff >= 2 * limit)) {
                    say(lineNumber, what + dis::hexText(o.number) + " cannot hold " + std::string(target) +
                                        " - " + baseNamed + " (" + std::to_string(signedDiff) + ")");
                    report.holds = false;
                } else if ((diff & mask) != o.number) {
                    correct(lineNumber, l, o, what, dis::hexText(diff & mask), std::string(target) + " - " + baseNamed);
                }
            }
        }
    }
    void pointerInside(std::uint32_t lineNumber, const SourceLine& l, const Operand& o, std::string_view comment) {
        // A pointer into an item, written as a number: the item's address now, and as far in.
        if (const auto inside = dis::note::readInside(comment); inside && o.hasNumber) {
            if (const auto item = valueOf(inside->item); item && *item + inside->offset != o.number)
                correct(lineNumber, l, o, "the pointer ", dis::hexText(*item + inside->offset),
                        "inside " + std::string(inside->item) + "+" + std::to_string(inside->offset));
        }
    }
    void slotLoad(std::uint32_t lineNumber, const SourceLine& l, const Operand& o, std::string_view comment,
                  std::string_view previousMnemonic, std::string_view previousOperands) {
        // A load in a delay slot: after BRA/BSR counted from the branch's target, after
        // BT/S or BF/S from the target when taken and from its own place when not; one
        // word must serve both.
        const auto reads = dis::note::readSlotLoad(comment);
        if (reads && lines.size(lineNumber) == 2 && o.hasNumber && !reads->first.empty()) {
            const auto d = sh2::decode(static_cast<std::uint16_t>(o.number));
            const auto slot = lines.pc(lineNumber);
            const sh2::Form* branch = lines.form(lineNumber - 1, previousMnemonic);
            const std::uint8_t flow = branch != nullptr ? branch->flow : 0;
            const bool conditional = (flow & sh2::FlowDelayed) && (flow & sh2::FlowConditional);
            const bool unconditional = (flow & sh2::FlowDelayed) && branch->reach == sh2::Reach::Branch12;
            const std::string_view read = reads->first;
            const bool both = reads->both;
            const std::string_view taken = !conditional || both ? read : std::string_view();
            const std::string_view notTaken =
                both ? reads->second : conditional && reads->notTaken ? read : std::string_view();
            std::string_view branchTarget = previousOperands;
            while (!branchTarget.empty() && branchTarget.back() == ' ') branchTarget.remove_suffix(1);
            const auto t = valueOf(branchTarget);
            const auto takenAt = valueOf(taken), notTakenAt = valueOf(notTaken);
            const bool known = d && slot && (taken.empty() || (t && takenAt)) &&
                               (notTaken.empty() || notTakenAt) && (!taken.empty() || !notTaken.empty());
            if (known && (conditional || unconditional)) {
                const auto reach = d->form->reach;
                const auto fromTarget = taken.empty() ? std::nullopt : sh2::fieldFor(reach, sh2::slotPcFor(*t), *takenAt);
                const auto fromSlot = notTaken.empty() ? std::nullopt : sh2::fieldFor(reach, *slot, *notTakenAt);
                const auto field = taken.empty() ? fromSlot : fromTarget;
                if ((!taken.empty() && !fromTarget) || (!notTaken.empty() && !fromSlot)) {
                    say(lineNumber, "the load in the delay slot can no longer reach " +
                                        std::string(!taken.empty() && !fromTarget ? taken : notTaken) +
                                        (!taken.empty() && !fromTarget ? " from the branch's target " + std::string(branchTarget)
                                                                       : std::string(" from its own place")));
                    report.holds = false;
                } else if (!taken.empty() && !notTaken.empty() && *fromTarget != *fromSlot) {
                    say(lineNumber, "the load in the delay slot can no longer read both " + std::string(taken) +
                                        " (taken, displacement " + std::to_string(*fromTarget) + ") and " +
                                        std::string(notTaken) + " (not taken, displacement " +
                                        std::to_string(*fromSlot) + ")");
                    report.holds = false;
                } else if (*field != d->fields.d) {
                    sh2::Fields f = d->fields;
                    f.d = *field;
                    const std::string where = taken.empty() ? std::string(notTaken) + " from its own place"
                                                            : std::string(taken) + " from " + std::string(branchTarget) + " + 2";
                    correct(lineNumber, l, o, "the load in the delay slot ", dis::hexText(sh2::encode(*d->form, f)), "reads " + where);
                }
            }
        }
    }
    // Marks: what stays unknown holds while what it depends on keeps its place.
    void marks(std::uint32_t lineNumber, const Operand& o, std::string_view comment, bool isConst) {
        // What stays unknown: each mark holds while what it depends on keeps its place.
        const auto was0 = dis::note::addressOf(comment);
        const auto pcNow = lines.pc(lineNumber);
        const std::string range = was0 ? rangeText(*was0, *was0 + lines.size(lineNumber)) : "";
        for (const dis::note::WouldBe& w : dis::note::readIfCode(comment)) {
            const sh2::Form* form = sh2::FormSet(w.mnemonic).referring();
            const auto was = oldAddress(w.target), is = valueOf(w.target);
            if (form == nullptr || !was0 || !pcNow || !was || !is) continue;
            if (sh2::fieldFor(form->reach, *was0 + w.offset, *was) == sh2::fieldFor(form->reach, *pcNow + w.offset, *is)) continue;
            say(lineNumber, "unknown: if the data at " + dis::addressText(*was0) + " is code, its " + std::string(w.mnemonic) +
                                " at +" + std::to_string(w.offset) + " no longer reaches " + std::string(w.target) +
                                "; settle it with " + settleCode(range) + " in the info file");
            report.holds = false;
            break;
        }
        if (const auto open = dis::note::readOpenTable(comment); open && was0) {
            std::string baseNamed;
            const auto base = baseOf(open->base, baseNamed);
            const auto baseWas = oldAddress(open->base);
            for (std::size_t i = 0; i < open->targets.size(); ++i) {
                const auto was = oldAddress(open->targets[i]), is = valueOf(open->targets[i]);
                if (!base || !baseWas || !was || !is || *is - *base == *was - *baseWas) continue;
                say(lineNumber, "unknown: the table of unknown length at " + dis::addressText(*was0) + " no longer reaches " +
                                    std::string(open->targets[i]) + " with its entry " + std::to_string(i) +
                                    " if it has one; settle it with " + settleTable(*was0, open->width, baseWas) +
                                    " in the info file");
                report.holds = false;
                break;
            }
        }
        const auto maybeMark = dis::note::readMaybePointer(comment);
        const std::string_view maybe = maybeMark ? maybeMark->target : std::string_view();
        if (maybeMark && o.hasNumber && was0 && !isConst) {
            const std::string named = std::string(maybe) + (maybeMark->offset ? "+" + std::to_string(maybeMark->offset) : "");
            if (auto is = valueOf(maybe); is && *is + maybeMark->offset != o.number) {
                *is += maybeMark->offset;
                say(lineNumber, "unknown: " + dis::hexText(o.number) + " may be a pointer to " + named +
                                    ", which is now at " + dis::addressText(*is) + "; settle it with " +
                                    settleMaybe(*was0, range, true) + " in the info file");
                report.holds = false;
            }
        }
    }
    void staleNumbers(std::uint32_t lineNumber, const SourceLine& l, std::size_t c, bool isConst, bool relative,
                      std::string_view maybe) {
        // A number where a label stood before it moved (SETPC says where the code is).
        if (!isConst && !relative && maybe.empty() && lines.pc(lineNumber) && lines.size(lineNumber) != 0) {
            const std::string_view ops = l.text.substr(0, c);
            for (std::size_t i = ops.find('$'); i != std::string_view::npos; i = ops.find('$', i + 1)) {
                std::size_t j = i + 1;
                while (j < ops.size() && std::isxdigit(static_cast<unsigned char>(ops[j]))) ++j;
                std::uint32_t v;
                if (j - i < 2 || !dis::hexNumber(ops.substr(i + 1, j - i - 1), v)) continue;
                const auto stood = stoodAt.find(v);
                if (stood == stoodAt.end()) continue;
                const auto now = valueOf(stood->second);
                if (now && *now != v) {
                    say(lineNumber, dis::addressText(v) + " is where " + stood->second + " was; it is now at " + dis::addressText(*now) +
                                        " (write the label, or mark the line ; const)");
                    report.holds = false;
                }
            }
        }
    }
    // Every line's marks.
    void lineChecks() {
        std::string_view previousMnemonic, previousOperands;
        // Where the last statement now ends (the image's end, code appended after the list of
        // places after the image included), and those places with their lines.
        std::uint64_t endNow = 0;
        std::vector<std::pair<std::uint32_t, UsedAfter>> usedAfter;
        for (std::size_t n = 0; n < all.size(); ++n) {
            const SourceLine& l = all[n];
            const auto lineNumber = static_cast<std::uint32_t>(n + 1);
            const std::size_t c = commentAt(l.text);
            const std::string_view comment = l.text.substr(c);
            if (const auto pc = lines.pc(lineNumber); pc && lines.size(lineNumber) != 0) endNow = std::uint64_t{*pc} + lines.size(lineNumber);
            if (const auto after = dis::note::readAfterImage(l.text)) usedAfter.emplace_back(lineNumber, *after);
            const Operand o = parse(l.text, c);
            if (o.mnemonic.empty() || l.text.substr(0, 1) == ";") continue;
            const bool isConst = dis::note::isConstant(comment);
            const auto relative = dis::note::readRelative(comment);
            relativeEntry(lineNumber, l, o, relative);
            pointerInside(lineNumber, l, o, comment);
            slotLoad(lineNumber, l, o, comment, previousMnemonic, previousOperands);
            const auto maybeMark = dis::note::readMaybePointer(comment);
            const std::string_view maybe = maybeMark ? maybeMark->target : std::string_view();
            marks(lineNumber, o, comment, isConst);
            staleNumbers(lineNumber, l, c, isConst, relative.has_value(), maybe);
            previousMnemonic = o.mnemonic;
            // The operands of this line, for the slot that may follow.
            const auto mAt = static_cast<std::size_t>(o.mnemonic.data() - l.text.data());
            std::string_view rest = l.text.substr(mAt + o.mnemonic.size(), c - (mAt + o.mnemonic.size()));
            while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
            previousOperands = rest;
        }
        // The lowest place after the image that it now covers.
        for (const auto& [lineNumber, after] : usedAfter) {
            if (endNow <= after.address) continue;
            std::string user;
            if (const auto at = statementAt.find(after.by); at != statementAt.end() && after.use != AfterUse::Traced) {
                const SourceLine& u = all[at->second];
                user = "line " + std::to_string(at->second + 1) + " (" + std::string(parse(u.text, commentAt(u.text)).mnemonic) +
                       " at " + dis::addressText(after.by) + " before the edit)";
            }
            say(lineNumber, grownOver(static_cast<std::uint32_t>(endNow), after, user));
            report.holds = false;
            break;
        }
    }
};

CheckReport Checker::run(bool& refusedAny) {
    if (!assemble()) return report;
    if (turnBranches(refusedAny)) return report;
    refusals();
    indexAddresses();
    lineChecks();
    if (write && report.rewritten) {
        // What was rewritten must now hold.
        bool refusedAgain = false;
        const CheckReport again = checkText(out, name, includes, false, kMostTurns, refusedAgain, others);
        report.holds = report.holds && again.holds;
        for (const std::string& m : again.messages) {
            if (std::find(report.messages.begin(), report.messages.end(), m) == report.messages.end()) report.messages.push_back(m);
        }
        report.text = std::move(out);
    }
    return report;
}

CheckReport checkText(std::string_view text, const std::string& name, IncludeOpener& includes, bool write,
                      unsigned turn, bool& refusedAny, const LabelValues* others) {
    return Checker(text, name, includes, write, turn, others).run(refusedAny);
}

}  // namespace

std::vector<std::string> listUnknowns(std::string_view text, const std::string& name) {
    std::vector<std::string> out;
    std::size_t n = 0;
    for (const SourceLine& l : splitLines(text)) {
        ++n;
        const std::string_view comment = l.text.substr(commentAt(l.text));
        const auto at = dis::note::addressOf(comment);
        if (!at || l.text.substr(0, 1) == ";") continue;
        const std::string where = name + ":" + std::to_string(n) + ": " + dis::addressText(*at) + ": ";
        const std::string range = rangeText(*at, *at + dis::note::bytesOf(comment));
        if (const auto would = dis::note::readIfCode(comment); !would.empty()) {
            std::string what;
            for (const dis::note::WouldBe& w : would) {
                const sh2::Form* f = sh2::FormSet(w.mnemonic).referring();
                const bool load = f != nullptr && (f->reach == sh2::Reach::PcWord || f->reach == sh2::Reach::PcLong);
                what += (what.empty() ? "" : ", ") + std::string(w.mnemonic) + (load ? " reads " : " ") + std::string(w.target) +
                        " at +" + std::to_string(w.offset);
            }
            out.push_back(where + "data that may be code (" + what + "); settled by " + settleCode(range));
        }
        if (const auto open = dis::note::readOpenTable(comment)) {
            out.push_back(where + "a jump table of unknown length, entries of " + std::to_string(open->width) + " from " +
                          std::string(open->base) + "; settled by " + settleTable(*at, open->width, dis::ownAddress(open->base)));
        }
        if (const auto maybe = dis::note::readMaybePointer(comment)) {
            out.push_back(where + "a number that may be a pointer to " + std::string(maybe->target) +
                          (maybe->offset ? "+" + std::to_string(maybe->offset) : std::string()) + "; settled by " +
                          settleMaybe(*at, range, false));
        }
    }
    return out;
}

namespace {

// What a part of a set says of its place: the line of its first SETPC and the address
// there, where it ends (the byte after its last statement, from the address comments),
// and the line after which it defines other parts' labels (its line count when none).
struct PartPlace {
    std::size_t setpcLine = 0;
    std::uint32_t start = 0, end = 0;
    std::size_t elsewhere = 0;
    bool found = false;
};

PartPlace placeOf(const std::vector<SourceLine>& lines) {
    PartPlace p;
    p.elsewhere = lines.size();
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const std::string_view l = lines[n].text;
        if (l == dis::kElsewhereLine) {
            p.elsewhere = n;
            break;
        }
        if (const auto setpc = dis::setpcOf(l); setpc && !p.found) {
            p.found = true;
            p.setpcLine = n;
            p.start = p.end = *setpc;
        }
        const std::string_view comment = l.substr(commentAt(l));
        if (const auto at = dis::note::addressOf(comment); at && l.substr(0, 1) != ";")
            p.end = std::max(p.end, *at + dis::note::bytesOf(comment));
    }
    return p;
}

// The text with line n replaced.
std::string replaceLine(std::string_view text, const SourceLine& l, std::string_view now) {
    std::string out(text.substr(0, l.begin));
    out += now;
    out += text.substr(l.begin + l.text.size());
    return out;
}

}  // namespace

PartsReport checkParts(const std::vector<PartText>& parts, IncludeOpener& includes, bool write) {
    PartsReport report;
    std::vector<std::string> texts;
    std::vector<PartPlace> places;
    for (const PartText& p : parts) {
        texts.push_back(p.text);
        places.push_back(placeOf(splitLines(p.text)));
    }
    // Each part after the next: its start where the part before now ends, when it
    // followed on from it.
    std::unordered_map<std::string, std::uint32_t> defined;  // every part's own labels, now
    std::uint32_t end = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::vector<SourceLine> lines = splitLines(texts[i]);
        PartPlace& at = places[i];
        if (!at.found) continue;
        if (i > 0 && places[i - 1].found && at.start == places[i - 1].end && end != at.start) {
            texts[i] = replaceLine(texts[i], lines[at.setpcLine], dis::setpcLine(end));
            report.messages.push_back(parts[i].name + ":" + std::to_string(at.setpcLine + 1) + ": " +
                                      (write ? "rewrote SETPC " : "SETPC ") + dis::hexText(at.start) +
                                      (write ? " as " : " should be ") + dis::hexText(end) + " (where " +
                                      parts[i - 1].name + " now ends)");
            report.holds = report.holds && write;
        }
        // Its labels and its end, assembled where it now starts (the values it gives
        // other parts' labels do not move anything of its own).
        Lines made;
        std::vector<std::uint32_t> outOfReach;
        const Result r = assembleLines(texts[i], includes, made, outOfReach);
        std::unordered_set<std::string> foreign;
        const std::vector<SourceLine> now = splitLines(texts[i]);  // the text may have changed
        for (std::size_t n = at.elsewhere; n < now.size(); ++n) {
            if (const std::string_view label = labelDefinedBy(now[n].text); !label.empty()) foreign.emplace(label);
        }
        for (const Label& l : r.labels) {
            if (l.defined && !l.local && !foreign.count(l.name)) defined.emplace(l.name, l.value);
        }
        end = at.start;
        for (std::size_t n = 1; n <= at.elsewhere && n < made.made.size(); ++n) {
            if (const auto pc = made.pc(n)) end = std::max<std::uint32_t>(end, static_cast<std::uint32_t>(std::min<std::uint64_t>(*pc + std::uint64_t{made.size(n)}, 0xFFFFFFFFu)));
        }
        if (!r.ok && r.diagnostic.code != Message::InvalidAddressReference) end = places[i].end;  // as it was
    }
    // The labels each part defines for the others, at their new addresses; then each
    // part checked as a source.
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::vector<SourceLine> lines = splitLines(texts[i]);
        const PartPlace& at = places[i];
        std::string text = texts[i];
        for (std::size_t n = lines.size(); n-- > at.elsewhere + 1;) {
            const std::string_view label = labelDefinedBy(lines[n].text);
            if (label.empty()) continue;
            const auto now = defined.find(std::string(label));
            const auto setpc = dis::setpcOf(lines[n - 1].text);
            if (now == defined.end() || !setpc || *setpc == now->second) continue;
            const std::uint32_t was = *setpc;
            text = replaceLine(text, lines[n - 1], dis::setpcLine(now->second));
            report.messages.push_back(parts[i].name + ":" + std::to_string(n) + ": " + (write ? "rewrote where " : "") +
                                      std::string(label) + (write ? " is, " : " is now at ") +
                                      (write ? dis::addressText(was) + ", as " : std::string()) +
                                      dis::addressText(now->second) + (write ? "" : ", not " + dis::addressText(was)) +
                                      " (another part defines it)");
            report.holds = report.holds && write;
        }
        bool refused = false;
        const CheckReport checked = checkText(text, parts[i].name, includes, write, 0, refused, &defined);
        for (const std::string& m : checked.messages) report.messages.push_back(m);
        report.holds = report.holds && checked.holds;
        const std::string& now = checked.rewritten ? checked.text : text;
        if (write && now != parts[i].text) report.changed.push_back({parts[i].name, now});
    }
    return report;
}

}  // namespace korvane
