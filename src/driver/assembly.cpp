// One run: the line scanner hands out labels and statements; each statement is listed,
// then its encoder or directive writes the image; after the last line the fixup pass
// patches the image and the label table ends the listing. The first error anywhere
// stops the run; the outputs keep everything written up to it.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "diag/failure.h"
#include "directives/directives.h"
#include "driver/test_seam.h"
#include "encode/encoder.h"
#include "output/image.h"
#include "output/listing.h"
#include "resolve/fixup.h"
#include "resolve/tables.h"
#include "source/lexer.h"
#include "source/scanner.h"

namespace korvane::detail {

namespace {

// A label table entry as the library's callers see it: the name as text, the scope of a
// local label (packed into the name's last two characters in the table) as a number.
Label labelOf(const LabelName& packed, std::uint32_t value, bool defined) {
    Label l;
    l.local = packed[0] == '@';
    const std::size_t length = l.local ? 18 : 20;
    l.name.assign(packed.data(), length);
    l.name.erase(l.name.find_last_not_of(' ') + 1);
    if (l.local) {
        l.scope = static_cast<std::uint8_t>((packed[18] - '0') | (packed[19] - '0') << 4);
    }
    l.value = value;
    l.defined = defined;
    return l;
}

class Run {
  public:
    Run(ByteSource& source, ByteSink& bin, ByteSink& log, IncludeOpener& includes,
        const Options& options, std::uint8_t placeholder)
        : scanner_(source),
          lexer_(scanner_, labels_),
          operands_(lexer_, scanner_),
          image_(bin, placeholder),
          listing_(log),
          statement_{operands_, image_, refs_, pool_, includes},
          observer_(options.observer),
          outOfReach_(options.outOfReach) {}

    Result run();

  private:
    // One statement; false for END, after which nothing is read.
    bool statement(const OpRow& row);
    void tell(const OpRow& row, std::uint32_t line, std::uint32_t pc, std::uint64_t offset);

    LineScanner scanner_;
    Labels labels_;  // label operands go in as the lexer reads them
    OperandLexer lexer_;
    Operands operands_;
    Image image_;
    Listing listing_;
    RefTable refs_;
    LiteralPool pool_;
    Statement statement_;
    StatementObserver* observer_;
    std::vector<std::uint32_t>* outOfReach_;
    std::vector<std::uint8_t> captured_;  // the bytes of the statement told to the observer
};

Result Run::run() {
    Result result;
    try {
        for (;;) {
            const Scanned next = scanner_.next();
            if (next.statement()) {
                if (!statement(*next.row)) break;
            } else if (next.label()) {
                labels_.define(scanner_.label(next), image_.pc(), scanner_.line());
            } else {
                break;
            }
        }
        resolveReferences(refs_, labels_.table(), image_, outOfReach_);
        // The image is made whole before the listing's label table says the run succeeded.
        image_.finish();
        const LabelTable& table = labels_.table();
        if (table.count() != 0) {
            listing_.labelBlock(table.count());
            for (std::uint32_t i = 0; i < table.count(); ++i) {
                const LabelName& name = table.name(i);
                listing_.label({name.data(), name.size()}, table.value(i));
            }
        }
        listing_.flush();
    } catch (const Failure& failure) {
        result.ok = false;
        result.diagnostic = failure.diagnostic;
    } catch (const std::bad_alloc&) {
        result.ok = false;
        result.diagnostic = diagnosticOf(Message::OutOfMemory, 0);
    }
    if (!result.ok) {
        image_.tryFlush();
        listing_.tryFlush();
    }
    result.bytesWritten = image_.written();
    result.start = image_.start();
    result.statements = listing_.statements();
    result.referenceCount = refs_.count();
    try {
        const LabelTable& table = labels_.table();
        result.labels.reserve(table.count());
        for (std::uint32_t i = 0; i < table.count(); ++i) {
            result.labels.push_back(labelOf(table.name(i), table.value(i), table.defined(i)));
        }
    } catch (const std::bad_alloc&) {
        result.labels.clear();  // out of memory: the run's own result says more
    }
    return result;
}

bool Run::statement(const OpRow& row) {
    const std::uint32_t line = scanner_.line();
    const std::uint32_t pc = image_.pc();
    const std::uint64_t offset = image_.written();
    listing_.statement(line, offset, pc, row.listed);
    if (observer_ != nullptr) {
        captured_.clear();
        image_.captureInto(&captured_);
    }
    operands_.begin(row);
    Statement& s = statement_;
    bool wrote = true;
    try {
        wrote = handlerOf(row)(s);
        if (row.format == Format::End) [[unlikely]] {
            if (observer_ != nullptr) tell(row, line, pc, offset);
            return false;
        }
    } catch (const EmptySecondSlot&) {
        operands_.reject();  // "(x,)" is no operand form of any statement
    }
    if (!wrote) fail(Message::MissingArgument, scanner_.line());
    refs_.checkCapacity();
    if (observer_ != nullptr) tell(row, line, pc, offset);
    scanner_.endStatement();
    return true;
}

void Run::tell(const OpRow& row, std::uint32_t line, std::uint32_t pc, std::uint64_t offset) {
    image_.captureInto(nullptr);
    StatementRecord record;
    record.line = line;
    record.pc = pc;
    record.offset = offset;
    record.mnemonic = row.mnemonic();
    record.size = image_.written() - offset;
    record.bytes = captured_;
    observer_->statement(record);
}

}  // namespace

Result assembleWithPlaceholder(ByteSource& source, ByteSink& bin, ByteSink& log,
                               IncludeOpener& includes, const Options& options,
                               std::uint8_t placeholder) {
    try {
        // The run's state (tables, buffers) lives on the heap, not on the caller's stack.
        auto run = std::make_unique<Run>(source, bin, log, includes, options, placeholder);
        return run->run();
    } catch (const std::bad_alloc&) {
        Result result;
        result.ok = false;
        result.diagnostic = diagnosticOf(Message::OutOfMemory, 0);
        return result;
    }
}

}  // namespace korvane::detail

namespace korvane {

std::string Label::listed() const {
    std::string out = name;
    out.resize(20, ' ');
    if (local) {
        out[18] = static_cast<char>('0' + (scope & 15));
        out[19] = static_cast<char>('0' + (scope >> 4));
    }
    return out;
}

Result assemble(ByteSource& source, ByteSink& bin, ByteSink& log, IncludeOpener& includes,
                const Options& options) {
    return detail::assembleWithPlaceholder(source, bin, log, includes, options, 0x00);
}

Result assemble(ByteSource& source, ByteSink& bin, IncludeOpener& includes, const Options& options) {
    NullSink log("listing");
    return assemble(source, bin, log, includes, options);
}

std::ptrdiff_t MemorySource::read(std::span<std::uint8_t> buf) {
    const std::size_t n = std::min(buf.size(), data_.size() - pos_);
    std::memcpy(buf.data(), data_.data() + pos_, n);
    pos_ += n;
    return static_cast<std::ptrdiff_t>(n);
}

bool MemorySink::append(std::span<const std::uint8_t> bytes) {
    data_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return true;
}

bool MemorySink::overwrite(std::uint64_t position, std::span<const std::uint8_t> bytes) {
    if (position > data_.size() || bytes.size() > data_.size() - position) return false;
    std::memcpy(data_.data() + position, bytes.data(), bytes.size());
    return true;
}

}  // namespace korvane
