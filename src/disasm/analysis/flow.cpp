// Code paths: from every entry, instruction after instruction until the path ends,
// with the branches and calls it meets added to the work. Along a path the values that
// PC-relative loads and MOVA put into registers are followed, so that a call or jump
// through a register whose value is known goes on at its target, and a literal whose
// register is used as an address is known to be a pointer.
#include <algorithm>
#include <iterator>

#include "disasm/analysis/analysis.h"

namespace korvane::dis {

namespace {

using sh2::Arg;
using sh2::Form;
using sh2::Reach;

// Where the compilers for SH pass a call's first arguments: R4-R7.
constexpr std::uint16_t kArgumentRegisters = sh2::kConventions.arguments;

// What the path knows of the general registers.
struct Registers {
    std::uint16_t known = 0;       // bit k: Rk's value is known ...
    std::uint16_t traced = 0;      // bit k: Rk holds (an index added to) a literal ...
    std::uint32_t value[16] = {};  // ... whose value is this
    std::uint32_t origin[16] = {};  // ... and which is at this offset
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
    bool has(unsigned r) const { return (known >> r) & 1u; }
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

// What a form does to the registers the analysis follows, worked out once per form.
struct Effect {
    enum Kind : std::uint8_t { Other, LoadLong, LoadWord, Mova, Copy, AddRegister, AddImmediate, Immediate };
    Kind kind = Other;
    bool storesLong = false;  // MOV.L Rm (or R0) to memory: @Rn, @-Rn, @(disp,Rn), @(R0,Rn), @(disp,GBR)
    bool loadsByte = false;   // MOV.B from memory through registers: @Rm, @Rm+, @(disp,Rm), @(R0,Rm)
};

const std::vector<Effect>& effects() {
    static const std::vector<Effect> table = [] {
        const KnownForms& k = known();
        std::vector<Effect> t;
        for (const Form& f : sh2::forms()) {
            Effect e;
            if (&f == k.mova) {
                e.kind = Effect::Mova;
            } else if (f.reach == Reach::PcLong) {
                e.kind = Effect::LoadLong;
            } else if (f.reach == Reach::PcWord) {
                e.kind = Effect::LoadWord;
            } else if (&f == k.movRR) {
                e.kind = Effect::Copy;
            } else if (&f == k.addRR) {
                e.kind = Effect::AddRegister;
            } else if (&f == k.addImm) {
                e.kind = Effect::AddImmediate;
            } else if (&f == k.movImm) {
                e.kind = Effect::Immediate;
            }
            const sh2::Arg to = f.args[1];
            e.storesLong = f.mnemonic == "MOV.L" && (f.args[0] == sh2::Arg::Rm || f.args[0] == sh2::Arg::R0) &&
                           (to == sh2::Arg::AtRn || to == sh2::Arg::AtMinusRn || to == sh2::Arg::AtDispRn ||
                            to == sh2::Arg::AtR0Rn || to == sh2::Arg::AtDispGbr);
            const sh2::Arg from = f.args[0];
            e.loadsByte = f.mnemonic == "MOV.B" && (from == sh2::Arg::AtRm || from == sh2::Arg::AtRmPlus ||
                                                    from == sh2::Arg::AtDispRm || from == sh2::Arg::AtR0Rm);
            t.push_back(e);
        }
        return t;
    }();
    return table;
}

class Flow {
  public:
    Flow(Model::Data& d, std::vector<std::uint32_t>& jumps)
        : d_(d), jumps_(jumps), effects_(effects().data()), forms_(sh2::forms().data()), k_(&known()) {}

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
            const sh2::Decoded d = *sh2::decode(d_.word(p));
            // BT/S and BF/S fall through after their slot, which runs either way.
            if ((d.form->flow & sh2::FlowDelayed) && !(d.form->flow & sh2::FlowConditional)) return std::nullopt;
            if (!(d.form->reach == Reach::Branch8)) step(regs, d, d_.address(p));
        }
        if (!regs.has(reg)) return std::nullopt;
        return regs.value[reg];
    }

  private:
    // A literal that a jump or call goes through unchanged: for JSR/JMP a pointer to
    // code (a label), for BRAF/BSRF an offset from the branch's address + 4 (a number,
    // with what it reaches in its comment).
    void throughLiteral(const Form& f, std::uint32_t literal, std::uint32_t value, std::uint32_t pc) {
        const bool isLong = (d_.flags[literal] & F_LITL) != 0;
        if (!isLong && !(d_.flags[literal] & F_LITW)) return;
        const std::uint32_t held = isLong ? d_.longAt(literal)
                                          : static_cast<std::uint32_t>(static_cast<std::int16_t>(d_.word(literal)));
        if (held != value || (d_.more[literal] & G_CONST)) return;  // an index was added to it, or a number
        std::uint32_t t;
        if (f.flow & sh2::FlowRelative) {
            const std::uint32_t base = pc + 4;
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
            const sh2::Decoded d = *sh2::decode(d_.word(off));
            const Form& f = *d.form;
            const std::uint32_t pc = d_.address(off);
            std::uint32_t t;
            if (f.reach == Reach::Branch8 && !(f.flow & sh2::FlowDelayed)) {
                if (d_.inImage(sh2::targetOf(f, d.fields, pc), t)) join(t, regs, pending);
                continue;
            }
            if (!(f.flow & sh2::FlowDelayed)) {
                step(regs, d, pc);
                continue;
            }
            const std::optional<std::uint32_t> to = destination(d, pc, regs);
            if ((f.flow & sh2::FlowRegister) && to) {
                const std::uint32_t v = regs.value[d.fields.m];
                if (!(d_.flags[off] & F_KNOWN)) {
                    d_.flags[off] |= F_KNOWN;
                    const bool call = (f.flow & sh2::FlowCall) != 0;
                    if (regs.hasOrigin(d.fields.m)) throughLiteral(f, regs.origin[d.fields.m], v, pc);
                    target(off, *to, call ? RefKind::Call : RefKind::Jump, call ? Evidence::Call : Evidence::Jump,
                           work, true);
                }
            }
            const std::uint32_t slot = off + 2;
            if (slot + 1 >= d_.size() || !(d_.flags[slot] & F_CODE)) return;
            const sh2::Decoded s = *sh2::decode(d_.word(slot));
            stepSlot(regs, s, f, to, d_.address(slot), (d_.flags[slot] & F_SLOTPC) != 0);
            const bool call = returnsAfterSlot(f, s.form);
            if (to && !call && d_.inImage(*to, t)) join(t, regs, pending);
            if (!goesOn(regs, call, f) || (call && d_.noReturn.count(calleeOf(to)))) return;
            off += 2;
        }
    }

    // ---- the rules of a path, shared by code finding (follow) and the register pass (walk)

    // Where a delayed branch goes when that is known: its target, or for JMP/JSR the
    // register's known value and for BRAF/BSRF their address + 4 + that value.
    static std::optional<std::uint32_t> destination(const sh2::Decoded& d, std::uint32_t pc, const Registers& regs) {
        const Form& f = *d.form;
        if (f.reach != Reach::None) return sh2::targetOf(f, d.fields, pc);
        if ((f.flow & sh2::FlowRegister) && regs.has(d.fields.m)) {
            const std::uint32_t v = regs.value[d.fields.m];
            return (f.flow & sh2::FlowRelative) ? pc + 4 + v : v;
        }
        return std::nullopt;
    }
    // Whether a branch returns after its slot: a call, or BRAF with LDS Rm,PR in its slot.
    bool returnsAfterSlot(const Form& branch, const Form* slot) const {
        return (branch.flow & sh2::FlowCall) || ((branch.flow & sh2::FlowRelative) && slot == k_->ldsPr);
    }
    // The slot runs before the branch. A PC-relative load there (readsFromTarget) reads
    // from the branch target + 2 when the branch is always taken; where it may or may not
    // be, the register it loads is unknown.
    void stepSlot(Registers& regs, const sh2::Decoded& s, const Form& branch, std::optional<std::uint32_t> to,
                  std::uint32_t slotAddress, bool readsFromTarget) {
        if (!readsFromTarget) {
            step(regs, s, slotAddress);
        } else if (to && !(branch.flow & sh2::FlowConditional)) {
            step(regs, s, sh2::slotPcFor(*to));
        } else {
            regs.forgetAll(sh2::writtenRegisters(*s.form, s.fields));
        }
    }
    // After a branch and its slot: whether the path goes on (after a call, with what the
    // callee may change forgotten).
    static bool goesOn(Registers& regs, bool call, const Form& branch) {
        if (call) {
            regs.afterCall();
            return true;
        }
        return !(branch.flow & sh2::FlowEnds);
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

    // What a PC-relative load or MOVA at from (counted from pc) names.
    void pcRelative(std::uint32_t from, const sh2::Decoded& d, std::uint32_t pc, RefKind kind) {
        std::uint32_t t;
        const std::uint32_t target = sh2::targetOf(*d.form, d.fields, pc);
        const bool mova = d.form == k_->mova;
        // The instruction itself says what it reads; only a slot's load is recorded.
        if (kind == RefKind::SlotLoad) d_.refs.push_back({d_.address(from), target, kind});
        if (!d_.inImage(target, t)) return;
        // A table of pointers taken from data before this routine was reached holds its
        // literals: it was no table.
        const std::uint32_t size = mova ? 1 : d.form->reach == Reach::PcWord ? 2 : 4;
        for (std::uint32_t b = t; b < t + size && b < d_.size(); ++b) {
            if (d_.flags[b] & F_TABLE) d_.undoDataTable(b);
        }
        d_.label(t, mova ? Evidence::Mova : Evidence::Literal, d_.address(from));
        if (mova) d_.flags[t] |= F_ALIGN4;
        if (!mova) literal(t, d.form->reach == Reach::PcWord ? 2 : 4);
    }

    void mark(std::uint32_t off, const sh2::Decoded& d) {
        d_.flags[off] |= F_CODE;
        d_.flags[off + 1] |= F_CONT;
        ++d_.instructions;
        if (d.form->reach == Reach::PcWord || d.form->reach == Reach::PcLong)
            pcRelative(off, d, d_.address(off), RefKind::Load);
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

    // What an instruction does to the registers the path knows (a load from a literal
    // counted from pc; the literal's offset when known, -1 otherwise).
    // Memory after the image that an operand whose address is known reads or writes (the
    // second operand is the destination, unless both are memory, as MAC's are).
    void accessAfter(const Registers& r, const Form& f, const sh2::Fields& x, std::uint32_t pc) {
        const std::string_view m = f.mnemonic;
        const std::uint32_t bytes = m.ends_with(".L") ? 4 : m.ends_with(".W") ? 2 : 1;
        auto memory = [](sh2::Arg a) {
            using sh2::Arg;
            return a == Arg::AtRn || a == Arg::AtRm || a == Arg::AtMinusRn || a == Arg::AtRmPlus || a == Arg::AtRnPlus ||
                   a == Arg::AtR0Rn || a == Arg::AtR0Rm || a == Arg::AtDispRn || a == Arg::AtDispRm;
        };
        for (unsigned i = 0; i < 2; ++i) {
            const sh2::Arg a = f.args[i];
            if (!memory(a)) continue;
            const bool n = a == sh2::Arg::AtRn || a == sh2::Arg::AtMinusRn || a == sh2::Arg::AtRnPlus ||
                           a == sh2::Arg::AtR0Rn || a == sh2::Arg::AtDispRn;
            const unsigned reg = n ? x.n : x.m;
            const bool indexed = a == sh2::Arg::AtR0Rn || a == sh2::Arg::AtR0Rm;
            if (!r.has(reg) || (indexed && !r.has(0))) continue;
            std::uint32_t at = r.value[reg];
            if (indexed) at += r.value[0];
            if (a == sh2::Arg::AtDispRn || a == sh2::Arg::AtDispRm) at += static_cast<std::uint32_t>(x.d) * f.scale;
            if (a == sh2::Arg::AtMinusRn) at -= bytes;
            const bool written = i == 1 && !memory(f.args[0]);
            d_.useAfter(at, bytes, written || m == "TAS.B" ? AfterUse::Written : AfterUse::Read, pc);
        }
    }

    void step(Registers& r, const sh2::Decoded& d, std::uint32_t pc) {
        const Form& f = *d.form;
        const sh2::Fields& x = d.fields;
        const Effect& e = effects_[static_cast<std::size_t>(&f - forms_)];
        if (r.known) accessAfter(r, f, x, pc);
        if (r.traced) {
            // A literal whose register is used as an address is a pointer.
            const std::uint16_t used = static_cast<std::uint16_t>(sh2::addressRegisters(f, x) & r.traced);
            for (unsigned k = 0; used >> k; ++k) {
                if (!((used >> k) & 1u) || (d_.flags[r.origin[k]] & F_USED)) continue;
                d_.flags[r.origin[k]] |= F_USED;
                d_.usedBy.emplace(r.origin[k], pc);
            }
            // A literal whose register a long store writes to memory: a value kept in a
            // structure (a callback registered there, when it points at code).
            if (e.storesLong) {
                const unsigned src = f.args[0] == sh2::Arg::R0 ? 0u : x.m;
                if ((r.traced >> src) & 1u) d_.storedBy.emplace(r.origin[src], pc);
            }
        }
        // What a MOVA named and code reads by bytes is data.
        if (e.loadsByte && r.named) {
            const std::uint16_t through = static_cast<std::uint16_t>(sh2::addressRegisters(f, x) & r.named);
            for (unsigned k = 0; through >> k; ++k) {
                if ((through >> k) & 1u) d_.byteRead(r.place[k], false);
            }
        }
        std::uint32_t t;
        switch (e.kind) {
            case Effect::Mova:
                r.set(0, sh2::targetOf(f, x, pc));
                if (d_.inImage(r.value[0], t)) r.name(0, t);
                return;
            case Effect::LoadLong:
                if (d_.inImage(sh2::targetOf(f, x, pc), t) && t + 3 < d_.size()) {
                    r.set(x.n, d_.longAt(t));
                    r.trace(x.n, t);
                } else {
                    r.forget(x.n);
                }
                return;
            case Effect::LoadWord:
                if (d_.inImage(sh2::targetOf(f, x, pc), t) && t + 1 < d_.size()) {
                    r.set(x.n, static_cast<std::uint32_t>(static_cast<std::int16_t>(d_.word(t))));
                    r.trace(x.n, t);
                } else {
                    r.forget(x.n);
                }
                return;
            case Effect::Immediate:  // a small number (a bound, an offset)
                r.set(x.n, static_cast<std::uint32_t>(static_cast<std::int8_t>(x.d)));
                return;
            case Effect::Copy: {
                const bool traced = r.hasOrigin(x.m), named = r.isNamed(x.m);
                const std::uint32_t o = r.origin[x.m], at = r.place[x.m];
                if (r.has(x.m)) {
                    r.set(x.n, r.value[x.m]);
                } else {
                    r.forget(x.n);
                }
                if (traced) r.trace(x.n, o);
                if (named) r.name(x.n, at);
                return;
            }
            case Effect::AddRegister:
            case Effect::AddImmediate: {  // an index added keeps the pointer
                const bool reg = e.kind == Effect::AddRegister;
                const unsigned from = r.hasOrigin(x.n) || !reg ? x.n : x.m;
                const bool traced = r.hasOrigin(from);
                const std::uint32_t o = r.origin[from];
                const unsigned base = r.isNamed(x.n) || !reg ? x.n : x.m;
                const bool named = r.isNamed(base);
                const std::uint32_t at = r.place[base];
                const bool sum = r.has(x.n) && (!reg || r.has(x.m));
                const std::uint32_t v =
                    r.value[x.n] + (reg ? r.value[x.m] : static_cast<std::uint32_t>(static_cast<std::int8_t>(x.d)));
                r.forget(x.n);
                if (sum) r.set(x.n, v);
                if (traced) r.trace(x.n, o);
                if (named) r.name(x.n, at);
                return;
            }
            case Effect::Other:
                break;
        }
        // An index subtracted from a pointer keeps it a pointer, for evidence (its value is
        // no longer known); what a pointer is subtracted from is none.
        const bool less = &f == k_->subRR && r.hasOrigin(x.n) && !r.hasOrigin(x.m);
        const std::uint32_t o = r.origin[x.n];
        r.forgetAll(sh2::writtenRegisters(f, x));
        if (less) r.trace(x.n, o);
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
                const std::optional<sh2::Decoded> d = decodable(off);
                if (!d) break;
                const Form& f = *d->form;
                const std::uint32_t pc = d_.address(off);
                step(regs, *d, pc);  // a JMP or JSR through it uses it as an address
                if (f.reach == Reach::Branch8 && !(f.flow & sh2::FlowDelayed)) branchTo(sh2::targetOf(f, d->fields, pc), regs);
                if (!(f.flow & sh2::FlowDelayed)) continue;
                const std::optional<sh2::Decoded> s = (d_.flags[off + 2] & kData) ? std::nullopt : decodable(off + 2);
                if (s && s->form->reach != Reach::PcWord && s->form->reach != Reach::PcLong) {
                    step(regs, *s, pc + 2);
                } else if (s) {  // a load in the slot reads where the branch says: not followed
                    regs.forgetAll(sh2::writtenRegisters(*s->form, s->fields));
                }
                handedOn(f, off, regs, pc);
                if (f.flow & sh2::FlowCall) {
                    regs.afterCall();
                } else if (const auto to = destination(*d, pc, regs)) {
                    branchTo(*to, regs);
                } else {  // a jump through a table found for it: to its cases
                    for (const Table& t : d_.tables) {
                        if (t.jump != pc) continue;
                        for (const std::uint32_t target : t.targets) branchTo(target, regs);
                    }
                }
                if (f.flow & sh2::FlowEnds) break;
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
    void handedOn(const Form& branch, std::uint32_t off, const Registers& regs, std::uint32_t pc) {
        if ((branch.flow & sh2::FlowCall) || tailCall(branch, off, regs)) {
            passArguments(regs, pc);
        } else if (&branch == k_->rts && regs.hasOrigin(0) && regs.has(0) && (d_.flags[regs.origin[0]] & F_LITL) &&
                   regs.origin[0] + 3 < d_.size() && d_.longAt(regs.origin[0]) == regs.value[0]) {
            d_.returnedBy.emplace(regs.origin[0], pc);
        }
    }

    // A JMP at off that is a tail call, which passes on what the caller got: through a known
    // address, or after an epilogue (LDS.L @R15+,PR in the few instructions before it).
    bool tailCall(const Form& branch, std::uint32_t off, const Registers& regs) const {
        constexpr std::uint32_t kEpilogueMost = 8;  // instructions back
        if (!(branch.flow & sh2::FlowRegister) || (branch.flow & (sh2::FlowRelative | sh2::FlowCall))) return false;
        if (regs.has(sh2::decode(d_.word(off))->fields.m)) return true;
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
            const std::optional<sh2::Decoded> d = decodable(off);
            if (!d) return off;
            mark(off, *d);
            const Form& f = *d->form;
            const std::uint32_t pc = d_.address(off);
            if (f.reach == Reach::Branch8 && !(f.flow & sh2::FlowDelayed)) {  // BT, BF
                const std::uint32_t to = sh2::targetOf(f, d->fields, pc);
                target(off, to, RefKind::Branch, Evidence::Branch, work, false);
                evidenceAt(to, regs);
                continue;
            }
            if (!(f.flow & sh2::FlowDelayed)) {
                step(regs, *d, pc);
                continue;
            }
            // Where the branch goes, when that is known.
            const std::optional<std::uint32_t> to = destination(*d, pc, regs);
            if (f.reach == Reach::None && to) {
                const std::uint32_t v = regs.value[d->fields.m];
                d_.flags[off] |= F_KNOWN;
                // JSR/JMP through a literal: the literal is a pointer to code.
                if (regs.hasOrigin(d->fields.m)) throughLiteral(f, regs.origin[d->fields.m], v, pc);
            }
            // The delay slot runs before the branch.
            const std::uint32_t slot = off + 2;
            std::optional<sh2::Decoded> s;
            if (slot < d_.size() && !(d_.flags[slot] & (F_LITW | F_LITL | F_LITIN | F_TABLE)))
                s = decodable(slot);
            const bool call = returnsAfterSlot(f, s ? s->form : nullptr);
            if (s) {
                d_.flags[slot] |= F_SLOT;
                if (!(d_.flags[slot] & F_CODE)) slotInstruction(slot, *s, f, to, regs);
            }
            // What a MOVA named, passed to a callee in an argument register: text there is
            // data (a string handed to a routine that reads it).
            if (call && (regs.named & kArgumentRegisters)) {
                for (unsigned k = 0; k < 16; ++k) {
                    if ((kArgumentRegisters >> k) & regs.named & 1u) d_.byteRead(regs.place[k], true);
                }
            }
            handedOn(f, off, regs, pc);
            if (to && !call) evidenceAt(*to, regs);
            if (to) {
                const RefKind kind = call ? RefKind::Call
                                     : f.reach != Reach::None ? RefKind::Branch
                                                              : RefKind::Jump;
                const Evidence why = call ? Evidence::Call
                                     : f.reach != Reach::None ? Evidence::Branch
                                                              : Evidence::Jump;
                target(off, *to, kind, why, work, f.reach == Reach::None);
            } else if (f.flow & sh2::FlowRegister) {
                if (d->fields.m >= 8) unresolved_.push_back(off);
                jumps_.push_back(off);  // a table (of cases, of code pointers) may say where it goes
            }
            if (!s) return off + 2;
            if (!goesOn(regs, call, f)) return off + 4;
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

    // The instruction in a delay slot. A PC-relative load there reads from the branch
    // target (and, when a BT/S or BF/S is not taken, from the slot itself).
    void slotInstruction(std::uint32_t slot, const sh2::Decoded& s, const Form& branch,
                         std::optional<std::uint32_t> to, Registers& regs) {
        d_.flags[slot] |= F_CODE;
        d_.flags[slot + 1] |= F_CONT;
        ++d_.instructions;
        const Reach reach = s.form->reach;
        if (reach == Reach::Branch8 || reach == Reach::Branch12) {
            // Illegal in a slot: not followed, but its target is named.
            const std::uint32_t to2 = sh2::targetOf(*s.form, s.fields, d_.address(slot));
            std::uint32_t t;
            if (d_.inImage(to2, t)) d_.label(t, Evidence::Branch, d_.address(slot));
        }
        if (reach != Reach::PcWord && reach != Reach::PcLong) {
            stepSlot(regs, s, branch, to, d_.address(slot), false);
            return;
        }
        d_.flags[slot] |= F_SLOTPC;
        SlotRead read;
        if (to) {
            read.taken = sh2::targetOf(*s.form, s.fields, sh2::slotPcFor(*to));
            pcRelative(slot, s, sh2::slotPcFor(*to), RefKind::SlotLoad);
        }
        if (branch.flow & sh2::FlowConditional) {
            read.notTaken = sh2::targetOf(*s.form, s.fields, d_.address(slot));
            pcRelative(slot, s, d_.address(slot), RefKind::SlotLoad);
        }
        d_.slotReads.emplace(slot, read);
        stepSlot(regs, s, branch, to, d_.address(slot), true);
    }

    Model::Data& d_;
    std::vector<std::uint32_t>& jumps_;
    const Effect* effects_;
    const Form* forms_;
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
