// Safe replacement of korvane-dis's files: temporaries beside the final names, renames
// checked against what was judged, temporaries that signals remove.
#include "files/replace.h"
#include "korvane/map.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace korvane::files {

// ---- the signal handlers' table ---------------------------------------------------------

bool TempList::add(const char* name) {
    const auto n = static_cast<std::size_t>(count_);
    if (n == kMost) return false;
    names_[n] = name;
    count_ = static_cast<std::sig_atomic_t>(n + 1);
    return true;
}

void TempList::forget(const char* name) {
    const auto n = static_cast<std::size_t>(count_);
    for (std::size_t i = 0; i < n; ++i) {
        if (names_[i] == name) {
            names_[i] = names_[n - 1];
            count_ = static_cast<std::sig_atomic_t>(n - 1);
            return;
        }
    }
}

void TempList::removeAll() {
    const auto n = static_cast<std::size_t>(count_);
    count_ = 0;
    for (std::size_t i = 0; i < n; ++i) ::unlink(names_[i]);
}

SignalsHeld::SignalsHeld() {
    sigset_t block;
    sigemptyset(&block);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&block, sig);
    ::sigprocmask(SIG_BLOCK, &block, &old_);
}

SignalsHeld::~SignalsHeld() {
    ::sigprocmask(SIG_SETMASK, &old_, nullptr);
}

// ---- names and what they are ------------------------------------------------------------

namespace {

Seen seenOf(const struct stat& st) {
    Seen s;
    s.exists = true;
    s.dev = static_cast<std::uint64_t>(st.st_dev);
    s.ino = static_cast<std::uint64_t>(st.st_ino);
    s.size = static_cast<std::uint64_t>(st.st_size);
    s.mtime = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    s.ctime = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    s.mode = static_cast<std::uint32_t>(st.st_mode);
    s.uid = static_cast<std::uint32_t>(st.st_uid);
    s.gid = static_cast<std::uint32_t>(st.st_gid);
    return s;
}

std::string_view headerOf(Written kind) {
    return kind == Written::Source ? kDisassemblyHeader : kind == Written::Info ? kInfoHeader : kMapHeader;
}

}  // namespace

bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t k = ::write(fd, text.data(), text.size());
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        text.remove_prefix(static_cast<std::size_t>(k));
    }
    return true;
}

mode_t newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

Seen look(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return {};
    return seenOf(st);
}

Judgement judge(const std::string& path, Written kind, const std::string& way) {
    Judgement j;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) j.why = path + " cannot be examined: " + std::strerror(errno);
        return j;
    }
    j.seen = seenOf(st);
    const Seen& seen = j.seen;
    auto refuse = [&](std::string why) {
        j.why = std::move(why);
        return j;
    };
    if (!S_ISREG(st.st_mode)) return refuse(path + " exists and is not a regular file" + way);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return refuse(path + " cannot be read, so korvane-dis does not replace it" + way);
    SourceCheck check(kind);
    std::vector<char> buf(1 << 16);
    for (;;) {
        const ssize_t k = ::read(fd, buf.data(), buf.size());
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) break;
        check.add(std::string_view(buf.data(), static_cast<std::size_t>(k)));
    }
    // The file read must be the file judged: one written meanwhile is judged changed.
    struct stat after {};
    const bool steady = ::fstat(fd, &after) == 0 && seenOf(after) == seen;
#if defined(POSIX_FADV_DONTNEED)
    // Read once to be judged, then replaced: its cached pages are let go now, beside the
    // analysis, rather than by the rename that replaces it.
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
#endif
    ::close(fd);
    j.recorded = check.recorded();
    const std::string who = kind == Written::Source ? "korvane-dis" : kind == Written::Info ? "--info-out" : "--map";
    if (!check.fromDisassembler()) return refuse(path + " exists and was not written by " + who + way);
    if (!steady || !check.unchanged()) {
        j.changed = true;
        return refuse(path + " was changed since " + who + " wrote it; it is not replaced" + way);
    }
    if ((st.st_mode & 0222) == 0)
        return refuse(path + " is read-only; it is not replaced: make it writable to let " + who + " replace it" + way);
    return j;
}

namespace {

// Asks for large pages under a large buffer (the whole large pages inside it): an image
// read in is touched everywhere, and each small page would be a fault of its own.
void adviseLargePages(void* p, std::size_t n) {
#if defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kLarge = std::uintptr_t{2} << 20;
    const std::uintptr_t from = (reinterpret_cast<std::uintptr_t>(p) + kLarge - 1) & ~(kLarge - 1);
    const std::uintptr_t to = (reinterpret_cast<std::uintptr_t>(p) + n) & ~(kLarge - 1);
    if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
    (void)p;
    (void)n;
#endif
}

}  // namespace

namespace {

// A file opened to be read: a regular file, or a pipe or FIFO where pipes is set; -1 and
// why when it cannot be. A FIFO given by name is opened blocking (its writer may come
// later); anything else without blocking, so that no device holds the run up.
int openToRead(const std::string& path, bool pipes, struct stat& st, std::string& why) {
    struct stat named {};
    const bool fifo = pipes && ::stat(path.c_str(), &named) == 0 && S_ISFIFO(named.st_mode);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (fifo ? 0 : O_NONBLOCK));
    if (fd < 0 || ::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || (pipes && S_ISFIFO(st.st_mode)))) {
        if (fd >= 0) ::close(fd);
        why = "cannot read " + path;
        return -1;
    }
    if (!S_ISREG(st.st_mode)) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// A read that goes on after interruptions: the bytes read, 0 at the end, -1 on failure.
ssize_t readSome(int fd, void* into, std::size_t n) {
    for (;;) {
        const ssize_t k = ::read(fd, into, n);
        if (k >= 0 || errno != EINTR) return k;
    }
}

bool readFailed(int fd, const std::string& path, std::string& why) {
    ::close(fd);
    why = "cannot read " + path;
    return false;
}

// A limit as a message says it: "256 MiB", "1 GiB".
std::string sizeText(std::uint64_t bytes) {
    if (bytes >= (1u << 30) && bytes % (1u << 30) == 0) return std::to_string(bytes >> 30) + " GiB";
    if (bytes >= (1u << 20) && bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
    return std::to_string(bytes) + " bytes";
}

}  // namespace

bool readEach(const std::string& path, bool pipes, const std::function<void(std::span<const std::uint8_t>)>& each,
              std::string& why) {
    struct stat st {};
    const int fd = openToRead(path, pipes, st, why);
    if (fd < 0) return false;
    std::vector<std::uint8_t> block(std::size_t{1} << 16);
    for (;;) {
        const ssize_t k = readSome(fd, block.data(), block.size());
        if (k < 0) return readFailed(fd, path, why);
        if (k == 0) break;
        each(std::span<const std::uint8_t>(block.data(), static_cast<std::size_t>(k)));
    }
    ::close(fd);
    return true;
}

bool readAll(const std::string& path, std::vector<std::uint8_t>& bytes, std::uint64_t largest, bool pipes,
             Seen& seen, std::string& why) {
    struct stat st {};
    const int fd = openToRead(path, pipes, st, why);
    if (fd < 0) return false;
    auto tooLarge = [&] {
        ::close(fd);
        why = path + " is larger than " + sizeText(largest);
        return false;
    };
    if (static_cast<std::uint64_t>(st.st_size) > largest) return tooLarge();
    // Read straight into place: a regular file at its size and a byte more, where its end
    // is read (what grows past it meanwhile, and a pipe, a block more at a time).
    bytes.assign(S_ISREG(st.st_mode) ? static_cast<std::size_t>(st.st_size) + 1 : 0, 0);
    adviseLargePages(bytes.data(), bytes.size());
    std::size_t got = 0;
    for (;;) {
        if (got == bytes.size()) bytes.resize(got + (std::size_t{1} << 16));
        const ssize_t k = readSome(fd, bytes.data() + got, bytes.size() - got);
        if (k < 0) return readFailed(fd, path, why);
        if (k == 0) break;
        got += static_cast<std::size_t>(k);
        if (got > largest) return tooLarge();
    }
    bytes.resize(got);
    struct stat after {};
    seen = ::fstat(fd, &after) == 0 ? seenOf(after) : Seen{};
    ::close(fd);
    if (S_ISREG(st.st_mode) && bytes.size() != static_cast<std::uint64_t>(after.st_size)) {
        why = path + " changed while it was read";
        return false;
    }
    return true;
}

void removeLeftovers(const std::string& directory, const std::string& name) {
    DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
    if (dir == nullptr) return;
    const std::string prefix = name + std::string(kTempMark);
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view entry = e->d_name;
        if (entry.substr(0, prefix.size()) != prefix) continue;
        const std::string_view rest = entry.substr(prefix.size());
        const std::size_t dash = rest.find('-');
        if (dash == 0 || dash == std::string_view::npos || rest.size() - dash != 7) continue;
        long pid = 0;
        for (char c : rest.substr(0, dash)) {
            if (c < '0' || c > '9' || pid > 100000000) {
                pid = -1;
                break;
            }
            pid = pid * 10 + (c - '0');
        }
        if (pid <= 0 || pid == ::getpid()) continue;
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;  // alive
        const std::string path = directory + std::string(entry);
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (st.st_size == 0) {  // killed before its first block was written
            ::unlink(path.c_str());
            continue;
        }
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) continue;
        char head[64];
        const ssize_t n = ::read(fd, head, sizeof head);
        ::close(fd);
        const std::string_view text(head, n > 0 ? static_cast<std::size_t>(n) : 0);
        for (const Written kind : {Written::Source, Written::Info, Written::Map}) {
            if (text.substr(0, headerOf(kind).size()) == headerOf(kind)) {
                ::unlink(path.c_str());
                break;
            }
        }
    }
    ::closedir(dir);
}

bool sameName(const std::string& a, const std::string& b) {
    struct stat x {}, y {};
    const bool hasA = ::stat(a.c_str(), &x) == 0, hasB = ::stat(b.c_str(), &y) == 0;
    if (hasA && hasB) return x.st_dev == y.st_dev && x.st_ino == y.st_ino;
    if (hasA != hasB) return false;
    // Neither exists: the same directory and the same last name.
    auto split = [](const std::string& p, std::string& dir, std::string& last) {
        const std::size_t slash = p.rfind('/');
        dir = slash == std::string::npos ? "." : slash == 0 ? "/" : p.substr(0, slash);
        last = slash == std::string::npos ? p : p.substr(slash + 1);
    };
    std::string da, la, db, lb;
    split(a, da, la);
    split(b, db, lb);
    if (la != lb) return false;
    return ::stat(da.c_str(), &x) == 0 && ::stat(db.c_str(), &y) == 0 && x.st_dev == y.st_dev &&
           x.st_ino == y.st_ino;
}

// ---- a run's set of files ---------------------------------------------------------------

struct FileSet::File {
    std::string final, temp;
    Seen seen;
    Written kind = Written::Source;
    bool expected = false;
};

FileSet::FileSet(std::string directory, TempList& temps) : directory_(std::move(directory)), temps_(temps) {}

FileSet::~FileSet() {
    if (fd_ >= 0) ::close(fd_);
    const SignalsHeld held;
    for (const auto& f : files_) {
        if (f->temp.empty()) continue;
        ::unlink(f->temp.c_str());
        temps_.forget(f->temp.c_str());
    }
}

void FileSet::expect(const std::string& name, const Seen& seen, Written kind) {
    auto f = std::make_unique<File>();
    f->final = name.front() == '/' ? name : directory_ + name;  // as open() names it
    f->seen = seen;
    f->kind = kind;
    f->expected = true;
    expected_.push_back(std::move(f));
}

void FileSet::removeAfter(const std::string& name, const Seen& seen, Written kind) {
    auto f = std::make_unique<File>();
    f->final = directory_ + name;
    f->seen = seen;
    f->kind = kind;
    removals_.push_back(std::move(f));
}

bool FileSet::open(const std::string& name) {
    auto f = std::make_unique<File>();
    f->final = name.front() == '/' || directory_.empty() ? name : directory_ + name;
    current_ = f->final;
    for (auto& e : expected_) {
        if (e->final == f->final) {
            f->seen = e->seen;
            f->kind = e->kind;
            f->expected = true;
        }
    }
    // A fresh name of its own: no file that is there already is touched. The file is
    // made and made known to the handlers with their signals held off, so that no signal
    // can fall between the two.
    std::string temp = f->final + std::string(kTempMark) + std::to_string(::getpid()) + "-XXXXXX";
    {
        const SignalsHeld held;
        fd_ = ::mkostemp(temp.data(), O_CLOEXEC);
        if (fd_ < 0) return false;
        f->temp = std::move(temp);
        if (!temps_.add(f->temp.c_str())) {
            ::close(fd_);
            fd_ = -1;
            ::unlink(f->temp.c_str());
            return false;
        }
        files_.push_back(std::move(f));
    }
    ::fchmod(fd_, newFileMode());
    return true;
}

bool FileSet::write(std::string_view text) {
    return writeAll(fd_, text);
}

namespace {

bool patchAt(int fd, std::uint64_t position, std::string_view text) {
    while (!text.empty()) {
        const ssize_t k = ::pwrite(fd, text.data(), text.size(), static_cast<off_t>(position));
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        text.remove_prefix(static_cast<std::size_t>(k));
        position += static_cast<std::uint64_t>(k);
    }
    return true;
}

// A file of a set written on its own: the descriptor is the output's.
class Apart : public SourceOutput {
  public:
    Apart(int fd, std::string name, bool replaces) : fd_(fd), name_(std::move(name)), replaces_(replaces) {}
    ~Apart() override {
        if (fd_ >= 0) ::close(fd_);
    }
    Apart(const Apart&) = delete;
    Apart& operator=(const Apart&) = delete;
    bool open(const std::string& name) override { return fd_ >= 0 && name == name_; }
    bool write(std::string_view text) override { return writeAll(fd_, text); }
    bool patch(std::uint64_t position, std::string_view text) override { return patchAt(fd_, position, text); }
    bool close() override {
#if defined(SYNC_FILE_RANGE_WRITE)
        // A rename over a file makes some file systems (ext4) start writing the new one
        // back; it is started here instead, on the thread that wrote it.
        if (replaces_) ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
        const bool ok = ::close(fd_) == 0;
        fd_ = -1;
        return ok;
    }

  private:
    int fd_;
    std::string name_;
    bool replaces_;
};

}  // namespace

bool FileSet::patch(std::uint64_t position, std::string_view text) {
    return patchAt(fd_, position, text);
}

bool FileSet::close() {
    const bool ok = ::close(fd_) == 0;
    fd_ = -1;
    return ok;
}

std::unique_ptr<SourceOutput> FileSet::openApart(const std::string& name) {
    if (!open(name)) return nullptr;
    auto out = std::make_unique<Apart>(fd_, name, files_.back()->seen.exists);
    fd_ = -1;
    return out;
}

bool FileSet::put(const std::string& name, std::string_view text, mode_t mode, uid_t uid, gid_t gid) {
    if (!open(name)) return false;
    bool ok = ::fchmod(fd_, mode & 07777) == 0;
    if (ok && (uid != ::geteuid() || gid != ::getegid())) ok = ::fchown(fd_, uid, gid) == 0;
    ok = ok && writeAll(fd_, text);
    return close() && ok;
}

std::string FileSet::commit() {
    const std::string again = "; run korvane-dis again";
    // Whether a final name is still what was judged: unchanged since (the same file,
    // size and times), or absent as it was. A name that changed is judged again: another
    // run of korvane-dis may have put its own unchanged file there.
    auto stillAsSeen = [&](const File& f) -> std::string {
        const Seen now = look(f.final);
        if (now == f.seen) return "";
        const Judgement judged = judge(f.final, f.kind, "; nothing more was replaced" + again);
        if (!judged.why.empty()) return judged.why;
        if (!judged.seen.exists || judged.seen == now) return "";
        return f.final + " was changed while korvane-dis ran; it is not replaced" + again;
    };
    const SignalsHeld held;
    for (auto& f : files_) {
        current_ = f->final;
        if (std::string why = stillAsSeen(*f); !why.empty()) return why;
        if (::rename(f->temp.c_str(), f->final.c_str()) != 0) return "cannot write " + f->final;
        temps_.forget(f->temp.c_str());
        f->temp.clear();
    }
    for (auto& f : removals_) {
        if (look(f->final) == f->seen) ::unlink(f->final.c_str());
    }
    return "";
}

}  // namespace korvane::files
