// The disassembler: turns an SH-2 image into assembler source that this assembler
// rebuilds into the identical image, with a label at every branch and PC-relative
// target so that the source can be edited.
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

class Disassembly;

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

// The info file of what a disassembly found (entries, names, tables, functions), in
// the format readInfo takes; what the analysis finds again by itself is a comment.
std::string infoOf(const Disassembly& disassembly, const DisassemblyOptions& options);

// What an image is: flat bytes at a base, a Saturn program, a 32X ROM.
enum class ImageFormat { Flat, Saturn, ThirtyTwoX };

// Sets the options from the image's own headers: a Saturn program loads at $06004000 and
// starts at its first byte (with an IP.BIN, at its first-read address); a 32X ROM is
// data at $02000000 but for its SH-2 code, which runs in SDRAM at $06000000 + the
// header's destination, from the master and slave entries, with the vector tables at
// the two VBRs. "" when it could, otherwise why not (a header that does not hold).
std::string applyFormat(ImageFormat format, std::span<const std::uint8_t> image,
                        std::span<const std::uint8_t> ipBin, bool baseGiven, DisassemblyOptions& options);

// Where the sources go: one file after the other, each opened, written and closed.
class SourceOutput {
  public:
    virtual ~SourceOutput() = default;
    virtual bool open(const std::string& name) = 0;
    // Appends to the file that is open.
    virtual bool write(std::string_view text) = 0;
    // Overwrites text already written to the open file, at a 0-based position (the
    // fingerprint in the header, once the whole text is known).
    virtual bool patch(std::uint64_t position, std::string_view text) = 0;
    virtual bool close() = 0;
};

// The first line of every source the disassembler writes, up to the image's name. The
// second line holds the fingerprint of the file's text.
inline constexpr std::string_view kDisassemblyHeader = "; korvane-dis: source of ";

// The first line of every info file that --info-out writes, up to the image's name; its
// second line holds the fingerprint, as a source's does.
inline constexpr std::string_view kInfoHeader = "# korvane-dis: what it found in ";

// What korvane-dis writes and a later run may replace: a source, an info file, a map.
enum class Written : std::uint8_t { Source, Info, Map };

// Reads a file piece by piece and tells whether it is a file the disassembler wrote,
// unchanged since (its text still has the fingerprint its header records).
class SourceCheck {
  public:
    explicit SourceCheck(Written kind = Written::Source);
    ~SourceCheck();
    SourceCheck(const SourceCheck&) = delete;
    SourceCheck& operator=(const SourceCheck&) = delete;
    void add(std::string_view bytes);
    // Begins with the disassembler's header line.
    bool fromDisassembler() const;
    // Begins with it and holds exactly the text its fingerprint was made of.
    bool unchanged() const;
    // The fingerprint its second line records (0 when it has none).
    std::uint64_t recorded() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// The parts a top source names with the fingerprint each had when it was written
// (none for a source of one part).
struct RecordedPart {
    std::string name;
    std::uint64_t fingerprint;
};
std::vector<RecordedPart> recordedParts(std::string_view topSource);

// Why these options cannot be used with this image (an entry or range outside it or at
// an odd address, an image that passes 2^32, a name that cannot stand in a source), or
// "" when they can.
std::string checkOptions(std::span<const std::uint8_t> image, const DisassemblyOptions& options);

// The text of one instruction as the disassembler writes it, with a PC-relative target
// (branch, literal, MOVA) named by the label of its address, L + 8 hex digits:
// instructionText(0xD102, 0x06004000) is "MOV.L @(L0600400C,PC),R1". "" for a word that
// is no SH-2 instruction.
std::string instructionText(std::uint16_t word, std::uint32_t address);

// The name of part index (0-based) of a disassembly whose top source is top:
// "game.bin.s" has "game.bin.part01.s", "game.bin.part02.s", ...
std::string partName(const std::string& top, std::size_t index);

// A name as one word of a POSIX shell command (quoted where it needs to be).
std::string shellWord(std::string_view word);

class Disassembly {
  public:
    // Analyses the image (which must outlive this object): where code is, which
    // addresses need labels, and how the source is split into parts. Options that
    // checkOptions refuses leave nothing to write: error() says why.
    Disassembly(std::span<const std::uint8_t> image, const DisassemblyOptions& options);
    ~Disassembly();
    Disassembly(const Disassembly&) = delete;
    Disassembly& operator=(const Disassembly&) = delete;

    // The files that write() makes, in the order they are assembled: the parts (if the
    // image needs more than one source), then IMAGE.s.
    const std::vector<std::string>& files() const;

    // Why the options could not be used, or "".
    const std::string& error() const;

    // Writes every file; false when the output refused or the options were refused.
    bool write(SourceOutput& out) const;
    // The same file by file, for a caller that writes parts side by side: the analysis
    // is only read, so writePart may run on several threads at once, each with an output
    // of its own. Part i is files()[i] (a single file is the whole source). With several
    // parts the top source, files().back(), comes last, with the parts' fingerprints.
    std::size_t parts() const;
    bool writePart(SourceOutput& out, std::size_t i, std::uint64_t& fingerprint) const;
    bool writeTop(SourceOutput& out, const std::vector<std::uint64_t>& fingerprints) const;

    // What the analysis found (empty when the options were refused).
    const Model& model() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

class IncludeOpener;

// What a check of an edited disassembly found (checkSource).
struct CheckReport {
    std::vector<std::string> messages;  // "NAME:LINE: text", in the order of the lines
    bool holds = true;                  // everything holds (after the rewrites, with write)
    bool rewritten = false;             // with write: numbers were rewritten ...
    std::string text;                   // ... and this is the source with them
};

// Assembles an edited source in memory and works out again, from the labels' new
// addresses, what the disassembler wrote as numbers in its fixed comment forms: relative
// table entries (; -> TARGET (from BASE)) and loads in BRA/BSR delay slots (reads
// LITERAL). With write, numbers that no longer hold are rewritten (only their text
// changes). Also reported: a $number that equals the original address of a label
// (Lxxxxxxxx) that has moved, unless its line says "; const"; and the assembler's own
// message when the source does not assemble.
CheckReport checkSource(std::string_view text, const std::string& name, IncludeOpener& includes, bool write);

// The parts of a large image checked as one program, in the order the top source
// assembles them: each part starts where the one before now ends (unless it began a
// segment of its own), the labels it defines for other parts take their new
// addresses, and then each part is checked as checkSource checks a source. With write
// the SETPC and label lines are rewritten too; changed holds every part whose text
// changed. Messages name the part: "NAME:LINE: text".
struct PartText {
    std::string name;
    std::string text;
};
struct PartsReport {
    std::vector<std::string> messages;
    bool holds = true;
    std::vector<PartText> changed;
};
PartsReport checkParts(const std::vector<PartText>& parts, IncludeOpener& includes, bool write);

// Every mark of what stays unknown in a source korvane-dis wrote ("NAME:LINE: $ADDR ..."),
// each with the info-file line that settles it: data that may be code, a jump table of
// unknown length, a number that may be a pointer.
std::vector<std::string> listUnknowns(std::string_view text, const std::string& name);

// An address as the command line writes it: $6004000, 0x6004000 or decimal. False for
// anything else, a value past 32 bits, and a number with a leading 0 before more digits
// (06004000), which is neither hex nor decimal to everyone; a bare 0 is a number.
bool parseAddress(std::string_view text, std::uint64_t& value);
// A number written the same way, up to `most` (parseAddress: up to 2^32, a range's end).
bool parseNumber(std::string_view text, std::uint64_t& value, std::uint64_t most);
// A range as the command line writes it: ADDR-ADDR (each as parseAddress reads it), its
// end excluded and not before its start. False for anything else.
bool parseRange(std::string_view text, AddressRange& range);
// Why value (an option's value, an info file's word) was refused, when the reason is a
// number in it with a leading 0: "WHERE: a leading 0 is refused; write 06004000 as
// $6004000 or 0x6004000 (hex) or 6004000 (decimal)". "" when it holds none.
std::string leadingZeroText(std::string_view where, std::string_view value);

}  // namespace korvane
