// saverpack create, list, extract and verify, run as a separate program:
// archives it writes are read back by the independent reader, archives the
// independent writer makes are listed and extracted exactly, and damaged
// archives and wrong command lines fail with a clear message and leave no
// file behind.
#include "tests/reference/glue_reference.h"
#include "tests/support/scratch_folder.h"
#include "tests/tool/tool_runner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using glue_reference::Bytes;
using glue_reference::MakeInlineRecord;
using glue_reference::MakeRecord;
using glue_reference::RawRecord;
using glue_reference::WithDirectory;

namespace {

class ArchiveToolTest : public ::testing::Test, public ScratchFolder {
protected:
    void SetUp() override { Make("sp_tool_"); }
    void TearDown() override { Remove(); }

    // Runs the tool in the test's folder.
    ToolRun Tool(const std::vector<std::string>& args) const { return RunTool(args, "", Folder()); }
};

// ---- create, read back by the independent reader -------------------------

TEST_F(ArchiveToolTest, CreatedArchiveReadsBackRecordByRecordAndByteByByte)
{
    Bytes a = Pattern(16385, 1), b = Pattern(300, 2), c = Pattern(1, 3);
    Write("a", a);
    Write("b", b);
    Write("c", c);
    Write("empty", {});
    ToolRun run = Tool({"create", "out.glue", "MAIN=a", "--xor=90", "DATA=b", "--inline=NOTE=0a0B0c",
                    "--alias=SECOND=data", "--stored", "FIFTEEN_CHARS_1=c",
                    "--inline=EMPTY_INLINE=", "--xor=0xff", "SIXTEEN_CHARS_16=empty",
                    "--inline=FULL=00112233445566778899aabbccddeeff", "LAST=c"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    Bytes file = Read("out.glue");
    auto records = glue_reference::ReadDirectory(file);
    ASSERT_TRUE(records.has_value());
    ASSERT_EQ(records->size(), 9u);
    struct Expected {
        const char* name;
        std::uint8_t kind, key;
        std::int32_t offset, size;
        Bytes data;
    } expected[] = {
        {"MAIN", 0, 0, 0, 16385, a},
        {"DATA", 0, 90, 16385, 300, b},
        {"NOTE", 0xFF, 0, 0, 0, {0x0a, 0x0b, 0x0c}},
        {"SECOND", 0, 90, 16385, 300, b},
        {"FIFTEEN_CHARS_1", 0, 0, 16685, 1, c},
        {"EMPTY_INLINE", 0xFF, 0, 0, 0, {}},
        {"SIXTEEN_CHARS_16", 0, 0xFF, 16686, 0, {}},
        {"FULL", 0xFF, 0, 0, 0, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa,
                                 0xbb, 0xcc, 0xdd, 0xee, 0xff}},
        {"LAST", 0, 0xFF, 16686, 1, c},
    };
    for (std::size_t k = 0; k < records->size(); ++k) {
        const auto& r = (*records)[k];
        const Expected& e = expected[k];
        SCOPED_TRACE(e.name);
        EXPECT_EQ(r.name(), e.name);
        EXPECT_EQ(r.kind(), e.kind);
        EXPECT_EQ(r.key(), e.key);
        EXPECT_EQ(glue_reference::EntryData(file, r), e.data);
        if (r.isInline()) {
            EXPECT_EQ(r.raw, MakeInlineRecord(e.name, e.data));
            continue;
        }
        EXPECT_EQ(r.dataOffset(), e.offset);
        EXPECT_EQ(r.storedSize(), e.size);
        EXPECT_EQ(r.originalSize(), e.size);
        EXPECT_EQ(r.patchPosition(), -1);
        EXPECT_EQ(r.recordSize(), 40);
        EXPECT_EQ(r.magic(), glue_reference::MAGIC);
    }
    EXPECT_EQ(file.size(), 16687u + 9 * 40);
    EXPECT_EQ(Files(), (std::set<std::string>{"a", "b", "c", "empty", "out.glue"}));
}

// ---- an archive of the independent writer ---------------------------------

class ReferenceArchiveTest : public ArchiveToolTest {
protected:
    void SetUp() override
    {
        ArchiveToolTest::SetUp();
        // A program image of 1000 bytes comes first; entries follow it.
        Bytes data = Pattern(1000, 9);
        main_ = Pattern(5000, 10);
        scrambled_ = Pattern(70000, 11);
        Bytes body = main_;
        for (std::uint8_t byte : scrambled_)
            body.push_back(byte ^ 0xC3);
        data.insert(data.end(), body.begin(), body.end());
        Write("ref.glue", WithDirectory(data, {
                                                  MakeRecord("MAIN", 0, 0, 1000, 5000, 5000, 123),
                                                  MakeRecord("BIG", 0, 0xC3, 6000, 70000, 70000),
                                                  MakeInlineRecord("TINY", {0xde, 0xad}),
                                                  MakeRecord("Big2", 0, 0xC3, 6000, 70000, 70000),
                                                  MakeRecord("EMPTY", 0, 0, 76000, 0, 0),
                                              }));
    }

    Bytes main_, scrambled_;
};

TEST_F(ReferenceArchiveTest, ListShowsEveryRecordInOrder)
{
    ToolRun run = Tool({"list", "ref.glue"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "0   MAIN               stored     dataOffset=1000 storedSize=5000 originalSize=5000 "
              "patchPosition=123\n"
              "1   BIG                xor 195    dataOffset=6000 storedSize=70000 originalSize=70000 "
              "patchPosition=-1 shares=3\n"
              "2   TINY               inline     length=2 data=dead\n"
              "3   Big2               xor 195    dataOffset=6000 storedSize=70000 originalSize=70000 "
              "patchPosition=-1 shares=1\n"
              "4   EMPTY              stored     dataOffset=76000 storedSize=0 originalSize=0 "
              "patchPosition=-1\n");
}

TEST_F(ReferenceArchiveTest, ListJsonGivesTheRecordFields)
{
    ToolRun run = Tool({"list", "--json", "ref.glue"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "[\n"
              "  {\"index\": 0, \"name\": \"MAIN\", \"kind\": 0, \"key\": 0, \"dataOffset\": 1000, "
              "\"storedSize\": 5000, \"originalSize\": 5000, \"patchPosition\": 123},\n"
              "  {\"index\": 1, \"name\": \"BIG\", \"kind\": 0, \"key\": 195, \"dataOffset\": 6000, "
              "\"storedSize\": 70000, \"originalSize\": 70000, \"patchPosition\": -1},\n"
              "  {\"index\": 2, \"name\": \"TINY\", \"kind\": 255, \"key\": 0, \"dataOffset\": 0, "
              "\"storedSize\": 44510, \"originalSize\": 0, \"patchPosition\": -1, "
              "\"inlineLength\": 2, \"inlineHex\": \"dead\"},\n"
              "  {\"index\": 3, \"name\": \"Big2\", \"kind\": 0, \"key\": 195, \"dataOffset\": 6000, "
              "\"storedSize\": 70000, \"originalSize\": 70000, \"patchPosition\": -1},\n"
              "  {\"index\": 4, \"name\": \"EMPTY\", \"kind\": 0, \"key\": 0, \"dataOffset\": 76000, "
              "\"storedSize\": 0, \"originalSize\": 0, \"patchPosition\": -1}\n"
              "]\n");
}

TEST_F(ReferenceArchiveTest, ExtractGivesEachEntryExactly)
{
    struct {
        const char* name;
        Bytes data;
    } cases[] = {{"MAIN", main_}, {"big", scrambled_}, {"TINY", {0xde, 0xad}},
                 {"BIG2", scrambled_}, {"EMPTY", {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ToolRun run = Tool({"extract", "ref.glue", c.name, "-o", "one"});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(Read("one"), c.data);
        ToolRun stdoutRun = Tool({"extract", "ref.glue", c.name});
        EXPECT_EQ(stdoutRun.status, 0);
        EXPECT_EQ(Bytes(stdoutRun.out.begin(), stdoutRun.out.end()), c.data);
        ToolRun dash = Tool({"extract", "ref.glue", c.name, "-o", "-"});
        EXPECT_EQ(dash.out, stdoutRun.out);
    }
}

TEST_F(ReferenceArchiveTest, ExtractAllWritesEveryEntryUnderItsName)
{
    ToolRun run = Tool({"extract", "ref.glue", "--all", "-C", "out/dir"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Read("out/dir/MAIN"), main_);
    EXPECT_EQ(Read("out/dir/BIG"), scrambled_);
    EXPECT_EQ(Read("out/dir/Big2"), scrambled_);
    EXPECT_EQ(Read("out/dir/TINY"), (Bytes{0xde, 0xad}));
    EXPECT_TRUE(fs::exists(Path("out/dir/EMPTY")));
    EXPECT_EQ(std::distance(fs::directory_iterator(Path("out/dir")), fs::directory_iterator{}), 5);
}

TEST_F(ReferenceArchiveTest, VerifyReportsAllSound)
{
    ToolRun run = Tool({"verify", "ref.glue"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "ref.glue: all 5 entries sound\n");
}

TEST_F(ReferenceArchiveTest, ArchiveFromStandardInputIsListed)
{
    std::string command = "'" SAVERPACK_TOOL "' list - < '" + Path("ref.glue") + "' > '" +
                          Path("listing") + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(Read("listing").size(), Tool({"list", "ref.glue"}).out.size());
}

// ---- damaged archives ---------------------------------------------------

struct Damage {
    const char* name;
    Bytes (*make)(const Bytes& sound);
    const char* why;         // in the message of every command
    bool recordLevel;        // the directory reads; one entry is bad
};

Bytes SoundArchive()
{
    return glue_reference::BuildArchive(
        {{"A", Pattern(100, 1), 0}, {"B", Pattern(100, 2), 0x11}, {"N", {1, 2}, 0, true}});
}

Bytes RecordsAround(const RawRecord& bad)
{
    return WithDirectory(Pattern(100, 1), {MakeRecord("A", 0, 0, 0, 100, 100), bad});
}

const Damage Damages[] = {
    {"truncated", [](const Bytes& s) { return Bytes(s.begin(), s.end() - 1); },
     "no glue archive directory found", false},
    {"directory_byte_flipped",
     [](const Bytes& s) {
         Bytes d = s;
         d[d.size() - 70] ^= 0x04;
         return d;
     },
     "no glue archive directory found", false},
    {"last_byte_flipped",
     [](const Bytes& s) {
         Bytes d = s;
         d.back() ^= 0x80;
         return d;
     },
     "no glue archive directory found", false},
    {"not_an_archive", [](const Bytes&) { return Pattern(3000, 5); },
     "no glue archive directory found", false},
    {"39_bytes", [](const Bytes&) { return Pattern(39, 5); }, "no glue archive directory found",
     false},
    {"count_larger_than_the_directory",
     [](const Bytes&) {
         std::vector<RawRecord> r = {MakeRecord("A", 0, 0, 0, 100, 100)};
         r[0][0] = 3;
         return WithDirectory(Pattern(100, 1), r, true);
     },
     "no glue archive directory found", false},
    {"record_past_the_end",
     [](const Bytes&) { return RecordsAround(MakeRecord("B", 0, 0, 150, 100, 100)); },
     "lies past the end of the file", true},
    {"offset_past_the_end",
     [](const Bytes&) { return RecordsAround(MakeRecord("B", 0, 0, 100000, 1, 1)); },
     "lies past the end of the file", true},
    {"negative_stored_size",
     [](const Bytes&) { return RecordsAround(MakeRecord("B", 0, 0, 0, -1, 10)); },
     "negative stored size -1", true},
    {"negative_offset",
     [](const Bytes&) { return RecordsAround(MakeRecord("B", 0, 0, -40, 10, 10)); },
     "negative data offset -40", true},
    {"sizes_disagree",
     [](const Bytes&) { return RecordsAround(MakeRecord("B", 0, 0, 0, 50, 60)); },
     "restored 50 bytes, but the record says 60", true},
    {"compressed_garbage",
     [](const Bytes&) { return RecordsAround(MakeRecord("B", 1, 0, 0, 100, 500)); },
     "could not be decompressed", true},
    {"inline_length_out_of_range",
     [](const Bytes&) {
         RawRecord r = MakeInlineRecord("B", {1, 2, 3});
         r[0] = 0x90;
         return RecordsAround(r);
     },
     "inline length -112 is outside 0 to 16", true},
};

class DamagedArchiveTest : public ArchiveToolTest, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedArchiveTest, EveryCommandFailsClearlyAndLeavesNoFile)
{
    const Damage& d = GetParam();
    Write("bad.glue", d.make(SoundArchive()));
    std::set<std::string> before = Files();
    const std::vector<std::vector<std::string>> commands = {
        {"extract", "bad.glue", "B", "-o", "out.bin"},
        {"extract", "bad.glue", "--all", "-C", "all"},
        {"verify", "bad.glue"},
    };
    for (const auto& command : commands) {
        SCOPED_TRACE(command[0] + " " + command.back());
        ToolRun run = Tool(command);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err.rfind("saverpack: bad.glue", 0), 0u) << run.err;
        bool said = run.err.find(d.why) != std::string::npos ||
                    run.out.find(d.why) != std::string::npos;
        EXPECT_TRUE(said) << run.out << run.err;
        std::set<std::string> after = Files();
        after.erase("all");  // --all may make its folder before an entry fails
        EXPECT_EQ(after, before);
    }
    ToolRun list = Tool({"list", "bad.glue"});
    EXPECT_EQ(list.status, d.recordLevel ? 0 : 1);
    if (!d.recordLevel) {
        EXPECT_EQ(list.err, "saverpack: bad.glue: no glue archive directory found\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DamagedArchiveTest, ::testing::ValuesIn(Damages),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ArchiveToolTest, VerifyNamesEachDamagedEntry)
{
    Bytes data = Pattern(100, 1);
    Write("bad.glue", WithDirectory(data, {MakeRecord("GOOD", 0, 0, 0, 100, 100),
                                           MakeRecord("PAST", 0, 0, 200, 100, 100),
                                           MakeRecord("FINE", 0, 7, 10, 20, 20),
                                           MakeRecord("NEG", 0, 0, 0, -5, -5)}));
    ToolRun run = Tool({"verify", "bad.glue"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              "1 PAST: its data (100 bytes at offset 200) lies past the end of the file (260 bytes)\n"
              "3 NEG: negative stored size -5\n");
    EXPECT_EQ(run.err, "saverpack: bad.glue: 2 of 4 entries damaged or unreadable\n");
}

TEST_F(ArchiveToolTest, MissingArchiveIsReported)
{
    ToolRun run = Tool({"list", "nothing.glue"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "saverpack: nothing.glue: no such file\n");
}

// ---- wrong command lines and refused archives ---------------------------------

TEST_F(ArchiveToolTest, CreateRefusesWhatWouldNotMakeASoundArchive)
{
    Write("a", Pattern(10, 1));
    std::vector<std::string> many = {"create", "out.glue"};
    for (int k = 0; k < 32; ++k) {
        std::string entry = "E";
        entry += std::to_string(k);
        entry += "=a";
        many.push_back(entry);
    }
    std::vector<std::string> most(many.begin(), many.end() - 1);
    struct {
        const char* name;
        std::vector<std::string> args;
        int status;
        const char* message;
    } cases[] = {
        {"first record inline", {"create", "out.glue", "--inline=N=01", "A=a"}, 1,
         "saverpack: N: the first record cannot be inline"},
        {"32 records", many, 1, "saverpack: out.glue: 32 records: a glue archive holds at most 31"},
        {"17-character name", {"create", "out.glue", "SEVENTEEN_CHARS17=a"}, 1,
         "saverpack: SEVENTEEN_CHARS17: entry names have at most 16 characters"},
        {"xor 0", {"create", "out.glue", "--xor=0", "A=a"}, 2, "the key must be a number from 1"},
        {"xor 256", {"create", "out.glue", "--xor=256", "A=a"}, 2, "from 1 to 255"},
        {"xor text", {"create", "out.glue", "--xor=k", "A=a"}, 2, "from 1 to 255"},
        {"alias of nothing", {"create", "out.glue", "A=a", "--alias=B=C"}, 1,
         "saverpack: B: alias of 'C', which is not an earlier entry"},
        {"alias first", {"create", "out.glue", "--alias=B=A", "A=a"}, 1, "not an earlier entry"},
        {"name twice", {"create", "out.glue", "A=a", "a=a"}, 1, "saverpack: a: entry name given twice"},
        {"missing source", {"create", "out.glue", "A=nothing"}, 1, "saverpack: nothing: "},
        {"inline too long", {"create", "out.glue", "A=a", "--inline=N=00112233445566778899aabbccddeeff00"},
         2, "at most 16 bytes"},
        {"odd hex", {"create", "out.glue", "A=a", "--inline=N=123"}, 2, "odd number of hex digits"},
        {"not hex", {"create", "out.glue", "A=a", "--inline=N=zz"}, 2, "not a hex digit"},
        {"no entries", {"create", "out.glue"}, 2, "usage: saverpack create"},
        {"entry without path", {"create", "out.glue", "A"}, 2, "an entry is NAME=PATH"},
        {"unknown option", {"create", "out.glue", "--fast", "A=a"}, 2, "unknown option '--fast'"},
        {"list without archive", {"list"}, 2, "usage: saverpack list"},
        {"extract without name", {"extract", "x"}, 2, "usage: saverpack extract"},
        {"extract --all without -C", {"extract", "x", "--all"}, 2, "give -C DIR"},
        {"verify with two", {"verify", "x", "y"}, 2, "too many operands"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ToolRun run = Tool(c.args);
        EXPECT_EQ(run.status, c.status);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(Files(), std::set<std::string>{"a"});
    }
    ToolRun limit = Tool(most);
    EXPECT_EQ(limit.status, 0) << limit.err;
    EXPECT_EQ(glue_reference::ReadDirectory(Read("out.glue"))->size(), 31u);
}

TEST_F(ArchiveToolTest, CompressedEntriesRoundTripOrFailClearly)
{
    Bytes a = Pattern(30000, 3);
    Write("a", a);
    ToolRun run = Tool({"create", "out.glue", "PLAIN=a", "--compress", "Z=a", "--xor=5", "X=a"});
    if (run.status != 0) {
        // The stream does not compress in this build: a clear failure and
        // no archive.
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "saverpack: Z=a: compressing it failed: the compressed stream could "
                           "not be written\n");
        EXPECT_FALSE(fs::exists(Path("out.glue")));
        return;
    }
    auto records = glue_reference::ReadDirectory(Read("out.glue"));
    ASSERT_TRUE(records.has_value());
    EXPECT_EQ((*records)[1].kind(), 1);
    EXPECT_EQ((*records)[1].key(), 0);
    EXPECT_EQ((*records)[1].originalSize(), 30000);
    EXPECT_EQ((*records)[2].key(), 5);
    EXPECT_EQ(Tool({"extract", "out.glue", "Z", "-o", "z"}).status, 0);
    EXPECT_EQ(Read("z"), a);
    EXPECT_EQ(Tool({"verify", "out.glue"}).status, 0);
}

TEST_F(ArchiveToolTest, ExtractAllRefusesNamesThatWouldLeaveTheFolder)
{
    for (const char* name : {"../evil", "a/b", "a\\b", "C:x", "..", ".", "/abs", "NUL", "con.txt"}) {
        SCOPED_TRACE(name);
        Write("bad.glue",
              WithDirectory(Pattern(10, 1), {MakeRecord("OK", 0, 0, 0, 10, 10),
                                             MakeRecord(name, 0, 0, 0, 10, 10)}));
        ToolRun run = Tool({"extract", "bad.glue", "--all", "-C", "dir"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err.rfind("saverpack: bad.glue: ", 0), 0u) << run.err;
        EXPECT_EQ(Files(), std::set<std::string>{"bad.glue"});
        EXPECT_FALSE(fs::exists(Folder().parent_path() / "evil"));
    }
}

TEST_F(ArchiveToolTest, ExtractOfAMissingEntryLeavesNoFile)
{
    Write("a", Pattern(10, 1));
    ASSERT_EQ(Tool({"create", "x.glue", "A=a"}).status, 0);
    ToolRun run = Tool({"extract", "x.glue", "B", "-o", "b"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "saverpack: x.glue: no entry named 'B'\n");
    EXPECT_EQ(Files(), (std::set<std::string>{"a", "x.glue"}));
}

}  // namespace
