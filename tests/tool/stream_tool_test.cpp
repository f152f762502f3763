#include "tests/tool/tool_runner.h"

#include <gtest/gtest.h>

#include <random>

namespace {

std::string Sample(std::size_t n, unsigned seed)
{
    // Text-like bytes from a few words, so that there is something to match.
    static const char* const words[] = {"alpha ", "beta ", "gamma ", "delta\n", "ep", "silon "};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < n)
        s += words[rng() % 6];
    s.resize(n);
    return s;
}

struct Trip {
    ToolRun run;
    bool outExists;
    std::string out;
    std::vector<std::string> names;
};

Trip RunOnFile(const std::string& command, const std::string& input)
{
    ScratchDir dir;
    WriteFileText(dir / "in", input);
    ToolRun run = RunTool({command, (dir / "in").string(), (dir / "out").string()});
    bool exists = std::filesystem::exists(dir / "out");
    return Trip{run, exists, exists ? ReadFileText(dir / "out") : "", dir.Names()};
}

}  // namespace

TEST(StreamTool, CompressesAndDecompressesFiles)
{
    const std::string inputs[] = {"", "abc", "x", Sample(10233, 1), Sample(300000, 2)};
    for (const std::string& input : inputs) {
        Trip compressed = RunOnFile("compress", input);
        ASSERT_EQ(compressed.run.status, 0) << compressed.run.err;
        EXPECT_EQ(compressed.run.out, "");
        Trip decompressed = RunOnFile("decompress", compressed.out);
        ASSERT_EQ(decompressed.run.status, 0) << decompressed.run.err;
        EXPECT_TRUE(decompressed.out == input) << input.size() << " bytes";
        EXPECT_EQ(decompressed.names, (std::vector<std::string>{"in", "out"}));
    }
    EXPECT_EQ(
        RunOnFile("compress", "abc").out,
        std::string("\x52\x43\xA8\x68\x0A\x00\x03\x00\x00\x00\x52\x43\x33\x6C\x0A\x00\xF6\xFB\xBD\xE0", 20));
}

TEST(StreamTool, StandardInputAndOutput)
{
    const std::string input = Sample(50000, 3);
    const std::string stream = RunOnFile("compress", input).out;
    ToolRun compressed = RunTool({"compress", "-", "-"}, input);
    ASSERT_EQ(compressed.status, 0) << compressed.err;
    EXPECT_TRUE(compressed.out == stream);
    ToolRun decompressed = RunTool({"decompress", "-", "-"}, stream);
    ASSERT_EQ(decompressed.status, 0) << decompressed.err;
    EXPECT_TRUE(decompressed.out == input);
}

TEST(StreamTool, DamagedStreamsFailClearlyAndLeaveNoOutput)
{
    std::mt19937 rng(4);
    std::string noise(40000, '\0');
    for (char& c : noise)
        c = static_cast<char>(rng());
    const std::string good = RunOnFile("compress", noise).out;
    ASSERT_GT(good.size(), 3u * 10240);
    auto with = [&](std::size_t at, char value, char next) {
        std::string s = good;
        s[at] = value;
        s[at + 1] = next;
        return s;
    };
    struct Case {
        const char* name;
        std::string stream;
        const char* why;
    };
    const Case cases[] = {
        {"empty file", "", "the stream ends at offset 0 before its last block"},
        {"not a stream", "hello, world", "no block at offset 0 (no \"RC\" mark)"},
        {"size block cut short", good.substr(0, 4), "the size block at offset 0 is cut short (4 bytes)"},
        {"checksum", with(200, static_cast<char>(good[200] ^ 1), good[201]),
         "the block at offset 10 fails its checksum"},
        {"cut in a block", good.substr(0, 10 + 10240 + 77),
         "the block at offset 10250 is cut short (77 of 10240 bytes)"},
        {"cut after a block", good.substr(0, 10 + 10240),
         "the stream ends at offset 10250 before its last block"},
        {"bad length", with(10 + 4, 3, 0), "the block at offset 10 has a bad length (3)"},
    };
    for (const Case& c : cases) {
        Trip trip = RunOnFile("decompress", c.stream);
        EXPECT_EQ(trip.run.status, 1) << c.name;
        EXPECT_NE(trip.run.err.find(": damaged compressed stream: "), std::string::npos)
            << c.name << ": " << trip.run.err;
        EXPECT_NE(trip.run.err.find(c.why), std::string::npos) << c.name << ": " << trip.run.err;
        EXPECT_EQ(trip.run.err.rfind("saverpack: ", 0), 0u) << c.name;
        EXPECT_FALSE(trip.outExists) << c.name;
        EXPECT_EQ(trip.names, (std::vector<std::string>{"in"})) << c.name;
        ToolRun piped = RunTool({"decompress", "-", "-"}, c.stream);
        EXPECT_EQ(piped.status, 1) << c.name;
        EXPECT_EQ(piped.out, "") << c.name;
    }
}

TEST(StreamTool, CommandLineErrors)
{
    ScratchDir dir;
    ToolRun missing = RunTool({"compress", (dir / "nothing").string(), (dir / "out").string()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err.rfind("saverpack: ", 0), 0u);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{});
    EXPECT_EQ(RunTool({"decompress", "only-one"}).status, 2);
    EXPECT_EQ(RunTool({"compress", "a", "b", "c"}).status, 2);
    EXPECT_EQ(RunTool({"compress", "--fast", "a", "b"}).status, 2);
    // No terminal here: no progress bar on standard error.
    ToolRun quiet = RunTool({"compress", "-", "-"}, Sample(3 << 20, 5));
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "");
}
