// The loops of the paths: code finding (follow), the register pass (walk, join),
// valueBefore, and the paths after calls (resume).
#include <algorithm>

#include "disasm/analysis/limits.h"
#include "disasm/analysis/paths.h"

namespace korvane::dis {

using sh2::Form;

// Follows every path of the work. What comes after a call waits (see resume).
void Flow::run(std::vector<std::uint32_t>& work) {
    while (!work.empty()) {
        const std::uint32_t off = work.back();
        work.pop_back();
        const std::uint32_t end = follow(off, work, Registers{});
        if (end > off) d_.paths.push_back({off, end});
    }
}

// The paths after calls, resumed once nothing else is left to find (tables found
// too), lowest address first, so that the loads of the code before them have marked
// their literals: a literal after a call's slot means that the callee does not
// return, and the path ends there, as it does after every later call to it. True
// when a path went on.
// Rounds go on here while they meet no jump through a register (whose table the code
// after it may need first).
bool Flow::resume(std::vector<std::uint32_t>& work) {
    bool went = false;
    while (!afterCalls_.empty()) {
        std::vector<AfterCall> round;
        round.swap(afterCalls_);
        std::sort(round.begin(), round.end(), [](const AfterCall& a, const AfterCall& b) { return a.at < b.at; });
        for (const AfterCall& a : round) {
            if (d_.readAsData(a.at)) {
                if (a.callee != kNoCallee) d_.noReturn.emplace(a.callee, d_.address(a.at - 4));
                continue;
            }
            if (a.callee != kNoCallee && d_.noReturn.count(a.callee)) continue;
            const std::uint32_t end = follow(a.at, work, a.regs);
            if (end > a.at) {
                d_.paths.push_back({a.at, end});
                went = true;
            }
            run(work);
        }
        if (!jumps_.empty()) break;
    }
    if (went) {  // the register states were walked over less code: walked again when asked
        states_.clear();
        for (const std::uint32_t off : settledAt_) settled_[off] = false;
        settledAt_.clear();
    }
    return went || !afterCalls_.empty();
}

// Register values across joins, for the calls and jumps through registers that the
// paths left unknown: the state at every labelled instruction is what all the paths
// into it agree on, walked from the start of the function (or case) that holds the
// call. States are kept from one pass to the next. A call or jump whose register
// turns out known goes to work; true when one did.
bool Flow::registerPass(std::vector<std::uint32_t>& work) {
    if (settled_.empty()) settled_.assign(d_.size(), false);
    std::vector<std::uint32_t> pending;
    std::vector<std::uint32_t> sites;
    sites.swap(unresolved_);
    std::sort(sites.begin(), sites.end());
    // One sweep: for each site, the last start of a function or case before it, on
    // code without a gap.
    constexpr std::uint32_t kNone = ~0u;
    std::uint32_t start = kNone;
    std::size_t next = 0;
    for (std::uint32_t p = 0; p < d_.size() && next < sites.size(); ++p) {
        const std::uint16_t f = d_.flags[p];
        if (!(f & (F_CODE | F_CONT))) {
            start = kNone;
        } else if ((f & F_FUNC) ||
                   ((f & F_CODE) && (f & F_LABEL) && d_.reasonAt(p) != Evidence::Branch)) {
            start = p;
        }
        for (; next < sites.size() && sites[next] == p; ++next) {
            if (start != kNone && !(f & F_KNOWN)) seed(start, pending);
        }
    }
    const std::size_t before = work.size();
    while (!pending.empty()) {
        const std::uint32_t off = pending.back();
        pending.pop_back();
        walk(off, pending, work);
    }
    return work.size() != before;
}

// The value a register holds before the instruction at off, on every path into its
// block: the registers joined at the block's label over the paths from the start of
// the function that holds it, then the block's own instructions.
std::optional<std::uint32_t> Flow::valueBefore(std::uint32_t off, unsigned reg) {
    if (settled_.empty()) settled_.assign(d_.size(), false);
    constexpr std::uint32_t kNone = ~0u;
    std::uint32_t start = off, block = off, entered = kNone;
    bool blockFound = false;
    for (std::uint32_t p = off;; p -= 2) {
        const std::uint16_t f = d_.flags[p];
        // The function's start: every path into the block begins there. Where none
        // is known yet, the nearest place a jump or a case enters the code.
        if (!(f & F_CODE)) {
            if (entered == kNone) return std::nullopt;
            start = entered;
            break;
        }
        if (!blockFound && (f & F_LABEL)) {
            block = p;
            blockFound = true;
        }
        if (f & F_FUNC) {
            start = p;
            break;
        }
        if (entered == kNone && (f & F_LABEL) && d_.reasonAt(p) != Evidence::Branch) entered = p;
        if (p < 2 || off - p > kFarthestStart) {
            if (entered == kNone) return std::nullopt;
            start = entered;
            break;
        }
    }
    if (!blockFound || block < start) block = start;
    std::vector<std::uint32_t> pending, work;
    seed(start, pending);
    while (!pending.empty()) {
        const std::uint32_t at = pending.back();
        pending.pop_back();
        walk(at, pending, work);
    }
    Registers regs;
    if (block != start) {
        const auto it = states_.find(block);
        if (it == states_.end()) return std::nullopt;
        regs = it->second;
    }
    for (std::uint32_t p = block; p < off; p += 2) {
        if (!(d_.flags[p] & F_CODE)) return std::nullopt;
        const Step s = stepAt(d_, p, regs);
        // BT/S and BF/S fall through after their slot, which runs either way (and
        // reads from its own address then).
        if (s.delayed() && !s.conditional()) return std::nullopt;
        if (!s.conditional()) transfer(regs, s);
    }
    if (!regs.has(reg)) return std::nullopt;
    return regs.value[reg];
}

void Flow::seed(std::uint32_t off, std::vector<std::uint32_t>& pending) {
    if (!(d_.flags[off] & F_CODE) || settled_[off]) return;
    settle(off);
    states_.erase(off);
    pending.push_back(off);
}

// Joins a path's registers into the state at off; true when that state changed.
bool Flow::join(std::uint32_t off, const Registers& r, std::vector<std::uint32_t>& pending) {
    if (off >= d_.size() || !(d_.flags[off] & F_CODE) || settled_[off]) return false;
    auto it = states_.find(off);
    Registers merged = r;
    if (it != states_.end()) {
        merged = agreed(it->second, r);
        if (merged == it->second) return false;
    }
    if (merged.known == 0 && merged.traced == 0 && merged.named == 0) {
        states_.erase(off);
        settle(off);  // nothing known: it cannot change again
    } else {
        states_[off] = merged;
    }
    pending.push_back(off);
    return true;
}

void Flow::walk(std::uint32_t start, std::vector<std::uint32_t>& pending, std::vector<std::uint32_t>& work) {
    Registers regs;
    if (const auto it = states_.find(start); it != states_.end()) regs = it->second;
    for (std::uint32_t off = start;; off += 2) {
        if (off + 1 >= d_.size() || !(d_.flags[off] & F_CODE)) return;
        if (off != start && (d_.flags[off] & F_LABEL)) {
            join(off, regs, pending);
            return;
        }
        const Step st = stepAt(d_, off, regs);
        std::uint32_t t;
        if (st.kind == Step::Branch) {
            if (d_.inImage(*st.target, t)) join(t, regs, pending);
            continue;
        }
        if (!st.delayed()) {
            transfer(regs, st);
            continue;
        }
        const std::optional<std::uint32_t> to = st.target;
        if (st.throughRegister() && to && !(d_.flags[off] & F_KNOWN)) {
            d_.flags[off] |= F_KNOWN;
            const unsigned m = st.fields.m;
            if (regs.hasOrigin(m)) throughLiteral(st, regs.origin[m], regs.value[m]);
            target(off, *to, st.call() ? RefKind::Call : RefKind::Jump, st.call() ? Evidence::Call : Evidence::Jump,
                   work, true);
        }
        const std::uint32_t slot = off + 2;
        if (slot + 1 >= d_.size() || !(d_.flags[slot] & F_CODE)) return;
        const Step ss = stepSlot(d_, st, slot, regs);
        transfer(regs, ss);
        const bool call = returnsAfterSlot(st, ss.form);
        if (to && !call && d_.inImage(*to, t)) join(t, regs, pending);
        if (!goesOn(regs, call, st) || (call && d_.noReturn.count(calleeOf(to)))) return;
        off += 2;
    }
}

// ---- the rules of a path, shared by code finding (follow) and the register pass (walk)
// After a branch and its slot: whether the path goes on (after a call, with what the
// callee may change forgotten).
bool Flow::goesOn(Registers& regs, bool call, const Step& branch) {
    if (call) {
        regs.afterCall();
        return true;
    }
    return branch.goesOn();
}

// The offset of a known callee in the image, or kNoCallee.
std::uint32_t Flow::calleeOf(std::optional<std::uint32_t> to) const {
    std::uint32_t t;
    return to && d_.inImage(*to, t) ? t : kNoCallee;
}

void Flow::settle(std::uint32_t off) {
    settled_[off] = true;
    settledAt_.push_back(off);
}

// Where an instruction may start: an even address, two bytes, not forced data (whether
// the word is one, the step says).
bool Flow::placeable(std::uint32_t off) const {
    if (off + 1 >= d_.size() || (d_.address(off) & 1) != 0) return false;
    return ((d_.flags[off] | d_.flags[off + 1]) & F_DATA) == 0;
}

void Flow::mark(std::uint32_t off, const Step& s) {
    d_.flags[off] |= F_CODE;
    d_.flags[off + 1] |= F_CONT;
    ++d_.instructions;
    if (s.pcRelative) pcRelative(off, s, RefKind::Load);
}

// A code target: labelled, referenced, followed.
void Flow::target(std::uint32_t from, std::uint32_t to, RefKind kind, Evidence why, std::vector<std::uint32_t>& work, bool record) {
    if (record) d_.refs.push_back({d_.address(from), to, kind});
    std::uint32_t t;
    if (!d_.inImage(to, t) || (to & 1) != 0) return;
    if (kind == RefKind::Call) d_.startFunction(t, why, d_.address(from));
    else d_.label(t, why, d_.address(from));
    work.push_back(t);
}

// Follows one path; the offset after the last instruction it marked.
std::uint32_t Flow::follow(std::uint32_t start, std::vector<std::uint32_t>& work, Registers regs) {
    // A branch into the delay slot of a jump (GNU as relaxes a BF/S out of reach into
    // BT over a BRA whose slot is the BF/S's): the slot's instruction runs as itself
    // there, and the path goes on after it.
    if (intoJumpSlot(start)) {
        regs.forgetAll();
        start += 2;
    }
    for (std::uint32_t off = start;; off += 2) {
        if (off >= d_.size() || (d_.flags[off] & F_CODE) != 0) {
            if (regs.traced) evidenceOn(off, regs);
            return off;
        }
        // A path does not run into words that code reads as data.
        if (d_.flags[off] & (F_LITW | F_LITL | F_LITIN | F_TABLE)) return off;
        if (off != start && (d_.flags[off] & F_LABEL)) {  // paths join
            if (regs.traced) evidenceOn(off, regs);
            regs.forgetAll();
        }
        if (!placeable(off)) return off;
        const Step st = stepAt(d_, off, regs);
        if (!st.ok()) return off;
        mark(off, st);
        if (st.kind == Step::Branch) {  // BT, BF
            target(off, *st.target, RefKind::Branch, Evidence::Branch, work, false);
            evidenceAt(*st.target, regs);
            continue;
        }
        if (!st.delayed()) {
            transfer(regs, st);
            continue;
        }
        // Where the branch goes, when that is known.
        const std::optional<std::uint32_t> to = st.target;
        if (st.throughRegister() && to) {
            d_.flags[off] |= F_KNOWN;
            // JSR/JMP through a literal: the literal is a pointer to code.
            const unsigned m = st.fields.m;
            if (regs.hasOrigin(m)) throughLiteral(st, regs.origin[m], regs.value[m]);
        }
        // The delay slot runs before the branch.
        const std::uint32_t slot = off + 2;
        const Step ss = slot < d_.size() && !(d_.flags[slot] & (F_LITW | F_LITL | F_LITIN | F_TABLE)) && placeable(slot)
                            ? stepSlot(d_, st, slot, regs)
                            : Step{};
        const bool slotOk = ss.ok();
        const bool call = returnsAfterSlot(st, ss.form);
        if (slotOk) {
            d_.flags[slot] |= F_SLOT;
            if (!(d_.flags[slot] & F_CODE)) slotInstruction(slot, st, ss, regs);
            transfer(regs, ss);
        }
        // What a MOVA named, passed to a callee in an argument register: text there is
        // data (a string handed to a routine that reads it).
        if (call && (regs.named & kArgumentRegisters)) {
            for (unsigned k = 0; k < 16; ++k) {
                if ((kArgumentRegisters >> k) & regs.named & 1u) d_.byteRead(regs.place[k], true);
            }
        }
        handedOn(st, off, regs);
        if (to && !call) evidenceAt(*to, regs);
        const bool byRegister = st.throughRegister();
        if (to) {
            const RefKind kind = call ? RefKind::Call : !byRegister ? RefKind::Branch : RefKind::Jump;
            const Evidence why = call ? Evidence::Call : !byRegister ? Evidence::Branch : Evidence::Jump;
            target(off, *to, kind, why, work, byRegister);
        } else if (byRegister) {
            if (st.fields.m >= 8) unresolved_.push_back(off);
            jumps_.push_back(off);  // a table (of cases, of code pointers) may say where it goes
        }
        if (!slotOk) return off + 2;
        if (!goesOn(regs, call, st)) return off + 4;
        if (call) {  // goes on later, unless the callee turns out not to return
            const std::uint32_t callee = calleeOf(to);
            if (callee == kNoCallee || !d_.noReturn.count(callee)) {
                afterCalls_.push_back({off + 4, callee, regs});
            }
            return off + 4;
        }
        off += 2;
    }
}

// Whether off is the delay slot of a branch after which no path goes on by itself
// (BRA, BRAF, JMP, RTS, RTE), already walked as that slot.
bool Flow::intoJumpSlot(std::uint32_t off) const {
    if (off < 2 || off + 2 >= d_.size() || (d_.flags[off] & (F_CODE | F_SLOT)) != (F_CODE | F_SLOT)) return false;
    const sh2::Form* branch = sh2::decodeForm(d_.word(off - 2));
    return branch != nullptr && (d_.flags[off - 2] & F_CODE) && (branch->flow & sh2::FlowEnds);
}

// The instruction in a delay slot, first met (ss: its step, counted from the branch's
// target). A PC-relative load there reads from the branch target (and, when a BT/S or
// BF/S is not taken, from the slot itself).
void Flow::slotInstruction(std::uint32_t slot, const Step& branch, const Step& ss, const Registers& regs) {
    d_.flags[slot] |= F_CODE;
    d_.flags[slot + 1] |= F_CONT;
    ++d_.instructions;
    std::uint32_t t;
    // A branch is illegal in a slot: not followed, but its target is named.
    if (ss.target && !ss.throughRegister() && d_.inImage(*ss.target, t))
        d_.label(t, Evidence::Branch, d_.address(slot));
    if (!ss.pcRelative) return;
    d_.flags[slot] |= F_SLOTPC;
    SlotRead read;
    if (branch.slotPc) {
        read.taken = ss.literal;
        pcRelative(slot, ss, RefKind::SlotLoad);
    }
    if (branch.conditional()) {
        const Step own = stepAt(d_, slot, regs);
        read.notTaken = own.literal;
        pcRelative(slot, own, RefKind::SlotLoad);
    }
    d_.slotReads.emplace(slot, read);
}

}  // namespace korvane::dis
