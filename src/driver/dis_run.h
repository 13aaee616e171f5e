// The pieces of the korvane-dis command that its run and its --check share: how it
// speaks (standard error, the catalogue's texts, the status), how it reads files, the
// sources' files (judged, written side by side, to standard output), and --check.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "driver/dis_command.h"
#include "files/replace.h"
#include "korvane/disassemble.h"
#include "korvane/files.h"
#include "korvane/map.h"

namespace korvane::dis_run {

using command::Say;
using files::Judgement;

inline constexpr std::uint64_t kLargestImage = 16u << 20;
// A source korvane-dis writes for the largest image is well below this (about 7 bytes of
// text an image byte at most).
inline constexpr std::uint64_t kLargestSource = 1u << 30;
// What a refusal to replace a source adds.
inline constexpr const char* kWay = "; move it away, or write the source elsewhere with -o NAME";

// Text on standard error.
void say(std::string_view text);
// "korvane-dis: " and the catalogue's text (or why) on standard error: status 1.
int error(Say code, const command::Blanks& blanks = {});
int error(const std::string& why);

// A whole file (a pipe too, where pipes), at most largest bytes; seen: what it was.
bool readAll(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& why,
             std::uint64_t largest = kLargestImage, bool pipes = false, files::Seen* seen = nullptr);
// The first bytes of a file (its header), at most n.
std::string headOf(const std::string& path, std::size_t n);
// The parts a top source names that are not as it wrote them (judged by name).
std::vector<std::string> mixedParts(std::string_view top, const std::map<std::string, Judgement>& known,
                                    const std::string& directory);
// What may be replaced: the top source and every part an earlier run left.
std::map<std::string, Judgement> judgeSources(const std::string& directory, const std::string& top);
// Writes the sources into the set (the parts side by side); "" or the first not written.
std::string writeSources(const Disassembly& dis, files::FileSet& files, const std::string& directory, MapPage* map);
// The single source of -o -, written to standard output when complete.
bool writeToStandardOutput(const Disassembly& dis);

// The image and what the command line says beside it (its format and IP.BIN, info
// files, symbols, traces) read into image and options: 0, or the status of the error
// (said). tracedOutside: a trace logged addresses outside the image.
int readInputs(const command::Parsed& p, DisassemblyOptions& options, std::vector<std::uint8_t>& image,
               bool& tracedOutside);
// An address as the messages write it.
std::string addressText(std::uint64_t a);
// --why: every fact about each address, one line each, on standard output.
int explain(const Model& model, const std::vector<std::uint32_t>& addresses, bool traced);

// --find-base: the candidate bases on standard output, best first.
int findBase(std::span<const std::uint8_t> image, std::uint32_t given);

// --check SOURCE --unknowns, and --check SOURCE [--write [-o OUT]] (temps: the run's
// temporary files): the status.
int unknowns(const std::string& path);
int check(const std::string& path, bool writeBack, const std::string& output, files::TempList& temps);

}  // namespace korvane::dis_run
