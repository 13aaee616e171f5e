// Where an image runs, found from its calls: a module linked at one base and
// disassembled at another is told where it runs; one at its base, or one whose calls all
// go to a table outside it, is told nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "korvane/dis_inputs.h"
#include "unit/support.h"

namespace korvane::test {
namespace {

// Routines at base that each save PR and call the next through a literal (or, with
// bios, a fixed table of entry points outside the image), the saves of R8-R14 varied.
std::vector<std::uint8_t> module(std::uint32_t base, bool bios, int routines = 12) {
    char setpc[32];
    std::snprintf(setpc, sizeof setpc, "        SETPC   $%X\n", base);
    std::string s = setpc;
    for (int i = 0; i < routines; ++i) {
        const std::string n = std::to_string(i);
        s += "F" + n + ":\n";
        if (i % 3 == 0) s += "        MOV.L   R14,@-R15\n";
        s += "        STS.L   PR,@-R15\n";
        s += "        MOV.L   @(P" + n + ",PC),R" + std::to_string(1 + i % 6) + "\n";
        if (i % 2 == 0) s += "        MOV     #" + n + ",R4\n";
        s += "        JSR     @R" + std::to_string(1 + i % 6) + "\n        NOP\n";
        s += "        LDS.L   @R15+,PR\n";
        if (i % 3 == 0) s += "        MOV.L   @R15+,R14\n";
        s += "        RTS\n        NOP\n        ALIGN.L\n";
        char target[32];
        std::snprintf(target, sizeof target, "$%X", 0x06000300 + 4 * i);
        s += "P" + n + ":     DC.L    " + (bios ? std::string(target) : "F" + std::to_string((i + 1) % routines)) + "\n";
    }
    const Assembled a = assembleText(s);
    EXPECT_TRUE(a.result.ok) << a.message();
    return {a.bin.begin(), a.bin.end()};
}

TEST(Base, CallsSayWhereAnImageRuns) {
    constexpr std::uint32_t kLinked = 0x06010000;
    struct Case {
        const char* name;
        bool bios;
        std::uint32_t given;
        bool hint;
    } cases[] = {
        {"at its own base", false, kLinked, false},
        {"at 0", false, 0, true},
        {"at another module's base", false, 0x06020000, true},
        {"two bytes off (a header before the code)", false, kLinked - 2, true},
        {"calls into a BIOS table only, at 0", true, 0, false},
        {"calls into a BIOS table only, at its base", true, kLinked, false},
    };
    for (const Case& c : cases) {
        const std::vector<std::uint8_t> image = module(kLinked, c.bios);
        const std::string hint = baseHint(image, c.given);
        EXPECT_EQ(!hint.empty(), c.hint) << c.name << ": " << hint;
        if (c.hint) {
            EXPECT_NE(hint.find("12 of 12 call targets open a routine at --base $06010000; "), std::string::npos) << c.name << ": " << hint;
        }
        const std::vector<BaseCandidate> found = findBases(image, c.given);
        ASSERT_FALSE(found.empty()) << c.name;
        if (!c.bios) {
            EXPECT_EQ(found.front().base, kLinked) << c.name;
            EXPECT_EQ(found.front().distinctOpening, found.front().distinctTargets) << c.name;
        }
    }
}

}  // namespace
}  // namespace korvane::test
