// The disassembler's model of an image, as the analysis builds it: a set of marks for
// every byte, the label reasons, the references, tables, functions and the loads in
// delay slots. The analysis (flow, switch, discover) fills it, the printer and the
// public Model read it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <cstdlib>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "isa/isa.h"
#include "disasm/model/offset_map.h"
#include "isa/known.h"
#include "korvane/analysis.h"
#include "korvane/disassembly_options.h"

namespace korvane {

namespace dis {

enum : std::uint16_t {
    F_CODE = 0x0001,    // an instruction starts here
    F_LABEL = 0x0002,   // a label is defined here
    F_LITW = 0x0004,    // a 16-bit literal read by MOV.W @(disp,PC) starts here
    F_LITL = 0x0008,    // a 32-bit literal read by MOV.L @(disp,PC) starts here
    F_PTR = 0x0010,     // this 32-bit literal or table entry is written as a label
    F_DATA = 0x0020,    // forced data
    F_CONT = 0x0040,    // the second byte of an instruction
    F_SLOT = 0x0080,    // the instruction is in a delay slot
    F_TABLE = 0x0100,   // a byte of a jump or pointer table
    F_SLOTPC = 0x0200,  // a PC-relative load in a delay slot (written as its number)
    F_USED = 0x0400,    // this 32-bit literal's register is used as an address
    F_LITIN = 0x0800,   // a byte inside a literal (after its first)
    F_FUNC = 0x1000,    // a function starts here
    F_KNOWN = 0x2000,   // a jump or call through a register whose value is known
    F_SEGMENT = 0x4000, // a segment of the image starts here (a new SETPC)
    F_ALIGN4 = 0x8000,  // code needs this address 4-aligned (MOVA's target, a table of longs)
};
// Marks kept beside the others (fewer, and rarely set).
enum : std::uint8_t {
    G_CONST = 0x01,  // the user says this literal is a number, not a pointer
    G_BASE = 0x02,   // what a relative table entry or a BRAF offset counts from
    // How the user wants forced data written (none of them: as it looks).
    G_BYTES = 0x04,
    G_WORDS = 0x08,
    G_LONGS = 0x10,
    G_TEXT = 0x20,
    G_SHAPE = G_BYTES | G_WORDS | G_LONGS | G_TEXT,
    G_INSIDE = 0x40,  // this pointer or entry names the inside of an item: written as its number
    G_MAYBE = 0x80,   // this literal holds an address in the image but stays a number: maybe a pointer
};

// A literal that BRAF or BSRF adds to its address + 4: that base and where it goes.
struct Offset {
    std::uint32_t base;
    std::uint32_t target;
};

// Where a delay slot's PC-relative load reads: from the branch target when taken, from
// the slot itself when a BT/S or BF/S is not taken.
struct SlotRead {
    std::optional<std::uint32_t> taken;
    std::optional<std::uint32_t> notTaken;
};

// The forms the analysis looks for (the instruction table's, found once).
using sh2::KnownForms;
using sh2::known;

// Zeroed memory for a large array of marks, and its release. Large blocks are fresh pages
// of the system, asked for in large pages where it has them: an image's marks are
// written all over, and small pages would each cost a fault.
void* zeroedBlock(std::size_t bytes);
void releaseBlock(void* p, std::size_t bytes);

// A zeroed array: its pages are the system's own zero pages until written, so a large
// image's marks cost nothing where nothing is marked.
template <typename T>
class ZeroArray {
  public:
    ZeroArray() = default;
    void assign(std::size_t n) {
        const std::size_t bytes = (n == 0 ? 1 : n) * sizeof(T);
        data_ = std::unique_ptr<T, Free>(static_cast<T*>(zeroedBlock(bytes)), Free{bytes});
    }
    bool empty() const { return !data_; }
    T& operator[](std::size_t i) { return data_.get()[i]; }
    const T& operator[](std::size_t i) const { return data_.get()[i]; }

  private:
    struct Free {
        std::size_t bytes = 0;
        void operator()(T* p) const { releaseBlock(p, bytes); }
    };
    std::unique_ptr<T, Free> data_;
};

}  // namespace dis

struct Model::Data {
    std::span<const std::uint8_t> image;
    std::uint32_t base = 0;
    bool thirtyTwoX = false;
    bool guess = true;
    dis::ZeroArray<std::uint16_t> flags;
    dis::ZeroArray<std::uint8_t> why;  // 1 + Evidence where a label is, 0 for a branch's (or none)
    dis::ZeroArray<std::uint8_t> more;  // the G_ marks
    // References the instructions do not say themselves (through registers, pointers,
    // table entries, loads in delay slots); references() adds the instructions' own.
    std::vector<Reference> refs;
    mutable std::vector<Reference> allRefs;  // made on the first question
    mutable std::vector<Reference> refsByTarget;  // the same by target, likewise
    mutable bool allRefsMade = false;
    mutable std::vector<std::uint32_t> statementStarts;  // every statement's offset, likewise
    const std::vector<std::uint32_t>& statements() const;
    const std::vector<Reference>& references() const;
    std::vector<Table> tables;                            // by address, once analysed
    std::unordered_map<std::uint32_t, std::size_t> tableIndex;  // start offset -> table
    // The tables by start offset, each with the furthest end of it and every table
    // before it, so that the table holding a byte is found by a binary search (made by
    // indexTables once the analysis is done); the code paths likewise.
    struct Span {
        std::uint32_t start, end, reach;
        std::size_t index;  // of the table (or path)
    };
    std::vector<Span> tableSpans;
    std::vector<Span> pathSpans;  // the same for the code paths
    void indexTables();
    void indexTableStarts();  // tableIndex alone, from tables
    std::unordered_map<std::uint32_t, dis::SlotRead> slotReads;  // slot offset -> reads
    std::unordered_map<std::uint32_t, dis::Offset> offsets;      // literal offset -> BRAF/BSRF
    std::unordered_map<std::uint32_t, std::string> names;        // address -> the user's label
    std::unordered_map<std::uint32_t, std::string> comments;     // address -> lines before it
    std::unordered_map<std::uint32_t, Evidence> functionWhy;    // start offset -> reason
    std::vector<std::uint32_t> literals;  // every 32-bit literal, as first read
    // What MOVA named and code read by bytes: offset -> only passed to a callee.
    std::unordered_map<std::uint32_t, bool> byteReads;
    void byteRead(std::uint32_t at, bool passedOn) {
        const auto [it, fresh] = byteReads.emplace(at, passedOn);
        if (!fresh && !passedOn) it->second = false;
    }
    // The evidence beside the marks: what gave a label its reason (an address), why a
    // literal or entry is a pointer, which instruction used a literal's register as an
    // address, and where each code path began and ended.
    static constexpr std::uint32_t kNoCause = 0xFFFFFFFFu;
    dis::OffsetMap<std::uint32_t> cause;
    struct PointerFact {
        std::uint32_t from;
        PointerEvidence reason;
    };
    dis::OffsetMap<PointerFact> pointerWhy;
    dis::OffsetMap<std::uint32_t> usedBy;
    // 32-bit literals whose register a long store writes to memory (a callback put in a
    // structure), with the first such store.
    dis::OffsetMap<std::uint32_t> storedBy;
    // 32-bit literals left in an argument register (R4-R7) of a call, with the first call.
    dis::OffsetMap<std::uint32_t> passedTo;
    // 32-bit literals that a function returns unchanged in R0, with the first return.
    dis::OffsetMap<std::uint32_t> returnedBy;
    // The evidence sorted once the analysis is done, so that readers on several threads
    // only read it.
    void settleEvidence() const {
        cause.settle();
        pointerWhy.settle();
        usedBy.settle();
        storedBy.settle();
        passedTo.settle();
        returnedBy.settle();
    }
    struct Path {
        std::uint32_t start, end;
    };
    std::vector<Path> paths;
    // The path that marked the code at off (its index in paths), or none.
    std::optional<std::size_t> pathHolding(std::uint32_t off) const;
    std::unordered_set<std::uint32_t> triedGaps;  // gaps already looked at for code
    // Functions that do not return: start offset -> the address of a call to it after
    // whose slot its caller's literals stand.
    std::unordered_map<std::uint32_t, std::uint32_t> noReturn;
    // Whether the words at off are what code reads as data (a literal or a table, or
    // fill before one): after a call's slot, the callee does not return.
    bool readAsData(std::uint32_t off) const {
        constexpr std::uint16_t kRead = dis::F_LITW | dis::F_LITL | dis::F_LITIN | dis::F_TABLE;
        if (off + 1 >= size()) return false;
        if (flags[off] & kRead) return true;
        return fill(off) && off + 3 < size() && (flags[off + 2] & kRead) && !(flags[off] & dis::F_CODE);
    }
    // Whether the word at off is what compilers fill to an alignment with (NOP, 0).
    bool fill(std::uint32_t off) const { return word(off) == 0 || word(off) == sh2::known().nopWord; }
    // Whether the instruction at off goes on after a call and its slot.
    bool afterCallSlot(std::uint32_t off) const {
        return off >= 4 && (flags[off - 4] & dis::F_CODE) && (flags[off - 2] & dis::F_SLOT) &&
               (sh2::decodeForm(word(off - 4))->flow & sh2::FlowCall);
    }
    // Words of data that would branch or load PC-relatively if they were code, by
    // offset, with where they would reach; and how many unknowns the source marks.
    struct WouldBe {
        std::uint32_t at;
        std::uint32_t target;
        const sh2::Form* form;
    };
    std::vector<WouldBe> wouldBe;
    std::vector<std::uint32_t> unknownAt;  // the offset of every unknown's statement, in order
    // The would-be references of the statement at off (size bytes): a range of wouldBe.
    std::span<const WouldBe> wouldBeIn(std::uint32_t off, std::uint32_t size) const {
        const auto first = std::lower_bound(wouldBe.begin(), wouldBe.end(), off,
                                            [](const WouldBe& w, std::uint32_t o) { return w.at < o; });
        auto last = first;
        while (last != wouldBe.end() && last->at < off + size) ++last;
        return {first, last};
    }
    std::size_t instructions = 0;
    // The lowest places after the image that the program uses, by address (the first
    // user of each; a use that overlaps the image's end counts from it).
    static constexpr std::size_t kMostAfter = 8;
    std::map<std::uint32_t, UsedAfter> after;
    void useAfter(std::uint32_t address, std::uint32_t bytes, AfterUse use, std::uint32_t by) {
        const std::uint32_t e = end();
        std::uint32_t off;
        if (e == 0 || address + std::uint64_t{bytes} <= e || inImage(address, off)) return;
        if (address < e) {
            bytes -= e - address;
            address = e;
        }
        if (after.size() == kMostAfter && address >= std::prev(after.end())->first) return;
        const auto [it, added] = after.emplace(address, UsedAfter{address, bytes, use, by});
        if (!added) it->second.size = std::max(it->second.size, bytes);
        if (after.size() > kMostAfter) after.erase(std::prev(after.end()));
    }

    // Where the image's bytes sit: one segment at base, or several (every byte in one).
    std::vector<ImageSegment> segments;

    std::uint32_t size() const { return static_cast<std::uint32_t>(image.size()); }
    // The address after the image's last byte (0 where the image ends at the top of
    // the address space).
    std::uint32_t end() const { return size() == 0 ? base : address(size() - 1) + 1; }
    std::uint32_t address(std::uint32_t off) const {
        if (segments.size() <= 1) return base + off;
        const auto it = std::upper_bound(segments.begin(), segments.end(), off,
                                         [](std::uint32_t o, const ImageSegment& s) { return o < s.offset; });
        return std::prev(it)->address + (off - std::prev(it)->offset);
    }
    bool inImage(std::uint32_t address, std::uint32_t& off) const {
        if (segments.size() <= 1) {
            off = address - base;
            return off < size();
        }
        off = 0;
        for (const ImageSegment& s : segments) {
            if (address - s.address < s.size) {
                off = s.offset + (address - s.address);
                return true;
            }
        }
        return false;
    }
    bool segmentStart(std::uint32_t off) const {
        return segments.size() > 1 && (flags[off] & dis::F_SEGMENT);
    }
    std::uint16_t word(std::uint32_t off) const {
        return static_cast<std::uint16_t>(image[off] << 8 | image[off + 1]);
    }
    std::uint32_t longAt(std::uint32_t off) const {
        return static_cast<std::uint32_t>(image[off]) << 24 | image[off + 1] << 16 |
               image[off + 2] << 8 | image[off + 3];
    }
    // Labels of branch targets, most of them, leave why alone (its pages untouched).
    // from is the address of the instruction or item that gave the reason.
    bool label(std::uint32_t off, Evidence reason, std::uint32_t from = kNoCause) {
        if (flags[off] & dis::F_LABEL) return false;
        flags[off] |= dis::F_LABEL;
        if (reason != Evidence::Branch) why[off] = static_cast<std::uint8_t>(1 + static_cast<unsigned>(reason));
        if (from != kNoCause) cause.emplace(off, from);
        return true;
    }
    // The reason of the label at off (which has one).
    Evidence reasonAt(std::uint32_t off) const {
        return why[off] == 0 ? Evidence::Branch : static_cast<Evidence>(why[off] - 1);
    }
    // A label whose reason says more than the one it had (a table that MOVA named).
    void relabel(std::uint32_t off, Evidence reason, std::uint32_t from = kNoCause) {
        flags[off] |= dis::F_LABEL;
        why[off] = static_cast<std::uint8_t>(1 + static_cast<unsigned>(reason));
        if (from != kNoCause) {
            cause.assign(off, from);
        } else {
            cause.erase(off);
        }
    }
    // A function starts at off, for this reason (the first reason found stays).
    void markFunction(std::uint32_t off, Evidence reason) {
        if (flags[off] & dis::F_FUNC) return;
        flags[off] |= dis::F_FUNC;
        functionWhy.emplace(off, reason);
    }
    // A function starts at off, for this reason, named by what is at from: labelled and
    // marked (the first reason found stays for each).
    void startFunction(std::uint32_t off, Evidence reason, std::uint32_t from) {
        label(off, reason, from);
        markFunction(off, reason);
    }
    // The marks of the four bytes of a long at off, together.
    std::uint16_t longFlags(std::uint32_t off) const {
        return static_cast<std::uint16_t>(flags[off] | flags[off + 1] | flags[off + 2] | flags[off + 3]);
    }
    // Why a literal or table entry is written as a label, and what said so.
    // The long at off is a pointer, for reason (from the instruction or item at from):
    // marked, its reason kept, and its reference to what it holds recorded.
    void pointer(std::uint32_t off, PointerEvidence reason, std::uint32_t from) {
        flags[off] |= dis::F_PTR;
        pointerWhy.emplace(off, PointerFact{from, reason});
        refs.push_back({address(off), longAt(off), RefKind::Pointer});
    }
    // A table entry of width 1, 2 or 4 at off, sign-extended when asked.
    std::uint32_t entryAt(std::uint32_t off, unsigned width, bool signExtend) const {
        if (width == 4) return longAt(off);
        if (width == 2) return signExtend ? static_cast<std::uint32_t>(static_cast<std::int16_t>(word(off))) : word(off);
        return signExtend ? static_cast<std::uint32_t>(static_cast<std::int8_t>(image[off])) : image[off];
    }
    // What a relative entry or a BRAF/BSRF offset counts from: labelled, and marked so
    // that it keeps its own place before an ALIGN (where a label can stand there).
    void markBase(std::uint32_t off) {
        if (flags[off] & (dis::F_CONT | dis::F_LITIN)) return;
        label(off, Evidence::Table);
        more[off] |= dis::G_BASE;
    }
    // Whether a label can stand at off: not inside an instruction, a literal or a table's entry.
    bool labelFits(std::uint32_t off) const {
        return !(flags[off] & (dis::F_CONT | dis::F_LITIN)) && (!(flags[off] & dis::F_TABLE) || tableStarting(off));
    }
    // Whether the source defines a label for address: outside the image (after it), or a
    // label that stands between statements (a literal's is written between its halves).
    bool named(std::uint32_t address) const {
        std::uint32_t to, entry;
        if (!inImage(address, to)) return true;
        return (flags[to] & dis::F_LABEL) && !(flags[to] & dis::F_CONT) && (!tableHolding(to, entry) || entry == to);
    }
    // Where a value that names the image points inside what the source writes as one
    // statement (an instruction, a table's entry), where no label can stand: the
    // offset of that statement's start, or nothing (outside the image, or at a start).
    std::optional<std::uint32_t> insideItem(std::uint32_t value) const {
        std::uint32_t to, entry;
        if (!inImage(value, to)) return std::nullopt;
        if (flags[to] & dis::F_CONT) return to - 1;
        if (tableHolding(to, entry) && entry != to) return entry;
        if (flags[to] & dis::F_LITIN) {  // a literal's later bytes: back to its first
            for (std::uint32_t back = 1; back <= 3 && back <= to; ++back)
                if (flags[to - back] & (dis::F_LITL | dis::F_LITW)) return to - back;
        }
        return std::nullopt;
    }
    // The alignment code needs for the item at off, where it stands aligned now (so that
    // ALIGN may stand before it): 4 for a long literal, what MOVA names or a table of
    // longs; 2 for a word literal; 0 for none.
    unsigned alignmentWanted(std::uint32_t off) const {
        const std::uint32_t a = address(off);
        if ((flags[off] & (dis::F_LITL | dis::F_ALIGN4)) && (a & 3) == 0) return 4;
        if ((flags[off] & dis::F_LITW) && (a & 1) == 0) return 2;
        return 0;
    }
    bool wantsAlignment(std::uint32_t off) const { return alignmentWanted(off) != 0; }
    // A base that is also an item to align must keep its own place (the end of the
    // code before the ALIGN): it has its own label, B and eight digits.
    bool baseOfItsOwn(std::uint32_t off) const { return (more[off] & dis::G_BASE) && wantsAlignment(off); }
    // A table of pointers found in data that turns out to hold code's literals (its
    // routine was reached later): no longer a table (the labels it gave stay).
    void undoDataTable(std::uint32_t off) {
        for (std::size_t i = 0; i < tables.size(); ++i) {
            const Table& t = tables[i];
            std::uint32_t start;
            if (!t.pointers || t.jump != 0 || !inImage(t.address, start) || off < start || off >= start + 4 * t.count)
                continue;
            const std::uint32_t end = start + 4 * t.count;
            for (std::uint32_t b = start; b < end; ++b) flags[b] &= static_cast<std::uint16_t>(~(dis::F_TABLE | dis::F_PTR));
            for (std::uint32_t e = start; e < end; e += 4) {
                pointerWhy.erase(e);
                more[e] &= static_cast<std::uint8_t>(~dis::G_INSIDE);
            }
            const std::uint32_t from = t.address, to = t.address + 4 * t.count;
            refs.erase(std::remove_if(refs.begin(), refs.end(),
                                      [&](const Reference& r) { return r.kind == RefKind::Pointer && r.from >= from && r.from < to; }),
                       refs.end());
            tables.erase(tables.begin() + static_cast<std::ptrdiff_t>(i));
            indexTableStarts();
            return;
        }
    }
    // Where a label stands at or inside an entry of a table after its first byte: the
    // entry starts a table of its own (the same kind, the rest of the entries), or, named
    // in its middle, is no entry any more but data that the label splits (only when
    // splitEntry). False when nothing was cut.
    bool cutTable(std::uint32_t off, bool splitEntry);
    // Every label inside a table's entry that an instruction or the user names (a branch
    // into it) cuts the table so that the label can stand. A pointer into an entry that is
    // no entry any more is written as a label. The tables are indexed again.
    void cutTablesAtLabels();
    // What a table is, for every describer of it (the printer's note, --why).
    enum class TableKind : std::uint8_t {
        CodePointers,   // pointers to code that a call or jump goes through
        Pointers,       // pointers found in data
        Declared,       // the info file's
        UnknownLength,  // a jump's table whose count no bound gave
        Jumps,          // a jump's cases
        Calls,          // a call's callees (BSRF)
    };
    TableKind tableKind(const Table& t) const {
        if (t.pointers) return t.jump != 0 ? TableKind::CodePointers : TableKind::Pointers;
        if (t.jump == 0) return TableKind::Declared;
        if (t.count == 0) return TableKind::UnknownLength;
        return calledThrough(t) ? TableKind::Calls : TableKind::Jumps;
    }
    // Whether the instruction that uses table t calls through it (JSR, BSRF).
    bool calledThrough(const Table& t) const {
        std::uint32_t j;
        return t.jump != 0 && inImage(t.jump, j) && j + 1 < size() &&
               (sh2::decodeForm(word(j))->flow & sh2::FlowCall) != 0;
    }
    const Table* tableStarting(std::uint32_t off) const {
        const auto it = tableIndex.find(off);
        return it == tableIndex.end() ? nullptr : &tables[it->second];
    }
    // Where an aligned address that only bits 31-29 tell apart from value lies in the
    // image (the same memory through another cache area of the SH7604).
    std::optional<std::uint32_t> aliasOffset(std::uint32_t value) const {
        constexpr std::uint32_t kArea = 0xE0000000u;
        std::uint32_t off;
        const std::uint32_t same = (value & ~kArea) | (address(0) & kArea);
        if (same == value || !inImage(same, off)) return std::nullopt;
        return off;
    }

    // ---- the statements the source is made of ---------------------------------------

    enum class Kind { Instruction, SlotLoad, Long, Word, Byte, String, Pad, TableEntry };
    struct Statement {
        Kind kind;
        std::uint32_t off;
        std::uint32_t size;
        bool refers;             // it names a label ...
        std::uint32_t target;    // ... at this address
        sh2::Decoded decoded{};  // an instruction's form and fields
    };
    // Where a data statement must end: an instruction, a label, a table.
    bool boundary(std::uint32_t off) const {
        return (flags[off] & (dis::F_CODE | dis::F_LABEL | dis::F_TABLE | dis::F_SEGMENT)) != 0;
    }
    // The statement that starts at off.
    Statement statementAt(std::uint32_t off) const;
    // The table that holds the byte at off, and the entry's start.
    const Table* tableHolding(std::uint32_t off, std::uint32_t& entry) const;
};


}  // namespace korvane
