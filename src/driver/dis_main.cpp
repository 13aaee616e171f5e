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
#include "driver/dis_run.h"
#include "files/replace.h"
#include "korvane/disassemble.h"
#include "korvane/files.h"
#include "korvane/map.h"
#include "korvane/version.h"

namespace {

using namespace korvane::dis_run;

// ---- what a signal or exhausted memory must clean up ----------------------------------
// The temporary files of the run, kept where a signal handler can reach them.
korvane::files::TempList gTemps;


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



// The run, in the order its refusals must come: everything that can refuse (the inputs,
// the options, every file it would replace) before anything is written, then the sources,
// the map and the info file as one set. Kept as one function (about 160 lines) so that
// order reads top to bottom.
int run(int argc, char** argv) {
    korvane::command::Parsed p;
    if (const std::string bad = korvane::command::parse(argc, argv, p); !bad.empty()) return usage(bad);
    if (p.help || p.version) {
        const std::string text = p.help ? korvane::command::usage() + "\n" + korvane::command::help()
                                        : "korvane-dis " + std::string(korvane::version()) + "\n";
        return korvane::files::writeAll(STDOUT_FILENO, text) ? 0 : error(Say::CannotWriteStandardOutput);
    }
    if (!p.check.empty() && p.unknowns) return unknowns(p.check);
    if (!p.check.empty()) return check(p.check, p.write, p.output, gTemps);
    const std::string& imagePath = p.image;
    const std::string& output = p.output;
    const std::vector<std::string>& infoPaths = p.infos;
    const std::string& symbolsPath = p.symbols;
    const std::string& infoOutPath = p.infoOut;
    const std::vector<std::uint32_t>& whys = p.whys;
    korvane::DisassemblyOptions options = p.disassembly;

    std::vector<std::uint8_t> image;
    bool tracedOutside = false;
    if (const int status = readInputs(p, options, image, tracedOutside)) return status;
    if (p.findBase) return findBase(image, options.base);
    if (options.segments.size() <= 1) {
        if (const std::string hint = korvane::baseHint(image, options.base); !hint.empty())
            say("korvane-dis: " + korvane::command::text(Say::BaseHint, {.name = korvane::shellWord(imagePath), .why = hint}) + "\n");
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
        return writeToStandardOutput(dis) ? 0 : error(Say::CannotWriteStandardOutput);
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
        mixed = mixedParts(headOf(directory + top, 1 << 20), known, directory);
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
