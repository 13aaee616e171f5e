// Whether a file is a source the disassembler wrote and nobody changed: its first line
// is the disassembler's header, its second line's fingerprint matches the rest.
#include "disasm/grammar/grammar.h"
#include "korvane/dis_sources.h"
#include "korvane/map.h"

namespace korvane {

namespace {
constexpr std::size_t kLongestFirstLine = 4096;
}

struct SourceCheck::State {
    explicit State(Written kind)
        : header(kind == Written::Source ? kDisassemblyHeader : kind == Written::Info ? kInfoHeader : kMapHeader),
          lead(kind == Written::Source ? detail::kFingerprintLead
               : kind == Written::Info ? detail::kInfoFingerprintLead
                                       : detail::kMapFingerprintLead) {}
    std::string_view header, lead;
    enum class Phase { FirstLine, Lead, Digits, Rest, Bad } phase = Phase::FirstLine;
    std::size_t at = 0;  // bytes read in the current phase
    bool headerSeen = false;
    std::uint64_t recorded = 0;
    detail::Fingerprint fingerprint;

    void byte(char c) {
        switch (phase) {
            case Phase::FirstLine:
                if (at < header.size() && c != header[at]) {
                    phase = Phase::Bad;
                    return;
                }
                fingerprint.add(std::string_view(&c, 1));
                if (++at == header.size()) headerSeen = true;
                if (c == '\n') {
                    phase = headerSeen ? Phase::Lead : Phase::Bad;
                    at = 0;
                } else if (at > kLongestFirstLine) {
                    phase = Phase::Bad;
                }
                return;
            case Phase::Lead:
                if (c != lead[at]) {
                    phase = Phase::Bad;
                    return;
                }
                fingerprint.add(std::string_view(&c, 1));
                if (++at == lead.size()) {
                    phase = Phase::Digits;
                    at = 0;
                }
                return;
            case Phase::Digits: {
                const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
                if (d < 0) {
                    phase = Phase::Bad;
                    return;
                }
                recorded = recorded << 4 | static_cast<unsigned>(d);
                if (++at == detail::kFingerprintDigits) phase = Phase::Rest;
                return;
            }
            case Phase::Rest:
            case Phase::Bad:
                return;
        }
    }
};

SourceCheck::SourceCheck(Written kind) : state_(std::make_unique<State>(kind)) {}
SourceCheck::~SourceCheck() = default;

void SourceCheck::add(std::string_view bytes) {
    State& s = *state_;
    while (!bytes.empty() && s.phase != State::Phase::Rest && s.phase != State::Phase::Bad) {
        s.byte(bytes.front());
        bytes.remove_prefix(1);
    }
    if (s.phase == State::Phase::Rest) s.fingerprint.add(bytes);
}

bool SourceCheck::fromDisassembler() const {
    return state_->headerSeen;
}

std::uint64_t SourceCheck::recorded() const {
    return state_->phase == State::Phase::Rest ? state_->recorded : 0;
}

bool SourceCheck::unchanged() const {
    const State& s = *state_;
    return s.phase == State::Phase::Rest && s.fingerprint.value() == s.recorded;
}

std::vector<RecordedPart> recordedParts(std::string_view text) {
    std::vector<RecordedPart> parts;
    // The header's comment lines, up to the first statement.
    while (!text.empty() && text.front() == ';') {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.substr(0, dis::kPartLead.size()) != dis::kPartLead) continue;
        line.remove_prefix(dis::kPartLead.size());
        std::uint32_t high, low;
        if (line.size() < 18 || line[16] != ' ' || !dis::hexNumber(line.substr(0, 8), high) ||
            !dis::hexNumber(line.substr(8, 8), low))
            continue;
        parts.push_back({std::string(line.substr(17)), std::uint64_t{high} << 32 | low});
    }
    return parts;
}

}  // namespace korvane
