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
#include <atomic>
#include <cstring>
#include <future>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "files/names.h"
#include "driver/dis_command.h"
#include "files/replace.h"
#include "korvane/disassemble.h"
#include "korvane/files.h"
#include "korvane/map.h"
#include "korvane/version.h"

namespace {

constexpr std::uint64_t kLargestImage = 16u << 20;
// A source korvane-dis writes for the largest image is well below this (about 7 bytes of
// text an image byte at most).
constexpr std::uint64_t kLargestSource = 1u << 30;

// ---- what a signal or exhausted memory must clean up ----------------------------------
// The temporary files of the run, kept where a signal handler can reach them.
korvane::files::TempList gTemps;

void say(std::string_view text) {
    korvane::files::writeAll(STDERR_FILENO, text);
}

extern "C" void onSignal(int sig) {
    gTemps.removeAll();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void outOfMemory() {
    gTemps.removeAll();
    say("korvane-dis: out of memory\n");  // no room to make a text: the catalogue's, as it stands
    ::_exit(1);
}

int usage(const std::string& why) {
    say("korvane-dis: " + why + "\n" + korvane::command::usage());
    return 2;
}

using korvane::command::Say;
int error(Say code, const korvane::command::Blanks& blanks = {}) {
    say("korvane-dis: " + korvane::command::text(code, blanks) + "\n");
    return 1;
}

int error(const std::string& why) {
    say("korvane-dis: " + why + "\n");
    return 1;
}

bool readAll(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& why,
             std::uint64_t largest = kLargestImage, bool pipes = false, korvane::files::Seen* seen = nullptr) {
    korvane::files::Seen st;
    const bool ok = korvane::files::readAll(path, bytes, largest, pipes, st, why);
    if (seen != nullptr) *seen = st;
    return ok;
}

using korvane::files::Judgement;

// The parts a top source names that are not as it wrote them: a set a stopped run left
// mixed, told by the fingerprints the top records (a part edited by hand is not one).
// judged gives the judgement of a part by its name.
template <typename Judge>
std::vector<std::string> mixedParts(std::string_view top, Judge judged) {
    std::vector<std::string> mixed;
    for (const korvane::RecordedPart& p : korvane::recordedParts(top)) {
        const Judgement j = judged(p.name);
        if (!j.seen.exists || (j.recorded != p.fingerprint && !j.changed)) mixed.push_back(p.name);
    }
    return mixed;
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

// --check SOURCE --unknowns: every mark of what stays unknown, on standard output.
int unknowns(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    std::string why;
    if (!readAll(path, bytes, why, kLargestSource, false, nullptr)) return error(why);
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::string out;
    for (const std::string& line : korvane::listUnknowns(text, path)) out += line + "\n";
    return korvane::files::writeAll(STDOUT_FILENO, out) ? 0 : error(Say::CannotWriteStandardOutput);
}

// A checked source put among files, replacing the file seen there (keeping its mode and
// owner, and only while it is still as read) or as a new file: 0, or the error's status.
int putChecked(korvane::files::FileSet& files, const std::string& name, std::string_view text,
               const korvane::files::Seen& seen, bool replaces) {
    files.expect(name, replaces ? seen : korvane::files::Seen{}, korvane::Written::Source);
    const mode_t mode = replaces ? static_cast<mode_t>(seen.mode) : korvane::files::newFileMode();
    const uid_t uid = replaces ? static_cast<uid_t>(seen.uid) : ::geteuid();
    const gid_t gid = replaces ? static_cast<gid_t>(seen.gid) : ::getegid();
    if (!files.put(name, text, mode, uid, gid))
        return error(uid != ::geteuid() ? Say::CheckedOtherUser : Say::CannotWrite, {.name = name});
    // The source read must still be there as read: an edit saved meanwhile is kept.
    if (replaces && korvane::files::look(name) != seen) return error(Say::CheckedChanged, {.name = name});
    return 0;
}

// --check TOP [--write] for the top source of a set of parts: the parts checked as one
// program, and with --write every part that changed replaced (each only while as read).
int checkParts(const std::string& directory, const std::string& top, const std::vector<korvane::RecordedPart>& recorded,
               bool writeBack, bool inPlace) {
    if (writeBack && !inPlace) return error(Say::CheckedPartsElsewhere, {.name = top});
    std::vector<korvane::PartText> parts;
    std::vector<korvane::files::Seen> seen(recorded.size());
    for (std::size_t i = 0; i < recorded.size(); ++i) {
        std::vector<std::uint8_t> bytes;
        std::string why;
        const std::string name = directory + recorded[i].name;
        if (!readAll(name, bytes, why, kLargestSource, false, &seen[i])) return error(why);
        if (writeBack && (seen[i].mode & 0222) == 0) return error(Say::CheckedReadOnly, {.name = name});
        parts.push_back({name, std::string(bytes.begin(), bytes.end())});
    }
    korvane::FileIncludes includes;
    const korvane::PartsReport report = korvane::checkParts(parts, includes, writeBack);
    for (const std::string& m : report.messages) say(m + "\n");
    if (writeBack && !report.changed.empty()) {
        korvane::files::FileSet files("", gTemps);
        for (const korvane::PartText& p : report.changed) {
            const std::size_t i = static_cast<std::size_t>(
                std::find_if(parts.begin(), parts.end(), [&](const korvane::PartText& x) { return x.name == p.name; }) - parts.begin());
            if (const int status = putChecked(files, p.name, p.text, seen[i], true)) return status;
        }
        if (const std::string bad = files.commit(); !bad.empty()) return error(bad);
    }
    return report.holds ? 0 : 1;
}

// --check SOURCE [--write [-o OUT]]: the report on standard error; the rewritten numbers
// put in place (the file replaced through a temporary beside it, with its mode and
// owner), or the checked source written as OUT.
int check(const std::string& path, bool writeBack, const std::string& output) {
    std::vector<std::uint8_t> bytes;
    std::string why;
    struct stat link {};
    const bool inPlace = output.empty() || korvane::files::sameName(output, path);
    if (writeBack && inPlace && ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
        return error(Say::CheckedLink, {.name = path});
    korvane::files::Seen seen;
    if (!readAll(path, bytes, why, kLargestSource, false, &seen)) return error(why);
    if (writeBack && inPlace && (seen.mode & 0222) == 0)
        return error(Say::CheckedReadOnly, {.name = path});
    if (writeBack && !inPlace && korvane::files::look(output).exists)
        return error(Say::CheckedOutputExists, {.name = output});
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const std::size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    bool holds = true;
    auto judged = [&](const std::string& name) { return korvane::files::judge(directory + name, korvane::Written::Source, ""); };
    for (const std::string& part : mixedParts(text, judged)) {
        say(korvane::command::text(Say::CheckedMixedSet, {.name = path, .other = part}) + "\n");
        holds = false;
    }
    korvane::FileIncludes includes;
    if (const std::vector<korvane::RecordedPart> recorded = korvane::recordedParts(text); !recorded.empty())
        return holds ? checkParts(directory, path, recorded, writeBack, inPlace) : 1;
    const korvane::CheckReport report = korvane::checkSource(text, path, includes, writeBack);
    for (const std::string& m : report.messages) say(m + "\n");
    if (writeBack && (report.rewritten || !inPlace)) {
        korvane::files::FileSet files("", gTemps);
        const std::string_view out = report.rewritten ? std::string_view(report.text) : text;
        if (const int status = putChecked(files, inPlace ? path : output, out, seen, inPlace)) return status;
        if (const std::string bad = files.commit(); !bad.empty()) return error(bad);
    }
    return holds && report.holds ? 0 : 1;
}

std::string addressText(std::uint64_t a) {
    char at[12];
    std::snprintf(at, sizeof at, "$%08llX", static_cast<unsigned long long>(a));
    return at;
}

// --why: every fact about each address, one line each, on standard output;
// traced: a trace logged addresses outside the image (passed over).
int explain(const korvane::Model& model, const std::vector<std::uint32_t>& addresses, bool traced) {
    static constexpr const char* kKinds[] = {"item", "label", "code", "function", "table", "pointer", "number"};
    std::string out;
    for (const std::uint32_t a : addresses) {
        const std::string at = addressText(a);
        const std::vector<korvane::Fact> facts = model.why(a);
        if (facts.empty()) out += at + ": outside the image" + (traced ? " (what a trace says of it is passed over)\n" : "\n");
        for (const korvane::Fact& f : facts)
            out += at + " " + kKinds[static_cast<std::size_t>(f.kind)] + ": " + f.text + "\n";
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

// The single source of -o -, kept whole and written to standard output when complete.
class StandardOutput : public korvane::SourceOutput {
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
    bool close() override { return korvane::files::writeAll(STDOUT_FILENO, text_); }

  private:
    std::string text_;
};

// What may be replaced, worked out for the names a run will probably use: the top
// source and every part an earlier run left.
constexpr const char* kWay = "; move it away, or write the source elsewhere with -o NAME";
std::map<std::string, Judgement> judgeSources(const std::string& directory, const std::string& top) {
    std::map<std::string, Judgement> v;
    v[top] = korvane::files::judge(directory + top, korvane::Written::Source, kWay);
    for (std::size_t i = 0; i < 10000; ++i) {
        const std::string part = korvane::partName(top, i);
        if (!korvane::files::look(directory + part).exists) break;
        v[part] = korvane::files::judge(directory + part, korvane::Written::Source, kWay);
    }
    return v;
}

// Writes the sources into the set: the parts side by side, on this thread and a second
// one where it can be had (the analysis is only read), then the top source. "" when all
// were written, else the name of the first that could not be.
// With a map, every source goes through a watcher of it (which notes where the
// functions start).
std::string writeSources(const korvane::Disassembly& dis, korvane::files::FileSet& files, const std::string& directory,
                         korvane::MapPage* map) {
    const std::size_t parts = dis.parts();
    std::unique_ptr<korvane::SourceOutput> top = map ? map->watch(files) : nullptr;
    korvane::SourceOutput& topOut = top ? *top : files;
    if (parts < 2) return dis.write(topOut) ? "" : files.current();
    std::vector<std::unique_ptr<korvane::SourceOutput>> apart, outs;
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

int run(int argc, char** argv) {
    korvane::command::Parsed p;
    if (const std::string bad = korvane::command::parse(argc, argv, p); !bad.empty()) return usage(bad);
    if (p.help || p.version) {
        const std::string text = p.help ? korvane::command::usage() + "\n" + korvane::command::help()
                                        : "korvane-dis " + std::string(korvane::version()) + "\n";
        return korvane::files::writeAll(STDOUT_FILENO, text) ? 0 : error(Say::CannotWriteStandardOutput);
    }
    if (!p.check.empty() && p.unknowns) return unknowns(p.check);
    if (!p.check.empty()) return check(p.check, p.write, p.output);
    const std::string& imagePath = p.image;
    const std::string& output = p.output;
    const std::vector<std::string>& infoPaths = p.infos;
    const std::string& symbolsPath = p.symbols;
    const std::string& infoOutPath = p.infoOut;
    const std::vector<std::uint32_t>& whys = p.whys;
    korvane::DisassemblyOptions options = p.disassembly;

    std::vector<std::uint8_t> image;
    std::string why;
    if (!readAll(imagePath, image, why)) return error(why);
    if (!p.flat && image.size() >= 4 && image[0] == 0x7F && image[1] == 'E' && image[2] == 'L' &&
        image[3] == 'F') {
        const std::string words = korvane::shellWord(imagePath) + " " + korvane::shellWord(imagePath + ".flat");
        return error(Say::ElfImage, {.name = imagePath, .other = words});
    }
    options.base = p.base;
    std::vector<std::uint8_t> ip;
    if (!p.ip.empty() && !readAll(p.ip, ip, why)) return error(why);
    if (const std::string bad = korvane::applyFormat(p.format, image, ip, p.baseGiven, options); !bad.empty())
        return error(imagePath + ": " + bad);
    // What the user knows: errors in those files are reported as FILE:LINE, nothing
    // written. Any may be a pipe (<(nm prog.elf)). An info file names its image: one of
    // another image's gives its extern lines only.
    const std::size_t nameAt = imagePath.rfind('/');
    options.imageName = nameAt == std::string::npos ? imagePath : imagePath.substr(nameAt + 1);
    std::vector<std::pair<std::string, bool>> knowing;
    for (const std::string& path : infoPaths) knowing.emplace_back(path, true);
    if (!symbolsPath.empty()) knowing.emplace_back(symbolsPath, false);
    for (const auto& [path, isInfo] : knowing) {
        std::vector<std::uint8_t> text;
        if (!readAll(path, text, why, kLargestImage, true)) return error(why);
        const std::string_view t(reinterpret_cast<const char*>(text.data()), text.size());
        const std::vector<std::string> bad =
            isInfo ? korvane::readInfo(t, path, options) : korvane::readSymbols(t, path, options);
        if (!bad.empty()) {
            for (const std::string& b : bad) say(b + "\n");
            return 1;
        }
        options.notes.push_back(std::string(isInfo ? "info file: " : "symbols: ") + path);
    }
    // Traces: FILE, or FILE@BASE for a code/data log.
    bool tracedOutside = false;
    for (const std::string& given : p.traces) {
        std::string path = given;
        std::optional<std::uint32_t> logBase;
        if (const std::size_t at = given.rfind('@'); at != std::string::npos) {
            std::uint64_t b;
            if (korvane::parseAddress(std::string_view(given).substr(at + 1), b) && b <= 0xFFFFFFFFull) {
                path = given.substr(0, at);
                logBase = static_cast<std::uint32_t>(b);
            }
        }
        // Read as it comes: a trace of any length (an emulator's log of all its memory)
        // keeps only what the image holds.
        korvane::TraceReader reader(path, logBase, image.size(), options);
        if (!korvane::files::readEach(path, true, [&](std::span<const std::uint8_t> b) { reader.add(b); }, why))
            return error(why);
        const korvane::TraceRead read = reader.finish(options);
        if (!read.errors.empty()) {
            for (const std::string& b : read.errors) say(b + "\n");
            return 1;
        }
        tracedOutside = tracedOutside || read.outside != 0;
        for (const korvane::AddressRange& r : read.both) {
            std::string range = addressText(r.begin);
            if (r.end - r.begin > 1) {
                range += '-';
                range += addressText(r.end);
            }
            say("korvane-dis: " + korvane::command::text(Say::TraceBoth, {.name = path, .other = range}) + "\n");
        }
        options.notes.push_back("trace: " + given +
                                (read.outside == 0 ? ""
                                                   : " (" + std::to_string(read.outside) +
                                                         " bytes of it outside the image passed over)"));
    }

    // The top source's directory and name: beside the image, or as -o says (- for
    // standard output).
    const bool toStandardOutput = output == "-";
    const std::string& named = output.empty() || toStandardOutput ? imagePath : output;
    const std::size_t slash = named.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : named.substr(0, slash + 1);
    const std::size_t imageSlash = imagePath.rfind('/');
    options.imageName =
        imageSlash == std::string::npos ? imagePath : imagePath.substr(imageSlash + 1);
    if (!output.empty() && !toStandardOutput) {
        options.sourceName = slash == std::string::npos ? output : output.substr(slash + 1);
        if (options.sourceName.empty()) return error(Say::OutputIsDirectory);
    }
    // Whether the sources a run before wrote may be replaced takes reading them whole: it
    // is worked out beside the analysis where a second thread can be had, else first.
    const std::string top = options.sourceName.empty() ? options.imageName + ".s" : options.sourceName;
    std::future<std::map<std::string, Judgement>> verdicts;
    if (!toStandardOutput && whys.empty()) {
        try {
            verdicts = std::async(std::launch::async, [directory, top] { return judgeSources(directory, top); });
        } catch (const std::system_error&) {
            verdicts = std::async(std::launch::deferred, [directory, top] { return judgeSources(directory, top); });
        }
    }
    const korvane::Disassembly dis(image, options);
    if (!dis.error().empty()) return error(dis.error());
    if (!whys.empty()) return explain(dis.model(), whys, tracedOutside);
    // Most of the map is worked out beside the checks of the files and the writing of
    // the sources, which wait on the disk more than they compute. Nothing else asks the
    // model until it is done.
    std::unique_ptr<korvane::MapPage> map;
    std::future<void> prepared;
    if (!p.map.empty() && !toStandardOutput) {
        map = std::make_unique<korvane::MapPage>(dis, options);
        try {
            prepared = std::async(std::launch::async, [&map] { map->prepare(); });
        } catch (const std::system_error&) {  // no thread: the page is made after the sources
        }
    }
    if (toStandardOutput) {
        if (dis.files().size() > 1)
            return error(Say::PartsToStandardOutput, {.count = std::to_string(dis.files().size() - 1)});
        if (!infoOutPath.empty()) return error(Say::InfoOutToStandardOutput);
        if (!p.map.empty()) return error(Say::MapToStandardOutput);
        StandardOutput out;
        return dis.write(out) ? 0 : error(Say::CannotWriteStandardOutput);
    }
    const std::map<std::string, Judgement> known = verdicts.get();
    for (const std::string& name : dis.files()) {
        const std::string path = directory + name;
        const std::string b = korvane::baseName(path);
        // Assembling a source must never replace the image it came from.
        if (korvane::files::sameName(imagePath, path) || korvane::files::sameName(imagePath, b + ".bin") ||
            korvane::files::sameName(imagePath, b + ".log"))
            return error(Say::ReplacesImage, {.name = path});
    }
    korvane::files::FileSet files(directory, gTemps);
    for (const std::string& name : dis.files()) {
        korvane::files::removeLeftovers(directory, name);
        const auto it = known.find(name);
        const Judgement v = it != known.end() ? it->second : korvane::files::judge(directory + name, korvane::Written::Source, kWay);
        if (!v.why.empty()) return error(v.why);
        files.expect(name, v.seen, korvane::Written::Source);
    }
    // Parts of an earlier set that this one does not have go too, under the same rule.
    for (const auto& [name, v] : known) {
        if (std::find(dis.files().begin(), dis.files().end(), name) != dis.files().end()) continue;
        if (!v.why.empty()) return error(v.why);
        files.removeAfter(name, v.seen, korvane::Written::Source);
    }
    // A set that a stopped run left mixed is replaced whole, and said so.
    std::vector<std::string> mixed;
    if (known.count(top) && known.at(top).seen.exists && known.at(top).why.empty()) {
        mixed = mixedParts(headOf(directory + top, 1 << 20), [&](const std::string& name) {
            const auto it = known.find(name);
            return it != known.end() ? it->second : korvane::files::judge(directory + name, korvane::Written::Source, kWay);
        });
    }

    // An info file and a map are files of their own: never one this run reads or writes.
    std::vector<std::string> others{imagePath};
    for (const std::string& name : dis.files()) others.push_back(directory + name);
    for (const auto& [name, v] : known) others.push_back(directory + name);
    others.insert(others.end(), infoPaths.begin(), infoPaths.end());
    if (!symbolsPath.empty()) others.push_back(symbolsPath);
    auto ownFile = [&](const std::string& path, Say code) {
        for (const std::string& other : others) {
            if (korvane::files::sameName(path, other)) return error(code, {.name = path, .other = other});
        }
        return 0;
    };
    if (!infoOutPath.empty()) {
        if (const int status = ownFile(infoOutPath, Say::InfoOutIsOwnFile)) return status;
        const Judgement info =
            korvane::files::judge(infoOutPath, korvane::Written::Info, "; move it away, or name another file for --info-out");
        if (!info.why.empty()) return error(info.why);
        files.expect(infoOutPath, info.seen, korvane::Written::Info);
        others.push_back(infoOutPath);
    }
    for (const std::string& path : p.traces) others.push_back(path.substr(0, path.rfind('@')));
    if (!p.ip.empty()) others.push_back(p.ip);
    // The map is named from the working directory, wherever the sources go.
    std::string mapPath = p.map;
    if (!mapPath.empty() && mapPath.front() != '/') {
        char here[4096];
        if (::getcwd(here, sizeof here) == nullptr) return error(Say::CannotWrite, {.name = p.map});
        mapPath = std::string(here) + "/" + mapPath;
    }
    if (map) {
        if (const int status = ownFile(p.map, Say::MapIsOwnFile)) return status;
        const Judgement page = korvane::files::judge(p.map, korvane::Written::Map, "; move it away, or name another file for --map");
        if (!page.why.empty()) return error(page.why);
        files.expect(mapPath, page.seen, korvane::Written::Map);
    }
    const std::string unwritten = writeSources(dis, files, directory, map.get());
    if (prepared.valid()) prepared.get();
    if (!unwritten.empty()) return error(Say::CannotWrite, {.name = unwritten});
    if (map && !files.put(mapPath, map->text(), korvane::files::newFileMode(), ::geteuid(), ::getegid()))
        return error(Say::CannotWrite, {.name = p.map});
    if (!infoOutPath.empty() &&
        !files.put(infoOutPath, korvane::infoOf(dis, options), korvane::files::newFileMode(), ::geteuid(), ::getegid()))
        return error(Say::CannotWrite, {.name = infoOutPath});
    if (const std::string bad = files.commit(); !bad.empty()) return error(bad);
    for (const std::string& part : mixed)
        say("korvane-dis: " +
            korvane::command::text(Say::MixedSetReplaced, {.name = directory + part, .other = directory + top}) + "\n");
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
    } catch (const std::system_error& e) {
        // No thread, no lock: the system refused what the run needed.
        gTemps.removeAll();
        say("korvane-dis: " + korvane::command::text(Say::SystemRefused, {.why = e.what()}) + "\n");
        return 1;
    }
}
