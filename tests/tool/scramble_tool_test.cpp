#include "tests/tool/tool_runner.h"

#include <gtest/gtest.h>

#include <random>

namespace {

std::string RandomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string data(n, '\0');
    for (char& c : data)
        c = static_cast<char>(rng() & 0xFF);
    return data;
}

std::string HexOf(const std::string& key)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : key) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

// The independent implementation's answer for the same key and data.
std::string Reference(const std::string& mode, const char* keyHex, const std::string& data)
{
    ScratchDir dir;
    WriteFileText(dir / "in", data);
    std::string command = "python3 " + ShellQuote(SAVERPACK_SOURCE_DIR "/tests/vectors/pc1_ref.py") +
                          " " + mode + " " + ShellQuote(keyHex) + " < " +
                          ShellQuote((dir / "in").string()) + " > " + ShellQuote((dir / "out").string());
    EXPECT_EQ(std::system(command.c_str()), 0);
    return ReadFileText(dir / "out");
}

}  // namespace

TEST(ScrambleTool, GivesTheKeystreamOfAnIndependentImplementation)
{
    if (std::system("python3 -c pass > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "python3 is not available";
    struct Case {
        const char* option;  // nullptr: no --key
        std::string key;
        std::size_t size;
    };
    const Case cases[] = {
        {nullptr, "MoonPike", 5000}, {"--key=", "", 300},         {"--key=KNOT", "KNOT", 70000},
        {"--key=0123456789xyz", "0123456789", 1000}, {"--key=a b", "a b", 1},
    };
    unsigned seed = 1;
    for (const Case& c : cases) {
        ScratchDir dir;
        std::string data = RandomBytes(c.size, seed++);
        WriteFileText(dir / "plain", data);
        std::vector<std::string> args = {"scramble"};
        if (c.option)
            args.push_back(c.option);
        args.insert(args.end(), {(dir / "plain").string(), (dir / "out").string()});
        ToolRun run = RunTool(args);
        ASSERT_EQ(run.status, 0) << run.err;
        std::string expected = Reference("scramble", HexOf(c.key).c_str(), data);
        EXPECT_EQ(ReadFileText(dir / "out"), expected) << (c.option ? c.option : "default key");

        args.insert(args.begin() + 1, "--unscramble");
        args.back() = (dir / "back").string();
        args[args.size() - 2] = (dir / "out").string();
        run = RunTool(args);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(ReadFileText(dir / "back"), data);
    }
}

TEST(ScrambleTool, StandardStreamsWork)
{
    std::string data = RandomBytes(100000, 9);
    ToolRun scrambled = RunTool({"scramble", "-", "-"}, data);
    ASSERT_EQ(scrambled.status, 0) << scrambled.err;
    EXPECT_EQ(scrambled.out.size(), data.size());
    ToolRun back = RunTool({"scramble", "--unscramble", "-", "-"}, scrambled.out);
    ASSERT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(back.out, data);
    EXPECT_EQ(RunTool({"scramble", "-", "-"}, "").out, "");
}

TEST(ScrambleTool, UsageErrorsExitWith2AndAUsageLine)
{
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"scramble"},
        {"scramble", "a"},
        {"scramble", "a", "b", "c"},
        {"scramble", "--kye=x", "a", "b"},
    };
    for (const auto& args : cases) {
        ToolRun run = RunTool(args);
        EXPECT_EQ(run.status, 2) << ::testing::PrintToString(args);
        EXPECT_NE(run.err.find("usage: saverpack"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.rfind("saverpack: ", 0), 0u) << run.err;
    }
}

TEST(ScrambleTool, FailuresExitWith1AndLeaveNoOutput)
{
    ScratchDir dir;
    ToolRun missing = RunTool({"scramble", (dir / "absent").string(), (dir / "out").string()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "saverpack: " + (dir / "absent").string() + ": No such file or directory\n");
    EXPECT_TRUE(dir.Names().empty());

    WriteFileText(dir / "in", "data");
    ToolRun unwritable = RunTool({"scramble", (dir / "in").string(), (dir / "no/such/out").string()});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"in"});
}

TEST(ScrambleTool, HelpAndVersion)
{
    ToolRun help = RunTool({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("scramble [--key=TEXT] [--unscramble] IN OUT"), std::string::npos);
    ToolRun version = RunTool({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("saverpack ", 0), 0u);
    ToolRun commandHelp = RunTool({"scramble", "--help"});
    EXPECT_EQ(commandHelp.status, 0);
    EXPECT_NE(commandHelp.out.find("usage: saverpack scramble"), std::string::npos);
}
