// What the user and the image's headers tell the disassembler, asked of the model and
// the sources: info and symbol files, the info file a run writes, Saturn and 32X headers,
// exception vectors, register names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "korvane/disassemble.h"
#include "korvane/sh2.h"
#include "unit/support.h"

namespace korvane::test {
namespace {

constexpr std::uint32_t kBase = 0x06000000;
using enum ItemKind;

std::vector<std::uint8_t> bytesOf(const std::string& s) {
    return {s.begin(), s.end()};
}

TEST(Input, RegisterNames) {
    const std::vector<std::pair<std::uint32_t, std::string_view>> plain = {
        {0xFFFFFF00, "DVSR"}, {0xFFFFFE92, "CCR"},   {0xFFFFFFE0, "BCR1"}, {0xFFFFFF8C, "CHCR0"},
        {0xFFFFFEE2, "IPRA"}, {0xFFFFFE10, "TIER"},  {0xFFFFFF01, ""},     {0x20004020, ""}};
    for (const auto& [a, name] : plain) EXPECT_EQ(registerName(a, false), name) << std::hex << a;
    EXPECT_EQ(registerName(0x20004020, true), "32X COMM0");
    EXPECT_EQ(registerName(0x00004000, true), "32X interrupt mask");
    EXPECT_EQ(registerName(0x06004000, true), "");
}

// A 32X ROM made the way homebrew builds lay it out: 68000 vectors and the Mega Drive
// header, the 32X header at $3C0, 68000 code, then the SH-2 code that the header says
// runs in SDRAM (here from ROM offset $800 at $06000000, VBR $06000000, entries at
// $06000200 and $06000210).
TEST(Input, ThirtyTwoXRom) {
    std::string sh2 =
        "        SETPC   $6000000\n"
        "VBR:    DC.L    MASTER,$6040000,MASTER,$6040000\n"
        "        DC.L    FAULT,FAULT\n"
        "        ORG     $6000200\n"
        "MASTER: MOV.L   @(LSYS,PC),R1\n"
        "        MOV.W   @R1,R0\n"
        "        BRA     MASTER\n"
        "        NOP\n"
        "        ORG     $6000210\n"
        "SLAVE:  BRA     SLAVE\n"
        "        NOP\n"
        "FAULT:  RTE\n"
        "        NOP\n"
        "        ALIGN.L\n"
        "LSYS:   DC.L    $20004020\n";
    const Assembled code = assembleText(sh2);
    ASSERT_TRUE(code.result.ok) << code.message();
    std::string rom(0x800, '\0');
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) rom[at + i] = static_cast<char>(v >> (24 - 8 * i));
    };
    put32(0, 0x01000000);
    put32(4, 0x3F0);
    rom.replace(0x100, 8, "SEGA 32X");
    rom.replace(0x3C0, 16, "KORVANE TEST    ");
    put32(0x3D0, 1);
    put32(0x3D4, 0x800);
    put32(0x3D8, 0);
    put32(0x3DC, static_cast<std::uint32_t>(code.bin.size()));
    put32(0x3E0, 0x06000200);
    put32(0x3E4, 0x06000210);
    put32(0x3E8, 0x06000000);
    put32(0x3EC, 0x06000000);
    rom += code.bin;
    const std::vector<std::uint8_t> image = bytesOf(rom);
    DisassemblyOptions o;
    o.imageName = "rom.32x";
    ASSERT_EQ(applyFormat(ImageFormat::ThirtyTwoX, image, {}, false, o), "");
    EXPECT_EQ(o.base, 0x02000000u);
    EXPECT_TRUE(o.thirtyTwoX);
    const Disassembly d(image, o);
    ASSERT_EQ(d.error(), "");
    const Model& m = d.model();
    EXPECT_EQ(m.kindAt(0x06000200), Instruction);
    EXPECT_EQ(m.labelAt(0x06000200), Evidence::Entry);
    EXPECT_EQ(m.kindAt(0x06000210), Instruction);
    EXPECT_EQ(m.kindAt(0x06000214), Instruction);  // the vectors name the fault handler
    EXPECT_EQ(m.kindAt(0x020003F0), Data);          // 68000 code is data to the SH-2
    EXPECT_EQ(m.kindAt(0x02000800), std::nullopt);  // the SH-2 code sits at its SDRAM address
    MemoryOutput out;
    ASSERT_TRUE(d.write(out));
    const std::string& s = out.files.at("rom.32x.s");
    EXPECT_NE(s.find("; 32X COMM0"), std::string::npos) << s;
    EXPECT_NE(s.find("SETPC   $06000000"), std::string::npos);
    const Assembled back = assembleText(s);
    ASSERT_TRUE(back.result.ok) << back.message();
    EXPECT_EQ(back.bin, rom);

    // A header that does not hold is refused.
    std::vector<std::uint8_t> bad = image;
    bad[0x3DC] = 0x7F;
    DisassemblyOptions o2;
    EXPECT_NE(applyFormat(ImageFormat::ThirtyTwoX, bad, {}, false, o2), "");
}

TEST(Input, SaturnProgramAndIpBin) {
    const std::vector<std::uint8_t> program(64, 0x09);
    DisassemblyOptions o;
    ASSERT_EQ(applyFormat(ImageFormat::Saturn, program, {}, false, o), "");
    EXPECT_EQ(o.base, 0x06004000u);
    EXPECT_EQ(o.entries, (std::vector<std::uint32_t>{0x06004000}));
    std::vector<std::uint8_t> ip(256, ' ');
    const std::string id = "SEGA SEGASATURN ";
    std::copy(id.begin(), id.end(), ip.begin());
    const std::uint8_t first[8] = {0x06, 0x01, 0x00, 0x00, 0, 0, 0, 64};
    std::copy(first, first + 8, ip.begin() + 0xF0);
    DisassemblyOptions withIp;
    ASSERT_EQ(applyFormat(ImageFormat::Saturn, program, ip, false, withIp), "");
    EXPECT_EQ(withIp.base, 0x06010000u);
    DisassemblyOptions wrongSize;
    ip[0xF7] = 65;
    EXPECT_NE(applyFormat(ImageFormat::Saturn, program, ip, false, wrongSize), "");
    DisassemblyOptions ipAsImage;
    EXPECT_NE(applyFormat(ImageFormat::Saturn, ip, {}, false, ipAsImage), "");
}

TEST(Input, VectorTableEntries) {
    const Assembled a = assembleText(
        "        SETPC   $6000000\n"
        "        DC.L    RESET,$6040000,RESET,$6040000\n"
        "        DC.L    BAD,0,BAD\n"
        "        DC.L    $FFFFFFFF\n"  // not a code address: the table ends
        "RESET:  BRA     RESET\n"
        "        NOP\n"
        "BAD:    RTE\n"
        "        NOP\n");
    ASSERT_TRUE(a.result.ok) << a.message();
    const std::vector<std::uint8_t> image = bytesOf(a.bin);
    DisassemblyOptions o;
    o.imageName = "v.bin";
    o.base = kBase;
    o.vectors = {kBase};
    o.guess = false;
    const Disassembly d(image, o);
    ASSERT_EQ(d.error(), "");
    EXPECT_EQ(d.model().kindAt(kBase + 0x20), Instruction);
    EXPECT_EQ(d.model().labelAt(kBase + 0x20), Evidence::Vector);
    EXPECT_EQ(d.model().kindAt(kBase + 0x24), Instruction);
    EXPECT_EQ(d.model().kindAt(kBase + 4), Data);  // a stack pointer stays a number
}



// Traces in each format: what ran is code ("executed"), what was only read is data, and
// bytes both run and read are returned to be reported.
TEST(Input, ExecutionTraces) {
    // The handler is reached only through a register no analysis knows; the long after
    // it is read by nothing the analysis sees.
    const Assembled a = assembleText(
        "        SETPC   $6000000\n"
        "        MOV.L   @R4,R1\n"
        "        JMP     @R1\n"
        "        NOP\n"
        "        NOP\n"
        "HANDLE: MOV     #1,R0\n"  // $06000008
        "        RTS\n"
        "        NOP\n"
        "        NOP\n"
        "        DC.L    $000B0009\n");  // $06000010: RTS, NOP (a routine by its looks), but only read
    ASSERT_TRUE(a.result.ok) << a.message();
    const std::vector<std::uint8_t> image = bytesOf(a.bin);
    std::vector<std::uint8_t> log(0x14, 0);
    for (std::size_t i : {0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13}) log[i] = 1;
    for (std::size_t i : {0x10, 0x11, 0x12, 0x13}) log[i] = 2;
    log[8] |= 2;  // run and read: reported
    // An emulator's log of all of its work RAM: the image is a part of it.
    std::vector<std::uint8_t> ram(0x100, 7);
    ram.insert(ram.end(), log.begin(), log.end());
    ram.resize(ram.size() + 0x1000, 3);
    struct TraceCase {
        const char* name;
        std::vector<std::uint8_t> trace;
        std::optional<std::uint32_t> logBase;
        std::size_t errors;
        bool dataAfter;  // $06000010 data from the trace (otherwise code by its looks)
        std::vector<AddressRange> both;
        std::uint64_t outside = 0;  // bytes passed over
    };
    const std::vector<TraceCase> cases = {
        {"addresses", bytesOf("# run\n06000000\n$6000008\n0x600000A\n"), std::nullopt, 0, false, {}},
        {"ranges", bytesOf("6000000-6000006\n6000008 - 600000E\n"), std::nullopt, 0, false, {}},
        {"qemu's in_asm log", bytesOf("----------------\nIN: \n0x06000000:  mov.l\t@r4,r1\n0x06000002:  jmp\t@r1\n"
                                      "\n----------------\nIN: \n0x06000008:  mov\t#1,r0\nOBJD-T: 0009\n"),
         std::nullopt, 0, false, {}},
        {"a code/data log", log, kBase, 0, true, {{kBase + 8, kBase + 9}}},
        {"a code/data log of more than the image", ram, kBase - 0x100, 0, true, {{kBase + 8, kBase + 9}}, 0x1100},
        {"addresses outside the image", bytesOf("5FFFFFE-6000006\n6000008\nFFFFFFFF\n0x600000A\n6FFFF00\n"), std::nullopt,
         0, false, {}, 6},
        {"a line of neither kind", bytesOf("6000000\nrun 6000008\n"), std::nullopt, 1, false, {}},
    };
    for (const TraceCase& c : cases) {
        SCOPED_TRACE(c.name);
        DisassemblyOptions o;
        o.imageName = "t.bin";
        o.base = kBase;
        const TraceRead read = readTrace(c.trace, "t.trace", c.logBase, image.size(), o);
        EXPECT_EQ(read.errors.size(), c.errors);
        if (c.errors) {
            EXPECT_EQ(read.errors[0], "t.trace:2: run 6000008: not an address, a range A-B or a line of qemu's -d in_asm log");
            continue;
        }
        EXPECT_EQ(read.outside, c.outside);
        // Read as it comes, a byte at a time: the same ranges.
        DisassemblyOptions streamed = o;
        streamed.executed.clear();
        streamed.data.clear();
        TraceReader reader("t.trace", c.logBase, image.size(), streamed);
        for (const std::uint8_t& b : c.trace) reader.add({&b, 1});
        EXPECT_EQ(reader.finish(streamed).outside, c.outside);
        ASSERT_EQ(streamed.executed.size(), o.executed.size());
        ASSERT_EQ(streamed.data.size(), o.data.size());
        for (std::size_t i = 0; i < o.executed.size(); ++i) {
            EXPECT_EQ(streamed.executed[i].begin, o.executed[i].begin);
            EXPECT_EQ(streamed.executed[i].end, o.executed[i].end);
        }
        ASSERT_EQ(read.both.size(), c.both.size());
        for (std::size_t i = 0; i < c.both.size(); ++i) {
            EXPECT_EQ(read.both[i].begin, c.both[i].begin);
            EXPECT_EQ(read.both[i].end, c.both[i].end);
        }
        const Disassembly d(image, o);
        ASSERT_EQ(d.error(), "");
        EXPECT_EQ(d.model().kindAt(kBase + 8), Instruction);
        EXPECT_EQ(d.model().labelAt(kBase + 8), Evidence::Executed);
        EXPECT_EQ(d.model().kindAt(kBase + 0xA), Instruction);
        EXPECT_EQ(d.model().kindAt(kBase + 0x10) == Instruction, !c.dataAfter);
    }
}

// Every cut of these programs, odd lengths too, is analysed, asked why at every address
// and written within the image's bytes: a literal, a switch or a table cut by the
// image's end is read no further (AddressSanitizer sees a byte read past it).
TEST(Input, CutImagesAreReadWithinTheirBytes) {
    // A dispatch through a table of code pointers, with no bound.
    const std::string dispatch =
        "DISP:   SHLL2   R4\n"
        "        MOVA    @(TAB,PC),R0\n"
        "        MOV.L   @(R0,R4),R1\n"
        "        JMP     @R1\n"
        "        NOP\n"
        "        NOP\n"
        "TAB:    DC.L    C0,C1\n"
        "C0:     RTS\n"
        "        MOV     #0,R0\n"
        "C1:     RTS\n"
        "        MOV     #1,R0\n";
    const std::string programs[] = {
        "        SETPC   $6000000\n"
        "        MOV.L   @(LIT,PC),R0\n"
        "        RTS\n"
        "        NOP\n"
        "        NOP\n"
        "LIT:    DC.L    $6000002\n",  // $06000008: cut at 9, 10 and 11 bytes
        "        SETPC   $6000000\n" + dispatch,
        // The dispatch is reached by a delayed branch whose slot the odd end cuts.
        "        SETPC   $6000000\n"
        "        BRA     ENTRY\n"
        "        NOP\n" +
            dispatch +
            "ENTRY:  TST     R4,R4\n"
            "        BT/S    DISP\n"
            "        DC.B    0\n",
    };
    for (const std::string& program : programs) {
        const Assembled a = assembleText(program);
        ASSERT_TRUE(a.result.ok) << a.message();
        for (std::size_t n = 1; n <= a.bin.size(); ++n) {
            SCOPED_TRACE(std::to_string(n) + " bytes of\n" + program);
            const std::vector<std::uint8_t> cut(a.bin.begin(), a.bin.begin() + static_cast<std::ptrdiff_t>(n));
            DisassemblyOptions o;
            o.imageName = "cut.bin";
            o.base = kBase;
            const Disassembly d(cut, o);
            ASSERT_EQ(d.error(), "");
            for (std::uint32_t at = kBase; at < kBase + n; ++at) EXPECT_FALSE(d.model().why(at).empty());
            if (&program == &programs[0] && (n == 10 || n == 11)) {  // a literal of 2 bytes is left
                EXPECT_NE(d.model().why(kBase + 8).back().text.find("cut by the image's end"), std::string::npos);
            }
            MemoryOutput out;
            EXPECT_TRUE(d.write(out));
        }
    }
}

// Two modules that call each other through fixed addresses: the info file of the
// first lists where it leaves itself (extern), and the second, given that file, takes
// those that land in it as entries; its other lines are about the first image.
TEST(Input, ExternLinesJoinModules) {
    const Assembled a = assembleText(
        "        SETPC   $6004000\n"
        "        STS.L   PR,@-R15\n"
        "        MOV.L   @(FAR,PC),R1\n"
        "        JSR     @R1\n"
        "        NOP\n"
        "        LDS.L   @R15+,PR\n"
        "        MOV.L   @(JUMP,PC),R1\n"
        "        JMP     @R1\n"
        "        NOP\n"
        "FAR:    DC.L    $6010010\n"
        "JUMP:   DC.L    $6010020\n");
    const Assembled b = assembleText(
        "        SETPC   $6010000\n"
        "        RTS\n"
        "        NOP\n"
        "        DC.B    \"module B\",0,0,0,0\n"
        "        MOV     #1,R0\n"  // $06010010: only the other module calls it
        "        RTS\n"
        "        NOP\n"
        "        NOP\n"
        "        DC.B    \"a text!\",0\n"
        "        MOV     #2,R0\n"  // $06010020: where it jumps
        "        RTS\n"
        "        NOP\n");
    ASSERT_TRUE(a.result.ok && b.result.ok) << a.message() << b.message();
    const std::vector<std::uint8_t> imageA = bytesOf(a.bin), imageB = bytesOf(b.bin);  // the disassemblies read them
    DisassemblyOptions oa;
    oa.imageName = "a.bin";
    oa.base = 0x6004000;
    const Disassembly da(imageA, oa);
    const std::string info = infoOf(da, oa);
    EXPECT_NE(info.find("\nextern $06010010 call $06004004\n"), std::string::npos) << info;
    EXPECT_NE(info.find("\nextern $06010020 jump $0600400C\n"), std::string::npos) << info;
    // Given back to its own image, the extern lines point outside it: nothing changes.
    DisassemblyOptions own = oa;
    EXPECT_TRUE(readInfo(info, "a.info", own).empty());
    EXPECT_EQ(Disassembly(imageA, own).model().labels(), da.model().labels());
    for (const bool given : {false, true}) {
        SCOPED_TRACE(given);
        DisassemblyOptions ob;
        ob.imageName = "b.bin";
        ob.base = 0x6010000;
        ob.guess = false;
        if (given) {
            EXPECT_TRUE(readInfo(info + "entry $6004000\nlabel $6004004 CALLER\n", "a.info", ob).empty());
        }
        EXPECT_TRUE(ob.entries.empty() && ob.names.empty());
        const Disassembly db(imageB, ob);
        ASSERT_EQ(db.error(), "");
        EXPECT_EQ(db.model().kindAt(0x6010010) == Instruction, given);
        EXPECT_EQ(db.model().kindAt(0x6010020) == Instruction, given);
        if (given) {
            EXPECT_EQ(db.model().labelAt(0x6010010), Evidence::OtherModule);
            const auto f = db.model().functions();
            EXPECT_TRUE(std::any_of(f.begin(), f.end(), [](const Function& x) { return x.start == 0x6010010; }));
            EXPECT_FALSE(std::any_of(f.begin(), f.end(), [](const Function& x) { return x.start == 0x6010020; }));
        }
    }
    DisassemblyOptions bad;
    bad.imageName = "a.bin";
    EXPECT_EQ(readInfo("extern $6010010 calls\n", "x.info", bad),
              std::vector<std::string>{"x.info:1: extern needs an address, call or jump, and the addresses it is called "
                                       "or jumped from"});
}

// An extern line that lands in the image is where code starts, as an entry is: both
// are checked alike, and neither is dropped without a word.
TEST(Input, EntriesAndExternsAreCheckedAlike) {
    const std::vector<std::uint8_t> image = {0x00, 0x0B, 0x00, 0x09, 0x00, 0x0B, 0x00, 0x09, 0x12, 0x34, 0x56, 0x78};
    const struct {
        const char* info;
        std::string readSays, disassemblySays;
    } cases[] = {
        {"extern $6000004 call $6010000\n", "", ""},
        {"extern $7000001 jump $6010000\n", "", ""},  // another module's own way out
        {"extern $6000004 call\n", "x.info:1: extern needs an address, call or jump, and the addresses it is called or jumped from", ""},
        {"entry $6000005\n", "", "entry $6000005 is odd: instructions start at even addresses"},
        {"extern $6000005 call $6010000\n", "", "extern $6000005 is odd: instructions start at even addresses"},
        {"data $6000004-$6000008\nentry $6000004\n", "",
         "entry $6000004 lies in the data range $6000004-$6000008: code cannot start in data"},
        {"data $6000004-$6000008\nextern $6000006 jump $6010000\n", "",
         "extern $6000006 lies in the data range $6000004-$6000008: code cannot start in data"},
        {"extern 06000004 call $6010000\n", "x.info:1: extern 06000004: a leading 0 is refused; write 06000004 as $6000004 or 0x6000004 (hex) or 6000004 (decimal)", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.info);
        DisassemblyOptions o;
        o.imageName = "x.bin";
        o.base = kBase;
        const std::vector<std::string> errors = readInfo(c.info, "x.info", o);
        EXPECT_EQ(errors, c.readSays.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.readSays});
        if (!errors.empty()) continue;
        const Disassembly d(image, o);
        EXPECT_EQ(d.error(), c.disassemblySays);
        if (d.error().empty() && !o.externs.empty() && o.externs[0].address == kBase + 4) {
            EXPECT_EQ(d.model().kindAt(kBase + 4), Instruction);
        }
    }
}

// Files of junk make short messages: each quotes at most a short printable excerpt of
// what it read, and a file says at most 20 errors and how many more it has.
TEST(Input, JunkMakesShortMessages) {
    const std::string nuls(10u << 20, '\0');
    std::string lines;
    for (int i = 0; i < 1000; ++i) lines += "junk\n";
    const std::string longName = "label $6000000 " + std::string(100000, 'A') + "\n";
    enum class Reader { Info, Symbols, Trace };
    const struct {
        Reader reader;
        std::string text;
        std::size_t errors;
        std::string first;
    } cases[] = {
        {Reader::Info, nuls, 1, "x:1: unknown statement " + repeat("\\x00", 32) + "... (label, entry, code"},
        {Reader::Info, lines, 21, "x:1: unknown statement junk ("},
        {Reader::Info, longName, 1, "x:1: the name " + std::string(32, 'A') + "... cannot be a label"},
        {Reader::Symbols, nuls, 1, "x:1: not a symbol"},
        {Reader::Trace, nuls, 1, "x:1: " + repeat("\\x00", 32) + "...: not an address"},
        {Reader::Trace, lines, 20, "x:1: junk: not an address"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        DisassemblyOptions o;
        o.imageName = "x.bin";
        const std::vector<std::string> errors =
            c.reader == Reader::Info      ? readInfo(c.text, "x", o)
            : c.reader == Reader::Symbols ? readSymbols(c.text, "x", o)
                                          : readTrace(bytesOf(c.text), "x", std::nullopt, 16, o).errors;
        ASSERT_EQ(errors.size(), c.errors);
        EXPECT_EQ(errors[0].substr(0, c.first.size()), c.first);
        for (const std::string& e : errors) EXPECT_LT(e.size(), 300u) << e.substr(0, 300);
        if (c.errors == 21) {
            EXPECT_EQ(errors.back(), "x: 980 more errors");
        }
    }
}

TEST(Input, InfoFileStatementsAndErrors) {
    DisassemblyOptions o;
    const std::vector<std::string> errors = readInfo(
        "# names for the example\n"
        "label $6000010 MAIN the program\n"
        "entry $6000040\n"
        "code $6000050-$6000060\n"
        "data $6000070-$6000080 longs\n"
        "table $6000090 4 1 relative $600008E\n"
        "comment $6000010 starts here\n"
        "const $60000A0\n"
        "label $6000020 R3\n"
        "label $6000020\n"
        "frobnicate 1\n"
        "table $6000000 2 3\n"
        "data $10-$8\n"
        "label $6000030 MAIN\n",
        "i.info", o);
    EXPECT_EQ(errors, (std::vector<std::string>{
                          "i.info:9: the name R3 cannot be a label: 2 to 20 of A-Z, 0-9 and _, not a register, not starting with a digit",
                          "i.info:10: label needs an address and a name",
                          "i.info:11: unknown statement frobnicate (label, entry, code, data, table, comment, const, extern)",
                          "i.info:12: table needs ADDR COUNT WIDTH (1, 2 or 4) [relative BASE]",
                          "i.info:13: data needs a range A-B",
                          "i.info:14: the name MAIN is already the label of another address"}));
    ASSERT_EQ(o.names.size(), 1u);
    EXPECT_EQ(o.names[0].name, "MAIN");
    EXPECT_EQ(o.names[0].comment, "the program");
    EXPECT_EQ(o.entries, (std::vector<std::uint32_t>{0x6000040}));
    ASSERT_EQ(o.tables.size(), 1u);
    EXPECT_TRUE(o.tables[0].relative);
    EXPECT_EQ(o.tables[0].base, 0x600008Eu);
    EXPECT_EQ(o.constants, (std::vector<std::uint32_t>{0x60000A0}));
}

TEST(Input, SymbolsFromOtherTools) {
    DisassemblyOptions o;
    const std::vector<std::string> errors = readSymbols(
        "06000010 T _main\n"
        "MY_LOOP = $6000014\n"
        "$6000018 helper\n"
        "0600001c t a_rather_long_function_name_indeed\n"
        "06000020 T _Main\n"  // becomes _MAIN as well
        "not a symbol line at all\n",
        "s.sym", o);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], "s.sym:5: _Main and _main (line 1) both become the label _MAIN");
    EXPECT_EQ(errors[1].substr(0, 21), "s.sym:6: not a symbol");
    ASSERT_EQ(o.names.size(), 4u);
    EXPECT_EQ(o.names[0].name, "_MAIN");
    EXPECT_EQ(o.names[0].comment, "is _main");
    EXPECT_EQ(o.names[1].name, "MY_LOOP");
    EXPECT_EQ(o.names[1].comment, "");
    EXPECT_EQ(o.names[2].name, "HELPER");
    EXPECT_EQ(o.names[3].name.size(), 20u);
    EXPECT_EQ(o.names[3].name.substr(0, 16), "A_RATHER_LONG_F_");
}

// Names stand for the labels everywhere; a constant stays a number; a declared table's
// entries become code; and what a run found, written as an info file and given back,
// makes the same source.
TEST(Input, NamesConstantsTablesAndInfoOut) {
    const Assembled a = assembleText(
        "        SETPC   $6000000\n"
        "        BSR     SUB\n"
        "        NOP\n"
        "        MOV.L   @(LP,PC),R1\n"
        "        MOV.L   @(LC,PC),R2\n"
        "        MOVA    @(TAB,PC),R0\n"
        "        RTS\n"
        "        NOP\n"
        "        ALIGN.L\n"
        "LP:     DC.L    SUB\n"
        "LC:     DC.L    DATA\n"
        "TAB:    DC.B    $4,$8,0,0\n"  // offsets from TAB: $0600001C (SUB), $06000020
        "SUB:    RTS\n"
        "        NOP\n"
        "        RTS\n"
        "        MOV     #1,R0\n"
        "        RTS\n"
        "        MOV     #2,R0\n"
        "DATA:   DC.L    $12345678\n"
        "STR:    DC.B    \"AB\",0,\"C\",0,0\n"  // $0600002C
        "WRD:    DC.W    1,2,3\n"              // $06000032
        "PTRS:   DC.L    SUB,5,STR\n");        // $06000038
    ASSERT_TRUE(a.result.ok) << a.message();
    const std::vector<std::uint8_t> image(a.bin.begin(), a.bin.end());
    DisassemblyOptions o = unguessedAt06000000("n.bin");
    ASSERT_TRUE(readInfo("label $600001C WORKER the subroutine\n"
                         "table $6000018 2 1 relative $6000018\n"
                         "const $6000014\n"
                         "comment $6000000 the entry\n"
                         "data $600002C-$6000032 strings\n"
                         "data $6000032-$6000038 words\n"
                         "data $6000038-$6000044 pointers\n",
                         "n.info", o)
                    .empty());
    const Disassembly d(image, o);
    ASSERT_EQ(d.error(), "");
    MemoryOutput out;
    ASSERT_TRUE(d.write(out));
    const std::string& s = out.files.at("n.bin.s");
    EXPECT_NE(s.find("BSR     WORKER"), std::string::npos) << s;
    EXPECT_NE(s.find("; WORKER: the subroutine\nWORKER:"), std::string::npos) << s;
    EXPECT_NE(s.find("; the entry\n"), std::string::npos) << s;
    EXPECT_NE(s.find("DC.L    $6000028            ; 06000014 06000028 ; const"), std::string::npos) << s;
    // The table counts from itself (MOVA's R0): its own label, after the ALIGN.
    EXPECT_NE(s.find("-> WORKER (from L06000018)"), std::string::npos) << s;
    EXPECT_NE(s.find("-> L06000020 (from L06000018)"), std::string::npos) << s;
    EXPECT_EQ(s.find("B06000018"), std::string::npos) << s;
    // Data as the user declared it.
    for (const char* line : {"L0600002C:  DC.B    \"AB\"", "DC.B    \"C\"", "DC.W    $1,$2,$3", "DC.L    WORKER",
                             "DC.L    $5", "DC.L    L0600002C"})
        EXPECT_NE(s.find(line), std::string::npos) << line << "\n" << s;
    EXPECT_EQ(d.model().kindAt(0x06000020), ItemKind::Instruction);
    EXPECT_EQ(d.model().labelAt(0x06000028), std::nullopt);  // only a constant names it
    const Assembled back = assembleText(s);
    ASSERT_TRUE(back.result.ok) << back.message();
    EXPECT_EQ(back.bin, a.bin);

    DisassemblyOptions again;
    again.imageName = "n.bin";
    again.base = 0x06000000;
    again.guess = false;
    const std::string info = infoOf(d, o);
    ASSERT_TRUE(readInfo(info, "out.info", again).empty()) << info;
    const Disassembly d2(image, again);
    MemoryOutput out2;
    ASSERT_TRUE(d2.write(out2));
    EXPECT_EQ(out2.files.at("n.bin.s"), s) << info;
}


}  // namespace
}  // namespace korvane::test
