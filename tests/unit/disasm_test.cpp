// The disassembler as a library: options it cannot use are refused as an error value
// with nothing written; the fingerprint in a source's header tells an unchanged source
// from one changed anywhere; one instruction's text.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "korvane/disassemble.h"
#include "unit/support.h"

namespace korvane::test {
namespace {

TEST(Disasm, OptionsThatCannotBeUsedAreAnErrorValue) {
    const std::vector<std::uint8_t> image(64, 0x09);
    struct Case {
        DisassemblyOptions options;
        const char* says;
    };
    auto with = [](auto change) {
        DisassemblyOptions o;
        o.imageName = "i.bin";
        o.base = 0x1000;
        change(o);
        return o;
    };
    const Case cases[] = {
        {with([](auto&) {}), ""},
        {with([](auto& o) { o.entries = {0x1040}; }), "entry $1040 is outside the image"},
        {with([](auto& o) { o.entries = {0xFFF}; }), "entry $FFF is outside the image"},
        {with([](auto& o) { o.entries = {0x1003}; }), "entry $1003 is odd"},
        {with([](auto& o) { o.code = {{0x1000, 0x1041}}; }), "range $1000-$1041 is not inside"},
        {with([](auto& o) { o.data = {{0x1010, 0x1008}}; }), "range $1010-$1008 is not inside"},
        {with([](auto& o) { o.base = 0xFFFFFFF0u; }), "does not fit below 2^32"},
        {with([](auto& o) { o.imageName = ""; }), "has no name"},
        {with([](auto& o) { o.imageName = "a\"b"; }), "cannot be written in a source"},
        {with([](auto& o) { o.sourceName = "x\ny.s"; }), "cannot be written in a source"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        const std::string why = checkOptions(image, c.options);
        const Disassembly dis(image, c.options);
        EXPECT_EQ(dis.error(), why);
        MemoryOutput out;
        if (*c.says == '\0') {
            EXPECT_EQ(why, "");
            EXPECT_TRUE(dis.write(out));
            EXPECT_EQ(out.opened, 1);
        } else {
            EXPECT_NE(why.find(c.says), std::string::npos) << why;
            EXPECT_FALSE(dis.write(out));
            EXPECT_EQ(out.opened, 0);
        }
    }
}

TEST(Disasm, FingerprintTellsAnUnchangedSourceFromAChangedOne) {
    std::mt19937 random(5);
    std::vector<std::uint8_t> image(3000);
    for (auto& b : image) b = static_cast<std::uint8_t>(random());
    DisassemblyOptions options;
    options.imageName = "f.bin";
    options.code = {{0, 3000}};
    const Disassembly dis(image, options);
    MemoryOutput out;
    ASSERT_TRUE(dis.write(out));
    const std::string text = out.files.at("f.bin.s");
    auto check = [](const std::string& t, std::size_t piece) {
        SourceCheck c;
        for (std::size_t i = 0; i < t.size(); i += piece) c.add(std::string_view(t).substr(i, piece));
        return std::pair{c.fromDisassembler(), c.unchanged()};
    };
    for (const std::size_t piece : {1u, 7u, 4096u, 1u << 20}) {
        EXPECT_EQ(check(text, piece), std::pair(true, true)) << piece;
    }
    // Any one byte changed, anywhere (the digits and the first line included), a byte
    // more or less: changed. Beyond the header line it is still the disassembler's.
    for (int k = 0; k < 300; ++k) {
        std::string t = text;
        const std::size_t at = k < 40 ? static_cast<std::size_t>(k) * 3 : random() % t.size();
        t[at] = static_cast<char>(t[at] ^ (1 + random() % 255));
        EXPECT_FALSE(check(t, 512).second) << "byte " << at;
        if (at >= kDisassemblyHeader.size()) {
            EXPECT_TRUE(check(t, 512).first) << at;
        }
    }
    EXPECT_FALSE(check(text + " ", 512).second);
    EXPECT_FALSE(check(text.substr(0, text.size() - 1), 512).second);
    EXPECT_FALSE(check("", 512).first);
    EXPECT_FALSE(check("; korvane-dis", 512).first);
}

TEST(Disasm, InstructionText) {
    const std::pair<std::uint16_t, const char*> cases[] = {
        {0xD102, "MOV.L @(L0600400C,PC),R1"}, {0xC707, "MOVA @(L06004020,PC),R0"},
        {0xAFFE, "BRA L06004000"},            {0x8FFC, "BF/S L06003FFC"},
        {0x0009, "NOP"},                      {0xE0FF, "MOV #-1,R0"},
        {0x554F, "MOV.L @(60,R4),R5"},        {0xC1FF, "MOV.W R0,@(510,GBR)"},
        {0xCFFF, "OR.B #255,@(R0,GBR)"},      {0x61F6, "MOV.L @R15+,R1"},
        {0x2F16, "MOV.L R1,@-R15"},           {0x4F22, "STS.L PR,@-R15"},
        {0x014E, "MOV.L @(R0,R4),R1"},        {0xFFFF, ""},
    };
    for (const auto& [word, text] : cases) EXPECT_EQ(instructionText(word, 0x06004000), text);
}

// The model's queries on images that are one long table (zeros at base 0 read as
// pointers; longs that point at each other): every item found by a binary search
// agrees with a plain walk over the statements, and references by target with a scan.
TEST(Disasm, QueriesOnLongTablesAgreeWithAPlainWalk) {
    std::vector<std::uint8_t> pointers(64 * 1024);
    for (std::uint32_t i = 0; i < pointers.size(); i += 4) {
        const std::uint32_t v = 0x06000000u + ((i * 7919u) % static_cast<std::uint32_t>(pointers.size()) & ~3u);
        for (int b = 0; b < 4; ++b) pointers[i + static_cast<std::uint32_t>(b)] = static_cast<std::uint8_t>(v >> (24 - 8 * b));
    }
    const std::pair<std::vector<std::uint8_t>, std::uint32_t> images[] = {
        {std::vector<std::uint8_t>(256 * 1024, 0), 0}, {pointers, 0x06000000u}};
    for (const auto& [image, base] : images) {
        DisassemblyOptions o;
        o.imageName = "t.bin";
        o.base = base;
        const Disassembly dis(image, o);
        ASSERT_EQ(dis.error(), "");
        const Model& m = dis.model();
        ASSERT_FALSE(m.tables().empty());
        // Items tile the image: each starts where the one before ended.
        std::uint32_t expected = base, tableEntries = 0;
        for (std::uint32_t a = base; a < base + image.size(); a += 2) {
            const auto item = m.itemAt(a);
            ASSERT_TRUE(item) << std::hex << a;
            if (item->address == a) {
                ASSERT_EQ(a, expected) << std::hex << a;
                expected = a + item->size;
                tableEntries += item->kind == ItemKind::Table;
            }
            ASSERT_LE(item->address, a);
            ASSERT_LT(a, item->address + item->size);
        }
        EXPECT_EQ(expected, base + image.size());
        EXPECT_GT(tableEntries, image.size() / 8);
        for (std::uint32_t a = base; a < base + image.size(); a += 4 * 97) {
            std::vector<Reference> scan;
            for (const Reference& r : m.references())
                if (r.to == a) scan.push_back(r);
            const std::vector<Reference> found = m.referencesTo(a);
            ASSERT_EQ(found.size(), scan.size()) << std::hex << a;
            for (std::size_t k = 0; k < found.size(); ++k) EXPECT_EQ(found[k].from, scan[k].from);
        }
    }
}

// Random images of pointer tables whose entries point at the starts and middles of
// each other's entries, of instructions and of strings: every source rebuilds its image
// byte for byte (a value that points inside an item is a number, never a label that
// cannot stand).
TEST(Disasm, PointersIntoItemsRebuild) {
    std::mt19937 random(11);
    int inside = 0;  // sources with a pointer into an item
    for (int round = 0; round < 60; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const std::uint32_t base = 0x06000000u;
        std::string image;
        std::vector<std::uint32_t> starts;
        auto put32 = [&](std::uint32_t v) {
            for (int b = 3; b >= 0; --b) image += static_cast<char>(v >> (8 * b));
        };
        // Code first (the entry), then pieces: tables, code, strings.
        for (int k = 0; k < 4; ++k) image += std::string("\x00\x09", 2);
        image += std::string("\x00\x0B\x00\x09", 4);
        const int pieces = 4 + static_cast<int>(random() % 6);
        std::vector<std::pair<std::size_t, std::size_t>> tables;  // where, how many entries
        for (int p = 0; p < pieces; ++p) {
            while (image.size() % 4) image += '\0';
            starts.push_back(static_cast<std::uint32_t>(image.size()));
            switch (random() % 3) {
                case 0: {
                    const std::size_t n = 2 + random() % 6;
                    tables.push_back({image.size(), n});
                    for (std::size_t e = 0; e < n; ++e) put32(0);  // filled below
                    break;
                }
                case 1:
                    for (int k = 0; k < 3; ++k) image += std::string("\xE1\x05\x00\x0B\x00\x09", 6);
                    break;
                default:
                    image += "Hello, pointers into strings";
                    break;
            }
        }
        const auto size = static_cast<std::uint32_t>(image.size());
        for (const auto& [at, n] : tables) {
            for (std::size_t e = 0; e < n; ++e) {
                // The start or a middle of a piece (or of any entry of a table).
                std::uint32_t target = starts[random() % starts.size()];
                if (random() % 2) target += 1 + static_cast<std::uint32_t>(random() % 6);
                if (target >= size) target = size - 1;
                const std::uint32_t v = base + target;
                for (int b = 0; b < 4; ++b) image[at + 4 * e + static_cast<std::size_t>(b)] = static_cast<char>(v >> (24 - 8 * b));
            }
        }
        const std::vector<std::uint8_t> bytes(image.begin(), image.end());
        DisassemblyOptions o;
        o.imageName = "p.bin";
        o.base = base;
        // Every other round, the tables are the info file's ("data A-B pointers").
        for (const auto& [at, n] : tables) {
            if (round % 2) o.data.push_back({{base + static_cast<std::uint32_t>(at), base + at + 4 * n}, DataWidth::Pointers});
        }
        const Disassembly dis(bytes, o);
        ASSERT_EQ(dis.error(), "");
        ASSERT_EQ(dis.files().size(), 1u);
        MemoryOutput out;
        ASSERT_TRUE(dis.write(out));
        const Assembled back = assembleText(out.files.at("p.bin.s"));
        ASSERT_TRUE(back.result.ok) << back.message() << "\n" << out.files.at("p.bin.s");
        EXPECT_TRUE(back.bin == image) << out.files.at("p.bin.s");
        inside += out.files.at("p.bin.s").find("; inside ") != std::string::npos;
    }
    EXPECT_GT(inside, 10);
}

// Every image rebuilds byte for byte, whatever names a place inside an item: branches into
// the second half of a table's entry or of a literal, pointers into instructions, tables
// that run into each other. Random small images of words that branch, load PC-relatively,
// return, jump through registers, and longs that point into the image (at its starts and
// middles), at base 0 and $6000000, with and without guessing; and the images where a
// branch named a label inside a table of pointers that was never written.
TEST(Disasm, EveryImageRebuilds) {
    const std::string branch("\x8D\x11\x00\x09\x00\x0B\x00\x09", 8);  // BT/S into the 8th long after it
    std::vector<std::pair<std::string, std::uint32_t>> images = {
        {branch + std::string(56, '\0'), 0}, {branch + repeat(std::string("\x06\x00\x00\x00", 4), 14), 0x06000000}};
    // Words drawn from BT, BT/S, BRA, MOV.L and MOV.W @(disp,PC), MOVA, JSR @Rn, RTS, NOP, any.
    constexpr std::pair<std::uint16_t, std::uint16_t> kWords[] = {
        {0x8900, 0xFF}, {0x8D00, 0xFF}, {0xA000, 0xFFF}, {0xD000, 0xF0F}, {0x9000, 0xF0F},
        {0xC700, 0xF}, {0x400B, 0xF00}, {0x000B, 0}, {0x0009, 0}, {0, 0xFFFF}};
    std::mt19937 random(34);
    for (int round = 0; round < 2000; ++round) {
        const std::uint32_t base = round % 2 ? 0x06000000u : 0;
        const auto size = static_cast<std::uint32_t>(16 + 4 * (random() % 24));
        std::string image;
        while (image.size() < size) {
            const auto pick = random() % (std::size(kWords) + 2);
            if (pick >= std::size(kWords)) {  // a long that points into the image, at a start or a middle
                const std::uint32_t v = base + static_cast<std::uint32_t>(random() % size);
                image += {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
                continue;
            }
            const auto w = static_cast<std::uint16_t>(kWords[pick].first | (random() & kWords[pick].second));
            image += {static_cast<char>(w >> 8), static_cast<char>(w)};
        }
        images.emplace_back(image, base);
    }
    for (std::size_t i = 0; i < images.size(); ++i) {
        const auto& [image, base] = images[i];
        const auto size = static_cast<std::uint32_t>(image.size());
        for (const bool guess : {true, false}) {
            SCOPED_TRACE("image " + std::to_string(i) + (guess ? "" : ", no guessing"));
            const std::vector<std::uint8_t> bytes(image.begin(), image.end());
            DisassemblyOptions o;
            o.imageName = "r.bin";
            o.base = base;
            o.guess = guess;
            if (i % 3 == 2) {  // and what a user says: an entry, a name, a table, a range of pointers
                auto at = [&](std::uint32_t align) { return base + static_cast<std::uint32_t>(random() % size) / align * align; };
                o.entries = {base, at(2)};
                o.names.push_back({at(1), "NAMED", ""});
                const std::uint32_t table = at(4);
                o.tables.push_back({table, std::min<std::uint32_t>(2, (base + size - table) / 4), 4, false, 0});
                const std::uint32_t from = at(4);
                o.data.push_back({{from, std::min<std::uint32_t>(from + 16, base + size)}, DataWidth::Pointers});
            }
            const Disassembly dis(bytes, o);
            if (!dis.error().empty()) continue;  // options it refuses
            MemoryOutput out;
            ASSERT_TRUE(dis.write(out));
            const std::string& source = out.files.at("r.bin.s");
            const Assembled back = assembleText(source);
            ASSERT_TRUE(back.result.ok) << back.message() << "\n" << source;
            ASSERT_TRUE(back.bin == image) << source;
        }
    }
}

}  // namespace
}  // namespace korvane::test
