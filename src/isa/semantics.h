// What every SH-2 instruction does, one row a form in the order of the form table, and
// what it costs on the SH7604: the semantics beside the encodings, for any machine that
// gives them registers, memory and a flow of control.
//
// A machine M has the registers as members (r[16], sr, gbr, vbr, mach, macl, pr) and:
//   std::uint32_t here() const    the instruction's own address;
//   std::uint32_t pcRel() const   the address a PC-relative operand counts from: here(),
//                                 or in a delay slot slotPcFor(the branch's target);
//   read8/read16/read32(a)        zero-extended; write8/write16/write32(a, v);
//   jump(t)                       a branch taken at once (BT, BF, an exception's vector);
//   delayed(t)                    a branch taken after the delay slot;
//   call(t)                       the same for a call (PR already holds the return);
//   bool trap(imm)                TRAPA: true to enter the vector through VBR;
//   sleep()                       SLEEP.
// Memory faults (an odd address, nothing mapped) are the machine's: its accessors do not
// return then. Every semantic reads memory before it changes a register, so a fault
// leaves the registers as they were before the instruction.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "isa/form_table.h"
#include "korvane/sh2.h"

namespace korvane::sh2 {

// The status register's bits.
enum SrBit : std::uint32_t {
    SrT = 0x001,
    SrS = 0x002,
    SrI = 0x0F0,  // the interrupt mask
    SrQ = 0x100,
    SrM = 0x200,
};
inline constexpr std::uint32_t kSrBits = 0x3F3;  // those that exist on the SH-2

// What an instruction costs on the SH7604, from its hardware manual's instruction tables.
struct Timing {
    std::uint8_t issue;  // cycles when it runs alone (a conditional branch not taken)
    std::uint8_t taken;  // a conditional branch's cycles when taken (0: not one)
    // The multiplier: cycles from the start of the instruction until its result can be
    // read (MULS.W 3, MUL.L 4...), 0 for an instruction that does not multiply.
    std::uint8_t multiplier;
    // Reads or writes MACH/MACL (STS, LDS, CLRMAC, a multiplication): waits until the
    // multiplier is done.
    bool usesMac;
    // Its last operand (a register) is only written, never read (MOV Rm,Rn; a load).
    bool onlyWritesLast;
};

// One form's semantic, keyed by the form's match word (its fixed bits, as the form table
// writes them).
template <class Cpu>
struct Semantic {
    std::uint16_t form;
    void (*run)(Cpu&, std::uint16_t);
    Timing timing;
};

namespace semantics {

// The fields of a word of a layout, as its places say (constant shifts once inlined).
template <Layout L>
constexpr Fields fieldsIn(std::uint16_t w) {
    constexpr Place p = kPlaces[static_cast<std::size_t>(L)];
    return Fields{static_cast<std::uint8_t>((w >> p.nShift) & p.nMask),
                  static_cast<std::uint8_t>((w >> p.mShift) & p.mMask), static_cast<std::uint16_t>(w & p.dMask)};
}
constexpr std::uint32_t sext8(std::uint32_t v) {
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int8_t>(v & 0xFF)));
}
constexpr std::uint32_t sext16(std::uint32_t v) {
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int16_t>(v & 0xFFFF)));
}
template <class Cpu>
constexpr std::uint32_t t(const Cpu& m) {
    return m.sr & SrT;
}
template <class Cpu>
constexpr void setT(Cpu& m, bool v) {
    m.sr = (m.sr & ~std::uint32_t{SrT}) | (v ? SrT : 0u);
}
template <class Cpu>
constexpr std::uint64_t mac(const Cpu& m) {
    return std::uint64_t{m.mach} << 32 | m.macl;
}
template <class Cpu>
constexpr void setMac(Cpu& m, std::uint64_t v) {
    m.mach = static_cast<std::uint32_t>(v >> 32);
    m.macl = static_cast<std::uint32_t>(v);
}

// One access of each size, by a template argument, so that one semantic serves .B/.W/.L.
template <unsigned Size, class Cpu>
std::uint32_t load(Cpu& m, std::uint32_t a) {
    if constexpr (Size == 1) return sext8(m.read8(a));
    else if constexpr (Size == 2) return sext16(m.read16(a));
    else return m.read32(a);
}
template <unsigned Size, class Cpu>
void store(Cpu& m, std::uint32_t a, std::uint32_t v) {
    if constexpr (Size == 1) m.write8(a, v & 0xFF);
    else if constexpr (Size == 2) m.write16(a, v & 0xFFFF);
    else m.write32(a, v);
}

template <class Cpu>
struct Of {
    using enum Layout;
    // ---- data transfer ----
    static void movImm(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NI>(w);
        m.r[f.n] = sext8(f.d);
    }
    static void movwPc(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<ND8>(w);
        m.r[f.n] = sext16(m.read16(reachedFrom(Reach::PcWord, f.d, m.pcRel())));
    }
    static void movlPc(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<ND8>(w);
        m.r[f.n] = m.read32(reachedFrom(Reach::PcLong, f.d, m.pcRel()));
    }
    static void mov(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NM>(w);
        m.r[f.n] = m.r[f.m];
    }
    template <unsigned S>
    static void storeAt(Cpu& m, std::uint16_t w) {  // MOV.x Rm,@Rn
        const Fields f = fieldsIn<NM>(w);
        store<S>(m, m.r[f.n], m.r[f.m]);
    }
    template <unsigned S>
    static void loadAt(Cpu& m, std::uint16_t w) {  // MOV.x @Rm,Rn
        const Fields f = fieldsIn<NM>(w);
        m.r[f.n] = load<S>(m, m.r[f.m]);
    }
    template <unsigned S>
    static void push(Cpu& m, std::uint16_t w) {  // MOV.x Rm,@-Rn: the value Rm had before
        const Fields f = fieldsIn<NM>(w);
        const std::uint32_t a = m.r[f.n] - S;
        store<S>(m, a, m.r[f.m]);
        m.r[f.n] = a;
    }
    template <unsigned S>
    static void pop(Cpu& m, std::uint16_t w) {  // MOV.x @Rm+,Rn: the loaded value wins
        const Fields f = fieldsIn<NM>(w);
        const std::uint32_t v = load<S>(m, m.r[f.m]);
        m.r[f.m] += S;
        m.r[f.n] = v;
    }
    template <unsigned S>
    static void storeR0Disp(Cpu& m, std::uint16_t w) {  // MOV.B/W R0,@(disp,Rn)
        const Fields f = fieldsIn<ND4>(w);
        store<S>(m, m.r[f.n] + f.d * S, m.r[0]);
    }
    static void storeDisp(Cpu& m, std::uint16_t w) {  // MOV.L Rm,@(disp,Rn)
        const Fields f = fieldsIn<NMD>(w);
        m.write32(m.r[f.n] + f.d * 4u, m.r[f.m]);
    }
    template <unsigned S>
    static void loadR0Disp(Cpu& m, std::uint16_t w) {  // MOV.B/W @(disp,Rm),R0
        const Fields f = fieldsIn<MD>(w);
        m.r[0] = load<S>(m, m.r[f.m] + f.d * S);
    }
    static void loadDisp(Cpu& m, std::uint16_t w) {  // MOV.L @(disp,Rm),Rn
        const Fields f = fieldsIn<NMD>(w);
        m.r[f.n] = m.read32(m.r[f.m] + f.d * 4u);
    }
    template <unsigned S>
    static void storeIndexed(Cpu& m, std::uint16_t w) {  // MOV.x Rm,@(R0,Rn)
        const Fields f = fieldsIn<NM>(w);
        store<S>(m, m.r[0] + m.r[f.n], m.r[f.m]);
    }
    template <unsigned S>
    static void loadIndexed(Cpu& m, std::uint16_t w) {  // MOV.x @(R0,Rm),Rn
        const Fields f = fieldsIn<NM>(w);
        m.r[f.n] = load<S>(m, m.r[0] + m.r[f.m]);
    }
    template <unsigned S>
    static void storeGbr(Cpu& m, std::uint16_t w) {  // MOV.x R0,@(disp,GBR)
        store<S>(m, m.gbr + fieldsIn<D>(w).d * S, m.r[0]);
    }
    template <unsigned S>
    static void loadGbr(Cpu& m, std::uint16_t w) {  // MOV.x @(disp,GBR),R0
        m.r[0] = load<S>(m, m.gbr + fieldsIn<D>(w).d * S);
    }
    static void mova(Cpu& m, std::uint16_t w) {
        m.r[0] = reachedFrom(Reach::PcLong, fieldsIn<D>(w).d, m.pcRel());
    }
    static void movt(Cpu& m, std::uint16_t w) {
        m.r[fieldsIn<N>(w).n] = t(m);
    }
    static void swapB(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NM>(w);
        const std::uint32_t v = m.r[f.m];
        m.r[f.n] = (v & 0xFFFF0000u) | (v & 0xFF) << 8 | (v >> 8 & 0xFF);
    }
    static void swapW(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NM>(w);
        const std::uint32_t v = m.r[f.m];
        m.r[f.n] = v >> 16 | v << 16;
    }
    static void xtrct(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NM>(w);
        m.r[f.n] = m.r[f.n] >> 16 | m.r[f.m] << 16;
    }

    // ---- arithmetic ----
    static void add(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NM>(w);
        m.r[f.n] += m.r[f.m];
    }
    static void addImm(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NI>(w);
        m.r[f.n] += sext8(f.d);
    }
    static void addc(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NM>(w);
        const std::uint32_t a = m.r[f.n], sum = a + m.r[f.m], res = sum + t(m);
        m.r[f.n] = res;
        setT(m, sum < a || res < sum);
    }
    static void addv(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NM>(w);
        const std::uint32_t a = m.r[f.n], b = m.r[f.m], res = a + b;
        m.r[f.n] = res;
        setT(m, ((~(a ^ b) & (a ^ res)) >> 31) != 0);  // both alike, the sum not
    }
    static void cmpEqImm(Cpu& m, std::uint16_t w) {
        setT(m, m.r[0] == sext8(fieldsIn<I>(w).d));
    }
    template <int Kind>  // 0 EQ, 1 HS, 2 GE, 3 HI, 4 GT
    static void cmp(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NM>(w);
        const std::uint32_t a = m.r[f.n], b = m.r[f.m];
        const auto sa = static_cast<std::int32_t>(a), sb = static_cast<std::int32_t>(b);
        if constexpr (Kind == 0) setT(m, a == b);
        else if constexpr (Kind == 1) setT(m, a >= b);
        else if constexpr (Kind == 2) setT(m, sa >= sb);
        else if constexpr (Kind == 3) setT(m, a > b);
        else setT(m, sa > sb);
    }
    static void cmpPz(Cpu& m, std::uint16_t w) {
        setT(m, static_cast<std::int32_t>(m.r[fieldsIn<N>(w).n]) >= 0);
    }
    static void cmpPl(Cpu& m, std::uint16_t w) {
        setT(m, static_cast<std::int32_t>(m.r[fieldsIn<N>(w).n]) > 0);
    }
    static void cmpStr(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NM>(w);
        const std::uint32_t x = m.r[f.n] ^ m.r[f.m];
        setT(m, (x & 0xFF000000u) == 0 || (x & 0xFF0000u) == 0 || (x & 0xFF00u) == 0 || (x & 0xFFu) == 0);
    }
    // One step of non-restoring division: the dividend shifted left through T, the
    // divisor subtracted when Q equals M, added otherwise; Q from the carry, T = (Q == M).
    // The divisor is read after the shift, as the manual's operation text does: DIV1
    // Rn,Rn divides by the shifted value.
    static void div1(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NM>(w);
        const bool oldQ = (m.sr & SrQ) != 0, mBit = (m.sr & SrM) != 0;
        bool q = (m.r[f.n] >> 31) != 0;
        const std::uint32_t before = m.r[f.n] << 1 | t(m);
        const std::uint32_t divisor = f.m == f.n ? before : m.r[f.m];
        std::uint32_t after;
        bool carry;
        if (oldQ == mBit) {
            after = before - divisor;
            carry = after > before;
        } else {
            after = before + divisor;
            carry = after < before;
        }
        m.r[f.n] = after;
        q = q != carry;
        if (mBit) q = !q;
        m.sr = (m.sr & ~std::uint32_t{SrQ | SrT}) | (q ? SrQ : 0u) | (q == mBit ? SrT : 0u);
    }
    static void div0s(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NM>(w);
        const bool q = (m.r[f.n] >> 31) != 0, mb = (m.r[f.m] >> 31) != 0;
        m.sr = (m.sr & ~std::uint32_t{SrQ | SrM | SrT}) | (q ? SrQ : 0u) | (mb ? SrM : 0u) | (q != mb ? SrT : 0u);
    }
    static void div0u(Cpu& m, std::uint16_t) {
        m.sr &= ~std::uint32_t{SrQ | SrM | SrT};
    }
    static void dmuls(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NM>(w);
        const std::int64_t p = std::int64_t{static_cast<std::int32_t>(m.r[f.n])} * static_cast<std::int32_t>(m.r[f.m]);
        setMac(m, static_cast<std::uint64_t>(p));
    }
    static void dmulu(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NM>(w);
        setMac(m, std::uint64_t{m.r[f.n]} * m.r[f.m]);
    }
    static void dt(Cpu& m, std::uint16_t w) {
        const std::uint8_t n = fieldsIn<N>(w).n;
        setT(m, --m.r[n] == 0);
    }
    template <int Kind>  // 0 EXTS.B, 1 EXTS.W, 2 EXTU.B, 3 EXTU.W
    static void ext(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NM>(w);
        const std::uint32_t v = m.r[f.m];
        m.r[f.n] = Kind == 0 ? sext8(v) : Kind == 1 ? sext16(v) : Kind == 2 ? (v & 0xFF) : (v & 0xFFFF);
    }
    // MAC.L: with S set, the sum saturates to 48 bits.
    static void macL(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NM>(w);
        const auto b = static_cast<std::int32_t>(m.read32(m.r[f.n]));
        const auto a = static_cast<std::int32_t>(m.read32(m.r[f.m] + (f.m == f.n ? 4u : 0u)));
        m.r[f.n] += 4;
        m.r[f.m] += 4;
        const std::int64_t p = std::int64_t{a} * b;
        const std::int64_t acc = static_cast<std::int64_t>(mac(m));
        std::int64_t sum = static_cast<std::int64_t>(static_cast<std::uint64_t>(acc) + static_cast<std::uint64_t>(p));
        if (m.sr & SrS) {
            constexpr std::int64_t kMax = (std::int64_t{1} << 47) - 1, kMin = -(std::int64_t{1} << 47);
            // Out of 48 bits: the accumulator and the product have the sum's sign then.
            if (sum > kMax || (p > 0 && acc > 0 && sum < 0)) sum = kMax;
            else if (sum < kMin || (p < 0 && acc < 0 && sum >= 0)) sum = kMin;
        }
        setMac(m, static_cast<std::uint64_t>(sum));
    }
    // MAC.W: with S set, MACL saturates to 32 bits and an overflow sets MACH's bit 0.
    static void macW(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NM>(w);
        const auto b = static_cast<std::int16_t>(m.read16(m.r[f.n]));
        const auto a = static_cast<std::int16_t>(m.read16(m.r[f.m] + (f.m == f.n ? 2u : 0u)));
        m.r[f.n] += 2;
        m.r[f.m] += 2;
        const std::int32_t p = std::int32_t{a} * b;
        if (m.sr & SrS) {
            const std::int64_t sum = std::int64_t{static_cast<std::int32_t>(m.macl)} + p;
            if (sum > INT32_MAX || sum < INT32_MIN) {
                m.macl = sum > 0 ? 0x7FFFFFFFu : 0x80000000u;
                m.mach |= 1;
            } else {
                m.macl = static_cast<std::uint32_t>(sum);
            }
        } else {
            setMac(m, mac(m) + static_cast<std::uint64_t>(std::int64_t{p}));
        }
    }
    static void mulL(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NM>(w);
        m.macl = m.r[f.n] * m.r[f.m];
    }
    static void mulsW(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NM>(w);
        m.macl = static_cast<std::uint32_t>(std::int32_t{static_cast<std::int16_t>(m.r[f.n])} *
                                            static_cast<std::int16_t>(m.r[f.m]));
    }
    static void muluW(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NM>(w);
        m.macl = (m.r[f.n] & 0xFFFF) * (m.r[f.m] & 0xFFFF);
    }
    static void neg(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NM>(w);
        m.r[f.n] = 0u - m.r[f.m];
    }
    static void negc(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NM>(w);
        const std::uint32_t tmp = 0u - m.r[f.m], res = tmp - t(m);
        m.r[f.n] = res;
        setT(m, tmp != 0 || res > tmp);
    }
    static void sub(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NM>(w);
        m.r[f.n] -= m.r[f.m];
    }
    static void subc(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NM>(w);
        const std::uint32_t a = m.r[f.n], diff = a - m.r[f.m], res = diff - t(m);
        m.r[f.n] = res;
        setT(m, a < diff || diff < res);
    }
    static void subv(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NM>(w);
        const std::uint32_t a = m.r[f.n], b = m.r[f.m], res = a - b;
        m.r[f.n] = res;
        setT(m, (((a ^ b) & (a ^ res)) >> 31) != 0);  // unlike signs, the difference not Rn's
    }

    // ---- logic ----
    template <int Op>  // 0 AND, 1 OR, 2 XOR
    static constexpr std::uint32_t logic(std::uint32_t a, std::uint32_t b) {
        return Op == 0 ? (a & b) : Op == 1 ? (a | b) : (a ^ b);
    }
    template <int Op>
    static void logicReg(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NM>(w);
        m.r[f.n] = logic<Op>(m.r[f.n], m.r[f.m]);
    }
    template <int Op>
    static void logicImm(Cpu& m, std::uint16_t w) {
        m.r[0] = logic<Op>(m.r[0], fieldsIn<I>(w).d);
    }
    template <int Op>
    static void logicByte(Cpu& m, std::uint16_t w) {  // AND.B/OR.B/XOR.B #imm,@(R0,GBR)
        const std::uint32_t a = m.gbr + m.r[0];
        m.write8(a, logic<Op>(m.read8(a), fieldsIn<I>(w).d) & 0xFF);
    }
    static void notOp(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NM>(w);
        m.r[f.n] = ~m.r[f.m];
    }
    static void tas(Cpu& m, std::uint16_t w) {
        const std::uint32_t a = m.r[fieldsIn<N>(w).n];
        const std::uint32_t v = m.read8(a);
        m.write8(a, v | 0x80);
        setT(m, v == 0);
    }
    static void tst(Cpu& m, std::uint16_t w) {
        const Fields f = fieldsIn<NM>(w);
        setT(m, (m.r[f.n] & m.r[f.m]) == 0);
    }
    static void tstImm(Cpu& m, std::uint16_t w) {
        setT(m, (m.r[0] & fieldsIn<I>(w).d) == 0);
    }
    static void tstByte(Cpu& m, std::uint16_t w) {
        setT(m, (m.read8(m.gbr + m.r[0]) & fieldsIn<I>(w).d) == 0);
    }

    // ---- shifts ----
    template <int Kind>  // 0 ROTL, 1 ROTR, 2 ROTCL, 3 ROTCR, 4 SHAL/SHLL, 5 SHAR, 6 SHLR
    static void shift1(Cpu& m, std::uint16_t w) {
        std::uint32_t& r = m.r[fieldsIn<N>(w).n];
        const std::uint32_t v = r;
        const bool left = Kind == 0 || Kind == 2 || Kind == 4;
        const bool out = left ? (v >> 31) != 0 : (v & 1) != 0;
        if constexpr (Kind == 0) r = v << 1 | v >> 31;
        else if constexpr (Kind == 1) r = v >> 1 | v << 31;
        else if constexpr (Kind == 2) r = v << 1 | t(m);
        else if constexpr (Kind == 3) r = v >> 1 | t(m) << 31;
        else if constexpr (Kind == 4) r = v << 1;
        else if constexpr (Kind == 5) r = static_cast<std::uint32_t>(static_cast<std::int32_t>(v) >> 1);
        else r = v >> 1;
        setT(m, out);
    }
    template <int By>  // positive: left by By bits, negative: right
    static void shiftBy(Cpu& m, std::uint16_t w) {
        std::uint32_t& r = m.r[fieldsIn<N>(w).n];
        if constexpr (By > 0) r <<= By;
        else r >>= -By;
    }

    // ---- branches ----
    template <bool OnT, bool Delayed>
    static void condBranch(Cpu& m, std::uint16_t w) {
        if ((t(m) != 0) != OnT) return;
        const std::uint32_t to = reachedFrom(Reach::Branch8, fieldsIn<D>(w).d, m.here());
        if constexpr (Delayed) m.delayed(to);
        else m.jump(to);
    }
    static void bra(Cpu& m, std::uint16_t w) {
        m.delayed(reachedFrom(Reach::Branch12, fieldsIn<D12>(w).d, m.here()));
    }
    static void braf(Cpu& m, std::uint16_t w) {
        m.delayed(m.here() + 4 + m.r[fieldsIn<Layout::M>(w).m]);
    }
    static void bsr(Cpu& m, std::uint16_t w) {
        m.pr = m.here() + 4;
        m.call(reachedFrom(Reach::Branch12, fieldsIn<D12>(w).d, m.here()));
    }
    static void bsrf(Cpu& m, std::uint16_t w) {
        const std::uint32_t to = m.here() + 4 + m.r[fieldsIn<Layout::M>(w).m];
        m.pr = m.here() + 4;
        m.call(to);
    }
    static void jmp(Cpu& m, std::uint16_t w) {
        m.delayed(m.r[fieldsIn<Layout::M>(w).m]);
    }
    static void jsr(Cpu& m, std::uint16_t w) {
        const std::uint32_t to = m.r[fieldsIn<Layout::M>(w).m];
        m.pr = m.here() + 4;
        m.call(to);
    }
    static void rts(Cpu& m, std::uint16_t) {
        m.delayed(m.pr);
    }

    // ---- system control ----
    static void clrt(Cpu& m, std::uint16_t) {
        m.sr &= ~std::uint32_t{SrT};
    }
    static void sett(Cpu& m, std::uint16_t) {
        m.sr |= SrT;
    }
    static void clrmac(Cpu& m, std::uint16_t) {
        m.mach = m.macl = 0;
    }
    static void nop(Cpu&, std::uint16_t) {}
    // The control and system registers by number: 0 SR, 1 GBR, 2 VBR, 3 MACH, 4 MACL, 5 PR.
    template <int Reg>
    static std::uint32_t& control(Cpu& m) {
        if constexpr (Reg == 0) return m.sr;
        else if constexpr (Reg == 1) return m.gbr;
        else if constexpr (Reg == 2) return m.vbr;
        else if constexpr (Reg == 3) return m.mach;
        else if constexpr (Reg == 4) return m.macl;
        else return m.pr;
    }
    template <int Reg>
    static void ldc(Cpu& m, std::uint16_t w) {  // LDC/LDS Rm,reg
        const std::uint32_t v = m.r[fieldsIn<Layout::M>(w).m];
        control<Reg>(m) = Reg == 0 ? (v & kSrBits) : v;
    }
    template <int Reg>
    static void ldcPop(Cpu& m, std::uint16_t w) {  // LDC.L/LDS.L @Rm+,reg
        const std::uint8_t r = fieldsIn<Layout::M>(w).m;
        const std::uint32_t v = m.read32(m.r[r]);
        m.r[r] += 4;
        control<Reg>(m) = Reg == 0 ? (v & kSrBits) : v;
    }
    template <int Reg>
    static void stc(Cpu& m, std::uint16_t w) {  // STC/STS reg,Rn
        m.r[fieldsIn<N>(w).n] = control<Reg>(m);
    }
    template <int Reg>
    static void stcPush(Cpu& m, std::uint16_t w) {  // STC.L/STS.L reg,@-Rn
        const std::uint8_t n = fieldsIn<N>(w).n;
        const std::uint32_t a = m.r[n] - 4;
        m.write32(a, control<Reg>(m));
        m.r[n] = a;
    }
    // RTE: PC and then SR from the stack; the delay slot runs before PC is taken.
    static void rte(Cpu& m, std::uint16_t) {
        const std::uint32_t to = m.read32(m.r[15]);
        const std::uint32_t sr = m.read32(m.r[15] + 4);
        m.r[15] += 8;
        m.sr = sr & kSrBits;
        m.delayed(to);
    }
    static void sleep(Cpu& m, std::uint16_t) {
        m.sleep();
    }
    // TRAPA: SR and the address after the instruction go on the stack first, then the
    // vector at VBR + 4 * imm is read and taken (when the machine asks for it): a stack
    // over the vector table is read as pushed, and a vector that cannot be read faults
    // with both already pushed.
    static void trapa(Cpu& m, std::uint16_t w) {
        const std::uint32_t imm = fieldsIn<I>(w).d;
        if (!m.trap(imm)) return;
        m.r[15] -= 4;
        m.write32(m.r[15], m.sr);
        m.r[15] -= 4;
        m.write32(m.r[15], m.here() + 2);
        m.jump(m.read32(m.vbr + imm * 4));
    }
};

}  // namespace semantics

// Every form's semantic and timing, a row a form keyed by its match word; the compiler
// checks that every form of the table has exactly one row (rowOf).
template <class Cpu>
struct SemanticTable {
    using S = semantics::Of<Cpu>;
    using enum Arg;
    // Timings: plain (1 cycle), a load, a multiplication, the rest as the manual gives.
    static constexpr Timing k1{1, 0, 0, false, false};
    static constexpr Timing kW{1, 0, 0, false, true};  // the last operand only written
    static constexpr Timing kCond{1, 3, 0, false, false};
    static constexpr Timing kCondS{1, 2, 0, false, false};
    static constexpr Timing kBranch{2, 0, 0, false, false};
    static constexpr Timing kMac{1, 0, 0, true, false};
    static constexpr Timing kMacW{1, 0, 0, true, true};

    static constexpr Semantic<Cpu> rows[] = {
        // Data transfer
        {0xE000, S::movImm, kW},
        {0x9000, S::movwPc, kW},
        {0xD000, S::movlPc, kW},
        {0x6003, S::mov, kW},
        {0x2000, S::template storeAt<1>, k1},
        {0x2001, S::template storeAt<2>, k1},
        {0x2002, S::template storeAt<4>, k1},
        {0x6000, S::template loadAt<1>, kW},
        {0x6001, S::template loadAt<2>, kW},
        {0x6002, S::template loadAt<4>, kW},
        {0x2004, S::template push<1>, k1},
        {0x2005, S::template push<2>, k1},
        {0x2006, S::template push<4>, k1},
        {0x6004, S::template pop<1>, kW},
        {0x6005, S::template pop<2>, kW},
        {0x6006, S::template pop<4>, kW},
        {0x8000, S::template storeR0Disp<1>, k1},
        {0x8100, S::template storeR0Disp<2>, k1},
        {0x1000, S::storeDisp, k1},
        {0x8400, S::template loadR0Disp<1>, kW},
        {0x8500, S::template loadR0Disp<2>, kW},
        {0x5000, S::loadDisp, kW},
        {0x0004, S::template storeIndexed<1>, k1},
        {0x0005, S::template storeIndexed<2>, k1},
        {0x0006, S::template storeIndexed<4>, k1},
        {0x000C, S::template loadIndexed<1>, kW},
        {0x000D, S::template loadIndexed<2>, kW},
        {0x000E, S::template loadIndexed<4>, kW},
        {0xC000, S::template storeGbr<1>, k1},
        {0xC100, S::template storeGbr<2>, k1},
        {0xC200, S::template storeGbr<4>, k1},
        {0xC400, S::template loadGbr<1>, kW},
        {0xC500, S::template loadGbr<2>, kW},
        {0xC600, S::template loadGbr<4>, kW},
        {0xC700, S::mova, kW},
        {0x0029, S::movt, kW},
        {0x6008, S::swapB, kW},
        {0x6009, S::swapW, kW},
        {0x200D, S::xtrct, k1},
        // Arithmetic
        {0x300C, S::add, k1},
        {0x7000, S::addImm, k1},
        {0x300E, S::addc, k1},
        {0x300F, S::addv, k1},
        {0x8800, S::cmpEqImm, k1},
        {0x3000, S::template cmp<0>, k1},
        {0x3002, S::template cmp<1>, k1},
        {0x3003, S::template cmp<2>, k1},
        {0x3006, S::template cmp<3>, k1},
        {0x3007, S::template cmp<4>, k1},
        {0x4011, S::cmpPz, k1},
        {0x4015, S::cmpPl, k1},
        {0x200C, S::cmpStr, k1},
        {0x3004, S::div1, k1},
        {0x2007, S::div0s, k1},
        {0x0019, S::div0u, k1},
        {0x300D, S::dmuls, {2, 0, 4, true, false}},
        {0x3005, S::dmulu, {2, 0, 4, true, false}},
        {0x4010, S::dt, k1},
        {0x600E, S::template ext<0>, kW},
        {0x600F, S::template ext<1>, kW},
        {0x600C, S::template ext<2>, kW},
        {0x600D, S::template ext<3>, kW},
        {0x000F, S::macL, {3, 0, 4, true, false}},
        {0x400F, S::macW, {3, 0, 3, true, false}},
        {0x0007, S::mulL, {2, 0, 4, true, false}},
        {0x200F, S::mulsW, {1, 0, 3, true, false}},
        {0x200E, S::muluW, {1, 0, 3, true, false}},
        {0x600B, S::neg, kW},
        {0x600A, S::negc, kW},
        {0x3008, S::sub, k1},
        {0x300A, S::subc, k1},
        {0x300B, S::subv, k1},
        // Logic
        {0x2009, S::template logicReg<0>, k1},
        {0xC900, S::template logicImm<0>, k1},
        {0xCD00, S::template logicByte<0>, {3, 0, 0, false, false}},
        {0x6007, S::notOp, kW},
        {0x200B, S::template logicReg<1>, k1},
        {0xCB00, S::template logicImm<1>, k1},
        {0xCF00, S::template logicByte<1>, {3, 0, 0, false, false}},
        {0x401B, S::tas, {4, 0, 0, false, false}},
        {0x2008, S::tst, k1},
        {0xC800, S::tstImm, k1},
        {0xCC00, S::tstByte, {3, 0, 0, false, false}},
        {0x200A, S::template logicReg<2>, k1},
        {0xCA00, S::template logicImm<2>, k1},
        {0xCE00, S::template logicByte<2>, {3, 0, 0, false, false}},
        // Shifts
        {0x4004, S::template shift1<0>, k1},
        {0x4005, S::template shift1<1>, k1},
        {0x4024, S::template shift1<2>, k1},
        {0x4025, S::template shift1<3>, k1},
        {0x4020, S::template shift1<4>, k1},
        {0x4021, S::template shift1<5>, k1},
        {0x4000, S::template shift1<4>, k1},
        {0x4001, S::template shift1<6>, k1},
        {0x4008, S::template shiftBy<2>, k1},
        {0x4009, S::template shiftBy<-2>, k1},
        {0x4018, S::template shiftBy<8>, k1},
        {0x4019, S::template shiftBy<-8>, k1},
        {0x4028, S::template shiftBy<16>, k1},
        {0x4029, S::template shiftBy<-16>, k1},
        // Branches: BF/BT take 3 cycles when taken, BF/S and BT/S 2, the others 2.
        {0x8B00, S::template condBranch<false, false>, kCond},
        {0x8F00, S::template condBranch<false, true>, kCondS},
        {0x8900, S::template condBranch<true, false>, kCond},
        {0x8D00, S::template condBranch<true, true>, kCondS},
        {0xA000, S::bra, kBranch},
        {0x0023, S::braf, kBranch},
        {0xB000, S::bsr, kBranch},
        {0x0003, S::bsrf, kBranch},
        {0x402B, S::jmp, kBranch},
        {0x400B, S::jsr, kBranch},
        {0x000B, S::rts, kBranch},
        // System control
        {0x0008, S::clrt, k1},
        {0x0028, S::clrmac, kMac},
        {0x400E, S::template ldc<0>, k1},
        {0x401E, S::template ldc<1>, k1},
        {0x402E, S::template ldc<2>, k1},
        {0x4007, S::template ldcPop<0>, {3, 0, 0, false, false}},
        {0x4017, S::template ldcPop<1>, {3, 0, 0, false, false}},
        {0x4027, S::template ldcPop<2>, {3, 0, 0, false, false}},
        {0x400A, S::template ldc<3>, kMac},
        {0x401A, S::template ldc<4>, kMac},
        {0x402A, S::template ldc<5>, k1},
        {0x4006, S::template ldcPop<3>, kMac},
        {0x4016, S::template ldcPop<4>, kMac},
        {0x4026, S::template ldcPop<5>, k1},
        {0x0009, S::nop, k1},
        {0x002B, S::rte, {4, 0, 0, false, false}},
        {0x0018, S::sett, k1},
        {0x001B, S::sleep, {3, 0, 0, false, false}},
        {0x0002, S::template stc<0>, kW},
        {0x0012, S::template stc<1>, kW},
        {0x0022, S::template stc<2>, kW},
        {0x4003, S::template stcPush<0>, {2, 0, 0, false, false}},
        {0x4013, S::template stcPush<1>, {2, 0, 0, false, false}},
        {0x4023, S::template stcPush<2>, {2, 0, 0, false, false}},
        {0x000A, S::template stc<3>, kMacW},
        {0x001A, S::template stc<4>, kMacW},
        {0x002A, S::template stc<5>, kW},
        {0x4002, S::template stcPush<3>, kMac},
        {0x4012, S::template stcPush<4>, kMac},
        {0x4022, S::template stcPush<5>, k1},
        {0xC300, S::trapa, {8, 0, 0, false, false}},
    };

    static constexpr std::size_t kNoRow = ~std::size_t{0};
    // The row of every form, by its place in the form table (kNoRow where none is).
    static constexpr auto kRowOfForm = [] {
        std::array<std::size_t, kFormTable.size()> at{};
        for (std::size_t i = 0; i < kFormTable.size(); ++i) {
            at[i] = kNoRow;
            for (std::size_t r = 0; r < std::size(rows); ++r) {
                if (rows[r].form != kFormTable[i].match) continue;
                if (at[i] != kNoRow) return std::array<std::size_t, kFormTable.size()>{};  // two rows: none valid
                at[i] = r;
            }
        }
        return at;
    }();
    static constexpr bool everyFormOnce() {
        if (std::size(rows) != kFormTable.size()) return false;  // a row of no form
        for (std::size_t i = 0; i < kFormTable.size(); ++i) {
            if (kRowOfForm[i] == kNoRow) return false;
            for (std::size_t j = 0; j < i; ++j) {
                if (kRowOfForm[j] == kRowOfForm[i]) return false;
            }
        }
        return true;
    }
    static_assert(everyFormOnce(), "every SH-2 form needs exactly one semantic row, keyed by its match word");

    // The semantic of a form of the table.
    static constexpr const Semantic<Cpu>& of(const Form& f) { return rows[kRowOfForm[&f - kFormTable.data()]]; }
};

}  // namespace korvane::sh2
