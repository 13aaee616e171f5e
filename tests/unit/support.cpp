#include "unit/support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace korvane::test {

namespace {

class StringFile : public IncludeFile {
  public:
    explicit StringFile(std::string data) : data_(std::move(data)), source_(data_) {}
    std::uint64_t size() const override { return data_.size(); }
    std::ptrdiff_t read(std::span<std::uint8_t> buf) override { return source_.read(buf); }

  private:
    std::string data_;
    MemorySource source_;
};

}  // namespace

Included MemoryIncludes::open(std::string_view name) {
    auto it = files.find(std::string(name));
    if (it == files.end()) return nullptr;
    return std::make_unique<StringFile>(it->second);
}

Assembled assembleText(std::string_view source) {
    NoIncludes none;
    return assembleText(source, none);
}

Assembled assembleText(std::string_view source, IncludeOpener& includes) {
    MemorySource in(source);
    MemorySink bin("out.bin");
    MemorySink log("out.log");
    Assembled a;
    a.result = assemble(in, bin, log, includes);
    a.bin = bin.bytes();
    a.log = log.bytes();
    return a;
}

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

std::string hexRun(const std::string& group, int n) {
    std::string out = repeat(group + " ", n);
    if (!out.empty()) out.pop_back();
    return out;
}

std::string hexBytes(std::string_view bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty()) out += ' ';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string words(std::string_view bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i % 2 == 0 && i > 0) out += ' ';
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::vector<std::string> logLines(const std::string& log) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = log.find("\r\n", start);
        if (end == std::string::npos) break;
        lines.push_back(log.substr(start, end - start));
        start = end + 2;
    }
    if (start < log.size()) lines.push_back(log.substr(start) + "<no CR LF>");
    return lines;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "korvane-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Restore write permission on anything a test made read-only, then remove it all.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(path_, ec);
}

void TempDir::write(std::string_view name, std::string_view bytes) const {
    std::ofstream f(file(name), std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write test file " + std::string(name));
}

std::string TempDir::read(std::string_view name) const {
    std::ifstream f(file(name), std::ios::binary);
    if (!f) return "<missing>";
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

bool TempDir::exists(std::string_view name) const {
    struct stat st {};
    return ::lstat(file(name).c_str(), &st) == 0;
}

Child::Child(const std::vector<std::string>& argv, const std::string& dir) {
    int out[2];
    if (::pipe(out) != 0) throw std::runtime_error("pipe failed");
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        ::dup2(out[1], 1);
        ::dup2(out[1], 2);  // messages of either stream, in the order written
        ::close(out[0]);
        ::close(out[1]);
        int devnull = ::open("/dev/null", O_RDWR);
        if (devnull >= 0) ::dup2(devnull, 0);
        if (::chdir(dir.c_str()) != 0) ::_exit(126);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(out[1]);
    out_ = out[0];
}

Child::~Child() {
    if (pid_ > 0) finish(1);
}

void Child::signal(int sig) const {
    if (pid_ > 0) ::kill(pid_, sig);
}

CommandResult Child::finish(int timeoutSeconds) {
    CommandResult r;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    char buf[65536];
    for (;;) {
        if (timeoutSeconds > 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            struct pollfd p {
                out_, POLLIN, 0
            };
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) == 0) {
                r.timedOut = true;
                ::kill(pid_, SIGKILL);
                timeoutSeconds = 0;  // read what is left: the pipe closes with the child
            }
        }
        ssize_t k = ::read(out_, buf, sizeof buf);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) break;
        r.out.append(buf, static_cast<std::size_t>(k));
    }
    ::close(out_);
    int status = 0;
    struct rusage usage {};
    ::wait4(pid_, &status, 0, &usage);
    pid_ = -1;
    r.maxRssKb = usage.ru_maxrss;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

CommandResult runCommand(const std::vector<std::string>& argv, const std::string& dir,
                         int timeoutSeconds) {
    return Child(argv, dir).finish(timeoutSeconds);
}

bool haveTool(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return false;
    std::stringstream dirs(path);
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0) return true;
    }
    return false;
}

void checkCases(const std::vector<SourceCase>& cases, IncludeOpener& includes) {
    for (const SourceCase& c : cases) {
        SCOPED_TRACE(c.source.substr(0, 200));
        Assembled a = assembleText(c.source, includes);
        EXPECT_EQ(a.message(), c.message);
        EXPECT_EQ(hexBytes(a.bin), c.bin);
    }
}

void checkCases(const std::vector<SourceCase>& cases) {
    NoIncludes none;
    checkCases(cases, none);
}

bool asOrdinaryUser(std::vector<std::string>& argv) {
    if (::geteuid() != 0) return true;
    if (!haveTool("setpriv")) return false;
    argv.insert(argv.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    return true;
}

std::uint32_t bigEndian(const std::string& b, std::uint32_t at, unsigned width) {
    std::uint32_t v = 0;
    for (unsigned i = 0; i < width; ++i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
    return v;
}

std::string readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

DisassemblyOptions unguessedAt06000000(const char* imageName) {
    DisassemblyOptions o;
    o.imageName = imageName;
    o.base = 0x06000000;
    o.guess = false;
    return o;
}

Disassembled assembleAndDisassemble(const std::string& program, const DisassemblyOptions& options) {
    Disassembled d;
    const Assembled a = assembleText(program);
    EXPECT_TRUE(a.result.ok) << a.message();
    d.image.assign(a.bin.begin(), a.bin.end());
    d.dis = std::make_unique<Disassembly>(d.image, options);
    EXPECT_EQ(d.dis->error(), "");
    MemoryOutput out;
    EXPECT_TRUE(d.dis->write(out));
    d.files = std::move(out.files);
    return d;
}

std::string disassembled(const std::string& program) {
    return assembleAndDisassemble(program, unguessedAt06000000("t.bin")).source();
}

}  // namespace korvane::test
