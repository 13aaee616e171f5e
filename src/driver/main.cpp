// The korvane command: korvane sourcefile. Maps the library's run onto files, the
// console and the exit status (0 success or usage, 1 when a message reports an error).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "files/names.h"
#include "korvane/files.h"
#include "korvane/korvane.h"

namespace {

// Console lines go straight to the descriptor: no buffer to allocate, so that "out of
// memory" can still be said.
void writeAll(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t k = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(k));
    }
}

void say(std::string_view line) {
    writeAll(line);
    writeAll("\r\n");
}

// Prints a message of the catalogue; the exit status of a failed run.
int fail(korvane::Message code, std::string_view name = {}) {
    say(korvane::messageText(code, 0, name));
    return 1;
}

// Moves all n bytes with io(fd, p, n, offset), going on after short transfers and
// interruptions. False when the device refuses.
template <typename Io, typename Buffer>
bool transferAll(Io io, int fd, Buffer* p, std::size_t n, std::uint64_t at) {
    while (n > 0) {
        ssize_t k = io(fd, p, n, static_cast<off_t>(at));
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        p += k;
        at += static_cast<std::uint64_t>(k);
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

// write() at the file position, in transferAll's shape.
ssize_t writeHere(int fd, const std::uint8_t* p, std::size_t n, off_t) {
    return ::write(fd, p, n);
}

// An output file: appended through write(). Overwrites are gathered and applied when
// the file is closed, sorted by position and a window at a time (read, patch, write
// back), so that thousands of fixups cost a few system calls.
class FileSink : public korvane::ByteSink {
  public:
    FileSink(int fd, std::string name) : fd_(fd), name_(std::move(name)) {
        struct stat st {};
        regular_ = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
    }
    ~FileSink() override { close(); }
    bool append(std::span<const std::uint8_t> bytes) override {
        return transferAll(writeHere, fd_, bytes.data(), bytes.size(), 0);
    }
    bool overwrite(std::uint64_t position, std::span<const std::uint8_t> bytes) override {
        for (std::size_t i = 0; i < bytes.size(); ++i) patches_.push_back({position + i, bytes[i]});
        return true;
    }
    std::string name() const override { return name_; }
    bool finish() override { return applyPatches(); }
    bool close() {
        if (fd_ < 0) return true;
        bool ok = applyPatches();
        ok = ::close(fd_) == 0 && ok;
        fd_ = -1;
        return ok;
    }

  private:
    struct Patch {
        std::uint64_t position;
        std::uint8_t byte;
    };
    static constexpr std::uint64_t kWindow = 1 << 16;

    bool applyPatches() {
        if (!regular_) {
            // A device is written to as it is; there is nothing to read back.
            for (const Patch& p : patches_) {
                if (!transferAll(::pwrite, fd_, &p.byte, 1, p.position)) return false;
            }
            patches_.clear();
            return true;
        }
        // Later patches of the same byte win: keep the order of equal positions.
        std::stable_sort(patches_.begin(), patches_.end(),
                         [](const Patch& a, const Patch& b) { return a.position < b.position; });
        std::vector<std::uint8_t> window;
        for (std::size_t i = 0; i < patches_.size();) {
            const std::uint64_t start = patches_[i].position;
            std::size_t j = i;
            while (j < patches_.size() && patches_[j].position < start + kWindow) ++j;
            const std::uint64_t span = patches_[j - 1].position + 1 - start;
            window.resize(static_cast<std::size_t>(span));
            if (!transferAll(::pread, fd_, window.data(), window.size(), start)) return false;
            for (std::size_t k = i; k < j; ++k)
                window[patches_[k].position - start] = patches_[k].byte;
            if (!transferAll(::pwrite, fd_, window.data(), window.size(), start)) return false;
            i = j;
        }
        patches_.clear();
        return true;
    }

    int fd_;
    std::string name_;
    bool regular_ = false;  // a regular file (not a device)
    std::vector<Patch> patches_;
};

// The source with its first bytes already read, to tell an empty source at once.
class PrefetchedSource : public korvane::ByteSource {
  public:
    PrefetchedSource(korvane::ByteSource& inner, std::string first)
        : inner_(inner), first_(std::move(first)) {}
    std::ptrdiff_t read(std::span<std::uint8_t> buf) override {
        if (pos_ < first_.size()) {
            std::size_t n = std::min(buf.size(), first_.size() - pos_);
            std::memcpy(buf.data(), first_.data() + pos_, n);
            pos_ += n;
            return static_cast<std::ptrdiff_t>(n);
        }
        return inner_.read(buf);
    }
    std::string name() const override { return inner_.name(); }

  private:
    korvane::ByteSource& inner_;
    std::string first_;
    std::size_t pos_ = 0;
};

// Whether a name reaches the file of this status.
bool sameFile(const struct stat& a, const std::string& path) {
    struct stat b {};
    return ::stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// How an existing output name is treated: a regular file or a symbolic link is
// replaced by a new file (the name only: a link's target and the other names of a
// hard-linked file keep their bytes); a character device such as /dev/null is written
// as it is. Everything else is refused.
enum class Existing { None, Replace, Device, Refused };

Existing examineOutput(const std::string& name) {
    struct stat st {};
    if (::lstat(name.c_str(), &st) != 0)
        return errno == ENOENT ? Existing::None : Existing::Refused;
    if (S_ISLNK(st.st_mode)) return Existing::Replace;
    if (S_ISREG(st.st_mode)) {
        // A file its owner made read-only stays as it is, for root too (whom access()
        // always lets write): no write bit at all is a refusal for everyone.
        if ((st.st_mode & 0222) == 0) return Existing::Refused;
        return ::faccessat(AT_FDCWD, name.c_str(), W_OK, AT_EACCESS) == 0 ? Existing::Replace
                                                                          : Existing::Refused;
    }
    if (S_ISCHR(st.st_mode)) return Existing::Device;
    return Existing::Refused;  // a directory, FIFO, socket or block device
}

// Removes the name of an output to be replaced (the name only); false when it cannot.
bool removeOld(const std::string& name, Existing existing) {
    return existing != Existing::Replace || ::unlink(name.c_str()) == 0 || errno == ENOENT;
}

// Opens an output examined (and removed) before; -1 when it cannot be. Never follows a
// link, never writes into an existing regular file, never blocks.
int openOutput(const std::string& name, Existing existing, int access) {
    if (existing == Existing::Device) {
        int fd = ::open(name.c_str(), access | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat st {};
        if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) ||
                        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)) {
            ::close(fd);
            return -1;
        }
        return fd;
    }
    return ::open(name.c_str(), access | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}

// One run of the command; main() adds what concerns the whole process.
int run(int argc, char** argv) {
    std::string sourceName;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) sourceName += ' ';
        sourceName += argv[i];
    }
    if (sourceName.empty()) {
        writeAll(korvane::usageText());
        return 0;
    }

    // A missing, unreadable or empty source is refused; it is never created or deleted.
    int sourceFd = ::open(sourceName.c_str(), O_RDONLY | O_CLOEXEC);
    if (sourceFd < 0) return fail(korvane::Message::EmptySource);
    korvane::FileSource file(sourceFd, sourceName);
    struct stat sourceStat {};
    if (::fstat(sourceFd, &sourceStat) != 0 || S_ISDIR(sourceStat.st_mode)) {
        return fail(korvane::Message::EmptySource);
    }
    std::string first(1 << 16, '\0');
    std::ptrdiff_t got = file.read({reinterpret_cast<std::uint8_t*>(first.data()), first.size()});
    if (got <= 0) return fail(korvane::Message::EmptySource);
    first.resize(static_cast<std::size_t>(got));
    PrefetchedSource source(file, std::move(first));

    const std::string base = korvane::baseName(sourceName);
    const std::string binName = base + ".bin";
    const std::string logName = base + ".log";
    // Creating an output must never empty the source itself.
    for (const std::string* name : {&binName, &logName}) {
        if (*name == sourceName || sameFile(sourceStat, *name))
            return fail(korvane::Message::CannotWrite, *name);
    }
    // Both names are examined before either is touched.
    const Existing binExisting = examineOutput(binName);
    if (binExisting == Existing::Refused) return fail(korvane::Message::CannotWrite, binName);
    const Existing logExisting = examineOutput(logName);
    if (logExisting == Existing::Refused) return fail(korvane::Message::CannotWrite, logName);
    // Both old files go before either new one is made: a run killed in between leaves
    // no listing of an earlier run beside a new image.
    if (!removeOld(binName, binExisting)) return fail(korvane::Message::CannotWrite, binName);
    if (!removeOld(logName, logExisting)) return fail(korvane::Message::CannotWrite, logName);
    // The image is read back when the fixups are applied.
    int binFd = openOutput(binName, binExisting, O_RDWR);
    if (binFd < 0) return fail(korvane::Message::CannotWrite, binName);
    FileSink bin(binFd, binName);
    int logFd = openOutput(logName, logExisting, O_WRONLY);
    if (logFd < 0) return fail(korvane::Message::CannotWrite, logName);
    FileSink log(logFd, logName);

    korvane::FileIncludes includes;
    for (int fd : {binFd, logFd}) includes.addOutput(fd);
    korvane::Result result = korvane::assemble(source, bin, log, includes);
    const bool binClosed = bin.close();
    const bool logClosed = log.close();
    if (!result.ok) {
        say(result.diagnostic.text);
        return 1;
    }
    if (!binClosed) return fail(korvane::Message::CannotWrite, binName);
    if (!logClosed) return fail(korvane::Message::CannotWrite, logName);
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    // Past a file-size limit a write fails and is reported, instead of killing the run.
    std::signal(SIGXFSZ, SIG_IGN);
    // When memory runs out, even the exception that would report it may find no room:
    // say so and stop at once. The outputs keep what had reached them.
    std::set_new_handler([] {
        fail(korvane::Message::OutOfMemory);
        ::_exit(1);
    });
    return run(argc, argv);
}
