// The sources' files of a run: read, judged, written side by side or to standard output.
#include "driver/dis_run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <atomic>
#include <cerrno>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace korvane::dis_run {

void say(std::string_view text) {
    files::writeAll(STDERR_FILENO, text);
}

int error(Say code, const command::Blanks& blanks) {
    say("korvane-dis: " + command::text(code, blanks) + "\n");
    return 1;
}

int error(const std::string& why) {
    say("korvane-dis: " + why + "\n");
    return 1;
}

bool readAll(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& why, std::uint64_t largest,
             bool pipes, files::Seen* seen) {
    files::Seen st;
    const bool ok = files::readAll(path, bytes, largest, pipes, st, why);
    if (seen != nullptr) *seen = st;
    return ok;
}

// The first bytes of a file (its header), at most n.
std::string headOf(const std::string& path, std::size_t n) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return {};
    std::string text(n, '\0');
    std::size_t got = 0;
    while (got < n) {
        const ssize_t k = ::read(fd, text.data() + got, n - got);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) break;
        got += static_cast<std::size_t>(k);
    }
    ::close(fd);
    text.resize(got);
    return text;
}

std::vector<std::string> mixedParts(std::string_view top, const std::map<std::string, Judgement>& known,
                                    const std::string& directory) {
    std::vector<std::string> mixed;
    for (const RecordedPart& p : recordedParts(top)) {
        const auto it = known.find(p.name);
        const Judgement j = it != known.end() ? it->second : files::judge(directory + p.name, Written::Source, kWay);
        if (!j.seen.exists || (j.recorded != p.fingerprint && !j.changed)) mixed.push_back(p.name);
    }
    return mixed;
}

namespace {

// The single source of -o -, kept whole and written to standard output when complete.
class StandardOutput : public SourceOutput {
  public:
    bool open(const std::string&) override {
        text_.clear();
        return true;
    }
    bool write(std::string_view text) override {
        text_.append(text);
        return true;
    }
    bool patch(std::uint64_t position, std::string_view text) override {
        if (position > text_.size() || text.size() > text_.size() - position) return false;
        text_.replace(static_cast<std::size_t>(position), text.size(), text);
        return true;
    }
    bool close() override { return files::writeAll(STDOUT_FILENO, text_); }

  private:
    std::string text_;
};

}  // namespace

bool writeToStandardOutput(const Disassembly& dis) {
    StandardOutput out;
    return dis.write(out);
}

// What may be replaced, worked out for the names a run will probably use: the top
// source and every part an earlier run left.
std::map<std::string, Judgement> judgeSources(const std::string& directory, const std::string& top) {
    std::map<std::string, Judgement> v;
    v[top] = files::judge(directory + top, Written::Source, kWay);
    for (std::size_t i = 0; i < 10000; ++i) {
        const std::string part = partName(top, i);
        if (!files::look(directory + part).exists) break;
        v[part] = files::judge(directory + part, Written::Source, kWay);
    }
    return v;
}

// Writes the sources into the set: the parts side by side, on this thread and a second
// one where it can be had (the analysis is only read), then the top source. "" when all
// were written, else the name of the first that could not be.
// With a map, every source goes through a watcher of it (which notes where the
// functions start).
std::string writeSources(const Disassembly& dis, files::FileSet& files, const std::string& directory,
                         MapPage* map) {
    const std::size_t parts = dis.parts();
    std::unique_ptr<SourceOutput> top = map ? map->watch(files) : nullptr;
    SourceOutput& topOut = top ? *top : files;
    if (parts < 2) return dis.write(topOut) ? "" : files.current();
    std::vector<std::unique_ptr<SourceOutput>> apart, outs;
    for (std::size_t i = 0; i < parts; ++i) {
        apart.push_back(files.openApart(dis.files()[i]));
        if (!apart.back()) return files.current();
        outs.push_back(map ? map->watch(*apart.back()) : std::move(apart.back()));
    }
    std::vector<std::uint64_t> printed(parts);
    std::vector<char> written(parts, 0);
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i = next++; i < parts; i = next++) written[i] = dis.writePart(*outs[i], i, printed[i]);
    };
    {
        std::future<void> other;
        try {
            other = std::async(std::launch::async, work);
        } catch (const std::system_error&) {  // no second thread: this one writes them all
        }
        work();
        if (other.valid()) other.get();
    }
    for (std::size_t i = 0; i < parts; ++i) {
        if (!written[i]) return directory + dis.files()[i];
    }
    return dis.writeTop(topOut, printed) ? "" : files.current();
}

int readInputs(const command::Parsed& p, DisassemblyOptions& options, std::vector<std::uint8_t>& image,
               bool& tracedOutside) {
    std::string why;
    if (!readAll(p.image, image, why)) return error(why);
    if (!p.flat && image.size() >= 4 && image[0] == 0x7F && image[1] == 'E' && image[2] == 'L' &&
        image[3] == 'F') {
        const std::string words = shellWord(p.image) + " " + shellWord(p.image + ".flat");
        return error(Say::ElfImage, {.name = p.image, .other = words});
    }
    options.base = p.base;
    std::vector<std::uint8_t> ip;
    if (!p.ip.empty() && !readAll(p.ip, ip, why)) return error(why);
    if (const std::string bad = applyFormat(p.format, image, ip, p.baseGiven, options); !bad.empty())
        return error(p.image + ": " + bad);
    // What the user knows: errors in those files are reported as FILE:LINE, nothing
    // written. Any may be a pipe (<(nm prog.elf)). An info file names its image: one of
    // another image's gives its extern lines only.
    const std::size_t nameAt = p.image.rfind('/');
    options.imageName = nameAt == std::string::npos ? p.image : p.image.substr(nameAt + 1);
    std::vector<std::pair<std::string, bool>> knowing;
    for (const std::string& path : p.infos) knowing.emplace_back(path, true);
    if (!p.symbols.empty()) knowing.emplace_back(p.symbols, false);
    for (const auto& [path, isInfo] : knowing) {
        std::vector<std::uint8_t> text;
        if (!readAll(path, text, why, kLargestImage, true)) return error(why);
        const std::string_view t(reinterpret_cast<const char*>(text.data()), text.size());
        const std::vector<std::string> bad =
            isInfo ? readInfo(t, path, options) : readSymbols(t, path, options);
        if (!bad.empty()) {
            for (const std::string& b : bad) say(b + "\n");
            return 1;
        }
        options.notes.push_back(std::string(isInfo ? "info file: " : "symbols: ") + path);
    }
    // Traces: FILE, or FILE@BASE for a code/data log.
    for (const std::string& given : p.traces) {
        std::string path = given;
        std::optional<std::uint32_t> logBase;
        if (const std::size_t at = given.rfind('@'); at != std::string::npos) {
            std::uint64_t b;
            if (parseAddress(std::string_view(given).substr(at + 1), b) && b <= 0xFFFFFFFFull) {
                path = given.substr(0, at);
                logBase = static_cast<std::uint32_t>(b);
            }
        }
        // Read as it comes: a trace of any length (an emulator's log of all its memory)
        // keeps only what the image holds.
        TraceReader reader(path, logBase, image.size(), options);
        if (!files::readEach(path, true, [&](std::span<const std::uint8_t> b) { reader.add(b); }, why))
            return error(why);
        const TraceRead read = reader.finish(options);
        if (!read.errors.empty()) {
            for (const std::string& b : read.errors) say(b + "\n");
            return 1;
        }
        tracedOutside = tracedOutside || read.outside != 0;
        for (const AddressRange& r : read.both) {
            std::string range = addressText(r.begin);
            if (r.end - r.begin > 1) {
                range += '-';
                range += addressText(r.end);
            }
            say("korvane-dis: " + command::text(Say::TraceBoth, {.name = path, .other = range}) + "\n");
        }
        options.notes.push_back("trace: " + given +
                                (read.outside == 0 ? ""
                                                   : " (" + std::to_string(read.outside) +
                                                         " bytes of it outside the image passed over)"));
    }

    return 0;
}

std::string addressText(std::uint64_t a) {
    char at[12];
    std::snprintf(at, sizeof at, "$%08llX", static_cast<unsigned long long>(a));
    return at;
}

// --why: every fact about each address, one line each, on standard output;
// traced: a trace logged addresses outside the image (passed over).
int explain(const Model& model, const std::vector<std::uint32_t>& addresses, bool traced) {
    static constexpr const char* kKinds[] = {"item", "label", "code", "function", "table", "pointer", "number"};
    std::string out;
    for (const std::uint32_t a : addresses) {
        const std::string at = addressText(a);
        const std::vector<Fact> facts = model.why(a);
        if (facts.empty()) out += at + ": outside the image" + (traced ? " (what a trace says of it is passed over)\n" : "\n");
        for (const Fact& f : facts)
            out += at + " " + kKinds[static_cast<std::size_t>(f.kind)] + ": " + f.text + "\n";
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

int findBase(std::span<const std::uint8_t> image, std::uint32_t given) {
    std::string out;
    for (const BaseCandidate& b : findBases(image, given)) {
        char line[160];
        std::snprintf(line, sizeof line, "$%08X  %u of %u call targets open a routine (%u of %u distinct)%s\n", b.base,
                      b.opening, b.targets, b.distinctOpening, b.distinctTargets, b.base == given ? "  the base given" : "");
        out += line;
    }
    if (out.empty()) out = "no call through a literal: nothing to weigh\n";
    return files::writeAll(STDOUT_FILENO, out) ? 0 : error(Say::CannotWriteStandardOutput);
}

}  // namespace korvane::dis_run
