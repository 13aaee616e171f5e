// One instruction step: what the instruction at an offset of the image does, as far as
// the registers known before it say. Every walker of the analysis asks it and keeps no
// rule of its own on slots, calls, literals or values. Its facts come from the form
// table (flow, reach, registers written and used as addresses) and its values from the
// runner's semantics, run on a probe machine: a register written is known when every
// register the instruction reads is known and nothing else it reads (SR, GBR, MACH/MACL,
// PR, memory other than its own literal) changes the result.
#pragma once

#include <cstdint>
#include <optional>

#include "disasm/model/model.h"

namespace korvane::dis {

// What is known of the general registers: bit k of known for Rk, with its value.
struct Known {
    std::uint16_t known = 0;
    std::uint32_t value[16] = {};
    bool has(unsigned r) const { return (known >> r) & 1u; }
};

// What one form does to memory, found once by running its semantic on a probe.
struct FormMemory {
    std::uint8_t loads = 0;   // bytes it reads (through registers, not its literal), 0 for none
    std::uint8_t stores = 0;  // bytes it writes, 0 for none
    // The general register whose value it stores: its field (0 none, 'n', 'm') or R0 ('0').
    char storedFrom = 0;
    std::uint8_t pureWrites = 0;  // the Writes roles whose value depends on registers alone
    bool pureTarget = false;      // where it goes (through a register) likewise
    bool pureAddresses = false;   // the addresses it reads and writes likewise
};
const FormMemory& memoryOf(const sh2::Form& form);

struct Step {
    enum Kind : std::uint8_t {
        Invalid,  // no instruction (or not one whole word of the image)
        Plain,    // goes on to the next word
        Branch,   // BT, BF: to the target or on
        Delayed,  // BT/S, BF/S: its slot, then to the target or on
        Jump,     // BRA, BRAF, JMP: its slot, then to the target only: the path ends
        Call,     // BSR, BSRF, JSR: its slot, the callee, then on
        Return,   // RTS, RTE: its slot, then back: the path ends
    };
    Kind kind = Invalid;
    const sh2::Form* form = nullptr;
    sh2::Fields fields;
    std::uint32_t pc = 0;  // its address

    // Where it branches, when known: a branch's target, or a register's known value for
    // JMP/JSR and the address + 4 + that value for BRAF/BSRF.
    std::optional<std::uint32_t> target;
    // A delayed branch's slot: the PC its PC-relative operand counts from when the branch
    // is taken, from the target (slotPcFor), where that is known.
    std::optional<std::uint32_t> slotPc;

    std::uint16_t written = 0;    // the general registers it changes
    std::uint16_t addresses = 0;  // the general registers it uses as addresses
    // A PC-relative operand: the address of the literal a load reads (literalSize 2 or
    // 4) or of what MOVA names (literalSize 0).
    bool pcRelative = false;
    std::uint8_t literalSize = 0;
    std::uint32_t literal = 0;

    // The written registers whose value is known after it.
    std::uint8_t outs = 0;
    std::uint8_t outReg[2] = {};
    std::uint32_t outValue[2] = {};
    // Memory accesses whose address is known (its literal apart): at most two.
    struct Access {
        std::uint32_t address;
        std::uint8_t bytes;
        bool written;
    };
    std::uint8_t accesses = 0;
    Access access[2] = {};

    bool ok() const { return kind != Invalid; }
    bool delayed() const { return kind >= Delayed; }
    // Whether the path goes on after it (and its slot) by itself.
    bool goesOn() const { return kind != Jump && kind != Return; }
    bool conditional() const { return kind == Branch || kind == Delayed; }
    bool call() const { return kind == Call; }
    // BRAF/BSRF (relative) and JMP/JSR: through a register.
    bool throughRegister() const { return (form->flow & sh2::FlowRegister) != 0; }
    bool relative() const { return (form->flow & sh2::FlowRelative) != 0; }
};

// The step of the word at off with the registers known before it. countFrom: the PC a
// PC-relative operand counts from when that is not the instruction's own address (a
// delay slot's slotPc). Invalid past the image's end or for a word that is no
// instruction.
Step stepAt(const Model::Data& data, std::uint32_t off, const Known& regs,
            std::optional<std::uint32_t> countFrom = std::nullopt);

// The step of a delayed branch's slot at off, its PC-relative operand counted from the
// branch's target: known only where the branch is always taken there (a BT/S or BF/S
// not taken reads from the slot's own address instead).
Step stepSlot(const Model::Data& data, const Step& branch, std::uint32_t off, const Known& regs);

// Whether a delayed branch returns after its slot: a call, or BRAF with LDS Rm,PR in its
// slot (a call the compiler built by hand).
bool returnsAfterSlot(const Step& branch, const sh2::Form* slot);

// The registers after a step: those it writes forgotten, then those it knows set.
inline void apply(const Step& s, Known& regs) {
    regs.known = static_cast<std::uint16_t>(regs.known & ~s.written);
    for (unsigned i = 0; i < s.outs; ++i) {
        regs.known = static_cast<std::uint16_t>(regs.known | 1u << s.outReg[i]);
        regs.value[s.outReg[i]] = s.outValue[i];
    }
}

}  // namespace korvane::dis
