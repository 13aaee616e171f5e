// Instructions whose operands are general registers only (formats 1 and 2), and the
// stores from control and system registers (format 3: STC, STC.L, STS, STS.L).
#include "driver/assembly.h"

namespace korvane::detail {

namespace {

// Low bytes of STC/STS by RegNames index, + 7 for the @-Rn form; 0 marks PC (no form).
constexpr std::uint8_t kStoreLow[14] = {0x0A, 0x1A, 0x12, 0, 0x2A, 0x02, 0x22,
                                        0x02, 0x12, 0x13, 0, 0x22, 0x03, 0x23};

}  // namespace

void Assembly::encodeRegisterOne() {
    if (!nextOperand()) return;
    if (!(op_.shape & SHAPE_REG)) operandError();
    const OpRow& r = *row_;
    const unsigned n = op_.regNum;
    emitWord(
        static_cast<std::uint16_t>(r.nibble(1) << 12 | n << 8 | r.nibble(3) << 4 | r.nibble(4)));
}

void Assembly::encodeRegisterTwo() {
    if (!nextOperand()) return;
    if (!(op_.shape & SHAPE_REG)) operandError();
    const unsigned m = op_.regNum;
    if (!nextOperand()) return;
    if (!(op_.shape & SHAPE_REG)) operandError();
    const unsigned n = op_.regNum;
    const OpRow& r = *row_;
    emitWord(static_cast<std::uint16_t>(r.nibble(1) << 12 | n << 8 | m << 4 | r.nibble(4)));
}

void Assembly::encodeStore() {
    if (!nextOperand()) return;
    if (!(op_.shape & SHAPE_SYSREG)) operandError();
    const unsigned ctl = op_.sysReg;
    if (!nextOperand()) return;
    if (!(op_.shape & SHAPE_REG)) operandError();
    const bool memory = (op_.shape & (SHAPE_INDIRECT | SHAPE_MINUS)) != 0;
    needRoom(2);
    // The high byte is written before the register is checked: STC PC,Rn leaves it behind.
    putByte(static_cast<std::uint8_t>((memory ? 0x40 : 0x00) | op_.regNum));
    const std::uint8_t low = kStoreLow[ctl + (memory ? 7 : 0)];
    if (ctl == SYS_PC) operandError();
    putByte(low);
    op_.lineEmitted = true;
}

}  // namespace korvane::detail
