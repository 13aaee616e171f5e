// The model's statements (what the source writes at every offset) and the queries the
// library offers on it.
#include <algorithm>

#include "disasm/model/model.h"

namespace korvane {

namespace {

using namespace dis;

// Statements of data: at most this many values on one line.
constexpr std::size_t kValuesPerLine = 4;
// Runs of 0xFF at least this long become PAD; printable runs at least this long, strings.
constexpr std::size_t kPadRun = 32;
constexpr std::size_t kStringRun = 4;
constexpr std::size_t kStringMost = 256;

}  // namespace

namespace dis {

const KnownForms& known() {
    static const KnownForms k = [] {
        using sh2::Arg;
        auto form = [](std::string_view m, Arg a0, Arg a1) { return sh2::FormSet(m).find(a0, a1); };
        KnownForms f{};
        f.mova = form("MOVA", Arg::AtDispPc, Arg::R0);
        f.movRR = form("MOV", Arg::Rm, Arg::Rn);
        f.movImm = form("MOV", Arg::SImm, Arg::Rn);
        f.addRR = form("ADD", Arg::Rm, Arg::Rn);
        f.addImm = form("ADD", Arg::SImm, Arg::Rn);
        f.extuB = form("EXTU.B", Arg::Rm, Arg::Rn);
        f.extuW = form("EXTU.W", Arg::Rm, Arg::Rn);
        f.shll = form("SHLL", Arg::Rn, Arg::None);
        f.shll2 = form("SHLL2", Arg::Rn, Arg::None);
        f.loadR0[0] = form("MOV.B", Arg::AtR0Rm, Arg::Rn);
        f.loadR0[1] = form("MOV.W", Arg::AtR0Rm, Arg::Rn);
        f.loadR0[2] = form("MOV.L", Arg::AtR0Rm, Arg::Rn);
        f.cmpHi = form("CMP/HI", Arg::Rm, Arg::Rn);
        f.cmpGt = form("CMP/GT", Arg::Rm, Arg::Rn);
        f.cmpHs = form("CMP/HS", Arg::Rm, Arg::Rn);
        f.cmpGe = form("CMP/GE", Arg::Rm, Arg::Rn);
        f.push = form("MOV.L", Arg::Rm, Arg::AtMinusRn);
        f.pushPr = form("STS.L", Arg::PR, Arg::AtMinusRn);
        f.pop = form("MOV.L", Arg::AtRmPlus, Arg::Rn);
        f.popPr = form("LDS.L", Arg::AtRmPlus, Arg::PR);
        f.ldsPr = form("LDS", Arg::Rm, Arg::PR);
        f.nopWord = sh2::encode(*sh2::FormSet("NOP").only(), {});
        return f;
    }();
    return k;
}

}  // namespace dis

void Model::Data::indexTables() {
    tableIndex.clear();
    tableSpans.clear();
    for (std::size_t i = 0; i < tables.size(); ++i) {
        std::uint32_t off;
        inImage(tables[i].address, off);
        tableIndex.emplace(off, i);
        tableSpans.push_back({off, off + tables[i].count * tables[i].width, 0, i});
    }
    std::sort(tableSpans.begin(), tableSpans.end(),
              [](const Span& a, const Span& b) { return a.start < b.start; });
    std::uint32_t reach = 0;
    for (Span& s : tableSpans) s.reach = reach = std::max(reach, s.end);
}

const Table* Model::Data::tableHolding(std::uint32_t off, std::uint32_t& entry) const {
    if (!(flags[off] & F_TABLE)) return nullptr;
    // The nearest start at or before off whose table reaches past it; tables seldom
    // nest, so the walk back from the binary search's place stops at once.
    auto it = std::upper_bound(tableSpans.begin(), tableSpans.end(), off,
                               [](std::uint32_t o, const Span& s) { return o < s.start; });
    while (it != tableSpans.begin()) {
        --it;
        if (it->reach <= off) break;
        if (off < it->end) {
            const Table& t = tables[it->table];
            entry = it->start + ((off - it->start) / t.width) * t.width;
            return &t;
        }
    }
    return nullptr;
}

Model::Data::Statement Model::Data::statementAt(std::uint32_t off) const {
    const std::uint16_t f = flags[off];
    if (f & F_CODE) {
        const sh2::Decoded d = *sh2::decode(word(off));
        if (f & F_SLOTPC) return {Kind::SlotLoad, off, 2, false, 0, d};
        const bool refers = d.form->reach != sh2::Reach::None;
        return {Kind::Instruction, off, 2, refers,
                refers ? sh2::targetOf(*d.form, d.fields, address(off)) : 0, d};
    }
    if (f & F_TABLE) {
        std::uint32_t entry = off;
        if (const Table* t = tableHolding(off, entry); t && entry == off) {
            const bool refers = !t->relative;
            const std::uint32_t v = t->width == 4 ? longAt(off) : 0;
            return {Kind::TableEntry, off, t->width, refers, refers ? v : 0};
        }
    }
    // Data runs to the next instruction or label; each kind looks only as far ahead
    // as its own statement can reach.
    auto room = [&](std::uint32_t most) {
        std::uint32_t n = 1;
        while (n < most && off + n < size() && !boundary(off + n)) ++n;
        return n;
    };
    auto literal = [&](std::uint32_t o) { return (flags[o] & (F_LITL | F_LITW | F_PTR)) != 0; };
    if ((f & (F_LITL | F_PTR)) && room(4) >= 4) {
        const bool sym = (f & F_PTR) != 0;
        return {Kind::Long, off, 4, sym, sym ? longAt(off) : 0};
    }
    if ((f & F_LITW) && room(2) >= 2) return {Kind::Word, off, 2, false, 0};
    const std::uint32_t a = address(off);
    if (const std::uint8_t shape = more[off] & G_SHAPE) {  // as the user wants it written
        const std::uint32_t reach = room(shape == G_TEXT ? kStringMost : 4 * kValuesPerLine);
        std::uint32_t n = 1;
        while (n < reach && (more[off + n] & G_SHAPE) == shape && !literal(off + n)) ++n;
        if (shape == G_TEXT) {
            std::uint32_t k = 0;
            while (k < n && image[off + k] >= 0x20 && image[off + k] < 0x7F && image[off + k] != '"') ++k;
            return k ? Statement{Kind::String, off, k, false, 0} : Statement{Kind::Byte, off, 1, false, 0};
        }
        if (shape == G_LONGS && (a & 3) == 0 && n >= 4) return {Kind::Long, off, n & ~3u, false, 0};
        if (shape != G_BYTES && (a & 1) == 0 && n >= 2)
            return {Kind::Word, off, std::min<std::uint32_t>(n & ~1u, 2 * kValuesPerLine), false, 0};
        return {Kind::Byte, off, shape == G_BYTES ? std::min<std::uint32_t>(n, kValuesPerLine) : 1u, false, 0};
    }
    // A long run of 0xFF, where PAD can reach its end without passing 2^32.
    std::uint32_t n = 0;
    while (off + n < size() && image[off + n] == 0xFF && (n == 0 || !boundary(off + n)) &&
           !literal(off + n))
        ++n;
    if (n >= kPadRun) {
        const std::uint64_t top = 0xFFFFFFFFull - address(off);
        if (n > top) n = static_cast<std::uint32_t>(top);
        if (n >= kPadRun) return {Kind::Pad, off, n, false, 0};
    }
    // Printable text (no quote, which a string cannot hold).
    const std::uint32_t textRoom = room(kStringMost);
    n = 0;
    while (n < textRoom && image[off + n] >= 0x20 && image[off + n] < 0x7F && image[off + n] != '"' &&
           (n == 0 || !literal(off + n)))
        ++n;
    if (n >= kStringRun) return {Kind::String, off, n, false, 0};
    // Numbers in the widest unit the address allows.
    const std::uint32_t numbers = room(4 * kValuesPerLine);
    if ((a & 3) == 0 && numbers >= 4) {
        std::uint32_t len = 4;
        while (len + 4 <= numbers && !literal(off + len)) len += 4;
        return {Kind::Long, off, len, false, 0};
    }
    if ((a & 1) == 0 && numbers >= 2) return {Kind::Word, off, 2, false, 0};
    return {Kind::Byte, off, 1, false, 0};
}

std::string_view evidenceText(Evidence why) {
    switch (why) {
        case Evidence::Entry:
            return "an entry";
        case Evidence::Vector:
            return "a vector or header names it";
        case Evidence::Branch:
            return "a branch target";
        case Evidence::Call:
            return "called";
        case Evidence::Jump:
            return "a jump through a known register";
        case Evidence::SwitchCase:
            return "a jump table's case";
        case Evidence::Literal:
            return "a literal";
        case Evidence::Mova:
            return "named by MOVA";
        case Evidence::Table:
            return "a table";
        case Evidence::Pointer:
            return "a pointer names it";
        case Evidence::PointerTable:
            return "a table of pointers names it";
        case Evidence::Prologue:
            return "no path reaches it; its prologue's saves match the restores before its return";
        case Evidence::Leaf:
            return "no path reaches it; the gap decodes as whole routines, each with the pool it reads";
        case Evidence::Forced:
            return "forced code";
        case Evidence::Named:
            return "named by the user";
    }
    return "";
}

const std::vector<std::uint32_t>& Model::Data::statements() const {
    if (statementStarts.empty() && size() > 0) {
        for (std::uint32_t off = 0; off < size(); off += statementAt(off).size) statementStarts.push_back(off);
    }
    return statementStarts;
}

std::optional<Item> Model::itemAt(std::uint32_t address) const {
    std::uint32_t off;
    if (!d_->inImage(address, off)) return std::nullopt;
    const std::vector<std::uint32_t>& starts = d_->statements();
    const std::uint32_t p = *std::prev(std::upper_bound(starts.begin(), starts.end(), off));
    const Model::Data::Statement s = d_->statementAt(p);
    const auto& flags = d_->flags;
    ItemKind kind = ItemKind::Data;
    using K = Model::Data::Kind;
    if (s.kind == K::TableEntry) {
        kind = ItemKind::Table;
    } else if ((s.kind == K::Long || s.kind == K::Word) && (flags[p] & (F_LITL | F_LITW))) {
        kind = ItemKind::Literal;
    } else if (s.kind == K::String) {
        kind = ItemKind::String;
    } else if (s.kind == K::Pad) {
        kind = ItemKind::Padding;
    } else if (s.kind == K::Instruction || s.kind == K::SlotLoad) {
        kind = ItemKind::Instruction;
    }
    return Item{kind, d_->address(p), s.size};
}

std::optional<ItemKind> Model::kindAt(std::uint32_t address) const {
    const auto item = itemAt(address);
    if (!item) return std::nullopt;
    return item->kind;
}

bool Model::inDelaySlot(std::uint32_t address) const {
    std::uint32_t off;
    return d_->inImage(address, off) && (d_->flags[off] & (F_CODE | F_SLOT)) == (F_CODE | F_SLOT);
}

std::optional<Evidence> Model::labelAt(std::uint32_t address) const {
    std::uint32_t off;
    if (!d_->inImage(address, off) || !(d_->flags[off] & F_LABEL)) return std::nullopt;
    return d_->reasonAt(off);
}

std::vector<std::uint32_t> Model::labels() const {
    std::vector<std::uint32_t> out;
    for (std::uint32_t off = 0; off < d_->size(); ++off) {
        if (d_->flags[off] & F_LABEL) out.push_back(d_->address(off));
    }
    return out;
}

const std::vector<Reference>& Model::Data::references() const {
    if (allRefsMade) return allRefs;
    allRefs = refs;
    for (std::uint32_t off = 0; off + 1 < size(); off += 2) {
        if ((flags[off] & (F_CODE | F_SLOTPC)) != F_CODE) continue;
        const sh2::Decoded d = *sh2::decode(word(off));
        const sh2::Form& f = *d.form;
        if (f.reach == sh2::Reach::None) continue;
        RefKind kind = RefKind::Load;
        if (f.reach == sh2::Reach::Branch8 || f.reach == sh2::Reach::Branch12) {
            kind = (f.flow & sh2::FlowCall) ? RefKind::Call : RefKind::Branch;
        } else if (&f == known().mova) {
            kind = RefKind::Mova;
        }
        allRefs.push_back({address(off), sh2::targetOf(f, d.fields, address(off)), kind});
    }
    std::sort(allRefs.begin(), allRefs.end(), [](const Reference& a, const Reference& b) {
        return a.from != b.from ? a.from < b.from : a.to < b.to;
    });
    refsByTarget = allRefs;
    std::stable_sort(refsByTarget.begin(), refsByTarget.end(),
                     [](const Reference& a, const Reference& b) { return a.to < b.to; });
    allRefsMade = true;
    return allRefs;
}

const std::vector<Reference>& Model::references() const {
    return d_->references();
}

std::vector<Reference> Model::referencesFrom(std::uint32_t address) const {
    std::vector<Reference> out;
    const std::vector<Reference>& refs = d_->references();
    auto it = std::lower_bound(refs.begin(), refs.end(), address,
                               [](const Reference& r, std::uint32_t a) { return r.from < a; });
    for (; it != refs.end() && it->from == address; ++it) out.push_back(*it);
    return out;
}

std::vector<Reference> Model::referencesTo(std::uint32_t address) const {
    d_->references();
    const auto& refs = d_->refsByTarget;
    auto it = std::lower_bound(refs.begin(), refs.end(), address,
                               [](const Reference& r, std::uint32_t a) { return r.to < a; });
    std::vector<Reference> out;
    for (; it != refs.end() && it->to == address; ++it) out.push_back(*it);
    return out;
}

const std::vector<Table>& Model::tables() const {
    return d_->tables;
}

const Table* Model::tableAt(std::uint32_t address) const {
    std::uint32_t off;
    if (!d_->inImage(address, off)) return nullptr;
    return d_->tableStarting(off);
}

std::vector<Function> Model::functions() const {
    std::vector<std::uint32_t> starts;
    for (const auto& [off, why] : d_->functionWhy) starts.push_back(off);
    std::sort(starts.begin(), starts.end());
    std::vector<Function> out;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const std::uint32_t next = i + 1 < starts.size() ? starts[i + 1] : d_->size();
        std::uint32_t end = starts[i];
        for (std::uint32_t p = starts[i]; p < next; ++p) {
            if (d_->flags[p] & F_CODE) end = p + 2;
        }
        out.push_back({d_->address(starts[i]), d_->address(end), d_->functionWhy.at(starts[i]), {}});
    }
    for (const Reference& r : d_->references()) {
        if (r.kind != RefKind::Call) continue;
        const auto it = std::lower_bound(out.begin(), out.end(), r.to,
                                         [](const Function& f, std::uint32_t a) { return f.start < a; });
        if (it != out.end() && it->start == r.to) it->callers.push_back(r.from);
    }
    return out;
}

std::size_t Model::instructionCount() const {
    return d_->instructions;
}

}  // namespace korvane
