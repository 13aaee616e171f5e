// Location and data directives: ORG, PAD and SETPC move the assembly PC (ORG and PAD
// fill the gap with 0xFF); DC.B, DC.W and DC.L append numbers, strings and, for DC.L,
// label addresses patched by the fixup pass.
#include "driver/assembly.h"
#include "resolve/failure.h"

namespace korvane::detail {

void Assembly::encodeLocation() {
    if (!nextOperand()) return;
    if (!(op_.shape & SHAPE_NUMBER)) operandError();
    const std::uint32_t target = op_.value;
    const bool setOnly = row_->text[0] == 'S';  // SETPC writes nothing
    if (!setOnly && target > pc_) {
        const std::uint32_t gap = target - pc_;
        needRoom(gap);
        bin_.fill(0xFF, gap);
        written_ += gap;
    }
    pc_ = target;
    op_.lineEmitted = true;
}

void Assembly::encodeData() {
    const char format = row_->format();
    const unsigned width = format == '6' ? 1 : format == '7' ? 2 : 4;
    while (nextOperand()) {
        if (op_.shape == SHAPE_STRING) {
            needRoom(op_.stringLen);
            putBytes(op_.stringBytes, op_.stringLen);
        } else if (op_.shape & SHAPE_NUMBER) {
            needRoom(width);
            for (unsigned i = width; i-- > 0;)
                putByte(static_cast<std::uint8_t>(op_.value >> (8 * i)));
        } else if (format == '8' && (op_.shape & SHAPE_LABEL)) {
            needRoom(4);
            recordReference(REF_ABS32, binOffset(), op_.labelIndex);
            for (int i = 0; i < 4; ++i) putByte(placeholder_);  // the label's value, patched later
        } else {
            operandError();
        }
        op_.lineEmitted = true;
    }
    // An empty operand ends the list only when nothing follows it on the line: items
    // after it ("DC.B 1,,2", or "DC.B "hi" ,10" where the blank after the quote is the
    // separator) are never dropped silently.
    if (op_.lineEmitted && !operandsEndBlank()) failAt("missing argument on line ", line_);
}

}  // namespace korvane::detail
