// The sources the disassembler writes and what it reads back: where they go, their
// headers and fingerprints, the names of parts, and the checks of an edited source
// (--check) with the marks of what stays unknown.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

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

// The name of part index (0-based) of a disassembly whose top source is top:
// "game.bin.s" has "game.bin.part01.s", "game.bin.part02.s", ...
std::string partName(const std::string& top, std::size_t index);

// A name as one word of a POSIX shell command (quoted where it needs to be).
std::string shellWord(std::string_view word);

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

// The text of one instruction as the disassembler writes it, with a PC-relative target
// (branch, literal, MOVA) named by the label of its address, L + 8 hex digits:
// instructionText(0xD102, 0x06004000) is "MOV.L @(L0600400C,PC),R1". "" for a word that
// is no SH-2 instruction.
std::string instructionText(std::uint16_t word, std::uint32_t address);

}  // namespace korvane
