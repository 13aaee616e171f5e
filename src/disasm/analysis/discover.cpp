// Code that no path reaches, taken as code only with evidence: a prologue whose saves
// its epilogue restores, a gap that decodes as whole routines each followed by the pool
// it reads, or a table of pointers in data that points there. Pointers: literals whose
// register is used as an address, or whose value points into the image at data or at a
// function, are written as labels.
#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "disasm/analysis/analysis.h"
#include "disasm/analysis/limits.h"
#include "disasm/analysis/step.h"

namespace korvane::dis {

namespace {

using sh2::Form;
using sh2::Arg;
using sh2::Reach;

constexpr std::uint16_t kKnown = F_CODE | F_CONT | F_LITW | F_LITL | F_LITIN | F_TABLE | F_DATA;
constexpr unsigned kStack = sh2::kConventions.stack, kFrame = sh2::kConventions.frame;

// A routine decoded from its first word, without following its branches out of it.
struct Routine {
    bool ok = false;
    std::uint32_t end = 0;      // after its last instruction (the slot of its last jump)
    std::uint32_t poolEnd = 0;  // after the last literal it reads (end when none)
    std::uint32_t lastEnder = 0;
    // Pools inside it that a BRA jumps over: [from, to) offsets.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> skips;
    bool skipped(std::uint32_t off) const {
        return std::any_of(skips.begin(), skips.end(), [off](const auto& s) { return off >= s.first && off < s.second; });
    }
};

// The routine that starts at c, decoded linearly: every word an instruction, no
// slot-illegal one in a slot, branches to its own instruction starts or to known
// code, loads reading beyond its end words that no instruction occupies.
// Where the jump table of a BRAF at t ends: its entries (words, else bytes), each an
// offset from base (the end of the BRAF's slot) to an even case outside the table, run
// up to the first case after it, limit (where a branch of the routine goes next) or the
// first word the routine's loads read (its pool after the table), whichever comes first.
// t itself when they do not.
template <typename Read>
std::uint32_t tableEnd(const Model::Data& data, std::uint32_t t, std::uint32_t base, std::uint32_t limit,
                       const Read& read) {
    for (const unsigned width : {2u, 1u}) {
        std::uint32_t first = limit, q = t;
        while (q + width <= data.size() && q < first && q - t < kMostMidPool && !read(q)) {
            const std::uint32_t to = base + data.entryAt(q, width, true);
            if ((to & 1) || (to >= t && to <= q) || to >= data.size()) break;
            if (to > q) first = std::min(first, to);  // cases after the table (or before it)
            q += width;
        }
        if (q == first || (q > t && read(q))) return q;
        if (q < first && first - q < 4) {  // alignment before the cases
            bool fill = true;
            for (std::uint32_t k = q; k < first; ++k) fill = fill && (data.image[k] == 0 || data.image[k] == 0x09);
            if (fill) return first;
        }
    }
    return t;
}

Routine decodeOnce(const Model::Data& data, std::uint32_t c, bool skipPools) {
    Routine r;
    std::vector<std::uint32_t> branches;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> literals;  // what its loads read
    std::vector<std::uint32_t> tables;  // what its MOVAs name (a jump table runs on from there)
    std::uint32_t pending = 0;  // the furthest forward branch target within it
    std::uint32_t lowestLiteral = ~0u;
    // Whether a load of the routine (so far) reads the byte at q.
    auto read = [&literals](std::uint32_t q) {
        return std::any_of(literals.begin(), literals.end(), [q](const auto& l) { return q >= l.first && q < l.second; });
    };
    auto fill = [&data](std::uint32_t q) { return data.fill(q); };
    // What the routine's own instructions left in registers (for the callee of a JSR).
    Known regs;
    // What a PC-relative load or MOVA reads: a literal, or a table; false when that lies
    // outside the image.
    auto load = [&](const Step& st) {
        std::uint32_t at;
        if (!data.inImage(st.literal, at) || at + (st.literalSize == 2 ? 1u : 3u) >= data.size()) return false;
        if (st.literalSize == 0) {
            tables.push_back(at);
        } else {
            lowestLiteral = std::min(lowestLiteral, at);
            literals.emplace_back(at, at + st.literalSize);
            r.poolEnd = std::max(r.poolEnd, at + st.literalSize);
        }
        return true;
    };
    // Where a table the switch finder took starts, no routine runs on (its entries are
    // offsets that decode by chance).
    auto tableAt = [&data](std::uint32_t q) { return (data.flags[q] & F_LABEL) && data.tableStarting(q); };
    std::uint32_t p = c;
    for (std::size_t n = 0; n < kMostInstructions; ++n) {
        if (p + 1 >= data.size() || (data.flags[p] & kKnown) || (data.flags[p + 1] & kKnown) || tableAt(p)) return r;
        if (p >= lowestLiteral) return r;  // ran into its own pool
        const Step st = stepAt(data, p, regs);
        if (!st.ok()) return r;
        const bool knownCallee = st.call() && st.target.has_value();
        const std::uint32_t callee = knownCallee ? *st.target : 0;
        if (st.pcRelative && !load(st)) return r;
        if (st.target && !st.throughRegister() && !st.call()) {
            // (A BSR calls another routine, often one placed after it: no part of this one.)
            std::uint32_t at;
            if (!data.inImage(*st.target, at)) return r;
            if (at > p) pending = std::max(pending, at);
            branches.push_back(at);
        }
        if (!st.delayed()) {
            apply(st, regs);
            p += 2;
            continue;
        }
        const std::uint32_t slot = p + 2;
        if (slot + 1 >= data.size() || (data.flags[slot] & kKnown) || slot >= lowestLiteral || tableAt(slot)) return r;
        const Step ss = stepSlot(data, st, slot, regs);
        if (!ss.ok() || (ss.form->flow & sh2::FlowSlotIllegal)) return r;
        // A PC-relative load in the slot of a branch whose target is known reads from
        // that target (and, where a BT/S or BF/S falls through, from the slot itself).
        if (ss.pcRelative) {
            if (st.slotPc && !load(ss)) return r;
            if (st.conditional() && !load(stepAt(data, slot, regs))) return r;
        }
        apply(ss, regs);
        if (st.call()) regs.known = static_cast<std::uint16_t>(regs.known & ~sh2::kConventions.changedByCall);
        const sh2::Form& f = *st.form;
        p += 4;
        // A call that does not return: its slot is followed by the routine's own
        // literals (or fill before them), or the callee is known not to return.
        std::uint32_t calleeAt;
        const bool noReturn =
            (f.flow & sh2::FlowCall) && p + 3 < data.size() &&
            (read(p) || (fill(p) && read(p + 2)) ||
             (knownCallee && data.inImage(callee, calleeAt) && data.noReturn.count(calleeAt)));
        if (((f.flow & sh2::FlowEnds) || noReturn) && pending < p) {
            r.end = p;
            r.lastEnder = p - 4;
            break;
        }
        // Past a jump or return inside it, a pool that the code before reads (loads
        // reach forward only), with fill, or the jump table of a BRAF that a MOVA before
        // names (its entries, counted from after the slot, run up to its first case):
        // the routine goes on after it.
        if (((f.flow & sh2::FlowEnds) || noReturn) && skipPools) {
            auto table = [&](std::uint32_t q) {
                return (f.flow & sh2::FlowRelative) && std::find(tables.begin(), tables.end(), q) != tables.end();
            };
            std::uint32_t q = p;
            while (q + 1 < data.size() && q - p <= kMostMidPool) {
                if (read(q) || (fill(q) && q + 3 < data.size() && (read(q + 2) || table(q + 2)))) {
                    q += 2;
                } else if (table(q)) {
                    std::uint32_t limit = ~0u;
                    for (const std::uint32_t b : branches) {
                        if (b > q) limit = std::min(limit, b);
                    }
                    const std::uint32_t end = tableEnd(data, q, p, limit, read);
                    if (end == q) break;
                    q = end;  // and the pool after it
                } else {
                    break;
                }
            }
            if (q > p) {
                r.skips.emplace_back(p, q);
                p = q;
                lowestLiteral = ~0u;
                for (const auto& [from, to] : literals) {
                    if (from >= p) lowestLiteral = std::min(lowestLiteral, from);
                }
            }
        }
    }
    if (r.end == 0) return r;
    // Branches land on instruction starts (never in a pool it jumped over).
    for (const std::uint32_t b : branches) {
        const bool inside = b >= c && b < r.end && ((b - c) & 1) == 0 && !r.skipped(b);
        if (!inside && !(data.flags[b] & F_CODE)) return r;
    }
    // What it jumped over is its literals, fill and tables that its MOVAs name.
    for (const auto& skip : r.skips) {
        const std::uint32_t from = skip.first, to = skip.second;
        for (std::uint32_t q = from; q < to; q += 2) {
            const bool table = std::any_of(tables.begin(), tables.end(),
                                           [&](std::uint32_t t) { return t >= from && t <= q; });
            if (!read(q) && !table && data.word(q) != known().nopWord && data.word(q) != 0) return r;
        }
    }
    for (const auto& [from, to] : literals) {
        if (from < r.end && !r.skipped(from)) return r;
    }
    if (r.poolEnd < r.end) r.poolEnd = r.end;
    for (std::uint32_t q = r.end; q < r.poolEnd; ++q) {
        if (data.flags[q] & (F_CODE | F_CONT)) return r;
    }
    r.ok = true;
    return r;
}

// The routine at c, taking what a jump inside it skips as its pool, or where that
// fails, linearly.
Routine decodeRoutine(const Model::Data& data, std::uint32_t c) {
    Routine r = decodeOnce(data, c, true);
    if (!r.ok && !r.skips.empty()) r = decodeOnce(data, c, false);
    return r;
}

class Discovery {
  public:
    explicit Discovery(Model::Data& d) : d_(d) {}

    Routine decode(std::uint32_t c) const { return decodeRoutine(d_, c); }

    // A prologue at c (register pushes, PR saved, a frame made) whose saves the
    // instructions before the routine's last jump restore. Compilers schedule argument
    // moves between the saves and save PR late: the saves are read from the first
    // instructions, passing over those that touch neither R15 nor PR, up to the first
    // that uses R15 otherwise or branches. A frame is ADD #-n,R15, or a size loaded
    // from a literal and subtracted (MOV.W/MOV.L @(disp,PC),Rn; SUB Rn,R15).
    bool prologue(std::uint32_t c, const Routine& r) const {
        const KnownForms& k = known();
        std::uint16_t saved = 0;
        bool pr = false;
        std::int32_t frame = 0;
        bool frameBySub = false;
        std::uint16_t sizes = 0;  // registers that hold a literal (a frame's size)
        std::uint32_t p = c;
        for (std::size_t n = 0; p < r.end && n < kPrologueMost; p += 2, ++n) {
            const auto d = sh2::decode(d_.word(p));
            if (!d || r.skipped(p)) break;
            const Form* f = d->form;
            const sh2::Fields& x = d->fields;
            if (f == k.push && x.n == kStack && x.m != kStack) {
                saved = static_cast<std::uint16_t>(saved | 1u << x.m);
            } else if (f == k.pushPr && x.n == kStack) {
                pr = true;
            } else if (f == k.addImm && x.n == kStack && static_cast<std::int8_t>(x.d) < 0) {
                frame -= static_cast<std::int8_t>(x.d);
            } else if (f == k.subRR && x.n == kStack && (sizes & (1u << x.m))) {
                frameBySub = true;
            } else if (f->flow != 0) {
                break;
            } else {
                const bool touchesPr = std::find(std::begin(f->args), std::end(f->args), Arg::PR) != std::end(f->args);
                if ((sh2::namedRegisters(*f, x) & (1u << kStack)) || touchesPr) break;
                const std::uint16_t written = sh2::writtenRegisters(*f, x);
                if (f->reach == Reach::PcWord || f->reach == Reach::PcLong) {
                    sizes = static_cast<std::uint16_t>(sizes | written);
                } else {
                    sizes = static_cast<std::uint16_t>(sizes & ~written);
                }
                if (saved == 0 && !pr) break;  // a prologue opens with a save
            }
        }
        if (saved == 0 && !pr) return false;
        // The restores: between the last save and the last jump (and in its slot).
        std::uint16_t restored = 0;
        bool prBack = false;
        std::int32_t unframed = 0;
        bool frameFromR14 = false, frameByAdd = false;
        for (std::uint32_t q = p; q < r.end; q += 2) {
            const auto d = sh2::decode(d_.word(q));
            if (!d || r.skipped(q)) continue;
            const Form* f = d->form;
            if (f == k.pop && d->fields.m == kStack && d->fields.n != kStack) {
                restored = static_cast<std::uint16_t>(restored | 1u << d->fields.n);
            } else if (f == k.popPr && d->fields.m == kStack) {
                prBack = true;
            } else if (f == k.addImm && d->fields.n == kStack && static_cast<std::int8_t>(d->fields.d) > 0) {
                unframed += static_cast<std::int8_t>(d->fields.d);
            } else if (f == k.addRR && d->fields.n == kStack && d->fields.m != kStack) {
                frameByAdd = true;
            } else if (f == k.movRR && d->fields.n == kStack && d->fields.m == kFrame) {
                frameFromR14 = true;
            }
        }
        return (restored & saved) == saved && prBack == pr &&
               (frame == 0 || unframed >= frame || frameFromR14 || frameByAdd) &&
               (!frameBySub || frameByAdd || frameFromR14);
    }

    // The gap from c decodes as routines one after another, each followed by the pool it
    // reads and padding: their starts, up to the first piece that is not a whole routine
    // (unused library routines are often followed by read-only data). Looking on past
    // such a piece, after its next return, took data for code in real libraries (a
    // return and a few words that decode are common in data); a routine there that
    // reads a later pool is marked as data that may be code instead.
    std::vector<std::uint32_t> wholeRoutines(std::uint32_t c) const {
        std::vector<std::uint32_t> starts;
        std::uint32_t p = c;
        while (p + 1 < d_.size() && !(d_.flags[p] & kKnown)) {
            if (p != c && (d_.flags[p] & F_LABEL) && !sh2::decode(d_.word(p))) break;  // named data
            const Routine r = decode(p);
            if (!r.ok) break;
            starts.push_back(p);
            p = skipPadding(r.poolEnd);
        }
        return starts;
    }

    // Past NOP and zero words and $FF bytes that fill to an alignment (fewer than
    // kPadding bytes), up to anything known or named.
    std::uint32_t skipPadding(std::uint32_t p) const {
        for (const std::uint32_t from = p;;) {
            if (p >= d_.size() || p - from >= kPadding || (p != from && (d_.flags[p] & F_LABEL))) return p;
            if (d_.image[p] == 0xFF && !(d_.flags[p] & kKnown)) {
                ++p;
            } else if (p + 1 < d_.size() && ((d_.address(p) & 1) == 0) &&
                       d_.fill(p) &&
                       !((d_.flags[p] | d_.flags[p + 1]) & kKnown)) {
                p += 2;
            } else {
                return p;
            }
        }
    }

    // Where paths ended, the words after them.
    bool gaps(std::vector<std::uint32_t>& work) {
        bool found = false;
        for (std::uint32_t off = 0; off + 4 < d_.size(); off += 2) {
            // Where code goes on after the instruction and its slot there is no gap.
            if ((d_.flags[off] & (F_CODE | F_SLOT)) != F_CODE || (d_.flags[off + 2] & F_CODE) == 0 ||
                (d_.flags[off + 4] & F_CODE) != 0)
                continue;
            const auto d = sh2::decode(d_.word(off));
            // A path ends after a jump or return, and after a call that does not return.
            if (!d || !(d->form->flow & (sh2::FlowEnds | sh2::FlowCall))) continue;
            // Past the pool after it and padding, in any order.
            std::uint32_t c = off + 4;
            for (std::uint32_t before = ~0u; before != c;) {
                before = c;
                while (c + 1 < d_.size() && (d_.flags[c] & (F_LITW | F_LITL | F_LITIN | F_TABLE))) ++c;
                c = skipPadding(c);
            }
            if (c + 1 >= d_.size() || (d_.flags[c] & kKnown) || (d_.address(c) & 1) || tried(c)) continue;
            const Routine r = decode(c);
            if (r.ok && prologue(c, r)) {
                start(c, Evidence::Prologue, work);
                found = true;
                continue;
            }
            const std::vector<std::uint32_t> routines = wholeRoutines(c);
            for (const std::uint32_t s : routines) start(s, Evidence::Leaf, work);
            found = found || !routines.empty();
        }
        return found;
    }

    // Runs of 4-aligned longs in data that all point into the image at 2-aligned
    // addresses: tables of pointers, when long enough not to be chance.
    bool pointerTables(std::vector<std::uint32_t>& work) {
        bool found = false;
        const double share = static_cast<double>(d_.size()) / 4294967296.0;
        const std::uint32_t enough =
            share >= 1 ? 2u : static_cast<std::uint32_t>(std::ceil(std::log(1e-9) / std::log(share)));
        std::uint32_t off = 0;
        std::uint32_t lastEnd = ~0u;  // where the last table ended
        while (off + 3 < d_.size()) {
            if (d_.address(off) & 3) {
                ++off;
                continue;
            }
            if (d_.flags[off] & (F_CODE | F_CONT | F_LITL | F_LITW | F_TABLE)) {  // known already
                off += 4;
                continue;
            }
            std::uint32_t n = 0;
            bool allCode = true;
            while (off + 4 * n + 3 < d_.size() && pointsAtCode(off + 4 * n, allCode)) ++n;
            // A table goes on past a null entry (an array of structures whose member is
            // NULL in one row): a run right after the table and one zero long is its own.
            const bool goesOn = n >= 1 && lastEnd != ~0u && off == lastEnd + 4 && d_.longAt(lastEnd) == 0;
            if (n >= std::max(enough, 2u) || (n >= 2 && allCode) || goesOn) {
                Table t{d_.address(off), n, 4, false, true, 0, 0, {}};
                for (std::uint32_t e = 0; e < n; ++e) {
                    const std::uint32_t at = off + 4 * e;
                    const std::uint32_t v = d_.longAt(at);
                    t.targets.push_back(v);
                    for (std::uint32_t b = 0; b < 4; ++b) d_.flags[at + b] |= F_TABLE;
                    d_.pointer(at, PointerEvidence::Table, d_.address(off));
                    std::uint32_t to = 0;
                    d_.inImage(v, to);
                    if (d_.flags[to] & F_CODE) {
                        d_.label(to, Evidence::PointerTable, d_.address(at));
                    } else if (decode(to).ok) {
                        start(to, Evidence::PointerTable, work, d_.address(at));
                    } else {
                        d_.label(to, Evidence::PointerTable, d_.address(at));
                    }
                }
                d_.relabel(off, Evidence::Table);
                d_.tableIndex.emplace(off, d_.tables.size());
                d_.tables.push_back(std::move(t));
                found = true;
                off += 4 * n;
                lastEnd = off;
            } else {
                off += 4 * (n + 1);
            }
        }
        return found;
    }

  private:
    bool pointsAtCode(std::uint32_t at, bool& allCode) const {
        for (std::uint32_t b = 0; b < 4; ++b) {
            if (d_.flags[at + b] & (kKnown & ~F_DATA)) return false;
        }
        const std::uint32_t v = d_.longAt(at);
        std::uint32_t to;
        if ((v & 1) || !d_.inImage(v, to) || to + 1 >= d_.size()) return false;
        if (d_.flags[to] & (F_CONT | F_LITIN)) return false;
        if ((d_.flags[to] & F_TABLE) && !d_.tableStarting(to)) return false;
        if (!(d_.flags[to] & F_CODE)) allCode = false;
        return true;
    }

    bool tried(std::uint32_t c) {
        return !d_.triedGaps.insert(c).second;
    }

    void start(std::uint32_t c, Evidence why, std::vector<std::uint32_t>& work,
               std::uint32_t from = Model::Data::kNoCause) {
        d_.startFunction(c, why, from);
        work.push_back(c);
    }

    Model::Data& d_;
};


}  // namespace

bool routineAt(const Model::Data& d, std::uint32_t off) {
    return decodeRoutine(d, off).ok;
}

bool discoverCode(Model::Data& d, std::vector<std::uint32_t>& work) {
    // Routines after routines first (whose pools are then known), tables of pointers in
    // data only when no more are found.
    Discovery discovery(d);
    return discovery.gaps(work) || discovery.pointerTables(work);
}

namespace {

// Whether text starts at off: at least kTextRun printable bytes, then a 0, after a 0 or
// at a 4-aligned address (a string the compiler placed, not the tail of another).
bool textStart(const Model::Data& d, std::uint32_t off) {
    if (off > 0 && d.image[off - 1] != 0 && (d.address(off) & 3) != 0) return false;
    std::uint32_t n = 0;
    while (off + n < d.size() && n < kTextMost && d.image[off + n] >= 0x20 && d.image[off + n] < 0x7F) ++n;
    return n >= kTextRun && off + n < d.size() && d.image[off + n] == 0;
}

// An array of structures that code names, {number, pointer, ...} rows: with a stride
// of 2 to 4 longs, the slot whose long in every row (at least kFewestRows of them, up to
// anything known or labelled) points at a text start or a labelled item holds pointers,
// though no two of them stand side by side.
void structureRows(Model::Data& d, std::uint32_t start, std::uint32_t literal) {
    auto pointsAtItem = [&d](std::uint32_t at) {
        const std::uint32_t v = d.longAt(at);
        std::uint32_t to;
        if (v < kLowestPointer || !d.inImage(v, to) || !d.labelFits(to) || (d.flags[to] & F_CODE) ||
            (d.more[at] & G_CONST))
            return false;
        return textStart(d, to) || (d.flags[to] & F_LABEL) != 0;
    };
    for (std::uint32_t longs = 2; longs <= 4; ++longs) {
        const std::uint32_t stride = 4 * longs;
        for (std::uint32_t slot = 0; slot < longs; ++slot) {
            std::uint32_t rows = 0;
            for (; rows < kMostRows; ++rows) {
                const std::uint32_t row = start + rows * stride;
                if (row + stride > d.size()) break;
                bool clear = true;
                for (std::uint32_t b = 0; b < stride; ++b) {
                    const std::uint16_t f = d.flags[row + b];
                    clear = clear && !(f & (kKnown | F_PTR)) && !(b > 0 && rows > 0 && (f & F_LABEL)) &&
                            !(rows > 0 && b == 0 && (f & F_LABEL));
                }
                if (!clear || !pointsAtItem(row + 4 * slot)) break;
            }
            if (rows < kFewestRows) continue;
            for (std::uint32_t r = 0; r < rows; ++r) {
                const std::uint32_t at = start + r * stride + 4 * slot;
                const std::uint32_t v = d.longAt(at);
                std::uint32_t to;
                d.inImage(v, to);
                d.pointer(at, PointerEvidence::Member, d.address(literal));
                d.label(to, Evidence::Pointer, d.address(at));
            }
            return;
        }
    }
}

}  // namespace

void bytesAsData(Model::Data& d) {
    constexpr std::uint16_t kTaken = F_CODE | F_CONT | F_LITW | F_LITL | F_LITIN | F_TABLE;
    for (const auto& [at, passedOn] : d.byteReads) {
        std::uint32_t end = at;
        if (textStart(d, at)) {
            while (d.image[end] != 0) ++end;
            ++end;  // its 0
        } else if (!passedOn) {
            end = std::min(at + 2, d.size());
        }
        // Up to what code or a table already holds (a table the switch finder took reads
        // by bytes too).
        for (std::uint32_t q = at; q < end && !(d.flags[q] & kTaken) && !(q > at && (d.flags[q] & F_LABEL)) &&
                                   !d.tableStarting(q);
             ++q)
            d.flags[q] |= F_DATA;
    }
    d.byteReads.clear();
}

// The members of a structure in data that a pointer of code names (a descriptor, a
// table of hooks): in its first kMemberReach bytes, up to anything else, a 4-aligned long
// holding a 4-aligned address of data in the image, above kLowestPointer, is a pointer.
void structureMembers(Model::Data& d, std::uint32_t literal) {
    std::uint32_t start;
    if (!d.inImage(d.longAt(literal), start) || (d.address(start) & 3) != 0 || (d.flags[start] & (kKnown | F_TABLE)))
        return;
    structureRows(d, start, literal);
    for (std::uint32_t at = start; at + 3 < d.size() && at - start < kMemberReach; at += 4) {
        if (at != start && (d.flags[at] & F_LABEL)) return;
        if (d.longFlags(at) & (kKnown | F_PTR)) return;
        const std::uint32_t v = d.longAt(at);
        std::uint32_t to;
        if (v < kLowestPointer || (v & 3) != 0 || !d.inImage(v, to) || !d.labelFits(to) || (d.flags[to] & F_CODE) ||
            (d.more[at] & G_CONST))
            continue;
        d.pointer(at, PointerEvidence::Member, d.address(literal));
        d.label(to, Evidence::Pointer, d.address(at));
    }
}

// A long of data that holds the start of a function (a callback in a structure, a
// member of an array of structures): a pointer. Chance rarely hits a function's first
// byte exactly; a function start below kLowestPointer is not taken so. Once, when the
// code is known.
void functionPointers(Model::Data& d) {
    for (std::uint32_t off = 0; off + 3 < d.size(); ++off) {
        if ((d.address(off) & 3) != 0) continue;
        if (d.longFlags(off) & (kKnown | F_PTR)) {
            off += 3;
            continue;
        }
        const std::uint32_t v = d.longAt(off);
        std::uint32_t to;
        if (v >= kLowestPointer && d.inImage(v, to) && (d.flags[to] & F_FUNC) && !(d.more[off] & G_CONST)) {
            d.pointer(off, PointerEvidence::FunctionStart, Model::Data::kNoCause);
        }
        off += 3;
    }
}

void markPointers(Model::Data& d, std::vector<std::uint32_t>& work) {
    Discovery discovery(d);
    for (const std::uint32_t off : d.literals) {
        if ((d.flags[off] & (F_PTR | F_CODE | F_CONT)) || (d.more[off] & G_CONST) || off + 3 >= d.size()) continue;
        const std::uint32_t v = d.longAt(off);
        const bool used = (d.flags[off] & F_USED) != 0;
        std::uint32_t to;
        if (!d.inImage(v, to)) {
            if (const auto alias = d.aliasOffset(v); alias && (used || v >= kLowestPointer) &&
                                                     d.labelFits(*alias))
                d.label(*alias, Evidence::Pointer, d.address(off));
            continue;
        }
        // The address of an entry of a table after its first (tables that lie one after
        // another, taken as one): the entry starts a table of its own, with a label.
        if ((d.flags[to] & F_TABLE) && !d.labelFits(to)) d.cutTable(to, false);
        if (!d.labelFits(to)) {
            // Used as an address, but into the middle of an item: a pointer all the same,
            // written as its number with the item it points into.
            if (used && d.insideItem(v)) {
                const std::uint32_t* user = d.usedBy.find(off);
                d.pointer(off, PointerEvidence::UsedAsAddress, user != nullptr ? *user : Model::Data::kNoCause);
            }
            continue;
        }
        if (!used && v < kLowestPointer) continue;
        // Stored to memory by a long store: kept in a structure, a callback when it names
        // code. Passed to a call in an argument register: a string, a buffer, a callback.
        // Without such evidence a value is a number, whatever its size (a count of
        // 65,536 equals an address of any image larger than that): at most a maybe-pointer.
        const std::uint32_t* store = d.storedBy.find(off);
        const bool stored = store != nullptr;
        const std::uint32_t* pass = d.passedTo.find(off);
        const std::uint32_t* back = d.returnedBy.find(off);
        const bool passed = pass != nullptr, returned = back != nullptr;
        if (!used && !stored && !passed && !returned) continue;
        if (d.flags[to] & F_CODE) {
            // Code, but no function starts there: a pointer only when code stores it (a
            // state kept in a structure to resume at).
            if (!used && !(d.flags[to] & F_FUNC) && !stored) continue;
        } else if (!used && (v & 1) == 0 && !(d.flags[to] & kKnown) && d.guess) {
            const Routine r = discovery.decode(to);
            if (r.ok && discovery.prologue(to, r)) {
                const Evidence why = stored ? Evidence::Stored : Evidence::Prologue;
                d.startFunction(to, why, stored ? *store : d.address(off));
                work.push_back(to);
            }
        }
        const std::uint32_t* user = d.usedBy.find(off);
        if (used) {
            d.pointer(off, PointerEvidence::UsedAsAddress, user != nullptr ? *user : Model::Data::kNoCause);
        } else if (stored && (d.flags[to] & F_CODE)) {
            d.pointer(off, PointerEvidence::Stored, *store);
        } else if (passed) {
            d.pointer(off, PointerEvidence::Passed, *pass);
        } else if (returned) {
            d.pointer(off, PointerEvidence::Returned, *back);
        } else {  // stored, holding the address of data
            d.pointer(off, PointerEvidence::Stored, *store);
        }
        d.label(to, Evidence::Pointer, d.address(off));
        if (v >= kLowestPointer) structureMembers(d, off);
    }
}

}  // namespace korvane::dis
