// What the analysis could not decide, recorded so that an edit can be checked against
// either answer: data that may be code (a run of words that all decode, one of them a
// return or jump) with the places its branches and PC-relative loads would reach; a
// relative jump table that no bound limits, with the targets of its plausible entries;
// a literal that holds an address in the image but has no evidence of being a pointer.
// Each place they would reach gets a label, so that --check can see it move.
#include <algorithm>

#include "disasm/analysis/analysis.h"
#include "disasm/analysis/limits.h"

namespace korvane::dis {

namespace {

constexpr std::uint16_t kExplained = F_CODE | F_CONT | F_LITW | F_LITL | F_LITIN | F_TABLE | F_DATA;

// Where a would-be reference could be checked: a place in the image where a label stands.
bool markable(const Model::Data& d, std::uint32_t target, std::uint32_t& to) {
    return d.inImage(target, to) && d.labelFits(to);
}

// hints: where a plausible entry of an open table would jump (code there needs no
// return of its own to be maybe code: cases often end in a BRA).
void maybeCode(Model::Data& d, const std::vector<std::uint32_t>& hints) {
    for (std::uint32_t off = 0; off + 1 < d.size();) {
        if ((d.address(off) & 1) || ((d.flags[off] | d.flags[off + 1]) & kExplained)) {
            ++off;
            continue;
        }
        // A run of words that all decode, no slot holding a branch, with a return or a
        // jump through a register (rare in other data: RTS is one word of 65,536), or
        // a call or jump through a register that a PC-relative MOV.L before it set, nothing
        // writing it between (how compilers call a routine out of BSR's reach).
        std::uint32_t end = off;
        bool ends = false, slot = false, loadThenCall = false, readsPool = false;
        std::uint16_t loaded = 0;  // registers the last few words loaded PC-relatively
        while (end + 1 < d.size() && !((d.flags[end] | d.flags[end + 1]) & kExplained)) {
            const auto w = sh2::decode(d.word(end));
            if (!w || (slot && (w->form->flow & sh2::FlowSlotIllegal))) break;
            const sh2::Form& f = *w->form;
            slot = (f.flow & sh2::FlowDelayed) != 0;
            ends = ends || ((f.flow & sh2::FlowEnds) && f.reach == sh2::Reach::None);
            if ((f.flow & sh2::FlowRegister) && !(f.flow & sh2::FlowRelative) && ((loaded >> w->fields.m) & 1u))
                loadThenCall = true;
            loaded = static_cast<std::uint16_t>(loaded & ~sh2::writtenRegisters(f, w->fields));
            if (f.reach == sh2::Reach::PcLong) loaded = static_cast<std::uint16_t>(loaded | 1u << w->fields.n);
            // A PC-relative load of a long past the run, in data: a short routine whose
            // literal stands in a later pool (compilers share pools between routines).
            if (f.reach == sh2::Reach::PcLong) {
                std::uint32_t to;
                if (d.inImage(sh2::targetOf(f, w->fields, d.address(end)), to) && to > end && to + 3 < d.size() &&
                    !((d.flags[to] | d.flags[to + 3]) & (F_CODE | F_CONT)))
                    readsPool = true;
            }
            end += 2;
        }
        const auto hint = std::lower_bound(hints.begin(), hints.end(), off);
        if ((ends && (end - off >= kShortestCode || readsPool)) || loadThenCall ||
            (hint != hints.end() && *hint < end)) {
            const std::size_t before = d.wouldBe.size();
            for (std::uint32_t at = off; at < end; at += 2) {
                const sh2::Decoded w = *sh2::decode(d.word(at));
                if (w.form->reach == sh2::Reach::None) continue;
                const std::uint32_t target = sh2::targetOf(*w.form, w.fields, d.address(at));
                std::uint32_t to;
                if (!markable(d, target, to)) continue;
                d.wouldBe.push_back({at, target, w.form});
                d.label(to, Evidence::Unsettled, d.address(at));
            }
            if (d.wouldBe.size() != before) d.unknownAt.push_back(off);  // the run counts once
        }
        off = end > off ? end : off + 2;
    }
}

void openTables(Model::Data& d, std::vector<std::uint32_t>& hints) {
    for (Table& t : d.tables) {
        std::uint32_t off;
        if (t.count != 0 || !t.relative || t.jump == 0 || !d.inImage(t.address, off)) continue;
        for (std::uint32_t e = 0; e < kMostOpenEntries; ++e) {
            const std::uint32_t at = off + e * t.width;
            if (at + t.width > d.size() || (e > 0 && (d.flags[at] & F_LABEL))) break;
            bool taken = false;
            for (std::uint32_t b = 0; b < t.width; ++b) taken = taken || (d.flags[at + b] & kExplained);
            if (taken) break;
            const std::uint32_t target = t.base + d.entryAt(at, t.width, true);
            std::uint32_t to;
            if ((target & 1) || !markable(d, target, to) || to + 1 >= d.size() || !sh2::decode(d.word(to))) break;
            t.targets.push_back(target);
        }
        if (t.targets.empty()) continue;
        d.unknownAt.push_back(off);
        std::uint32_t base;
        if (t.base != t.address && d.inImage(t.base, base)) d.markBase(base);
        for (const std::uint32_t target : t.targets) {
            std::uint32_t to;
            d.inImage(target, to);
            d.label(to, Evidence::Unsettled, t.address);
            hints.push_back(to);
        }
    }
}

// A long that holds an address in the image where a label can stand, with no evidence
// either way: a literal, or a 4-aligned long of data that nothing explains (a member
// of a structure, an entry of a table too short to count).
// One that names the inside of an item (an instruction, a literal, a table's entry) is
// marked with the item, which gets a label.
void maybePointer(Model::Data& d, std::uint32_t off) {
    std::uint32_t to;
    if ((d.flags[off] & F_PTR) || (d.more[off] & G_CONST) || off + 3 >= d.size() || d.longAt(off) == 0) return;
    if (!markable(d, d.longAt(off), to)) {
        const auto item = d.insideItem(d.longAt(off));
        if (!item || !d.labelFits(*item)) return;
        to = *item;
    }
    d.more[off] |= G_MAYBE;
    d.label(to, Evidence::Unsettled, d.address(off));
    d.unknownAt.push_back(off);
}

void maybePointers(Model::Data& d) {
    for (const std::uint32_t off : d.literals) {
        if (d.flags[off] & F_LITL) maybePointer(d, off);
    }
    for (std::uint32_t off = 0; off + 3 < d.size(); ++off) {
        if ((d.address(off) & 3) != 0) continue;
        if (d.longFlags(off) & kExplained) continue;
        maybePointer(d, off);
        off += 3;
    }
}

// Where a table of pointers points at words that no path or rule took as code: a routine
// that only the table names may start there (code found that way needs no return of its
// own within the run either).
void pointedAt(const Model::Data& d, std::vector<std::uint32_t>& hints) {
    for (const Table& t : d.tables) {
        if (!t.pointers) continue;
        for (const std::uint32_t target : t.targets) {
            std::uint32_t to;
            if (!(target & 1) && d.inImage(target, to) && !(d.flags[to] & kExplained)) hints.push_back(to);
        }
    }
}

}  // namespace

void markUnknowns(Model::Data& d) {
    std::vector<std::uint32_t> hints;
    openTables(d, hints);
    pointedAt(d, hints);
    std::sort(hints.begin(), hints.end());
    maybeCode(d, hints);
    maybePointers(d);
    // A long that a label now splits is no statement of its own: no mark.
    std::erase_if(d.unknownAt, [&d](std::uint32_t off) {
        if (!(d.more[off] & G_MAYBE) || (d.flags[off] & F_LITW)) return false;
        for (std::uint32_t b = 1; b < 4; ++b) {
            if (d.boundary(off + b)) {
                d.more[off] &= static_cast<std::uint8_t>(~G_MAYBE);
                return true;
            }
        }
        return false;
    });
    std::sort(d.unknownAt.begin(), d.unknownAt.end());
}

}  // namespace korvane::dis
