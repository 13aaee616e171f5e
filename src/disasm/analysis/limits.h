// Every threshold of the analysis, with its reason: how far it reads, how much it takes
// on evidence. A change here moves what korvane-dis finds; the corpora measure it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvane::dis {

// ---- paths and registers
// valueBefore looks back at most this far for the start of the function (or the place a
// jump or case enters) whose paths it walks: further back, the start is too uncertain
// and the walk too long for one question.
inline constexpr std::uint32_t kFarthestStart = 0x10000;
// The evidence walk reads a literal's path on past a join for this many instructions:
// enough for the loops and shared calls of compiled code, bounded for the worst image.
inline constexpr unsigned kEvidenceMost = 1024;
// A JMP is a tail call when LDS.L @R15+,PR stands in the instructions just before it, at
// most this many back (compilers put the epilogue's restores right before the jump).
inline constexpr std::uint32_t kEpilogueMost = 8;

// ---- routines found by evidence
// The most instructions of one routine found by evidence (a larger one is no routine).
inline constexpr std::size_t kMostInstructions = 8192;
// The most fill (NOP, zeros) before a routine in a gap.
inline constexpr std::uint32_t kPadding = 32;
// A prologue's saves spread over at most this many instructions (the scheduler mixes
// argument moves between them).
inline constexpr std::size_t kPrologueMost = 24;
// The most bytes a routine may jump over, in its middle, to its next code (a pool, fill,
// a table).
inline constexpr std::uint32_t kMostMidPool = 1024;
// Bytes of a structure looked at for pointers beside a stored callback.
inline constexpr std::uint32_t kMemberReach = 32;
// Below this, values in an image are too often plain constants to count as pointers by
// their value alone.
inline constexpr std::uint32_t kLowestPointer = 0x10000;
// Text: at least kTextRun printable bytes and a 0, at most kTextMost of them.
inline constexpr std::uint32_t kTextRun = 2, kTextMost = 256;
// An array of {number, pointer} rows: at least kFewestRows rows, at most kMostRows read.
inline constexpr std::uint32_t kFewestRows = 3, kMostRows = 1024;

// ---- switch tables
// The most entries of one table.
inline constexpr std::uint32_t kMostEntries = 4096;
// A table without a bound needs at least this many entries that look like cases, each
// within kUnboundedReach bytes of its jump.
inline constexpr std::uint32_t kFewestUnbounded = 2;
inline constexpr std::uint32_t kUnboundedReach = 0x1000;
// The region of the routine holding a jump: at most this many bytes each way.
inline constexpr std::uint32_t kRegion = 0x10000;
// Instructions read back from a jump for the table's load, index and bound.
inline constexpr std::size_t kWindow = 32;
// Conditional branches followed back to their blocks while reading that window.
inline constexpr unsigned kCrossings = 3;
// Bytes before a call where its table's load may stand.
inline constexpr std::uint32_t kCallLook = 16;

// ---- what stays unknown
// Data that may be code: at least this many bytes (eight words).
inline constexpr std::uint32_t kShortestCode = 16;
// Plausible entries looked at in an open table.
inline constexpr std::uint32_t kMostOpenEntries = 256;

}  // namespace korvane::dis
