// Writes the benchmark inputs into a folder, for bench/vs_gzip.sh:
// text-1MiB, code-2MiB, random-1MiB.
#include "bench/bench_inputs.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_inputs FOLDER\n");
        return 2;
    }
    const struct {
        const char* name;
        BenchInput which;
    } files[] = {{"text-1MiB", BenchInput::Text},
                 {"code-2MiB", BenchInput::Code},
                 {"random-1MiB", BenchInput::Random}};
    for (const auto& f : files) {
        std::string path = std::string(argv[1]) + "/" + f.name;
        std::FILE* out = std::fopen(path.c_str(), "wb");
        if (out == nullptr)
            return 1;
        const std::vector<std::uint8_t>& data = BenchData(f.which);
        std::fwrite(data.data(), 1, data.size(), out);
        if (std::fclose(out) != 0)
            return 1;
    }
    return 0;
}
