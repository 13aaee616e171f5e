// What the disassembler found in an image: for every address what is there and why,
// the labels with their evidence, the references between addresses, the jump and
// pointer tables and the functions. The source text is made from this model only; tests
// and other tools ask it directly.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

enum class ItemKind : std::uint8_t {
    Instruction,
    Literal,  // a word or long that a PC-relative load reads
    Table,    // a jump table or a table of pointers
    String,   // printable text
    Padding,  // a long run of $FF
    Data,     // anything else
};

// Why an address has a label (the first reason found), or why code was taken as code.
enum class Evidence : std::uint8_t {
    Entry,         // given as an entry (or the base)
    Vector,        // an exception vector or a header names it
    Branch,        // a branch goes there
    Call,          // BSR/BSRF/JSR calls it
    Jump,          // JMP/BRAF through a register whose value is known
    SwitchCase,    // a jump table's entry
    Literal,       // a PC-relative load reads it
    Mova,          // MOVA names it
    Table,         // a jump table or pointer table starts there
    Pointer,       // a literal that is used as an address (or points into data) holds it
    PointerTable,  // an entry of a table of pointers in data
    Prologue,      // code no path reaches: its register saves match the restores
    Leaf,          // code no path reaches: the gap decodes as whole routines with pools
    Forced,        // inside a --code range
    Named,         // the user named it (an info file, a symbol table)
    Unsettled,     // what an unknown would reach (data that may be code, a number that may be a pointer)
    Executed,      // an execution trace saw it run
    OtherModule,   // another module calls or jumps here (an extern line of its info file)
    Stored,        // a literal stored to memory names it, and it has a prologue (a callback)
};

// A short text for a reason, as the source's comments write it.
std::string_view evidenceText(Evidence why);

// Why a literal or a table entry is written as a label (a pointer).
enum class PointerEvidence : std::uint8_t {
    UsedAsAddress,  // the register it was loaded into is used as an address
    JumpedThrough,  // a JSR or JMP goes through it
    FunctionStart,  // it holds the start of a function
    IntoImage,      // it holds an address in the image, too high to be a small number
    Table,          // an entry of a table of pointers
    Vector,         // an exception vector
    InfoFile,       // the info file says the range holds pointers
    Member,         // a member of a structure that code points at, holding an aligned address of data
    Stored,         // stored to memory by a long store, holding the start of code (or an address above $FFFF)
    Passed,         // loaded into an argument register of a call, holding an address above $FFFF
    Returned,       // left unchanged in R0 at a return, holding an address above $FFFF
};
std::string_view pointerEvidenceText(PointerEvidence why);

// One fact about an address with its evidence: what is there, why it has a label, why
// it is code, the function, table or pointer it belongs to, why a literal stays a number.
enum class FactKind : std::uint8_t { Item, Label, Code, Function, Table, Pointer, Number };
struct Fact {
    FactKind kind;
    std::optional<Evidence> evidence;             // for labels, code and functions
    std::optional<PointerEvidence> pointer;       // for pointers
    std::optional<std::uint32_t> from;            // the instruction or item that gave it
    std::string text;                             // the fact in words
};

enum class RefKind : std::uint8_t {
    Branch,      // BRA, BT, BF, ... to a target
    Call,        // BSR, or JSR/BSRF through a known register
    Jump,        // JMP/BRAF through a known register
    Load,        // MOV.W/MOV.L @(disp,PC): the literal it reads
    SlotLoad,    // the same in a delay slot, counted from the branch target
    Mova,        // MOVA: the address it names
    Pointer,     // a literal or table entry written as a label
    TableEntry,  // a jump table's entry: from the entry to its case
};

struct Reference {
    std::uint32_t from;
    std::uint32_t to;
    RefKind kind;
};

// An item's kind in words, as --why says it: "an instruction", "a literal", ...
std::string_view itemKindText(ItemKind kind);

struct Item {
    ItemKind kind;
    std::uint32_t address;
    std::uint32_t size;  // bytes
};

struct Table {
    std::uint32_t address;
    std::uint32_t count;  // entries (0: the bound could not be found)
    std::uint8_t width;   // bytes per entry
    bool relative;        // entries are offsets from base; otherwise addresses
    bool pointers;        // a table of pointers found in data (not behind a jump)
    std::uint32_t base;   // what relative entries are added to
    std::uint32_t jump;   // the BRAF/JMP/JSR that uses it (0 for pointer tables in data)
    std::vector<std::uint32_t> targets;
    bool open = false;    // nothing bounds it: count is how far its entries stay plausible
};

// Where the analysis could not decide, and what an edit must keep for either answer.
enum class UnknownKind : std::uint8_t {
    MaybeCode,     // data whose words would branch or load PC-relatively if it were code
    OpenTable,     // a relative jump table whose length no bound gives
    MaybePointer,  // a literal that holds an address in the image but stays a number
};
struct Unknown {
    UnknownKind kind;
    std::uint32_t address;                // the statement (or table) it is about
    std::vector<std::uint32_t> targets;  // what it would reach
};

struct Function {
    std::uint32_t start;
    std::uint32_t end;  // the byte after its last instruction
    Evidence why;
    std::vector<std::uint32_t> callers;  // addresses of the calls
    // When it does not return: a call to it after whose slot its caller's literals stand.
    std::optional<std::uint32_t> noReturn;
};

// A place after the image that the program uses (an access whose address the analysis
// knows, a literal that holds it): an edit that grows the image over it changes what
// the program finds there.
enum class AfterUse : std::uint8_t { Read, Written, Named, Traced };
struct UsedAfter {
    std::uint32_t address;
    std::uint32_t size;  // bytes
    AfterUse use;
    // The instruction that reads or writes it, the literal that names it, or (Traced: a
    // code/data log saw it read or written) its own address.
    std::uint32_t by;
};

class Model {
  public:
    struct Data;
    explicit Model(const Data& data) : d_(&data) {}

    // The item at (or around) an address of the image; nothing outside it.
    std::optional<Item> itemAt(std::uint32_t address) const;
    // Every item of the image in address order, as itemAt gives each (for a walk over the
    // whole image, without a search for each item).
    void items(const std::function<void(const Item&)>& visit) const;
    // What is at an address: a shortcut of itemAt.
    std::optional<ItemKind> kindAt(std::uint32_t address) const;
    // Whether an instruction starts at address and runs in a delay slot.
    bool inDelaySlot(std::uint32_t address) const;
    // The reason for the label at address, or nothing when it has none.
    std::optional<Evidence> labelAt(std::uint32_t address) const;
    // Every labelled address in order.
    std::vector<std::uint32_t> labels() const;
    const std::vector<Reference>& references() const;
    std::vector<Reference> referencesFrom(std::uint32_t address) const;
    std::vector<Reference> referencesTo(std::uint32_t address) const;
    const std::vector<Table>& tables() const;
    const Table* tableAt(std::uint32_t address) const;
    std::vector<Function> functions() const;
    // How many instructions were found.
    std::size_t instructionCount() const;
    // What stays unknown, each with the addresses it would reach, in address order (one
    // for every statement of data that may be code).
    std::vector<Unknown> unknowns() const;
    // The lowest places after the image that the program uses (at most 8, in address
    // order, overlapping uses as one with its first user).
    std::vector<UsedAfter> usedAfter() const;
    // Every fact about an address, with its evidence (nothing outside the image).
    std::vector<Fact> why(std::uint32_t address) const;

  private:
    const Data* d_;
};

// The name of an SH7604 on-chip register (or, with thirtyTwoX, a 32X system register)
// at this address, or "".
std::string_view registerName(std::uint32_t address, bool thirtyTwoX);

}  // namespace korvane
