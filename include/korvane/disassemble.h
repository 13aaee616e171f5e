// The disassembler: a Disassembly analyses an SH-2 image (what is at every address and
// why) and writes it as assembler source that korvane rebuilds into the identical
// image, with a label wherever code or data names an address. This header gathers
// what a caller of the disassembler uses: its inputs (dis_inputs.h), the sources and
// their checks (dis_sources.h) and the numbers of command lines (numbers.h).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "korvane/analysis.h"
#include "korvane/dis_inputs.h"
#include "korvane/dis_sources.h"
#include "korvane/disassembly_options.h"
#include "korvane/numbers.h"

namespace korvane {

class Disassembly;

// Why these options cannot be used with this image (an entry or range outside it or at
// an odd address, an image that passes 2^32, a name that cannot stand in a source), or
// "" when they can.
std::string checkOptions(std::span<const std::uint8_t> image, const DisassemblyOptions& options);

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

// The info file of what a disassembly found (entries, names, tables, functions), in
// the format readInfo takes; what the analysis finds again by itself is a comment.
std::string infoOf(const Disassembly& disassembly, const DisassemblyOptions& options);

}  // namespace korvane
