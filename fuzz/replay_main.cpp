// Replays a fuzz target's saved corpus: every file under the folders (or
// files) named on the command line is passed to LLVMFuzzerTestOneInput
// once. A crash or sanitizer report fails the test run.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void Replay(const std::filesystem::path& file, int& count)
{
    std::ifstream in(file, std::ios::binary);
    std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(data.data(), data.size());
    ++count;
}

}  // namespace

int main(int argc, char** argv)
{
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path root(argv[i]);
        if (std::filesystem::is_directory(root)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
                if (entry.is_regular_file())
                    Replay(entry.path(), count);
            }
        } else if (std::filesystem::exists(root)) {
            Replay(root, count);
        }
    }
    std::printf("replayed %d inputs\n", count);
    return 0;
}
