// Code paths: from every entry, instruction after instruction until the path ends,
// with the branches and calls it meets added to the work, each instruction asked of the
// step (step.h). Along a path the values that loads, MOVA and arithmetic on them put
// into registers are followed (values.h), so that a call or jump through a register
// whose value is known goes on at its target; what the paths learn of literals and
// places on the way is evidence (evidence.cpp).
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "disasm/analysis/analysis.h"
#include "disasm/analysis/step.h"
#include "disasm/analysis/values.h"

namespace korvane::dis {

class Flow {
  public:
    Flow(Model::Data& d, std::vector<std::uint32_t>& jumps)
        : d_(d), jumps_(jumps), k_(&known()) {}

    // Follows every path of the work. What comes after a call waits (see resume).
    void run(std::vector<std::uint32_t>& work);

    // The paths after calls, resumed once nothing else is left to find (tables found
    // too), lowest address first, so that the loads of the code before them have marked
    // their literals: a literal after a call's slot means that the callee does not
    // return, and the path ends there, as it does after every later call to it. True
    // when a path went on.
    // Rounds go on here while they meet no jump through a register (whose table the code
    // after it may need first).
    bool resume(std::vector<std::uint32_t>& work);

    // Register values across joins, for the calls and jumps through registers that the
    // paths left unknown: the state at every labelled instruction is what all the paths
    // into it agree on, walked from the start of the function (or case) that holds the
    // call. States are kept from one pass to the next. A call or jump whose register
    // turns out known goes to work; true when one did.
    bool registerPass(std::vector<std::uint32_t>& work);

    // The value a register holds before the instruction at off, on every path into its
    // block: the registers joined at the block's label over the paths from the start of
    // the function that holds it, then the block's own instructions.
    std::optional<std::uint32_t> valueBefore(std::uint32_t off, unsigned reg);

  private:
    // A literal that a jump or call goes through unchanged: for JSR/JMP a pointer to
    // code (a label), for BRAF/BSRF an offset from the branch's address + 4 (a number,
    // with what it reaches in its comment).
    void throughLiteral(const Step& s, std::uint32_t literal, std::uint32_t value);

    void seed(std::uint32_t off, std::vector<std::uint32_t>& pending);

    // Joins a path's registers into the state at off; true when that state changed.
    bool join(std::uint32_t off, const Registers& r, std::vector<std::uint32_t>& pending);

    void walk(std::uint32_t start, std::vector<std::uint32_t>& pending, std::vector<std::uint32_t>& work);

    // ---- the rules of a path, shared by code finding (follow) and the register pass (walk)

    // After a branch and its slot: whether the path goes on (after a call, with what the
    // callee may change forgotten).
    static bool goesOn(Registers& regs, bool call, const Step& branch);

    // The path after a call and its slot, with what it knew then.
    static constexpr std::uint32_t kNoCallee = ~0u;
    struct AfterCall {
        std::uint32_t at;
        std::uint32_t callee;  // its offset, when known
        Registers regs;
    };
    std::vector<AfterCall> afterCalls_;
    // The offset of a known callee in the image, or kNoCallee.
    std::uint32_t calleeOf(std::optional<std::uint32_t> to) const;

    std::unordered_map<std::uint32_t, Registers> states_;
    std::vector<bool> settled_;
    std::vector<std::uint32_t> settledAt_;  // where settled_ is set, to clear it again
    void settle(std::uint32_t off);
    std::vector<std::uint32_t> unresolved_;  // calls and jumps through unknown registers

    // Where an instruction may start: an even address, two bytes, not forced data.
    bool placeable(std::uint32_t off) const;

    void literal(std::uint32_t at, unsigned width);

    // What a PC-relative load or MOVA at from names (s: its step).
    void pcRelative(std::uint32_t from, const Step& s, RefKind kind);

    void mark(std::uint32_t off, const Step& s);

    // A code target: labelled, referenced, followed.
    void target(std::uint32_t from, std::uint32_t to, RefKind kind, Evidence why, std::vector<std::uint32_t>& work, bool record);

    // Memory after the image that the step reads or writes at an address it knows (an
    // instruction that reads and writes one place, TAS.B, writes it).
    void accessAfter(const Step& s);

    // What a step does to the registers the path knows and to where their values came
    // from, with the evidence the literals and MOVA places they hold get on the way.
    void transfer(Registers& r, const Step& s);

    // Where a path joins others (a label, a branch's target, code already known), the
    // paths may disagree on a register, and what is known of it is dropped there; but the
    // literal this path carries reaches what comes next on it all the same (cases that
    // each load their own pointer and share the JSR, the loop that uses it). So the path
    // is read on, branches and all, for evidence alone: a use as an address, a store, a
    // call's argument or a jump through it, up to a budget of instructions.
    void evidenceOn(std::uint32_t from, const Registers& at);
    void evidenceAt(std::uint32_t address, const Registers& regs);
    // The literals in the argument registers of a call (after its slot) are passed to it.
    void passArguments(const Registers& regs, std::uint32_t pc);
    // After a branch (and its slot): what a call (or a tail call) gets, or, at a return (RTS), the long
    // literal left in R0 as it was read (the function's result: the address of a static
    // table, say; an index added to it or a sum is no such evidence).
    void handedOn(const Step& branch, std::uint32_t off, const Registers& regs);

    // A JMP at off that is a tail call, which passes on what the caller got: through a known
    // address, or after an epilogue (LDS.L @R15+,PR in the few instructions before it).
    bool tailCall(const Step& branch, std::uint32_t off, const Registers& regs) const;

    // Follows one path; the offset after the last instruction it marked.
    std::uint32_t follow(std::uint32_t start, std::vector<std::uint32_t>& work, Registers regs);

    // Whether off is the delay slot of a branch after which no path goes on by itself
    // (BRA, BRAF, JMP, RTS, RTE), already walked as that slot.
    bool intoJumpSlot(std::uint32_t off) const;

    // The instruction in a delay slot, first met (ss: its step, counted from the branch's
    // target). A PC-relative load there reads from the branch target (and, when a BT/S or
    // BF/S is not taken, from the slot itself).
    void slotInstruction(std::uint32_t slot, const Step& branch, const Step& ss, const Registers& regs);

    Model::Data& d_;
    std::vector<std::uint32_t>& jumps_;
    const KnownForms* k_;
};

}  // namespace korvane::dis
