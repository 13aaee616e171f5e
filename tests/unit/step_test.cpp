// The analysis's instruction step held against the runner: every SH-2 form, with random
// fields, registers and a random part of them known, run once by run::Machine and once
// through the step. Where they part, either the semantics disagree with the form table
// (a successor, a register changed that the form does not write) or the step claims a
// value, a target or a slot's literal that the machine does not see.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "disasm/analysis/step.h"
#include "korvane/run.h"
#include "korvane/sh2.h"

namespace korvane::test {
namespace {

constexpr std::uint32_t kImage = 0x06000000, kImageSize = 0x1000, kAt = 0x800;
constexpr std::uint32_t kRam = 0x0C000000, kRamSize = 0x20000, kLowSize = 0x10000;
constexpr std::uint32_t kSrBits = 0x3F3;  // the bits of SR that exist on the SH-2

struct Rng {
    std::mt19937 engine;
    std::uint32_t operator()() { return static_cast<std::uint32_t>(engine()); }
};

// A word of the form with random fields.
std::uint16_t randomWord(Rng& rng, const sh2::Form& f) {
    const sh2::Fields x{static_cast<std::uint8_t>(rng() & 0xF), static_cast<std::uint8_t>(rng() & 0xF),
                        static_cast<std::uint16_t>(rng() & 0xFFF)};
    return static_cast<std::uint16_t>(f.match | (sh2::encode(f, x) & ~f.mask));
}

// Registers at random; those an instruction uses as addresses point into RAM (R0, the
// index, a small offset into the RAM at 0), aligned for any access.
run::Registers randomRegisters(Rng& rng, std::uint16_t addresses) {
    run::Registers r;
    for (std::uint32_t& v : r.r) v = static_cast<std::uint32_t>(rng());
    for (unsigned k = 1; k < 16; ++k) {
        if ((addresses >> k) & 1u) r.r[k] = kRam + 0x4000 + 4 * (rng() % 0x1000);
    }
    if (addresses & 1u) r.r[0] = 4 * (rng() % 0x1000);
    r.r[15] = kRam + 0x18000;
    r.sr = static_cast<std::uint32_t>(rng()) & kSrBits;
    r.gbr = r.vbr = kRam;
    r.mach = static_cast<std::uint32_t>(rng());
    r.macl = static_cast<std::uint32_t>(rng());
    r.pr = kImage + 2 * (rng() % (kImageSize / 2));
    return r;
}

struct Trial {
    std::vector<std::uint8_t> image;
    std::uint16_t word = 0, slot = 0;
    run::Registers before;
    dis::Known known;
};

// What went wrong in one trial, or "".
std::string compare(const Trial& t) {
    std::ostringstream why;
    run::Machine m;
    m.map(kImage, t.image);
    m.mapZeroed(kRam, kRamSize);
    m.mapZeroed(0, kLowSize);
    m.registers() = t.before;
    m.registers().pc = kImage + kAt;
    Model::Data data;
    data.image = t.image;
    data.base = kImage;
    const dis::Step st = dis::stepAt(data, kAt, t.known);
    if (!st.ok()) return "no step";
    run::Stop stop = m.step();
    if (stop.kind != run::StopKind::StepLimit) return "";  // a fault, a trap: nothing to compare
    dis::Known after = t.known;
    dis::apply(st, after);
    dis::Step slot;
    if (st.delayed() && m.registers().pc == kImage + kAt + 2) {
        slot = dis::stepSlot(data, st, kAt + 2, after);
        stop = m.step();
        if (stop.kind != run::StopKind::StepLimit) return "";
        if (!slot.ok()) return "no slot step";
        dis::apply(slot, after);
    }
    const run::Registers& r = m.registers();
    const std::uint32_t pc = kImage + kAt, next = st.delayed() ? pc + 4 : pc + 2;
    switch (st.kind) {
        case dis::Step::Plain:
            if (r.pc != next) why << "went to $" << std::hex << r.pc << ", not on; ";
            break;
        case dis::Step::Branch:
        case dis::Step::Delayed:
            if (r.pc != next && r.pc != *st.target) why << "went to $" << std::hex << r.pc << "; ";
            break;
        case dis::Step::Jump:
        case dis::Step::Call:
            if (st.target && r.pc != *st.target) why << "went to $" << std::hex << r.pc << ", not the target; ";
            if (!st.target && st.throughRegister() && t.known.has(st.fields.m)) why << "its register known, no target; ";
            break;
        case dis::Step::Return:
        case dis::Step::Invalid:
            break;
    }
    const bool prNamed = slot.ok() && (slot.form->args[0] == sh2::Arg::PR || slot.form->args[1] == sh2::Arg::PR);
    if (st.call() && r.pr != pc + 4 && !prNamed) why << "a call that left PR at $" << std::hex << r.pr << "; ";
    if (!st.call() && r.pr != t.before.pr && !prNamed && st.form->args[1] != sh2::Arg::PR)
        why << "PR changed by no call; ";
    const std::uint16_t written = static_cast<std::uint16_t>(st.written | slot.written);
    for (unsigned k = 0; k < 16; ++k) {
        if (r.r[k] != t.before.r[k] && !((written >> k) & 1u)) why << "R" << std::dec << k << " changed, not written; ";
        if (after.has(k) && after.value[k] != r.r[k])
            why << "R" << std::dec << k << " claimed $" << std::hex << after.value[k] << ", is $" << r.r[k] << "; ";
    }
    return why.str();
}

// The forms that may stand in a delay slot.
std::vector<const sh2::Form*> slotForms() {
    std::vector<const sh2::Form*> out;
    for (const sh2::Form& f : sh2::forms()) {
        if (!(f.flow & sh2::FlowSlotIllegal) && f.flow == 0) out.push_back(&f);
    }
    return out;
}

TEST(Step, EveryFormAgreesWithTheRunner) {
    Rng rng{std::mt19937(20261210)};
    const std::vector<const sh2::Form*> slots = slotForms();
    constexpr int kTrials = 60;
    int failures = 0, compared = 0;
    for (const sh2::Form& f : sh2::forms()) {
        for (int n = 0; n < kTrials && failures < 20; ++n) {
            Trial t;
            t.image.resize(kImageSize);
            for (std::uint8_t& b : t.image) b = static_cast<std::uint8_t>(rng());
            t.word = randomWord(rng, f);
            const sh2::Form& s = *slots[rng() % slots.size()];
            t.slot = randomWord(rng, s);
            t.image[kAt] = static_cast<std::uint8_t>(t.word >> 8);
            t.image[kAt + 1] = static_cast<std::uint8_t>(t.word);
            t.image[kAt + 2] = static_cast<std::uint8_t>(t.slot >> 8);
            t.image[kAt + 3] = static_cast<std::uint8_t>(t.slot);
            const std::uint16_t addresses =
                static_cast<std::uint16_t>(sh2::addressRegisters(f, sh2::fieldsOf(f, t.word)) |
                                           sh2::addressRegisters(s, sh2::fieldsOf(s, t.slot)));
            t.before = randomRegisters(rng, addresses);
            // Every register known, none, or a random part of them.
            t.known.known = n % 3 == 0 ? 0xFFFF : n % 3 == 1 ? 0 : static_cast<std::uint16_t>(rng());
            for (unsigned k = 0; k < 16; ++k) t.known.value[k] = t.before.r[k];
            const std::string why = compare(t);
            ++compared;
            if (!why.empty()) {
                ++failures;
                ADD_FAILURE() << f.mnemonic << " $" << std::hex << t.word << " (slot $" << t.slot << "): " << why;
            }
        }
    }
    EXPECT_EQ(compared, kTrials * static_cast<int>(sh2::forms().size()));
}

}  // namespace
}  // namespace korvane::test
