// Opcode emission and the dispatch of a statement's operands to its encoder.
#include "driver/assembly.h"
#include "resolve/failure.h"

namespace korvane::detail {

void Assembly::needRoom(std::uint64_t n) {
    // The binary offset is 32 bits wide: the image holds at most 4 GiB - 1 bytes.
    if (written_ + n > 0xFFFFFFFFull) failAt("output too large on line ", line_);
}

void Assembly::emitWord(std::uint16_t word) {
    needRoom(2);
    putByte(static_cast<std::uint8_t>(word >> 8));
    putByte(static_cast<std::uint8_t>(word));
    op_.lineEmitted = true;
}

void Assembly::recordReference(std::uint8_t kind, std::uint32_t offset, std::uint32_t target) {
    if (refs_.full()) failPlain("overflowed label reference database :(");
    refs_.add(Reference{kind, offset, pc_, line_, target});
}

void Assembly::dispatchOperands() {
    op_.operandCount = 0;
    op_.lineEmitted = false;
    switch (row_->format()) {
        case '1':
            return encodeRegisterOne();
        case '2':
            return encodeRegisterTwo();
        case '3':
            return encodeStore();
        case '4':
            return encodeLocation();
        case '6':
        case '7':
        case '8':
            return encodeData();
        case '9':
            return encodeIncbin();
        case 'A':
            return encodeImmediate();
        case 'B':
            return encodeAddressing();
        case 'C':
            return encodeLoad();
        case 'D':
        case 'E':
            return encodeBranch();
        case 'H':
            return encodeImov();
        default:
            return;
    }
}

}  // namespace korvane::detail
