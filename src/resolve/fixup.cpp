// The fixup pass: after the last line every recorded reference is resolved against
// LabelTable, range-checked and patched into the image in place, in recording order.
#include <string>

#include "driver/assembly.h"
#include "resolve/failure.h"

namespace korvane::detail {

void Assembly::checkReferenceCapacity() {
    if (refs_.count() > kRefLimitPerStatement) failPlain("overflowed label reference database :(");
}

void Assembly::resolveReferences() {
    for (const Reference& r : refs_.entries()) {
        const std::uint64_t at = r.binOffset - 1ull;  // 0-based image position
        auto invalid = [&] { failAt("invalid address reference on line ", r.line); };
        auto patch1 = [&](std::uint32_t b) {
            const auto byte = static_cast<std::uint8_t>(b);
            bin_.overwrite(at, &byte, 1);
        };
        if (r.kind == REF_IMOV_PENDING) {
            failAt("IMOV was used on line ", r.line, " but no IDATA area was specified afterward");
        }
        if (r.kind == REF_IMOV_PLACED) {
            const std::uint32_t d = r.target - ((r.pc + 4) & ~3u);
            if ((r.target & 3) != 0 || d > 1020) invalid();
            patch1(d / 4);
            continue;
        }
        if (!labels_.defined(r.target)) {
            const LabelName& name = labels_.name(r.target);
            failPlain("label " + std::string(name.data(), name.size()) + " undefined");
        }
        const std::uint32_t v = labels_.value(r.target);
        switch (r.kind) {
            case REF_ABS32: {
                const std::uint8_t bytes[4] = {
                    static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                    static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
                bin_.overwrite(at, bytes, 4);
                break;
            }
            case REF_BRANCH8: {
                const std::uint32_t d = v - r.pc - 4;
                if ((v & 1) != 0 || (d > 254 && d < 0xFFFFFF00u)) invalid();
                patch1(d >> 1);
                break;
            }
            case REF_PCREL_WORD: {
                const std::uint32_t d = v - r.pc - 4;
                if ((v & 1) != 0 || d > 510) invalid();
                patch1(d >> 1);
                break;
            }
            case REF_PCREL_LONG: {
                const std::uint32_t d = v - ((r.pc + 4) & ~3u);
                if ((v & 3) != 0 || d > 1020) invalid();
                patch1(d >> 2);
                break;
            }
            case REF_BRA12:
            case REF_BSR12: {
                const std::uint32_t d = v - r.pc - 4;
                if ((v & 1) != 0 || (d > 4094 && d < 0xFFFFF000u)) invalid();
                const std::uint8_t bytes[2] = {
                    static_cast<std::uint8_t>(unsigned{r.kind} << 4 | ((d >> 9) & 0x0F)),
                    static_cast<std::uint8_t>(d >> 1)};
                bin_.overwrite(at, bytes, 2);
                break;
            }
            default:
                break;
        }
    }
}

}  // namespace korvane::detail
