// What the disassembler reads beside an image: info files, symbol tables from other
// tools, execution traces, and the headers of the image formats it knows.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "korvane/analysis.h"
#include "korvane/disassembly_options.h"

namespace korvane {

// Reads an info file (one statement a line, # comments): label ADDR NAME [COMMENT],
// entry ADDR, code A-B, data A-B [bytes|words|longs|strings|pointers],
// table ADDR COUNT WIDTH [relative BASE], comment ADDR TEXT, const ADDR. Adds what it
// says to options; returns the errors as "FILE:LINE: text" (none: it could).
std::vector<std::string> readInfo(std::string_view text, const std::string& file, DisassemblyOptions& options);

// Reads names from other tools: nm output ("06004000 T _main"), "NAME = ADDR" and
// "ADDR NAME" lines. A name that cannot be a label as written is mapped to one (upper
// case, other characters as '_', a leading digit or a register's name prefixed with
// '_', longer than 20 characters cut to 15 and a '_' and four hexadecimal digits of its
// hash) and its full name kept as the label's comment. Two names that come to one
// label, or two labels at one address, are errors, as "FILE:LINE: text".
std::vector<std::string> readSymbols(std::string_view text, const std::string& file, DisassemblyOptions& options);

// Reads an execution trace. A text trace (logBase empty) lists executed addresses: one
// hexadecimal address ($, 0x or bare) or A-B range (B excluded) a line, # comments, or
// qemu's -d in_asm log. A code/data log (logBase: the address of its first byte) holds
// a byte per address: bit 0 executed, bit 1 read, bit 2 written. Only what the image
// holds is kept (an emulator logs all of its memory): executed addresses go to
// options.executed, bytes only read to options.data; the addresses outside the image are
// counted in outside. Errors are "FILE:LINE: text", and the bytes both executed and read
// (taken as code) are returned to be reported.
struct TraceRead {
    std::vector<std::string> errors;
    std::vector<AddressRange> both;
    std::uint64_t outside = 0;  // bytes (or a text trace's addresses) outside the image, passed over
};
// A trace read as it comes, a piece at a time (at any place, even inside a line), in
// memory bounded by the image's size whatever the trace's: imageSize and options' base
// and segments (the image's format applied) say which addresses the image holds.
class TraceReader {
  public:
    TraceReader(std::string file, std::optional<std::uint32_t> logBase, std::uint64_t imageSize,
                const DisassemblyOptions& options);
    ~TraceReader();
    TraceReader(const TraceReader&) = delete;
    TraceReader& operator=(const TraceReader&) = delete;
    void add(std::span<const std::uint8_t> bytes);
    // The end of the trace: what it holds added to options.
    TraceRead finish(DisassemblyOptions& options);

  private:
    struct State;
    std::unique_ptr<State> s_;
};
// The addresses an image of size bytes takes under options (its base and segments), in order.
std::vector<AddressRange> imageAddresses(std::size_t size, const DisassemblyOptions& options);
// A whole trace at once.
TraceRead readTrace(std::span<const std::uint8_t> trace, const std::string& file, std::optional<std::uint32_t> logBase,
                    std::uint64_t imageSize, DisassemblyOptions& options);

// What an image is: flat bytes at a base, a Saturn program, a 32X ROM.
enum class ImageFormat { Flat, Saturn, ThirtyTwoX };

// Sets the options from the image's own headers: a Saturn program loads at $06004000 and
// starts at its first byte (with an IP.BIN, at its first-read address); a 32X ROM is
// data at $02000000 but for its SH-2 code, which runs in SDRAM at $06000000 + the
// header's destination, from the master and slave entries, with the vector tables at
// the two VBRs. "" when it could, otherwise why not (a header that does not hold).
std::string applyFormat(ImageFormat format, std::span<const std::uint8_t> image,
                        std::span<const std::uint8_t> ipBin, bool baseGiven, DisassemblyOptions& options);

// Where an image may run. The literals that calls and jumps go through (a MOV.L from a
// literal, then JSR or JMP through its register) name routines; at a candidate base,
// opening counts those that land where a routine opens (a save of R8-R14 or PR, the word
// after a return or jump and its slot): of all of them and of the distinct ones.
struct BaseCandidate {
    std::uint32_t base;
    std::uint32_t opening;  // call targets that open a routine at this base ...
    std::uint32_t targets;  // ... of this many
    std::uint32_t distinctOpening, distinctTargets;
};
// The best bases, the most distinct targets opening a routine first, the base given among
// them; at most most of them.
std::vector<BaseCandidate> findBases(std::span<const std::uint8_t> image, std::uint32_t given, std::size_t most = 5);
// What korvane-dis says when the image seems to run elsewhere: "350 of 410 call targets
// open a routine at --base $06010000; 12 at the base given", or "" (most targets open a
// routine at the base given, too few targets to tell, or no other base does much better:
// a BIOS's table of calls outside the image names no routine of it at any base).
inline constexpr std::uint32_t kFewestHinted = 8;  // distinct call targets, at least
std::string baseHint(std::span<const std::uint8_t> image, std::uint32_t given);

}  // namespace korvane
