// Location and data directives: ORG, PAD and SETPC move the assembly PC (ORG and PAD
// fill the gap with 0xFF); DC.B, DC.W and DC.L append numbers, strings and, for DC.L,
// label addresses patched by the fixup pass.
#include "diag/failure.h"
#include "directives/directives.h"
#include "encode/modes.h"

namespace korvane::detail {

bool handleLocation(Statement& s) {
    const std::optional<Operand> where = s.operands.next();
    if (!where) return false;
    if (!lenient::anyNumber(*where)) s.operands.reject();
    const std::uint32_t target = where->value;
    Image& image = s.image;
    // SETPC writes nothing; ORG and PAD fill up to an address above the PC.
    if (opOf(s.operands.row()) != Op::SETPC && target > image.pc()) {
        const std::uint32_t gap = target - image.pc();
        image.needRoom(gap, s.operands.line());
        image.fillGap(gap);
    }
    image.setPc(target);
    return true;
}

bool handleData(Statement& s) {
    const Op op = opOf(s.operands.row());
    const unsigned width = op == Op::DC_B ? 1 : op == Op::DC_W ? 2 : 4;
    Image& image = s.image;
    bool wrote = false;
    while (const std::optional<Operand> item = s.operands.next()) {
        const std::uint32_t line = s.operands.line();
        if (namesOf(*item) == Names::String) {
            image.needRoom(item->string.size(), line);
            image.put(item->string.data(), item->string.size());
        } else if (lenient::anyNumber(*item)) {
            image.needRoom(width, line);
            for (unsigned i = width; i-- > 0;)
                image.put(static_cast<std::uint8_t>(item->value >> (8 * i)));
        } else if (op == Op::DC_L && lenient::anyLabel(*item)) {
            image.needRoom(4, line);
            recordReference(s, REF_ABS32, image.binOffset(), item->labelIndex);
            // The label's value, patched after the last line.
            for (int i = 0; i < 4; ++i) image.put(image.placeholder());
        } else {
            s.operands.reject();
        }
        wrote = true;
    }
    // An empty operand ends the list only when nothing follows it on the line: items
    // after it ("DC.B 1,,2", or "DC.B "hi" ,10" where the blank after the quote is the
    // separator) are never dropped silently.
    if (wrote && !s.operands.restIsBlank()) fail(Message::MissingArgument, s.operands.line());
    return wrote;
}

}  // namespace korvane::detail
