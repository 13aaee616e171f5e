// What a Saturn program or a 32X ROM says about itself: where it loads, where it
// starts, where its vector tables are.
#include <algorithm>
#include <cstdio>

#include "disasm/grammar/grammar.h"
#include "korvane/dis_inputs.h"
#include "korvane/numbers.h"

namespace korvane {

namespace {

constexpr std::uint32_t kSaturnLoad = 0x06004000;     // where a first-read file loads
constexpr std::string_view kSaturnId = "SEGA SEGASATURN ";
constexpr std::size_t kIpFirstRead = 0xF0;            // first-read address, then its size

constexpr std::uint32_t kCartridge = 0x02000000;  // the 32X cartridge, as the SH-2s see it
constexpr std::uint32_t kSdram = 0x06000000;
constexpr std::uint32_t kSdramSize = 0x40000;
constexpr std::size_t kMarsHeader = 0x3C0;        // module name (16 bytes), then:
constexpr std::size_t kMarsVersion = 0x3D0;
constexpr std::size_t kMarsSource = 0x3D4;        // ROM offset of the SH-2 code
constexpr std::size_t kMarsDestination = 0x3D8;   // its offset in SDRAM
constexpr std::size_t kMarsSize = 0x3DC;
constexpr std::size_t kMarsMaster = 0x3E0;        // entries, then VBRs, master and slave
constexpr std::size_t kMarsSlave = 0x3E4;
constexpr std::size_t kMarsMasterVbr = 0x3E8;
constexpr std::size_t kMarsSlaveVbr = 0x3EC;

std::uint32_t longAt(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3];
}

bool startsWith(std::span<const std::uint8_t> b, std::string_view s) {
    return b.size() >= s.size() && std::equal(s.begin(), s.end(), b.begin(),
                                              [](char c, std::uint8_t u) { return static_cast<std::uint8_t>(c) == u; });
}

std::string saturn(std::span<const std::uint8_t> image, std::span<const std::uint8_t> ip, bool baseGiven,
                   DisassemblyOptions& o) {
    if (startsWith(image, kSaturnId))
        return "the image is an IP.BIN (a Saturn disc's boot header), not a program; give it with --ip "
               "and disassemble the first-read file";
    std::uint32_t load = kSaturnLoad;
    if (!ip.empty()) {
        if (!startsWith(ip, kSaturnId) || ip.size() < kIpFirstRead + 8)
            return "the IP.BIN does not begin with \"SEGA SEGASATURN \"";
        load = longAt(ip, kIpFirstRead);
        const std::uint32_t size = longAt(ip, kIpFirstRead + 4);
        if (size != 0 && size != image.size())
            return "the IP.BIN says the first-read file has " + std::to_string(size) + " bytes, the image has " +
                   std::to_string(image.size());
        o.notes.push_back("Saturn program: the IP.BIN's first-read address is " + dis::addressText(load));
    } else {
        o.notes.push_back("Saturn program: loaded at " + dis::addressText(load) + ", started at its first byte");
    }
    if (!baseGiven) o.base = load;
    if (o.entries.empty()) o.entries.push_back(o.base);
    return {};
}

std::string thirtyTwoX(std::span<const std::uint8_t> image, bool baseGiven, DisassemblyOptions& o) {
    if (image.size() < 0x400) return "the image is too short for a 32X ROM (its header ends at $3F0)";
    const std::uint32_t source = longAt(image, kMarsSource);
    const std::uint32_t destination = longAt(image, kMarsDestination);
    const std::uint32_t size = longAt(image, kMarsSize);
    if (size == 0 || (source & 1) || (destination & 1) || std::uint64_t{source} + size > image.size() ||
        std::uint64_t{destination} + size > kSdramSize)
        return "the 32X header at $3C0 does not hold: its SH-2 code (ROM offset " + dis::addressText(source) + ", " +
               std::to_string(size) + " bytes, to SDRAM offset " + dis::addressText(destination) +
               ") is not inside the ROM or SDRAM";
    if (baseGiven && o.base != kCartridge) return "a 32X ROM is at $02000000; --base cannot move it";
    o.base = kCartridge;
    o.thirtyTwoX = true;
    o.segments.push_back({source, size, kSdram + destination});
    auto inCode = [&](std::uint32_t a) { return a >= kSdram + destination && a - (kSdram + destination) < size; };
    for (const std::size_t at : {kMarsMaster, kMarsSlave}) {
        const std::uint32_t e = longAt(image, at);
        if (inCode(e) && !(e & 1)) o.entries.push_back(e);
    }
    for (const std::size_t at : {kMarsMasterVbr, kMarsSlaveVbr}) {
        const std::uint32_t v = longAt(image, at);
        if (inCode(v) && inCode(v + 3)) o.vectors.push_back(v);
    }
    std::string name;
    for (std::size_t i = kMarsHeader; i < kMarsVersion; ++i) {
        const char c = static_cast<char>(image[i]);
        name += c >= 0x20 && c < 0x7F && c != '"' ? c : '.';
    }
    o.notes.push_back("32X ROM \"" + name + "\", version " + dis::addressText(longAt(image, kMarsVersion)) +
                      ": the ROM is data at $02000000 but for its SH-2 code,");
    o.notes.push_back("ROM offset " + dis::addressText(source) + ", " + std::to_string(size) + " bytes, run at " +
                      dis::addressText(kSdram + destination) + "; master entry " + dis::addressText(longAt(image, kMarsMaster)) +
                      ", slave " + dis::addressText(longAt(image, kMarsSlave)) + ", VBRs " +
                      dis::addressText(longAt(image, kMarsMasterVbr)) + " and " + dis::addressText(longAt(image, kMarsSlaveVbr)));
    return {};
}

}  // namespace

std::string applyFormat(ImageFormat format, std::span<const std::uint8_t> image, std::span<const std::uint8_t> ipBin,
                        bool baseGiven, DisassemblyOptions& options) {
    switch (format) {
        case ImageFormat::Flat:
            return {};
        case ImageFormat::Saturn:
            return saturn(image, ipBin, baseGiven, options);
        case ImageFormat::ThirtyTwoX:
            return thirtyTwoX(image, baseGiven, options);
    }
    return {};
}

}  // namespace korvane
