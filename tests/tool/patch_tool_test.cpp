#include "scrambler/scrambler.h"
#include "tests/tool/tool_runner.h"

#include <gtest/gtest.h>

namespace {

const std::string Marker = "1ULG2ULG";

std::string Data(std::size_t size, std::initializer_list<std::size_t> markers)
{
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>(0x80 | (i % 113));
    for (std::size_t m : markers)
        data.replace(m, 8, Marker);
    return data;
}

std::string Payload(std::size_t n)
{
    std::string p;
    for (std::size_t i = 0; i < n; ++i)
        p += static_cast<char>('A' + i % 26);
    return p;
}

std::string Header(std::size_t length)
{
    std::string h = "3U3G";
    for (int i = 0; i < 4; ++i)
        h += static_cast<char>((length >> (8 * i)) & 0xFF);
    return h;
}

struct Patching {
    ToolRun run;
    std::string out;
    bool outExists;
    std::vector<std::string> names;
};

Patching Patch(const std::string& data, const std::string& payload, std::vector<std::string> options)
{
    ScratchDir dir;
    WriteFileText(dir / "in.bin", data);
    WriteFileText(dir / "payload.bin", payload);
    std::vector<std::string> args = {"patch", (dir / "in.bin").string(), (dir / "out.bin").string(),
                                     "--payload=" + (dir / "payload.bin").string()};
    args.insert(args.end(), options.begin(), options.end());
    ToolRun run = RunTool(args);
    bool exists = std::filesystem::exists(dir / "out.bin");
    return Patching{run, exists ? ReadFileText(dir / "out.bin") : "", exists, dir.Names()};
}

}  // namespace

TEST(PatchTool, WritesTheParameterBlockInPlaceOfTheFirstMarker)
{
    struct Case {
        const char* name;
        std::size_t size;
        std::size_t marker;
        std::vector<std::string> options;
    };
    // 16371 lies 13 bytes before the first 16384-byte chunk boundary, so the
    // payload is cut in two.
    const Case cases[] = {
        {"plain", 1000, 100, {}},
        {"plain, cut at a chunk boundary", 20000, 16371, {}},
        {"scrambled", 1000, 100, {"--scramble"}},
        {"scrambled, cut at a chunk boundary", 20000, 16371, {"--scramble"}},
    };
    for (const Case& c : cases) {
        std::string data = Data(c.size, {c.marker, c.marker + 400});
        Patching p = Patch(data, Payload(20), c.options);
        ASSERT_EQ(p.run.status, 0) << c.name << ": " << p.run.err;
        EXPECT_EQ(p.run.out, "patched: marker at offset " + std::to_string(c.marker) + ", payload at " +
                                 std::to_string(c.marker + 8) + "\n");
        ASSERT_EQ(p.out.size(), data.size());
        std::string block = p.out.substr(c.marker, 28);
        EXPECT_EQ(block.substr(0, 8), Header(20)) << c.name;
        if (c.options.empty()) {
            EXPECT_EQ(block.substr(8), Payload(20)) << c.name;
        } else {
            std::vector<std::uint8_t> bytes(block.begin(), block.end());
            ASSERT_EQ(ReadParamBlock(bytes.data()), 1);
            EXPECT_EQ(std::string(bytes.begin() + 8, bytes.end()), Payload(20)) << c.name;
        }
        // Everything else, the second marker included, is as it was.
        std::string rest = p.out;
        rest.replace(c.marker, 28, data.substr(c.marker, 28));
        EXPECT_EQ(rest, data) << c.name;
        EXPECT_EQ(p.out.substr(c.marker + 400, 8), Marker) << c.name;
    }
}

TEST(PatchTool, KeepMarkerAndStoreOffset)
{
    std::string data = Data(3000, {1000});
    Patching kept = Patch(data, Payload(20), {"--keep-marker"});
    ASSERT_EQ(kept.run.status, 0) << kept.run.err;
    EXPECT_EQ(kept.out.substr(1000, 28), Marker + Payload(20));

    Patching keptScrambled = Patch(data, Payload(20), {"--keep-marker", "--scramble"});
    ASSERT_EQ(keptScrambled.run.status, 0);
    EXPECT_EQ(keptScrambled.out.substr(1000, 8), Header(20));

    Patching stored = Patch(data, Payload(20), {"--store-offset"});
    ASSERT_EQ(stored.run.status, 0);
    std::string offset = {static_cast<char>(1008 & 0xFF), static_cast<char>(1008 >> 8), '\0', '\0'};
    EXPECT_EQ(stored.out.substr(1000, 28), Header(20) + offset + Payload(20).substr(4));
}

TEST(PatchTool, EveryFailureExitsWith1AndLeavesNoOutput)
{
    struct Case {
        const char* name;
        std::string data;
        std::string payload;
        std::vector<std::string> options;
        const char* why;
    };
    const Case cases[] = {
        {"no marker", Data(5000, {}), Payload(20), {}, "no patch marker in the data"},
        {"marker across a chunk boundary", Data(20000, {16380}), Payload(20), {}, "crosses or ends"},
        {"marker ending its chunk", Data(20000, {16376}), Payload(20), {}, "crosses or ends"},
        {"marker ending the data", Data(108, {100}), Payload(20), {}, "crosses or ends"},
        {"payload longer than the data after the marker", Data(120, {100}), Payload(20), {},
         "does not fit after the marker at offset 100"},
        {"empty payload", Data(500, {100}), "", {}, "the payload is empty"},
        {"short payload with --store-offset", Data(500, {100}), Payload(3), {"--store-offset"},
         "at least 4 bytes"},
    };
    for (const Case& c : cases) {
        Patching p = Patch(c.data, c.payload, c.options);
        EXPECT_EQ(p.run.status, 1) << c.name;
        EXPECT_NE(p.run.err.find(c.why), std::string::npos) << c.name << ": " << p.run.err;
        EXPECT_EQ(p.run.err.rfind("saverpack: ", 0), 0u) << c.name;
        EXPECT_FALSE(p.outExists) << c.name;
        EXPECT_EQ(p.names, (std::vector<std::string>{"in.bin", "payload.bin"})) << c.name;
    }
    ToolRun usage = RunTool({"patch", "a", "b"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.err.find("--payload=FILE is required"), std::string::npos);
}

TEST(PatchTool, StandardStreams)
{
    ScratchDir dir;
    WriteFileText(dir / "payload.bin", Payload(20));
    std::string data = Data(1000, {10});
    ToolRun run = RunTool({"patch", "-", "-", "--payload=" + (dir / "payload.bin").string()}, data);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.substr(10, 28), Header(20) + Payload(20));
    EXPECT_NE(run.err.find("marker at offset 10"), std::string::npos);
}
