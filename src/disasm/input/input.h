// What the input room gives the facade beside the public readers (korvane/dis_inputs.h).
#pragma once

#include <string>

#include "korvane/analysis.h"
#include "korvane/disassembly_options.h"

namespace korvane {

// The info file of what a model holds, the options it was made with first: what the
// facade's infoOf writes.
std::string infoText(const Model& model, const DisassemblyOptions& options);

}  // namespace korvane
