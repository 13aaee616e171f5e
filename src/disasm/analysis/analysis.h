// The analysis: what fills the model from the image and the options.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "disasm/model/model.h"

namespace korvane {

namespace dis {

// Analyses the image into data: code paths from the entries, tables, pointers and
// (unless switched off) code found by evidence.
void analyse(Model::Data& data, const DisassemblyOptions& options);

// The jump tables of the BRAF/JMP instructions found so far that have none yet; each
// new case target goes to work. A bound held in a register set before the window (before
// the loop that holds the dispatch) is asked of valueBefore (offset, register). True when
// a table was found. The jumps that have none yet stay in jumps, to be tried again when
// more code is known. A table whose bound is not found is taken (named, or read as far as
// it stays plausible) only when settle says that no more code will come first.
using ValueBefore = std::function<std::optional<std::uint32_t>(std::uint32_t, unsigned)>;
bool findSwitchTables(Model::Data& data, std::vector<std::uint32_t>& work, std::vector<std::uint32_t>& jumps,
                      const ValueBefore& valueBefore, bool settle);

// Open tables of code pointers (no bound says how long) take the entries after them
// that now point at code; each new target goes to work. True when one grew.
bool growOpenTables(Model::Data& data, std::vector<std::uint32_t>& work);

// Code that no path reaches, found by evidence (prologues, whole leaf routines, tables
// of code pointers); each start goes to work. True when something was found.
bool discoverCode(Model::Data& data, std::vector<std::uint32_t>& work);

// What MOVA named and code reads by bytes becomes data, before code is looked for by
// evidence: text (with its terminating 0) where printable, else its first word; what was
// only passed to a callee, only where it is text.
void bytesAsData(Model::Data& data);

// Whether a routine starts at off: whole when decoded on from there (every word an
// instruction up to a return or a jump, its branches inside it or to known code, its
// pool after it), and nothing known in its way.
bool routineAt(const Model::Data& data, std::uint32_t off);

// Records what stays unknown once the analysis is done (data that may be code, open
// relative tables, literals that may be pointers), labelling what each would reach.
void markUnknowns(Model::Data& data);

// Longs of data that hold the start of a function become pointers (once the code is known).
void functionPointers(Model::Data& data);

// Literals and table entries that are pointers by evidence become labels.
void markPointers(Model::Data& data, std::vector<std::uint32_t>& work);

}  // namespace dis

}  // namespace korvane
