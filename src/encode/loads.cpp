// Loads of control and system registers (format C: LDC, LDC.L, LDS, LDS.L). The four
// rows share one encoder: the register named second and the form of the first operand
// (Rm, or @Rm+) choose the word, not the mnemonic.
#include "driver/assembly.h"

namespace korvane::detail {

namespace {

// Low bytes by RegNames index, + 7 for the @Rm+ form; PC has no form.
constexpr std::uint8_t kLoadLow[14] = {0x0A, 0x1A, 0x1E, 0, 0x2A, 0x0E, 0x2E,
                                       0x06, 0x16, 0x17, 0, 0x26, 0x07, 0x27};

}  // namespace

void Assembly::encodeLoad() {
    if (!nextOperand()) return;
    if (!(op_.shape & SHAPE_REG)) operandError();
    const unsigned m = op_.regNum;
    const bool memory = (op_.shape & (SHAPE_INDIRECT | SHAPE_PLUS)) != 0;
    if (!nextOperand()) return;
    if (!(op_.shape & SHAPE_SYSREG)) operandError();
    const unsigned ctl = op_.sysReg;
    needRoom(2);
    // The high byte is written before the register is checked: LDC Rm,PC leaves it behind.
    putByte(static_cast<std::uint8_t>(0x40 | m));
    if (ctl == SYS_PC) operandError();
    putByte(kLoadLow[ctl + (memory ? 7 : 0)]);
    op_.lineEmitted = true;
}

}  // namespace korvane::detail
