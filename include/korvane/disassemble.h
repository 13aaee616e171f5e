// The disassembler: turns an SH-2 image into assembler source that this assembler
// rebuilds into the identical image, with a label at every branch and PC-relative
// target so that the source can be edited.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

// Addresses [begin, end); end may be 2^32.
struct AddressRange {
    std::uint32_t begin = 0;
    std::uint64_t end = 0;
};

struct DisassemblyOptions {
    std::string imageName;               // the image's file name, without directory
    std::uint32_t base = 0;              // the address of the image's first byte
    std::vector<std::uint32_t> entries;  // where code starts; the base when empty
    std::vector<AddressRange> code;      // forced code
    std::vector<AddressRange> data;      // forced data
};

// Where the sources go: one file after the other, each opened, written and closed.
class SourceOutput {
  public:
    virtual ~SourceOutput() = default;
    virtual bool open(const std::string& name) = 0;
    virtual bool write(std::string_view text) = 0;
    virtual bool close() = 0;
};

// The first line of every source the disassembler writes, up to the image's name.
inline constexpr std::string_view kDisassemblyHeader = "; korvane-dis: source of ";

class Disassembly {
  public:
    // Analyses the image (which must outlive this object): where code is, which
    // addresses need labels, and how the source is split into parts.
    Disassembly(std::span<const std::uint8_t> image, const DisassemblyOptions& options);
    ~Disassembly();
    Disassembly(const Disassembly&) = delete;
    Disassembly& operator=(const Disassembly&) = delete;

    // The files that write() makes, in the order they are assembled: the parts (if the
    // image needs more than one source), then IMAGE.s.
    const std::vector<std::string>& files() const;

    // Writes every file; false when the output refused.
    bool write(SourceOutput& out) const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// An address as the command line writes it: $6004000, 0x6004000 or decimal. False for
// anything else or a value past 32 bits.
bool parseAddress(std::string_view text, std::uint64_t& value);

}  // namespace korvane
