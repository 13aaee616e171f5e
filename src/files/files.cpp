// The file system's side of the assembler's inputs: descriptors read to their end, and
// INCBIN's opener, which refuses the run's own outputs.
#include "korvane/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace korvane {

FileSource::~FileSource() {
    ::close(fd_);
}

std::ptrdiff_t FileSource::read(std::span<std::uint8_t> buf) {
    for (;;) {
        const ssize_t k = ::read(fd_, buf.data(), buf.size());
        if (k < 0 && errno == EINTR) continue;
        return k;
    }
}

namespace {

class IncludedFile : public IncludeFile {
  public:
    IncludedFile(int fd, std::string name, std::uint64_t size)
        : source_(fd, std::move(name)), size_(size) {}
    std::uint64_t size() const override { return size_; }
    std::ptrdiff_t read(std::span<std::uint8_t> buf) override { return source_.read(buf); }
    std::string name() const override { return source_.name(); }

  private:
    FileSource source_;
    std::uint64_t size_;
};

}  // namespace

bool FileIncludes::addOutput(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    outputs_.push_back({static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)});
    return true;
}

Included FileIncludes::open(std::string_view name) {
    if (name.find('\0') != std::string_view::npos) return nullptr;
    const std::string path(name);
    // Non-blocking, so that a FIFO cannot hold the run up; only regular files count.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return nullptr;
    }
    const Id id{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    if (std::find(outputs_.begin(), outputs_.end(), id) != outputs_.end()) {
        ::close(fd);
        return Included::outputOfThisRun();
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<IncludedFile>(fd, path, static_cast<std::uint64_t>(st.st_size));
}

}  // namespace korvane
