// The archive writer, checked through the independent reader: offsets and
// record fields, failed transfers, the 31-record limit, names, inline
// entries, aliases, renames, the copy table, the hooks, the latch rows and
// short writes.
#include "archive/archive.h"
#include "scrambler/patch.h"
#include "hostwin/syscalls.h"
#include "tests/support/disk_full.h"
#include "tests/archive/archive_fixture.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>
#include <cstring>
#include <functional>

namespace {

using glue_reference::MakeInlineRecord;
using glue_reference::MakeRecord;
using glue_reference::NewEntry;
using glue_reference::Record;
using glue_reference::WithDirectory;

class WriterTest : public ArchiveTest {
protected:
    HANDLE Create(const std::string& name = "out.glue")
    {
        return CreateOutputArchive(Path(name).c_str());
    }

    int AddMemory(const Bytes& data, const char* name, TransferFlags flags = 0)
    {
        return AddMemoryEntry(data.data(), static_cast<std::int32_t>(data.size()), name, flags);
    }

    int AddFile(const Bytes& data, const char* name, TransferFlags flags = 0)
    {
        Write(std::string("src_") + name, data);
        return AddFileEntry(Path(std::string("src_") + name).c_str(), name, flags);
    }

    void ExpectRecord(const Record& r, const char* name, std::uint8_t kind, std::uint8_t key,
                      std::int32_t offset, std::int32_t stored, std::int32_t original,
                      std::int32_t patch = -1)
    {
        EXPECT_EQ(r.name(), name);
        EXPECT_EQ(r.kind(), kind) << name;
        EXPECT_EQ(r.key(), key) << name;
        EXPECT_EQ(r.dataOffset(), offset) << name;
        EXPECT_EQ(r.storedSize(), stored) << name;
        EXPECT_EQ(r.originalSize(), original) << name;
        EXPECT_EQ(r.patchPosition(), patch) << name;
        EXPECT_EQ(r.recordSize(), 40) << name;
        EXPECT_EQ(r.magic(), glue_reference::MAGIC) << name;
    }
};

// Data with a patch marker at offset `at` and room after it.
Bytes WithMarker(std::size_t size, std::size_t at, unsigned seed = 9)
{
    Bytes data = Pattern(size, seed);
    Bytes marker = PatchMarker();
    std::copy(marker.begin(), marker.end(), data.begin() + static_cast<std::ptrdiff_t>(at));
    return data;
}

// What a 20-byte plain patch makes of data with its marker at `at`.
Bytes Patched(Bytes data, std::size_t at, const Bytes& patch)
{
    Bytes header = {0x33, 0x55, 0x33, 0x47, static_cast<std::uint8_t>(patch.size()), 0, 0, 0};
    std::copy(header.begin(), header.end(), data.begin() + static_cast<std::ptrdiff_t>(at));
    std::copy(patch.begin(), patch.end(), data.begin() + static_cast<std::ptrdiff_t>(at + 8));
    return data;
}

Bytes PatchBytes = Pattern(20, 77);

void ArmPatch()
{
    SetPatchSource(PatchBytes.data(), 20, 0, 0);
}

// ---- layout -------------------------------------------------------------

TEST_F(WriterTest, EntriesLieBackToBackFromOffsetZeroBeforeTheDirectory)
{
    Bytes a = Pattern(16385, 1), b = Pattern(300, 2), c = Pattern(40, 3);
    EnableFailureLatch(1);
    HANDLE out = Create();
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    EXPECT_EQ(AddFile(a, "A"), 1);
    EXPECT_EQ(AddFile(b, "B", 0x5A), 1);
    EXPECT_EQ(AddMemory(c, "C", 0x01), 1);
    EXPECT_EQ(AddFile({}, "EMPTY"), 1);
    EXPECT_EQ(AddMemory({}, "E2"), 1);
    EXPECT_EQ(OutputEntryCount(), 5);
    CloseArchive(out);
    EXPECT_FALSE(ArchiveFailed());

    Bytes file = Read("out.glue");
    EXPECT_EQ(file.size(), a.size() + b.size() + c.size() + 5 * 40);
    auto records = Directory("out.glue");
    ASSERT_EQ(records.size(), 5u);
    ExpectRecord(records[0], "A", 0, 0, 0, 16385, 16385);
    ExpectRecord(records[1], "B", 0, 0x5A, 16385, 300, 300);
    ExpectRecord(records[2], "C", 0, 0x01, 16685, 40, 40);
    ExpectRecord(records[3], "EMPTY", 0, 0, 16725, 0, 0);
    ExpectRecord(records[4], "E2", 0, 0, 16725, 0, 0);
    EXPECT_EQ(glue_reference::EntryData(file, records[0]), a);
    EXPECT_EQ(glue_reference::EntryData(file, records[1]), b);
    EXPECT_EQ(glue_reference::EntryData(file, records[2]), c);
    EXPECT_NE(Bytes(file.begin() + 16385, file.begin() + 16685), b) << "stored XORed";
}

TEST_F(WriterTest, FailedTransfersLeaveOrphanedBytesAndLaterEntriesFollowThem)
{
    Bytes a = Pattern(100, 1), noMarker = Pattern(50, 2), fileNoMarker = Pattern(70, 3);
    EnableFailureLatch(1);
    HANDLE out = Create();
    EXPECT_EQ(AddMemory(a, "A"), 1);
    ArmPatch();
    EXPECT_EQ(AddMemory(noMarker, "X", XFER_PATCH), 0);
    EXPECT_TRUE(ArchiveFailed());
    EnableFailureLatch(1);
    ArmPatch();
    EXPECT_EQ(AddFile(fileNoMarker, "Y", XFER_PATCH), 0);
    EXPECT_TRUE(ArchiveFailed());
    EnableFailureLatch(1);
    EXPECT_EQ(AddMemory({7, 7}, "B"), 1);
    CloseArchive(out);
    Bytes file = Read("out.glue");
    EXPECT_EQ(file.size(), 100u + 50 + 70 + 2 + 2 * 40);
    auto records = Directory("out.glue");
    ASSERT_EQ(records.size(), 2u);
    ExpectRecord(records[1], "B", 0, 0, 220, 2, 2);
    EXPECT_EQ(Bytes(file.begin() + 100, file.begin() + 150), noMarker);
}

TEST_F(WriterTest, PatchPositionIsTheMarkerOffsetAndNoneForZeroOrNoPatch)
{
    struct {
        const char* name;
        std::size_t marker;
        bool patch;
        bool viaFile;
        std::int32_t position;
    } cases[] = {
        {"memory, marker at 1000", 1000, true, false, 1000},
        {"file, marker at 1000", 1000, true, true, 1000},
        {"file, marker in the second chunk", 20000, true, true, 20000},
        {"marker at 0 records none", 0, true, false, -1},
        {"no XFER_PATCH records none", 1000, false, true, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResetArchiveModule();
        Bytes data = WithMarker(30000, c.marker);
        HANDLE out = Create();
        if (c.patch)
            ArmPatch();
        TransferFlags flags = c.patch ? XFER_PATCH : 0;
        ASSERT_EQ(c.viaFile ? AddFile(data, "P", flags) : AddMemory(data, "P", flags), 1);
        CloseArchive(out);
        auto records = Directory("out.glue");
        ASSERT_EQ(records.size(), 1u);
        ExpectRecord(records[0], "P", 0, 0, 0, 30000, 30000, c.position);
        Bytes expected = c.patch ? Patched(data, c.marker, PatchBytes) : data;
        EXPECT_EQ(glue_reference::EntryData(Read("out.glue"), records[0]), expected);
    }
}

// ---- limits -------------------------------------------------------------

TEST_F(WriterTest, DirectoryStopsAtThirtyOneRecords)
{
    Write("src", {1});
    HANDLE out = Create("in.glue");
    for (int k = 0; k < 31; ++k)
        ASSERT_EQ(AddMemory({static_cast<std::uint8_t>(k)}, Numbered("R", k).c_str()), 1) << k;
    ASSERT_EQ(OutputEntryCount(), 31);
    CloseArchive(out);
    auto records = Directory("in.glue");
    ASSERT_EQ(records.size(), 31u);
    EXPECT_EQ(records[30].name(), "R30");

    // A full directory: every adding operation fails; those that latch do.
    ASSERT_NE(OpenInputArchive(Path("in.glue").c_str()), INVALID_HANDLE_VALUE);
    std::uint8_t one = 1;
    struct {
        const char* name;
        std::function<int()> add;
        bool latches;
    } cases[] = {
        {"AddMemoryEntry", [&] { return AddMemoryEntry(&one, 1, "M", 0); }, false},
        {"AddAliasEntry", [] { return AddAliasEntry("AL", "R0"); }, false},
        {"AddInlineEntry", [&] { return AddInlineEntry("IN", &one, 1); }, false},
        {"CopyEntry", [] { return CopyEntry("R1", 0); }, true},
        {"AddFileEntry", [&] { return AddFileEntry(Path("src").c_str(), "F", 0); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EnableFailureLatch(0);
        Create("full.glue");
        for (int k = 0; k < 31; ++k)
            AddMemory({1}, Numbered("R", k).c_str());
        EnableFailureLatch(1);
        EXPECT_EQ(c.add(), 0);
        EXPECT_EQ(ArchiveFailed() != 0, c.latches);
        EXPECT_EQ(OutputEntryCount(), 31);
    }
}

TEST_F(WriterTest, NamesAreCutToSixteenCharactersAndNulFilled)
{
    struct {
        const char* name;
        const char* field;  // 16 bytes
    } cases[] = {
        {"FIFTEEN_CHARS_1", "FIFTEEN_CHARS_1\0"},
        {"SIXTEEN_CHARS_16", "SIXTEEN_CHARS_16"},
        {"SEVENTEEN_CHARS17", "SEVENTEEN_CHARS1"},
        {"A", "A\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0"},
    };
    HANDLE out = Create();
    for (const auto& c : cases)
        AddMemory({1}, c.name);
    CloseArchive(out);
    auto records = Directory("out.glue");
    ASSERT_EQ(records.size(), std::size(cases));
    for (std::size_t k = 0; k < records.size(); ++k)
        EXPECT_EQ(0, std::memcmp(records[k].raw.data() + 3, cases[k].field, 16)) << cases[k].name;
    ASSERT_NE(OpenInputArchive(Path("out.glue").c_str()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(EntryStoredSize("SEVENTEEN_CHARS17"), 1);
    EXPECT_EQ(EntryStoredSize("sixteen_chars_16"), 1);
}

// ---- inline, alias, rename ------------------------------------------------

TEST_F(WriterTest, InlineEntriesHoldUpToSixteenBytes)
{
    Bytes twenty = Pattern(20, 5);
    struct {
        std::int32_t length;
        std::size_t stored;
    } cases[] = {{0, 0}, {3, 3}, {16, 16}, {20, 16}, {-3, 0}};
    HANDLE out = Create();
    AddMemory({1, 2}, "FIRST");
    for (const auto& c : cases)
        EXPECT_EQ(AddInlineEntry(Numbered("I", c.length).c_str(), twenty.data(), c.length), 1);
    CloseArchive(out);
    auto records = Directory("out.glue");
    ASSERT_EQ(records.size(), 1 + std::size(cases));
    ASSERT_NE(OpenInputArchive(Path("out.glue").c_str()), INVALID_HANDLE_VALUE);
    for (std::size_t k = 0; k < std::size(cases); ++k) {
        const auto& c = cases[k];
        Bytes bytes(twenty.begin(), twenty.begin() + static_cast<std::ptrdiff_t>(c.stored));
        SCOPED_TRACE(c.length);
        EXPECT_EQ(records[k + 1].raw, MakeInlineRecord(Numbered("I", c.length), bytes));
        std::uint8_t buffer[16];
        std::int32_t length = -1;
        EXPECT_EQ(ReadInlineEntry(Numbered("I", c.length).c_str(), buffer, &length), 1);
        EXPECT_EQ(Bytes(buffer, buffer + length), bytes);
    }
}

TEST_F(WriterTest, InlineEntryIsRefusedAsRecordZeroButNeedsNoOpenArchive)
{
    std::uint8_t bytes[2] = {1, 2};
    EXPECT_EQ(AddInlineEntry("I", bytes, 2), 0) << "record 0 holds the count";
    EXPECT_EQ(OutputEntryCount(), 0);
    HANDLE out = Create();
    AddMemory({1}, "A");
    CloseArchive(out);
    EnableFailureLatch(1);
    OpenInputArchive(Path("missing").c_str());
    ASSERT_TRUE(ArchiveFailed());
    EXPECT_EQ(AddInlineEntry("I", bytes, 2), 1) << "closed and latched";
    EXPECT_EQ(OutputEntryCount(), 2);
}

TEST_F(WriterTest, AliasCopiesTheRecordWithoutNewData)
{
    HANDLE out = Create();
    AddMemory(Pattern(10), "FIRST");
    AddMemory(Pattern(30), "DATA", 0x42);
    EXPECT_EQ(AddAliasEntry("SECOND", "data"), 1);
    EXPECT_EQ(AddAliasEntry("NONE", "missing"), 0);
    AddMemory({5}, "AFTER");
    CloseArchive(out);
    auto records = Directory("out.glue");
    ASSERT_EQ(records.size(), 4u);
    ExpectRecord(records[2], "SECOND", 0, 0x42, 10, 30, 30);
    ExpectRecord(records[3], "AFTER", 0, 0, 40, 1, 1);
    ASSERT_NE(OpenInputArchive(Path("out.glue").c_str()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(SameEntryData("DATA", "SECOND"), 1);
}

TEST_F(WriterTest, RenameChangesTheFirstRecordOfTheName)
{
    HANDLE out = Create();
    AddMemory({1}, "DATA");
    AddMemory({2}, "X");
    AddMemory({3}, "DATA");
    EXPECT_EQ(RenameOutputEntry("data", "NEW_NAME_LONGER_THAN_16"), 1);
    EXPECT_EQ(RenameOutputEntry("missing", "Y"), 0);
    CloseArchive(out);
    auto records = Directory("out.glue");
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].name(), "NEW_NAME_LONGER_");
    EXPECT_EQ(records[1].name(), "X");
    EXPECT_EQ(records[2].name(), "DATA");
}

// ---- opening and closing ------------------------------------------------

TEST_F(WriterTest, CloseWritesNoDirectoryWithoutRecords)
{
    HANDLE out = Create();
    ArmPatch();
    AddMemory(Pattern(50), "X", XFER_PATCH);
    CloseArchive(out);
    EXPECT_EQ(Read("out.glue"), Pattern(50));
    Create("empty.glue");
    CloseArchive(INVALID_HANDLE_VALUE);
    CreateOutputArchive(Path("other.glue").c_str());
    EXPECT_TRUE(Read("empty.glue").empty());
}

TEST_F(WriterTest, SecondCreateWritesTheFirstArchivesDirectoryFirst)
{
    Create("one.glue");
    AddMemory(Pattern(10), "A");
    HANDLE two = Create("two.glue");
    AddMemory(Pattern(5), "B");
    CloseArchive(two);
    auto one = Directory("one.glue");
    ASSERT_EQ(one.size(), 1u);
    ExpectRecord(one[0], "A", 0, 0, 0, 10, 10);
    auto records = Directory("two.glue");
    ASSERT_EQ(records.size(), 1u);
    ExpectRecord(records[0], "B", 0, 0, 0, 5, 5);
}

int QueryAnswer = 0;
int QueryCalls = 0;

int Answer(const char*)
{
    ++QueryCalls;
    return QueryAnswer;
}

TEST_F(WriterTest, CreateAsksOverwriteQueryAndEmptiesIt)
{
    for (int answer : {0, 1}) {
        SCOPED_TRACE(answer);
        ResetArchiveModule();
        Write("out.glue", {9, 9, 9});
        QueryAnswer = answer;
        QueryCalls = 0;
        EnableFailureLatch(1);
        OverwriteQuery = Answer;
        HANDLE out = Create();
        EXPECT_EQ(QueryCalls, 1);
        EXPECT_EQ(OverwriteQuery, nullptr);
        EXPECT_EQ(out != INVALID_HANDLE_VALUE, answer == 1);
        EXPECT_EQ(ArchiveFailed(), answer == 0);
        CloseArchive(out);
        EXPECT_EQ(Read("out.glue"), (answer ? Bytes{} : Bytes{9, 9, 9}));
    }
}

// ---- the copy table -------------------------------------------------------

TEST_F(WriterTest, CopyOfAStoredEntryFollowsTheCopyTable)
{
    constexpr std::uint8_t K = 0x5A;
    constexpr std::size_t MARK = 100;
    Bytes plain = WithMarker(20000, MARK);
    Bytes scrambled = plain;
    for (std::uint8_t& b : scrambled)
        b ^= K;
    Bytes input = WithDirectory(Concat(scrambled, plain),
                                {MakeRecord("SCR", 0, K, 0, 20000, 20000, MARK),
                                 MakeRecord("PLAIN", 0, 0, 20000, 20000, 20000, 0)});
    Bytes patched = Patched(plain, MARK, PatchBytes);
    struct {
        const char* name;
        const char* source;
        TransferFlags flags;
        std::uint8_t key;
        Bytes restored;
        std::int32_t position;
    } cases[] = {
        {"neither: copy keeps the key", "SCR", 0, K, plain, 100},
        {"unxor: plain copy", "SCR", XFER_UNXOR, 0, plain, 100},
        {"patch: hook sees plain bytes, copy keeps the key", "SCR", XFER_PATCH, K, patched, 100},
        {"unxor and patch: plain patched copy", "SCR", XFER_UNXOR | XFER_PATCH, 0, patched, 100},
        {"key byte in the call is ignored", "SCR", XFER_UNXOR | 0x11, 0, plain, 100},
        {"plain source with patch records where the marker was met", "PLAIN", XFER_PATCH, 0, patched, 100},
        {"decompress of a stored source copies raw", "PLAIN", XFER_DECOMPRESS, 0, plain, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResetArchiveModule();
        ASSERT_NE(OpenBytes(input), INVALID_HANDLE_VALUE);
        HANDLE out = Create();
        AddMemory({1, 2, 3}, "FIRST");
        if (c.flags & XFER_PATCH)
            ArmPatch();
        EnableFailureLatch(1);
        EXPECT_EQ(CopyEntry(c.source, c.flags), 1);
        EXPECT_FALSE(ArchiveFailed());
        CloseArchive(out);
        Bytes file = Read("out.glue");
        auto records = Directory("out.glue");
        ASSERT_EQ(records.size(), 2u);
        ExpectRecord(records[1], c.source, 0, c.key, 3, 20000, 20000, c.position);
        EXPECT_EQ(glue_reference::EntryData(file, records[1]), c.restored);
    }
}

TEST_F(WriterTest, CopyFailuresLatchAndMoveNothingWhenRefusedEarly)
{
    Bytes input = WithDirectory(Pattern(500), {MakeRecord("S", 0, 0, 0, 100, 100),
                                               MakeRecord("Z", 1, 0, 100, 100, 4000),
                                               MakeRecord("PAST", 0, 0, 400, 500, 500),
                                               MakeInlineRecord("N", {1})});
    struct {
        const char* name;
        const char* entry;
        TransferFlags flags;
        bool inputOpen;
        bool outputOpen;
        std::int32_t written;
    } cases[] = {
        {"missing entry", "missing", 0, true, true, 0},
        {"inline entry", "N", 0, true, true, 0},
        {"input closed", "S", 0, false, true, 0},
        {"output closed", "S", 0, true, false, 0},
        {"raw copy of a compressed source with patch", "Z", XFER_PATCH, true, true, 0},
        {"data past the end", "PAST", 0, true, true, 0},
        {"patch without a marker", "S", XFER_PATCH, true, true, 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResetArchiveModule();
        HANDLE in = OpenBytes(input);
        HANDLE out = Create();
        if (!c.inputOpen)
            CloseArchive(in);
        if (!c.outputOpen)
            CloseArchive(out);
        ArmPatch();
        EnableFailureLatch(1);
        EXPECT_EQ(CopyEntry(c.entry, c.flags), 0);
        EXPECT_TRUE(ArchiveFailed());
        EXPECT_EQ(OutputEntryCount(), 0);
        CloseArchive(out);
        if (c.outputOpen) {
            EXPECT_EQ(Read("out.glue").size(), static_cast<std::size_t>(c.written));
        }
    }
}

TEST_F(WriterTest, CopyDiscardsThePendingPatchSource)
{
    ASSERT_NE(OpenBuilt({{"S", Pattern(100), 0}}), INVALID_HANDLE_VALUE);
    HANDLE out = Create();
    ArmPatch();
    EXPECT_EQ(CopyEntry("S", 0), 1);
    EXPECT_EQ(AddMemory(WithMarker(100, 10), "P", XFER_PATCH), 0) << "no patch pending any more";
    CloseArchive(out);
}

TEST_F(WriterTest, CopyInlineEntryCopiesTheBytes)
{
    ASSERT_NE(OpenBuilt({{"A", {1}, 0}, {"N", {4, 5, 6}, 0, true}}), INVALID_HANDLE_VALUE);
    HANDLE out = Create();
    EnableFailureLatch(1);
    EXPECT_EQ(CopyInlineEntry("N"), 0) << "it would be record 0";
    EXPECT_TRUE(ArchiveFailed());
    EnableFailureLatch(1);
    AddMemory({1}, "FIRST");
    EXPECT_EQ(CopyInlineEntry("n"), 1);
    EXPECT_EQ(CopyInlineEntry("A"), 0) << "not inline";
    EXPECT_TRUE(ArchiveFailed());
    CloseArchive(out);
    auto records = Directory("out.glue");
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].raw, MakeInlineRecord("n", Bytes{4, 5, 6}));
}

// ---- hooks --------------------------------------------------------------

int BeforeCalls = 0, AfterCalls = 0;
std::int32_t BeforeBytes = -1;

void CountBefore(HANDLE, std::int32_t bytes)
{
    ++BeforeCalls;
    BeforeBytes = bytes;
}

void CountAfter(HANDLE)
{
    ++AfterCalls;
}

TEST_F(WriterTest, AddFileEntryRunsTheFileHooksOnceAndEmptiesThem)
{
    Write("src", Pattern(1234));
    struct {
        const char* name;
        const char* path;
        bool latched;
        TransferFlags flags;
        int result, before, after;
    } cases[] = {
        {"success", "src", false, 0, 1, 1, 1},
        {"failed transfer", "src", false, XFER_PATCH, 0, 1, 0},
        {"missing file", "missing", false, 0, 0, 0, 0},
        {"latched", "src", true, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResetArchiveModule();
        HANDLE out = Create();
        EnableFailureLatch(1);
        if (c.latched)
            CopyEntry("missing", 0);
        BeforeCalls = AfterCalls = 0;
        BeforeFileHook = CountBefore;
        AfterFileHook = CountAfter;
        EXPECT_EQ(AddFileEntry(Path(c.path).c_str(), "F", c.flags), c.result);
        EXPECT_EQ(BeforeCalls, c.before);
        EXPECT_EQ(AfterCalls, c.after);
        if (c.before != 0) {
            EXPECT_EQ(BeforeBytes, 1234);
        }
        EXPECT_EQ(BeforeFileHook, nullptr);
        EXPECT_EQ(AfterFileHook, nullptr);
        EXPECT_EQ(ArchiveFailed(), c.result == 0);
        CloseArchive(out);
    }
}

// ---- the latch ----------------------------------------------------------

TEST_F(WriterTest, LatchedWriterOperationsDoNothing)
{
    ASSERT_NE(OpenBuilt({{"A", {1}, 0}, {"N", {4}, 0, true}}), INVALID_HANDLE_VALUE);
    Write("src", {1});
    HANDLE out = Create();
    AddMemory({1, 2}, "FIRST");
    EnableFailureLatch(1);
    CopyEntry("missing", 0);
    ASSERT_TRUE(ArchiveFailed());
    std::uint8_t one = 1;
    EXPECT_EQ(CopyEntry("A", 0), 0);
    EXPECT_EQ(AddFileEntry(Path("src").c_str(), "F", 0), 0);
    EXPECT_EQ(AddMemoryEntry(&one, 1, "M", 0), 0);
    EXPECT_EQ(CopyInlineEntry("N"), 0);
    EXPECT_EQ(AddAliasEntry("AL", "FIRST"), 0);
    EXPECT_EQ(RenameOutputEntry("FIRST", "R"), 0);
    EXPECT_EQ(OutputEntryCount(), 1);
    EXPECT_EQ(AddInlineEntry("I", &one, 1), 1) << "not latching";
    // A latched create still closes the open archive, writing its directory.
    OverwriteQuery = Answer;
    EXPECT_EQ(Create("next.glue"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(OverwriteQuery, nullptr);
    EXPECT_FALSE(Exists("next.glue"));
    EXPECT_EQ(OutputEntryCount(), 0);
    auto records = Directory("out.glue");
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].name(), "FIRST");
    EXPECT_EQ(records[1].name(), "I");
    EXPECT_EQ(Read("out.glue").size(), 2u + 80);
    CloseArchive(out);  // already closed: nothing
    EXPECT_TRUE(ArchiveFailed());
}

TEST_F(WriterTest, AddMemoryEntryLatchesOnlyForItsTransfer)
{
    std::uint8_t one = 1;
    struct {
        const char* name;
        bool open;
        std::int32_t size;
        int result;
        bool latches;
    } cases[] = {
        {"no output archive", false, 1, 0, false},
        {"negative size", true, -1, 0, true},
        {"success", true, 1, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResetArchiveModule();
        if (c.open)
            Create();
        EnableFailureLatch(1);
        EXPECT_EQ(AddMemoryEntry(&one, c.size, "M", 0), c.result);
        EXPECT_EQ(ArchiveFailed() != 0, c.latches);
    }
}

// ---- short writes -------------------------------------------------------

std::size_t WriteBudget = 0;

ssize_t BudgetWrite(int fd, const void* buffer, size_t count)
{
    if (WriteBudget == 0) {
        errno = ENOSPC;
        return -1;
    }
    std::size_t n = count < WriteBudget ? count : WriteBudget;
    WriteBudget -= n;
    return ::write(fd, buffer, n);
}

TEST_F(WriterTest, ShortDataWriteFailsTheEntryAndAdvancesByTheBytesWritten)
{
    EnableFailureLatch(1);
    HANDLE out = Create();
    WriteBudget = 100;
    HostSys.write = BudgetWrite;
    EXPECT_EQ(AddMemory(Pattern(20000), "A"), 0);
    EXPECT_TRUE(ArchiveFailed());
    ResetHostSyscalls();
    EnableFailureLatch(1);
    EXPECT_EQ(AddFile(Pattern(10), "B"), 1);
    CloseArchive(out);
    auto records = Directory("out.glue");
    ASSERT_EQ(records.size(), 1u);
    ExpectRecord(records[0], "B", 0, 0, 100, 10, 10);
}

TEST_F(WriterTest, ShortDirectoryWriteSetsTheArmedLatch)
{
    for (int armed : {0, 1}) {
        SCOPED_TRACE(armed);
        ResetArchiveModule();
        EnableFailureLatch(armed);
        HANDLE out = Create();
        AddMemory(Pattern(30), "A");
        AddMemory(Pattern(30), "B");
        WriteBudget = 50;  // 80 directory bytes do not fit
        HostSys.write = BudgetWrite;
        CloseArchive(out);
        ResetHostSyscalls();
        EXPECT_EQ(ArchiveFailed(), armed);
        EXPECT_EQ(Read("out.glue").size(), 110u);
        EXPECT_FALSE(glue_reference::ReadDirectory(Read("out.glue")).has_value());
    }
}

// ---- compression ----------------------------------------------------------

// Whether this build's framed block stream compresses at all.
bool CompressionAvailable(ArchiveTest& t)
{
    t.Write("probe", Pattern(100));
    HANDLE in = CreateFileA(t.Path("probe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE out = CreateFileA(t.Path("probe.rc").c_str(), GENERIC_WRITE, 0, nullptr,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::int32_t size = 100;
    int result = TransferData(in, out, size, XFER_COMPRESS);
    CloseHandle(in);
    CloseHandle(out);
    return result == 1;
}

TEST_F(WriterTest, ACompressedEntryThatDoesNotReachTheDiskFails)
{
    // The stream itself does not see a short write; the transfer compares
    // what it handed over with what arrived.
    if (!CompressionAvailable(*this))
        GTEST_SKIP() << "this build's framed block stream does not compress yet";
    EnableFailureLatch(1);
    HANDLE out = Create();
    FillDiskAfter(5000);
    EXPECT_EQ(AddFile(Pattern(100000), "C", XFER_COMPRESS), 0);
    ResetHostSyscalls();
    EXPECT_TRUE(ArchiveFailed());
    EXPECT_EQ(OutputEntryCount(), 0);
    CloseArchive(out);
}

TEST_F(WriterTest, CompressedRowsOfTheCopyTable)
{
    if (!CompressionAvailable(*this))
        GTEST_SKIP() << "this build's framed block stream does not compress yet";
    constexpr std::uint8_t K = 0x5A;
    Bytes plain = WithMarker(30000, 700);
    EnableFailureLatch(1);
    // A stored XORed entry, a compressed one, compressed from an XORed file.
    HANDLE made = Create("in.glue");
    ASSERT_EQ(AddFile(plain, "XOR", K), 1);
    ASSERT_EQ(AddFile(plain, "Z", XFER_COMPRESS | K), 1);
    CloseArchive(made);
    auto source = Directory("in.glue");
    ASSERT_EQ(source.size(), 2u);
    ExpectRecord(source[1], "Z", 1, 0, 30000, source[1].storedSize(), 30000);
    ASSERT_NE(OpenInputArchive(Path("in.glue").c_str()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(ExtractEntry("Z", Path("z").c_str()), 1);
    EXPECT_EQ(Read("z"), plain);
    Bytes small(1000 + 16, 0xEE);
    EXPECT_EQ(ExtractEntryToMemory("Z", small.data(), 1000), 1);
    EXPECT_TRUE(std::equal(small.begin(), small.begin() + 1000, plain.begin()));
    EXPECT_TRUE(std::all_of(small.begin() + 1000, small.end(), [](auto b) { return b == 0xEE; }));

    Bytes patched = Patched(plain, 700, PatchBytes);
    struct {
        const char* name;
        const char* source;
        TransferFlags flags;
        std::uint8_t kind, key;
        Bytes restored;
        std::int32_t position;
    } cases[] = {
        {"stored XOR + compress", "XOR", XFER_COMPRESS, 1, 0, plain, -1},
        {"stored XOR + compress + patch", "XOR", XFER_COMPRESS | XFER_PATCH, 1, 0, patched, 700},
        {"compressed + decompress", "Z", XFER_DECOMPRESS, 0, 0, plain, -1},
        {"compressed + decompress + unxor + patch", "Z", XFER_DECOMPRESS | XFER_UNXOR | XFER_PATCH,
         0, 0, patched, 700},
        {"compressed + decompress + patch", "Z", XFER_DECOMPRESS | XFER_PATCH, 0, 0, patched, 700},
        {"compressed raw", "Z", 0, 1, 0, plain, -1},
        {"compressed + compress copies raw", "Z", XFER_COMPRESS, 1, 0, plain, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HANDLE out = Create();
        if (c.flags & XFER_PATCH)
            ArmPatch();
        EnableFailureLatch(1);
        EXPECT_EQ(CopyEntry(c.source, c.flags), 1);
        CloseArchive(out);
        auto records = Directory("out.glue");
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].kind(), c.kind);
        EXPECT_EQ(records[0].key(), c.key);
        EXPECT_EQ(records[0].originalSize(), 30000);
        EXPECT_EQ(records[0].patchPosition(), c.position);
        // Read the copy back through the system's reader.
        HANDLE in = OpenInputArchive(Path("out.glue").c_str());
        ASSERT_NE(in, INVALID_HANDLE_VALUE);
        EXPECT_EQ(ExtractEntry(c.source, Path("copy").c_str()), 1);
        EXPECT_EQ(Read("copy"), c.restored);
        ASSERT_NE(OpenInputArchive(Path("in.glue").c_str()), INVALID_HANDLE_VALUE);
    }
}

}  // namespace
