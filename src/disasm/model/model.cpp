// The model's statements (what the source writes at every offset) and the queries the
// library offers on it.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>

#if defined(__unix__)
#include <sys/mman.h>
#endif

#include "disasm/grammar/grammar.h"
#include "disasm/model/model.h"

namespace korvane {

namespace dis {

namespace {
constexpr std::size_t kLargePage = std::size_t{2} << 20;
}

// Large blocks are whole large pages, aligned to them, so that each large page the marks
// touch is one fault rather than 512.
void* zeroedBlock(std::size_t bytes) {
#if defined(__unix__) && defined(MADV_HUGEPAGE)
    if (bytes >= kLargePage) {
        const std::size_t whole = (bytes + kLargePage - 1) & ~(kLargePage - 1);
        void* p = ::mmap(nullptr, whole + kLargePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        char* const start = static_cast<char*>(p);
        const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(start);
        char* const aligned = start + (((at + kLargePage - 1) & ~(kLargePage - 1)) - at);
        if (aligned > start) ::munmap(start, static_cast<std::size_t>(aligned - start));
        if (const std::size_t tail = static_cast<std::size_t>(start + whole + kLargePage - (aligned + whole)))
            ::munmap(aligned + whole, tail);
        ::madvise(aligned, whole, MADV_HUGEPAGE);  // a hint: without it, small pages
        return aligned;
    }
#endif
    void* p = std::calloc(bytes, 1);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

void releaseBlock(void* p, std::size_t bytes) {
    if (p == nullptr) return;
#if defined(__unix__) && defined(MADV_HUGEPAGE)
    if (bytes >= kLargePage) {
        ::munmap(p, (bytes + kLargePage - 1) & ~(kLargePage - 1));
        return;
    }
#endif
    std::free(p);
}

}  // namespace dis

namespace {

using namespace dis;

// Statements of data: at most this many values on one line.
constexpr std::size_t kValuesPerLine = 4;
// Runs of 0xFF at least this long become PAD; printable runs at least this long, strings.
constexpr std::size_t kPadRun = 32;
constexpr std::size_t kStringRun = 4;
constexpr std::size_t kStringMost = 256;

}  // namespace


void Model::Data::indexTableStarts() {
    tableIndex.clear();
    for (std::size_t i = 0; i < tables.size(); ++i) {
        std::uint32_t off;
        if (inImage(tables[i].address, off)) tableIndex.emplace(off, i);
    }
}

bool Model::Data::cutTable(std::uint32_t off, bool splitEntry) {
    if (!(flags[off] & F_TABLE)) return false;
    for (std::size_t i = 0; i < tables.size(); ++i) {
        std::uint32_t start;
        Table& t = tables[i];
        if (t.count == 0 || !inImage(t.address, start) || off <= start || off >= start + t.count * t.width) continue;
        const std::uint32_t e = (off - start) / t.width, entry = start + e * t.width;
        const bool whole = entry == off;  // the label stands before the entry
        const bool none = e == 0;          // no entry stays before the cut
        if (!whole && !splitEntry) return false;
        Table rest = t;
        rest.address = address(whole ? entry : entry + t.width);
        rest.count = t.count - e - (whole ? 0 : 1);
        rest.targets.clear();
        const std::uint32_t from = whole ? e : e + 1;
        if (t.targets.size() > from) rest.targets.assign(t.targets.begin() + from, t.targets.end());
        if (t.targets.size() > e) t.targets.resize(e);
        t.count = e;
        t.open = false;  // the cut bounds it
        if (!whole) {  // the entry's bytes become data, its value a number
            for (std::uint32_t b = entry; b < entry + rest.width; ++b) flags[b] &= static_cast<std::uint16_t>(~(F_TABLE | F_PTR));
            more[entry] &= static_cast<std::uint8_t>(~G_INSIDE);
            pointerWhy.erase(entry);
            const std::uint32_t a = address(entry);
            std::erase_if(refs, [a](const Reference& r) {
                return r.from == a && (r.kind == RefKind::Pointer || r.kind == RefKind::TableEntry);
            });
        }
        std::uint32_t restOff;
        inImage(rest.address, restOff);
        if (rest.count != 0) {
            label(restOff, Evidence::Table);
            tables.insert(tables.begin() + static_cast<std::ptrdiff_t>(i) + 1, std::move(rest));
        }
        if (none) tables.erase(tables.begin() + static_cast<std::ptrdiff_t>(i));
        indexTableStarts();
        return true;
    }
    return false;
}

void Model::Data::cutTablesAtLabels() {
    std::vector<std::uint32_t> cuts;
    for (const Table& t : tables) {
        std::uint32_t start;
        if (t.count == 0 || !inImage(t.address, start)) continue;
        for (std::uint32_t b = start + 1; b < start + t.count * t.width; ++b) {
            // (A label before an entry is written there; a pointer's label inside an entry
            // stays unwritten: the pointer is a number, with the entry it points into.)
            const bool pointer = reasonAt(b) == Evidence::Pointer || reasonAt(b) == Evidence::PointerTable;
            if ((flags[b] & F_LABEL) && (b - start) % t.width != 0 && !pointer) cuts.push_back(b);
        }
    }
    for (const std::uint32_t off : cuts) cutTable(off, true);
    indexTables();
    if (cuts.empty()) return;
    for (const Reference& r : refs) {
        std::uint32_t from, to;
        if ((r.kind != RefKind::Pointer && r.kind != RefKind::TableEntry) || !inImage(r.from, from) ||
            !(more[from] & G_INSIDE) || !inImage(r.to, to) || insideItem(r.to) || !labelFits(to))
            continue;
        more[from] &= static_cast<std::uint8_t>(~G_INSIDE);
        label(to, Evidence::Pointer, r.from);
    }
}

void Model::Data::indexTables() {
    indexTableStarts();
    tableSpans.clear();
    for (std::size_t i = 0; i < tables.size(); ++i) {
        std::uint32_t off;
        inImage(tables[i].address, off);
        tableSpans.push_back({off, off + tables[i].count * tables[i].width, 0, i});
    }
    std::sort(tableSpans.begin(), tableSpans.end(),
              [](const Span& a, const Span& b) { return a.start < b.start; });
    std::uint32_t reach = 0;
    for (Span& s : tableSpans) s.reach = reach = std::max(reach, s.end);
    pathSpans.clear();
    for (std::size_t i = 0; i < paths.size(); ++i) pathSpans.push_back({paths[i].start, paths[i].end, 0, i});
    std::sort(pathSpans.begin(), pathSpans.end(), [](const Span& a, const Span& b) { return a.start < b.start; });
    reach = 0;
    for (Span& s : pathSpans) s.reach = reach = std::max(reach, s.end);
}


namespace {

// The span with the nearest start at or before off that reaches past it (spans seldom
// nest, so the walk back from the binary search's place stops at once), or null.
const Model::Data::Span* holding(const std::vector<Model::Data::Span>& spans, std::uint32_t off) {
    auto it = std::upper_bound(spans.begin(), spans.end(), off,
                               [](std::uint32_t o, const Model::Data::Span& s) { return o < s.start; });
    while (it != spans.begin()) {
        --it;
        if (it->reach <= off) break;
        if (off < it->end) return &*it;
    }
    return nullptr;
}

}  // namespace

const Table* Model::Data::tableHolding(std::uint32_t off, std::uint32_t& entry) const {
    if (!(flags[off] & F_TABLE)) return nullptr;
    const Span* span = holding(tableSpans, off);
    if (span == nullptr) return nullptr;
    const Table& t = tables[span->index];
    entry = span->start + ((off - span->start) / t.width) * t.width;
    return &t;
}

std::optional<std::size_t> Model::Data::pathHolding(std::uint32_t off) const {
    const Span* span = holding(pathSpans, off);
    return span != nullptr ? std::optional<std::size_t>(span->index) : std::nullopt;
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
            const std::uint32_t v = t->width == 4 ? longAt(off) : 0;
            const bool refers = !t->relative && !(more[off] & G_INSIDE) && named(v);
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
    // Literals, pointers and longs that may be pointers stand alone (each with its note).
    auto literal = [&](std::uint32_t o) { return (flags[o] & (F_LITL | F_LITW | F_PTR)) != 0 || (more[o] & dis::G_MAYBE); };
    if (((f & (F_LITL | F_PTR)) || (more[off] & dis::G_MAYBE)) && room(4) >= 4) {
        const bool sym = (f & F_PTR) != 0 && !(more[off] & G_INSIDE) && named(longAt(off));
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
        case Evidence::Unsettled:
            return "what an unknown would reach";
        case Evidence::Executed:
            return "executed (an execution trace saw it run)";
        case Evidence::OtherModule:
            return "another module calls or jumps here (its info file)";
        case Evidence::Stored:
            return "a stored function pointer: a literal stored to memory names it, and its prologue's saves match "
                   "the restores";
    }
    return "";
}

const std::vector<std::uint32_t>& Model::Data::statements() const {
    if (statementStarts.empty() && size() > 0) {
        for (std::uint32_t off = 0; off < size(); off += (flags[off] & F_CODE) ? 2 : statementAt(off).size)
            statementStarts.push_back(off);
    }
    return statementStarts;
}

std::string_view pointerEvidenceText(PointerEvidence why) {
    switch (why) {
        case PointerEvidence::UsedAsAddress:
            return "the register it is loaded into is used as an address";
        case PointerEvidence::JumpedThrough:
            return "a jump or call goes through it";
        case PointerEvidence::FunctionStart:
            return "it holds the start of a function";
        case PointerEvidence::IntoImage:
            return "it holds an address in the image, above $0000FFFF";
        case PointerEvidence::Table:
            return "an entry of a table of pointers";
        case PointerEvidence::Vector:
            return "an exception vector";
        case PointerEvidence::InfoFile:
            return "the info file says its range holds pointers";
        case PointerEvidence::Member:
            return "a member of a structure that code points at, holding the aligned address of data";
        case PointerEvidence::Stored:
            return "code stores it to memory, and it holds the start of code (or an address above $0000FFFF)";
        case PointerEvidence::Passed:
            return "a call gets it in an argument register, and it holds an address above $0000FFFF";
        case PointerEvidence::Returned:
            return "a function returns it unchanged in R0, and it holds an address above $0000FFFF";
    }
    return "";
}

std::vector<UsedAfter> Model::usedAfter() const {
    std::vector<UsedAfter> out;
    for (const auto& [address, use] : d_->after) {
        if (!out.empty() && address - out.back().address < out.back().size) {
            out.back().size = std::max(out.back().size, address - out.back().address + use.size);
            continue;
        }
        out.push_back(use);
    }
    return out;
}

std::string_view itemKindText(ItemKind kind) {
    static constexpr std::string_view kItems[] = {"an instruction", "a literal", "a table entry", "a string", "padding", "data"};
    return kItems[static_cast<std::size_t>(kind)];
}

std::vector<Fact> Model::why(std::uint32_t address) const {
    std::vector<Fact> facts;
    std::uint32_t off;
    if (!d_->inImage(address, off)) return facts;
    const Model::Data& d = *d_;
    auto fromOf = [](std::uint32_t a) {
        return a == Model::Data::kNoCause ? std::nullopt : std::optional<std::uint32_t>(a);
    };
    const auto hex = dis::addressText;
    const Item item = *itemAt(address);
    facts.push_back({FactKind::Item, std::nullopt, std::nullopt, std::nullopt,
                     std::string(itemKindText(item.kind)) + " of " + std::to_string(item.size) +
                         (item.size == 1 ? " byte at " : " bytes at ") + hex(item.address)});
    std::uint32_t start;
    d.inImage(item.address, start);
    if (d.flags[off] & F_LABEL) {
        const Evidence e = d.reasonAt(off);
        const std::uint32_t* c = d.cause.find(off);
        const auto from = c != nullptr ? std::optional<std::uint32_t>(*c) : std::nullopt;
        facts.push_back({FactKind::Label, e, std::nullopt, from,
                         std::string(evidenceText(e)) + (from ? " (by " + hex(*from) + ")" : std::string())});
    }
    if (d.flags[off] & (F_CODE | F_CONT)) {
        const std::uint32_t at = (d.flags[off] & F_CODE) ? off : off - 1;
        if (const auto p = d.pathHolding(at)) {
            const std::uint32_t s = d.paths[*p].start;
            // A path with no label at its start goes on after a call (or from a forced range).
            const bool afterCall = !(d.flags[s] & F_LABEL) && d.afterCallSlot(s);
            const auto e = (d.flags[s] & F_LABEL) ? std::optional<Evidence>(d.reasonAt(s))
                           : afterCall            ? std::optional<Evidence>(Evidence::Call)
                                                  : std::optional<Evidence>(Evidence::Forced);
            facts.push_back({FactKind::Code, e, std::nullopt, d.address(s),
                             "on the path from " + hex(d.address(s)) + " to " + hex(d.address(d.paths[*p].end)) + " (" +
                                 (afterCall ? "after the call at " + hex(d.address(s - 4)) : std::string(evidenceText(*e))) +
                                 ")"});
        } else {
            facts.push_back({FactKind::Code, std::nullopt, std::nullopt, std::nullopt,
                             "in the delay slot of a branch on a path"});
        }
    }
    if (const auto f = d.functionWhy.find(off); f != d.functionWhy.end()) {
        facts.push_back({FactKind::Function, f->second, std::nullopt, std::nullopt,
                         "a function starts here: " + std::string(evidenceText(f->second))});
    }
    if (const auto n = d.noReturn.find(off); n != d.noReturn.end()) {
        facts.push_back({FactKind::Function, Evidence::Call, std::nullopt, n->second,
                         "it does not return: its caller's literals follow the call at " + hex(n->second)});
    }
    std::uint32_t entry;
    if (const Table* t = d.tableHolding(off, entry)) {
        std::string text = "in a table of " + std::to_string(t->count) + " entries of " + std::to_string(t->width) +
                           " bytes at " + hex(t->address);
        using TableKind = Model::Data::TableKind;
        const TableKind kind = d.tableKind(*t);
        const std::string user = d.calledThrough(*t) ? "call" : "jump";
        text += kind == TableKind::CodePointers ? ": code pointers used by the " + user + " at " + hex(t->jump) +
                                                      (t->open ? ", as far as its entries point at code" : "")
                : kind == TableKind::Pointers   ? ": pointers found in data"
                : kind == TableKind::Declared   ? ": from the info file"
                                                : ": used by the " + user + " at " + hex(t->jump) +
                                                    (t->open ? ", as far as its entries give code" : "");
        facts.push_back({FactKind::Table, std::nullopt, std::nullopt, t->jump ? std::optional<std::uint32_t>(t->jump) : std::nullopt, text});
    }
    if (d.flags[start] & F_PTR) {
        if (const Model::Data::PointerFact* p = d.pointerWhy.find(start)) {
            const auto from = fromOf(p->from);
            facts.push_back({FactKind::Pointer, std::nullopt, p->reason, from,
                             "written as a label: " + std::string(pointerEvidenceText(p->reason)) +
                                 (from ? " (" + hex(*from) + ")" : std::string())});
        }
    } else if ((d.flags[start] & F_LITL) && item.kind == ItemKind::Literal) {
        const bool whole = std::uint64_t{start} + 4 <= d.size();
        const std::uint32_t v = whole ? d.longAt(start) : 0;
        std::uint32_t to;
        std::string text = "a number: ";
        if (!whole) {
            text += "the long a load reads here is cut by the image's end; its bytes are written as they are";
        } else if (d.more[start] & G_CONST) {
            text += "the info file says it is a constant";
        } else if (const auto o = d.offsets.find(start); o != d.offsets.end()) {
            text += "an offset that a BRAF or BSRF adds to " + hex(o->second.base);
        } else if (!d.inImage(v, to)) {
            const auto alias = d.aliasOffset(v);
            text += alias && (d.flags[*alias] & F_LABEL) ? "an alias of " + hex(d.address(*alias)) + " in another cache area"
                                                          : "not an address in the image";
        } else if (!d.labelFits(to)) {
            text += "it points inside an item, where no label can stand";
        } else {
            text += "no evidence that it is a pointer (its register is not used as an address, no jump goes through it)";
        }
        facts.push_back({FactKind::Number, std::nullopt, std::nullopt, std::nullopt, text});
    }
    return facts;
}

namespace {

// The item a statement is, at offset p.
Item itemOf(const Model::Data& d, std::uint32_t p) {
    if (d.flags[p] & F_CODE) return {ItemKind::Instruction, d.address(p), 2};
    const Model::Data::Statement s = d.statementAt(p);
    ItemKind kind = ItemKind::Data;
    using K = Model::Data::Kind;
    if (s.kind == K::TableEntry) {
        kind = ItemKind::Table;
    } else if ((s.kind == K::Long || s.kind == K::Word) && (d.flags[p] & (F_LITL | F_LITW))) {
        kind = ItemKind::Literal;
    } else if (s.kind == K::String) {
        kind = ItemKind::String;
    } else if (s.kind == K::Pad) {
        kind = ItemKind::Padding;
    }
    return Item{kind, d.address(p), s.size};
}

}  // namespace

std::optional<Item> Model::itemAt(std::uint32_t address) const {
    std::uint32_t off;
    if (!d_->inImage(address, off)) return std::nullopt;
    const std::vector<std::uint32_t>& starts = d_->statements();
    return itemOf(*d_, *std::prev(std::upper_bound(starts.begin(), starts.end(), off)));
}

void Model::items(const std::function<void(const Item&)>& visit) const {
    for (const std::uint32_t p : d_->statements()) visit(itemOf(*d_, p));
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

std::vector<Unknown> Model::unknowns() const {
    const Data& d = *d_;
    std::vector<Unknown> out;
    for (const std::uint32_t off : d.statements()) {
        if (d.flags[off] & F_CODE) continue;  // an instruction: nothing unknown
        const Data::Statement s = d.statementAt(off);
        if (s.kind == Data::Kind::Instruction || s.kind == Data::Kind::SlotLoad || s.kind == Data::Kind::TableEntry) continue;
        if (const auto w = d.wouldBeIn(off, s.size); !w.empty()) {
            Unknown u{UnknownKind::MaybeCode, d.address(off), {}};
            for (const Data::WouldBe& x : w) u.targets.push_back(x.target);
            out.push_back(std::move(u));
        }
        if (const Table* t = d.tableStarting(off); t && t->count == 0 && !t->targets.empty())
            out.push_back({UnknownKind::OpenTable, t->address, t->targets});
        if (d.more[off] & dis::G_MAYBE) out.push_back({UnknownKind::MaybePointer, d.address(off), {d.longAt(off)}});
    }
    return out;
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
        const auto n = d_->noReturn.find(starts[i]);
        out.push_back({d_->address(starts[i]), d_->address(end), d_->functionWhy.at(starts[i]), {},
                       n != d_->noReturn.end() ? std::optional<std::uint32_t>(n->second) : std::nullopt});
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
