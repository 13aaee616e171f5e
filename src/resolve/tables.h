// LabelTable (names and values of every label met, defined or only referred to) and
// RefTable (every use of a label or literal, resolved by the fixup pass).
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "source/lexer.h"
#include "vocab/vocabulary.h"

namespace korvane::detail {

inline constexpr std::uint32_t LABEL_UNDEFINED = 0x7FFFFFFF;
inline constexpr std::size_t kLabelCapacity = 10000;
inline constexpr std::size_t kRefCapacity = 10000;
// A statement that leaves more references than this stops the run.
inline constexpr std::size_t kRefLimitPerStatement = 9998;


class LabelTable {
  public:
    LabelTable();

    // Index of the entry with this name, or -1 (names are unique, so this is the
    // first equal entry).
    std::int32_t find(const LabelName& name) const;
    // Appends an entry; the caller has checked full().
    std::uint32_t add(const LabelName& name, std::uint32_t value, bool defined);

    bool full() const { return names_.size() >= kLabelCapacity; }
    std::uint32_t count() const { return static_cast<std::uint32_t>(names_.size()); }
    const LabelName& name(std::uint32_t i) const { return names_[i]; }
    std::uint32_t value(std::uint32_t i) const { return values_[i]; }
    bool defined(std::uint32_t i) const { return defined_[i] != 0; }
    void define(std::uint32_t i, std::uint32_t value) {
        values_[i] = value;
        defined_[i] = 1;
    }

  private:
    static constexpr std::size_t kSlots = 16384;  // power of two above the capacity
    static std::size_t hash(const LabelName& name);

    std::vector<LabelName> names_;
    std::vector<std::uint32_t> values_;
    std::vector<std::uint8_t> defined_;
    std::vector<std::int16_t> slots_;  // open addressing over names_, -1 empty
};

enum RefKind : std::uint8_t {
    REF_ABS32 = 0,
    REF_BRANCH8 = 1,
    REF_IMOV_PENDING = 2,
    REF_IMOV_PLACED = 3,
    REF_PCREL_WORD = 4,
    REF_PCREL_LONG = 5,
    REF_BRA12 = 10,
    REF_BSR12 = 11,
};

struct Reference {
    std::uint8_t kind;
    std::uint32_t binOffset;  // 1-based position of the first byte the fixup writes
    std::uint32_t pc;         // address of the referring instruction
    std::uint32_t line;       // source line of the reference
    std::uint32_t target;     // label index; literal (kind 2); pool slot address (kind 3)
};

class RefTable {
  public:
    RefTable() { refs_.reserve(kRefCapacity); }
    // Appends an entry; a full table stops the run. Returns its index.
    std::uint32_t add(const Reference& r);
    // The check made after every statement.
    void checkCapacity() const {
        if (refs_.size() > kRefLimitPerStatement) full();
    }
    std::uint32_t count() const { return static_cast<std::uint32_t>(refs_.size()); }
    Reference& operator[](std::uint32_t i) { return refs_[i]; }
    const std::vector<Reference>& entries() const { return refs_; }

  private:
    [[noreturn]] static void full();
    std::vector<Reference> refs_;
};

// The labels of a run: LabelTable with the scopes of local labels. The run enters
// definitions from the line scanner and uses from the operand lexer.
class Labels final : public LabelUses {
  public:
    // Defines the label written as word (its name, 2 to 20 characters, upper case, a
    // local one with its "@") at pc.
    void define(std::string_view word, std::uint32_t pc, std::uint32_t line);
    // The index of a label used as an operand (blank-padded; a local one begins with
    // "@"), appended undefined when it is new.
    std::uint32_t refer(const LabelName& name, std::uint32_t line) override;
    const LabelTable& table() const { return table_; }

  private:
    std::uint32_t findOrAdd(const LabelName& name, std::uint32_t line);
    void applyLocalScope(LabelName& name);

    LabelTable table_;
    std::uint8_t scope_ = 0;  // counts the stretches between global labels
    bool localUsed_ = false;  // a local label was met since the last global one
};

}  // namespace korvane::detail
