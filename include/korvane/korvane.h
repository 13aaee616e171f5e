// KORVANE: an SH-2 assembler as a library.
//
// The assembler reads one source through a ByteSource, appends the flat image to
// one ByteSink and the listing to another, and returns either success or the one
// diagnostic that stopped the run. It keeps no global state and performs no console
// or file I/O of its own: INCBIN opens files through the IncludeOpener it is given.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "korvane/messages.h"

namespace korvane {

// A sequential byte source (the assembly source or an included file).
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Reads up to buf.size() bytes; returns the count, 0 at the end, or -1 on a read error.
    virtual std::ptrdiff_t read(std::span<std::uint8_t> buf) = 0;
    // The name used in "cannot read NAME" when a read fails.
    virtual std::string name() const { return "source file"; }
};

// An output device: bytes are appended at its end and may later be overwritten in place.
class ByteSink {
  public:
    virtual ~ByteSink() = default;
    // Appends bytes at the end. Returns false when the device refused them.
    virtual bool append(std::span<const std::uint8_t> bytes) = 0;
    // Overwrites bytes at a 0-based position that has already been appended.
    virtual bool overwrite(std::uint64_t position, std::span<const std::uint8_t> bytes) = 0;
    // The name used in "cannot write NAME" when the device fails.
    virtual std::string name() const = 0;
    // Called once on the image when it is complete (every fixup made), before the run
    // reports success in its listing: a device that defers writes completes them here.
    virtual bool finish() { return true; }
};

// An included file, opened for reading by INCBIN.
class IncludeFile : public ByteSource {
  public:
    virtual std::uint64_t size() const = 0;
};

// What an IncludeOpener found for a name: the file, or nothing (a name that does not
// exist or cannot be read), or a refusal because the name is one of the run's own
// outputs (whatever the name, the same file).
struct Included {
    Included(std::nullptr_t = nullptr) {}
    template <typename File>
    Included(std::unique_ptr<File> f) : file(std::move(f)) {}
    static Included outputOfThisRun() {
        Included refused;
        refused.isOutput = true;
        return refused;
    }

    std::unique_ptr<IncludeFile> file;
    bool isOutput = false;
};

// Opens the files named by INCBIN, for reading only; it never creates a file.
class IncludeOpener {
  public:
    virtual ~IncludeOpener() = default;
    virtual Included open(std::string_view name) = 0;
};

// The one message that ended a run.
struct Diagnostic {
    Message code = Message::OutOfMemory;
    std::uint32_t line = 0;  // the line the message names, 0 when it names none
    std::string name;        // the file, label or (padded) mnemonic it names, if any
    std::string text;        // the whole console line without its CR LF
};

// A label of the run.
struct Label {
    std::string name;        // as written, upper case; a local label keeps its "@"
    bool local = false;      // a name that begins with "@"
    std::uint8_t scope = 0;  // a local label's stretch between global labels (0 to 255,
                             // then the count starts again); 0 for a global label
    std::uint32_t value = 0;
    bool defined = false;  // false: used but never defined (listed as $7FFFFFFF)

    // As the listing's label table shows it: the name padded to 20 characters, a local
    // label's scope in the last two (character '0' + its low and its high four bits).
    std::string listed() const;
};

struct Result {
    bool ok = true;
    Diagnostic diagnostic;           // meaningful when !ok
    std::uint64_t bytesWritten = 0;  // bytes appended to the image (binary offset - 1)
    std::uint32_t start = 0;         // the address of the image's first byte (0: none written)
    std::uint32_t statements = 0;    // statements listed
    std::uint32_t referenceCount = 0;
    std::vector<Label> labels;  // every label met, in the order first met
};

// One statement, as the assembler finished it.
struct StatementRecord {
    std::uint32_t line = 0;     // source line of the statement
    std::uint32_t pc = 0;       // assembly PC at its start
    std::uint64_t offset = 0;   // image offset (0-based) of its first byte
    std::string_view mnemonic;  // as in the listing, padded to 7 characters
    std::uint64_t size = 0;     // bytes it appended to the image
    // The bytes it appended, as appended: fields that are filled in after the last line
    // (label addresses, displacements) still hold zero. Only the first 64 KiB of a
    // larger statement (a long ORG gap, a large INCBIN) are kept.
    std::span<const std::uint8_t> bytes;
};

// Told of every statement the run completes, in source order.
class StatementObserver {
  public:
    virtual ~StatementObserver() = default;
    virtual void statement(const StatementRecord& record) = 0;
};

struct Options {
    StatementObserver* observer = nullptr;
    // When given, a label out of reach of the PC-relative field that names it does not
    // stop the run: the statement's line is added here (its field left as the
    // placeholder) and the run goes on, so that every such statement is found in one
    // run. The run then reports success if nothing else stopped it.
    std::vector<std::uint32_t>* outOfReach = nullptr;
};

// Whether a word (upper case) names a register in the language: R0 to R15 or a system
// register (SR, GBR, VBR, MACH, MACL, PR, PC). Such a word cannot be a label.
bool isRegisterName(std::string_view word);

// Assembles `source`, writing the image to `bin` and the listing to `log`.
// Both sinks receive every byte promised up to the point where the run stopped.
Result assemble(ByteSource& source, ByteSink& bin, ByteSink& log, IncludeOpener& includes,
                const Options& options = {});

// The same without a listing: the image alone.
Result assemble(ByteSource& source, ByteSink& bin, IncludeOpener& includes, const Options& options = {});

// Convenience for in-memory use (tests, fuzzing).
class MemorySource : public ByteSource {
  public:
    explicit MemorySource(std::string_view bytes) : data_(bytes) {}
    std::ptrdiff_t read(std::span<std::uint8_t> buf) override;

  private:
    std::string_view data_;
    std::size_t pos_ = 0;
};

class MemorySink : public ByteSink {
  public:
    explicit MemorySink(std::string name = "memory") : name_(std::move(name)) {}
    bool append(std::span<const std::uint8_t> bytes) override;
    bool overwrite(std::uint64_t position, std::span<const std::uint8_t> bytes) override;
    std::string name() const override { return name_; }
    const std::string& bytes() const { return data_; }

  private:
    std::string name_;
    std::string data_;
};

// A device that keeps nothing, only counts: for a run whose labels and statements are
// wanted, not its bytes.
class NullSink : public ByteSink {
  public:
    explicit NullSink(std::string name = "nothing") : name_(std::move(name)) {}
    bool append(std::span<const std::uint8_t> bytes) override {
        size_ += bytes.size();
        return true;
    }
    bool overwrite(std::uint64_t position, std::span<const std::uint8_t> bytes) override {
        return position <= size_ && bytes.size() <= size_ - position;
    }
    std::string name() const override { return name_; }
    std::uint64_t size() const { return size_; }

  private:
    std::string name_;
    std::uint64_t size_ = 0;
};

// An opener that finds no file at all.
class NoIncludes : public IncludeOpener {
  public:
    Included open(std::string_view) override { return nullptr; }
};

}  // namespace korvane
