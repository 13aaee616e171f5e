// The annotations korvane-dis writes and --check reads back: every kind written by its
// one writer and read back by its one reader, with the names it carries.
#include <gtest/gtest.h>

#include <string>

#include "disasm/grammar/annotations.h"
#include "korvane/disassemble.h"

namespace korvane::test {
namespace {

namespace note = dis::note;

struct Out {
    std::string text;
    void put(std::string_view s) { text += s; }
    void put(char c) { text += c; }
};

TEST(Grammar, EveryAnnotationReadsBackWhatWasWritten) {
    // A comment begins with the address column; each kind follows it.
    auto comment = [](std::uint32_t address) {
        Out o;
        o.text.resize(note::kAddressWidth);
        note::writeAddress(o.text.data(), address);
        o.text += "0009";
        return o;
    };
    for (const std::uint32_t a : {0u, 0x06004000u, 0xFFFFFFFEu}) {
        const Out o = comment(a);
        EXPECT_EQ(note::addressOf(o.text), a);
        EXPECT_EQ(note::addressAlone(o.text.substr(0, 10)), a);
    }
    EXPECT_FALSE(note::addressOf("; 0600400"));
    EXPECT_FALSE(note::addressOf("; the user's own comment"));

    for (const note::User user : {note::User::Table, note::User::Braf, note::User::Bsrf}) {
        Out o = comment(0x06000010);
        note::writeRelative(o, [&] { o.put("L06000020"); }, [&] { o.put("B0600000C"); }, user);
        const auto r = note::readRelative(o.text);
        ASSERT_TRUE(r) << o.text;
        EXPECT_EQ(r->target, "L06000020");
        EXPECT_EQ(r->base, "B0600000C");
        EXPECT_EQ(r->user, user);
        EXPECT_FALSE(note::readSlotLoad(o.text));
        EXPECT_FALSE(note::isConstant(o.text));
    }

    const struct {
        const char* taken;
        const char* notTaken;
    } slots[] = {{"L06000030", nullptr}, {"L06000030", "L06000040"}, {nullptr, "L06000040"}, {nullptr, nullptr}};
    for (const auto& c : slots) {
        Out o = comment(0x06000012);
        // Address 1 is where it reads when taken, 2 when not.
        const auto name = [&](std::uint32_t a) { o.put(a == 1 ? c.taken : c.notTaken); };
        note::writeSlotLoad(o, [&] { o.put("MOV.L @(disp,PC),R1"); }, name,
                            c.taken ? std::optional<std::uint32_t>(1) : std::nullopt,
                            c.notTaken ? std::optional<std::uint32_t>(2) : std::nullopt);
        const auto r = note::readSlotLoad(o.text);
        ASSERT_TRUE(r) << o.text;
        const std::string first = c.taken ? c.taken : c.notTaken ? c.notTaken : "";
        EXPECT_EQ(r->first, first) << o.text;
        EXPECT_EQ(r->both, c.taken && c.notTaken) << o.text;
        EXPECT_EQ(r->notTaken, c.notTaken != nullptr) << o.text;
        if (r->both) {
            EXPECT_EQ(r->second, c.notTaken) << o.text;
        }
        EXPECT_FALSE(note::readRelative(o.text));
    }

    for (const std::uint32_t k : {1u, 2u, 3u, 1000u}) {
        Out o = comment(0x06000104);
        note::writeInside(o, [&] { o.put("L06000100"); }, k);
        const auto r = note::readInside(o.text);
        ASSERT_TRUE(r) << o.text;
        EXPECT_EQ(r->item, "L06000100");
        EXPECT_EQ(r->offset, k);
    }
    EXPECT_FALSE(note::readInside("; 06000104 06000009 ; inside L06000100"));

    Out constant = comment(0x06000100);
    note::writeConstant(constant);
    EXPECT_TRUE(note::isConstant(constant.text));

    // The top source's lines for its parts.
    Out top;
    top.put("; korvane-dis: source of g.bin\n");
    note::writePart(top, 0x0123456789ABCDEFull, "g.bin.part01.s");
    note::writePart(top, 0xFEDCBA9876543210ull, "g bin.part02.s");
    top.put("            INCBIN  \"g.bin.part01.bin\"\n; part 0000000000000000 not.s\n");
    const std::vector<RecordedPart> parts = recordedParts(top.text);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].name, "g.bin.part01.s");
    EXPECT_EQ(parts[0].fingerprint, 0x0123456789ABCDEFull);
    EXPECT_EQ(parts[1].name, "g bin.part02.s");
    EXPECT_EQ(parts[1].fingerprint, 0xFEDCBA9876543210ull);
}

}  // namespace
}  // namespace korvane::test
