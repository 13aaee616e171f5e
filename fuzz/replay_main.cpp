// Runs the fuzz target's checks over files: every input the fuzzer ever found a fault
// with is kept in tests/data/fuzz and replayed by the test suite.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::filesystem::path> files;
        if (std::filesystem::is_directory(argv[i])) {
            for (const auto& e : std::filesystem::directory_iterator(argv[i]))
                files.push_back(e.path());
        } else {
            files.emplace_back(argv[i]);
        }
        for (const auto& path : files) {
            std::ifstream f(path, std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(f)),
                                    std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                   bytes.size());
            ++replayed;
        }
    }
    std::printf("%d inputs replayed, all checks held\n", replayed);
    return replayed > 0 ? 0 : 1;
}
