// The machine: every word's semantic and timing looked up in one table built from the
// form table, memory as regions (the last one used tried first), and the SH7604's cycle
// model: each instruction's issue cycles, a taken branch's extra cycles, one cycle more
// when an instruction uses the register that the load before it loaded, the multiplier
// busy until its result is ready, wait states per access, and the division unit busy
// 39 cycles (6 on overflow) after a division starts.
#include "korvane/run.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include "isa/isa.h"
#include "isa/semantics.h"

namespace korvane::run {

namespace {

// Below $E0000000 bits 31-29 choose how the same memory is reached (cached, cache-through,
// ...); the on-chip block and the rest above stand for themselves.
constexpr std::uint32_t kAliased = 0xE0000000u;
constexpr std::uint32_t physical(std::uint32_t a) {
    return a < kAliased ? a & 0x1FFFFFFFu : a;
}

constexpr std::uint32_t kOnChip = 0xFFFFFE00u;  // the on-chip register block, 512 bytes
constexpr std::uint32_t kDivision = 0x100;      // the division unit's offset in it (32 bytes, mirrored once)

struct Fault {
    StopKind kind;
    std::uint32_t address;
};

// Zeroed memory from the system: its pages cost nothing until they are written, so a
// large --ram the routine barely touches stays small.
struct Free {
    void operator()(std::uint8_t* p) const { std::free(p); }
};
using Zeroed = std::unique_ptr<std::uint8_t, Free>;
Zeroed zeroed(std::uint64_t size) {
    auto* p = static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(size == 0 ? 1 : size), 1));
    if (p == nullptr) throw std::bad_alloc();
    return Zeroed(p);
}

struct Region {
    std::uint32_t given;  // the base as the caller gave it
    std::uint32_t base;   // physical
    std::uint32_t size;
    std::vector<std::uint8_t> image;  // the bytes the caller gave, or none
    Zeroed memory;                    // or zeroed memory
    std::uint8_t* bytes;              // either
    Zeroed written;                   // a bit a byte
    unsigned wait;
    bool onChip;
};

std::uint32_t be32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}
void putBe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

std::string hex8(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "$%08X", v);
    return buf;
}

}  // namespace

std::uint32_t* registerNamed(Registers& registers, std::string_view name) {
    static constexpr std::string_view kGeneral[] = {"R0", "R1", "R2",  "R3",  "R4",  "R5",  "R6",  "R7",
                                                    "R8", "R9", "R10", "R11", "R12", "R13", "R14", "R15"};
    for (unsigned i = 0; i < 16; ++i) {
        if (name == kGeneral[i]) return &registers.r[i];
    }
    if (name == "SR") return &registers.sr;
    if (name == "GBR") return &registers.gbr;
    if (name == "VBR") return &registers.vbr;
    if (name == "MACH") return &registers.mach;
    if (name == "MACL") return &registers.macl;
    if (name == "PR") return &registers.pr;
    return nullptr;
}

std::string describe(const Stop& stop) {
    switch (stop.kind) {
        case StopKind::Returned: return "returned";
        case StopKind::StepLimit: return "step limit";
        case StopKind::AddressError: return "address error at " + hex8(stop.address) + " (PC " + hex8(stop.pc) + ")";
        case StopKind::Unmapped: return "unmapped access at " + hex8(stop.address) + " (PC " + hex8(stop.pc) + ")";
        case StopKind::Illegal: return "illegal instruction at " + hex8(stop.pc);
        case StopKind::SlotIllegal: return "slot illegal at " + hex8(stop.pc);
        case StopKind::Trap: return "trapa #" + std::to_string(stop.trap) + " at " + hex8(stop.pc);
        case StopKind::Sleep: return "sleep at " + hex8(stop.pc);
    }
    return "stopped";
}

struct Machine::Core : Registers {
    // ---- the table of every word ----
    enum : std::uint8_t { kSlotIllegal = 1, kUsesMac = 2 };
    static constexpr std::uint8_t kNone = 0xFF;
    struct Op {
        void (*run)(Core&, std::uint16_t) = nullptr;
        std::uint16_t reads = 0;    // the general registers it reads
        std::uint8_t loads = kNone;  // the general register a load fills
        std::uint8_t issue = 1;
        std::uint8_t takenExtra = 0;
        std::uint8_t multiplier = 0;
        std::uint8_t flags = 0;
    };
    using Table = std::array<Op, 65536>;
    static const Table& table();

    // ---- state ----
    std::vector<std::unique_ptr<Region>> regions;
    Region* lastData = nullptr;
    Region* lastCode = nullptr;
    std::uint64_t stepCount = 0, cycleCount = 0;
    std::uint64_t multiplierReady = 0;  // the cycle the multiplier's result is ready
    std::uint64_t divisionReady = 0;    // the cycle the division unit's result is ready
    std::uint8_t lastLoad = kNone;
    std::uint32_t returnAddress = 0xFFFFFFFFu;
    std::uint32_t frameTop = 0;  // R15 when the first run began
    bool started = false;
    bool enterTraps = false;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> stubs;  // sorted by physical address

    // The instruction being run.
    std::uint32_t insn = 0, next = 0;
    std::uint8_t takenExtra = 0;
    bool inSlot = false, branchPending = false;
    std::uint32_t slotTarget = 0;
    bool stubbed = false;
    std::uint32_t stubValue = 0, stubCallee = 0, stubReturn = 0;
    std::optional<Stop> requested;  // TRAPA or SLEEP

    Core() {
        auto chip = std::make_unique<Region>();
        chip->given = chip->base = kOnChip;
        chip->size = 0x200;
        chip->memory = zeroed(0x200);
        chip->bytes = chip->memory.get();
        chip->wait = 0;
        chip->onChip = true;
        regions.push_back(std::move(chip));
        lastData = lastCode = regions.front().get();
    }

    // ---- what the semantics ask ----
    std::uint32_t here() const { return insn; }
    std::uint32_t pcRel() const { return inSlot ? sh2::slotPcFor(slotTarget) : insn; }
    void jump(std::uint32_t to) {
        cycleCount += takenExtra;
        next = to;
    }
    void delayed(std::uint32_t to) {
        cycleCount += takenExtra;
        slotTarget = to;
        branchPending = true;
    }
    void call(std::uint32_t to) {
        delayed(to);
        if (stubs.empty()) return;
        const auto it = std::lower_bound(stubs.begin(), stubs.end(), std::pair{physical(to), 0u},
                                         [](const auto& a, const auto& b) { return a.first < b.first; });
        if (it == stubs.end() || it->first != physical(to)) return;
        stubbed = true;
        stubValue = it->second;
        stubCallee = to;
        stubReturn = pr;
    }
    bool trap(std::uint32_t imm) {
        if (enterTraps) return true;
        requested = Stop{StopKind::Trap, insn, 0, static_cast<std::uint8_t>(imm)};
        return false;
    }
    void sleep() { requested = Stop{StopKind::Sleep, insn, 0, 0}; }

    // ---- memory ----
    Region* find(std::uint32_t p, std::uint32_t size) const {
        for (const auto& rg : regions) {
            if (p >= rg->base && std::uint64_t{p - rg->base} + size <= rg->size) return rg.get();
        }
        return nullptr;
    }
    // The region an access of S bytes at a falls in, and its offset there.
    struct Reached {
        Region& rg;
        std::uint32_t off;
    };
    template <unsigned S>
    Reached reach(std::uint32_t a) {
        if ((a & (S - 1)) != 0) throw Fault{StopKind::AddressError, a};
        const std::uint32_t p = physical(a);
        Region* rg = lastData;
        if (p < rg->base || std::uint64_t{p - rg->base} + S > rg->size) {
            rg = find(p, S);
            if (rg == nullptr) throw Fault{StopKind::Unmapped, a};
            lastData = rg;
        }
        cycleCount += rg->wait;
        return {*rg, p - rg->base};
    }
    template <unsigned S>
    std::uint32_t read(std::uint32_t a) {
        const auto [rg, off] = reach<S>(a);
        if (rg.onChip) divisionWait(off);
        const std::uint8_t* b = rg.bytes + off;
        if constexpr (S == 1) return b[0];
        else if constexpr (S == 2) return std::uint32_t{b[0]} << 8 | b[1];
        else return be32(b);
    }
    template <unsigned S>
    void write(std::uint32_t a, std::uint32_t v) {
        const auto [rg, off] = reach<S>(a);
        std::uint8_t* b = rg.bytes + off;
        if constexpr (S == 1) {
            b[0] = static_cast<std::uint8_t>(v);
        } else if constexpr (S == 2) {
            b[0] = static_cast<std::uint8_t>(v >> 8);
            b[1] = static_cast<std::uint8_t>(v);
        } else {
            putBe32(b, v);
        }
        if (rg.onChip) {
            divisionWrote(rg, off);
            return;
        }
        // The routine's own stack frame (from R15 up to where R15 stood when the run
        // began; a push writes just below R15 before it moves) is its scratch, not a result.
        if (a < frameTop && std::uint64_t{a} + 4 >= r[15]) return;
        std::uint8_t& bits = rg.written.get()[off >> 3];
        bits = static_cast<std::uint8_t>(bits | ((1u << S) - 1) << (off & 7));
    }
    std::uint32_t read8(std::uint32_t a) { return read<1>(a); }
    std::uint32_t read16(std::uint32_t a) { return read<2>(a); }
    std::uint32_t read32(std::uint32_t a) { return read<4>(a); }
    void write8(std::uint32_t a, std::uint32_t v) { write<1>(a, v); }
    void write16(std::uint32_t a, std::uint32_t v) { write<2>(a, v); }
    void write32(std::uint32_t a, std::uint32_t v) { write<4>(a, v); }

    std::uint16_t fetch(std::uint32_t a) {
        if ((a & 1) != 0) throw Fault{StopKind::AddressError, a};
        const std::uint32_t p = physical(a);
        Region* rg = lastCode;
        if (p < rg->base || std::uint64_t{p - rg->base} + 2 > rg->size) {
            rg = find(p, 2);
            if (rg == nullptr) throw Fault{StopKind::Unmapped, a};
            lastCode = rg;
        }
        const std::uint8_t* b = rg->bytes + (p - rg->base);
        return static_cast<std::uint16_t>(b[0] << 8 | b[1]);
    }

    // ---- the division unit: DVSR, DVDNT, DVCR, VCRDIV, DVDNTH, DVDNTL (and two copies
    // of the last two), at $FFFFFF00, mirrored at $FFFFFF20 ----
    static bool inDivision(std::uint32_t off) { return off >= kDivision && off < kDivision + 0x40; }
    void divisionWait(std::uint32_t off) {
        if (inDivision(off) && cycleCount < divisionReady) cycleCount = divisionReady;
    }
    void divisionWrote(Region& chip, std::uint32_t off) {
        if (!inDivision(off)) return;
        if (cycleCount < divisionReady) cycleCount = divisionReady;
        std::uint8_t* unit = chip.bytes + kDivision;
        const std::uint32_t reg = (off - kDivision) & 0x1C;
        if (off - kDivision >= 0x20) std::copy_n(unit + 0x20 + reg, 4, unit + reg);  // the mirror
        if (reg == 0x04) {  // DVDNT: a 32-bit dividend, sign-extended
            const std::uint32_t low = be32(unit + 0x04);
            putBe32(unit + 0x14, low);
            putBe32(unit + 0x10, (low >> 31) != 0 ? 0xFFFFFFFFu : 0);
        }
        if (reg == 0x04 || reg == 0x14) divide(unit);
        std::copy_n(unit, 0x20, unit + 0x20);
    }
    void divide(std::uint8_t* unit) {
        const auto divisor = static_cast<std::int32_t>(be32(unit));
        const auto dividend = static_cast<std::int64_t>(std::uint64_t{be32(unit + 0x10)} << 32 | be32(unit + 0x14));
        std::uint32_t quotient, remainder;
        bool overflow = divisor == 0 || (divisor == -1 && dividend == INT64_MIN);
        if (!overflow) {
            const std::int64_t q = dividend / divisor;
            overflow = q < INT32_MIN || q > INT32_MAX;
            quotient = static_cast<std::uint32_t>(q);
            remainder = static_cast<std::uint32_t>(dividend % divisor);
        }
        if (overflow) {
            // The unit spends three cycles on its flags and three dividing before it sees
            // the overflow: DVDNTH holds what those three steps left, DVDNTL the quotient
            // saturated by its sign (or, with the overflow interrupt enabled, the partial
            // quotient).
            std::int64_t x = dividend;
            const bool negDivisor = divisor < 0;
            bool q = x < 0;
            for (int i = 0; i < 3; ++i) {
                const std::uint64_t d = static_cast<std::uint64_t>(static_cast<std::int64_t>(divisor)) << 32;
                x = static_cast<std::int64_t>(q == negDivisor ? static_cast<std::uint64_t>(x) - d
                                                              : static_cast<std::uint64_t>(x) + d);
                q = x < 0;
                x = static_cast<std::int64_t>(static_cast<std::uint64_t>(x) << 1 | (q == negDivisor ? 1u : 0u));
            }
            remainder = static_cast<std::uint32_t>(static_cast<std::uint64_t>(x) >> 32);
            const bool negative = (dividend < 0) != negDivisor;
            const bool interrupt = (be32(unit + 0x08) & 2) != 0;
            quotient = interrupt ? static_cast<std::uint32_t>(x) : negative ? 0x80000000u : 0x7FFFFFFFu;
            putBe32(unit + 0x08, be32(unit + 0x08) | 1);  // OVF
        }
        putBe32(unit + 0x04, quotient);
        putBe32(unit + 0x14, quotient);
        putBe32(unit + 0x10, remainder);
        putBe32(unit + 0x18, remainder);
        putBe32(unit + 0x1C, quotient);
        divisionReady = cycleCount + (overflow ? 6 : 39);
    }

    // ---- running ----
    template <bool Traced>
    Stop loop(std::uint64_t maxSteps, Tracer* tracer);
};

const Machine::Core::Table& Machine::Core::table() {
    static const std::unique_ptr<Table> built = [] {
        auto t = std::make_unique<Table>();
        using Rows = sh2::SemanticTable<Core>;
        for (unsigned w = 0; w <= 0xFFFF; ++w) {
            const auto word = static_cast<std::uint16_t>(w);
            const std::optional<sh2::Decoded> d = sh2::decode(word);
            if (!d) continue;
            const sh2::Form& f = *d->form;
            const sh2::Semantic<Core>& s = Rows::of(f);
            Op& op = (*t)[w];
            op.run = s.run;
            std::uint16_t reads = sh2::namedRegisters(f, d->fields);
            const sh2::Arg last = f.args[1] != sh2::Arg::None ? f.args[1] : f.args[0];
            if (s.timing.onlyWritesLast) {
                if (last == sh2::Arg::Rn) reads = static_cast<std::uint16_t>(reads & ~(1u << d->fields.n));
                if (last == sh2::Arg::R0) reads = static_cast<std::uint16_t>(reads & ~1u);
                reads = static_cast<std::uint16_t>(reads | sh2::addressRegisters(f, d->fields));
            }
            op.reads = reads;
            const sh2::Arg src = f.args[0];
            const bool fromMemory = src == sh2::Arg::AtRm || src == sh2::Arg::AtRmPlus || src == sh2::Arg::AtDispRm ||
                                    src == sh2::Arg::AtR0Rm || src == sh2::Arg::AtDispGbr ||
                                    src == sh2::Arg::AtDispPc;
            if (fromMemory && f.mnemonic.starts_with("MOV.")) op.loads = last == sh2::Arg::R0 ? 0 : d->fields.n;
            op.issue = s.timing.issue;
            op.takenExtra = static_cast<std::uint8_t>(s.timing.taken != 0 ? s.timing.taken - s.timing.issue : 0);
            op.multiplier = s.timing.multiplier;
            op.flags = static_cast<std::uint8_t>(((f.flow & sh2::FlowSlotIllegal) != 0 ? kSlotIllegal : 0) |
                                                 (s.timing.usesMac ? kUsesMac : 0));
        }
        return t;
    }();
    return *built;
}

template <bool Traced>
Stop Machine::Core::loop(std::uint64_t maxSteps, Tracer* tracer) {
    const Table& ops = table();
    const std::uint64_t end = maxSteps > ~std::uint64_t{0} - stepCount ? ~std::uint64_t{0} : stepCount + maxSteps;
    try {
        for (;;) {
            if (pc == returnAddress && !inSlot) return Stop{StopKind::Returned, pc, 0, 0};
            if (stepCount == end) return Stop{StopKind::StepLimit, pc, 0, 0};
            insn = pc;
            const std::uint16_t w = fetch(pc);
            const Op& op = ops[w];
            // An undefined word in a delay slot is a slot illegal instruction (vector 6),
            // elsewhere a general illegal instruction (vector 4).
            if (op.run == nullptr) return Stop{inSlot ? StopKind::SlotIllegal : StopKind::Illegal, pc, 0, 0};
            if (inSlot && (op.flags & kSlotIllegal) != 0) return Stop{StopKind::SlotIllegal, pc, 0, 0};
            // A load's register used at once costs a cycle; the multiplier is waited for.
            std::uint64_t start = cycleCount + (lastLoad != kNone && ((op.reads >> lastLoad) & 1u) != 0 ? 1 : 0);
            if ((op.flags & kUsesMac) != 0) {
                if (start < multiplierReady) start = multiplierReady;
                if (op.multiplier != 0) multiplierReady = start + op.multiplier;
            }
            cycleCount = start + op.issue;
            lastLoad = op.loads;
            next = pc + 2;
            takenExtra = op.takenExtra;
            const bool slot = inSlot;
            op.run(*this, w);
            ++stepCount;
            if constexpr (Traced) tracer->executed(Event{insn, w, cycleCount, false, 0});
            if (slot) {
                inSlot = false;
                next = slotTarget;
                if (stubbed) {
                    stubbed = false;
                    r[0] = stubValue;
                    next = stubReturn;
                    if constexpr (Traced) tracer->executed(Event{stubCallee, 0, cycleCount, true, stubValue});
                }
            } else if (branchPending) {
                branchPending = false;
                inSlot = true;
            }
            if (requested) {
                const Stop s = *requested;
                requested.reset();
                return s;
            }
            pc = next;
        }
    } catch (const Fault& f) {
        return Stop{f.kind, insn, f.address, 0};
    }
}

Machine::Machine() : core_(std::make_unique<Core>()) {}
Machine::~Machine() = default;

std::string Machine::mappable(std::uint32_t base, std::uint64_t size) const {
    if (size == 0) return "an empty region";
    if (std::uint64_t{base} + size > 0x100000000ull) return "a region past $FFFFFFFF";
    const std::uint32_t p = physical(base);
    const std::uint64_t end = std::uint64_t{p} + size;
    if (base < kAliased && end > std::uint64_t{(p & 0xE0000000u)} + 0x20000000u)
        return "a region across a 512 MiB area's end";
    for (const auto& r : core_->regions) {
        if (p < std::uint64_t{r->base} + r->size && r->base < end)
            return r->onChip ? "a region over the on-chip block at $FFFFFE00"
                             : "a region over the one of " + std::to_string(r->size) + " bytes at " + hex8(r->given);
    }
    return "";
}

namespace {
std::unique_ptr<Region> region(std::uint32_t base, std::uint64_t size, unsigned wait) {
    auto r = std::make_unique<Region>();
    r->given = base;
    r->base = physical(base);
    r->size = static_cast<std::uint32_t>(size);
    r->written = zeroed((size + 7) / 8);
    r->wait = wait;
    r->onChip = false;
    return r;
}
}  // namespace

std::string Machine::map(std::uint32_t base, std::vector<std::uint8_t> bytes, unsigned wait) {
    if (std::string why = mappable(base, bytes.size()); !why.empty()) return why;
    auto r = region(base, bytes.size(), wait);
    r->image = std::move(bytes);
    r->bytes = r->image.data();
    core_->regions.push_back(std::move(r));
    return "";
}

std::string Machine::mapZeroed(std::uint32_t base, std::uint64_t size, unsigned wait) {
    if (std::string why = mappable(base, size); !why.empty()) return why;
    auto r = region(base, size, wait);
    r->memory = zeroed(size);
    r->bytes = r->memory.get();
    core_->regions.push_back(std::move(r));
    return "";
}

bool Machine::mapped(std::uint32_t address) const {
    return core_->find(physical(address), 1) != nullptr;
}

bool Machine::poke(std::uint32_t address, std::span<const std::uint8_t> bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        Region* r = core_->find(physical(address + static_cast<std::uint32_t>(i)), 1);
        if (r == nullptr) return false;
        r->bytes[physical(address + static_cast<std::uint32_t>(i)) - r->base] = bytes[i];
    }
    return true;
}

std::optional<std::vector<std::uint8_t>> Machine::peek(std::uint32_t address, std::uint32_t size) const {
    std::vector<std::uint8_t> out;
    out.reserve(size);
    for (std::uint32_t i = 0; i < size; ++i) {
        const Region* r = core_->find(physical(address + i), 1);
        if (r == nullptr) return std::nullopt;
        out.push_back(r->bytes[physical(address + i) - r->base]);
    }
    return out;
}

void Machine::stub(std::uint32_t given, std::uint32_t value) {
    auto& s = core_->stubs;
    const std::uint32_t address = physical(given);  // a call through an alias of it is a call to it
    const auto it = std::lower_bound(s.begin(), s.end(), std::pair{address, 0u},
                                     [](const auto& a, const auto& b) { return a.first < b.first; });
    if (it != s.end() && it->first == address) it->second = value;
    else s.insert(it, {address, value});
}

void Machine::trapsEnterVectors(bool enter) {
    core_->enterTraps = enter;
}
void Machine::returnAt(std::uint32_t address) {
    core_->returnAddress = address;
}
Registers& Machine::registers() {
    return *core_;
}
const Registers& Machine::registers() const {
    return *core_;
}
std::uint64_t Machine::steps() const {
    return core_->stepCount;
}
std::uint64_t Machine::cycles() const {
    return core_->cycleCount;
}

Stop Machine::run(std::uint64_t maxSteps, Tracer* tracer) {
    if (!core_->started) {
        core_->started = true;
        core_->frameTop = core_->r[15];
    }
    return tracer != nullptr ? core_->loop<true>(maxSteps, tracer) : core_->loop<false>(maxSteps, nullptr);
}
Stop Machine::step() {
    return run(1);
}

std::vector<std::pair<std::uint32_t, std::uint8_t>> Machine::written() const {
    std::vector<std::pair<std::uint32_t, std::uint8_t>> out;
    for (const auto& r : core_->regions) {
        if (r->onChip) continue;
        const std::uint8_t* bits = r->written.get();
        const std::uint32_t whole = (r->size + 7) / 8;
        for (std::uint32_t at = 0; at < whole; ++at) {
            // Eight bytes of the bitmap at a time where nothing was written.
            if ((at & 7) == 0 && whole - at >= 8) {
                std::uint64_t eight;
                std::memcpy(&eight, bits + at, 8);
                if (eight == 0) {
                    at += 7;
                    continue;
                }
            }
            for (std::uint32_t i = at * 8; i < at * 8 + 8 && i < r->size; ++i) {
                if ((bits[at] >> (i & 7)) & 1u) out.emplace_back(r->given + i, r->bytes[i]);
            }
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace korvane::run
