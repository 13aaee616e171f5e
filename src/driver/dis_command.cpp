// korvane-dis's option table and message catalogue, and the parser, usage and help
// made from them.
#include "driver/dis_command.h"

#include <algorithm>
#include <array>

namespace korvane::command {

namespace {

constexpr SayTemplate kCatalogue[] = {
    {Say::NoImage, 2, "no image named"},
    {Say::OneImage, 2, "one image at a time"},
    {Say::UnknownOption, 2, "unknown option {opt}"},
    {Say::NeedsAddress, 2, "{opt} needs an address"},
    {Say::NeedsRange, 2, "{opt} needs a range ADDR-ADDR"},
    {Say::NeedsFile, 2, "{opt} needs a file name"},
    {Say::NeedsFormat, 2, "--format needs flat, saturn or 32x"},
    {Say::NeedsSource, 2, "--check needs a source"},
    {Say::CheckTakesSource, 2, "--check takes a source, not an image"},
    {Say::WriteGoesWithCheck, 2, "--write goes with --check"},
    {Say::UnknownsGoWithCheck, 2, "--unknowns goes with --check, without --write"},
    {Say::NotForCheck, 2, "{opt} does not apply to --check"},
    {Say::OutputWithoutWrite, 2, "-o goes with --check only beside --write"},
    {Say::CheckToStandardOutput, 2, "--check --write writes a file: -o - is for a disassembly"},
    {Say::IpWithoutSaturn, 2, "--ip goes with --format saturn"},
    {Say::ElfImage, 1,
     "{name} is an ELF file, not a flat image; extract its code with\n  sh-elf-objcopy -O binary {other}\nand "
     "disassemble that (or give --flat to take the file as it is)"},
    {Say::OutputIsDirectory, 1, "-o needs a file name, not a directory"},
    {Say::ReplacesImage, 1, "assembling {name} would replace the image itself; choose another -o"},
    {Say::PartsToStandardOutput, 1,
     "the image needs {count} parts; -o - writes a single source only: name the top source with -o NAME"},
    {Say::InfoOutToStandardOutput, 1, "--info-out goes with a source written to a file, not -o -"},
    {Say::InfoOutIsOwnFile, 1, "--info-out {name} names a file this run reads or writes ({other}); name another"},
    {Say::MapToStandardOutput, 1, "--map goes with a source written to a file, not -o -"},
    {Say::MapIsOwnFile, 1, "--map {name} names a file this run reads or writes ({other}); name another"},
    {Say::CannotWrite, 1, "cannot write {name}"},
    {Say::CannotWriteStandardOutput, 1, "cannot write the standard output"},
    {Say::CheckedLink, 1, "{name} is a symbolic link; --write replaces files, not links: give the file itself"},
    {Say::CheckedReadOnly, 1,
     "{name} is read-only; --write does not replace it: make it writable, or write the checked source elsewhere "
     "with -o NAME"},
    {Say::CheckedOutputExists, 1, "{name} exists; --check --write -o writes a new file only: name another, or remove it"},
    {Say::CheckedOtherUser, 1,
     "{name} belongs to another user; --write does not take it over: write the checked source elsewhere with -o NAME"},
    {Say::CheckedChanged, 1, "{name} was changed while korvane-dis checked it; it is not replaced: check it again"},
    {Say::CheckedMixedSet, 1,
     "{name}: {other} is not the part this source was written with (a run was stopped while it replaced the set); "
     "run korvane-dis again to write the whole set"},
    {Say::CheckedPartsElsewhere, 1,
     "{name} is the top source of a set of parts: --write rewrites its parts in place; -o is for a source of one part"},
    {Say::SystemRefused, 1, "the system refused what the run needed: {why}"},
    {Say::OutOfMemory, 1, "out of memory"},
    {Say::MixedSetReplaced, 0,
     "{name} was not the part {other} was written with (a run was stopped while it replaced the set); the whole set "
     "is replaced"},
    {Say::TraceBoth, 0, "{name}: {other} was both executed and read as data; taken as code"},
};

constexpr OptionRow kOptions[] = {
    {"--base", "", Takes::Address, "ADDR", false, false, "address of the image's first byte (default 0)"},
    {"--entry", "", Takes::Address, "ADDR", true, false, "where code starts (default: the base); may be repeated"},
    {"--code", "", Takes::Range, "ADDR-ADDR", true, false, "take this range as code (its end excluded); may be repeated"},
    {"--data", "", Takes::Range, "ADDR-ADDR", true, false, "take this range as data; may be repeated"},
    {"--vectors", "", Takes::Address, "ADDR", true, false, "an SH-2 exception vector table: its PCs are entries"},
    {"--no-guess", "", Takes::Nothing, "", false, false, "code only where paths and the options lead, none by evidence"},
    {"--format", "", Takes::Format, "flat|saturn|32x", false, false,
     "flat (the default); saturn: a program loaded at $6004000\n(or where --ip IP.BIN says); 32x: a 32X ROM, read "
     "from its header"},
    {"--ip", "", Takes::File, "IP.BIN", false, false, "the Saturn IP.BIN that says where the program loads"},
    {"--info", "", Takes::File, "FILE", true, false,
     "names, entries, ranges, tables, comments and constants (README);\nof another image: where it calls into this one"},
    {"--symbols", "", Takes::File, "FILE", false, false, "names from nm output, NAME = ADDR or ADDR NAME lines"},
    {"--info-out", "", Takes::File, "FILE", false, false, "write what was found as an info file to start from"},
    {"--map", "", Takes::File, "FILE.html", false, false,
     "write a map of what was found: one page to open in a browser\n(the image as a band, the functions, the unknowns)"},
    {"--trace", "", Takes::File, "FILE[@BASE]", true, false,
     "addresses an emulator saw run are code: one address or A-B a\nline, or qemu's -d in_asm log; FILE@BASE: a "
     "code/data log,\none byte per address from BASE (bit 0 run, bit 1 read)"},
    {"--output", "-o", Takes::File, "SOURCE", false, true,
     "write the top source as SOURCE (parts are named after it);\n-o - writes a source of one part to standard "
     "output;\nwith --check --write: the checked source as a new file"},
    {"--flat", "", Takes::Nothing, "", false, false, "take an image that starts like an ELF file as flat bytes"},
    {"--why", "", Takes::Address, "ADDR", true, false,
     "say what is at ADDR and why (label, code, function, table,\npointer or number, with the evidence); writes no "
     "source"},
    {"--check", "", Takes::Source, "SOURCE", false, true,
     "assemble an edited disassembly in memory and report what no\nlonger holds (table entries, loads in delay "
     "slots, stale pointers)"},
    {"--write", "", Takes::Nothing, "", false, true, "with --check: rewrite those numbers in SOURCE"},
    {"--unknowns", "", Takes::Nothing, "", false, true,
     "with --check: list what stays unknown in SOURCE, each with the\ninfo-file line that settles it"},
    {"--help", "-h", Takes::Nothing, "", false, true, "this text"},
    {"--version", "-V", Takes::Nothing, "", false, true, "the version"},
};

constexpr bool inOrder() {
    for (std::size_t i = 0; i < std::size(kCatalogue); ++i) {
        if (static_cast<std::size_t>(kCatalogue[i].code) != i) return false;
    }
    return true;
}
static_assert(inOrder(), "the catalogue lists the messages in the order of Say");

const OptionRow* find(std::string_view name) {
    for (const OptionRow& o : kOptions) {
        if (o.name == name || (!o.brief.empty() && o.brief == name)) return &o;
    }
    return nullptr;
}

}  // namespace

std::span<const SayTemplate> catalogue() {
    return kCatalogue;
}

std::string text(Say code, const Blanks& b) {
    std::string out(kCatalogue[static_cast<std::size_t>(code)].text);
    for (const auto& [blank, value] : {std::pair<std::string_view, std::string_view>{"{opt}", b.opt},
                                       {"{name}", b.name}, {"{other}", b.other}, {"{count}", b.count},
                                       {"{why}", b.why}}) {
        for (std::size_t at = out.find(blank); at != std::string::npos; at = out.find(blank, at + value.size()))
            out.replace(at, blank.size(), value);
    }
    return out;
}

std::span<const OptionRow> options() {
    return kOptions;
}

std::string parse(int argc, char** argv, Parsed& p) {
    bool optionsEnd = false;
    std::vector<std::string> notForCheck;  // options given that --check does not take
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (optionsEnd || arg.empty() || arg[0] != '-' || arg == "-") {
            if (!p.image.empty()) return text(Say::OneImage);
            p.image = arg;
            continue;
        }
        if (arg == "--") {
            optionsEnd = true;
            continue;
        }
        // --opt value or --opt=value.
        std::string_view inlineValue;
        bool hasInline = false;
        if (const std::size_t eq = arg.find('='); eq != std::string_view::npos && arg[1] == '-') {
            inlineValue = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasInline = true;
        }
        const OptionRow* o = find(arg);
        if (o == nullptr || (hasInline && o->takes == Takes::Nothing)) return text(Say::UnknownOption, {.opt = arg});
        if (!o->withCheck) notForCheck.emplace_back(arg);
        const char* v = nullptr;
        if (o->takes != Takes::Nothing) v = hasInline ? inlineValue.data() : i + 1 < argc ? argv[++i] : nullptr;
        const std::string_view value = v == nullptr ? std::string_view() : v;
        const std::string_view name = o->name;
        switch (o->takes) {
            case Takes::Nothing:
                if (name == "--help") p.help = true;
                if (name == "--version") p.version = true;
                if (name == "--write") p.write = true;
                if (name == "--unknowns") p.unknowns = true;
                if (name == "--flat") p.flat = true;
                if (name == "--no-guess") p.disassembly.guess = false;
                if (p.help || p.version) return "";
                break;
            case Takes::Address: {
                std::uint64_t a;
                if (v == nullptr || !parseAddress(value, a) || a > 0xFFFFFFFFull) return text(Say::NeedsAddress, {.opt = arg});
                const auto address = static_cast<std::uint32_t>(a);
                if (name == "--base") {
                    p.base = address;
                    p.baseGiven = true;
                } else if (name == "--entry") {
                    p.disassembly.entries.push_back(address);
                } else if (name == "--vectors") {
                    p.disassembly.vectors.push_back(address);
                } else {
                    p.whys.push_back(address);
                }
                break;
            }
            case Takes::Range: {
                AddressRange range;
                if (v == nullptr || !parseRange(value, range)) return text(Say::NeedsRange, {.opt = arg});
                if (name == "--code") {
                    p.disassembly.code.push_back(range);
                } else {
                    p.disassembly.data.push_back({range});
                }
                break;
            }
            case Takes::Format:
                if (value == "flat") {
                    p.format = ImageFormat::Flat;
                } else if (value == "saturn") {
                    p.format = ImageFormat::Saturn;
                } else if (value == "32x" || value == "32X") {
                    p.format = ImageFormat::ThirtyTwoX;
                } else {
                    return text(Say::NeedsFormat);
                }
                break;
            case Takes::Source:
                if (value.empty()) return text(Say::NeedsSource);
                p.check = value;
                break;
            case Takes::File:
                if (value.empty()) return text(Say::NeedsFile, {.opt = arg});
                if (name == "--trace" || name == "--info") {
                    (name == "--trace" ? p.traces : p.infos).emplace_back(value);
                    break;
                }
                (name == "--symbols"    ? p.symbols
                 : name == "--info-out" ? p.infoOut
                 : name == "--map"      ? p.map
                 : name == "--ip"       ? p.ip
                                        : p.output) = value;
                break;
        }
    }
    if (!p.check.empty()) {
        if (!p.image.empty()) return text(Say::CheckTakesSource);
        if (!notForCheck.empty()) return text(Say::NotForCheck, {.opt = notForCheck.front()});
        if (p.unknowns && (p.write || !p.output.empty())) return text(Say::UnknownsGoWithCheck);
        if (!p.output.empty() && !p.write) return text(Say::OutputWithoutWrite);
        if (p.output == "-") return text(Say::CheckToStandardOutput);
        return "";
    }
    if (p.write) return text(Say::WriteGoesWithCheck);
    if (p.unknowns) return text(Say::UnknownsGoWithCheck);
    if (p.image.empty()) return text(Say::NoImage);
    if (!p.ip.empty() && p.format != ImageFormat::Saturn) return text(Say::IpWithoutSaturn);
    return "";
}

std::string usage() {
    // The disassembly's options, then --check's, then help and version.
    std::string line = "usage: korvane-dis IMAGE";
    std::string out;
    constexpr std::size_t kWidth = 88;
    constexpr std::string_view kIndent = "                  ";  // under IMAGE
    for (const OptionRow& o : kOptions) {
        if (o.withCheck && o.brief != "-o") continue;  // --check's own line follows
        std::string word = "[";
        word += o.brief.empty() ? o.name : o.brief;
        if (o.takes != Takes::Nothing) {
            word += ' ';
            word += o.value;
        }
        word += ']';
        if (o.repeats) word += "...";
        if (line.size() + 1 + word.size() > kWidth) {
            out += line;
            out += '\n';
            line = kIndent;
        }
        line += ' ';
        line += word;
    }
    out += line;
    out += '\n';
    out += "       korvane-dis --check SOURCE [--write [-o OUT] | --unknowns]\n";
    out += "       korvane-dis -h | --help | -V | --version\n";
    return out;
}

std::string help() {
    std::string out = "Writes IMAGE.s, an SH-2 source that korvane rebuilds into IMAGE byte for byte.\n\n";
    for (const OptionRow& o : kOptions) {
        std::string left = "  ";
        if (!o.brief.empty()) {
            left += o.brief;
            left += ", ";
        }
        left += o.name;
        if (o.takes != Takes::Nothing) {
            left += ' ';
            left += o.value;
        }
        std::string_view rest = o.help;
        bool first = true;
        while (!rest.empty() || first) {
            const std::size_t nl = rest.find('\n');
            std::string l = first ? left : std::string();
            if (l.size() >= 24) {  // a long name: its text on the next line
                out += l;
                out += '\n';
                l.clear();
            }
            l.resize(24, ' ');
            out += l;
            out += rest.substr(0, nl);
            out += '\n';
            rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
            first = false;
        }
    }
    out += "  --                    everything after it is the image's name\n";
    out += "ADDR is $6004000, 0x6004000 or decimal; --opt=value is the same as --opt value.\n";
    out += "A source is replaced only while it is exactly as korvane-dis wrote it.\n";
    return out;
}

}  // namespace korvane::command
