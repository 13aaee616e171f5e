// INCBIN "file": copies a whole file into the image, byte for byte. The file is read
// through a fixed buffer, so memory does not grow with its size.
#include <algorithm>
#include <span>
#include <string>

#include "diag/failure.h"
#include "directives/directives.h"
#include "encode/modes.h"

namespace korvane::detail {

bool handleIncbin(Statement& s) {
    const std::optional<Operand> file = s.operands.next();
    if (!file) return false;
    if (modeOf(*file, Side::Source) != Mode::String) s.operands.reject();
    const std::string name(reinterpret_cast<const char*>(file->string.data()), file->string.size());
    Included included = s.includes.open(name);
    // Reading an output while it is being written would make the run depend on an
    // earlier run's bytes (or on its own).
    if (included.isOutput) fail(Message::IncludedFileIsOutput, 0, name);
    const std::uint64_t length = included.file ? included.file->size() : 0;
    if (length == 0) fail(Message::IncludedFileEmpty, 0, name);
    if (length > 0xFFFFFFFFull) fail(Message::IncludedFileTooLarge, 0, name);
    s.image.needRoom(length, s.operands.line());
    std::uint8_t buf[1 << 14];
    std::uint64_t remaining = length;
    while (remaining > 0) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(remaining, sizeof buf));
        const std::ptrdiff_t got = included.file->read(std::span<std::uint8_t>(buf, want));
        // A file that shrinks or fails while it is copied is not silently cut short.
        if (got <= 0) fail(Message::CannotRead, 0, name);
        s.image.put(buf, static_cast<std::size_t>(got));
        remaining -= static_cast<std::uint64_t>(got);
    }
    return true;
}

}  // namespace korvane::detail
