// The korvane-dis command: korvane-dis IMAGE [options] writes IMAGE.s (and, for a large
// image, IMAGE.partNN.s) beside the image, or the source named by -o. Errors go to
// standard error: status 1, or 2 for a command line it does not understand.
//
// Files are handled as the assembler handles its outputs: nothing is written unless
// every check passed; every source of a run is written under a temporary name and the
// whole set renamed into place only when all of it is complete; a source is replaced
// only while it is exactly as an earlier run wrote it (its fingerprint holds) and has a
// write permission bit; a run ended by SIGTERM, SIGINT or SIGHUP, a file-size limit or
// exhausted memory removes its temporary files; one killed outright leaves files whose
// names say whose they were, and the next run removes them.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <future>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "files/names.h"
#include "korvane/disassemble.h"
#include "korvane/files.h"
#include "korvane/version.h"

namespace {

constexpr std::uint64_t kLargestImage = 16u << 20;
// A source korvane-dis writes for the largest image is well below this (about 7 bytes of
// text an image byte at most).
constexpr std::uint64_t kLargestSource = 1u << 30;
// Temporary files are FINAL + this + PID + "-XXXXXX".
constexpr std::string_view kTempMark = ".korvane-dis-";

constexpr const char* kUsage =
    "usage: korvane-dis IMAGE [--base ADDR] [--entry ADDR]... [--code ADDR-ADDR]...\n"
    "                   [--data ADDR-ADDR]... [--vectors ADDR]... [--no-guess]\n"
    "                   [--format flat|saturn|32x] [--ip IP.BIN] [--info FILE] [--symbols FILE]\n"
    "                   [--info-out FILE] [-o SOURCE] [--flat]\n"
    "       korvane-dis --check SOURCE [--write]\n"
    "       korvane-dis --help | --version\n";

constexpr const char* kHelp =
    "Writes IMAGE.s, an SH-2 source that korvane rebuilds into IMAGE byte for byte.\n"
    "\n"
    "  --base ADDR         address of the image's first byte (default 0)\n"
    "  --entry ADDR        where code starts (default: the base); may be repeated\n"
    "  --code ADDR-ADDR    take this range as code (its end excluded); may be repeated\n"
    "  --data ADDR-ADDR    take this range as data; may be repeated\n"
    "  --vectors ADDR      an SH-2 exception vector table: its PCs are entries\n"
    "  --no-guess          code only where paths and the options lead, none by evidence\n"
    "  --format FORMAT     flat (the default); saturn: a program loaded at $6004000\n"
    "                      (or where --ip IP.BIN says); 32x: a 32X ROM, read from its header\n"
    "  -o SOURCE           write the top source as SOURCE (parts are named after it)\n"
    "  --flat              take an image that starts like an ELF file as flat bytes\n"
    "  --                  everything after it is the image's name\n"
    "  --info FILE         names, entries, ranges, tables, comments and constants (README)\n"
    "  --symbols FILE      names from nm output, NAME = ADDR or ADDR NAME lines\n"
    "  --info-out FILE     write what was found as an info file to start from\n"
    "  --check SOURCE      assemble an edited disassembly in memory and report what no\n"
    "                      longer holds (table entries, loads in delay slots, stale pointers)\n"
    "  --write             with --check: rewrite those numbers in SOURCE\n"
    "ADDR is $6004000, 0x6004000 or decimal; --opt=value is the same as --opt value.\n"
    "A source is replaced only while it is exactly as korvane-dis wrote it.\n";

// ---- what a signal or exhausted memory must clean up ----------------------------------
// The temporary files of the run, kept where a signal handler can reach them.
const char* const* gTemps = nullptr;
volatile std::sig_atomic_t gTempCount = 0;

void removeTemps() {
    const std::sig_atomic_t n = gTempCount;
    gTempCount = 0;
    for (std::sig_atomic_t i = 0; i < n; ++i) ::unlink(gTemps[i]);
}

void say(std::string_view text) {
    while (!text.empty()) {
        const ssize_t k = ::write(STDERR_FILENO, text.data(), text.size());
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return;
        text.remove_prefix(static_cast<std::size_t>(k));
    }
}

extern "C" void onSignal(int sig) {
    removeTemps();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void outOfMemory() {
    removeTemps();
    say("korvane-dis: out of memory\n");
    ::_exit(1);
}

int usage(const std::string& why) {
    say("korvane-dis: " + why + "\n" + kUsage);
    return 2;
}

int error(const std::string& why) {
    say("korvane-dis: " + why + "\n");
    return 1;
}

bool parseRange(std::string_view text, korvane::AddressRange& range) {
    const std::size_t dash = text.find('-');
    if (dash == std::string_view::npos) return false;
    std::uint64_t begin, end;
    if (!korvane::parseAddress(text.substr(0, dash), begin) ||
        !korvane::parseAddress(text.substr(dash + 1), end) || begin > 0xFFFFFFFFull || end < begin)
        return false;
    range = {static_cast<std::uint32_t>(begin), end};
    return true;
}

bool readAll(const std::string& path, std::vector<std::uint8_t>& bytes, struct stat& st,
             std::string& why, std::uint64_t largest = kLargestImage) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) ::close(fd);
        why = "cannot read " + path;
        return false;
    }
    if (static_cast<std::uint64_t>(st.st_size) > largest) {
        ::close(fd);
        why = path + (largest == kLargestImage ? " is larger than 16 MiB" : " is larger than 1 GiB");
        return false;
    }
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t k = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) break;
        got += static_cast<std::size_t>(k);
    }
    ::close(fd);
    if (got != bytes.size()) {
        why = "cannot read " + path;
        return false;
    }
    return true;
}

// Whether a name may be written: "" when it is absent or an unchanged source of this
// command's with a write permission bit, otherwise why not.
std::string whyNotReplace(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return errno == ENOENT ? "" : path + " cannot be examined: " + std::strerror(errno);
    }
    const std::string way = "; move it away, or write the source elsewhere with -o NAME";
    if (!S_ISREG(st.st_mode)) return path + " exists and is not a regular file" + way;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return path + " cannot be read, so korvane-dis does not replace it" + way;
    korvane::SourceCheck check;
    std::vector<char> buf(1 << 16);
    for (;;) {
        const ssize_t k = ::read(fd, buf.data(), buf.size());
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) break;
        check.add(std::string_view(buf.data(), static_cast<std::size_t>(k)));
    }
    ::close(fd);
    if (!check.fromDisassembler()) return path + " exists and was not written by korvane-dis" + way;
    if (!check.unchanged())
        return path + " was changed since korvane-dis wrote it; it is not replaced" + way;
    if ((st.st_mode & 0222) == 0)
        return path + " is read-only; it is not replaced: make it writable to let korvane-dis "
                      "replace it, or write the source elsewhere with -o NAME";
    return "";
}

// Removes what runs killed outright left beside a final name: FINAL.korvane-dis-PID-XXXXXX,
// a regular file that is empty or begins with the header, of a process that no longer
// exists.
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
        const ssize_t n = ::read(fd, head, korvane::kDisassemblyHeader.size());
        ::close(fd);
        if (n == static_cast<ssize_t>(korvane::kDisassemblyHeader.size()) &&
            std::string_view(head, static_cast<std::size_t>(n)) == korvane::kDisassemblyHeader)
            ::unlink(path.c_str());
    }
    ::closedir(dir);
}

// Holds off the signals that remove the temporary files; the mask before.
sigset_t holdCleanupSignals() {
    sigset_t block, old;
    sigemptyset(&block);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&block, sig);
    ::sigprocmask(SIG_BLOCK, &block, &old);
    return old;
}

mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// The sources of a run, each written to a new file beside its final name; commit()
// renames them all into place once every one is complete, and until then (or when the
// run fails) they are removed.
class Files : public korvane::SourceOutput {
  public:
    Files(std::string directory, std::size_t count) : directory_(std::move(directory)) {
        // Reserved once: the handlers read the names while they are being added.
        temps_.reserve(count);
        finals_.reserve(count);
        pointers_ = std::make_unique<const char*[]>(count);
        gTemps = pointers_.get();
    }
    ~Files() override {
        if (fd_ >= 0) ::close(fd_);
        removeTemps();
    }
    bool open(const std::string& name) override {
        current_ = directory_ + name;
        if (temps_.size() == temps_.capacity()) return false;
        // A fresh name of its own: no file that is there already is touched. The file is
        // made and made known to the handlers with their signals held off, so that no
        // signal can fall between the two.
        std::string pattern =
            current_ + std::string(kTempMark) + std::to_string(::getpid()) + "-XXXXXX";
        temps_.push_back(std::move(pattern));
        finals_.push_back(current_);
        pointers_[temps_.size() - 1] = temps_.back().c_str();
        const sigset_t old = holdCleanupSignals();
        fd_ = ::mkostemp(temps_.back().data(), O_CLOEXEC);
        if (fd_ >= 0) gTempCount = static_cast<std::sig_atomic_t>(temps_.size());
        ::sigprocmask(SIG_SETMASK, &old, nullptr);
        if (fd_ < 0) {
            temps_.pop_back();
            finals_.pop_back();
            return false;
        }
        ::fchmod(fd_, 0666 & ~currentUmask());
        return true;
    }
    bool write(std::string_view text) override {
        while (!text.empty()) {
            const ssize_t k = ::write(fd_, text.data(), text.size());
            if (k < 0 && errno == EINTR) continue;
            if (k <= 0) return false;
            text.remove_prefix(static_cast<std::size_t>(k));
        }
        return true;
    }
    bool patch(std::uint64_t position, std::string_view text) override {
        while (!text.empty()) {
            const ssize_t k = ::pwrite(fd_, text.data(), text.size(), static_cast<off_t>(position));
            if (k < 0 && errno == EINTR) continue;
            if (k <= 0) return false;
            text.remove_prefix(static_cast<std::size_t>(k));
            position += static_cast<std::uint64_t>(k);
        }
        return true;
    }
    bool close() override {
        const bool ok = ::close(fd_) == 0;
        fd_ = -1;
        return ok;
    }
    // Every source into place, with the signals that clean up held off meanwhile, so
    // that the set is renamed whole. False (and the rest removed) when a rename fails.
    bool commit() {
        const sigset_t old = holdCleanupSignals();
        bool ok = true;
        for (std::size_t i = 0; i < temps_.size() && ok; ++i) {
            ok = ::rename(temps_[i].c_str(), finals_[i].c_str()) == 0;
            if (!ok) current_ = finals_[i];
        }
        if (ok) gTempCount = 0;
        ::sigprocmask(SIG_SETMASK, &old, nullptr);
        return ok;
    }
    const std::string& current() const { return current_; }

  private:
    std::string directory_;
    std::string current_;
    std::vector<std::string> temps_;
    std::vector<std::string> finals_;
    std::unique_ptr<const char*[]> pointers_;
    int fd_ = -1;
};

bool sameFile(const struct stat& a, const std::string& path) {
    struct stat b {};
    return ::stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A file is replaced through a temporary beside it (with its permissions, or 0644).
bool replaceWith(const std::string& path, std::string_view text) {
    struct stat st {};
    const mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    std::string temp = path + std::string(kTempMark) + std::to_string(::getpid()) + "-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, mode) == 0;
    while (ok && !text.empty()) {
        const ssize_t k = ::write(fd, text.data(), text.size());
        if (k < 0 && errno == EINTR) continue;
        ok = k > 0;
        if (ok) text.remove_prefix(static_cast<std::size_t>(k));
    }
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

// --info-out replaces only an info file it wrote before, never the --info it reads.
std::string whyNotReplaceInfo(const std::string& path, const std::string& infoIn) {
    struct stat st {}, in {};
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? "" : "cannot examine " + path;
    if (!infoIn.empty() && ::stat(infoIn.c_str(), &in) == 0 && in.st_dev == st.st_dev && in.st_ino == st.st_ino)
        return path + " is the --info file itself; write what was found elsewhere";
    if (!S_ISREG(st.st_mode)) return path + " exists and is not a regular file; --info-out does not replace it";
    std::vector<std::uint8_t> bytes;
    struct stat again {};
    std::string why;
    if (!readAll(path, bytes, again, why)) return why;
    constexpr std::string_view kMark = "# korvane-dis: what it found in ";
    if (bytes.size() < kMark.size() || !std::equal(kMark.begin(), kMark.end(), bytes.begin()))
        return path + " exists and was not written by --info-out; move it away or name another file";
    return "";
}

// --check SOURCE [--write]: the report on standard error, the rewritten numbers put in
// place (the file replaced through a temporary beside it, with its permissions).
int check(const std::string& path, bool writeBack) {
    std::vector<std::uint8_t> bytes;
    struct stat st {};
    std::string why;
    struct stat link {};
    if (writeBack && ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
        return error(path + " is a symbolic link; --write replaces files, not links: give the file itself");
    if (!readAll(path, bytes, st, why, kLargestSource)) return error(why);
    korvane::FileIncludes includes;
    const korvane::CheckReport report = korvane::checkSource(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), path, includes, writeBack);
    for (const std::string& m : report.messages) say(m + "\n");
    if (writeBack && report.rewritten && !replaceWith(path, report.text)) return error("cannot write " + path);
    return report.holds ? 0 : 1;
}

int run(int argc, char** argv) {
    std::string imagePath;
    std::string output;
    korvane::DisassemblyOptions options;
    std::uint64_t base = 0;
    bool baseGiven = false;
    korvane::ImageFormat format = korvane::ImageFormat::Flat;
    std::string ipPath;
    std::string checkPath;
    std::string infoPath, symbolsPath, infoOutPath;
    bool writeBack = false;
    bool flat = false;
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (optionsEnd || arg.empty() || arg[0] != '-' || arg == "-") {
            if (!imagePath.empty()) return usage("one image at a time");
            imagePath = arg;
            continue;
        }
        if (arg == "--") {
            optionsEnd = true;
            continue;
        }
        if (arg == "--help") {
            say(std::string(kUsage) + "\n" + kHelp);
            return 0;
        }
        if (arg == "--version") {
            say("korvane-dis " + std::string(korvane::version()) + "\n");
            return 0;
        }
        if (arg == "--flat") {
            flat = true;
            continue;
        }
        if (arg == "--no-guess") {
            options.guess = false;
            continue;
        }
        if (arg == "--write") {
            writeBack = true;
            continue;
        }
        // --opt value or --opt=value.
        std::string_view inlineValue;
        bool hasInline = false;
        if (const std::size_t eq = arg.find('='); eq != std::string_view::npos && arg[1] == '-') {
            inlineValue = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasInline = true;
        }
        auto value = [&]() -> const char* {
            if (hasInline) return inlineValue.data();
            return i + 1 < argc ? argv[++i] : nullptr;
        };
        if (arg == "--base" || arg == "--entry" || arg == "--vectors") {
            const char* v = value();
            std::uint64_t a;
            if (v == nullptr || !korvane::parseAddress(v, a) || a > 0xFFFFFFFFull)
                return usage(std::string(arg) + " needs an address");
            if (arg == "--base") {
                base = a;
                baseGiven = true;
            } else {
                (arg == "--entry" ? options.entries : options.vectors).push_back(static_cast<std::uint32_t>(a));
            }
        } else if (arg == "--format") {
            const char* v = value();
            const std::string_view f = v == nullptr ? "" : v;
            if (f == "flat") {
                format = korvane::ImageFormat::Flat;
            } else if (f == "saturn") {
                format = korvane::ImageFormat::Saturn;
            } else if (f == "32x" || f == "32X") {
                format = korvane::ImageFormat::ThirtyTwoX;
            } else {
                return usage("--format needs flat, saturn or 32x");
            }
        } else if (arg == "--info" || arg == "--symbols" || arg == "--info-out") {
            const char* v = value();
            if (v == nullptr || *v == '\0') return usage(std::string(arg) + " needs a file name");
            (arg == "--info" ? infoPath : arg == "--symbols" ? symbolsPath : infoOutPath) = v;
        } else if (arg == "--check") {
            const char* v = value();
            if (v == nullptr || *v == '\0') return usage("--check needs a source");
            checkPath = v;
        } else if (arg == "--ip") {
            const char* v = value();
            if (v == nullptr || *v == '\0') return usage("--ip needs a file name");
            ipPath = v;
        } else if (arg == "--code" || arg == "--data") {
            const char* v = value();
            korvane::AddressRange range;
            if (v == nullptr || !parseRange(v, range))
                return usage(std::string(arg) + " needs a range ADDR-ADDR");
            if (arg == "--code") {
                options.code.push_back(range);
            } else {
                options.data.push_back({range});
            }
        } else if (arg == "-o" || arg == "--output") {
            const char* v = value();
            if (v == nullptr || *v == '\0') return usage(std::string(arg) + " needs a file name");
            output = v;
        } else {
            return usage("unknown option " + std::string(arg));
        }
    }
    if (!checkPath.empty()) {
        if (!imagePath.empty()) return usage("--check takes a source, not an image");
        return check(checkPath, writeBack);
    }
    if (writeBack) return usage("--write goes with --check");
    if (imagePath.empty()) return usage("no image named");

    std::vector<std::uint8_t> image;
    struct stat imageStat {};
    std::string why;
    if (!readAll(imagePath, image, imageStat, why)) return error(why);
    if (!flat && image.size() >= 4 && image[0] == 0x7F && image[1] == 'E' && image[2] == 'L' &&
        image[3] == 'F') {
        return error(imagePath + " is an ELF file, not a flat image; extract its code with\n  " +
                     "sh-elf-objcopy -O binary " + korvane::shellWord(imagePath) + " " +
                     korvane::shellWord(imagePath + ".flat") +
                     "\nand disassemble that (or give --flat to take the file as it is)");
    }
    options.base = static_cast<std::uint32_t>(base);
    if (!ipPath.empty() && format != korvane::ImageFormat::Saturn) return usage("--ip goes with --format saturn");
    std::vector<std::uint8_t> ip;
    if (!ipPath.empty()) {
        struct stat ipStat {};
        if (!readAll(ipPath, ip, ipStat, why)) return error(why);
    }
    if (const std::string bad = korvane::applyFormat(format, image, ip, baseGiven, options); !bad.empty())
        return error(imagePath + ": " + bad);
    // What the user knows: errors in those files are reported as FILE:LINE, nothing written.
    for (const auto& [path, isInfo] : {std::pair<const std::string&, bool>{infoPath, true}, {symbolsPath, false}}) {
        if (path.empty()) continue;
        std::vector<std::uint8_t> text;
        struct stat textStat {};
        if (!readAll(path, text, textStat, why)) return error(why);
        const std::string_view t(reinterpret_cast<const char*>(text.data()), text.size());
        const std::vector<std::string> bad =
            isInfo ? korvane::readInfo(t, path, options) : korvane::readSymbols(t, path, options);
        if (!bad.empty()) {
            for (const std::string& b : bad) say(b + "\n");
            return 1;
        }
        options.notes.push_back(std::string(isInfo ? "info file: " : "symbols: ") + path);
    }

    // The top source's directory and name: beside the image, or as -o says.
    const std::string& named = output.empty() ? imagePath : output;
    const std::size_t slash = named.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : named.substr(0, slash + 1);
    const std::size_t imageSlash = imagePath.rfind('/');
    options.imageName =
        imageSlash == std::string::npos ? imagePath : imagePath.substr(imageSlash + 1);
    if (!output.empty()) {
        options.sourceName = slash == std::string::npos ? output : output.substr(slash + 1);
        if (options.sourceName.empty()) return error("-o needs a file name, not a directory");
    }
    // Whether the sources a run before wrote may be replaced takes reading them whole: it
    // is worked out beside the analysis, for the names this run will probably use.
    const std::string top = options.sourceName.empty() ? options.imageName + ".s" : options.sourceName;
    auto verdicts = std::async(std::launch::async, [directory, top] {
        std::map<std::string, std::string> v;
        v[top] = whyNotReplace(directory + top);
        for (std::size_t i = 0; i < 1000; ++i) {
            const std::string part = korvane::partName(top, i);
            struct stat st {};
            if (::lstat((directory + part).c_str(), &st) != 0) break;
            v[part] = whyNotReplace(directory + part);
        }
        return v;
    });
    const korvane::Disassembly dis(image, options);
    const std::map<std::string, std::string> known = verdicts.get();
    if (!dis.error().empty()) return error(dis.error());
    for (const std::string& name : dis.files()) {
        const std::string path = directory + name;
        const std::string b = korvane::baseName(path);
        // Assembling a source must never replace the image it came from.
        if (sameFile(imageStat, path) || sameFile(imageStat, b + ".bin") || sameFile(imageStat, b + ".log"))
            return error("assembling " + path + " would replace the image itself; choose another -o");
    }
    for (const std::string& name : dis.files()) {
        removeLeftovers(directory, name);
        const auto it = known.find(name);
        const std::string not_ = it != known.end() ? it->second : whyNotReplace(directory + name);
        if (!not_.empty()) return error(not_);
    }

    if (!infoOutPath.empty()) {
        const std::string refused = whyNotReplaceInfo(infoOutPath, infoPath);
        if (!refused.empty()) return error(refused);
    }
    Files files(directory, dis.files().size());
    if (!dis.write(files) || !files.commit()) return error("cannot write " + files.current());
    if (!infoOutPath.empty() && !replaceWith(infoOutPath, korvane::infoOf(dis, options)))
        return error("cannot write " + infoOutPath);
    if (dis.files().size() > 1) {
        std::string text = "the image needs " + std::to_string(dis.files().size() - 1) +
                           " parts; rebuild it in the directory of the sources (INCBIN names "
                           "are relative to the working directory), in this order:\n";
        if (!directory.empty()) text += "  cd " + korvane::shellWord(directory) + "\n";
        for (const std::string& name : dis.files()) text += "  korvane " + korvane::shellWord(name) + "\n";
        std::fwrite(text.data(), 1, text.size(), stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Past a file-size limit a write fails and is reported, instead of killing the run.
    std::signal(SIGXFSZ, SIG_IGN);
    struct sigaction clean {};
    clean.sa_handler = onSignal;
    sigemptyset(&clean.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &clean, nullptr);
    // When memory runs out, even the exception that would report it may find no room.
    std::set_new_handler(outOfMemory);
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        outOfMemory();
    }
}
