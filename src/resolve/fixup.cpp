// The fixup pass: after the last line every recorded reference is resolved against
// LabelTable, range-checked and patched into the image in place, in recording order.
#include "resolve/fixup.h"

#include "diag/failure.h"
#include "resolve/kinds.h"

namespace korvane::detail {

void resolveReferences(const RefTable& refs, const LabelTable& labels, Image& image,
                       std::vector<std::uint32_t>* outOfReach) {
    for (const Reference& r : refs.entries()) {
        const std::uint64_t at = r.binOffset - 1ull;  // 0-based image position
        // Out of reach: the run stops, or the line is listed and the field keeps its
        // placeholder.
        bool missed = false;
        auto invalid = [&] {
            if (outOfReach == nullptr) fail(Message::InvalidAddressReference, r.line);
            outOfReach->push_back(r.line);
            missed = true;
        };
        // An 8-bit displacement is the low byte of its word, the byte recorded.
        auto patchByte = [&](std::uint32_t b) {
            const auto byte = static_cast<std::uint8_t>(b);
            image.overwrite(at, &byte, 1);
        };
        if (r.kind == REF_IMOV_PENDING) fail(Message::ImovWithoutIdata, r.line);
        // A displacement field that reaches the target from the instruction.
        auto field = [&](sh2::Reach reach, std::uint32_t target) {
            const std::optional<std::uint16_t> d = sh2::fieldFor(reach, r.pc, target);
            if (!d) invalid();
            return d.value_or(0);
        };
        if (r.kind == REF_IMOV_PLACED) {
            const std::uint16_t d = field(sh2::Reach::PcLong, r.target);
            if (!missed) patchByte(d);
            continue;
        }
        if (!labels.defined(r.target)) {
            const LabelName& name = labels.name(r.target);
            fail(Message::LabelUndefined, 0, {name.data(), name.size()});
        }
        const std::uint32_t v = labels.value(r.target);
        switch (r.kind) {
            case REF_ABS32: {
                const std::uint8_t bytes[4] = {
                    static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                    static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
                image.overwrite(at, bytes, 4);
                break;
            }
            case REF_BRANCH8:
            case REF_PCREL_WORD:
            case REF_PCREL_LONG: {
                const sh2::Reach reach = r.kind == REF_BRANCH8      ? sh2::Reach::Branch8
                                         : r.kind == REF_PCREL_WORD ? sh2::Reach::PcWord
                                                                    : sh2::Reach::PcLong;
                const std::uint16_t d = field(reach, v);
                if (!missed) patchByte(d);
                break;
            }
            case REF_BRA12:
            case REF_BSR12: {
                const std::uint16_t d = field(sh2::Reach::Branch12, v);
                if (missed) break;
                const std::uint16_t word = sh2::encode(branch12Form(static_cast<RefKind>(r.kind)),
                                                       sh2::Fields{.d = d});
                const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(word >> 8),
                                               static_cast<std::uint8_t>(word)};
                image.overwrite(at, bytes, 2);
                break;
            }
            default:
                break;
        }
    }
}

}  // namespace korvane::detail
