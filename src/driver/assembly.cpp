// The start and frame of one run: set the assembly state, run the line scanner until
// the source ends or END, then the fixup pass and the label listing. The first error
// anywhere stops the run; the outputs keep everything written up to it.
#include "driver/assembly.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "resolve/failure.h"

namespace korvane::detail {

namespace {
constexpr std::size_t kImageBuffer = 1 << 18;
constexpr std::size_t kLogBuffer = 1 << 18;
}  // namespace

Assembly::Assembly(ByteSource& source, ByteSink& bin, ByteSink& log, IncludeOpener& includes,
                   const Options& options)
    : in_(source),
      bin_(bin, kImageBuffer),
      log_(log, kLogBuffer),
      includes_(includes),
      placeholder_(options.placeholder) {}

Result Assembly::run() {
    Result result;
    try {
        scan();
        resolveReferences();
        // The image is made whole before the listing's label table says the run succeeded.
        bin_.finish();
        writeLabelListing();
        log_.flush();
    } catch (const Failure& failure) {
        result.ok = false;
        result.diagnostic = failure.diagnostic;
    } catch (const std::bad_alloc&) {
        result.ok = false;
        result.diagnostic = outOfMemory();
    }
    if (!result.ok) {
        bin_.tryFlush();
        log_.tryFlush();
    }
    result.bytesWritten = written_;
    result.statements = statements_;
    result.labelCount = labels_.count();
    result.referenceCount = refs_.count();
    return result;
}

}  // namespace korvane::detail

namespace korvane {

Result assemble(ByteSource& source, ByteSink& bin, ByteSink& log, IncludeOpener& includes,
                const Options& options) {
    try {
        // The run's state (tables, buffers) lives on the heap, not on the caller's stack.
        auto run = std::make_unique<detail::Assembly>(source, bin, log, includes, options);
        return run->run();
    } catch (const std::bad_alloc&) {
        Result result;
        result.ok = false;
        result.diagnostic = detail::outOfMemory();
        return result;
    }
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
