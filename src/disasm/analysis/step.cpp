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
    std::uint16_t reads = sh2::namedRegisters(f, x);
    if (Semantics::of(f).timing.onlyWritesLast) {
        const sh2::Arg last = f.args[1] != sh2::Arg::None ? f.args[1] : f.args[0];
        if (last == sh2::Arg::Rn) reads = static_cast<std::uint16_t>(reads & ~(1u << x.n));
        if (last == sh2::Arg::R0) reads = static_cast<std::uint16_t>(reads & ~1u);
        reads = static_cast<std::uint16_t>(reads | sh2::addressRegisters(f, x));
    }
    return reads;
}

// The instruction run on a probe: the registers known as they are, the rest of the
// machine (unknown registers, SR, GBR, VBR, MACH, MACL, PR, memory) all zeros or all ones.
Probe run(const Step& s, const Known& regs, std::uint16_t word, bool ones, std::uint32_t pcRel,
          const Model::Data& data) {
    Probe p;
    const std::uint32_t rest = ones ? ~0u : 0u;
    for (unsigned k = 0; k < 16; ++k) p.r[k] = regs.has(k) ? regs.value[k] : rest;
    p.sr = ones ? sh2::kSrBits : 0;
    p.gbr = p.vbr = p.mach = p.macl = p.pr = p.fill = rest;
    p.at = s.pc;
    p.rel = pcRel;
    if (s.pcRelative && s.literalSize != 0) p.data = &data;
    Semantics::of(*s.form).run(p, word);
    return p;
}

std::vector<FormMemory> formMemory() {
    std::vector<FormMemory> out;
    const auto forms = sh2::forms();
    out.reserve(forms.size());
    for (const sh2::Form& f : forms) {
        FormMemory m;
        if (f.reach != sh2::Reach::PcWord && f.reach != sh2::Reach::PcLong) {
            Probe p;
            for (unsigned k = 0; k < 16; ++k) p.r[k] = 0x10000000u * (k + 1) + 0x100u;
            p.sr = p.gbr = p.vbr = p.mach = p.macl = p.pr = 0x0F000000u;
            const sh2::Fields x{1, 2, 0};
            Semantics::of(f).run(p, sh2::encode(f, x));
            for (unsigned i = 0; i < p.accesses; ++i) {
                if (p.seen[i].written) m.stores = p.seen[i].bytes;
                else m.loads = p.seen[i].bytes;
            }
            if (m.stores != 0) {
                m.storedFrom = p.stored == p.r[0] ? '0' : p.stored == p.r[x.n] ? 'n' : p.stored == p.r[x.m] ? 'm' : 0;
            }
        }
        out.push_back(m);
    }
    return out;
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
    const sh2::Form* form = sh2::decodeForm(word);
    if (form == nullptr) return s;
    const sh2::Form& f = *form;
    s.form = form;
    s.fields = sh2::fieldsOf(f, word);
    s.pc = data.address(off);
    const std::uint8_t flow = f.flow;
    if (!(flow & (sh2::FlowDelayed | sh2::FlowConditional))) {
        s.kind = Step::Plain;
    } else if (!(flow & sh2::FlowDelayed)) {
        s.kind = Step::Branch;
    } else if (flow & sh2::FlowConditional) {
        s.kind = Step::Delayed;
    } else if (flow & sh2::FlowCall) {
        s.kind = Step::Call;
    } else if (flow & sh2::FlowReturn) {
        s.kind = Step::Return;
    } else {
        s.kind = Step::Jump;
    }
    s.written = sh2::writtenRegisters(f, s.fields);
    s.addresses = sh2::addressRegisters(f, s.fields);
    if (f.reach == sh2::Reach::Branch8 || f.reach == sh2::Reach::Branch12) {
        s.target = sh2::targetOf(f, s.fields, s.pc);
    } else if (f.reach == sh2::Reach::PcWord || f.reach == sh2::Reach::PcLong) {
        const std::uint32_t pc = countFrom ? *countFrom : s.pc;
        s.pcRelative = true;
        s.literal = sh2::targetOf(f, s.fields, pc);
        s.literalSize = &f == known().mova ? 0 : f.reach == sh2::Reach::PcWord ? 2 : 4;
    }
    const std::uint16_t reads = readRegisters(f, s.fields);
    const bool readsKnown = (reads & ~regs.known) == 0;
    if (readsKnown || (s.addresses != 0 && (s.addresses & ~regs.known) == 0)) {
        // Run twice, the unknown rest of the machine all zeros and then all ones: what
        // comes out the same both times depends on the known registers alone.
        const std::uint32_t pcRel = countFrom ? *countFrom : s.pc;
        const Probe a = run(s, regs, word, false, pcRel, data);
        const Probe b = run(s, regs, word, true, pcRel, data);
        if (readsKnown && !a.literalMissing) {
            for (unsigned k = 0; k < 16 && s.outs < 2; ++k) {
                if (((s.written >> k) & 1u) && a.r[k] == b.r[k]) {
                    s.outReg[s.outs] = static_cast<std::uint8_t>(k);
                    s.outValue[s.outs++] = a.r[k];
                }
            }
            if ((flow & sh2::FlowRegister) && a.to && b.to && *a.to == *b.to) s.target = a.to;
        }
        for (unsigned i = 0; i < a.accesses && i < b.accesses; ++i) {
            if (a.seen[i].address == b.seen[i].address) s.access[s.accesses++] = a.seen[i];
        }
    }
    if (s.delayed() && s.target) s.slotPc = sh2::slotPcFor(*s.target);
    return s;
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
