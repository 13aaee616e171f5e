// The addressing-mode family (format B): ADD, AND, CMP/EQ, MOV.B, MOV.W, MOV.L, MOV, OR,
// TST, XOR and MOVA. One encoder reads both operands and chooses the instruction form
// from their shapes. A word is produced only when the operands, as written, are one of
// the forms below; anything else is the operand error, never a neighbouring form.
#include "driver/assembly.h"

namespace korvane::detail {

namespace {

constexpr std::uint32_t kClass = SHAPE_REG | SHAPE_NUMBER | SHAPE_LABEL | SHAPE_SYSREG;
constexpr std::uint32_t kSign = SHAPE_PLUS | SHAPE_MINUS;
// Decorations that make an operand more than a plain register or number.
constexpr std::uint32_t kDecorated = SHAPE_INDIRECT | SHAPE_PAREN | kSign;

enum Sub : unsigned {
    SUB_ADD = 0,
    SUB_AND = 1,
    SUB_CMPEQ = 2,
    SUB_MOVB = 3,
    SUB_MOVW = 4,
    SUB_MOVL = 5,
    SUB_MOV = 6,
    SUB_OR = 7,
    SUB_TST = 8,
    SUB_XOR = 9,
    SUB_MOVA = 10,
};

bool isSized(unsigned sub) {
    return sub >= SUB_MOVB && sub <= SUB_MOVL;
}

// Register forms by key: sub-code, + 0x18 for @Rn (+ 0x0C more for @-Rn) as destination,
// + 0x30 for @Rm (+ 0x0C more for @Rm+) as source. 0 marks a key with no form.
std::uint16_t registerFormBase(unsigned key) {
    switch (key) {
        case 0x00:
            return 0x300C;  // ADD Rm,Rn
        case 0x01:
            return 0x2009;  // AND Rm,Rn
        case 0x02:
            return 0x3000;  // CMP/EQ Rm,Rn
        case 0x06:
            return 0x6003;  // MOV Rm,Rn
        case 0x07:
            return 0x200B;  // OR Rm,Rn
        case 0x08:
            return 0x2008;  // TST Rm,Rn
        case 0x09:
            return 0x200A;  // XOR Rm,Rn
        case 0x1B:
            return 0x2000;  // MOV.B Rm,@Rn
        case 0x1C:
            return 0x2001;  // MOV.W Rm,@Rn
        case 0x1D:
            return 0x2002;  // MOV.L Rm,@Rn
        case 0x27:
            return 0x2004;  // MOV.B Rm,@-Rn
        case 0x28:
            return 0x2005;  // MOV.W Rm,@-Rn
        case 0x29:
            return 0x2006;  // MOV.L Rm,@-Rn
        case 0x33:
            return 0x6000;  // MOV.B @Rm,Rn
        case 0x34:
            return 0x6001;  // MOV.W @Rm,Rn
        case 0x35:
            return 0x6002;  // MOV.L @Rm,Rn
        case 0x3F:
            return 0x6004;  // MOV.B @Rm+,Rn
        case 0x40:
            return 0x6005;  // MOV.W @Rm+,Rn
        case 0x41:
            return 0x6006;  // MOV.L @Rm+,Rn
        default:
            return 0;
    }
}

// The #imm forms: base word, and whether the destination must be R0.
struct ImmediateForm {
    std::uint16_t base;
    bool r0Only;
};

bool immediateForm(unsigned sub, ImmediateForm& f) {
    switch (sub) {
        case SUB_ADD:
            f = {0x7000, false};
            return true;
        case SUB_MOV:
            f = {0xE000, false};
            return true;
        case SUB_AND:
            f = {0xC900, true};
            return true;
        case SUB_CMPEQ:
            f = {0x8800, true};
            return true;
        case SUB_OR:
            f = {0xCB00, true};
            return true;
        case SUB_TST:
            f = {0xC800, true};
            return true;
        case SUB_XOR:
            f = {0xCA00, true};
            return true;
        default:
            return false;
    }
}

}  // namespace

void Assembly::encodeAddressing() {
    if (!nextOperand()) return;
    const bool firstIsPair = op_.lastSlot == 1;
    const std::uint32_t F =
        firstIsPair ? (op_.slotShape[0] | op_.slotShape[1] | SHAPE_PAIR) : op_.shape;
    const std::uint32_t firstSlot0 = op_.slotShape[0];
    const unsigned m = op_.regNum;
    if (!nextOperand()) return;
    emitWord(addressingWord(F, m, firstIsPair, firstSlot0));
}

std::uint16_t Assembly::addressingWord(std::uint32_t F, unsigned m, bool firstIsPair,
                                       std::uint32_t firstSlot0) {
    const unsigned sub = row_->subCode();
    const unsigned n = op_.regNum;
    const std::uint32_t disp = op_.value;
    const unsigned shift = isSized(sub) ? sub - SUB_MOVB : 0;

    if (op_.lastSlot == 1) {
        // Destination pair: Rm,@(R0,Rn)  R0,@(disp,Rn)  Rm,@(disp,Rn)  R0,@(disp,GBR).
        const std::uint32_t S = op_.slotShape[0] | op_.slotShape[1];
        if ((F & (SHAPE_INDIRECT | kClass)) != SHAPE_REG || (F & kSign) || (S & kSign)) {
            operandError();
        }
        if (!isSized(sub)) operandError();
        if ((S & (kClass | SHAPE_R0)) == (SHAPE_REG | SHAPE_R0)) {
            if (!(op_.slotShape[0] & SHAPE_R0)) operandError();  // R0 is written first
            static constexpr std::uint16_t kBase[] = {0x0004, 0x0005, 0x0006};
            return static_cast<std::uint16_t>(kBase[shift] | n << 8 | m << 4);
        }
        if ((S & kClass) == (SHAPE_REG | SHAPE_NUMBER)) {
            if (sub == SUB_MOVL) {
                return static_cast<std::uint16_t>(0x1000 | n << 8 | m << 4 | ((disp >> 2) & 0x0F));
            }
            if (!(F & SHAPE_R0)) operandError();  // MOV.B and MOV.W store from R0 only
            return static_cast<std::uint16_t>((sub == SUB_MOVB ? 0x8000 : 0x8100) | n << 4 |
                                              ((disp >> shift) & 0x0F));
        }
        if ((S & kClass) == (SHAPE_NUMBER | SHAPE_SYSREG) && op_.sysReg == SYS_GBR &&
            (F & SHAPE_R0)) {
            static constexpr std::uint16_t kBase[] = {0xC000, 0xC100, 0xC200};
            return static_cast<std::uint16_t>(kBase[shift] | ((disp >> shift) & 0xFF));
        }
        operandError();
    }

    const std::uint32_t S = op_.shape;
    const bool plainRegister = (S & SHAPE_REG) && !(S & kDecorated);

    if (firstIsPair) {
        // Source pair: @(R0,Rm),Rn  @(disp,Rm),Rn  @(disp,GBR),R0  @(label,PC),Rn.
        if (!plainRegister || (F & kSign)) operandError();
        if ((F & (kClass | SHAPE_R0)) == (SHAPE_REG | SHAPE_R0)) {
            if (!isSized(sub) || !(firstSlot0 & SHAPE_R0)) operandError();
            static constexpr std::uint16_t kBase[] = {0x000C, 0x000D, 0x000E};
            return static_cast<std::uint16_t>(kBase[shift] | n << 8 | m << 4);
        }
        if ((F & kClass) == (SHAPE_REG | SHAPE_NUMBER)) {
            if (sub == SUB_MOVL) {
                return static_cast<std::uint16_t>(0x5000 | n << 8 | m << 4 | ((disp >> 2) & 0x0F));
            }
            if ((sub != SUB_MOVB && sub != SUB_MOVW) || n != 0) operandError();
            return static_cast<std::uint16_t>((sub == SUB_MOVB ? 0x8400 : 0x8500) | m << 4 |
                                              ((disp >> shift) & 0x0F));
        }
        if ((F & kClass) == (SHAPE_NUMBER | SHAPE_SYSREG) && op_.sysReg == SYS_GBR) {
            if (!isSized(sub) || n != 0) operandError();
            static constexpr std::uint16_t kBase[] = {0xC400, 0xC500, 0xC600};
            return static_cast<std::uint16_t>(kBase[shift] | ((disp >> shift) & 0xFF));
        }
        if ((F & kClass) == (SHAPE_LABEL | SHAPE_SYSREG) && op_.sysReg == SYS_PC) {
            std::uint8_t high;
            std::uint8_t kind;
            if (sub == SUB_MOVW) {
                high = static_cast<std::uint8_t>(0x90 | n);
                kind = REF_PCREL_WORD;
            } else if (sub == SUB_MOVL) {
                high = static_cast<std::uint8_t>(0xD0 | n);
                kind = REF_PCREL_LONG;
            } else if (sub == SUB_MOVA && n == 0) {
                high = 0xC7;
                kind = REF_PCREL_LONG;
            } else {
                operandError();
            }
            needRoom(2);
            recordReference(kind, binOffset() + 1, op_.labelIndex);
            return static_cast<std::uint16_t>(high << 8 |
                                              placeholder_);  // displacement patched later
        }
        operandError();
    }

    if ((F & SHAPE_REG) && (S & SHAPE_REG)) {
        // Register forms. "+" belongs to a source @Rm+, "-" to a destination @-Rn.
        const bool fInd = (F & SHAPE_INDIRECT) != 0;
        const bool sInd = (S & SHAPE_INDIRECT) != 0;
        if ((F & SHAPE_MINUS) || (S & SHAPE_PLUS) || ((F & SHAPE_PLUS) && !fInd) ||
            ((S & SHAPE_MINUS) && !sInd)) {
            operandError();
        }
        unsigned key = sub;
        if (sInd) key += 0x18 + ((S & SHAPE_MINUS) ? 0x0C : 0);
        if (fInd) key += 0x30 + ((F & SHAPE_PLUS) ? 0x0C : 0);
        const std::uint16_t base = key <= 0x47 ? registerFormBase(key) : 0;
        if (base == 0) operandError();
        return static_cast<std::uint16_t>(base | n << 8 | m << 4);
    }

    if ((F & SHAPE_NUMBER) && !(F & kDecorated) && plainRegister) {
        ImmediateForm form{};
        if (!immediateForm(sub, form) || (form.r0Only && n != 0)) operandError();
        return static_cast<std::uint16_t>(form.base | (form.r0Only ? 0 : n << 8) | (disp & 0xFF));
    }
    operandError();
}

}  // namespace korvane::detail
