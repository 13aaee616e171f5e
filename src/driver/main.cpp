// The korvane command: korvane sourcefile. Maps the library's run onto files, the
// console and the exit status (0 success or usage, 1 when a message reports an error).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "driver/names.h"
#include "korvane/korvane.h"

namespace {

void say(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fwrite("\r\n", 1, 2, stdout);
    std::fflush(stdout);
}

int fail(std::string_view message) {
    say(message);
    return 1;
}

bool writeAll(int fd, const std::uint8_t* p, std::size_t n) {
    while (n > 0) {
        ssize_t k = ::write(fd, p, n);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        p += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

// An output file: appended through write(), patched through pwrite().
class FileSink : public korvane::ByteSink {
public:
    FileSink(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
    ~FileSink() override { close(); }
    bool append(std::span<const std::uint8_t> bytes) override {
        return writeAll(fd_, bytes.data(), bytes.size());
    }
    bool overwrite(std::uint64_t position, std::span<const std::uint8_t> bytes) override {
        const std::uint8_t* p = bytes.data();
        std::size_t n = bytes.size();
        auto at = static_cast<off_t>(position);
        while (n > 0) {
            ssize_t k = ::pwrite(fd_, p, n, at);
            if (k < 0 && errno == EINTR) continue;
            if (k <= 0) return false;
            p += k;
            at += k;
            n -= static_cast<std::size_t>(k);
        }
        return true;
    }
    std::string name() const override { return name_; }
    bool close() {
        if (fd_ < 0) return true;
        int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0;
    }

private:
    int fd_;
    std::string name_;
};

class FileSource : public korvane::ByteSource {
public:
    FileSource(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
    ~FileSource() override { ::close(fd_); }
    std::ptrdiff_t read(std::span<std::uint8_t> buf) override {
        for (;;) {
            ssize_t k = ::read(fd_, buf.data(), buf.size());
            if (k < 0 && errno == EINTR) continue;
            return k;
        }
    }
    std::string name() const override { return name_; }

private:
    int fd_;
    std::string name_;
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

class IncludedFile : public korvane::IncludeFile {
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

// INCBIN opens existing files read-only; it never creates one.
class FileIncludes : public korvane::IncludeOpener {
public:
    std::unique_ptr<korvane::IncludeFile> open(std::string_view name) override {
        if (name.find('\0') != std::string_view::npos) return nullptr;
        const std::string path(name);
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return nullptr;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return nullptr;
        }
        return std::make_unique<IncludedFile>(fd, path, static_cast<std::uint64_t>(st.st_size));
    }
};

bool sameFile(const struct stat& a, const std::string& path) {
    struct stat b {};
    return ::stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int openOutput(const std::string& name, int flags) {
    return ::open(name.c_str(), flags | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

}  // namespace

int main(int argc, char** argv) {
    std::string sourceName;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) sourceName += ' ';
        sourceName += argv[i];
    }
    if (sourceName.empty()) {
        say("");
        say("SH2 assembler `KORVANE` by VOSSKIN V0.93");
        say("");
        say("usage:");
        say("KORVANE sourcefile");
        say("");
        return 0;
    }

    // A missing, unreadable or empty source is refused; it is never created or deleted.
    int sourceFd = ::open(sourceName.c_str(), O_RDONLY | O_CLOEXEC);
    if (sourceFd < 0) return fail("empty source file");
    FileSource file(sourceFd, sourceName);
    struct stat sourceStat {};
    if (::fstat(sourceFd, &sourceStat) != 0 || S_ISDIR(sourceStat.st_mode)) {
        return fail("empty source file");
    }
    std::string first(1 << 16, '\0');
    std::ptrdiff_t got = file.read({reinterpret_cast<std::uint8_t*>(first.data()), first.size()});
    if (got <= 0) return fail("empty source file");
    first.resize(static_cast<std::size_t>(got));
    PrefetchedSource source(file, std::move(first));

    const std::string base = korvane::baseName(sourceName);
    const std::string binName = base + ".bin";
    const std::string logName = base + ".log";
    // Creating an output must never empty the source itself.
    for (const std::string* name : {&binName, &logName}) {
        if (*name == sourceName || sameFile(sourceStat, *name)) return fail("cannot write " + *name);
    }
    int binFd = openOutput(binName, O_RDWR);
    if (binFd < 0) return fail("cannot write " + binName);
    FileSink bin(binFd, binName);
    int logFd = openOutput(logName, O_WRONLY);
    if (logFd < 0) return fail("cannot write " + logName);
    FileSink log(logFd, logName);

    FileIncludes includes;
    korvane::Result result = korvane::assemble(source, bin, log, includes);
    const bool binClosed = bin.close();
    const bool logClosed = log.close();
    if (!result.ok) return fail(result.diagnostic.text);
    if (!binClosed) return fail("cannot write " + binName);
    if (!logClosed) return fail("cannot write " + logName);
    return 0;
}
