// --check, the edit's guard: an edited disassembly assembled in memory, and what the
// disassembler wrote as numbers worked out again (relative entries, BRAF/BSRF offsets,
// loads in delay slots), every reference out of reach explained, a stale pointer
// reported; the command end to end.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "korvane/disassemble.h"
#include "korvane/sh2.h"
#include "unit/support.h"

namespace korvane::test {
namespace {


// A BRAF's offset in a literal is written with what it reaches; a check of an edit
// that moves the target works it out again and rewrites it.
// A BRAF/BSRF offset kept in a literal counts from the end of the branch's delay slot,
// wherever code is inserted: before the target, or between the slot and the label that
// stood at the base.
TEST(Check, BrafOffsetsFollowAnEdit) {
    struct Edit {
        const char* program;
        const char* note;       // what the disassembler writes beside the literal
        const char* before;     // two NOPs go before this
        const char* message;    // what --check --write says
        std::uint32_t literal;  // where the offset is after the edit, and its width
        unsigned width;
        std::uint32_t base;     // the end of the slot after the edit
    };
    const Edit cases[] = {
        {"        SETPC   $6000000\n"
         "        MOV.W   @(LOFF,PC),R1\n"
         "        BRAF    R1\n"  // to $06000006 + $1A = $06000020
         "        NOP\n"
         "LOFF:   DC.W    $1A\n"
         "        ORG     $6000020\n"
         "        RTS\n"
         "        MOV     #7,R0\n",
         "-> L06000020 (from B06000006 for BRAF)", "L06000020:",
         "b.s:12: rewrote BRAF offset $1A as $1E (L06000020 - B06000006)", 6, 2, 6},
        {"        SETPC   $6000000\n"
         "        MOV.L   @(LOFF,PC),R1\n"
         "        BSRF    R1\n"  // to $06000006 + $1A = $06000020
         "        NOP\n"
         "        RTS\n"
         "        NOP\n"
         "        ALIGN.L\n"
         "LOFF:   DC.L    $1A\n"
         "        ORG     $6000020\n"
         "        RTS\n"
         "        MOV     #7,R0\n",
         "-> L06000020 (from L06000006 for BSRF)", "L06000006:",
         "b.s:16: rewrote BSRF offset $1A as $1E (L06000020 - $06000006, the end of the BSRF's delay slot)", 0x10,
         4, 6},
    };
    for (const Edit& c : cases) {
        std::string source = disassembled(c.program);
        ASSERT_NE(source.find(c.note), std::string::npos) << source;
        source.insert(source.find(c.before), "            NOP\n            NOP\n");
        MemoryIncludes none;
        const CheckReport report = checkSource(source, "b.s", none, true);
        ASSERT_TRUE(report.rewritten) << source;
        EXPECT_TRUE(report.holds);
        ASSERT_FALSE(report.messages.empty());
        EXPECT_EQ(report.messages[0], c.message);
        const Assembled back = assembleText(report.text);
        ASSERT_TRUE(back.result.ok) << back.message();
        const std::uint32_t offset = bigEndian(back.bin, c.literal, c.width);
        EXPECT_EQ(back.bin.substr(c.base + offset, 2), std::string("\x00\x0B", 2)) << report.text;  // the RTS
    }
}



// What the assembler would refuse after an edit, each with its reason and line.
TEST(Check, CheckExplainsEveryReferenceOutOfReach) {
    const std::string program =
        "        SETPC   $6000000\n"
        "        BT      FAR\n"              // line 2
        "        MOV.L   @(LIT,PC),R1\n"     // line 3
        "        BRA     FAR\n"              // line 4
        "        NOP\n"
        + repeat("        NOP\n", 600) +      // lines 6-605: the edit
        "FAR:    RTS\n"
        "        NOP\n"
        "        ALIGN.L\n"
        "LIT:    DC.L    $12345678\n"
        "        MOVA    @(ODD,PC),R0\n"
        "        RTS\n"
        "        NOP\n"
        "ODD:    DC.B    1\n";
    MemoryIncludes none;
    const CheckReport report = checkSource(program, "p.s", none, true);
    EXPECT_FALSE(report.holds);
    EXPECT_FALSE(report.rewritten);
    const std::vector<std::string> expected = {
        "p.s:2: BT can no longer reach FAR: 950 bytes beyond its reach of 254 forward",
        "p.s:3: MOV.L can no longer reach LIT: 188 bytes beyond its reach of 1020 forward; a literal pool may go "
        "after line 5 (the delay slot of the BRA at $06000004)"};
    ASSERT_GE(report.messages.size(), 2u);
    EXPECT_EQ(report.messages[0], expected[0]);
    EXPECT_EQ(report.messages[1], expected[1]);
    // The other statement that no longer holds is named too (MOVA of an odd address is
    // refused by the assembler whatever the edit).
    bool odd = false;
    for (const std::string& m : report.messages) odd = odd || m.find("MOVA can no longer reach ODD") != std::string::npos;
    EXPECT_TRUE(odd);

    // Fifty at once, one in column 0, beyond an ORG of 16 MiB: each explained.
    std::string many = "BRA     FAR\n" + repeat("        BSR     FAR\n", 49) +
                       "        ORG     $1000000\nFAR:    RTS\n        NOP\n";
    const CheckReport all = checkSource(many, "m.s", none, false);
    ASSERT_EQ(all.messages.size(), 50u);
    const std::string noPool = "; no jump or return within its reach has room after it for a literal pool";
    EXPECT_EQ(all.messages[0], "m.s:1: BRA can no longer reach FAR: 16773118 bytes beyond its reach of 4094 forward" + noPool);
    EXPECT_EQ(all.messages[49], "m.s:50: BSR can no longer reach FAR: 16773020 bytes beyond its reach of 4094 forward" + noPool);
}



// A load in the slot of BT/S reads one literal when the branch is taken (from its
// target) and another when not (from its own place): one word must serve both.
TEST(Check, CheckOfALoadInAConditionalSlot) {
    const std::string source = disassembled(
        "        SETPC   $6000000\n"
        "        CMP/EQ  R4,R5\n"
        "        BT/S    TGT\n"
        "        DC.W    $D101\n"  // MOV.L @(4,PC),R1: $0600000C not taken, $06000014 taken
        "        RTS\n"
        "        NOP\n"
        "        NOP\n"
        "        DC.L    $11111111\n"
        "TGT:    RTS\n"
        "        NOP\n"
        "        DC.L    $22222222\n"
        "        DC.L    $33333333\n");
    ASSERT_NE(source.find("reads L06000014 taken, L0600000C not taken"), std::string::npos) << source;
    struct Edit {
        std::vector<const char*> before;  // two NOPs before the statement that stood here
        const char* message;              // "" when it holds as it is
        unsigned word;                    // the slot's word after --write
    };
    const Edit edits[] = {
        {{"; 06000010"}, "", 0xD101},  // both literals move with what they are counted from
        {{"; 06000006"}, "c.s:9: the load in the delay slot can no longer read both L06000014 (taken, "
                         "displacement 1) and L0600000C (not taken, displacement 2)", 0xD101},
        {{"; 06000006", "; 06000014"},
         "c.s:9: rewrote the load in the delay slot $D101 as $D102 (reads L06000014 from L06000010 + 2)", 0xD102},
    };
    for (const Edit& e : edits) {
        std::string edited = source;
        for (const char* at : e.before) {
            const std::size_t line = edited.rfind('\n', edited.find(at)) + 1;
            edited.insert(line, "            NOP\n            NOP\n");
        }
        MemoryIncludes none;
        const CheckReport report = checkSource(edited, "c.s", none, true);
        if (*e.message == '\0') {
            EXPECT_TRUE(report.holds);
            EXPECT_TRUE(report.messages.empty()) << report.messages[0];
            continue;
        }
        ASSERT_FALSE(report.messages.empty()) << edited;
        EXPECT_EQ(report.messages[0], e.message) << edited;
        EXPECT_EQ(report.holds, report.rewritten);
        const Assembled back = assembleText(report.rewritten ? report.text : edited);
        ASSERT_TRUE(back.result.ok) << back.message();
        EXPECT_EQ(bigEndian(back.bin, 4, 2), e.word);
    }
}



// A pointer into the middle of an instruction is its number with the item it points
// into; an edit that moves the item gets the number rewritten to follow it.
TEST(Check, PointerIntoAnItemFollowsIt) {
    const std::string source = disassembled(
        "        SETPC   $6000000\n"
        "        MOV.L   @(PTR,PC),R1\n"
        "        MOV.B   @R1,R0\n"
        "        BSR     SUB\n"
        "        NOP\n"
        "        RTS\n"
        "        NOP\n"
        "SUB:    RTS\n"
        "        MOV     #5,R2\n"  // $0600000E: the pointer names its second byte
        "PTR:    DC.L    $600000F\n");
    ASSERT_NE(source.find("DC.L    $600000F            ; 06000010 0600000F ; inside L0600000E+1"), std::string::npos)
        << source;
    std::string edited = source;
    edited.insert(edited.find("L0600000C:"), "            NOP\n");
    MemoryIncludes none;
    const CheckReport report = checkSource(edited, "p.s", none, true);
    ASSERT_EQ(report.messages.size(), 1u);
    EXPECT_NE(report.messages[0].find(": rewrote the pointer $600000F as $6000011 (inside L0600000E+1)"), std::string::npos)
        << report.messages[0];
    const Assembled back = assembleText(report.text);
    ASSERT_TRUE(back.result.ok) << back.message();
    EXPECT_EQ(bigEndian(back.bin, 0x14, 4), 0x06000011u);  // the pool after its ALIGN.L
}

// A conditional branch that an edit put out of reach: --write turns it around (the
// opposite branch over BRA and NOP, a BT/S's slot kept before the BRA, so it runs once
// either way); without --write, and where the slot reads PC-relatively, it is reported
// with what mends it, as are loads out of reach, with where a literal pool may go.
TEST(Check, BranchesOutOfReachTurnedAround) {
    struct Case {
        const char* name;
        std::string branch;  // the branch and its slot (for the delayed ones), to L
        bool backward;       // the label before the branch, the filler between
        bool turned;
        std::string said;    // in the messages
    };
    const std::vector<Case> cases = {
        {"BT forward", "        BT      FAR\n", false, true, "turned into BF over BRA FAR and NOP"},
        {"BF back", "        BF      FAR\n", true, true, "turned into BT over BRA FAR and NOP"},
        {"BT/S keeps its slot", "        BT/S    FAR\n        ADD     #2,R0\n", false, true,
         "turned into BF/S over BRA FAR and NOP"},
        {"a slot that reads PC-relatively stays", "        BF/S    FAR\n        MOV.L   @(POOL,PC),R1\n", false, false,
         "BF/S can no longer reach FAR: "},
        {"a load out of reach", "        MOV.L   @(POOL,PC),R1\n", false, false,
         "; a literal pool may go after line 6 (the delay slot of the RTS at $06000006)"},
    };
    const std::string filler = repeat("        NOP\n", 520);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string label = "FAR:    ADD     #3,R0\n";
        const std::string source = "        SETPC   $6000000\n" + (c.backward ? label + filler : std::string()) +
                                   "        CMP/EQ  R4,R5\n" + c.branch +
                                   "        ADD     #1,R0\n        RTS\n        NOP\n" +
                                   (c.backward ? std::string() : filler + label) + "        RTS\n        NOP\n        ALIGN.L\nPOOL:   DC.L    $12345678\n";
        MemoryIncludes none;
        const CheckReport report = checkSource(source, "p.s", none, true);
        std::string all;
        for (const std::string& m : report.messages) all += m + "\n";
        EXPECT_NE(all.find(c.said), std::string::npos) << all;
        EXPECT_EQ(report.holds, c.turned) << all;
        EXPECT_EQ(report.rewritten, c.turned);
        if (!c.turned) continue;
        const CheckReport again = checkSource(report.text, "p.s", none, false);
        EXPECT_TRUE(again.holds && again.messages.empty()) << report.text;
        const Assembled a = assembleText(report.text);
        ASSERT_TRUE(a.result.ok) << a.message();
        const std::uint32_t at = c.backward ? 2 + 1040 + 2 : 2;  // the turned branch
        const auto turned = sh2::decode(static_cast<std::uint16_t>(bigEndian(a.bin, at, 2)));
        ASSERT_TRUE(turned);
        const bool delayed = c.branch.find("/S") != std::string::npos;
        const auto skip = sh2::targetOf(*turned->form, turned->fields, 0x06000000 + at);
        EXPECT_EQ(skip, 0x06000000u + at + (delayed ? 8 : 6));
        const std::uint32_t braAt = at + (delayed ? 4 : 2);
        const auto bra = sh2::decode(static_cast<std::uint16_t>(bigEndian(a.bin, braAt, 2)));
        ASSERT_TRUE(bra);
        EXPECT_EQ(bra->form->mnemonic, "BRA");
        const auto l = std::find_if(a.result.labels.begin(), a.result.labels.end(), [](const Label& x) { return x.name == "FAR"; });
        ASSERT_NE(l, a.result.labels.end());
        EXPECT_EQ(sh2::targetOf(*bra->form, bra->fields, 0x06000000 + braAt), l->value);
        if (delayed) {
            EXPECT_EQ(bigEndian(a.bin, at + 2, 2), 0x7002u);  // the slot, kept
        }
    }
    // Without --write: reported, with the remedy.
    MemoryIncludes none;
    const CheckReport report = checkSource("        SETPC   $6000000\n        BT      FAR\n" + filler + "FAR:    RTS\n        NOP\n",
                                           "p.s", none, false);
    ASSERT_EQ(report.messages.size(), 1u);
    EXPECT_NE(report.messages[0].find("; --write turns it around"), std::string::npos) << report.messages[0];
}

// What stays unknown carries a mark that --check re-tests: an edit that changes what a
// mark depends on is reported with the info-file line that settles it; an edit
// elsewhere passes; --unknowns lists every mark.
TEST(Check, UnknownsRecordedAndHonoured) {
    // At $06000000: a BRAF table without a bound (entries from the end of its slot), a
    // literal that holds an address in the image, and after the code, data that may be
    // code (never reached) with a branch and a load.
    const std::string program =
        "        SETPC   $6000000\n"
        "        MOV.L   @(LIT,PC),R1\n"  // maybe a pointer: code, but no function starts there
        "        MOVA    @(TAB,PC),R0\n"
        "        MOV.B   @(R0,R4),R4\n"
        "        BRAF    R4\n"
        "        NOP\n"
        "        ALIGN.L\n"
        "LIT:    DC.L    $6000004\n"
        "TAB:    DC.B    $A,$E,$7F,0\n"  // C0 and C1 from the end of the slot, $0600000A
        "C0:     RTS\n"
        "        NOP\n"
        "C1:     RTS\n"
        "        MOV     #1,R0\n"
        "        DC.L    $FFFFFFFF\n"
        "DEAD:   MOV     #5,R0\n"  // data that may be code: eight words, a return
        "        BRA     DEAD\n"
        "        NOP\n"
        "        MOV.L   @(FAR,PC),R3\n"
        "        ADD     #1,R3\n"
        "        ADD     #2,R3\n"
        "        RTS\n"
        "        NOP\n"
        "        ALIGN.L\n"
        "FAR:    DC.L    $11223344\n"
        "        DC.B    \"text\",0\n";
    const Disassembled d = assembleAndDisassemble(program, unguessedAt06000000("t.bin"));
    const std::vector<Unknown> u = d.model().unknowns();
    ASSERT_EQ(u.size(), 3u) << d.source();
    EXPECT_EQ(u[0].kind, UnknownKind::MaybePointer);
    EXPECT_EQ(u[1].kind, UnknownKind::OpenTable);
    EXPECT_EQ(u[2].kind, UnknownKind::MaybeCode);
    EXPECT_EQ(u[1].targets, (std::vector<std::uint32_t>{0x06000014, 0x06000018}));
    EXPECT_NE(d.source().find("; unknowns: 3 "), std::string::npos);
    const std::string source = d.source();
    const std::vector<std::string> listed = listUnknowns(source, "t.s");
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_NE(listed[0].find("a number that may be a pointer to L"), std::string::npos) << listed[0];
    EXPECT_NE(listed[1].find("settled by \"table $06000010 N 1 relative $0600000A\""), std::string::npos) << listed[1];
    EXPECT_NE(listed[2].find("data that may be code (BRA L"), std::string::npos) << listed[2];

    struct Edit {
        const char* name;
        std::string before;  // two NOPs inserted before this text's line
        std::string says;    // "" when the edit passes
    };
    const std::vector<Edit> edits = {
        {"at the end: nothing a mark depends on moves", "            DC.B    $0 ", ""},
        {"into the first case: the open table's entry", "L06000014:", "the table of unknown length at $06000010 no longer reaches L06000014"},
        {"into the would-be code: its load", "            ADD     #1,R3", "its MOV.L at +"},
        {"before what the maybe-pointer names", "L06000004:", "$6000004 may be a pointer to L06000004"},
    };
    for (const Edit& e : edits) {
        SCOPED_TRACE(e.name);
        std::string edited = source;
        std::size_t at = edited.find(e.before);
        if (e.before == "            ADD     #1,R3") {  // in a statement of data: after the would-be code's
            at = edited.find("DC.L    $E005AFFD");
            ASSERT_NE(at, std::string::npos) << edited;
            at = edited.find('\n', at) + 1;
        } else {
            ASSERT_NE(at, std::string::npos) << edited;
        }
        edited.insert(at, "            NOP\n            NOP\n");
        MemoryIncludes none;
        const CheckReport report = checkSource(edited, "t.s", none, false);
        std::string all;
        for (const std::string& m : report.messages) all += m + "\n";
        if (std::string(e.says).empty()) {
            EXPECT_TRUE(report.holds) << all;
        } else {
            EXPECT_FALSE(report.holds);
            EXPECT_NE(all.find(e.says), std::string::npos) << all << edited;
        }
    }
}

// A large image is written as parts; an edit in the first moves the later ones: the top
// source's parts checked as one program start where the part before now ends, the
// labels they define for each other follow, and the rebuilt image is the edited one.
TEST(Check, PartsEditAsOneProgram) {
    // At $06000000: a call through a literal to the last routine, a BRA into a chain of
    // 16,000 BRAs each to the next (a label and a reference each: four parts), an RTS.
    constexpr std::uint32_t kBlocks = 16000, kChain = 0x10;
    std::string image = std::string("\xD1\x02\x41\x0B\x00\x09\xA0\x03\x00\x09\x00\x09", 12);
    const std::uint32_t last = 0x06000000 + kChain + 4 * kBlocks;
    for (int shift = 24; shift >= 0; shift -= 8) image += static_cast<char>(last >> shift);
    for (std::uint32_t i = 0; i < kBlocks; ++i) image += std::string("\xA0\x00\x00\x09", 4);
    image += std::string("\x00\x0B\x00\x09", 4);
    const std::vector<std::uint8_t> bytes(image.begin(), image.end());
    const Disassembly d(bytes, unguessedAt06000000("t.bin"));
    MemoryOutput out;
    ASSERT_TRUE(d.write(out));
    ASSERT_EQ(d.files().size(), 5u);  // four parts and the top
    {
        // Written side by side, a thread a part, then the top: the same texts.
        std::vector<MemoryOutput> each(d.parts());
        std::vector<std::uint64_t> printed(d.parts());
        std::vector<char> written(d.parts());
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < d.parts(); ++i)
            threads.emplace_back([&, i] { written[i] = d.writePart(each[i], i, printed[i]); });
        for (std::thread& t : threads) t.join();
        MemoryOutput top;
        ASSERT_TRUE(d.writeTop(top, printed));
        for (std::size_t i = 0; i < d.parts(); ++i) {
            ASSERT_TRUE(written[i]);
            EXPECT_EQ(each[i].files.at(d.files()[i]), out.files.at(d.files()[i])) << d.files()[i];
        }
        EXPECT_EQ(top.files.at("t.bin.s"), out.files.at("t.bin.s"));
    }
    std::vector<PartText> parts;
    for (const RecordedPart& p : recordedParts(out.files.at("t.bin.s"))) parts.push_back({p.name, out.files.at(p.name)});
    ASSERT_EQ(parts.size(), 4u);
    // Two NOPs before the 1000th block's label, in the first part.
    const std::uint32_t at = kChain + 4 * 1000;
    char label[16];
    std::snprintf(label, sizeof label, "L%08X:", 0x06000000 + at);
    const std::size_t line = parts[0].text.find(label);
    ASSERT_NE(line, std::string::npos);
    parts[0].text.insert(line, "            NOP\n            NOP\n");
    MemoryIncludes none;
    const PartsReport told = checkParts(parts, none, false);
    EXPECT_FALSE(told.holds);
    ASSERT_FALSE(told.messages.empty());
    EXPECT_NE(told.messages[0].find("t.bin.part02.s:"), std::string::npos) << told.messages[0];
    EXPECT_NE(told.messages[0].find(" should be "), std::string::npos) << told.messages[0];
    const PartsReport written = checkParts(parts, none, true);
    EXPECT_TRUE(written.holds) << (written.messages.empty() ? "" : written.messages[0]);
    EXPECT_EQ(written.changed.size(), 4u);  // the first (its pointer), the others moved
    for (const PartText& p : written.changed) {
        for (PartText& q : parts) {
            if (q.name == p.name) q.text = p.text;
        }
    }
    const PartsReport again = checkParts(parts, none, false);
    EXPECT_TRUE(again.holds) << (again.messages.empty() ? "" : again.messages[0]);
    // The parts assembled one after another, as the top source's INCBINs put them.
    std::string rebuilt;
    for (const PartText& p : parts) {
        const Assembled a = assembleText(p.text);
        ASSERT_TRUE(a.result.ok) << p.name << ": " << a.message();
        rebuilt += a.bin;
    }
    std::string expected = image;
    expected.replace(at - 4, 2, "\xA0\x02", 2);  // the BRA before the NOPs reaches over them
    expected.insert(at, "\x00\x09\x00\x09", 4);
    expected[15] = static_cast<char>(expected[15] + 4);  // the literal: the last routine moved
    ASSERT_EQ(rebuilt.size(), expected.size());
    const auto differs = std::mismatch(rebuilt.begin(), rebuilt.end(), expected.begin());
    EXPECT_TRUE(differs.first == rebuilt.end()) << "first difference at " << (differs.first - rebuilt.begin()) << ": " ;
}

// A compiled program's .bss lies right after a flat image: the disassembly lists the
// places after the image that its code reads, writes or names, and an edit that grows
// the image over one is reported (with --write too); one that shrinks the image, or
// grows it into nothing the program names, is not.
TEST(Check, GrowingTheImageOverWhatTheProgramUsesAfterIt) {
    auto program = [](const char* far) {
        return std::string("        SETPC   $6000000\n"
                           "        STS.L   PR,@-R15\n"
                           "        MOV.L   @(PTAB,PC),R4\n"  // the table in .bss
                           "        MOV     #3,R5\n"
                           "        MOV.L   R5,@R4\n"
                           "        MOV.L   @(PFILL,PC),R1\n"
                           "        JSR     @R1\n"
                           "        MOV.L   @(4,R4),R6\n"
                           "        LDS.L   @R15+,PR\n"
                           "        RTS\n"
                           "        NOP\n"
                           "        ALIGN.L\n"
                           "PTAB:   DC.L    ") + far + "\n"
               "PFILL:  DC.L    FILL\n"
               "FILL:   MOV.L   @(PCNT,PC),R2\n"
               "        RTS\n"
               "        MOV.L   R4,@R2\n"
               "        ALIGN.L\n"
               "PCNT:   DC.L    $6000040\n"
               "        DC.L    $12345678\n";  // the image ends at $0600002C
    };
    const std::string atEnd = disassembled(program("$600002C"));
    for (const char* line : {"; after the image: $0600002C-$06000030 written by $06000006\n",
                             "; after the image: $06000030-$06000034 read by $0600000C\n",
                             "; after the image: $06000040-$06000044 written by $06000020\n"})
        EXPECT_NE(atEnd.find(line), std::string::npos) << atEnd;
    const std::string grows2 = "            NOP\n", grows4 = "            NOP\n            NOP\n";
    struct Edit {
        const std::string* source;
        const char* at;              // the lines go before this (nullptr: at the source's end)
        std::string lines;           // inserted ("" deletes the line at)
        const char* message;         // what --check says ("": nothing)
    };
    const std::string far = disassembled(program("$6000038"));
    // The same program with a code/data log that saw $06000030-$06000034 written.
    DisassemblyOptions logged = unguessedAt06000000("t.bin");
    std::vector<std::uint8_t> log(0x40, 0);
    for (std::size_t i = 0x30; i < 0x34; ++i) log[i] = 4;
    EXPECT_TRUE(readTrace(log, "t.log", 0x06000000, 0x2C, logged).errors.empty());
    const std::string traced = assembleAndDisassemble(program("$6000038"), logged).source();
    // A literal that names the place after the image, passed on (no access seen).
    const std::string named = disassembled("        SETPC   $6000000\n"
                                           "        MOV.L   @(PBUF,PC),R4\n"
                                           "        RTS\n"
                                           "        NOP\n"
                                           "        ALIGN.L\n"
                                           "PBUF:   DC.L    $600000C\n");
    const Edit edits[] = {
        {&atEnd, "; after the image:", grows2,
         "the image now ends at $0600002E, over $0600002C that line 10 (MOV.L at $06000006 before the edit) writes"},
        {&atEnd, nullptr, grows4,  // code appended after the list
         "the image now ends at $06000030, over $0600002C that line 10 (MOV.L at $06000006 before the edit) writes"},
        {&atEnd, "L06000000:", grows4,
         "the image now ends at $06000030, over $0600002C that line 12 (MOV.L at $06000006 before the edit) writes"},
        {&atEnd, "            DC.L    $12345678", "", ""},  // shrinks it
        {&far, "L06000000:", grows4 + grows4, ""},        // $0600002C-$06000038 holds nothing it names
        {&named, "L06000000:", grows4,
         "over $0600000C that line 14 (DC.L at $06000008 before the edit) names: memory the program uses after the "
         "image (make the image no larger, or move what the program keeps there; a number that is no address: delete "
         "this line)"},
        {&traced, "L06000000:", grows4 + grows4, "the image now ends at $06000034, over $06000030 that a trace saw used"},
        {&far, "L06000000:", grows4 + grows4 + grows4 + grows4,
         "the image now ends at $0600003C, over $06000038 that line 18 (MOV.L at $06000006 before the edit) writes"},
    };
    for (const Edit& e : edits) {
        std::string source = *e.source;
        ASSERT_NE(source.find("; after the image:"), std::string::npos) << source;
        const std::size_t at = e.at ? source.find(e.at) : source.size();
        ASSERT_NE(at, std::string::npos);
        if (e.lines.empty()) {
            source.erase(at, source.find('\n', at) + 1 - at);
        } else {
            source.insert(at, e.lines);
        }
        for (const bool write : {false, true}) {
            MemoryIncludes none;
            const CheckReport report = checkSource(source, "c.s", none, write);
            const auto said = std::find_if(report.messages.begin(), report.messages.end(),
                                           [](const std::string& m) { return m.find("the image now ends") != std::string::npos; });
            if (*e.message == 0) {
                EXPECT_TRUE(report.holds) << source;
                EXPECT_TRUE(said == report.messages.end()) << *said;
                continue;
            }
            EXPECT_FALSE(report.holds) << source;
            ASSERT_TRUE(said != report.messages.end()) << source;
            EXPECT_NE(said->find(e.message), std::string::npos) << *said;
        }
    }
}

const std::string kAsm = KORVANE_EXE;
// Two NOPs inserted in a disassembly from the base alone: the build is the original's with
// the same edit, or --check says what may have changed. Six handlers that each call
// through their own table of two code pointers, the tables one after another (found as
// one run of pointers): each handler's literal names its own table. A count of 65,536
// added to R0 where a table lies at $10000: a number, marked as a maybe-pointer that the
// check reports when the table moves, never rewritten. Literals that code uses only
// after a label (paths join there), passes to a call, puts in VBR or returns: labels.
TEST(Check, EditsKeepWhatTheLiteralsMean) {
    std::string handlers = "        SETPC   $6004000\nSTART:  RTS\n        NOP\n";
    for (int i = 1; i <= 6; ++i) handlers += "T" + std::to_string(i) + ":     DC.L    F" + std::to_string(i) + "A,F" + std::to_string(i) + "B\n";
    for (int i = 1; i <= 6; ++i) {
        for (const char* s : {"A", "B"}) handlers += "F" + std::to_string(i) + s + ":    RTS\n        MOV     #" + std::to_string(i) + ",R0\n";
    }
    for (int i = 1; i <= 6; ++i) {
        const std::string n = std::to_string(i);
        handlers += "H" + n + ":     STS.L   PR,@-R15\n        MOV.L   @(P" + n + ",PC),R1\n        MOV     R4,R0\n"
                    "        SHLL2   R0\n        MOV.L   @(R0,R1),R2\n        JSR     @R2\n        NOP\n"
                    "        LDS.L   @R15+,PR\n        RTS\n        NOP\n        ALIGN.L\nP" + n + ":     DC.L    T" + n + "\n";
    }
    struct Case {
        std::string name, program;
        std::uint32_t base;
        std::string before;   // the line of the program the NOPs go before ...
        std::uint32_t at;     // ... which is the instruction at this address
        std::string message;  // what the check says ("": nothing, and the builds agree)
    };
    const std::vector<Case> cases = {
        {"tables one after another", handlers, 0x6004000, "H1:", 0x6004064, ""},
        {"a count equal to a table's address",
         "        SETPC   $FFE0\n"
         "START:  MOV.L   @(CNT,PC),R1\n"
         "        ADD     R1,R0\n"
         "        RTS\n"
         "        NOP\n"
         "        ALIGN.L\n"
         "CNT:    DC.L    $10000\n"
         "        ORG     $10000\n"
         "TABLE:  DC.L    1,2,3,4\n",
         0xFFE0, "        ADD", 0xFFE2, "$10000 may be a pointer to L00010000"},
        {"used after a label, passed to a call, put in VBR, returned",
         "        SETPC   $6000000\n"
         "START:  MOV.L   @(PD,PC),R4\n"
         "        CMP/EQ  R0,R5\n"
         "        BT      JOIN\n"
         "        MOV     #0,R0\n"
         "JOIN:   MOV.L   @R4,R0\n"
         "        MOV.L   @(PS,PC),R4\n"
         "        MOV.L   @(PF,PC),R1\n"
         "        JSR     @R1\n"
         "        NOP\n"
         "        MOV.L   @(PV,PC),R0\n"
         "        LDC     R0,VBR\n"
         "        BRA     GETTAB\n"
         "        NOP\n"
         "        ALIGN.L\n"
         "PD:     DC.L    DATA\n"
         "PS:     DC.L    TEXT\n"
         "PF:     DC.L    FUNC\n"
         "PV:     DC.L    VEC\n"
         "FUNC:   RTS\n"
         "        NOP\n"
         "GETTAB: MOV.L   @(PT,PC),R0\n"
         "        RTS\n"
         "        NOP\n"
         "        ALIGN.L\n"
         "PT:     DC.L    DATA\n"
         "DATA:   DC.L    5\n"
         "TEXT:   DC.B    \"hi\",0,0\n"
         "VEC:    DC.L    0\n",
         0x6000000, "        CMP/EQ", 0x6000002, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DisassemblyOptions o;
        o.imageName = "e.bin";
        o.base = c.base;
        std::string source = assembleAndDisassemble(c.program, o).source();
        char address[16];
        std::snprintf(address, sizeof address, "; %08X ", c.at);
        const std::size_t line = source.rfind('\n', source.find(address)) + 1;
        source.insert(line, "            NOP\n            NOP\n");
        MemoryIncludes none;
        const CheckReport report = checkSource(source, "e.s", none, true);
        std::string program = c.program;
        program.insert(program.find("\n" + c.before) + 1, "        NOP\n        NOP\n");
        const Assembled edited = assembleText(program);
        const Assembled back = assembleText(report.text.empty() ? source : report.text);
        ASSERT_TRUE(back.result.ok) << back.message();
        if (c.message.empty()) {
            EXPECT_TRUE(report.messages.empty()) << report.messages[0];
            EXPECT_TRUE(back.bin == edited.bin) << source;
            continue;
        }
        EXPECT_TRUE(std::any_of(report.messages.begin(), report.messages.end(),
                                [&](const std::string& m) { return m.find(c.message) != std::string::npos; }))
            << ::testing::PrintToString(report.messages);
        EXPECT_FALSE(report.holds);
        EXPECT_EQ(bigEndian(back.bin, 0xC, 4), 0x10000u);  // the count, after its ALIGN.L, unchanged
    }
}

const std::string kDis = KORVANE_DIS_EXE;

TEST(Check, AfterAnEditEndToEnd) {
    TempDir dir;
    const std::string program =
        "        SETPC   $6000000\n"
        "        MOV     #3,R1\n"
        "        CMP/HI  R1,R4\n"
        "        BT      DEFLT\n"
        "        MOVA    @(TAB,PC),R0\n"
        "        MOV.B   @(R0,R4),R4\n"
        "        BRAF    R4\n"
        "        NOP\n"
        "        ALIGN.L\n"
        "TAB:    DC.B    $6,$A,$E,$12\n"
        "C0:     RTS\n"
        "        MOV     #0,R0\n"
        "C1:     RTS\n"
        "        MOV     #1,R0\n"
        "C2:     RTS\n"
        "        MOV     #2,R0\n"
        "C3:     BRA     TGT\n"
        "        DC.W    $D101\n"  // MOV.L @(4,PC),R1 from TGT + 2
        "DEFLT:  RTS\n"
        "        MOV     #-1,R0\n"
        "TGT:    RTS\n"  // $06000028
        "        NOP\n"
        "        DC.L    $11111111\n"
        "        DC.L    $22222222\n"  // $06000030 = ((0x28 + 2) & ~3) + 4
        "        DC.L    $600001C\n";  // where C2 is: a pointer only by chance
    const Assembled a = assembleText(program);
    ASSERT_TRUE(a.result.ok) << a.message();
    dir.write("t.bin", a.bin);
    ASSERT_EQ(runCommand({kDis, "t.bin", "--base", "$6000000", "--no-guess"}, dir.path(), 60).status, 0);
    std::string source = dir.read("t.bin.s");
    // One NOP at the start of the first case moves the others and the BRA's target.
    const std::size_t c0 = source.find("L06000014:");
    ASSERT_NE(c0, std::string::npos) << source;
    source.insert(c0, "            NOP\n");
    // Two more before the pool the slot reads: the literal moves away from the target.
    const std::size_t pool = source.find("L0600002C:");
    ASSERT_NE(pool, std::string::npos);
    source.insert(source.rfind("            ALIGN.L", pool), "            NOP\n            NOP\n");
    dir.write("t.bin.s", source);

    const CommandResult report = runCommand({kDis, "--check", "t.bin.s"}, dir.path(), 60);
    EXPECT_EQ(report.status, 1) << report.out;
    EXPECT_NE(report.out.find("t.bin.s:"), std::string::npos) << report.out;
    EXPECT_NE(report.out.find("table entry $A should be $C (L06000018 - L0600000E)"), std::string::npos)
        << report.out;
    EXPECT_NE(report.out.find("the load in the delay slot $D101 should be"), std::string::npos) << report.out;
    EXPECT_NE(report.out.find("unknown: $600001C may be a pointer to L0600001C, which is now at $0600001E"),
              std::string::npos)
        << report.out;
    EXPECT_EQ(dir.read("t.bin.s"), source);  // a check alone writes nothing

    const CommandResult fixed = runCommand({kDis, "--check", "t.bin.s", "--write"}, dir.path(), 60);
    EXPECT_NE(fixed.out.find("rewrote table entry $A as $C"), std::string::npos) << fixed.out;
    const std::string after = dir.read("t.bin.s");
    EXPECT_NE(after, source);
    // Only numbers changed: the same lines, the same comments.
    EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), std::count(source.begin(), source.end(), '\n'));
    // The stale pointer is still reported (status 1) until it is marked as a constant.
    EXPECT_EQ(fixed.status, 1) << fixed.out;
    std::string marked = after;
    const std::size_t p = marked.find("DC.L    $600001C");
    ASSERT_NE(p, std::string::npos) << marked;
    marked.insert(marked.find('\n', p), " ; const");
    dir.write("t.bin.s", marked);
    const CommandResult clean = runCommand({kDis, "--check", "t.bin.s"}, dir.path(), 60);
    EXPECT_EQ(clean.status, 0) << clean.out;

    // The rebuilt program: each table entry lands on its case's RTS, the slot's load
    // reads $11111111 again.
    ASSERT_EQ(runCommand({kAsm, "t.bin.s"}, dir.path(), 60).status, 0);
    const std::string bin = dir.read("t.bin.bin");
    auto word = [&](std::uint32_t at) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bin[at]) << 8 | static_cast<unsigned char>(bin[at + 1]));
    };
    for (std::uint32_t e = 0; e < 4; ++e) {
        const std::uint32_t target = 0xE + static_cast<std::uint32_t>(static_cast<unsigned char>(bin[0x10 + e]));
        EXPECT_TRUE(word(target) == 0x000B || (word(target) & 0xF000) == 0xA000) << "entry " << e << " lands at " << target;
    }
    // Find the BRA and its slot, then the literal the slot reads from the BRA's target.
    std::uint32_t bra = 0;
    while (bra + 1 < bin.size() && (word(bra) & 0xF000) != 0xA000) bra += 2;
    ASSERT_LT(bra + 3, bin.size());
    const std::uint32_t tgt = bra + 4 + 2 * ((word(bra) & 0xFFF) ^ 0x800) - 0x1000;
    const std::uint32_t slot = word(bra + 2);
    const std::uint32_t literal = ((tgt + 2) & ~3u) + 4 * (slot & 0xFF);
    EXPECT_EQ(word(literal) << 16 | word(literal + 2), 0x11111111u);

    // Another user's source, writable by all, in a directory all may write: --write does
    // not take it over (a rename would make it the other user's file).
    if (::geteuid() == 0) {
        dir.write("t.bin.s", source);
        ::chmod(dir.file("t.bin.s").c_str(), 0666);
        ::chmod(dir.path().c_str(), 0777);
        std::vector<std::string> argv = {kDis, "--check", "t.bin.s", "--write"};
        if (asOrdinaryUser(argv)) {
            const CommandResult other = runCommand(argv, dir.path(), 60);
            EXPECT_EQ(other.status, 1) << other.out;
            EXPECT_NE(other.out.find("t.bin.s belongs to another user; --write does not take it over"), std::string::npos)
                << other.out;
            struct stat st {};
            ::stat(dir.file("t.bin.s").c_str(), &st);
            EXPECT_EQ(st.st_uid, 0u);
            EXPECT_EQ(dir.read("t.bin.s"), source);
        }
    }
}

// Code that no path reaches, edited: disassembled from the base alone, NOPs put in,
// --check --write, rebuilt; then either the check reports what the edit moved, or both
// builds run the routine alike. Each program holds what the gap rule once read wrongly:
// a jump table of unknown length taken for instructions, a routine that only a table of
// pointers names with a load in a BRA's slot between literals, bytes that MOVA names
// and code reads by bytes, a routine past a piece that is none, a dead call through a
// loaded literal.
TEST(Check, EditsAroundCodeNoPathReaches) {
    const std::string kRun = KORVANE_RUN_EXE;
    // Statements split at '|', a label where one ends in ':'.
    auto program = [](const std::string& statements) {
        std::string out = "        SETPC   $6000000\n", line;
        for (std::size_t from = 0, bar; from <= statements.size(); from = bar + 1) {
            bar = std::min(statements.find('|', from), statements.size());
            line = statements.substr(from, bar - from);
            out += (line.find(':') != std::string::npos ? "" : "        ") + line + "\n";
        }
        return out;
    };
    struct Case {
        const char* name;
        std::string statements;
        std::string shown;     // a line of the disassembly
        std::string before;    // the edit goes before the line that starts with this ("": none)
        int nops;
        std::string reported;  // what --check says (status 1), or "" when the edit holds
        std::uint32_t call;    // the routine the builds run, when the edit holds
    };
    const std::vector<Case> cases = {
        {"a jump table of unknown length stays data; a case moved is reported",
         "MOVA @(TAB,PC),R0|ADD R4,R4|MOV.W @(R0,R4),R1|BRAF R1|NOP|ALIGN.L|TAB: DC.W $A,$1006,$100A,$100E|"
         "MOV #1,R0|ADD #3,R0|RTS|NOP|ORG $6001010|RTS|MOV #2,R0|RTS|MOV #3,R0|RTS|MOV #4,R0",
         "DC.L    $A1006,$100A100E", "L06001014:", 2,
         "the table of unknown length at $0600000C no longer reaches L06001014", 0},
        {"a routine that only a table of pointers names, with a load in a BRA's slot, is code",
         "RTS|NOP|TAB: DC.L F1,F2|F1: RTS|MOV #1,R0|F2: MOV.L @(L1,PC),R0|LOOP: ADD #-1,R0|CMP/PL R0|BF OUT|"
         "BRA LOOP|DC.W $D103|L1: DC.L 5|L2: DC.L $FFFFFFFF|OUT: RTS|MOV R1,R0",  // $D103 reads L2 from LOOP - 2
         "MOV.L   @(L0600001C,PC),R0", "L06000010:", 1, "", 0x6000010},
        {"a string that MOVA names and a callee reads by bytes is data",
         "STS.L PR,@-R15|MOVA @(STR,PC),R0|MOV R0,R4|MOV.L @(PUTS,PC),R1|JSR @R1|NOP|LDS.L @R15+,PR|RTS|NOP|"
         "ALIGN.L|PUTS: DC.L PUTSF|PUTSF: MOV.B @R4+,R0|TST R0,R0|BF PUTSF|RTS|NOP|ALIGN.L|"
         "STR: DC.B \"abA+cd\",0|ALIGN.L",
         "DC.B    \"abA+cd\"", "", 0, "", 0},
        {"bytes that MOVA names and code reads by index are data",
         "MOVA @(TAB,PC),R0|MOV.B @(R0,R4),R0|RTS|NOP|ALIGN.L|TAB: DC.B $E0,$01,$00,$0B,$00,$09",
         "DC.L    $E001000B", "", 0, "", 0},
        {"a routine after a piece of the gap that is none is data that may be code; moving its pool is reported",
         "RTS|NOP|BT LIT|RTS|NOP|MOV.L @(LIT,PC),R0|ADD R4,R0|SHLL R0|ADD #1,R0|SHLL R0|ADD #2,R0|RTS|NOP|"
         "ALIGN.L|LIT: DC.L $12345678",
         "MOV.L reads L0600001C at +6", "L0600001C:", 2, "if the data at $06000004 is code", 0},
        {"a dead call through a loaded literal is marked; moving the literal is reported",
         "RTS|NOP|DC.L $FFFFFFFF,$FFFFFFFF,$FFFFFFFF,$FFFFFFFF,$FFFFFFFF,$FFFFFFFF,$FFFFFFFF,$FFFFFFFF|"
         "DC.L $FFFFFFFF,$FFFFFFFF|MOV.L @(FN,PC),R13|JSR @R13|NOP|DC.W $FFFF|ALIGN.L|FN: DC.L $12345678",
         "; if code: MOV.L reads L06000034", "L06000034:", 2, "its MOV.L at +", 0},
        {"a short dead routine whose literal stands in a later routine's pool is marked; moving it is reported",
         "STS.L PR,@-R15|BSR DF|NOP|LDS.L @R15+,PR|RTS|NOP|ALIGN.L|DC.L 4|MOV.L @(IC,PC),R0|ADD R4,R0|RTS|NOP|"
         "DF: MOV.L @(FC,PC),R1|MOV R4,R0|ADD R1,R0|RTS|SHLL R0|ALIGN.L|IC: DC.L $12345678|FC: DC.L $9ABCDEF0",
         "; if code: MOV.L reads L06000024", "L06000018:", 2, "its MOV.L at +", 0},
    };
    // One case (an ASSERT ends that case only).
    auto edited = [&](const Case& c) {
        TempDir dir;
        const Assembled a = assembleText(program(c.statements));
        ASSERT_TRUE(a.result.ok) << a.message();
        dir.write("t.bin", a.bin);
        ASSERT_EQ(runCommand({kDis, "t.bin", "--base", "$6000000"}, dir.path(), 60).status, 0);
        std::string source = dir.read("t.bin.s");
        EXPECT_NE(source.find(c.shown), std::string::npos) << source;
        if (c.before.empty()) return;
        const std::size_t at = source.find("\n" + c.before);
        ASSERT_NE(at, std::string::npos) << source;
        source.insert(at + 1, repeat("            NOP\n", c.nops));
        dir.write("t.bin.s", source);
        const CommandResult check = runCommand({kDis, "--check", "t.bin.s", "--write"}, dir.path(), 60);
        if (!c.reported.empty()) {
            EXPECT_EQ(check.status, 1) << check.out << source;
            EXPECT_NE(check.out.find(c.reported), std::string::npos) << check.out << source;
            return;
        }
        ASSERT_EQ(check.status, 0) << check.out << source;
        ASSERT_EQ(runCommand({kAsm, "t.bin.s"}, dir.path(), 60).status, 0);
        char call[12], moved[12];
        std::snprintf(call, sizeof call, "$%X", c.call);
        std::snprintf(moved, sizeof moved, "$%X", c.call + 2u * static_cast<unsigned>(c.nops));
        const CommandResult run = runCommand(
            {kRun, "t.bin", "--base", "$6000000", "--call", call, "--against", "t.bin.bin", "--at", moved}, dir.path(), 60);
        EXPECT_EQ(run.status, 0) << run.out << dir.read("t.bin.s");
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        edited(c);
    }
}


}  // namespace
}  // namespace korvane::test
