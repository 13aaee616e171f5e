// Files of the file system (POSIX) for the assembler: a source read from a descriptor,
// and the opener INCBIN uses, which behaves as the korvane command's does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "korvane/korvane.h"

namespace korvane {

// Reads an open descriptor to its end (going on after interruptions) and closes it.
class FileSource : public ByteSource {
  public:
    FileSource(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;
    std::ptrdiff_t read(std::span<std::uint8_t> buf) override;
    std::string name() const override { return name_; }

  private:
    int fd_;
    std::string name_;
};

// Opens INCBIN's files by name (relative to the working directory), read-only and
// without blocking: only existing regular files are read, none is ever created. A file
// that is one of the run's outputs, under whatever name it is reached, is refused
// ("included file NAME is an output of this run"), so that no build reads an earlier
// run's image.
class FileIncludes : public IncludeOpener {
  public:
    // The run's outputs, by their open descriptors (false when one cannot be examined).
    bool addOutput(int fd);
    Included open(std::string_view name) override;

  private:
    struct Id {
        std::uint64_t dev, ino;
        bool operator==(const Id&) const = default;
    };
    std::vector<Id> outputs_;
};

}  // namespace korvane
