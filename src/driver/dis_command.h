// korvane-dis's command line: one table of options makes the parser, the usage and the
// help; one catalogue holds the messages the command itself says (the library's and
// the file handling's come with their own texts).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "driver/kit.h"
#include "korvane/disassemble.h"

namespace korvane::command {

// ---- the messages ----------------------------------------------------------------------

enum class Say : std::uint8_t {
    // Usage errors (status 2, with the usage after them).
    NoImage,
    OneImage,
    UnknownOption,
    GivenTwice,
    TakesNoValue,
    NeedsAddress,
    NeedsRange,
    NeedsFile,
    NeedsFormat,
    NeedsSource,
    CheckTakesSource,
    WriteGoesWithCheck,
    UnknownsGoWithCheck,
    NotForCheck,
    OutputWithoutWrite,
    CheckToStandardOutput,
    IpWithoutSaturn,
    // Errors (status 1).
    ElfImage,
    OutputIsDirectory,
    ReplacesImage,
    PartsToStandardOutput,
    InfoOutToStandardOutput,
    InfoOutIsOwnFile,
    MapToStandardOutput,
    MapIsOwnFile,
    CannotWrite,
    CannotWriteStandardOutput,
    CheckedLink,
    CheckedReadOnly,
    CheckedOutputExists,
    CheckedOtherUser,
    CheckedChanged,
    CheckedMixedSet,
    CheckedPartsElsewhere,
    SystemRefused,
    OutOfMemory,
    // A note (the run goes on).
    MixedSetReplaced,
    TraceBoth,
    BaseHint,
};

struct SayTemplate {
    Say code;
    int status;  // 2 usage, 1 error, 0 a note
    // Blanks: {opt} an option, {name} and {other} file names, {count} a number, {why}
    // the reason another part gave.
    std::string_view text;
};
std::span<const SayTemplate> catalogue();

struct Blanks {
    std::string_view opt = {}, name = {}, other = {}, count = {}, why = {};
};
// The text of a message with its blanks filled.
std::string text(Say code, const Blanks& blanks = {});

// ---- the options -----------------------------------------------------------------------

// What the command line says.
struct Parsed {
    std::string image;
    std::string output;  // -o: "" none, "-" standard output
    std::string check;   // --check SOURCE
    bool write = false;
    bool unknowns = false;
    bool flat = false;
    bool findBase = false;  // --find-base: the candidates, nothing written
    bool help = false, version = false;
    bool baseGiven = false;
    std::uint32_t base = 0;
    ImageFormat format = ImageFormat::Flat;
    std::string ip, symbols, infoOut, map;
    std::vector<std::string> infos;   // --info FILE
    std::vector<std::string> traces;  // --trace FILE[@BASE]
    std::vector<std::uint32_t> whys;
    DisassemblyOptions disassembly;  // entries, ranges, vectors, guess
};

// The option table: a row an option, with what it does.
constexpr unsigned kWithCheck = 1;  // taken beside --check
std::span<const kit::Option<Parsed>> options();

// Parses argv; "" when it could, else the usage error (said with status 2).
std::string parse(int argc, char** argv, Parsed& parsed);

// The usage lines, the help and the manual page, made from the table.
std::string usage();
std::string help();
std::string manPage(std::string_view manual, std::string_view date);

}  // namespace korvane::command
