// The analysis: what fills the model from the image and the options.
#pragma once

#include <cstdint>
#include <vector>

#include "disasm/model/model.h"

namespace korvane {

namespace dis {

// Analyses the image into data: code paths from the entries, tables, pointers and
// (unless switched off) code found by evidence.
void analyse(Model::Data& data, const DisassemblyOptions& options);

// The jump tables of the BRAF/JMP instructions found so far that have none yet; each
// new case target goes to work. True when a table was found.
bool findSwitchTables(Model::Data& data, std::vector<std::uint32_t>& work,
                      std::vector<std::uint32_t>& jumps);

// Code that no path reaches, found by evidence (prologues, whole leaf routines, tables
// of code pointers); each start goes to work. True when something was found.
bool discoverCode(Model::Data& data, std::vector<std::uint32_t>& work);

// Literals and table entries that are pointers by evidence become labels.
void markPointers(Model::Data& data, std::vector<std::uint32_t>& work);

}  // namespace dis

}  // namespace korvane
