// Whether a file is a source the disassembler wrote and nobody changed: its first line
// is the disassembler's header, its second line's fingerprint matches the rest.
#include "disasm/fingerprint.h"
#include "korvane/disassemble.h"

namespace korvane {

namespace {
constexpr std::size_t kLongestFirstLine = 4096;
}

struct SourceCheck::State {
    enum class Phase { FirstLine, Lead, Digits, Rest, Bad } phase = Phase::FirstLine;
    std::size_t at = 0;  // bytes read in the current phase
    bool headerSeen = false;
    std::uint64_t recorded = 0;
    detail::Fingerprint fingerprint;

    void byte(char c) {
        switch (phase) {
            case Phase::FirstLine:
                if (at < kDisassemblyHeader.size() && c != kDisassemblyHeader[at]) {
                    phase = Phase::Bad;
                    return;
                }
                fingerprint.add(std::string_view(&c, 1));
                if (++at == kDisassemblyHeader.size()) headerSeen = true;
                if (c == '\n') {
                    phase = headerSeen ? Phase::Lead : Phase::Bad;
                    at = 0;
                } else if (at > kLongestFirstLine) {
                    phase = Phase::Bad;
                }
                return;
            case Phase::Lead:
                if (c != detail::kFingerprintLead[at]) {
                    phase = Phase::Bad;
                    return;
                }
                fingerprint.add(std::string_view(&c, 1));
                if (++at == detail::kFingerprintLead.size()) {
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

SourceCheck::SourceCheck() : state_(std::make_unique<State>()) {}
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

bool SourceCheck::unchanged() const {
    const State& s = *state_;
    return s.phase == State::Phase::Rest && s.fingerprint.value() == s.recorded;
}

}  // namespace korvane
