// The SH-2 instruction table: every 16-bit word decodes to a form whose encoding gives
// the word back, or to nothing; GNU's SH-2 disassembler decodes the same words to the
// same mnemonics; OpTable's rows name exactly the forms' mnemonics.
#include "isa/isa.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include "encode/encoder.h"
#include "unit/support.h"

namespace korvane::test {
namespace {

using detail::OpTable;

TEST(Isa, EveryWordDecodesToItselfOrToNothing) {
    int decoded = 0;
    std::array<int, 256> perForm{};
    for (unsigned w = 0; w <= 0xFFFF; ++w) {
        const auto word = static_cast<std::uint16_t>(w);
        const std::optional<sh2::Decoded> d = sh2::decode(word);
        if (!d) continue;
        ++decoded;
        ++perForm[static_cast<std::size_t>(d->form - sh2::forms().data())];
        ASSERT_EQ(sh2::encode(*d->form, d->fields), word) << std::hex << w;
        ASSERT_EQ(word & d->form->mask, d->form->match) << std::hex << w;
    }
    // Each form owns exactly the words its free bits allow: 16 per register field,
    // 256 per 8-bit field and so on.
    for (std::size_t i = 0; i < sh2::forms().size(); ++i) {
        const sh2::Form& f = sh2::forms()[i];
        const int freeBits = 16 - std::popcount(f.mask);
        EXPECT_EQ(perForm[i], 1 << freeBits) << f.mnemonic;
    }
    EXPECT_EQ(decoded, 53752);
}

// Which general registers an instruction changes (what a register must survive to
// reach a call unchanged).
TEST(Isa, WrittenRegisters) {
    const std::pair<std::uint16_t, std::uint16_t> cases[] = {
        {0xD102, 1u << 1},               // MOV.L @(disp,PC),R1
        {0x4108, 1u << 1},               // SHLL2 R1
        {0x4110, 1u << 1},               // DT R1
        {0x0129, 1u << 1},               // MOVT R1
        {0x6126, 1u << 1 | 1u << 2},     // MOV.L @R2+,R1: both
        {0x2126, 1u << 1},               // MOV.L R2,@-R1: the address register
        {0x2122, 0},                     // MOV.L R2,@R1
        {0x3120, 0},                     // CMP/EQ R2,R1
        {0x2128, 0},                     // TST R2,R1
        {0x4115, 0},                     // CMP/PL R1
        {0x0127, 0},                     // MUL.L R2,R1: MACL
        {0x312C, 1u << 1},               // ADD R2,R1
        {0xC707, 1u},                    // MOVA: R0
        {0x8513, 1u},                    // MOV.W @(6,R1),R0
        {0xC9FF, 1u},                    // AND #255,R0
        {0xC8FF, 0},                     // TST #255,R0
        {0x8801, 0},                     // CMP/EQ #1,R0
        {0x410B, 0},                     // JSR @R1
        {0x0123, 0},                     // BRAF R1
        {0x4126, 1u << 1},               // LDS.L @R1+,PR
        {0x4122, 1u << 1},               // STS.L PR,@-R1
        {0x012A, 1u << 1},               // STS PR,R1
        {0x012F, 1u << 1 | 1u << 2},     // MAC.L @R2+,@R1+
        {0x411B, 0},                     // TAS.B @R1
    };
    for (const auto& [word, regs] : cases) {
        const std::optional<sh2::Decoded> d = sh2::decode(word);
        ASSERT_TRUE(d) << std::hex << word;
        EXPECT_EQ(sh2::writtenRegisters(*d->form, d->fields), regs) << d->form->mnemonic;
    }
}

// The two directions of PC-relative reach agree: every field reaches a target that gives
// the field back, and no other address near the instruction gives a field at all.
TEST(Isa, PcRelativeFieldsAndTargetsAgree) {
    for (const sh2::Form& form : sh2::forms()) {
        if (form.reach == sh2::Reach::None) continue;
        for (const std::uint32_t pc : {0x0u, 0x2u, 0x1002u, 0x6004000u, 0xFFFFF000u}) {
            std::set<std::uint32_t> reached;
            for (unsigned d = 0; d <= sh2::placeOf(form.layout).dMask; ++d) {
                const std::uint32_t t = sh2::targetOf(form, {.d = static_cast<std::uint16_t>(d)}, pc);
                reached.insert(t);
                ASSERT_EQ(sh2::fieldFor(form.reach, pc, t), d) << form.mnemonic << " " << pc;
            }
            for (std::uint32_t t = pc - 5000; t != pc + 5000; ++t) {
                EXPECT_EQ(sh2::fieldFor(form.reach, pc, t).has_value(), reached.count(t) == 1)
                    << form.mnemonic << " pc " << pc << " target " << t;
            }
        }
    }
}

TEST(Isa, DecodesWhatGnuDecodesAsSh2) {
    if (!haveTool("sh-elf-objdump")) GTEST_SKIP() << "GNU binutils for SH is not installed";
    TempDir dir;
    std::string image;
    for (unsigned w = 0; w <= 0xFFFF; ++w) {
        image += static_cast<char>(w >> 8);
        image += static_cast<char>(w & 0xFF);
    }
    dir.write("all.bin", image);
    const CommandResult r = runCommand(
        {"sh-elf-objdump", "-b", "binary", "-m", "sh2", "-EB", "-D", "all.bin"}, dir.path());
    ASSERT_EQ(r.status, 0);
    // "   1234:\t12 34       \tmov.l\t@(16,r3),r2": address, bytes, mnemonic and operands.
    std::istringstream lines(r.out);
    std::string line;
    int compared = 0;
    while (std::getline(lines, line)) {
        unsigned address = 0;
        if (std::sscanf(line.c_str(), " %x:", &address) != 1 ||
            line.find(":\t") == std::string::npos)
            continue;
        const std::size_t text = line.find('\t', line.find(":\t") + 2);
        ASSERT_NE(text, std::string::npos) << line;
        std::string mnemonic =
            line.substr(text + 1, line.find_first_of("\t ", text + 1) - text - 1);
        const auto word = static_cast<std::uint16_t>(address / 2);
        const std::optional<sh2::Decoded> d = sh2::decode(word);
        SCOPED_TRACE(line);
        if (mnemonic == ".word") {
            EXPECT_FALSE(d.has_value());
        } else {
            ASSERT_TRUE(d.has_value());
            // GNU writes bt/s as bt.s.
            for (char& c : mnemonic)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            if (mnemonic == "BT.S" || mnemonic == "BF.S") mnemonic[2] = '/';
            EXPECT_EQ(mnemonic, d->form->mnemonic);
        }
        ++compared;
    }
    EXPECT_EQ(compared, 65536);
}

// Every instruction row names forms, every directive none; every form's mnemonic is a
// row, and each row whose encoder takes one form has exactly one.
TEST(Isa, OpTableAgreesWithTheForms) {
    std::set<std::string_view> rowNames;
    for (const detail::OpRow& row : OpTable) {
        SCOPED_TRACE(std::string(row.mnemonic()));
        const sh2::FormSet& forms = detail::formsOf(row);
        if (!row.instruction()) {
            EXPECT_EQ(forms.find(sh2::Arg::None), nullptr);
            continue;
        }
        rowNames.insert(row.name());
        // The addressing family's forms all take two operands: an operand of no mode
        // (Arg::None) matches none of them.
        if (row.format == detail::Format::Addressing) {
            for (const sh2::Form& f : sh2::forms()) {
                if (f.mnemonic != row.name()) continue;
                EXPECT_TRUE(f.args[0] != sh2::Arg::None && f.args[1] != sh2::Arg::None);
            }
        }
        using F = detail::Format;
        const F f = row.format;
        if (f != F::NoOperands && f != F::OneRegister && f != F::TwoRegisters && f != F::Immediate && f != F::Branch)
            continue;
        EXPECT_NE(forms.only(), nullptr);
    }
    std::set<std::string_view> formNames;
    for (const sh2::Form& f : sh2::forms()) formNames.insert(f.mnemonic);
    EXPECT_EQ(formNames, rowNames);
    EXPECT_EQ(formNames.size(), 90u);
}

}  // namespace
}  // namespace korvane::test
