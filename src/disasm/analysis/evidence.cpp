// What the paths learn on the way: literals used as addresses, stored, passed to
// calls, returned or jumped through; memory after the image; what MOVA named and code
// reads by bytes. And the transfer of the register lattice over a step.
#include <algorithm>

#include "disasm/analysis/limits.h"
#include "disasm/analysis/paths.h"

namespace korvane::dis {

using sh2::Form;

// A literal that a jump or call goes through unchanged: for JSR/JMP a pointer to
// code (a label), for BRAF/BSRF an offset from the branch's address + 4 (a number,
// with what it reaches in its comment).
void Flow::throughLiteral(const Step& s, std::uint32_t literal, std::uint32_t value) {
    const std::uint32_t pc = s.pc;
    const bool isLong = (d_.flags[literal] & F_LITL) != 0;
    if (!isLong && !(d_.flags[literal] & F_LITW)) return;
    const std::uint32_t held = isLong ? d_.longAt(literal)
                                      : static_cast<std::uint32_t>(static_cast<std::int16_t>(d_.word(literal)));
    if (held != value || (d_.more[literal] & G_CONST)) return;  // an index was added to it, or a number
    std::uint32_t t;
    if (s.relative()) {
        const std::uint32_t base = *s.target - value;  // where the offset counts from
        d_.offsets.emplace(literal, dis::Offset{base, base + value});
        if (d_.inImage(base, t)) d_.markBase(t);
        return;
    }
    if (!isLong || !d_.inImage(value, t) || (value & 1) || (d_.flags[literal] & F_PTR)) return;
    d_.pointer(literal, PointerEvidence::JumpedThrough, pc);
}

void Flow::literal(std::uint32_t at, unsigned width) {
    if (width == 4 && !(d_.flags[at] & F_LITL)) d_.literals.push_back(at);
    d_.flags[at] |= width == 2 ? F_LITW : F_LITL;
    for (unsigned i = 1; i < width && at + i < d_.size(); ++i) d_.flags[at + i] |= F_LITIN;
}

// What a PC-relative load or MOVA at from names (s: its step).
void Flow::pcRelative(std::uint32_t from, const Step& s, RefKind kind) {
    std::uint32_t t;
    const std::uint32_t target = s.literal;
    const bool mova = s.literalSize == 0;
    // The instruction itself says what it reads; only a slot's load is recorded.
    if (kind == RefKind::SlotLoad) d_.refs.push_back({d_.address(from), target, kind});
    if (!d_.inImage(target, t)) return;
    // A table of pointers taken from data before this routine was reached holds its
    // literals: it was no table.
    const std::uint32_t size = mova ? 1 : s.literalSize;
    for (std::uint32_t b = t; b < t + size && b < d_.size(); ++b) {
        if (d_.flags[b] & F_TABLE) d_.undoDataTable(b);
    }
    d_.label(t, mova ? Evidence::Mova : Evidence::Literal, d_.address(from));
    if (mova) d_.flags[t] |= F_ALIGN4;
    if (!mova) literal(t, s.literalSize);
}

// Memory after the image that the step reads or writes at an address it knows (an
// instruction that reads and writes one place, TAS.B, writes it).
void Flow::accessAfter(const Step& s) {
    for (unsigned i = 0; i < s.accesses; ++i) {
        const Step::Access& a = s.access[i];
        if (!a.written && i + 1 < s.accesses && s.access[i + 1].address == a.address && s.access[i + 1].written)
            continue;
        d_.useAfter(a.address, a.bytes, a.written ? AfterUse::Written : AfterUse::Read, s.pc);
    }
}

// What a step does to the registers the path knows and to where their values came
// from, with the evidence the literals and MOVA places they hold get on the way.
void Flow::transfer(Registers& r, const Step& s) {
    const Form& f = *s.form;
    const sh2::Fields& x = s.fields;
    const std::uint32_t pc = s.pc;
    const FormMemory& memory = memoryOf(f);
    if (s.accesses) accessAfter(s);
    if (r.traced) {
        // A literal whose register is used as an address is a pointer.
        const std::uint16_t used = static_cast<std::uint16_t>(s.addresses & r.traced);
        for (unsigned k = 0; used >> k; ++k) {
            if (!((used >> k) & 1u) || (d_.flags[r.origin[k]] & F_USED)) continue;
            d_.flags[r.origin[k]] |= F_USED;
            d_.usedBy.emplace(r.origin[k], pc);
        }
        // A literal whose register a long store writes to memory: a value kept in a
        // structure (a callback registered there, when it points at code).
        if (memory.stores == 4 && memory.storedFrom != 0) {
            const unsigned src = memory.storedFrom == '0' ? 0u : memory.storedFrom == 'n' ? x.n : x.m;
            if ((r.traced >> src) & 1u) d_.storedBy.emplace(r.origin[src], pc);
        }
    }
    // What a MOVA named and code reads by bytes is data.
    if (memory.loads == 1 && memory.stores == 0 && r.named) {
        const std::uint16_t through = static_cast<std::uint16_t>(s.addresses & r.named);
        for (unsigned k = 0; through >> k; ++k) {
            if ((through >> k) & 1u) d_.byteRead(r.place[k], false);
        }
    }
    // Where the values come from: a literal (an index added to it or subtracted from
    // it keeps it one, for evidence), or a place MOVA named.
    const bool copy = &f == k_->movRR, add = &f == k_->addRR || &f == k_->addImm;
    const bool reg = &f == k_->addRR;
    std::uint16_t traced = 0, named = 0;
    std::uint32_t origin = 0, place = 0;
    if (copy || add) {
        const unsigned from = copy ? x.m : (r.hasOrigin(x.n) || !reg ? x.n : x.m);
        const unsigned base = copy ? x.m : (r.isNamed(x.n) || !reg ? x.n : x.m);
        if (r.hasOrigin(from)) traced = 1, origin = r.origin[from];
        if (r.isNamed(base)) named = 1, place = r.place[base];
    } else if (&f == k_->subRR && r.hasOrigin(x.n) && !r.hasOrigin(x.m)) {
        traced = 1, origin = r.origin[x.n];  // (what a pointer is subtracted from is none)
    }
    r.forgetAll(s.written);
    for (unsigned i = 0; i < s.outs; ++i) r.set(s.outReg[i], s.outValue[i]);
    std::uint32_t t;
    if (s.pcRelative && s.outs && d_.inImage(s.literal, t)) {
        if (s.literalSize == 0) r.name(0, t);
        else r.trace(x.n, t);
    }
    if (traced) r.trace(x.n, origin);
    if (named) r.name(x.n, place);
}

// Where a path joins others (a label, a branch's target, code already known), the
// paths may disagree on a register, and what is known of it is dropped there; but the
// literal this path carries reaches what comes next on it all the same (cases that
// each load their own pointer and share the JSR, the loop that uses it). So the path
// is read on, branches and all, for evidence alone: a use as an address, a store, a
// call's argument or a jump through it, up to a budget of instructions.
void Flow::evidenceOn(std::uint32_t from, const Registers& at) {
    constexpr std::uint16_t kData = F_LITW | F_LITL | F_LITIN | F_TABLE | F_DATA;
    std::vector<std::pair<std::uint32_t, Registers>> paths{{from, at}};
    std::vector<std::uint32_t> seen;
    unsigned budget = kEvidenceMost;
    auto branchTo = [&](std::uint32_t address, const Registers& regs) {
        std::uint32_t t;
        if (regs.traced && !(address & 1) && d_.inImage(address, t) && std::find(seen.begin(), seen.end(), t) == seen.end()) {
            seen.push_back(t);
            paths.emplace_back(t, regs);
        }
    };
    // (A literal already used as an address needs no more: its register is let go.)
    auto settled = [this](Registers& regs) {
        for (unsigned k = 0; regs.traced >> k; ++k) {
            if (regs.hasOrigin(k) && (d_.flags[regs.origin[k]] & F_USED))
                regs.traced = static_cast<std::uint16_t>(regs.traced & ~(1u << k));  // (its value stays known)
        }
    };
    while (!paths.empty() && budget != 0) {
        auto [off, regs] = paths.back();
        paths.pop_back();
        for (; budget != 0 && (settled(regs), regs.traced); --budget, off += 2) {
            if (off + 3 >= d_.size() || (d_.flags[off] & (kData | F_CONT))) break;
            if (!placeable(off)) break;
            const Step st = stepAt(d_, off, regs);
            if (!st.ok()) break;
            transfer(regs, st);  // a JMP or JSR through it uses it as an address
            if (st.kind == Step::Branch) branchTo(*st.target, regs);
            if (!st.delayed()) continue;
            if (!(d_.flags[off + 2] & kData) && placeable(off + 2)) {
                if (const Step ss = stepSlot(d_, st, off + 2, regs); ss.ok()) transfer(regs, ss);
            }
            handedOn(st, off, regs);
            if (st.call()) {
                regs.afterCall();
            } else if (st.target) {
                branchTo(*st.target, regs);
            } else {  // a jump through a table found for it: to its cases
                for (const Table& t : d_.tables) {
                    if (t.jump != st.pc) continue;
                    for (const std::uint32_t target : t.targets) branchTo(target, regs);
                }
            }
            if (!st.goesOn()) break;
            off += 2;  // past the slot
        }
    }
}

void Flow::evidenceAt(std::uint32_t address, const Registers& regs) {
    std::uint32_t t;
    if (regs.traced && d_.inImage(address, t) && !(address & 1)) evidenceOn(t, regs);
}

// The literals in the argument registers of a call (after its slot) are passed to it.
void Flow::passArguments(const Registers& regs, std::uint32_t pc) {
    const std::uint16_t args = regs.traced & sh2::kConventions.arguments;
    for (unsigned k = 0; args >> k; ++k) {
        if ((args >> k) & 1u) d_.passedTo.emplace(regs.origin[k], pc);
    }
}

// After a branch (and its slot): what a call (or a tail call) gets, or, at a return (RTS), the long
// literal left in R0 as it was read (the function's result: the address of a static
// table, say; an index added to it or a sum is no such evidence).
void Flow::handedOn(const Step& branch, std::uint32_t off, const Registers& regs) {
    const std::uint32_t pc = branch.pc;
    if (branch.call() || tailCall(branch, off, regs)) {
        passArguments(regs, pc);
    } else if (branch.form == k_->rts && regs.hasOrigin(0) && regs.has(0) && (d_.flags[regs.origin[0]] & F_LITL) &&
               regs.origin[0] + 3 < d_.size() && d_.longAt(regs.origin[0]) == regs.value[0]) {
        d_.returnedBy.emplace(regs.origin[0], pc);
    }
}

// A JMP at off that is a tail call, which passes on what the caller got: through a known
// address, or after an epilogue (LDS.L @R15+,PR in the few instructions before it).
bool Flow::tailCall(const Step& branch, std::uint32_t off, const Registers& regs) const {
    if (!branch.throughRegister() || branch.relative() || branch.call()) return false;
    if (regs.has(branch.fields.m)) return true;
    for (std::uint32_t back = 1; back <= kEpilogueMost && back * 2 <= off; ++back) {
        const std::uint32_t p = off - 2 * back;
        const sh2::Form* f = (d_.flags[p] & F_CODE) ? sh2::decodeForm(d_.word(p)) : nullptr;
        if (f == nullptr || f->flow != 0) return false;
        if (f == k_->popPr) return true;
    }
    return false;
}

}  // namespace korvane::dis
