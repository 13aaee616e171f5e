// The library's interface beyond the image and the listing: the label table with values,
// the record of every statement, and the message catalogue that the manual documents.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "driver/dis_command.h"
#include "driver/run_command.h"
#include "korvane/korvane.h"
#include "unit/support.h"

namespace korvane::test {
namespace {

struct Recorder : StatementObserver {
    struct Seen {
        std::uint32_t line, pc;
        std::uint64_t offset, size;
        std::string mnemonic, bytes;
    };
    std::vector<Seen> seen;
    void statement(const StatementRecord& r) override {
        seen.push_back(
            {r.line, r.pc, r.offset, r.size, std::string(r.mnemonic),
             std::string(reinterpret_cast<const char*>(r.bytes.data()), r.bytes.size())});
    }
};

Result assembleObserved(std::string_view text, Recorder& recorder, IncludeOpener& includes) {
    MemorySource source(text);
    MemorySink bin("p.bin"), log("p.log");
    Options options;
    options.observer = &recorder;
    return assemble(source, bin, log, includes, options);
}

TEST(Api, LabelsWithTheirValues) {
    Assembled a = assembleText("SETPC $400\nSTART: NOP\n@LOOP: BRA @LOOP\nNEXT: DC.L START\n");
    ASSERT_TRUE(a.result.ok);
    ASSERT_EQ(a.result.labels.size(), 3u);
    EXPECT_EQ(a.result.labels[0].name, "START");
    EXPECT_FALSE(a.result.labels[0].local);
    EXPECT_EQ(a.result.labels[0].listed(), "START               ");
    EXPECT_EQ(a.result.labels[0].value, 0x400u);
    EXPECT_EQ(a.result.labels[1].name, "@LOOP");
    EXPECT_TRUE(a.result.labels[1].local);
    EXPECT_EQ(a.result.labels[1].scope, 0u);
    EXPECT_EQ(a.result.labels[1].listed(), "@LOOP             00");
    EXPECT_EQ(a.result.labels[1].value, 0x402u);
    EXPECT_EQ(a.result.labels[2].value, 0x404u);
    for (const Label& l : a.result.labels) EXPECT_TRUE(l.defined);

    // A label used but never defined is reported, and listed with the undefined value.
    Assembled u = assembleText("BRA NOWHERE\n");
    ASSERT_EQ(u.result.labels.size(), 1u);
    EXPECT_FALSE(u.result.labels[0].defined);
    EXPECT_EQ(u.result.labels[0].value, 0x7FFFFFFFu);
    EXPECT_EQ(u.result.diagnostic.code, Message::LabelUndefined);
    EXPECT_EQ(u.result.diagnostic.name, "NOWHERE             ");
}

// The image alone, without a listing; where the image starts; and every label out of
// reach listed by one run instead of the first stopping it.
TEST(Api, ImageAloneItsStartAndEveryReferenceOutOfReach) {
    NoIncludes none;
    const struct {
        const char* source;
        std::uint32_t start;
        std::size_t bytes;
    } starts[] = {
        {"        SETPC   $6004000\n        NOP\n", 0x6004000u, 2},
        {"        ORG     $100\nLL:     DC.B    1\n", 0u, 0x101},
        {"        SETPC   $20\n        SETPC   $40\n        DC.L    LL\nLL:     NOP\n", 0x40u, 6},
        {"        SETPC   $20\n", 0u, 0},
    };
    for (const auto& c : starts) {
        MemorySource source(c.source);
        MemorySink bin;
        const Result r = assemble(source, bin, none);
        ASSERT_TRUE(r.ok) << c.source << r.diagnostic.text;
        EXPECT_EQ(r.start, c.start) << c.source;
        EXPECT_EQ(bin.bytes().size(), c.bytes) << c.source;
    }
    // Lines 1, 2 and 4 are out of reach of FAR (line 4 in column 0); line 3 is not.
    const std::string far = "        BRA     FAR\n        BT      FAR\n        BRA     NEAR\n"
                            "BSR     FAR\nNEAR:   NOP\n        ORG     $2000\nFAR:    RTS\n        NOP\n";
    std::vector<std::uint32_t> lines;
    Options options;
    options.outOfReach = &lines;
    MemorySource source(far);
    NullSink bin;
    const Result r = assemble(source, bin, none, options);
    EXPECT_TRUE(r.ok) << r.diagnostic.text;
    EXPECT_EQ(lines, (std::vector<std::uint32_t>{1, 2, 4}));
    EXPECT_EQ(bin.size(), 0x2004u);
    MemorySource again(far);
    const Result stopped = assemble(again, bin, none);
    EXPECT_EQ(stopped.diagnostic.text, "invalid address reference on line 1");
}

TEST(Api, EveryStatementIsRecorded) {
    MemoryIncludes includes;
    includes.files["big.raw"] = std::string(70000, 'x');
    Recorder r;
    const Result result = assembleObserved(
        "SETPC $100\nLL: MOV #1,R0 ; a comment\n\nDC.L LL,2\nINCBIN \"big.raw\"\nEND\nNOP\n", r,
        includes);
    ASSERT_TRUE(result.ok) << result.diagnostic.text;
    ASSERT_EQ(r.seen.size(), 5u);
    const Recorder::Seen& setpc = r.seen[0];
    EXPECT_EQ(setpc.mnemonic, "SETPC  ");
    EXPECT_EQ(setpc.size, 0u);
    const Recorder::Seen& mov = r.seen[1];
    EXPECT_EQ(mov.line, 2u);
    EXPECT_EQ(mov.pc, 0x100u);
    EXPECT_EQ(mov.offset, 0u);
    EXPECT_EQ(mov.bytes, std::string("\xE0\x01", 2));
    const Recorder::Seen& data = r.seen[2];
    EXPECT_EQ(data.line, 4u);
    EXPECT_EQ(data.pc, 0x102u);
    EXPECT_EQ(data.offset, 2u);
    // The label's address is filled in after the last line: zero when recorded.
    EXPECT_EQ(data.bytes, std::string("\0\0\0\0\0\0\0\x02", 8));
    const Recorder::Seen& incbin = r.seen[3];
    EXPECT_EQ(incbin.size, 70000u);
    EXPECT_EQ(incbin.bytes, std::string(65536, 'x'));  // the first 64 KiB
    EXPECT_EQ(r.seen[4].mnemonic, "END    ");

    // A statement that fails is not recorded.
    Recorder failing;
    NoIncludes none;
    EXPECT_FALSE(assembleObserved("NOP\nMOV R1\n", failing, none).ok);
    EXPECT_EQ(failing.seen.size(), 1u);
}

// The manual's table of console messages lists exactly the catalogue's messages, with
// N for a line number, NAME for a name and MNEMONC for the padded mnemonic.
TEST(Api, ManualListsEveryMessageOfTheCatalogue) {
    std::ifstream file(std::string(KORVANE_TEST_DATA) + "/../../docs/assembler.md");
    ASSERT_TRUE(file);
    std::set<std::string> documented;
    std::string line;
    bool inTable = false;
    while (std::getline(file, line)) {
        if (line.rfind("## ", 0) == 0) inTable = line == "## Console messages";
        if (!inTable || line.rfind("| `", 0) != 0) continue;
        std::string cell = line.substr(1, line.find(" | ") - 1);
        while (!cell.empty() && (cell.front() == ' ' || cell.front() == '`')) cell.erase(0, 1);
        while (!cell.empty() && (cell.back() == ' ' || cell.back() == '`')) cell.pop_back();
        documented.insert(cell);
    }
    std::set<std::string> catalogue;
    for (const MessageTemplate& m : messageCatalogue()) {
        std::string text(m.text);
        for (auto [blank, shown] :
             {std::pair{"{line}", "N"}, {"{name}", "NAME"}, {"{mnemonic}", "MNEMONC"}}) {
            const std::size_t at = text.find(blank);
            if (at != std::string::npos) text.replace(at, std::string_view(blank).size(), shown);
        }
        catalogue.insert(text);
    }
    EXPECT_EQ(documented, catalogue);
}

// The manual's page on the disassembler lists every message of korvane-dis's own
// catalogue: each fixed piece of a message's text (up to where the page elides it with
// "…") stands on that page.
TEST(Api, ManualListsEveryMessageOfKorvaneDis) {
    std::ifstream file(std::string(KORVANE_TEST_DATA) + "/../../docs/disassembler.md");
    ASSERT_TRUE(file);
    std::string section, line;
    while (std::getline(file, line)) section += line + "\n";
    ASSERT_FALSE(section.empty());
    for (const command::SayTemplate& m : command::catalogue()) {
        std::string_view rest = m.text;
        while (!rest.empty()) {
            const std::size_t blank = rest.find('{');
            std::string_view piece = rest.substr(0, blank);
            rest = blank == std::string_view::npos ? std::string_view() : rest.substr(rest.find('}', blank) + 1);
            piece = piece.substr(0, std::min({piece.find(';'), piece.find('\n'), piece.find(" ("), piece.size()}));
            while (!piece.empty() && piece.front() == ' ') piece.remove_prefix(1);
            while (!piece.empty() && piece.back() == ' ') piece.remove_suffix(1);
            if (piece.size() < 6) continue;
            EXPECT_NE(section.find(piece), std::string::npos) << "docs/disassembler.md does not list: " << m.text;
        }
    }
}

// The manual's page on korvane-run lists every message of its catalogue with its status:
// each fixed piece of a message's text stands in the page's table of messages, on a row
// of that status.
TEST(Api, ManualListsEveryMessageOfKorvaneRun) {
    std::ifstream file(std::string(KORVANE_TEST_DATA) + "/../../docs/run.md");
    ASSERT_TRUE(file);
    std::vector<std::string> rows;
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind("| `", 0) == 0) rows.push_back(line);
    }
    ASSERT_FALSE(rows.empty());
    for (const runcmd::SayTemplate& m : runcmd::catalogue()) {
        const std::string status = "| " + std::to_string(m.status) + " |";
        std::string_view rest = m.text;
        while (!rest.empty()) {
            const std::size_t blank = rest.find('{');
            std::string_view piece = rest.substr(0, blank);
            rest = blank == std::string_view::npos ? std::string_view() : rest.substr(rest.find('}', blank) + 1);
            while (!piece.empty() && (piece.front() == ' ' || piece.front() == ':')) piece.remove_prefix(1);
            while (!piece.empty() && (piece.back() == ' ' || piece.back() == ':')) piece.remove_suffix(1);
            if (piece.size() < 6) continue;
            bool found = false;
            for (const std::string& row : rows) {
                found = found || (row.find(piece) != std::string::npos && row.ends_with(status));
            }
            EXPECT_TRUE(found) << "docs/run.md does not list with status " << m.status << ": " << m.text;
        }
    }
}

}  // namespace
}  // namespace korvane::test
