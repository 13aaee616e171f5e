// The korvane-dis command: korvane-dis IMAGE [--base ADDR] [--entry ADDR]...
// [--code ADDR-ADDR]... [--data ADDR-ADDR]... writes IMAGE.s (and, for a large image,
// IMAGE.partNN.s) beside the image. Errors go to standard error: status 1, or 2 for a
// command line it does not understand. Nothing is written unless every check passed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "korvane/disassemble.h"

namespace {

constexpr std::uint64_t kLargestImage = 16u << 20;

constexpr const char* kUsage =
    "usage: korvane-dis IMAGE [--base ADDR] [--entry ADDR]... [--code ADDR-ADDR]... "
    "[--data ADDR-ADDR]...\n"
    "  ADDR is $6004000, 0x6004000 or decimal; a range's end is excluded.\n";

int usage(const std::string& why) {
    std::fprintf(stderr, "korvane-dis: %s\n%s", why.c_str(), kUsage);
    return 2;
}

int error(const std::string& why) {
    std::fprintf(stderr, "korvane-dis: %s\n", why.c_str());
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

bool readAll(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& why) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) ::close(fd);
        why = "cannot read " + path;
        return false;
    }
    if (static_cast<std::uint64_t>(st.st_size) > kLargestImage) {
        ::close(fd);
        why = path + " is larger than 16 MiB";
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

// A file that may be written: absent, or a source this command wrote before.
bool mayReplace(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISREG(st.st_mode)) return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    char head[64];
    const ssize_t n = ::read(fd, head, korvane::kDisassemblyHeader.size());
    ::close(fd);
    return n == static_cast<ssize_t>(korvane::kDisassemblyHeader.size()) &&
           std::string_view(head, static_cast<std::size_t>(n)) == korvane::kDisassemblyHeader;
}

mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// Each source is written to a new file beside its final name and renamed over it when
// complete, so a name never holds half a source.
class Files : public korvane::SourceOutput {
  public:
    explicit Files(std::string directory) : directory_(std::move(directory)) {}
    ~Files() override {
        if (fd_ >= 0) {
            ::close(fd_);
            ::unlink(temp_.c_str());
        }
    }
    bool open(const std::string& name) override {
        final_ = directory_ + name;
        // A fresh name of its own: no file that is there already is touched.
        std::string pattern = final_ + ".XXXXXX";
        fd_ = ::mkstemp(pattern.data());
        if (fd_ < 0) return false;
        temp_ = pattern;
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
    bool close() override {
        const bool ok = ::close(fd_) == 0;
        fd_ = -1;
        if (!ok || ::rename(temp_.c_str(), final_.c_str()) != 0) {
            ::unlink(temp_.c_str());
            return false;
        }
        return true;
    }
    const std::string& current() const { return final_; }

  private:
    std::string directory_;
    std::string final_;
    std::string temp_;
    int fd_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
    std::string imagePath;
    korvane::DisassemblyOptions options;
    std::uint64_t base = 0;
    std::vector<std::uint64_t> entries;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--base" || arg == "--entry") {
            const char* v = value();
            std::uint64_t a;
            if (v == nullptr || !korvane::parseAddress(v, a) || a > 0xFFFFFFFFull)
                return usage(std::string(arg) + " needs an address");
            if (arg == "--base") {
                base = a;
            } else {
                entries.push_back(a);
            }
        } else if (arg == "--code" || arg == "--data") {
            const char* v = value();
            korvane::AddressRange range;
            if (v == nullptr || !parseRange(v, range))
                return usage(std::string(arg) + " needs a range ADDR-ADDR");
            (arg == "--code" ? options.code : options.data).push_back(range);
        } else if (!arg.empty() && arg[0] == '-') {
            return usage("unknown option " + std::string(arg));
        } else if (imagePath.empty()) {
            imagePath = arg;
        } else {
            return usage("one image at a time");
        }
    }
    if (imagePath.empty()) return usage("no image named");

    std::vector<std::uint8_t> image;
    std::string why;
    if (!readAll(imagePath, image, why)) return error(why);
    const std::uint64_t end = base + image.size();
    if (end > 0x100000000ull) return error("the image does not fit below 2^32 at that base");
    options.base = static_cast<std::uint32_t>(base);
    for (std::uint64_t e : entries) {
        if (e < base || e >= end) return error("entry outside the image");
        options.entries.push_back(static_cast<std::uint32_t>(e));
    }
    for (const auto* ranges : {&options.code, &options.data}) {
        for (const korvane::AddressRange& r : *ranges) {
            if (r.begin < base || r.end > end) return error("range outside the image");
        }
    }
    const std::size_t slash = imagePath.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : imagePath.substr(0, slash + 1);
    options.imageName = slash == std::string::npos ? imagePath : imagePath.substr(slash + 1);
    // The name stands in comments and in INCBIN "…" of the sources.
    for (const char c : options.imageName) {
        if (static_cast<unsigned char>(c) < 0x20 || c == '"' || c == 0x7F)
            return error("the image's name cannot be written in a source: " + options.imageName);
    }

    const korvane::Disassembly dis(image, options);
    for (const std::string& name : dis.files()) {
        if (!mayReplace(directory + name))
            return error(directory + name + " exists and was not written by korvane-dis");
    }
    Files files(directory);
    if (!dis.write(files)) return error("cannot write " + files.current());
    if (dis.files().size() > 1) {
        std::printf("the image needs %zu parts; in %s, run in order:\n", dis.files().size() - 1,
                    directory.empty() ? "this directory" : directory.c_str());
        for (const std::string& name : dis.files()) std::printf("  korvane %s\n", name.c_str());
    }
    return 0;
}
