// Names of the SH7604's on-chip registers (the block at $FFFFFE00-$FFFFFFFF, from the
// SH7604 hardware manual's register map) and of the 32X system registers that its SH-2s
// see at $00004000 (and through the cache at $20004000).
#include <algorithm>
#include <iterator>

#include "korvane/analysis.h"

namespace korvane {

namespace {

struct Named {
    std::uint32_t address;
    std::string_view name;
};

// In address order.
constexpr Named kSh7604[] = {
    {0xFFFFFE00, "SMR"},     {0xFFFFFE01, "BRR"},     {0xFFFFFE02, "SCR"},     {0xFFFFFE03, "TDR"},
    {0xFFFFFE04, "SSR"},     {0xFFFFFE05, "RDR"},     {0xFFFFFE10, "TIER"},    {0xFFFFFE11, "FTCSR"},
    {0xFFFFFE12, "FRCH"},    {0xFFFFFE13, "FRCL"},    {0xFFFFFE14, "OCRH"},    {0xFFFFFE15, "OCRL"},
    {0xFFFFFE16, "TCR"},     {0xFFFFFE17, "TOCR"},    {0xFFFFFE18, "FICRH"},   {0xFFFFFE19, "FICRL"},
    {0xFFFFFE60, "IPRB"},    {0xFFFFFE62, "VCRA"},    {0xFFFFFE64, "VCRB"},    {0xFFFFFE66, "VCRC"},
    {0xFFFFFE68, "VCRD"},    {0xFFFFFE71, "DRCR0"},   {0xFFFFFE72, "DRCR1"},   {0xFFFFFE80, "WTCSR"},
    {0xFFFFFE81, "WTCNT"},   {0xFFFFFE82, "RSTCSR"},  {0xFFFFFE83, "RSTCSR"},  {0xFFFFFE91, "SBYCR"},
    {0xFFFFFE92, "CCR"},     {0xFFFFFEE0, "ICR"},     {0xFFFFFEE2, "IPRA"},    {0xFFFFFEE4, "VCRWDT"},
    {0xFFFFFF00, "DVSR"},    {0xFFFFFF04, "DVDNT"},   {0xFFFFFF08, "DVCR"},    {0xFFFFFF0C, "VCRDIV"},
    {0xFFFFFF10, "DVDNTH"},  {0xFFFFFF14, "DVDNTL"},  {0xFFFFFF40, "BARAH"},   {0xFFFFFF42, "BARAL"},
    {0xFFFFFF44, "BAMRAH"},  {0xFFFFFF46, "BAMRAL"},  {0xFFFFFF48, "BBRA"},    {0xFFFFFF60, "BARBH"},
    {0xFFFFFF62, "BARBL"},   {0xFFFFFF64, "BAMRBH"},  {0xFFFFFF66, "BAMRBL"},  {0xFFFFFF68, "BBRB"},
    {0xFFFFFF70, "BDRBH"},   {0xFFFFFF72, "BDRBL"},   {0xFFFFFF74, "BDMRBH"},  {0xFFFFFF76, "BDMRBL"},
    {0xFFFFFF78, "BRCR"},    {0xFFFFFF80, "SAR0"},    {0xFFFFFF84, "DAR0"},    {0xFFFFFF88, "TCR0"},
    {0xFFFFFF8C, "CHCR0"},   {0xFFFFFF90, "SAR1"},    {0xFFFFFF94, "DAR1"},    {0xFFFFFF98, "TCR1"},
    {0xFFFFFF9C, "CHCR1"},   {0xFFFFFFA0, "VCRDMA0"}, {0xFFFFFFA8, "VCRDMA1"}, {0xFFFFFFB0, "DMAOR"},
    {0xFFFFFFE0, "BCR1"},    {0xFFFFFFE4, "BCR2"},    {0xFFFFFFE8, "WCR"},     {0xFFFFFFEC, "MCR"},
    {0xFFFFFFF0, "RTCSR"},   {0xFFFFFFF4, "RTCNT"},   {0xFFFFFFF8, "RTCOR"},
};

// Offsets from $4000 of the 32X system registers, as the SH-2 sees them.
constexpr Named k32x[] = {
    {0x4000, "32X interrupt mask"},
    {0x4002, "32X stand-by change"},
    {0x4004, "32X H count"},
    {0x4006, "32X DREQ control"},
    {0x4008, "32X DREQ source high"},
    {0x400A, "32X DREQ source low"},
    {0x400C, "32X DREQ destination high"},
    {0x400E, "32X DREQ destination low"},
    {0x4010, "32X DREQ length"},
    {0x4012, "32X FIFO"},
    {0x4014, "32X VRES interrupt clear"},
    {0x4016, "32X V interrupt clear"},
    {0x4018, "32X H interrupt clear"},
    {0x401A, "32X CMD interrupt clear"},
    {0x401C, "32X PWM interrupt clear"},
    {0x4020, "32X COMM0"},
    {0x4022, "32X COMM1"},
    {0x4024, "32X COMM2"},
    {0x4026, "32X COMM3"},
    {0x4028, "32X COMM4"},
    {0x402A, "32X COMM5"},
    {0x402C, "32X COMM6"},
    {0x402E, "32X COMM7"},
    {0x4030, "32X PWM control"},
    {0x4032, "32X PWM cycle"},
    {0x4034, "32X PWM left width"},
    {0x4036, "32X PWM right width"},
    {0x4038, "32X PWM mono width"},
    {0x4100, "32X VDP bitmap mode"},
    {0x4102, "32X VDP screen shift"},
    {0x4104, "32X VDP fill length"},
    {0x4106, "32X VDP fill start"},
    {0x4108, "32X VDP fill data"},
    {0x410A, "32X VDP frame buffer control"},
    {0x4200, "32X palette"},
};

template <std::size_t N>
std::string_view lookUp(const Named (&table)[N], std::uint32_t address) {
    const auto it = std::lower_bound(std::begin(table), std::end(table), address,
                                     [](const Named& n, std::uint32_t a) { return n.address < a; });
    return it != std::end(table) && it->address == address ? it->name : std::string_view{};
}

}  // namespace

std::string_view registerName(std::uint32_t address, bool thirtyTwoX) {
    if (address >= 0xFFFFFE00u) return lookUp(kSh7604, address);
    if (thirtyTwoX && (address & ~0x20000000u) < 0x10000u) return lookUp(k32x, address & 0xFFFFu);
    return {};
}

}  // namespace korvane
