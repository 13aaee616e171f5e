// Runs SH-2 code: a machine with the SH-2's registers, memory as regions (an image at its
// base, RAM the caller gives, the SH7604's on-chip register block with its division
// unit), the cycles the SH7604 spends, and the reason it stopped as a value.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::run {

struct Registers {
    std::uint32_t r[16] = {};
    std::uint32_t sr = 0, gbr = 0, vbr = 0, mach = 0, macl = 0, pr = 0, pc = 0;
};

// The register of this name (R0-R15, SR, GBR, VBR, MACH, MACL, PR, upper case), or
// nullptr.
std::uint32_t* registerNamed(Registers& registers, std::string_view name);

enum class StopKind : std::uint8_t {
    Returned,      // PC reached the return address
    StepLimit,     // the steps asked for have run
    AddressError,  // a word or long at an odd address (address: where)
    Unmapped,      // a read, write or fetch where no region is (address: where)
    Illegal,       // a word that is no SH-2 instruction
    SlotIllegal,   // a branch, RTE, TRAPA or a word that is no instruction in a delay slot
    Trap,          // TRAPA #trap, when traps stop the machine
    Sleep,         // SLEEP
};

struct Stop {
    StopKind kind = StopKind::StepLimit;
    std::uint32_t pc = 0;       // the instruction that stopped the machine
    std::uint32_t address = 0;  // the address of a fault
    std::uint8_t trap = 0;      // TRAPA's number
};
// "returned", "step limit", "address error at $X (PC $Y)", "slot illegal at $X", ...
std::string describe(const Stop& stop);

// What a trace sees: an instruction run (its address and word, the cycles counted once
// it ran), or a call that a stub answered.
struct Event {
    std::uint32_t pc;
    std::uint16_t word;
    std::uint64_t cycles;
    bool stub;           // a stubbed call returned: pc is the callee, value what R0 got
    std::uint32_t value;
};
class Tracer {
  public:
    virtual ~Tracer() = default;
    virtual void executed(const Event& event) = 0;
};

class Machine {
  public:
    Machine();
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // Maps bytes at base, an access costing wait extra cycles. Addresses that differ in
    // bits 31-29 only are the same memory below $E0000000 (the SH7604's cache and
    // cache-through areas). "" when it could, otherwise why not (empty, past 2^32, or
    // overlapping a region already mapped, the on-chip block at $FFFFFE00 included).
    std::string map(std::uint32_t base, std::vector<std::uint8_t> bytes, unsigned wait = 0);
    // Maps size zeroed bytes at base (RAM): checked before anything is allocated, and
    // its pages taken from the system only as they are written.
    std::string mapZeroed(std::uint32_t base, std::uint64_t size, unsigned wait = 0);
    // "" when size bytes at base could be mapped, otherwise why not.
    std::string mappable(std::uint32_t base, std::uint64_t size) const;
    // Copies bytes into mapped memory at address; false when some of it is not mapped.
    bool poke(std::uint32_t address, std::span<const std::uint8_t> bytes);
    // The bytes at address, or nothing when some of them are not mapped.
    std::optional<std::vector<std::uint8_t>> peek(std::uint32_t address, std::uint32_t size) const;
    // Whether address is in a region.
    bool mapped(std::uint32_t address) const;

    // A call (BSR, BSRF, JSR) to address returns at once with R0 = value.
    void stub(std::uint32_t address, std::uint32_t value);
    // TRAPA enters its vector through VBR (true) or stops the machine (false, the default).
    void trapsEnterVectors(bool enter);
    // The address that ends a run when PC reaches it (the caller plants it in PR).
    void returnAt(std::uint32_t address);

    Registers& registers();
    const Registers& registers() const;
    std::uint64_t steps() const;
    std::uint64_t cycles() const;

    // Runs until the machine stops or maxSteps instructions more have run; step() runs
    // one instruction.
    Stop run(std::uint64_t maxSteps, Tracer* tracer = nullptr);
    Stop step();

    // Every byte written since the machine was made, outside the on-chip block and the
    // routine's stack frame (from R15, or the 4 bytes a push writes below it, up to where
    // R15 stood when the first run began, at the time of the write), by address, with its
    // value now.
    std::vector<std::pair<std::uint32_t, std::uint8_t>> written() const;

  private:
    struct Core;
    std::unique_ptr<Core> core_;
};

struct Label {
    std::string name;
    std::uint32_t address;
};
// The labels of the table that ends a listing korvane wrote (the .log beside its image),
// local labels left out: "" and labels filled, or why the text holds no such table.
std::string labelTable(std::string_view listing, std::vector<Label>& labels);

}  // namespace korvane::run
