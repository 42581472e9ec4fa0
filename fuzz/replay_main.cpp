// Runs a fuzz target once over every file of the folders given on the command
// line, without libFuzzer: the corpus doubles as a regression suite.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
            std::ifstream file(entry.path(), std::ios::binary);
            // Exactly the file's size, so that a read past the input is caught.
            std::vector<std::uint8_t> input((std::istreambuf_iterator<char>(file)),
                                            std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(input.data(), input.size());
            ++count;
        }
    }
    std::printf("%d inputs\n", count);
    return count > 0 ? 0 : 1;  // an empty corpus would check nothing
}
