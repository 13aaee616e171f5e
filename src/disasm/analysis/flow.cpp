// Code paths: from every entry, instruction after instruction until the path ends,
// with the branches and calls it meets added to the work. Along a path the values that
// PC-relative loads and MOVA put into registers are followed, so that a call or jump
// through a register whose value is known goes on at its target, and a literal whose
// register is used as an address is known to be a pointer.
#include <algorithm>
#include <iterator>

#include "disasm/analysis/analysis.h"
#include "disasm/analysis/step.h"

namespace korvane::dis {

namespace {

using sh2::Arg;
using sh2::Form;
using sh2::Reach;

// Where the compilers for SH pass a call's first arguments: R4-R7.
constexpr std::uint16_t kArgumentRegisters = sh2::kConventions.arguments;

// What the path knows of the general registers: their values (Known), and where they
// came from.
struct Registers : Known {
    std::uint16_t traced = 0;      // bit k: Rk holds (an index added to) a literal ...
    std::uint32_t origin[16] = {};  // ... which is at this offset
    std::uint16_t named = 0;       // bit k: Rk holds (an index added to) what a MOVA named ...
    std::uint32_t place[16] = {};  // ... at this offset

    void forget(unsigned r) {
        known = static_cast<std::uint16_t>(known & ~(1u << r));
        traced = static_cast<std::uint16_t>(traced & ~(1u << r));
        named = static_cast<std::uint16_t>(named & ~(1u << r));
    }
    void forgetAll() { known = traced = named = 0; }
    void forgetAll(std::uint16_t regs) {
        known = static_cast<std::uint16_t>(known & ~regs);
        traced = static_cast<std::uint16_t>(traced & ~regs);
        named = static_cast<std::uint16_t>(named & ~regs);
    }
    // A call may change the registers the calling convention gives the callee.
    void afterCall() { forgetAll(sh2::kConventions.changedByCall); }
    bool hasOrigin(unsigned r) const { return (traced >> r) & 1u; }
    void set(unsigned r, std::uint32_t v) {
        known = static_cast<std::uint16_t>(known | 1u << r);
        traced = static_cast<std::uint16_t>(traced & ~(1u << r));
        named = static_cast<std::uint16_t>(named & ~(1u << r));
        value[r] = v;
    }
    bool isNamed(unsigned r) const { return (named >> r) & 1u; }
    void name(unsigned r, std::uint32_t at) {
        named = static_cast<std::uint16_t>(named | 1u << r);
        place[r] = at;
    }
    void trace(unsigned r, std::uint32_t from) {
        traced = static_cast<std::uint16_t>(traced | 1u << r);
        origin[r] = from;
    }
    bool operator==(const Registers& o) const {
        if (known != o.known || traced != o.traced || named != o.named) return false;
        for (unsigned k = 0; k < 16; ++k) {
            if (((known >> k) & 1u) && value[k] != o.value[k]) return false;
            if (((traced >> k) & 1u) && origin[k] != o.origin[k]) return false;
            if (((named >> k) & 1u) && place[k] != o.place[k]) return false;
        }
        return true;
    }
};

class Flow {
  public:
    Flow(Model::Data& d, std::vector<std::uint32_t>& jumps)
        : d_(d), jumps_(jumps), k_(&known()) {}

    // Follows every path of the work. What comes after a call waits (see resume).
    void run(std::vector<std::uint32_t>& work) {
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
    bool resume(std::vector<std::uint32_t>& work) {
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
    bool registerPass(std::vector<std::uint32_t>& work) {
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
    std::optional<std::uint32_t> valueBefore(std::uint32_t off, unsigned reg) {
        constexpr std::uint32_t kFarthestStart = 0x10000;
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

  private:
    // A literal that a jump or call goes through unchanged: for JSR/JMP a pointer to
    // code (a label), for BRAF/BSRF an offset from the branch's address + 4 (a number,
    // with what it reaches in its comment).
    void throughLiteral(const Step& s, std::uint32_t literal, std::uint32_t value) {
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
        d_.refs.push_back({d_.address(literal), value, RefKind::Pointer});
    }

    void seed(std::uint32_t off, std::vector<std::uint32_t>& pending) {
        if (!(d_.flags[off] & F_CODE) || settled_[off]) return;
        settle(off);
        states_.erase(off);
        pending.push_back(off);
    }

    // Joins a path's registers into the state at off; true when that state changed.
    bool join(std::uint32_t off, const Registers& r, std::vector<std::uint32_t>& pending) {
        if (off >= d_.size() || !(d_.flags[off] & F_CODE) || settled_[off]) return false;
        auto it = states_.find(off);
        Registers merged = r;
        if (it != states_.end()) {
            const Registers& old = it->second;
            merged.known = static_cast<std::uint16_t>(old.known & r.known);
            merged.traced = static_cast<std::uint16_t>(old.traced & r.traced);
            merged.named = static_cast<std::uint16_t>(old.named & r.named);
            for (unsigned k = 0; k < 16; ++k) {
                if (merged.isNamed(k) && old.place[k] != r.place[k])
                    merged.named = static_cast<std::uint16_t>(merged.named & ~(1u << k));
                if (merged.has(k) && old.value[k] != r.value[k]) merged.forget(k);
                if (merged.hasOrigin(k) && old.origin[k] != r.origin[k])
                    merged.traced = static_cast<std::uint16_t>(merged.traced & ~(1u << k));
            }
            if (merged == old) return false;
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

    void walk(std::uint32_t start, std::vector<std::uint32_t>& pending, std::vector<std::uint32_t>& work) {
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
    static bool goesOn(Registers& regs, bool call, const Step& branch) {
        if (call) {
            regs.afterCall();
            return true;
        }
        return branch.goesOn();
    }

    // The path after a call and its slot, with what it knew then.
    static constexpr std::uint32_t kNoCallee = ~0u;
    struct AfterCall {
        std::uint32_t at;
        std::uint32_t callee;  // its offset, when known
        Registers regs;
    };
    std::vector<AfterCall> afterCalls_;
    // The offset of a known callee in the image, or kNoCallee.
    std::uint32_t calleeOf(std::optional<std::uint32_t> to) const {
        std::uint32_t t;
        return to && d_.inImage(*to, t) ? t : kNoCallee;
    }

    std::unordered_map<std::uint32_t, Registers> states_;
    std::vector<bool> settled_;
    std::vector<std::uint32_t> settledAt_;  // where settled_ is set, to clear it again
    void settle(std::uint32_t off) {
        settled_[off] = true;
        settledAt_.push_back(off);
    }
    std::vector<std::uint32_t> unresolved_;  // calls and jumps through unknown registers

    // An instruction that can start at off: even address, two bytes, not forced data.
    std::optional<sh2::Decoded> decodable(std::uint32_t off) const {
        if (off + 1 >= d_.size() || (d_.address(off) & 1) != 0) return std::nullopt;
        if (((d_.flags[off] | d_.flags[off + 1]) & F_DATA) != 0) return std::nullopt;
        return sh2::decode(d_.word(off));
    }

    void literal(std::uint32_t at, unsigned width) {
        if (width == 4 && !(d_.flags[at] & F_LITL)) d_.literals.push_back(at);
        d_.flags[at] |= width == 2 ? F_LITW : F_LITL;
        for (unsigned i = 1; i < width && at + i < d_.size(); ++i) d_.flags[at + i] |= F_LITIN;
    }

    // What a PC-relative load or MOVA at from names (s: its step).
    void pcRelative(std::uint32_t from, const Step& s, RefKind kind) {
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

    void mark(std::uint32_t off, const Step& s) {
        d_.flags[off] |= F_CODE;
        d_.flags[off + 1] |= F_CONT;
        ++d_.instructions;
        if (s.pcRelative) pcRelative(off, s, RefKind::Load);
    }

    // A code target: labelled, referenced, followed.
    void target(std::uint32_t from, std::uint32_t to, RefKind kind, Evidence why,
                std::vector<std::uint32_t>& work, bool record) {
        if (record) d_.refs.push_back({d_.address(from), to, kind});
        std::uint32_t t;
        if (!d_.inImage(to, t) || (to & 1) != 0) return;
        d_.label(t, why, d_.address(from));
        if (kind == RefKind::Call) d_.markFunction(t, Evidence::Call);
        work.push_back(t);
    }

    // Memory after the image that the step reads or writes at an address it knows (an
    // instruction that reads and writes one place, TAS.B, writes it).
    void accessAfter(const Step& s) {
        for (unsigned i = 0; i < s.accesses; ++i) {
            const Step::Access& a = s.access[i];
            if (!a.written && i + 1 < s.accesses && s.access[i + 1].address == a.address && s.access[i + 1].written)
                continue;
            d_.useAfter(a.address, a.bytes, a.written ? AfterUse::Written : AfterUse::Read, s.pc);
        }
    }

    // What a step does to the registers the path knows and to where their values came
    // from, with the evidence the literals and MOVA places they hold get on the way.
    void transfer(Registers& r, const Step& s) {
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
    void evidenceOn(std::uint32_t from, const Registers& at) {
        constexpr unsigned kEvidenceMost = 1024;  // instructions read on
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
                if (!decodable(off)) break;
                const Step st = stepAt(d_, off, regs);
                transfer(regs, st);  // a JMP or JSR through it uses it as an address
                if (st.kind == Step::Branch) branchTo(*st.target, regs);
                if (!st.delayed()) continue;
                if (!(d_.flags[off + 2] & kData) && decodable(off + 2)) transfer(regs, stepSlot(d_, st, off + 2, regs));
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
    void evidenceAt(std::uint32_t address, const Registers& regs) {
        std::uint32_t t;
        if (regs.traced && d_.inImage(address, t) && !(address & 1)) evidenceOn(t, regs);
    }
    // The literals in the argument registers of a call (after its slot) are passed to it.
    void passArguments(const Registers& regs, std::uint32_t pc) {
        const std::uint16_t args = regs.traced & sh2::kConventions.arguments;
        for (unsigned k = 0; args >> k; ++k) {
            if ((args >> k) & 1u) d_.passedTo.emplace(regs.origin[k], pc);
        }
    }
    // After a branch (and its slot): what a call (or a tail call) gets, or, at a return (RTS), the long
    // literal left in R0 as it was read (the function's result: the address of a static
    // table, say; an index added to it or a sum is no such evidence).
    void handedOn(const Step& branch, std::uint32_t off, const Registers& regs) {
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
    bool tailCall(const Step& branch, std::uint32_t off, const Registers& regs) const {
        constexpr std::uint32_t kEpilogueMost = 8;  // instructions back
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

    // Follows one path; the offset after the last instruction it marked.
    std::uint32_t follow(std::uint32_t start, std::vector<std::uint32_t>& work, Registers regs) {
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
            if (!decodable(off)) return off;
            const Step st = stepAt(d_, off, regs);
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
            const bool slotOk = slot < d_.size() && !(d_.flags[slot] & (F_LITW | F_LITL | F_LITIN | F_TABLE)) &&
                                decodable(slot);
            const Step ss = slotOk ? stepSlot(d_, st, slot, regs) : Step{};
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
    bool intoJumpSlot(std::uint32_t off) const {
        if (off < 2 || off + 2 >= d_.size() || (d_.flags[off] & (F_CODE | F_SLOT)) != (F_CODE | F_SLOT)) return false;
        const sh2::Form* branch = sh2::decodeForm(d_.word(off - 2));
        return branch != nullptr && (d_.flags[off - 2] & F_CODE) && (branch->flow & sh2::FlowEnds);
    }

    // The instruction in a delay slot, first met (ss: its step, counted from the branch's
    // target). A PC-relative load there reads from the branch target (and, when a BT/S or
    // BF/S is not taken, from the slot itself).
    void slotInstruction(std::uint32_t slot, const Step& branch, const Step& ss, const Registers& regs) {
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

    Model::Data& d_;
    std::vector<std::uint32_t>& jumps_;
    const KnownForms* k_;
};

}  // namespace

void analyse(Model::Data& d, const DisassemblyOptions& options) {
    // The offsets of a range of addresses, segment by segment.
    auto offsets = [&d](const AddressRange& r, auto&& each) {
        for (const ImageSegment& s : d.segments) {
            const std::uint64_t from = std::max<std::uint64_t>(r.begin, s.address);
            const std::uint64_t to = std::min<std::uint64_t>(r.end, std::uint64_t{s.address} + s.size);
            for (std::uint64_t a = from; a < to; ++a) each(static_cast<std::uint32_t>(s.offset + (a - s.address)), a);
        }
    };
    for (const DataRange& r : options.data) {
        static constexpr std::uint8_t kShapes[] = {0, G_BYTES, G_WORDS, G_LONGS, G_TEXT, G_LONGS};
        const std::uint8_t shape = kShapes[static_cast<std::size_t>(r.width)];
        offsets(r, [&d, shape](std::uint32_t off, std::uint64_t) {
            d.flags[off] |= F_DATA;
            d.more[off] = static_cast<std::uint8_t>((d.more[off] & ~G_SHAPE) | shape);
        });
    }
    std::vector<std::uint32_t> work;
    // Every entry is labelled, so that the reader (and an edit) can name it.
    auto entry = [&](std::uint32_t address, Evidence why, std::uint32_t from = Model::Data::kNoCause) {
        std::uint32_t off;
        if (!d.inImage(address, off) || (address & 1) != 0) return;
        work.push_back(off);
        d.label(off, why, from);
        d.markFunction(off, why);
    };
    if (options.entries.empty() && options.vectors.empty()) entry(d.address(0), Evidence::Entry);
    for (const std::uint32_t e : options.entries) entry(e, Evidence::Entry);
    for (const DisassemblyOptions::Extern& x : options.externs) {
        std::uint32_t off;
        if (!d.inImage(x.address, off) || (x.address & 1) != 0) continue;  // another module's (or its own way out)
        work.push_back(off);
        d.label(off, Evidence::OtherModule);
        if (x.call) d.markFunction(off, Evidence::OtherModule);
    }
    for (const std::uint32_t v : options.vectors) {
        std::uint32_t off;
        if (!d.inImage(v, off)) continue;
        // Power-on and manual reset PC and SP, then the exceptions and interrupts. A
        // vector that is neither 0 nor a code address in the image ends the table.
        for (std::uint32_t i = 0; i < options.vectorCount; ++i) {
            const std::uint32_t at = off + 4 * i;
            std::uint32_t t;
            if (!d.inImage(v + 4 * i, t) || t != at || at + 3 >= d.size()) break;
            if (i == 1 || i == 3) continue;  // stack pointers
            const std::uint32_t target = d.longAt(at);
            if (target == 0) continue;
            if (!d.inImage(target, t) || (target & 1) != 0 || (d.flags[at] & (F_CODE | F_CONT))) break;
            d.pointer(at, PointerEvidence::Vector, v);
            d.refs.push_back({d.address(at), target, RefKind::Pointer});
            entry(target, Evidence::Vector, d.address(at));
        }
        d.label(off, Evidence::Vector);
    }
    // Forced code: a path from every word of the range.
    for (const AddressRange& r : options.code) {
        offsets(r, [&work](std::uint32_t off, std::uint64_t a) {
            if ((a & 1) == 0) work.push_back(off);
        });
    }
    for (const std::uint32_t c : options.constants) {
        std::uint32_t off;
        if (d.inImage(c, off)) d.more[off] |= G_CONST;
    }
    // Tables the user declared: their entries are code.
    for (const DisassemblyOptions::UserTable& u : options.tables) {
        std::uint32_t off;
        if (!d.inImage(u.address, off) || d.tableStarting(off)) continue;
        Table t{u.address, 0, u.width, u.relative, false, u.base, 0, {}};
        for (std::uint32_t e = 0; e < u.count && off + (e + 1) * u.width <= d.size(); ++e) {
            const std::uint32_t at = off + e * u.width;
            const std::uint32_t v = d.entryAt(at, u.width, u.relative);
            const std::uint32_t target = u.relative ? u.base + v : v;
            t.targets.push_back(target);
            for (std::uint32_t b = 0; b < u.width; ++b) d.flags[at + b] |= F_TABLE;
            d.refs.push_back({u.address + e * u.width, target, RefKind::TableEntry});
            std::uint32_t to;
            if (d.inImage(target, to) && !(target & 1)) {
                d.label(to, Evidence::SwitchCase, u.address + e * u.width);
                work.push_back(to);
            }
            ++t.count;
        }
        if (u.width == 4) d.flags[off] |= F_ALIGN4;
        d.relabel(off, Evidence::Table);
        std::uint32_t base;
        if (u.relative && u.base != u.address && d.inImage(u.base, base)) d.markBase(base);
        d.tableIndex.emplace(off, d.tables.size());
        d.tables.push_back(std::move(t));
    }
    std::vector<std::uint32_t> jumps, tried;  // jumps new to the switch finder, and those it found no table for
    Flow flow(d, jumps);
    // What a trace saw run: code, first of all, each run of it followed from its first
    // instruction (labelled, unless it goes on after a call's slot).
    for (const AddressRange& r : options.executed) {
        offsets(r, [&](std::uint32_t off, std::uint64_t a) {
            if ((a & 1) || (d.flags[off] & (F_CODE | F_CONT)) || off + 1 >= d.size()) return;
            if (!d.afterCallSlot(off)) d.label(off, Evidence::Executed);
            work.push_back(off);
            flow.run(work);
        });
    }
    const ValueBefore valueBefore = [&flow](std::uint32_t off, unsigned reg) { return flow.valueBefore(off, reg); };
    for (;;) {
        flow.run(work);
        if (flow.registerPass(work)) continue;
        const bool found = findSwitchTables(d, work, jumps, valueBefore, false);
        tried.insert(tried.end(), jumps.begin(), jumps.end());
        jumps.clear();
        if (found) continue;
        if (growOpenTables(d, work)) continue;
        // The code after calls, then again the jumps whose windows it may complete.
        if (flow.resume(work)) {
            jumps.swap(tried);
            continue;
        }
        markPointers(d, work);
        if (!work.empty()) continue;
        // No more code comes before them: the tables whose bounds were not found.
        if (!tried.empty()) {
            const bool any = findSwitchTables(d, work, tried, valueBefore, true);
            tried.clear();
            if (any || !work.empty()) continue;
        }
        if (d.guess) bytesAsData(d);
        if (d.guess && discoverCode(d, work)) continue;
        break;
    }
    functionPointers(d);
    // Data the user says are pointers: every aligned long that points where a label can
    // stand (once the code is known, so never into an instruction), or into the middle of
    // an item (its number, with the item).
    d.indexTables();
    for (const DataRange& r : options.data) {
        if (r.width != DataWidth::Pointers) continue;
        offsets(r, [&d, &r](std::uint32_t off, std::uint64_t a) {
            std::uint32_t to;
            if ((a & 3) || a + 4 > r.end || off + 4 > d.size() || (d.flags[off] & F_PTR) ||
                !d.inImage(d.longAt(off), to))
                return;
            if (!d.labelFits(to)) {  // into the middle of an item: its number, with the item
                if (!d.insideItem(d.longAt(off))) return;
                d.pointer(off, PointerEvidence::InfoFile, Model::Data::kNoCause);
                d.refs.push_back({static_cast<std::uint32_t>(a), d.longAt(off), RefKind::Pointer});
                return;
            }
            d.pointer(off, PointerEvidence::InfoFile, Model::Data::kNoCause);
            d.label(to, Evidence::Pointer, static_cast<std::uint32_t>(a));
            d.refs.push_back({static_cast<std::uint32_t>(a), d.longAt(off), RefKind::Pointer});
        });
    }
    // The user's names label their addresses (a name is no evidence of code).
    for (const DisassemblyOptions::Name& n : options.names) {
        std::uint32_t off;
        if (d.inImage(n.address, off) && !(d.flags[off] & (F_CONT | F_LITIN))) d.label(off, Evidence::Named);
    }
    std::sort(d.tables.begin(), d.tables.end(),
              [](const Table& a, const Table& b) { return a.address < b.address; });
    d.indexTables();
    // A pointer or table entry into the middle of an item is written as its number with
    // the item it points into, which gets a label so that it can be named.
    for (const Reference& r : d.refs) {
        std::uint32_t from, start;
        if (r.kind != RefKind::Pointer && r.kind != RefKind::TableEntry) continue;
        const auto item = d.insideItem(r.to);
        if (!d.inImage(r.from, from)) continue;
        if (const Table* t = d.tableHolding(from, start); r.kind == RefKind::TableEntry && (!t || t->relative)) continue;
        if (std::uint32_t to; !item) {  // (an odd address the user's table holds has no label yet)
            if (d.inImage(r.to, to) && d.labelFits(to)) d.label(to, Evidence::Pointer, r.from);
            continue;
        }
        d.more[from] |= G_INSIDE;
        d.label(*item, Evidence::Pointer, r.from);
    }
    d.cutTablesAtLabels();
    markUnknowns(d);
    // The places after the image that literals name (whatever uses them: an index
    // added, a copy the register pass lost).
    for (const std::uint32_t off : d.literals) {
        if (off + 3 < d.size() && !(d.more[off] & G_CONST)) d.useAfter(d.longAt(off), 1, AfterUse::Named, d.address(off));
    }
    for (const AddressRange& r : options.touched) {
        const auto bytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(r.end - r.begin, 0xFFFFFFFFu));
        d.useAfter(r.begin, bytes, AfterUse::Traced, r.begin);
    }
}

}  // namespace korvane::dis
