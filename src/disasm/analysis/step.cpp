#include "disasm/analysis/step.h"

#include <array>
#include <vector>

#include "isa/semantics.h"

namespace korvane::dis {

namespace {

// A machine for the semantics that records what an instruction did: the registers are
// given, memory reads return a fill (or, for the instruction's own literal, the image),
// writes and branches are noted.
struct Probe {
    std::uint32_t r[16] = {};
    std::uint32_t sr = 0, gbr = 0, vbr = 0, mach = 0, macl = 0, pr = 0;
    std::uint32_t at = 0, rel = 0;
    std::uint32_t fill = 0;           // what memory other than the literal holds
    const Model::Data* data = nullptr;  // the image, for a PC-relative load
    bool literalMissing = false;      // the literal lies outside the image
    std::optional<std::uint32_t> to;  // where it branched
    Step::Access seen[2] = {};
    std::uint8_t accesses = 0;
    std::uint32_t stored = 0;  // the value written (the last write)

    std::uint32_t here() const { return at; }
    std::uint32_t pcRel() const { return rel; }
    void note(std::uint32_t a, unsigned bytes, bool written) {
        if (accesses < 2) seen[accesses++] = Step::Access{a, static_cast<std::uint8_t>(bytes), written};
    }
    std::uint32_t read(std::uint32_t a, unsigned bytes) {
        if (data != nullptr) {  // the instruction's literal
            std::uint32_t off;
            if (!data->inImage(a, off) || off + bytes > data->size()) {
                literalMissing = true;
                return 0;
            }
            return bytes == 4 ? data->longAt(off) : bytes == 2 ? data->word(off) : data->image[off];
        }
        note(a, bytes, false);
        return bytes == 4 ? fill : fill & ((1u << (8 * bytes)) - 1);
    }
    std::uint32_t read8(std::uint32_t a) { return read(a, 1); }
    std::uint32_t read16(std::uint32_t a) { return read(a, 2); }
    std::uint32_t read32(std::uint32_t a) { return read(a, 4); }
    void write(std::uint32_t a, unsigned bytes, std::uint32_t v) {
        note(a, bytes, true);
        stored = v;
    }
    void write8(std::uint32_t a, std::uint32_t v) { write(a, 1, v); }
    void write16(std::uint32_t a, std::uint32_t v) { write(a, 2, v); }
    void write32(std::uint32_t a, std::uint32_t v) { write(a, 4, v); }
    void jump(std::uint32_t t) { to = t; }
    void delayed(std::uint32_t t) { to = t; }
    void call(std::uint32_t t) { to = t; }
    bool trap(std::uint32_t) { return false; }
    void sleep() {}
};

using Semantics = sh2::SemanticTable<Probe>;

// The general registers an instruction reads: those its operands name, but for a last
// operand it only writes (its address registers read all the same).
std::uint16_t readRegisters(const sh2::Form& f, const sh2::Fields& x) {
    if (!Semantics::of(f).timing.onlyWritesLast) return sh2::namedRegisters(f, x);
    sh2::Form first = f;  // its operands but the last, which it only writes
    first.writes = 0;
    if (f.args[1] != sh2::Arg::None) first.args[1] = sh2::Arg::None;
    else first.args[0] = sh2::Arg::None;
    return static_cast<std::uint16_t>(sh2::namedRegisters(first, x) | sh2::addressRegisters(f, x));
}

// One form run on a probe with the registers given and the rest of the machine all
// zeros (or all ones).
Probe canonical(const sh2::Form& f, const sh2::Fields& x, std::uint32_t seed, bool ones) {
    Probe p;
    for (unsigned k = 0; k < 16; ++k) p.r[k] = seed * (k + 1) + 0x100u;
    const std::uint32_t rest = ones ? ~0u : 0u;
    p.sr = ones ? sh2::kSrBits : 0;
    p.gbr = p.vbr = p.mach = p.macl = p.pr = p.fill = rest;
    p.at = p.rel = 0x06000000u;
    Semantics::of(f).run(p, sh2::encode(f, x));
    return p;
}

std::vector<FormMemory> formMemory() {
    std::vector<FormMemory> out;
    const auto forms = sh2::forms();
    out.reserve(forms.size());
    const sh2::Fields x{1, 2, 0};
    for (const sh2::Form& f : forms) {
        FormMemory m;
        const bool pcRelative = f.reach == sh2::Reach::PcWord || f.reach == sh2::Reach::PcLong;
        // What of its result depends on the registers alone: the same whatever the rest
        // of the machine holds, for two sets of registers. (A PC-relative load reads the
        // image, which the step gives it.)
        m.pureWrites = f.writes;
        m.pureTarget = m.pureAddresses = true;
        for (const std::uint32_t seed : {0x10000000u, 0x01234568u}) {
            const Probe a = canonical(f, x, seed, false), b = canonical(f, x, seed, true);
            const unsigned roles[] = {sh2::WritesN, sh2::WritesM, sh2::WritesR0, sh2::WritesStack};
            const unsigned regs[] = {x.n, x.m, 0u, sh2::kStackRegister};
            for (unsigned i = 0; i < 4; ++i) {
                if (a.r[regs[i]] != b.r[regs[i]] && !pcRelative)
                    m.pureWrites = static_cast<std::uint8_t>(m.pureWrites & ~roles[i]);
            }
            if (a.to != b.to) m.pureTarget = false;
            for (unsigned i = 0; i < a.accesses; ++i) {
                if (i >= b.accesses || a.seen[i].address != b.seen[i].address) m.pureAddresses = false;
            }
        }
        if (!pcRelative) {
            const Probe p = canonical(f, x, 0x10000000u, false);
            for (unsigned i = 0; i < p.accesses; ++i) {
                if (p.seen[i].written) m.stores = p.seen[i].bytes;
                else m.loads = p.seen[i].bytes;
            }
            if (m.stores != 0)
                m.storedFrom = p.stored == p.r[0] ? '0' : p.stored == p.r[x.n] ? 'n' : p.stored == p.r[x.m] ? 'm' : 0;
        }
        out.push_back(m);
    }
    return out;
}

// What every word is, worked out once: its form (an index, kNone for no instruction),
// its kind and its registers.
struct WordFacts {
    std::uint16_t written = 0, addresses = 0, reads = 0;
    std::uint8_t form = kNone;
    Step::Kind kind = Step::Invalid;
    static constexpr std::uint8_t kNone = 0xFF;
};

Step::Kind kindOf(std::uint8_t flow) {
    if (!(flow & (sh2::FlowDelayed | sh2::FlowConditional))) return Step::Plain;
    if (!(flow & sh2::FlowDelayed)) return Step::Branch;
    if (flow & sh2::FlowConditional) return Step::Delayed;
    if (flow & sh2::FlowCall) return Step::Call;
    if (flow & sh2::FlowReturn) return Step::Return;
    return Step::Jump;
}

const std::vector<WordFacts>& wordFacts() {
    static const std::vector<WordFacts> table = [] {
        std::vector<WordFacts> t(0x10000);
        const auto forms = sh2::forms();
        static_assert(sh2::kFormTable.size() < WordFacts::kNone, "a form's index fits a byte");
        for (unsigned w = 0; w <= 0xFFFF; ++w) {
            const sh2::Form* f = sh2::decodeForm(static_cast<std::uint16_t>(w));
            if (f == nullptr) continue;
            const sh2::Fields x = sh2::fieldsOf(*f, static_cast<std::uint16_t>(w));
            WordFacts& o = t[w];
            o.form = static_cast<std::uint8_t>(f - forms.data());
            o.kind = kindOf(f->flow);
            o.written = sh2::writtenRegisters(*f, x);
            o.addresses = sh2::addressRegisters(*f, x);
            o.reads = readRegisters(*f, x);
        }
        return t;
    }();
    return table;
}

Step& finish(Step& s) {
    if (s.delayed() && s.target) s.slotPc = sh2::slotPcFor(*s.target);
    return s;
}

}  // namespace

const FormMemory& memoryOf(const sh2::Form& form) {
    static const std::vector<FormMemory> table = formMemory();
    return table[static_cast<std::size_t>(&form - sh2::forms().data())];
}

Step stepAt(const Model::Data& data, std::uint32_t off, const Known& regs, std::optional<std::uint32_t> countFrom) {
    Step s;
    if (off + 1 >= data.size()) return s;
    const std::uint16_t word = data.word(off);
    static const WordFacts* const words = wordFacts().data();
    const WordFacts& w = words[word];
    if (w.form == WordFacts::kNone) return s;
    const sh2::Form& f = sh2::kFormTable[w.form];
    s.form = &f;
    s.fields = sh2::fieldsOf(f, word);
    s.pc = data.address(off);
    const std::uint8_t flow = f.flow;
    s.kind = w.kind;
    s.written = w.written;
    s.addresses = w.addresses;
    if (f.reach == sh2::Reach::Branch8 || f.reach == sh2::Reach::Branch12) {
        s.target = sh2::targetOf(f, s.fields, s.pc);
    } else if (f.reach == sh2::Reach::PcWord || f.reach == sh2::Reach::PcLong) {
        const std::uint32_t pc = countFrom ? *countFrom : s.pc;
        s.pcRelative = true;
        s.literal = sh2::targetOf(f, s.fields, pc);
        s.literalSize = &f == known().mova ? 0 : f.reach == sh2::Reach::PcWord ? 2 : 4;
    }
    // Nothing to learn from running it: it writes no register, reaches no memory through
    // registers and goes nowhere through one (most instructions, where little is known).
    if (s.written == 0 && s.addresses == 0 && !(flow & sh2::FlowRegister)) return finish(s);
    const bool readsKnown = (w.reads & ~regs.known) == 0;
    const bool addressesKnown = s.addresses != 0 && (s.addresses & ~regs.known) == 0;
    if (!readsKnown && !addressesKnown) return finish(s);
    const FormMemory& facts = memoryOf(f);
    Probe p;
    for (unsigned k = 0; k < 16; ++k) p.r[k] = regs.value[k];
    p.at = s.pc;
    p.rel = countFrom ? *countFrom : s.pc;
    if (s.pcRelative && s.literalSize != 0) p.data = &data;
    Semantics::of(f).run(p, word);
    if (readsKnown && !p.literalMissing) {
        // The registers whose every writing role depends on the registers alone.
        unsigned unsure = 0;
        if (!(facts.pureWrites & sh2::WritesN) && (f.writes & sh2::WritesN)) unsure |= 1u << s.fields.n;
        if (!(facts.pureWrites & sh2::WritesM) && (f.writes & sh2::WritesM)) unsure |= 1u << s.fields.m;
        if (!(facts.pureWrites & sh2::WritesR0) && (f.writes & sh2::WritesR0)) unsure |= 1u;
        if (!(facts.pureWrites & sh2::WritesStack) && (f.writes & sh2::WritesStack)) unsure |= 1u << sh2::kStackRegister;
        const auto sure = static_cast<std::uint16_t>(s.written & ~unsure);
        for (unsigned k = 0; k < 16 && s.outs < 2; ++k) {
            if ((sure >> k) & 1u) {
                s.outReg[s.outs] = static_cast<std::uint8_t>(k);
                s.outValue[s.outs++] = p.r[k];
            }
        }
        if ((flow & sh2::FlowRegister) && facts.pureTarget && p.to) s.target = p.to;
    }
    if (addressesKnown && facts.pureAddresses) {
        for (unsigned i = 0; i < p.accesses; ++i) s.access[s.accesses++] = p.seen[i];
    }
    return finish(s);
}

Step stepSlot(const Model::Data& data, const Step& branch, std::uint32_t off, const Known& regs) {
    Step s = stepAt(data, off, regs, branch.slotPc ? branch.slotPc : std::optional<std::uint32_t>(data.address(off)));
    // Where the branch may or may not be taken, or goes where nobody knows, what a
    // PC-relative operand there reads is not known.
    if (s.pcRelative && (!branch.slotPc || branch.conditional())) s.outs = 0;
    return s;
}

bool returnsAfterSlot(const Step& branch, const sh2::Form* slot) {
    return branch.kind == Step::Call || (branch.relative() && branch.kind == Step::Jump && slot == known().ldsPr);
}

}  // namespace korvane::dis
