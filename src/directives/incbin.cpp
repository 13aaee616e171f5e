// INCBIN "file": copies a whole file into the image, byte for byte. The file is read
// through a fixed buffer, so memory does not grow with its size.
#include <algorithm>
#include <span>
#include <string>

#include "driver/assembly.h"
#include "resolve/failure.h"

namespace korvane::detail {

void Assembly::encodeIncbin() {
    if (!nextOperand()) return;
    if (op_.shape != SHAPE_STRING) failAt("expected filename (in quotes) on line ", line_);
    const std::string name(reinterpret_cast<const char*>(op_.stringBytes), op_.stringLen);
    Included included = includes_.open(name);
    // Reading an output while it is being written would make the run depend on an
    // earlier run's bytes (or on its own).
    if (included.isOutput) failPlain("included file " + name + " is an output of this run");
    std::unique_ptr<IncludeFile>& file = included.file;
    const std::uint64_t length = file ? file->size() : 0;
    if (length == 0) failPlain("included file " + name + " is empty");
    if (length > 0xFFFFFFFFull) failPlain("included file " + name + " is too large");
    needRoom(length);
    std::uint8_t buf[1 << 14];
    std::uint64_t remaining = length;
    while (remaining > 0) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(remaining, sizeof buf));
        const std::ptrdiff_t got = file->read(std::span<std::uint8_t>(buf, want));
        // A file that shrinks or fails while it is copied is not silently cut short.
        if (got <= 0) failPlain("cannot read " + name);
        putBytes(buf, static_cast<std::size_t>(got));
        remaining -= static_cast<std::uint64_t>(got);
    }
    op_.lineEmitted = true;
}

}  // namespace korvane::detail
