// The IMOV.L literal pool: IMOV.L #constant,Rn writes MOV.L @(disp,PC),Rn and queues
// the constant as a pending reference; IDATA places every pending constant, 4-byte
// aligned, and the fixup pass writes the displacements.
#include "directives/directives.h"
#include "encode/modes.h"

namespace korvane::detail {

namespace {

const sh2::Form& loadFromPool() {
    static const sh2::Form& form =
        *formsOf(rowOf(Op::MOV_L)).find(sh2::Arg::AtDispPc, sh2::Arg::Rn);
    return form;
}

}  // namespace

bool LiteralPool::imov(Statement& s) {
    const std::optional<Operand> constant = s.operands.next();
    if (!constant) return false;
    if (constant->pair) s.operands.reject();
    const std::optional<Operand> dest = s.operands.next();
    if (!dest) return false;
    // Strictly #constant,Rn: no lenient reading.
    if (modeOf(*constant, Side::Source) != Mode::Immediate || modeOf(*dest, Side::Destination) != Mode::Register)
        s.operands.reject();
    s.image.needRoom(2, s.operands.line());
    // Recorded at the instruction's own PC, which the displacement is measured from.
    pending_.push_back(s.refs.count());
    recordReference(s, REF_IMOV_PENDING, s.image.binOffset() + sh2::dFieldByte(loadFromPool().layout), constant->value);
    return emit(s, loadFromPool(), {.n = dest->reg, .d = s.image.placeholder()});
}

void LiteralPool::place(Image& image, RefTable& refs, std::uint32_t line) {
    image.needRoom(4ull * pending_.size(), line);
    for (std::uint32_t index : pending_) {
        Reference& r = refs[index];
        const std::uint32_t constant = r.target;
        r.kind = REF_IMOV_PLACED;
        r.target = image.pc();
        for (int i = 3; i >= 0; --i) image.put(static_cast<std::uint8_t>(constant >> (8 * i)));
    }
    pending_.clear();
}

bool handleImov(Statement& s) { return s.pool.imov(s); }

bool handleIdata(Statement& s) {
    align(s.image, 4, s.operands.line());
    s.pool.place(s.image, s.refs, s.operands.line());
    return true;
}

}  // namespace korvane::detail
