// The archive reader against archives made by the independent writer:
// finding the directory, open stages and the latch, lookups, inline
// entries, extraction into files, a concatenation target and memory, the
// hook slots, and damaged records.
#include "archive/archive.h"
#include "codec/stream.h"
#include "tests/archive/archive_fixture.h"

#include <cerrno>
#include <cstring>
#include <functional>

namespace {

using glue_reference::MakeInlineRecord;
using glue_reference::MakeRecord;
using glue_reference::NewEntry;
using glue_reference::RawRecord;
using glue_reference::WithDirectory;

using ReaderTest = ArchiveTest;

// ---- finding the directory ---------------------------------------------

TEST_F(ReaderTest, DirectoryOfNRecordsIsFoundWithEveryRecordIntact)
{
    for (int n : {1, 2, 5, 31}) {
        SCOPED_TRACE(n);
        ResetArchiveModule();
        std::vector<NewEntry> entries;
        for (int k = 0; k < n; ++k)
            entries.push_back({Numbered("E", k), Pattern(10 + k, k), 0});
        Bytes file = glue_reference::BuildArchive(entries);
        ASSERT_NE(OpenBytes(file), INVALID_HANDLE_VALUE);
        EXPECT_EQ(InputOpenStage(), 3);
        ASSERT_EQ(InputEntryCount(), n);
        auto expected = glue_reference::ReadDirectory(file).value();
        for (int k = 0; k < n; ++k)
            EXPECT_EQ(0, std::memcmp(InputEntryRecord(k), expected[k].raw.data(), 40)) << k;
    }
}

TEST_F(ReaderTest, CountComesFromTheLowFiveBitsOfRecordZero)
{
    std::vector<RawRecord> records;
    for (int k = 0; k < 5; ++k)
        records.push_back(MakeRecord(Numbered("R", k), 0, 0, 0, 0, 0));
    records[0][0] = 37;  // 0b100101: 5 records
    ASSERT_NE(OpenBytes(WithDirectory({}, records, true)), INVALID_HANDLE_VALUE);
    EXPECT_EQ(InputEntryCount(), 5);
    EXPECT_NE(FindEntry("R4", FIND_ORDINARY), nullptr);
}

TEST_F(ReaderTest, CountLargerThanTheDirectoryFoundFailsCleanly)
{
    std::vector<RawRecord> records(3, MakeRecord("X", 0, 0, 0, 0, 0));
    records[0][0] = 4;  // claims a record that was never part of the run
    EnableFailureLatch(1);
    EXPECT_EQ(OpenBytes(Concat(Pattern(400), WithDirectory({}, records, true))),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(InputOpenStage(), 3);
    EXPECT_EQ(InputEntryCount(), 0);
    EXPECT_EQ(FindEntry("X", FIND_ORDINARY), nullptr);
    EXPECT_TRUE(ArchiveFailed());
}

TEST_F(ReaderTest, ThirtyTwoRecordsReadBackAsNone)
{
    std::vector<RawRecord> records;
    for (int k = 0; k < 32; ++k)
        records.push_back(MakeRecord(Numbered("R", k), 0, 0, 0, 0, 0));
    records[0][0] = 32;
    ASSERT_NE(OpenBytes(WithDirectory({}, records, true)), INVALID_HANDLE_VALUE);
    EXPECT_EQ(InputEntryCount(), 0);
    EXPECT_EQ(EntryStoredSize("R0"), -1);
}

// ---- open stages and the latch -----------------------------------------

struct StageCase {
    const char* name;
    std::function<void(ArchiveTest&)> prepare;  // leaves the file at Path("f")
    int stage;
    bool opens;
};

class OpenStageTest : public ArchiveTest, public ::testing::WithParamInterface<StageCase> {};

ssize_t FailingRead(int, void*, size_t)
{
    errno = EIO;
    return -1;
}

TEST_P(OpenStageTest, StageAndLatchTellHowFarTheOpenGot)
{
    const StageCase& c = GetParam();
    c.prepare(*this);
    EnableFailureLatch(1);
    HANDLE input = OpenInputArchive(Path("f").c_str());
    ResetHostSyscalls();
    EXPECT_EQ(InputOpenStage(), c.stage);
    EXPECT_EQ(input != INVALID_HANDLE_VALUE, c.opens);
    EXPECT_EQ(ArchiveFailed() != 0, !c.opens);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OpenStageTest,
    ::testing::Values(
        StageCase{"missing_file_stage_1", [](ArchiveTest&) {}, 1, false},
        StageCase{"short_tail_read_stage_2",
                  [](ArchiveTest& t) {
                      t.Write("f", glue_reference::BuildArchive({{"A", Pattern(50), 0}}));
                      HostSys.read = FailingRead;
                  },
                  2, false},
        StageCase{"file_of_39_bytes_stage_3", [](ArchiveTest& t) { t.Write("f", Pattern(39)); }, 3,
                  false},
        StageCase{"empty_file_stage_3", [](ArchiveTest& t) { t.Write("f", {}); }, 3, false},
        StageCase{"program_without_archive_stage_3",
                  [](ArchiveTest& t) { t.Write("f", Pattern(5000)); }, 3, false},
        StageCase{"archive_stage_3_open",
                  [](ArchiveTest& t) {
                      t.Write("f", glue_reference::BuildArchive({{"A", Pattern(50), 0}}));
                  },
                  3, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReaderTest, LatchedOpenGivesStageZeroAndClosesTheInput)
{
    ASSERT_NE(OpenBuilt({{"A", {1, 2, 3}, 0}, {"N", {9}, 0, true}}), INVALID_HANDLE_VALUE);
    EnableFailureLatch(1);
    ASSERT_EQ(ExtractEntry("missing", Path("out").c_str()), 0);
    ASSERT_TRUE(ArchiveFailed());
    EXPECT_EQ(OpenInputArchive(Path("input.glue").c_str()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(InputOpenStage(), 0);
    std::uint8_t buffer[16];
    std::int32_t length = 5;
    EXPECT_EQ(ReadInlineEntry("N", buffer, &length), 0) << "the input is closed";
    EXPECT_EQ(length, 0);
}

TEST_F(ReaderTest, FailedOpenAfterASuccessfulOneLeavesNoStaleRecords)
{
    for (const char* second : {"none", "no directory"}) {
        SCOPED_TRACE(second);
        ResetArchiveModule();
        ASSERT_NE(OpenBuilt({{"A", {1, 2, 3}, 0}}), INVALID_HANDLE_VALUE);
        ASSERT_EQ(EntryStoredSize("A"), 3);
        Write("plain", Pattern(400));
        std::string path = std::strcmp(second, "none") == 0 ? Path("missing") : Path("plain");
        EXPECT_EQ(OpenInputArchive(path.c_str()), INVALID_HANDLE_VALUE);
        EXPECT_EQ(EntryStoredSize("A"), -1);
        EXPECT_EQ(InputEntryCount(), 0);
    }
}

TEST_F(ReaderTest, CloseKeepsTheDirectoryButExtractionFailsAndLatches)
{
    HANDLE input = OpenBuilt({{"A", {1, 2, 3}, 0}});
    EnableFailureLatch(1);
    CloseArchive(input);
    EXPECT_EQ(EntryStoredSize("A"), 3);
    EXPECT_FALSE(ArchiveFailed());
    EXPECT_EQ(ExtractEntry("A", Path("a").c_str()), 0);
    EXPECT_TRUE(ArchiveFailed());
}

TEST_F(ReaderTest, OpenWithoutAPathTakesTheProgramsOwnFile)
{
    // The test program has no archive appended: it opens, is read and
    // shows no directory.
    EXPECT_EQ(OpenInputArchive(nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(InputOpenStage(), 3);
}

// ---- lookups ------------------------------------------------------------

TEST_F(ReaderTest, LookupsFoldAsciiCaseAndTakeTheFirstRecordOfAName)
{
    ASSERT_NE(OpenBuilt({{"README", {1, 2}, 0},
                         {"Twice", {7}, 0, true},
                         {"TWICE", Pattern(9), 0},
                         {"data", Pattern(5), 0},
                         {"alias", {}, 0, false, 3},
                         {"\xC4x", {1}, 0}}),
              INVALID_HANDLE_VALUE);
    struct {
        const char* name;
        std::int32_t stored;
    } cases[] = {
        {"readme", 2},  {"README", 2}, {"ReadMe", 2},
        {"twice", -1},  // the first of the name is inline
        {"data", 5},    {"alias", 5},  {"\xE4x", -1},  // only A-Z fold
        {"\xC4x", 1},   {"READM", -1}, {"README!", -1}, {"", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EntryStoredSize(c.name), c.stored) << c.name;
    EXPECT_EQ(EntryOriginalSize("readme"), 2);
    EXPECT_EQ(SameEntryData("data", "ALIAS"), 1);
    EXPECT_EQ(SameEntryData("data", "readme"), 0);
    EXPECT_EQ(SameEntryData("data", "missing"), 0);
    EXPECT_EQ(FindEntry("twice", FIND_ORDINARY), nullptr);
    EXPECT_NE(FindEntry("twice", FIND_INLINE), nullptr);
    EXPECT_NE(FindEntry("twice", FIND_ORDINARY | FIND_INLINE), nullptr);
    EXPECT_EQ(FindEntry("readme", 0), nullptr);
}

TEST_F(ReaderTest, NamesOfFifteenSixteenAndMoreCharactersStayInsideTheField)
{
    // The 16-character name has no NUL; its dataOffset bytes follow it.
    std::vector<RawRecord> records = {
        MakeRecord("FIFTEEN_CHARS_1", 0, 0, 0, 0, 0),
        MakeRecord("SIXTEEN_CHARS_16", 0, 0, 0x41414141, 0, 0),
    };
    ASSERT_NE(OpenBytes(WithDirectory({}, records)), INVALID_HANDLE_VALUE);
    struct {
        const char* name;
        bool found;
    } cases[] = {
        {"fifteen_chars_1", true},    {"FIFTEEN_CHARS_1X", false},
        {"SIXTEEN_CHARS_16", true},   {"SIXTEEN_CHARS_1", false},
        {"SIXTEEN_CHARS_16AAAA", true},  // cut to 16, as a writer cuts it
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindEntry(c.name, FIND_ORDINARY) != nullptr, c.found) << c.name;
}

// ---- inline entries -----------------------------------------------------

TEST_F(ReaderTest, InlineLengthByteOutsideZeroToSixteenYieldsNoBytes)
{
    struct {
        std::uint8_t lengthByte;
        std::int32_t length;
    } cases[] = {{0, 0}, {3, 3}, {16, 16}, {17, 0}, {0x90, 0}, {0xFF, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.lengthByte));
        ResetArchiveModule();
        Bytes sixteen = Pattern(16);
        RawRecord inl = MakeInlineRecord("I", sixteen);
        inl[0] = c.lengthByte;
        ASSERT_NE(OpenBytes(WithDirectory({5}, {MakeRecord("A", 0, 0, 0, 1, 1), inl})),
                  INVALID_HANDLE_VALUE);
        std::uint8_t buffer[16] = {};
        std::int32_t length = -5;
        EXPECT_EQ(ReadInlineEntry("i", buffer, &length), 1);
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(0, std::memcmp(buffer, sixteen.data(), static_cast<std::size_t>(length)));
        EXPECT_EQ(ExtractEntry("I", Path("i").c_str()), 1);
        EXPECT_EQ(Read("i"), Bytes(sixteen.begin(), sixteen.begin() + c.length));
        EXPECT_EQ(EntryStoredSize("I"), -1);
    }
}

TEST_F(ReaderTest, ReadInlineEntryOfAnOrdinaryEntryFailsWithLengthZero)
{
    ASSERT_NE(OpenBuilt({{"A", {1, 2, 3}, 0}}), INVALID_HANDLE_VALUE);
    std::uint8_t buffer[16];
    std::int32_t length = 9;
    EXPECT_EQ(ReadInlineEntry("A", buffer, &length), 0);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(ReadInlineEntry("A", buffer, nullptr), 0);
}

// ---- extraction ---------------------------------------------------------

TEST_F(ReaderTest, ExtractRestoresStoredAndXorScrambledEntries)
{
    Bytes a = Pattern(20000, 1), b = Pattern(16385, 2), c = Pattern(1, 3);
    ASSERT_NE(OpenBuilt({{"A", a, 0}, {"B", b, 0x5A}, {"C", c, 0xFF}, {"E", {}, 0x11}}),
              INVALID_HANDLE_VALUE);
    EnableFailureLatch(1);
    for (auto [name, data] : {std::pair{"A", a}, {"B", b}, {"C", c}, {"E", Bytes{}}}) {
        EXPECT_EQ(ExtractEntry(name, Path(name).c_str()), 1) << name;
        EXPECT_EQ(Read(name), data) << name;
    }
    EXPECT_FALSE(ArchiveFailed());
}

struct ExtractFailure {
    const char* name;
    const char* entry;
    bool openInput;
    bool withPath;
};

TEST_F(ReaderTest, ExtractFailuresLatchWhenArmedOnly)
{
    ExtractFailure cases[] = {
        {"missing name", "Z", true, true},
        {"input closed", "A", false, true},
        {"no destination", "A", true, false},
    };
    for (const ExtractFailure& c : cases) {
        for (int armed : {0, 1}) {
            SCOPED_TRACE(std::string(c.name) + (armed ? " armed" : " disarmed"));
            ResetArchiveModule();
            HANDLE input = OpenBuilt({{"A", {1, 2, 3}, 0}});
            if (!c.openInput)
                CloseArchive(input);
            EnableFailureLatch(armed);
            EXPECT_EQ(ExtractEntry(c.entry, c.withPath ? Path("out").c_str() : nullptr), 0);
            EXPECT_EQ(ArchiveFailed(), armed);
        }
    }
}

int HookCalls = 0;
HANDLE HookFile = INVALID_HANDLE_VALUE;
std::int32_t HookBytes = -1;
int QueryAnswer = 0;
std::string QueryPath;

void CountBefore(HANDLE file, std::int32_t bytes)
{
    ++HookCalls;
    HookFile = file;
    HookBytes = bytes;
}

void CountAfter(HANDLE file)
{
    HookCalls += 10;
    EXPECT_EQ(file, HookFile);
}

int Answer(const char* path)
{
    QueryPath = path;
    return QueryAnswer;
}

TEST_F(ReaderTest, ExtractCallsTheFileHooksAndEmptiesAllThreeSlots)
{
    ASSERT_NE(OpenBuilt({{"A", Pattern(77), 0}}), INVALID_HANDLE_VALUE);
    struct {
        const char* entry;
        int calls;
        bool latched;
    } cases[] = {{"A", 11, false}, {"missing", 0, false}, {"A", 0, true}};
    for (const auto& c : cases) {
        HookCalls = 0;
        EnableFailureLatch(1);
        if (c.latched)
            ExtractEntry("missing", nullptr);
        BeforeFileHook = CountBefore;
        AfterFileHook = CountAfter;
        OverwriteQuery = Answer;
        ExtractEntry(c.entry, Path("out").c_str());
        EXPECT_EQ(HookCalls, c.calls) << c.entry;
        if (c.calls != 0) {
            EXPECT_EQ(HookBytes, 77);
        }
        EXPECT_EQ(BeforeFileHook, nullptr);
        EXPECT_EQ(AfterFileHook, nullptr);
        EXPECT_EQ(OverwriteQuery, nullptr);
    }
}

TEST_F(ReaderTest, OverwriteQueryDecidesWhetherAnExistingFileIsReplaced)
{
    ASSERT_NE(OpenBuilt({{"A", {1, 2, 3}, 0}}), INVALID_HANDLE_VALUE);
    struct {
        const char* name;
        bool hook;
        int answer;
        bool exists;
        int result;
        Bytes after;
        bool asked;
    } cases[] = {
        {"answer 0 keeps the file", true, 0, true, 0, {9, 9}, true},
        {"answer 1 replaces it", true, 1, true, 1, {1, 2, 3}, true},
        {"no hook replaces it", false, 0, true, 1, {1, 2, 3}, false},
        {"a new file is not asked about", true, 0, false, 1, {1, 2, 3}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(Path("out"));
        if (c.exists)
            Write("out", {9, 9});
        QueryPath.clear();
        QueryAnswer = c.answer;
        EnableFailureLatch(1);
        OverwriteQuery = c.hook ? Answer : nullptr;
        EXPECT_EQ(ExtractEntry("A", Path("out").c_str()), c.result);
        EXPECT_EQ(Read("out"), c.after);
        EXPECT_EQ(QueryPath == Path("out"), c.asked);
        EXPECT_EQ(ArchiveFailed(), c.result == 0);
    }
}

TEST_F(ReaderTest, ConcatTargetCollectsExtractionsUntilTheFirstFailure)
{
    Bytes a = Pattern(100, 1), b = Pattern(16390, 2), c = Pattern(7, 3);
    ASSERT_NE(OpenBuilt({{"A", a, 0}, {"B", b, 0x33}, {"C", c, 0}, {"N", {4, 5}, 0, true}}),
              INVALID_HANDLE_VALUE);
    EnableFailureLatch(1);
    ASSERT_EQ(SetConcatTarget(Path("all").c_str()), 1);
    EXPECT_EQ(ExtractEntry("A", nullptr), 1);
    EXPECT_EQ(ExtractEntry("N", Path("ignored").c_str()), 1);
    EXPECT_EQ(ExtractEntry("B", nullptr), 1);
    EXPECT_EQ(ExtractEntry("missing", nullptr), 0);
    EXPECT_EQ(ExtractEntry("C", nullptr), 0) << "latched";
    EXPECT_EQ(SetConcatTarget(nullptr), 1);
    EXPECT_FALSE(Exists("ignored"));
    EXPECT_EQ(Read("all"), Concat(Concat(a, {4, 5}), b));
    // Closed: the file can be opened exclusively again.
    HANDLE again = CreateFileA(Path("all").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
}

TEST_F(ReaderTest, SecondConcatTargetClosesTheFirst)
{
    ASSERT_NE(OpenBuilt({{"A", {1}, 0}, {"B", {2}, 0}}), INVALID_HANDLE_VALUE);
    ASSERT_EQ(SetConcatTarget(Path("first").c_str()), 1);
    ExtractEntry("A", nullptr);
    ASSERT_EQ(SetConcatTarget(Path("second").c_str()), 1);
    ExtractEntry("B", nullptr);
    HANDLE first = CreateFileA(Path("first").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(first, INVALID_HANDLE_VALUE) << "the first target is still open";
    CloseHandle(first);
    SetConcatTarget(nullptr);
    EXPECT_EQ(Read("first"), Bytes{1});
    EXPECT_EQ(Read("second"), Bytes{2});
}

TEST_F(ReaderTest, SetConcatTargetLatchRows)
{
    struct {
        const char* name;
        bool latched;
        const char* path;
        int result;
        bool latchAfter;
        bool created;
    } cases[] = {
        {"creates", false, "t", 1, false, true},
        {"latched opens nothing", true, "t", 1, true, false},
        {"uncreatable latches", false, "no/such/dir/t", 0, true, false},
        {"closing while latched", true, nullptr, 1, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResetArchiveModule();
        std::filesystem::remove(Path("t"));
        EnableFailureLatch(1);
        if (c.latched)
            OpenInputArchive(Path("missing").c_str());
        OverwriteQuery = Answer;
        std::string path = c.path ? Path(c.path) : "";
        EXPECT_EQ(SetConcatTarget(c.path ? path.c_str() : nullptr), c.result);
        EXPECT_EQ(ArchiveFailed() != 0, c.latchAfter);
        EXPECT_EQ(Exists("t"), c.created);
        EXPECT_EQ(OverwriteQuery, nullptr);
        SetConcatTarget(nullptr);
    }
}

// ---- extraction into memory ---------------------------------------------

TEST_F(ReaderTest, ExtractToMemoryNeverWritesPastMaxBytes)
{
    Bytes a = Pattern(20000, 4);
    ASSERT_NE(OpenBuilt({{"A", a, 0x77}, {"N", {1}, 0, true}}), INVALID_HANDLE_VALUE);
    struct {
        const char* entry;
        std::int32_t maxBytes;
        int result;
        std::int32_t delivered;
    } cases[] = {
        {"A", 20000, 1, 20000}, {"A", 30000, 1, 20000}, {"A", 5, 1, 5},
        {"A", 0, 1, 0},         {"A", -1, 0, 0},        {"N", 16, 0, 0},
        {"missing", 16, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.entry) + " " + std::to_string(c.maxBytes));
        Bytes buffer(30016, 0xEE);
        EnableFailureLatch(1);
        EXPECT_EQ(ExtractEntryToMemory(c.entry, buffer.data(), c.maxBytes), c.result);
        EXPECT_EQ(ArchiveFailed(), c.result == 0);
        EXPECT_TRUE(std::equal(a.begin(), a.begin() + c.delivered, buffer.begin()));
        for (std::size_t i = static_cast<std::size_t>(c.delivered); i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], 0xEE) << "byte " << i << " written";
        EXPECT_EQ(StreamMemoryDestination, nullptr);
        EXPECT_EQ(StreamMemoryLimit, 0u);
    }
}

// ---- damaged records ----------------------------------------------------

TEST_F(ReaderTest, RecordsPointingOutsideTheFileFailWithoutMovingData)
{
    Bytes data = Pattern(300);
    struct {
        const char* name;
        std::int64_t offset, stored;
    } cases[] = {
        {"negative offset", -1, 10},
        {"negative size", 0, -1},
        {"most negative size", 0, INT32_MIN},
        {"offset past the end", 5000, 1},
        {"size past the end", 290, 91},
        {"huge size", 0, INT32_MAX},
        {"huge offset", INT32_MAX, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResetArchiveModule();
        ASSERT_NE(OpenBytes(WithDirectory(data, {MakeRecord("A", 0, 0, 0, 300, 300),
                                                  MakeRecord("BAD", 0, 0x21, c.offset, c.stored,
                                                             c.stored)})),
                  INVALID_HANDLE_VALUE);
        EnableFailureLatch(1);
        EXPECT_EQ(ExtractEntry("BAD", Path("bad").c_str()), 0);
        EXPECT_TRUE(ArchiveFailed());
        EXPECT_TRUE(Read("bad").empty());
        EnableFailureLatch(1);
        Bytes buffer(64, 0xEE);
        EXPECT_EQ(ExtractEntryToMemory("BAD", buffer.data(), 48), 0);
        EXPECT_EQ(buffer, Bytes(64, 0xEE));
        EnableFailureLatch(1);
        EXPECT_EQ(ExtractEntryToMemory("A", buffer.data(), 64), 1) << "the sound entry still reads";
    }
}

TEST_F(ReaderTest, CompressedEntryThatDoesNotDecompressFailsCleanly)
{
    // Not a framed block stream: the stream rejects it.
    ASSERT_NE(OpenBytes(WithDirectory(Pattern(64), {MakeRecord("Z", 1, 0, 0, 64, 1000)})),
              INVALID_HANDLE_VALUE);
    EnableFailureLatch(1);
    EXPECT_EQ(ExtractEntry("Z", Path("z").c_str()), 0);
    EXPECT_TRUE(ArchiveFailed());
    EnableFailureLatch(1);
    Bytes buffer(32, 0xEE);
    EXPECT_EQ(ExtractEntryToMemory("Z", buffer.data(), 16), 0);
    EXPECT_TRUE(std::all_of(buffer.begin() + 16, buffer.end(), [](auto b) { return b == 0xEE; }));
}

}  // namespace
