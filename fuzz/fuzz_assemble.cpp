// libFuzzer target: assembles arbitrary bytes in memory and checks the assembler's
// promises, so that logic faults show up as well as crashes:
// - the image holds exactly as many bytes as the run says it wrote;
// - the listing has one line per statement reached and, after a successful run, the
//   label block that matches the label count;
// - a failed run always reports one of the assembler's messages;
// - a successful run leaves no placeholder behind (two runs with different
//   placeholder bytes give the same image);
// - the same input assembled twice gives the same result.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "driver/test_seam.h"
#include "korvane/korvane.h"

namespace {

// An image device that refuses to grow past a cap, so that ORG $FFFFFFFF stops early
// (as a full disk would) instead of filling 4 GiB.
class CappedSink : public korvane::MemorySink {
  public:
    explicit CappedSink(std::string name) : MemorySink(std::move(name)) {}
    bool append(std::span<const std::uint8_t> bytes) override {
        if (bytes.size() > kCap - this->bytes().size()) {
            refused = true;
            return false;
        }
        return MemorySink::append(bytes);
    }
    bool refused = false;

  private:
    static constexpr std::size_t kCap = 16u << 20;
};

class StringFile : public korvane::IncludeFile {
  public:
    explicit StringFile(std::string_view data) : data_(data) {}
    std::uint64_t size() const override { return data_.size(); }
    std::ptrdiff_t read(std::span<std::uint8_t> buf) override {
        const std::size_t n = std::min(buf.size(), data_.size() - pos_);
        std::memcpy(buf.data(), data_.data() + pos_, n);
        pos_ += n;
        return static_cast<std::ptrdiff_t>(n);
    }

  private:
    std::string_view data_;
    std::size_t pos_ = 0;
};

class FuzzIncludes : public korvane::IncludeOpener {
  public:
    korvane::Included open(std::string_view name) override {
        static const std::string big(5000, '\x5A');
        if (name == "a.bin") return std::make_unique<StringFile>("\x01\x02\x03");
        if (name == "big.bin") return std::make_unique<StringFile>(big);
        if (name == "empty.bin") return std::make_unique<StringFile>("");
        if (name == "fuzz.bin" || name == "fuzz.log") return korvane::Included::outputOfThisRun();
        return nullptr;
    }
};

struct Run {
    korvane::Result result;
    std::string bin;
    bool binRefused = false;  // the capped image device refused bytes
    std::string log;
};

Run assembleOnce(const std::uint8_t* data, std::size_t size, std::uint8_t placeholder) {
    korvane::MemorySource source(std::string_view(reinterpret_cast<const char*>(data), size));
    CappedSink bin("fuzz.bin");
    korvane::MemorySink log("fuzz.log");
    FuzzIncludes includes;
    Run r;
    r.result =
        korvane::detail::assembleWithPlaceholder(source, bin, log, includes, {}, placeholder);
    r.bin = bin.bytes();
    r.binRefused = bin.refused;
    r.log = log.bytes();
    return r;
}

[[noreturn]] void broken(const char* what, const Run& r) {
    std::fprintf(stderr, "invariant broken: %s\nmessage: %s\n", what,
                 r.result.ok ? "(success)" : r.result.diagnostic.text.c_str());
    std::abort();
}

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

// A message of the catalogue, its blanks filled with what the diagnostic names: a line
// number exactly where the text has one, a name exactly where it has one, and names of
// the right kind (labels of 20 characters, a mnemonic of 7, an output of this run).
bool knownMessage(const korvane::Result& r) {
    using korvane::Message;
    const korvane::Diagnostic& d = r.diagnostic;
    const auto catalogue = korvane::messageCatalogue();
    if (static_cast<std::size_t>(d.code) >= catalogue.size()) return false;
    const std::string_view text = catalogue[static_cast<std::size_t>(d.code)].text;
    const bool hasLine = text.find("{line}") != std::string_view::npos;
    const bool hasName = text.find("{name}") != std::string_view::npos ||
                         text.find("{mnemonic}") != std::string_view::npos;
    if (hasLine != (d.line != 0) || hasName != !d.name.empty()) return false;
    if (d.text != korvane::messageText(d.code, d.line, d.name)) return false;
    switch (d.code) {
        case Message::DuplicateLabel:
        case Message::LabelUndefined:
            return d.name.size() == 20;
        case Message::IncorrectOperand:
            return d.name.size() == 7;
        case Message::CannotWrite:
            return d.name == "fuzz.bin";
        case Message::IncludedFileIsOutput:
            return d.name == "fuzz.bin" || d.name == "fuzz.log";
        case Message::EmptySource:
        case Message::CannotRead:
        case Message::IncludedFileTooLarge:
            return false;  // not with sources and files in memory
        default:
            return true;
    }
}

void checkRun(const Run& r) {
    // The capped device refuses the block that would pass its cap (as a full disk would);
    // when that happens after another error, that error is the one reported.
    if (r.bin.size() != r.result.bytesWritten && !r.binRefused) broken("image size", r);
    if (r.binRefused && r.result.ok) broken("success although the image was refused", r);
    std::size_t listed = 0;
    std::size_t pos = 0;
    while (pos < r.log.size() && startsWith(std::string_view(r.log).substr(pos), "source line #")) {
        const std::size_t end = r.log.find("\r\n", pos);
        if (end == std::string::npos) broken("listing line without CR LF", r);
        ++listed;
        pos = end + 2;
    }
    if (listed != r.result.statements) broken("listing lines", r);
    if (!r.result.ok) {
        if (pos != r.log.size()) broken("text after the listing lines of a failed run", r);
        if (!knownMessage(r.result)) broken("unknown message", r);
        return;
    }
    const std::string_view rest = std::string_view(r.log).substr(pos);
    const std::vector<korvane::Label>& labels = r.result.labels;
    if (labels.empty()) {
        if (!rest.empty()) broken("label block without labels", r);
        return;
    }
    const std::string head = "labels (" + std::to_string(labels.size()) + "):\r\n";
    if (!startsWith(rest, head)) broken("label block header", r);
    // The block lists the result's labels: name, "   $", the value in hexadecimal.
    std::size_t p = head.size();
    for (const korvane::Label& label : labels) {
        char value[16];
        std::snprintf(value, sizeof value, "%X", label.value);
        const std::string line = label.listed() + "   $" + value + "\r\n";
        if (rest.substr(p, line.size()) != line) broken("label line", r);
        if (!label.defined && label.value != 0x7FFFFFFF) broken("undefined label with a value", r);
        p += line.size();
    }
    if (p != rest.size()) broken("text after the label block", r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Run a = assembleOnce(data, size, 0x00);
    checkRun(a);
    const Run b = assembleOnce(data, size, 0xFF);
    if (a.result.ok != b.result.ok || a.result.diagnostic.text != b.result.diagnostic.text ||
        a.log != b.log || a.bin.size() != b.bin.size()) {
        broken("two runs differ", a);
    }
    if (a.result.ok && a.bin != b.bin) broken("a placeholder was left in the image", a);
    const Run c = assembleOnce(data, size, 0x00);
    if (c.bin != a.bin || c.log != a.log || c.result.diagnostic.text != a.result.diagnostic.text) {
        broken("not repeatable", a);
    }
    return 0;
}
