// korvane-dis on real files: every image rebuilds byte for byte from the sources it
// writes (parts included), every instruction it decodes agrees with GNU's SH-2
// disassembler, and the labels keep references right when code is inserted.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
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
        for (int e = 0; e < 3 && size > 0; ++e)
            args.insert(args.end(),
                        {"--entry", "$" + hex(base + static_cast<std::uint32_t>(random() % size))});
        SCOPED_TRACE("image " + std::to_string(i) + ": " + std::to_string(size) + " bytes at $" +
                     hex(base));
        EXPECT_EQ(roundTrip(dir, "r.bin", image, args), image);
        if (haveBinutils() && size > 0) agreeWithGnu(dir, "r.bin", base);
    }
}

}  // namespace
}  // namespace korvane::test
