// korvane-run's command line: one table of options makes the parser, the usage, the help
// and the manual page; one catalogue holds the messages the command itself says (the
// library's and the file handling's come with their own texts).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "driver/kit.h"
#include "korvane/numbers.h"

namespace korvane::runcmd {

// ---- the messages ----------------------------------------------------------------------

enum class Say : std::uint8_t {
    // Usage errors (status 2, with the usage after them).
    UnknownOption,
    GivenTwice,
    TakesNoValue,
    NeedsValue,
    NoImage,
    OneImage,
    NeedsBase,
    NeedsCall,
    NeedsAgainst,
    NotAddress,
    NotSet,
    NotRam,
    NotLoad,
    NotCount,
    NotDump,
    NotStub,
    NotCompared,
    // Errors (status 1).
    EmptyImage,
    DumpUnmapped,
    NotNamed,
    RamOverlaps,
    LoadRefused,
    NoStackRoom,
    StackIntoBlock,
    NoReturnAddress,
    Stopped,
    Differs,
    CannotWriteOutput,
    OutOfMemory,
};

struct SayTemplate {
    Say code;
    int status;  // 2 usage, 1 error
    // Blanks: {opt} an option, {value} what was given, {name} a file, {other} a range or
    // an address, {why} the reason another part gave.
    std::string_view text;
};
std::span<const SayTemplate> catalogue();

struct Blanks {
    std::string_view opt = {}, value = {}, name = {}, other = {}, why = {};
};
std::string text(Say code, const Blanks& blanks = {});

// ---- what the command line says ----------------------------------------------------------

constexpr std::uint64_t kDefaultSteps = 100'000'000;

using Range = AddressRange;
struct Ram {
    Range range;
    unsigned wait;
};
struct Load {
    std::string file;
    std::uint32_t at;
};

// What --against compares beside how the runs stopped: registers by name, the bytes
// either run wrote outside its stack frame, and ranges of memory.
constexpr std::string_view kCompared[] = {"R0", "R1",  "R2",  "R3",   "R4",   "R5",  "R6",  "R7",
                                          "R8", "R9",  "R10", "R11",  "R12",  "R13", "R14", "R15",
                                          "SR", "GBR", "VBR", "MACH", "MACL", "PR",  "T"};
constexpr unsigned kT = 22;
struct Compared {
    bool chosen = false;          // --compare given
    std::uint32_t registers = 0;  // bit i: kCompared[i]
    bool movableR1 = false;       // R1 only where either run's R1 lies outside its image
    bool written = false;
    std::vector<Range> ranges;
};
// The calling convention's results and kept registers (the default of --against).
Compared conventional();

struct Parsed {
    std::string image;
    bool help = false, version = false;
    std::optional<std::uint32_t> base;
    std::string callText, atText;  // an address, or a label's name
    std::map<std::string, std::uint32_t> set;
    std::vector<Ram> ram;
    std::vector<Load> loads;
    std::uint64_t maxSteps = kDefaultSteps;
    bool trace = false, enterTraps = false;
    std::string info, against, labels, againstLabels;
    Compared compared = conventional();
    std::vector<Range> dumps;
    std::vector<std::pair<std::string, std::uint32_t>> stubTexts;
};

std::span<const kit::Option<Parsed>> options();

// Parses argv; "" when it could, else the usage error (said with status 2).
std::string parse(int argc, char** argv, Parsed& parsed);

// The usage lines, the help and the manual page, made from the table.
std::string usage();
std::string help();
std::string manPage(std::string_view manual, std::string_view date);

// Small pieces the run shares with the parser.
std::string hex(std::uint32_t v, bool dollar = false);
std::string rangeText(std::uint64_t begin, std::uint64_t end);  // "$A-$B"
std::optional<std::uint32_t> number(std::string_view text);
using kit::refused;

}  // namespace korvane::runcmd
