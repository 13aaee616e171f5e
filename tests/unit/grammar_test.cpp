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

    // The marks of what stays unknown: data that may be code, a table of unknown length,
    // a number that may be a pointer (to a label, or inside an item).
    struct Ref {
        std::string_view mnemonic;
        std::uint32_t target, offset;
        bool load;
    };
    const std::vector<Ref> refs = {{"BRA", 0x06000020, 0, false}, {"MOV.L", 0x06000030, 6, true}, {"BT/S", 0x06000010, 14, false}};
    Out code = comment(0x06000000);
    note::writeIfCode(code, refs, [&](std::uint32_t a) { code.put("L0600" + std::to_string(a & 0xFFFF)); });
    const std::vector<note::WouldBe> would = note::readIfCode(code.text);
    ASSERT_EQ(would.size(), refs.size()) << code.text;
    for (std::size_t i = 0; i < refs.size(); ++i) {
        EXPECT_EQ(would[i].mnemonic, refs[i].mnemonic) << code.text;
        EXPECT_EQ(would[i].target, "L0600" + std::to_string(refs[i].target & 0xFFFF)) << code.text;
        EXPECT_EQ(would[i].offset, refs[i].offset) << code.text;
    }
    Out open = comment(0x06000040);
    const std::vector<std::uint32_t> targets = {0x06000050, 0x06000060};
    note::writeOpenTable(open, 2, [&] { open.put("B0600003C"); }, targets,
                         [&](std::uint32_t a) { open.put(a == 0x06000050 ? "L06000050" : "L06000060"); });
    const auto table = note::readOpenTable(open.text);
    ASSERT_TRUE(table) << open.text;
    EXPECT_EQ(table->width, 2u);
    EXPECT_EQ(table->base, "B0600003C");
    EXPECT_EQ(table->targets, (std::vector<std::string_view>{"L06000050", "L06000060"}));
    for (const std::uint32_t k : {0u, 1u, 3u}) {
        Out maybe = comment(0x06000070);
        note::writeMaybePointer(maybe, [&] { maybe.put("L06000080"); }, k);
        const auto m = note::readMaybePointer(maybe.text);
        ASSERT_TRUE(m) << maybe.text;
        EXPECT_EQ(m->target, "L06000080");
        EXPECT_EQ(m->offset, k);
        EXPECT_TRUE(note::readIfCode(maybe.text).empty());
        EXPECT_FALSE(note::readOpenTable(maybe.text));
    }

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
