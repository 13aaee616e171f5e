// korvane-dis on real files: every image rebuilds byte for byte from the sources it
// writes (parts included), every instruction it decodes agrees with GNU's SH-2
// disassembler, and the labels keep references right when code is inserted.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "korvane/sh2.h"
#include "unit/support.h"

namespace korvane::test {
namespace {

const std::string kAsm = KORVANE_EXE;
const std::string kDis = KORVANE_DIS_EXE;

std::string hex(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%X", v);
    return buf;
}

// Disassembles image (written as name in dir) and assembles the sources in the order
// the command gives; returns the rebuilt image, or a description of what failed.
std::string roundTrip(const TempDir& dir, const std::string& name, const std::string& image,
                      std::vector<std::string> args = {}) {
    dir.write(name, image);
    std::vector<std::string> argv{kDis, name};
    argv.insert(argv.end(), args.begin(), args.end());
    const CommandResult d = runCommand(argv, dir.path(), 120);
    if (d.status != 0) return "korvane-dis failed: " + d.out;
    // The parts first (they are named in order), then the top source.
    std::vector<std::string> sources;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        const std::string f = e.path().filename().string();
        if (f.rfind(name + ".part", 0) == 0 && f.size() > 2 && f.substr(f.size() - 2) == ".s")
            sources.push_back(f);
    }
    std::sort(sources.begin(), sources.end());
    sources.push_back(name + ".s");
    for (const std::string& s : sources) {
        const CommandResult a = runCommand({kAsm, s}, dir.path(), 120);
        if (a.status != 0) return "korvane " + s + ": " + a.out;
    }
    return dir.read(name + ".bin");
}

// Every instruction statement of the sources: address -> "mnemonic operands" in GNU's
// spelling (lower case, labels as addresses, @(label,PC) as the address).
std::map<std::uint32_t, std::string> instructions(const TempDir& dir, const std::string& name) {
    std::map<std::uint32_t, std::string> out;
    const std::regex statement(
        R"(^(?:L[0-9A-F]{8}:)?\s+([A-Z][A-Z0-9./]*)\s*([^;]*?)\s*; ([0-9A-F]{8}) ([0-9A-F]{4})\b)");
    const std::regex label(R"(L([0-9A-F]{8}))");
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        const std::string f = e.path().filename().string();
        if (f.rfind(name, 0) != 0 || f.substr(f.size() - 2) != ".s") continue;
        std::istringstream lines(dir.read(f));
        std::string line;
        std::smatch m;
        while (std::getline(lines, line)) {
            if (!std::regex_search(line, m, statement)) continue;
            std::string mnemonic = m[1];
            if (mnemonic.rfind("DC.", 0) == 0 || mnemonic == "PAD" || mnemonic == "SETPC") continue;
            std::string ops = m[2];
            ops = std::regex_replace(ops, std::regex(R"(@\((L[0-9A-F]{8}),PC\))"), "$1");
            std::string text;
            std::sregex_iterator it(ops.begin(), ops.end(), label), end;
            std::size_t last = 0;
            for (; it != end; ++it) {
                text += ops.substr(last, static_cast<std::size_t>(it->position()) - last);
                text += "0x" + hex(static_cast<std::uint32_t>(std::stoul((*it)[1], nullptr, 16)));
                last = static_cast<std::size_t>(it->position() + it->length());
            }
            text += ops.substr(last);
            std::string all = mnemonic + (text.empty() ? "" : " " + text);
            for (char& c : all) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (all.rfind("bt/s", 0) == 0 || all.rfind("bf/s", 0) == 0) all[2] = '.';
            out[static_cast<std::uint32_t>(std::stoul(m[3], nullptr, 16))] = all;
        }
    }
    return out;
}

// GNU's reading of the same addresses.
std::map<std::uint32_t, std::string> objdump(const TempDir& dir, const std::string& name,
                                             std::uint32_t base) {
    // Instructions sit at even addresses: with an odd base, GNU starts one byte in.
    std::vector<std::string> argv{"sh-elf-objdump",
                                  "-b",
                                  "binary",
                                  "-m",
                                  "sh2",
                                  "-EB",
                                  "-D",
                                  "--adjust-vma=0x" + hex(base),
                                  name};
    if (base & 1) argv.push_back("--start-address=0x" + hex(base + 1));
    const CommandResult r = runCommand(argv, dir.path(), 120);
    std::map<std::uint32_t, std::string> out;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        unsigned address;
        const std::size_t colon = line.find(":\t");
        if (colon == std::string::npos || std::sscanf(line.c_str(), " %x:", &address) != 1)
            continue;
        const std::size_t text = line.find('\t', colon + 2);
        if (text == std::string::npos) continue;
        std::string insn = line.substr(text + 1);
        insn = insn.substr(0, insn.find("\t!"));
        std::replace(insn.begin(), insn.end(), '\t', ' ');
        while (!insn.empty() && insn.back() == ' ') insn.pop_back();
        out[address] = insn;
    }
    return out;
}

// Every instruction of the sources is what GNU reads at that address; returns how many.
int agreeWithGnu(const TempDir& dir, const std::string& name, std::uint32_t base) {
    const auto ours = instructions(dir, name);
    const auto gnu = objdump(dir, name, base);
    for (const auto& [address, text] : ours) {
        const auto it = gnu.find(address);
        if (it == gnu.end()) {
            ADD_FAILURE() << "GNU has no instruction at " << hex(address);
            return 0;
        }
        if (it->second != text) {
            ADD_FAILURE() << hex(address) << ": ours '" << text << "', GNU's '" << it->second
                          << "'";
            return 0;
        }
    }
    return static_cast<int>(ours.size());
}

bool haveBinutils() {
    return haveTool("sh-elf-objdump") && haveTool("sh-elf-as") && haveTool("sh-elf-ld") &&
           haveTool("sh-elf-objcopy");
}

TEST(Dis, EveryWordAsCodeRoundTripsAndAgreesWithGnu) {
    TempDir dir;
    std::string image;
    for (unsigned w = 0; w <= 0xFFFF; ++w) {
        image += static_cast<char>(w >> 8);
        image += static_cast<char>(w);
    }
    const std::uint32_t base = 0x6000000;
    EXPECT_EQ(
        roundTrip(dir, "all.bin", image, {"--base", "$6000000", "--code", "$6000000-$6020000"}),
        image);
    EXPECT_TRUE(dir.exists("all.bin.part01.s"));  // more references than one source holds
    if (!haveBinutils()) GTEST_SKIP() << "GNU binutils for SH is not installed";
    EXPECT_EQ(agreeWithGnu(dir, "all.bin", base), 53752);
}

TEST(Dis, RandomImagesAtRandomBases) {
    std::mt19937 random(1209);
    for (int i = 0; i < 24; ++i) {
        TempDir dir;
        const std::size_t size = i == 0 ? 0 : random() % (i < 12 ? 4096 : 65536);
        std::string image(size, '\0');
        // Code-like words most of the time, runs of text and of $FF now and then.
        for (std::size_t k = 0; k < size; ++k) image[k] = static_cast<char>(random());
        if (size > 600) {
            std::fill(image.begin() + 100, image.begin() + 200, '\xFF');
            std::copy_n("Hello, SH-2 world", 17, image.begin() + 300);
        }
        std::uint32_t base = static_cast<std::uint32_t>(random());
        if (i % 3 == 0) base |= 1;                                             // odd bases
        if (i == 1) base = static_cast<std::uint32_t>(0x100000000ull - size);  // at the top
        if (static_cast<std::uint64_t>(base) + size > 0x100000000ull)
            base -= static_cast<std::uint32_t>(size);
        std::vector<std::string> args{"--base", "$" + hex(base)};
        for (int e = 0; e < 3 && size > 1; ++e) {
            // Entries are even: instructions start at even addresses.
            std::uint32_t a = base + static_cast<std::uint32_t>(random() % size);
            if (a & 1) a = a - base + 1 < size ? a + 1 : a - 1;
            args.insert(args.end(), {"--entry", "$" + hex(a)});
        }
        SCOPED_TRACE("image " + std::to_string(i) + ": " + std::to_string(size) + " bytes at $" +
                     hex(base));
        EXPECT_EQ(roundTrip(dir, "r.bin", image, args), image);
        if (haveBinutils() && size > 0) agreeWithGnu(dir, "r.bin", base);
    }
}

}  // namespace
}  // namespace korvane::test

namespace korvane::test {
namespace {

// Assembles a program of this assembler's language; its image.
std::string assemble(const TempDir& dir, const std::string& name, const std::string& source) {
    dir.write(name + ".s", source);
    const CommandResult r = runCommand({kAsm, name + ".s"}, dir.path(), 60);
    EXPECT_EQ(r.status, 0) << r.out;
    return dir.read(name + ".bin");
}

TEST(Dis, ProgramsRoundTripAndAgreeWithGnu) {
    const std::string data = KORVANE_TEST_DATA;
    const std::string demo = data + "/../../examples/demo.s";
    std::vector<std::pair<std::string, std::string>> programs;  // name, source
    for (const std::string& p : {demo, data + "/programs/fib.s", data + "/programs/sort.s",
                                 data + "/programs/reverse.s"}) {
        std::ifstream f(p);
        std::ostringstream s;
        s << f.rdbuf();
        std::string text = s.str();
        // The test programs share one print routine, appended as the qemu tests do.
        if (text.find("PRHEX") != std::string::npos && text.find("PRHEX:") == std::string::npos) {
            std::ifstream inc(data + "/programs/prhex.inc");
            std::ostringstream routine;
            routine << inc.rdbuf();
            text += routine.str();
        }
        programs.emplace_back(std::filesystem::path(p).stem().string(), text);
    }
    for (const auto& [name, source] : programs) {
        SCOPED_TRACE(name);
        TempDir dir;
        const std::string image = assemble(dir, name, source);
        // The programs run at $400000 under qemu; they say so with SETPC.
        const std::uint32_t base = source.find("SETPC $400000") != std::string::npos ? 0x400000 : 0;
        TempDir out;
        EXPECT_EQ(roundTrip(out, "p.bin", image, {"--base", "$" + hex(base)}), image);
        if (haveBinutils()) {
            EXPECT_GT(agreeWithGnu(out, "p.bin", base), 10);
        }
    }
}

// Routines as GNU's tools build them: calls through literal pools, a jump table, strings.
TEST(Dis, GnuBuiltCodeRoundTripsAndAgrees) {
    if (!haveBinutils()) GTEST_SKIP() << "GNU binutils for SH is not installed";
    TempDir dir;
    dir.write("r.s", R"(
        .text
        .global _start
_start: mov.l   stack,r15
        mov.l   f_strlen,r1
        mova    msg,r0
        jsr     @r1
        mov     r0,r4
        mov.l   f_copy,r2
        mov     r0,r6
        mova    msg,r0
        mov     r0,r5
        mov.l   buffer,r4
        jsr     @r2
        nop
        mov     #2,r4
        bsr     dispatch
        nop
1:      bra     1b
        nop
        .align 2
stack:  .long   0x06008000
f_strlen: .long strlen
f_copy: .long   copy
buffer: .long   0x06007000
strlen: mov     r4,r1
        mov     #-1,r0
2:      mov.b   @r1+,r2
        tst     r2,r2
        bf/s    2b
        add     #1,r0
        rts
        nop
copy:   tst     r6,r6
        bt      4f
3:      mov.b   @r5+,r0
        dt      r6
        mov.b   r0,@r4
        bf/s    3b
        add     #1,r4
4:      rts
        nop
dispatch:
        mov     r4,r0
        shll    r0
        mova    table,r0
        mov.w   @(r0,r4),r1
        braf    r1
        nop
        .align 2
table:  .word   case0-table, case1-table, case2-table
case0:  rts
        mov     #0,r0
case1:  rts
        mov     #1,r0
case2:  sts.l   pr,@-r15
        mov.l   @(4,r15),r3
        lds.l   @r15+,pr
        rts
        mov     #2,r0
        .align 2
msg:    .ascii  "Hello from the SH-2!"
        .byte   0
)");
    auto run = [&](const std::vector<std::string>& argv) {
        const CommandResult r = runCommand(argv, dir.path(), 60);
        ASSERT_EQ(r.status, 0) << r.out;
    };
    run({"sh-elf-as", "-big", "r.s", "-o", "r.o"});
    run({"sh-elf-ld", "-EB", "-Ttext=0x6004000", "-e", "_start", "r.o", "-o", "r.elf"});
    run({"sh-elf-objcopy", "-O", "binary", "-j", ".text", "r.elf", "r.bin"});
    const std::string image = dir.read("r.bin");
    ASSERT_GT(image.size(), 100u);
    TempDir out;
    EXPECT_EQ(roundTrip(out, "r.bin", image, {"--base", "0x6004000"}), image);
    const int agreed = agreeWithGnu(out, "r.bin", 0x6004000);
    EXPECT_GE(agreed, 38);  // the routines reached through the literals are code too
    const std::string source = out.read("r.bin.s");
    EXPECT_NE(source.find("DC.B    \"Hello from the SH-2!\""), std::string::npos);
    EXPECT_NE(source.find("DC.L    L"), std::string::npos);  // literals that name code
}

// Inserting two NOPs in the middle of a disassembled program: every reference still
// reaches the same instruction or datum, moved by 4 past the insertion.
TEST(Dis, SourcesStayRightWhenEdited) {
    TempDir dir;
    std::ifstream f(std::string(KORVANE_TEST_DATA) + "/../../examples/demo.s");
    std::ostringstream s;
    s << f.rdbuf();
    const std::string image = assemble(dir, "demo", s.str());
    TempDir out;
    ASSERT_EQ(roundTrip(out, "p.bin", image), image);
    const auto before = instructions(out, "p.bin");
    std::string source = out.read("p.bin.s");
    // The first instruction past the middle that follows no branch.
    std::istringstream lines(source);
    std::string line, edited, previous;
    std::uint32_t inserted = 0;
    while (std::getline(lines, line)) {
        std::smatch at;
        if (inserted == 0 && line.find("DC.") == std::string::npos &&
            std::regex_search(line, at, std::regex(R"(; ([0-9A-F]{8}) [0-9A-F]{4})"))) {
            const auto address = static_cast<std::uint32_t>(std::stoul(at[1], nullptr, 16));
            const bool afterBranch =
                std::regex_search(previous, std::regex(R"(\s(B[A-Z/]*|JMP|JSR|RTS|RTE)\s)"));
            if (address >= image.size() / 2 && !afterBranch && (address & 3) == 0) {
                inserted = address;
                edited += "            NOP\n            NOP\n";
            }
        }
        edited += line + "\n";
        previous = line;
    }
    ASSERT_NE(inserted, 0u);
    out.write("e.s", edited);
    ASSERT_EQ(runCommand({kAsm, "e.s"}, out.path(), 60).status, 0);
    const std::string moved = out.read("e.bin");
    ASSERT_EQ(moved.size(), image.size() + 4);
    auto shift = [&](std::uint32_t a) { return a >= inserted ? a + 4 : a; };
    int checked = 0;
    for (const auto& [address, text] : before) {
        const std::uint32_t at = shift(address);
        const auto word = static_cast<std::uint16_t>(static_cast<unsigned char>(moved[at]) << 8 |
                                                     static_cast<unsigned char>(moved[at + 1]));
        const auto d = sh2::decode(word);
        ASSERT_TRUE(d.has_value()) << hex(address);
        // Same instruction; a target written in the text moves with what it names.
        std::string expected = text;
        std::smatch m;
        if (std::regex_search(text, m, std::regex(R"(0x([0-9a-fA-F]+))"))) {
            const auto target = static_cast<std::uint32_t>(std::stoul(m[1], nullptr, 16));
            expected = m.prefix().str() + "0x" + hex(shift(target)) + m.suffix().str();
            std::uint32_t reached = 0;
            const std::uint32_t pc = at;
            switch (d->form->reach) {
                case sh2::Reach::Branch8:
                    reached = pc + 4 +
                              2 * static_cast<std::uint32_t>(static_cast<std::int8_t>(d->fields.d));
                    break;
                case sh2::Reach::Branch12:
                    reached =
                        pc + 4 + 2 * ((static_cast<std::uint32_t>(d->fields.d) ^ 0x800u) - 0x800u);
                    break;
                case sh2::Reach::PcWord:
                    reached = pc + 4 + 2u * d->fields.d;
                    break;
                case sh2::Reach::PcLong:
                    reached = ((pc + 4) & ~3u) + 4u * d->fields.d;
                    break;
                case sh2::Reach::None:
                    break;
            }
            EXPECT_EQ(reached, shift(target)) << text;
            ++checked;
        }
        std::string mnemonic = std::string(d->form->mnemonic);
        for (char& c : mnemonic) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (mnemonic == "bt/s" || mnemonic == "bf/s") mnemonic[2] = '.';
        EXPECT_EQ(expected.substr(0, expected.find(' ')), mnemonic) << text;
    }
    EXPECT_GT(checked, 8);
    // Too far a move is reported by the assembler, never miscoded.
    const std::size_t loop = source.find("L00000006:");
    ASSERT_NE(loop, std::string::npos);
    std::string far = source;
    far.insert(source.find('\n', loop) + 1, repeat("            NOP\n", 130));
    out.write("far.s", far);
    const CommandResult r = runCommand({kAsm, "far.s"}, out.path(), 60);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("invalid address reference on line "), std::string::npos) << r.out;
}

TEST(Dis, CommandLine) {
    TempDir dir;
    dir.write("img.bin", std::string("\x00\x09\x00\x0B\x00\x09", 6));
    const std::pair<std::vector<std::string>, int> cases[] = {
        {{}, 2},
        {{"img.bin", "--base"}, 2},
        {{"img.bin", "--base", "12G"}, 2},
        {{"img.bin", "--frobnicate"}, 2},
        {{"img.bin", "--code", "$10"}, 2},
        {{"missing.bin"}, 1},
        {{"img.bin", "--entry", "$100"}, 1},
        {{"img.bin", "--base", "$100", "--data", "$0-$4"}, 1},
        {{"img.bin", "--base", "$FFFFFFFE"}, 1},
        {{"we\"ird.bin"}, 1},
        {{"img.bin", "--format", "amiga"}, 2},
        {{"img.bin", "--ip", "img.bin"}, 2},
        {{"img.bin", "--vectors"}, 2},
        {{"img.bin", "--format", "32x"}, 1},                     // too short for its header
        {{"img.bin", "--format", "saturn", "--ip", "img.bin"}, 1},  // not an IP.BIN
        {{"img.bin", "--vectors", "$100"}, 1},
    };
    dir.write("we\"ird.bin", "\x00\x09");
    for (const auto& [args, status] : cases) {
        std::vector<std::string> argv{kDis};
        argv.insert(argv.end(), args.begin(), args.end());
        const CommandResult r = runCommand(argv, dir.path(), 60);
        EXPECT_EQ(r.status, status) << args.size();
        EXPECT_FALSE(dir.exists("img.bin.s"));
    }
    // A source of its own is replaced; any other file of that name is left alone, and so
    // is a file beside it that a temporary name might have used.
    dir.write("img.bin.s.tmp", "mine");
    ASSERT_EQ(runCommand({kDis, "img.bin", "--base", "0x6000000"}, dir.path(), 60).status, 0);
    EXPECT_NE(dir.read("img.bin.s").find("RTS"), std::string::npos);
    // An info file with an error: FILE:LINE, nothing written.
    dir.write("bad.info", "label $2 START\nentry 3x\n");
    const std::string previous = dir.read("img.bin.s");
    const CommandResult info = runCommand({kDis, "img.bin", "--info", "bad.info"}, dir.path(), 60);
    EXPECT_EQ(info.status, 1);
    EXPECT_EQ(info.out, "bad.info:2: entry needs an address\n");
    EXPECT_EQ(dir.read("img.bin.s"), previous);
    // A good one names the label, the header names the file, --info-out writes what was
    // found and then refuses to replace a file it did not write.
    dir.write("good.info", "label $2 START\n");
    ASSERT_EQ(runCommand({kDis, "img.bin", "--info", "good.info", "--info-out", "found.info"}, dir.path(), 60).status, 0);
    EXPECT_NE(dir.read("img.bin.s").find("START:"), std::string::npos);
    EXPECT_NE(dir.read("img.bin.s").find("; info file: good.info"), std::string::npos);
    EXPECT_NE(dir.read("found.info").find("label $00000002 START"), std::string::npos);
    const CommandResult same = runCommand({kDis, "img.bin", "--info", "found.info", "--info-out", "good.info"}, dir.path(), 60);
    EXPECT_EQ(same.status, 1);
    EXPECT_NE(same.out.find("good.info exists and was not written by --info-out"), std::string::npos) << same.out;
    ASSERT_EQ(runCommand({kDis, "img.bin", "--format", "saturn", "--no-guess"}, dir.path(), 60).status, 0);
    EXPECT_NE(dir.read("img.bin.s").find("; Saturn program: loaded at $06004000"), std::string::npos);
    EXPECT_NE(dir.read("img.bin.s").find("SETPC   $06004000"), std::string::npos);
    ASSERT_EQ(runCommand({kDis, "img.bin"}, dir.path(), 60).status, 0);
    dir.write("img.bin.s", "my own notes\n");
    const CommandResult refused = runCommand({kDis, "img.bin"}, dir.path(), 60);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(dir.read("img.bin.s"), "my own notes\n");
    EXPECT_EQ(dir.read("img.bin.s.tmp"), "mine");
    EXPECT_EQ(dir.read("img.bin"), std::string("\x00\x09\x00\x0B\x00\x09", 6));
}

}  // namespace
}  // namespace korvane::test

namespace korvane::test {
namespace {

// 4 MiB of code and data, every word forced to code where it decodes: far more labels
// and references than one source holds. The sequence the command prints rebuilds it.
TEST(Dis, LargeImageSplitsIntoParts) {
    TempDir dir;
    std::mt19937 random(4);
    std::string image(4u << 20, '\0');
    for (char& c : image) c = static_cast<char>(random());
    std::fill(image.begin() + 5000, image.begin() + 9000, '\xFF');
    dir.write("big.bin", image);
    const CommandResult d = runCommand(
        {kDis, "big.bin", "--base", "$6000000", "--code", "$6000000-$6400000"}, dir.path(), 300);
    ASSERT_EQ(d.status, 0) << d.out;
    std::istringstream lines(d.out);
    std::string line;
    std::vector<std::string> sequence;
    while (std::getline(lines, line)) {
        if (line.rfind("  korvane ", 0) == 0) sequence.push_back(line.substr(10));
    }
    ASSERT_GT(sequence.size(), 10u);
    EXPECT_EQ(sequence.back(), "big.bin.s");
    EXPECT_EQ(sequence.front(), "big.bin.part01.s");
    for (const std::string& s : sequence) {
        const CommandResult a = runCommand({kAsm, s}, dir.path(), 300);
        ASSERT_EQ(a.status, 0) << s << ": " << a.out;
    }
    EXPECT_TRUE(dir.read("big.bin.bin") == image);
    // Every part stays within what one source may hold (the top source has no labels).
    sequence.pop_back();
    for (const std::string& s : sequence) {
        const std::string log = dir.read(s.substr(0, s.size() - 2) + ".log");
        const std::size_t at = log.find("labels (");
        ASSERT_NE(at, std::string::npos) << s;
        EXPECT_LE(std::stoul(log.substr(at + 8)), 10000u) << s;
    }
}

}  // namespace
}  // namespace korvane::test

namespace korvane::test {
namespace {

// An edit that moves the cases of a jump table and the target of a BRA whose slot loads
// a literal, with a pointer kept as a number: --check reports each, --check --write
// rewrites the table entries and the slot's word (nothing else in the file changes),
// and the rebuilt program's table and load are right again.
}  // namespace
}  // namespace korvane::test
