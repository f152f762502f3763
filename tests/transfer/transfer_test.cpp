#include "archive/transfer.h"
#include "hostwin/syscalls.h"
#include "tests/support/disk_full.h"
#include "platform/win32.h"
#include "tests/support/scratch_folder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Counting(std::size_t n)
{
    Bytes data(n);
    for (std::size_t i = 0; i < n; ++i)
        data[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    return data;
}

// A data hook that records what it saw and rewrites nothing, or answers 0.
std::vector<Bytes> Seen;
int HookAnswer = 1;
int RecordingHook(std::uint8_t* chunk, std::int32_t count)
{
    Seen.emplace_back(chunk, chunk + count);
    return HookAnswer;
}

struct Copy {
    int result;
    std::int32_t size;
    Bytes out;
};

Copy MemoryCopy(const Bytes& source, TransferFlags flags, DataHookFn hook = nullptr)
{
    Seen.clear();
    DataHook = hook;
    Bytes out(source.size() + 16, 0xEE);
    std::int32_t size = static_cast<std::int32_t>(source.size());
    int result = TransferData(const_cast<std::uint8_t*>(source.data()), out.data(), size,
                              flags | XFER_FROM_MEMORY | XFER_TO_MEMORY);
    // Nothing is written past the bytes moved.
    for (std::size_t i = source.size(); i < out.size(); ++i)
        EXPECT_EQ(out[i], 0xEE);
    out.resize(source.size());
    return Copy{result, size, out};
}

Bytes Xored(Bytes data, std::uint8_t key)
{
    for (auto& b : data)
        b ^= key;
    return data;
}

class FileFixture : public ::testing::Test {
protected:
    void TearDown() override { ResetHostSyscalls(); }

    HANDLE Write(const std::string& name, const Bytes& data)
    {
        WriteFileText(dir / name, std::string(data.begin(), data.end()));
        return Open(name);
    }
    HANDLE Open(const std::string& name)
    {
        return CreateFileA((dir / name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    HANDLE Create(const std::string& name)
    {
        return CreateFileA((dir / name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    Bytes Read(const std::string& name)
    {
        std::string text = ReadFileText(dir / name);
        return Bytes(text.begin(), text.end());
    }
    ScratchDir dir;
};

}  // namespace

TEST(Transfer, XorRowsPutTheKeyBeforeOrAfterTheHook)
{
    const std::uint8_t k = 0x5A;
    Bytes source = Counting(1000);
    struct Row {
        const char* name;
        TransferFlags flags;
        bool hookSeesXored;
        bool destinationXored;  // relative to what the hook saw
    };
    const Row rows[] = {
        {"key alone", 0, false, true},
        {"unxor", XFER_UNXOR, true, false},
        {"xor around patch", XFER_XOR_AROUND_PATCH, true, true},
        {"both", XFER_UNXOR | XFER_XOR_AROUND_PATCH, true, false},
    };
    for (const Row& row : rows) {
        Copy copy = MemoryCopy(source, k | row.flags, RecordingHook);
        ASSERT_EQ(copy.result, 1) << row.name;
        ASSERT_EQ(Seen.size(), 1u) << row.name;
        Bytes seen = row.hookSeesXored ? Xored(source, k) : source;
        EXPECT_EQ(Seen[0], seen) << row.name;
        EXPECT_EQ(copy.out, row.destinationXored ? Xored(seen, k) : seen) << row.name;
        // Without a hook the key goes on once, or twice around the patch.
        bool twice = row.flags == XFER_XOR_AROUND_PATCH;
        EXPECT_EQ(MemoryCopy(source, k | row.flags).out, twice ? source : Xored(source, k)) << row.name;
    }
    // With key 0 the bytes pass unchanged, and a keyed copy of a keyed copy
    // is the original.
    EXPECT_EQ(MemoryCopy(source, XFER_UNXOR).out, source);
    EXPECT_EQ(MemoryCopy(MemoryCopy(source, k).out, k).out, source);
}

TEST(Transfer, ChunksAre16384BytesAndTheHookGoesOnAfterAnswering0)
{
    struct Case {
        std::size_t size;
        std::vector<std::size_t> chunks;
    };
    const Case cases[] = {{0, {}}, {1, {1}}, {16384, {16384}}, {16385, {16384, 1}}, {40000, {16384, 16384, 7232}}};
    for (const Case& c : cases) {
        HookAnswer = 0;
        Copy copy = MemoryCopy(Counting(c.size), 0, RecordingHook);
        HookAnswer = 1;
        EXPECT_EQ(copy.result, 1);
        EXPECT_EQ(copy.size, static_cast<std::int32_t>(c.size));
        EXPECT_EQ(copy.out, Counting(c.size));
        std::vector<std::size_t> chunks;
        for (const Bytes& s : Seen)
            chunks.push_back(s.size());
        EXPECT_EQ(chunks, c.chunks) << "size " << c.size;
    }
    EXPECT_EQ(DataHook, nullptr);
}

TEST(Transfer, PatchWithoutACompletedPatchFails)
{
    // No marker, or no data at all: every byte is still written.
    Copy empty = MemoryCopy({}, XFER_PATCH);
    EXPECT_EQ(empty.result, 0);
    Copy plain = MemoryCopy(Counting(500), XFER_PATCH);
    EXPECT_EQ(plain.result, 0);
    EXPECT_EQ(plain.size, 500);
    EXPECT_EQ(plain.out, Counting(500));
    EXPECT_FALSE(PatchCompleted);
    EXPECT_EQ(MemoryCopy({}, 0).result, 1);
}

TEST_F(FileFixture, FileCopiesCountShortReadsAndWrites)
{
    Bytes data = Counting(40000);
    HANDLE in = Write("in", data);
    HANDLE out = Create("out");
    std::int32_t size = 40000;
    EXPECT_EQ(TransferData(in, out, size, 0x11), 1);
    EXPECT_EQ(size, 40000);
    CloseHandle(out);
    EXPECT_EQ(Read("out"), Xored(data, 0x11));

    // Size -1 copies whole chunks until a read comes up short, then fails.
    SetFilePointer(in, 0, nullptr, FILE_BEGIN);
    out = Create("all");
    size = -1;
    EXPECT_EQ(TransferData(in, out, size, 0), 0);
    EXPECT_EQ(size, 32768);
    CloseHandle(out);

    // A disk that fills up after 20000 bytes fails the copy; the bytes it
    // took are counted.
    SetFilePointer(in, 0, nullptr, FILE_BEGIN);
    out = Create("short");
    FillDiskAfter(20000);
    size = 40000;
    EXPECT_EQ(TransferData(in, out, size, 0), 0);
    EXPECT_EQ(size, 20000);
    ResetHostSyscalls();
    CloseHandle(out);
    CloseHandle(in);
}

TEST(Transfer, CompressionWinsNothingOverDecompression)
{
    // Both flags decompress; the placeholder stream (or a bad stream) fails
    // cleanly with nothing written.
    Bytes junk = Counting(20);
    std::int32_t size = 20;
    Bytes out(64, 0xEE);
    EXPECT_EQ(TransferData(nullptr, out.data(), size, XFER_COMPRESS | XFER_DECOMPRESS | XFER_TO_MEMORY), 0);
    EXPECT_EQ(size, 0);
}
