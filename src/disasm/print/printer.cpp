// The source text of a model: statement by statement in this assembler's own forms,
// each with its address and bytes in a comment; what the analysis knows beyond the
// statement (what a delay slot's load reads, a table entry's target, a register's
// name, why code no path reaches was taken as code) in the comment as well.
#include "disasm/print/printer.h"

#include <charconv>
#include <cstring>

#include "disasm/grammar/annotations.h"
#include "disasm/print/text.h"
#include "files/names.h"

namespace korvane::dis {

namespace {

using Kind = Model::Data::Kind;
using Statement = Model::Data::Statement;

constexpr std::size_t kCommentColumn = 40;

}  // namespace

namespace {

// Every form's mnemonic padded with blanks to 8 characters (none is longer than 7).
struct Padded {
    char text[8];
};
const std::vector<Padded>& paddedMnemonics() {
    static const std::vector<Padded> table = [] {
        std::vector<Padded> v;
        for (const sh2::Form& f : sh2::forms()) {
            Padded p;
            std::memset(p.text, ' ', sizeof p.text);
            std::memcpy(p.text, f.mnemonic.data(), std::min<std::size_t>(f.mnemonic.size(), 7));
            v.push_back(p);
        }
        return v;
    }();
    return table;
}

}  // namespace

void Printer::mnemonic(Text& t, std::string_view m) const {
    if (m.size() < 8) {
        char padded[8];
        std::memset(padded, ' ', sizeof padded);
        std::memcpy(padded, m.data(), m.size());
        t.put8(padded);
        return;
    }
    t.put(m);
    t.put(' ');
}

void Printer::mnemonic(Text& t, const sh2::Form& f) const {
    t.put8(paddedMnemonics()[static_cast<std::size_t>(&f - sh2::forms().data())].text);
}

namespace {

constexpr std::size_t kWords = 1 << 16;
constexpr std::size_t kInstructionColumn = 12;

// Text of an instruction's operands in a small buffer, as Text writes them; an operand
// that names an address makes it unfit to be kept.
struct LineText {
    char text[48];
    std::size_t size = 0;
    bool fit = true;
    void put(char c) {
        if (size < sizeof text) text[size++] = c;
        else fit = false;
    }
    void put(std::string_view v) {
        for (char c : v) put(c);
    }
    void dec(std::int64_t v) {
        char digits[24];
        const auto r = std::to_chars(digits, digits + sizeof digits, v);
        put(std::string_view(digits, static_cast<std::size_t>(r.ptr - digits)));
    }
    void label(std::uint32_t, char = 'L') { fit = false; }
};

}  // namespace

const Printer::Line& Printer::lineOf(std::uint16_t word, const sh2::Decoded& d) const {
    if (lines_.empty()) lines_.assign(kWords);
    Line& line = lines_[word];
    if (line.made != 0) return line;
    LineText t;
    t.put(std::string_view(paddedMnemonics()[static_cast<std::size_t>(d.form - sh2::forms().data())].text, 8));
    operands(t, d, 0);
    // Padded as Text::column pads to the comment's column.
    const std::size_t width = kCommentColumn - kInstructionColumn;
    if (!t.fit || t.size >= width) {
        line.made = 2;
        return line;
    }
    std::memcpy(line.text, t.text, t.size);
    std::memset(line.text + t.size, ' ', width - t.size);
    line.made = 1;
    return line;
}

// A label where the image has one, the address otherwise.
// What a relative entry counts from: its own B label where the base is also an
// aligned item, the label of the address otherwise.
void Printer::placeBase(Text& t, std::uint32_t address) const {
    std::uint32_t off;
    if (d_.inImage(address, off) && d_.baseOfItsOwn(off)) {
        t.label(address, 'B');
        return;
    }
    place(t, address);
}

void Printer::place(Text& t, std::uint32_t address) const {
    std::uint32_t off;
    if (d_.inImage(address, off) && (d_.flags[off] & F_LABEL)) {
        t.label(address);
    } else {
        t.put('$');
        t.hex(address, 8);
    }
}

// "; AAAAAAAA BYTES" at column 40.
void Printer::comment(Text& t, std::size_t lineStart, const Statement& s) const {
    t.column(lineStart, kCommentColumn);
    commentText(t, s);
}

void Printer::commentText(Text& t, const Statement& s) const {
    note::writeAddress(t.reserve(note::kAddressWidth), d_.address(s.off));
    t.advance(note::kAddressWidth);
    if (s.kind == Kind::Pad) {
        t.put("FF x ");
        t.dec(s.size);
        return;
    }
    t.hexBytes(&d_.image[s.off], s.size);
}

// What code reads with MOV.L, names with MOVA or reads as a table of longs must stay
// 4-aligned, what it reads with MOV.W 2-aligned, when an edit moves the code before it
// (the model says which: alignmentWanted): ALIGN.L/ALIGN.W before such an item unless
// the statements since the last ALIGN keep it aligned. At the original addresses they
// add nothing.
void Printer::align(Text& t, const Statement& s, Alignment& aligned) const {
    const std::uint32_t a = d_.address(s.off);
    if (d_.baseOfItsOwn(s.off)) {  // before any fill the ALIGN adds
        t.label(a, 'B');
        t.put(':');
        t.endLine();
    }
    const unsigned wanted = d_.alignmentWanted(s.off);
    const bool wants4 = wanted == 4, wants2 = wanted == 2;
    if (wants4 && !aligned.four) {
        t.put("            ALIGN.L");
        t.endLine();
        aligned.four = aligned.two = true;
    } else if (wants2 && !aligned.two) {
        t.put("            ALIGN.W");
        t.endLine();
        aligned.two = true;
    }
    // What the statement leaves: its size keeps the alignment or breaks it; PAD ends at
    // its own address whatever came before.
    if (s.kind == Model::Data::Kind::Pad) {
        const std::uint32_t end = a + s.size;
        aligned.four = (end & 3) == 0;
        aligned.two = (end & 1) == 0;
        return;
    }
    aligned.four = aligned.four && s.size % 4 == 0;
    aligned.two = aligned.two && s.size % 2 == 0;
}

// Before a labelled statement: why code that no path reaches is code, what a table is.
void Printer::note(Text& t, const Statement& s) const {
    if (const Table* table = d_.tableStarting(s.off)) {
        t.put("; ");
        using TableKind = Model::Data::TableKind;
        const TableKind kind = d_.tableKind(*table);
        if (kind == TableKind::CodePointers) {
            t.put("a table of ");
            t.dec(table->count);
            t.put(" code pointers, used by the ");
            t.put(d_.calledThrough(*table) ? "call" : "jump");
            t.put(" at $");
            t.hex(table->jump, 8);
            if (table->open) t.put("; nothing bounds it: the entries that point at code");
        } else if (kind == TableKind::Pointers) {
            t.put("a table of ");
            t.dec(table->count);
            t.put(" pointers");
        } else if (kind == TableKind::Declared) {
            t.put("a table of ");
            t.dec(table->count);
            t.put(table->relative ? " offsets" : " addresses");
            t.put(" (from the info file)");
        } else if (kind == TableKind::UnknownLength) {
            t.put("a jump table of unknown length, used by the jump at $");
            t.hex(table->jump, 8);
        } else {
            const bool call = kind == TableKind::Calls;
            t.put(call ? "a table of calls: " : "a jump table: ");
            t.dec(table->count);
            t.put(table->relative ? " offsets of " : " addresses of ");
            t.dec(table->width);
            t.put(table->width == 1 ? " byte" : " bytes");
            if (table->relative) {
                t.put(" from ");
                placeBase(t, table->base);
            }
            t.put(call ? ", used by the call at $" : ", used by the jump at $");
            t.hex(table->jump, 8);
            if (table->open) t.put("; nothing bounds it: the entries up to its first case that give code");
        }
        t.endLine();
        return;
    }
    const Evidence reason = d_.reasonAt(s.off);
    if ((d_.flags[s.off] & F_CODE) && (reason == Evidence::Prologue || reason == Evidence::Leaf ||
                                        reason == Evidence::Vector || reason == Evidence::PointerTable ||
                                        reason == Evidence::Executed || reason == Evidence::OtherModule ||
                                        reason == Evidence::Stored)) {
        t.put("; code: ");
        t.put(evidenceText(reason));
        t.endLine();
    }
    if (const auto n = d_.noReturn.find(s.off); n != d_.noReturn.end() && (d_.flags[s.off] & F_CODE)) {
        t.put("; does not return: its caller's literals follow the call at $");
        t.hex(n->second, 8);
        t.endLine();
    }
}

// A literal that BRAF/BSRF adds to its address + 4: where it goes, in the fixed form
// a check works out again (-> TARGET (from BASE for BRAF), or for BSRF).
bool Printer::offsetNote(Text& t, const Statement& s) const {
    const auto it = d_.offsets.find(s.off);
    if (it == d_.offsets.end()) return false;
    std::uint32_t branch;
    const auto d = d_.inImage(it->second.base - 4, branch) ? sh2::decode(d_.word(branch)) : std::nullopt;
    note::writeRelative(
        t, [&] { place(t, it->second.target); }, [&] { placeBase(t, it->second.base); },
        d && (d->form->flow & sh2::FlowCall) ? note::User::Bsrf : note::User::Braf);
    return true;
}

// A pointer into the middle of an item, written as its number: which item and how far
// in (; inside LABEL+K), so that a reader and the check can follow it.
void Printer::insideNote(Text& t, std::uint32_t value) const {
    const auto item = d_.insideItem(value);
    if (!item) return;
    const std::uint32_t start = d_.address(*item);
    note::writeInside(t, [&] { place(t, start); }, value - start);
}

// What a 32-bit value is beyond its number: a register's name, another cache area's
// view of a label.
void Printer::valueNote(Text& t, std::uint32_t value) const {
    const std::string_view name = registerName(value, d_.thirtyTwoX);
    if (!name.empty()) {
        t.put(" ; ");
        t.put(name);
        return;
    }
    std::uint32_t off;
    if (d_.inImage(value, off)) return;
    if (const auto alias = d_.aliasOffset(value); alias && (d_.flags[*alias] & F_LABEL)) {
        t.put(" ; alias of ");
        t.label(d_.address(*alias));
    }
}

void Printer::statement(Text& t, const Statement& s) const {
    if (!d_.comments.empty()) {  // the user's, one "; " line each
        if (const auto it = d_.comments.find(d_.address(s.off)); it != d_.comments.end()) {
            std::string_view rest = it->second;
            while (!rest.empty()) {
                const std::size_t nl = rest.find('\n');
                t.put("; ");
                t.put(rest.substr(0, nl));
                t.endLine();
                rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
            }
        }
    }
    if (d_.flags[s.off] & F_LABEL) note(t, s);
    // Most instructions: a label-less line whose text up to the comment the word alone
    // decides, written once for each word.
    const std::uint16_t f = d_.flags[s.off];
    if (s.kind == Kind::Instruction && !(f & F_LABEL) && s.decoded.form->reach == sh2::Reach::None &&
        !((f & F_SLOT) && (s.decoded.form->flow & sh2::FlowSlotIllegal))) {
        const Line& line = lineOf(d_.word(s.off), s.decoded);
        if (line.made == 1) {
            char* out = t.reserve(kCommentColumn);
            std::memset(out, ' ', kInstructionColumn);
            std::memcpy(out + kInstructionColumn, line.text, kCommentColumn - kInstructionColumn);
            t.advance(kCommentColumn);
            commentText(t, s);
            t.endLine();
            return;
        }
    }
    const std::size_t lineStart = t.mark();
    if (d_.flags[s.off] & F_LABEL) {
        t.label(d_.address(s.off));
        t.put(':');
    }
    t.column(lineStart, 12);
    const std::uint32_t pc = d_.address(s.off);
    switch (s.kind) {
        case Kind::Instruction: {
            const sh2::Decoded& d = s.decoded;
            mnemonic(t, *d.form);
            operands(t, d, pc);
            comment(t, lineStart, s);
            if ((d_.flags[s.off] & F_SLOT) && (d.form->flow & sh2::FlowSlotIllegal))
                t.put(" (illegal in a delay slot)");
            break;
        }
        case Kind::SlotLoad: {
            // The assembler counts a displacement from the statement's own address, so
            // the word is written as its number with what it reads.
            mnemonic(t, "DC.W");
            t.put('$');
            t.hexTrim(d_.word(s.off));
            comment(t, lineStart, s);
            const sh2::Decoded& d = s.decoded;
            const auto it = d_.slotReads.find(s.off);
            const SlotRead r = it != d_.slotReads.end() ? it->second : SlotRead{};
            auto what = [&] {
                t.put(d.form->mnemonic);
                t.put(" @(disp,PC),");
                operand(t, d.form->args[1], d, pc);
            };
            note::writeSlotLoad(t, what, [&](std::uint32_t a) { place(t, a); }, r.taken, r.notTaken);
            break;
        }
        case Kind::TableEntry: {
            std::uint32_t entry = s.off;
            const Table* table = d_.tableHolding(s.off, entry);
            const std::uint32_t v = s.size == 1 ? d_.image[s.off] : s.size == 2 ? d_.word(s.off) : d_.longAt(s.off);
            mnemonic(t, s.size == 1 ? "DC.B" : s.size == 2 ? "DC.W" : "DC.L");
            if (s.refers) {
                t.label(v);
            } else {
                t.put('$');
                t.hexTrim(v);
            }
            comment(t, lineStart, s);
            if (d_.more[s.off] & G_INSIDE) insideNote(t, v);
            if (table && table->relative) {
                std::uint32_t first = 0;
                d_.inImage(table->address, first);
                const std::uint32_t i = (s.off - first) / table->width;
                note::writeRelative(
                    t, [&] { place(t, table->targets[i]); }, [&] { placeBase(t, table->base); }, note::User::Table);
            }
            break;
        }
        case Kind::Long:
            mnemonic(t, "DC.L");
            for (std::uint32_t i = 0; i < s.size; i += 4) {
                if (i) t.put(',');
                if (s.refers) {
                    t.label(s.target);
                } else {
                    t.put('$');
                    t.hexTrim(d_.longAt(s.off + i));
                }
            }
            comment(t, lineStart, s);
            if (d_.more[s.off] & G_INSIDE) insideNote(t, d_.longAt(s.off));
            if (s.size == 4 && (d_.flags[s.off] & F_LITL)) {
                if (!offsetNote(t, s)) valueNote(t, d_.longAt(s.off));
            }
            if (d_.more[s.off] & G_CONST) note::writeConstant(t);
            break;
        case Kind::Word:
            mnemonic(t, "DC.W");
            for (std::uint32_t i = 0; i < s.size; i += 2) {
                if (i) t.put(',');
                t.put('$');
                t.hexTrim(d_.word(s.off + i));
            }
            comment(t, lineStart, s);
            if (s.size > 2) break;  // words the user declared
            if (sh2::decode(d_.word(s.off)) && (d_.flags[s.off] & (F_LITW | F_LITL)) == 0) {
                decodedMeaning(t, s);
            } else {
                offsetNote(t, s);
            }
            break;
        case Kind::Byte:
            mnemonic(t, "DC.B");
            for (std::uint32_t i = 0; i < s.size; ++i) {
                if (i) t.put(',');
                t.put('$');
                t.hexTrim(d_.image[s.off + i]);
            }
            comment(t, lineStart, s);
            break;
        case Kind::String:
            mnemonic(t, "DC.B");
            t.put('"');
            t.put(std::string_view(reinterpret_cast<const char*>(&d_.image[s.off]), s.size));
            t.put('"');
            comment(t, lineStart, s);
            break;
        case Kind::Pad:
            mnemonic(t, "PAD");
            t.put('$');
            t.hexTrim(pc + s.size);
            comment(t, lineStart, s);
            break;
    }
    if (s.kind != Kind::Instruction && s.kind != Kind::SlotLoad && s.kind != Kind::TableEntry) unknownNotes(t, s);
    t.endLine();
}

// What stays unknown about a statement of data: what its words would reach if it were
// code, what a table of unknown length starting there would reach, the pointer a
// literal may be.
void Printer::unknownNotes(Text& t, const Statement& s) const {
    auto at = [&](std::uint32_t a) { place(t, a); };
    if (const auto would = d_.wouldBeIn(s.off, s.size); !would.empty()) {
        struct Ref {
            std::string_view mnemonic;
            std::uint32_t target, offset;
            bool load;
        };
        std::vector<Ref> refs;
        for (const Model::Data::WouldBe& w : would) {
            const bool load = w.form->reach == sh2::Reach::PcWord || w.form->reach == sh2::Reach::PcLong;
            refs.push_back({w.form->mnemonic, w.target, w.at - s.off, load});
        }
        note::writeIfCode(t, refs, at);
    }
    if (const Table* table = d_.tableStarting(s.off); table && table->count == 0 && !table->targets.empty())
        note::writeOpenTable(t, table->width, [&] { placeBase(t, table->base); }, table->targets, at);
    if ((d_.more[s.off] & G_MAYBE) && s.kind == Kind::Long && s.size == 4) {
        const std::uint32_t v = d_.longAt(s.off);
        const auto item = d_.insideItem(v);
        const std::uint32_t start = item ? d_.address(*item) : v;
        note::writeMaybePointer(t, [&] { place(t, start); }, v - start);
    }
}

// After a data word that is an instruction: what it would be, for the reader.
void Printer::decodedMeaning(Text& t, const Statement& s) const {
    const sh2::Decoded d = *sh2::decode(d_.word(s.off));
    t.put(" (");
    t.put(d.form->mnemonic);
    if ((d_.address(s.off) & 1) == 0 && d.form->reach == sh2::Reach::None && d.form->args[0] != Arg::None) {
        t.put(' ');
        operands(t, d, d_.address(s.off));
    }
    t.put(')');
}

void Printer::header(Text& t, std::uint32_t begin, std::uint32_t end, bool top) const {
    rebuild(t);
    const auto first = std::lower_bound(d_.unknownAt.begin(), d_.unknownAt.end(), begin);
    const auto last = std::lower_bound(first, d_.unknownAt.end(), end);
    t.put("; unknowns: ");
    t.dec(static_cast<std::int64_t>(last - first));
    t.put(top ? " in the parts (korvane-dis --check PART --unknowns lists a part's)\n"
              : " (korvane-dis --check SOURCE --unknowns lists them)\n");
    for (const std::string& note : options_.notes) {
        t.put("; ");
        t.put(note);
        t.put('\n');
    }
}

void Printer::rebuild(Text& t) const {
    t.put(kDisassemblyHeader);
    t.put(options_.imageName);
    t.put('\n');
    t.fingerprintLine();
    t.put("; ");
    t.dec(d_.size());
    t.put(" bytes at $");
    t.hex(d_.address(0), 8);
    if (files_.size() == 1) {
        t.put(". Rebuild in the directory of this file: korvane ");
        t.put(shellWord(files_[0]));
        t.put("\n; the result is ");
        t.put(resultName());
        t.put(", the image byte for byte.\n");
        return;
    }
    t.put(" in ");
    t.dec(static_cast<std::int64_t>(files_.size()));
    t.put(" sources. Rebuild in the directory of these files, in this order\n");
    t.put("; (INCBIN names are relative to the working directory):");
    for (std::size_t i = 0; i < files_.size(); ++i) {
        t.put(i ? ", then\n;   korvane " : "\n;   korvane ");
        t.put(shellWord(files_[i]));
    }
    t.put("\n; the result is ");
    t.put(resultName());
    t.put(", the image byte for byte. \"included file ");
    t.put(binOf(files_[0]));
    t.put(" is empty\"\n; there means that a part was not assembled in that directory first.\n");
}

std::string Printer::binOf(const std::string& source) {
    return baseName(source) + ".bin";
}

std::string Printer::resultName() const {
    return binOf(files_.back());
}

bool Printer::writePart(SourceOutput& out, std::size_t part, std::uint32_t begin, std::uint32_t end,
                        bool whole, std::uint64_t& fingerprint) const {
    const std::string& name = files_[part];
    if (!out.open(name)) return false;
    Text t(out, &d_.names);
    header(t, begin, end, false);
    t.put("            SETPC   $");
    t.hex(d_.address(begin), 8);
    t.put('\n');
    std::vector<std::uint32_t> elsewhere;  // labels this part uses and defines at its end
    Alignment aligned;
    for (std::uint32_t off = begin; off < end;) {
        if (off != begin && d_.segmentStart(off)) {
            t.put("            SETPC   $");
            t.hex(d_.address(off), 8);
            t.endLine();
            aligned = {};
        }
        const Statement s = d_.statementAt(off);
        align(t, s, aligned);
        statement(t, s);
        if (s.refers) {
            std::uint32_t to;
            if (!d_.inImage(s.target, to) || to < begin || to >= end) elsewhere.push_back(s.target);
        }
        off += s.size;
    }
    // The image's end: the places after it that the program uses, which an edit must
    // not grow it over.
    if (end == d_.size()) {
        for (const UsedAfter& u : Model(d_).usedAfter()) note::writeAfterImage(t, u);
    }
    std::sort(elsewhere.begin(), elsewhere.end());
    elsewhere.erase(std::unique(elsewhere.begin(), elsewhere.end()), elsewhere.end());
    if (!elsewhere.empty()) {
        t.put(whole ? kOutsideLine : kElsewhereLine);
        t.put('\n');
    }
    for (const std::uint32_t a : elsewhere) {
        t.put(kSetpcLead);
        t.hex(a, 8);
        t.endLine();
        t.label(a);
        t.put(':');
        t.endLine();
    }
    if (!t.finish()) return false;
    fingerprint = t.fingerprint();
    return out.close();
}

bool Printer::writePart(SourceOutput& out, const std::vector<std::uint32_t>& partStart, std::size_t i,
                        std::uint64_t& fingerprint) const {
    const std::size_t parts = partStart.size();
    const std::uint32_t end = i + 1 < parts ? partStart[i + 1] : d_.size();
    return writePart(out, i, partStart[i], end, parts == 1, fingerprint);
}

bool Printer::write(SourceOutput& out, const std::vector<std::uint32_t>& partStart) const {
    std::vector<std::uint64_t> printed(partStart.size());
    for (std::size_t i = 0; i < partStart.size(); ++i) {
        if (!writePart(out, partStart, i, printed[i])) return false;
    }
    return partStart.size() == 1 || writeTop(out, printed);
}

bool Printer::writeTop(SourceOutput& out, const std::vector<std::uint64_t>& printed) const {
    const std::string& top = files_.back();
    if (!out.open(top)) return false;
    Text t(out);
    header(t, 0, d_.size(), true);
    // The parts as this run wrote them: a set that a stopped run left mixed is told by these.
    for (std::size_t i = 0; i < printed.size(); ++i) note::writePart(t, printed[i], files_[i]);
    for (std::size_t i = 0; i + 1 < files_.size(); ++i) {
        t.put("            INCBIN  \"");
        t.put(binOf(files_[i]));
        t.put("\"");
        t.endLine();
    }
    return t.finish() && out.close();
}

}  // namespace korvane::dis
