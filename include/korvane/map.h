// A map of a disassembly as one self-contained HTML page: the image as a band coloured
// by what each byte is, the functions with their callers, callees and the tables and
// pointers they read, and the worklist of what stays unknown. The page is written from
// the model only; where each function starts in the sources is noted while they are
// written (watch), so that the sources are not read again.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "korvane/disassemble.h"

namespace korvane {

// The first line of every map page korvane-dis writes, up to the image's name; the
// second line holds the fingerprint of the page's text, as a source's does.
inline constexpr std::string_view kMapHeader = "<!-- korvane-dis: map of ";

// The kinds of bytes the band shows, in the order of the legend.
enum class MapKind : std::uint8_t {
    Instruction,
    Literal,
    JumpTable,
    PointerTable,
    Text,
    Fill,
    Data,
    MaybeCode,      // an unknown: data that may be code
    OpenTable,      // an unknown: a jump table of unknown length
    MaybePointer,   // an unknown: a number that may be a pointer
};
inline constexpr std::size_t kMapKinds = 10;
std::string_view mapKindName(MapKind kind);

// A run of the band: count items of one kind and size side by side.
struct MapRun {
    MapKind kind;
    ItemKind item;
    std::uint32_t address;  // of the first item
    std::uint32_t size;     // of each item
    std::uint32_t count;
};
// The band of a disassembly: every byte of the image in one run, in image order.
std::vector<MapRun> mapRuns(const Disassembly& disassembly);

// Where a line of the sources stands.
struct SourcePlace {
    std::string file;
    std::size_t line = 0;  // 1-based
};

class MapPage {
  public:
    // The disassembly (which must outlive this object) and the options it was made with.
    MapPage(const Disassembly& disassembly, const DisassemblyOptions& options);
    ~MapPage();
    MapPage(const MapPage&) = delete;
    MapPage& operator=(const MapPage&) = delete;

    // An output that passes everything to out and notes the line where each label is
    // defined. Each watcher may be used on a thread of its own; make them all
    // on one thread, before the writing starts.
    std::unique_ptr<SourceOutput> watch(SourceOutput& out);
    // Where a label is defined in the sources written through the watchers, if seen.
    const SourcePlace* placeOf(std::uint32_t address) const;

    // Works out what the page shows but where the functions start: the model is only
    // read, so this may run beside the writing of the sources (on one thread; the model
    // answers from caches it makes on its first question, so nothing else may ask it
    // meanwhile).
    void prepare();
    // The page, with its header and fingerprint (prepared first where it was not).
    std::string text();

  private:
    struct Watcher;
    const Disassembly& dis_;
    const DisassemblyOptions& options_;
    std::vector<Function> functions_;  // once prepared
    std::unordered_map<std::string, std::uint32_t> labels_;  // the user's labels -> their addresses
    std::vector<std::unique_ptr<std::vector<std::pair<std::uint32_t, SourcePlace>>>> seen_;
    mutable std::unordered_map<std::uint32_t, SourcePlace> places_;
    mutable bool placesMade_ = false;
    std::string data_;  // the model's data but the functions, as JSON
    bool prepared_ = false;
};

}  // namespace korvane
