// The framed block stream: known streams, agreement with the plain
// byte-by-byte stream (bytes and every hook call), sizes at the block edges,
// malformed blocks, memory destinations and the transfer engine's rows.
#include "archive/transfer.h"
#include "codec/lzhuf.h"
#include "codec/stream.h"
#include "hostwin/syscalls.h"
#include "platform/win32.h"
#include "scrambler/patch.h"
#include "tests/codec/codec_helpers.h"
#include "tests/codec/reference_lzhuf.h"
#include "tests/codec/reference_stream.h"
#include "tests/codec/sample_inputs.h"
#include "tests/support/scratch_folder.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <random>

using namespace codectest;
using refstream::Event;

namespace {

// The hooks of a production run record the same events as the plain stream.
std::vector<Event>* Events = nullptr;
int Yields = 0;
int AbortAtYield = 0;
int HookAnswer = 1;
std::vector<std::int32_t>* ReadSizes = nullptr;
std::uint32_t WriteCap = 0xFFFFFFFF;

void RecordYield()
{
    Events->push_back({'Y', 0});
    if (++Yields == AbortAtYield) {
        Events->push_back({'A', 0});
        AbortStream();
    }
}
int YieldFromProgress = 0;
int ProgressCalls = 0;
void RecordProgress(std::int32_t n)
{
    Events->push_back({'P', n});
    if (++ProgressCalls == YieldFromProgress)
        YieldHook = RecordYield;
}
void RecordBlockRead(std::int32_t n)
{
    Events->push_back({'R', n});
}
int RecordData(std::uint8_t*, std::int32_t n)
{
    Events->push_back({'D', n});
    return HookAnswer;
}
// Records the size of every ReadFile request; the host layer may go on
// reading the rest of a request that a read filled only in part.
size_t PendingRest = 0;
ssize_t RecordingRead(int fd, void* buffer, size_t count)
{
    if (ReadSizes != nullptr && count != PendingRest)
        ReadSizes->push_back(static_cast<std::int32_t>(count));
    ssize_t got = read(fd, buffer, count);
    PendingRest = got > 0 && static_cast<size_t>(got) < count ? count - static_cast<size_t>(got) : 0;
    return got;
}
// Lets one WriteFile take at most WriteCap bytes: the host layer goes on
// writing the rest of a request, and that write finds the disk full.
size_t PendingWriteRest = 0;
ssize_t CappedWrite(int fd, const void* buffer, size_t count)
{
    if (PendingWriteRest != 0 && count == PendingWriteRest) {
        PendingWriteRest = 0;
        return 0;
    }
    ssize_t put = write(fd, buffer, count < WriteCap ? count : WriteCap);
    PendingWriteRest = put > 0 && static_cast<size_t>(put) < count ? count - static_cast<size_t>(put) : 0;
    return put;
}

// An independent framer, written from the block layout alone: the four size
// bytes as the 10-byte size block, then the code bytes in blocks of 10240
// (10234 payload bytes) and a shorter last block, header-only when nothing
// is left.
Bytes Frame(const Bytes& codeStream)
{
    Bytes out;
    auto block = [&](const std::uint8_t* payload, std::size_t n) {
        std::uint32_t sum = 0x68A5;
        for (std::size_t i = 0; i < n; ++i)
            sum += payload[i];
        const std::size_t length = n + 6;
        const std::uint8_t header[6] = {0x52,
                                        0x43,
                                        static_cast<std::uint8_t>(sum),
                                        static_cast<std::uint8_t>(sum >> 8),
                                        static_cast<std::uint8_t>(length),
                                        static_cast<std::uint8_t>(length >> 8)};
        out.insert(out.end(), header, header + 6);
        out.insert(out.end(), payload, payload + n);
    };
    block(codeStream.data(), 4);
    std::size_t at = 4;
    while (codeStream.size() - at >= 10234) {
        block(codeStream.data() + at, 10234);
        at += 10234;
    }
    block(codeStream.data() + at, codeStream.size() - at);
    return out;
}

class StreamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetLzhufModule();
        reference::ResetAll();
    }
    void TearDown() override
    {
        ResetHostSyscalls();
        ProgressHook = nullptr;
        YieldHook = nullptr;
        BlockReadHook = nullptr;
        DataHook = nullptr;
    }

    HANDLE OpenSource(const Bytes& data, const std::string& name = "in")
    {
        WriteFileText(dir / name, std::string(data.begin(), data.end()));
        return CreateFileA((dir / name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    HANDLE CreateTarget(const std::string& name = "out")
    {
        return CreateFileA((dir / name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    Bytes ReadBack(const std::string& name = "out")
    {
        std::string text = ReadFileText(dir / name);
        return Bytes(text.begin(), text.end());
    }

    // The production stream under the same setup as the plain one.
    refstream::Outcome Run(const refstream::Setup& setup, bool compress, std::int32_t size = 0)
    {
        refstream::Outcome outcome;
        Events = &outcome.events;
        ReadSizes = &outcome.readSizes;
        Yields = 0;
        AbortAtYield = setup.abortAtYield;
        HookAnswer = setup.hookAnswer;
        WriteCap = setup.writeCap;
        HANDLE in = OpenSource(setup.source);
        HANDLE out = CreateTarget();
        HostSys.read = RecordingRead;
        PendingRest = 0;
        PendingWriteRest = 0;
        HostSys.write = CappedWrite;
        YieldFromProgress = setup.yieldFromProgress;
        ProgressCalls = 0;
        YieldHook = setup.yieldFromProgress == 0 ? RecordYield : nullptr;
        ProgressHook = RecordProgress;
        BlockReadHook = RecordBlockRead;
        DataHook = RecordData;
        DataHookOnInput = setup.hookOnInput;
        DataHookOnOutput = setup.hookOnOutput;
        StreamXorKey = setup.xorKey;
        outcome.result = compress ? CompressStream(in, out, size) : DecompressStream(in, out);
        outcome.bytesWritten = StreamBytesWritten;
        ResetHostSyscalls();
        YieldHook = nullptr;
        ProgressHook = nullptr;
        BlockReadHook = nullptr;
        DataHook = nullptr;
        Events = nullptr;
        ReadSizes = nullptr;
        CloseHandle(in);
        CloseHandle(out);
        outcome.out = ReadBack();
        return outcome;
    }

    // Runs the plain and the production stream and expects the same
    // outcome in every detail; returns the production one.
    refstream::Outcome ExpectSameAsPlain(const refstream::Setup& setup, bool compress, std::int32_t size,
                                         const std::string& what)
    {
        ResetLzhufModule();
        reference::ResetAll();
        refstream::Outcome expected =
            compress ? refstream::Compress(setup, size) : refstream::Decompress(setup);
        refstream::Outcome actual = Run(setup, compress, size);
        EXPECT_EQ(actual.result, expected.result) << what;
        EXPECT_EQ(actual.bytesWritten, expected.bytesWritten) << what;
        EXPECT_TRUE(actual.out == expected.out)
            << what << ": " << actual.out.size() << " bytes written, expected " << expected.out.size();
        EXPECT_EQ(actual.readSizes, expected.readSizes) << what;
        EXPECT_EQ(refstream::Describe(actual.events), refstream::Describe(expected.events)) << what;
        return actual;
    }

    Bytes Compress(const Bytes& input)
    {
        refstream::Setup setup;
        setup.source = input;
        return Run(setup, true, static_cast<std::int32_t>(input.size())).out;
    }
    refstream::Outcome Decompress(const Bytes& stream)
    {
        refstream::Setup setup;
        setup.source = stream;
        return Run(setup, false);
    }

    ScratchDir dir;
};

TEST_F(StreamTest, KnownStreams)
{
    struct Case {
        const char* name;
        Bytes input;
        const char* stream;
    };
    const Case cases[] = {
        {"empty source: size block and header-only block",
         {},
         "52 43 A5 68 0A 00 00 00 00 00 52 43 A5 68 06 00"},
        {"abc", Text("abc"), "52 43 A8 68 0A 00 03 00 00 00 52 43 33 6C 0A 00 F6 FB BD E0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        refstream::Setup setup;
        setup.source = c.input;
        refstream::Outcome compressed = Run(setup, true, static_cast<std::int32_t>(c.input.size()));
        EXPECT_EQ(compressed.result, 1);
        EXPECT_EQ(ToHex(compressed.out), ToHex(FromHex(c.stream)));
        EXPECT_EQ(compressed.bytesWritten, compressed.out.size());
        refstream::Outcome decompressed = Decompress(compressed.out);
        EXPECT_EQ(decompressed.result, 1);
        EXPECT_TRUE(decompressed.out == c.input);
    }
    // The empty source is never read.
    refstream::Setup empty;
    empty.source = Text("not read");
    EXPECT_TRUE(Run(empty, true, 0).readSizes.empty());
}

TEST_F(StreamTest, AgreesWithThePlainStreamInBytesAndHookCalls)
{
    struct Case {
        const char* name;
        Bytes input;
        std::uint8_t key;
        bool hooks;
        int hookAnswer;
        int abortAtYield;
        std::uint32_t writeCap;
    };
    const Bytes text = samples::EnglishText(60000, 5);
    const Case cases[] = {
        {"one byte", Text("x"), 0, false, 1, 0, 0xFFFFFFFF},
        {"seven bytes", Text("abcdefg"), 0, true, 1, 0, 0xFFFFFFFF},
        {"text, several blocks", text, 0, false, 1, 0, 0xFFFFFFFF},
        {"text with data hooks", text, 0, true, 1, 0, 0xFFFFFFFF},
        {"data hook done at once", text, 0, true, 0, 0, 0xFFFFFFFF},
        {"xor key", text, 0x5A, true, 1, 0, 0xFFFFFFFF},
        {"abort at the first yield", text, 0, true, 1, 1, 0xFFFFFFFF},
        {"abort at the third yield", text, 0, false, 1, 3, 0xFFFFFFFF},
        {"abort at the 40th yield", text, 0, false, 1, 40, 0xFFFFFFFF},
        {"short writes", text, 0, false, 1, 0, 4000},
        {"random bytes", samples::RandomBytes(50000, 8), 0, true, 1, 0, 0xFFFFFFFF},
        {"machine code", samples::MachineCode(70000, 9), 0, false, 1, 20, 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        refstream::Setup setup;
        setup.source = c.input;
        setup.xorKey = c.key;
        setup.hookOnInput = setup.hookOnOutput = c.hooks;
        setup.hookAnswer = c.hookAnswer;
        setup.abortAtYield = c.abortAtYield;
        setup.writeCap = c.writeCap;
        refstream::Outcome compressed = ExpectSameAsPlain(
            setup, true, static_cast<std::int32_t>(c.input.size()), std::string(c.name) + " (compress)");
        // Decompress what an undisturbed stream gives for the plain source.
        refstream::Setup plain;
        plain.source = c.input;
        setup.source = Run(plain, true, static_cast<std::int32_t>(c.input.size())).out;
        setup.xorKey = 0;
        ExpectSameAsPlain(setup, false, 0, std::string(c.name) + " (decompress)");
    }
}

// Without a YieldHook the stream's windows reach as far as its buffers;
// a hook that sets one later must still see every yield where the plain
// stream has it.
TEST_F(StreamTest, AYieldHookSetLaterSeesTheYieldsOfThePlainStream)
{
    struct Case {
        const char* name;
        Bytes input;
        int yieldFromProgress;
        int abortAtYield;
    };
    const Bytes text = samples::EnglishText(80000, 11);
    const Case cases[] = {
        {"text, no yield hook", text, 1000000, 0},
        {"text, yield hook from the first block", text, 1, 0},
        {"text, yield hook from the third block", text, 3, 0},
        {"text, abort at the fifth yield seen", text, 2, 5},
        {"random bytes, yield hook from the second block", samples::RandomBytes(40000, 12), 2, 0},
        {"machine code, abort at the first yield seen", samples::MachineCode(60000, 13), 1, 1},
    };
    for (const Case& c : cases) {
        refstream::Setup setup;
        setup.source = c.input;
        setup.yieldFromProgress = c.yieldFromProgress;
        setup.abortAtYield = c.abortAtYield;
        ExpectSameAsPlain(setup, true, static_cast<std::int32_t>(c.input.size()),
                          std::string(c.name) + " (compress)");
        refstream::Setup plain;
        plain.source = c.input;
        setup.source = Run(plain, true, static_cast<std::int32_t>(c.input.size())).out;
        ExpectSameAsPlain(setup, false, 0, std::string(c.name) + " (decompress)");
    }
}

TEST_F(StreamTest, SourceShorterOrLongerThanDeclared)
{
    // Compressing codes what the source gives, up to the declared size, and
    // succeeds either way; a stream that declares more than it codes runs
    // out of code bits when decompressed, and fails there (a few bytes more
    // may still come out of the zero bits the decoder already holds).
    const Bytes text = samples::EnglishText(30000, 6);
    for (std::int32_t declared : {1, 100, 10240, 10241, 29999, 30000, 30001, 50000}) {
        refstream::Setup setup;
        setup.source = text;
        refstream::Outcome compressed =
            ExpectSameAsPlain(setup, true, declared, "declared " + std::to_string(declared));
        EXPECT_EQ(compressed.result, 1);
        setup.source = compressed.out;
        refstream::Outcome decompressed =
            ExpectSameAsPlain(setup, false, 0, "decompress, declared " + std::to_string(declared));
        const bool complete = static_cast<std::size_t>(declared) <= text.size();
        if (complete) {
            EXPECT_EQ(decompressed.result, 1) << declared;
        } else if (static_cast<std::size_t>(declared) > text.size() + 100) {
            EXPECT_EQ(decompressed.result, 0) << declared;
        }
        const std::size_t coded = complete ? static_cast<std::size_t>(declared) : text.size();
        ASSERT_GE(decompressed.out.size(), coded);
        EXPECT_LE(decompressed.out.size(), static_cast<std::size_t>(declared));
        EXPECT_TRUE(
            Bytes(decompressed.out.begin(), decompressed.out.begin() + static_cast<std::ptrdiff_t>(coded)) ==
            Bytes(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(coded)));
    }
}

// Inputs whose code streams end at chosen places: random bytes of a length
// at which the code bytes reach exactly a target count (trying seeds until
// one gets there).
Bytes InputWithCodeBytes(std::size_t target)
{
    for (std::uint32_t seed = 77; seed < 200; ++seed) {
        auto codeBytes = [seed](std::size_t n) {
            return Encode(samples::RandomBytes(n, seed)).size() - 4;
        };
        std::size_t low = 1, high = target * 2 + 16;
        while (low < high) {
            std::size_t mid = (low + high) / 2;
            if (codeBytes(mid) < target)
                low = mid + 1;
            else
                high = mid;
        }
        for (std::size_t n = low > 8 ? low - 8 : 1; n < low + 16; ++n) {
            if (codeBytes(n) == target)
                return samples::RandomBytes(n, seed);
        }
    }
    return {};
}

TEST_F(StreamTest, CodeStreamsEndingAtEveryBlockEdgeDecodeCompletely)
{
    std::vector<std::size_t> targets = {1, 2, 3, 4, 5, 6, 10233, 10234, 10235, 20467, 20468, 20469};
    for (std::size_t extra = 1; extra <= 6; ++extra)
        targets.push_back(10234 + extra);
    const Bytes trailing = samples::RandomBytes(12000, 5);
    for (std::size_t target : targets) {
        ResetLzhufModule();
        const Bytes input = InputWithCodeBytes(target);
        ASSERT_FALSE(input.empty()) << target;
        const Bytes code = Encode(input);
        ASSERT_EQ(code.size() - 4, target);
        const Bytes stream = Compress(input);
        // The stream's framing is the independent framer's.
        EXPECT_EQ(ToHex(stream), ToHex(Frame(code))) << target << " code bytes";
        // Blocks: 10 + 10240 * full + 6 + rest.
        EXPECT_EQ(stream.size(), 10 + 10240 * (target / 10234) + 6 + target % 10234) << target;
        for (const Bytes& file : {stream, [&] {
                                      Bytes b = stream;
                                      b.insert(b.end(), trailing.begin(), trailing.end());
                                      return b;
                                  }()}) {
            refstream::Outcome out = Decompress(file);
            EXPECT_EQ(out.result, 1) << target << " code bytes, file of " << file.size();
            EXPECT_TRUE(out.out == input) << target << " code bytes, file of " << file.size();
        }
    }
}

TEST_F(StreamTest, SmallEntriesDecodeCompletelyWhateverFollows)
{
    std::mt19937 rng(3);
    const Bytes followers[] = {
        {},
        Bytes(5, 0),
        samples::RandomBytes(20000, 4),
        FromHex("52 43 A5 68 06 00 52 43 A5 68 06 00"),
        Bytes(10240, 0xFF),
    };
    for (std::size_t size = 1; size <= 7; ++size) {
        Bytes input(size);
        for (auto& b : input)
            b = static_cast<std::uint8_t>(rng());
        Bytes stream = Compress(input);
        for (const Bytes& follower : followers) {
            Bytes file = stream;
            file.insert(file.end(), follower.begin(), follower.end());
            refstream::Outcome out = Decompress(file);
            EXPECT_EQ(out.result, 1) << size << " bytes, " << follower.size() << " following";
            EXPECT_TRUE(out.out == input) << size << " bytes, " << follower.size() << " following";
            // The plain stream does the same, hook for hook.
            refstream::Setup setup;
            setup.source = file;
            ExpectSameAsPlain(setup, false, 0,
                              std::to_string(size) + " bytes + " + std::to_string(follower.size()));
        }
    }
}

TEST_F(StreamTest, ReadsTenBytesFirstThenWholeBlocks)
{
    const Bytes input = samples::EnglishText(40000, 2);
    refstream::Setup setup;
    setup.source = Compress(input);
    refstream::Outcome out = Run(setup, false);
    ASSERT_GE(out.readSizes.size(), 2u);
    EXPECT_EQ(out.readSizes[0], 10);
    for (std::size_t i = 1; i < out.readSizes.size(); ++i)
        EXPECT_EQ(out.readSizes[i], 10240) << i;
    refstream::Setup source;
    source.source = input;
    for (std::int32_t n : Run(source, true, 40000).readSizes)
        EXPECT_EQ(n, 10240);
}

TEST_F(StreamTest, MalformedStreamsFail)
{
    const Bytes input = samples::EnglishText(40000, 12);
    const Bytes good = Compress(input);
    auto with = [&](std::size_t at, std::uint8_t value) {
        Bytes b = good;
        b[at] = value;
        return b;
    };
    auto cut = [&](std::size_t n) {
        return Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
    };
    struct Case {
        const char* name;
        Bytes file;
        bool nothingDecoded;
    };
    const Case cases[] = {
        {"empty file", {}, true},
        {"size block cut short", cut(5), true},
        {"size block alone", cut(10), false},
        {"bad magic in the size block", with(0, 0x53), true},
        {"bad checksum in the size block", with(2, good[2] ^ 1), true},
        {"size block length below 6", with(4, 5), true},
        {"size block length beyond the read", with(4, 11), true},
        {"bad magic in a data block", with(10 + 10240, 0), false},
        {"payload byte changed in the first data block", with(500, good[500] ^ 0x10), false},
        {"payload byte changed in the second data block", with(10 + 10240 + 100, good[10 + 10240 + 100] ^ 1),
         false},
        {"data block length beyond the read", with(10 + 4, 0x01), false},
        {"stream cut in a data block", cut(10 + 10240 + 5000), false},
        {"stream cut after a data block", cut(10 + 10240), false},
        {"last block cut", cut(good.size() - 1), false},
    };
    for (const Case& c : cases) {
        refstream::Setup setup;
        setup.source = c.file;
        refstream::Outcome out = ExpectSameAsPlain(setup, false, 0, c.name);
        EXPECT_EQ(out.result, 0) << c.name;
        // What was written is the start of the original, but for the item
        // that was being decoded when the check failed, which may have been
        // decoded from zero bits.
        ASSERT_LE(out.out.size(), input.size() + 60) << c.name;
        const std::size_t sure = out.out.size() > 60 ? out.out.size() - 60 : 0;
        EXPECT_TRUE(Bytes(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(sure)) ==
                    Bytes(out.out.begin(), out.out.begin() + static_cast<std::ptrdiff_t>(sure)))
            << c.name;
        if (c.nothingDecoded) {
            EXPECT_TRUE(out.out.empty()) << c.name;
        }
    }
}

TEST_F(StreamTest, DataHookSeesPlainDataInBothDirectionsAndStopsAtZero)
{
    const Bytes input = samples::EnglishText(25000, 3);
    static std::vector<Bytes> seen;
    static int answers = 0;
    auto hook = [](std::uint8_t* chunk, std::int32_t n) -> int {
        seen.emplace_back(chunk, chunk + n);
        return --answers > 0;
    };
    for (int keepGoing : {1, 3}) {
        seen.clear();
        answers = keepGoing == 1 ? 1 : 100;
        HANDLE in = OpenSource(input);
        HANDLE out = CreateTarget();
        DataHook = hook;
        DataHookOnInput = true;
        DataHookOnOutput = true;  // compressing turns it off
        ASSERT_EQ(CompressStream(in, out, 25000), 1);
        CloseHandle(in);
        CloseHandle(out);
        EXPECT_FALSE(DataHookOnInput);
        EXPECT_FALSE(DataHookOnOutput);
        if (keepGoing == 1) {
            ASSERT_EQ(seen.size(), 1u);  // it answered 0 at once
        } else {
            ASSERT_EQ(seen.size(), 3u);  // 10240, 10240 and 4520 bytes; then the declared size is used up
            Bytes all;
            for (const Bytes& b : seen)
                all.insert(all.end(), b.begin(), b.end());
            EXPECT_TRUE(all == input);
        }

        seen.clear();
        answers = keepGoing == 1 ? 1 : 100;
        const Bytes stream = ReadBack();
        in = OpenSource(stream, "stream");
        out = CreateTarget("plain");
        DataHook = hook;
        DataHookOnInput = true;  // decompressing turns it off
        DataHookOnOutput = true;
        ASSERT_EQ(DecompressStream(in, out), 1);
        CloseHandle(in);
        CloseHandle(out);
        DataHook = nullptr;
        if (keepGoing == 1) {
            ASSERT_EQ(seen.size(), 1u);
        } else {
            ASSERT_EQ(seen.size(), 3u);  // 10240, 10240, 4520 decoded bytes
            EXPECT_EQ(seen[0].size(), 10240u);
            Bytes all;
            for (const Bytes& b : seen)
                all.insert(all.end(), b.begin(), b.end());
            EXPECT_TRUE(all == input);
        }
        EXPECT_TRUE(ReadBack("plain") == input);
    }
}

TEST_F(StreamTest, XorKeyIsTakenOffTheSourceFirst)
{
    const Bytes input = samples::MachineCode(30000, 4);
    Bytes xored = input;
    for (auto& b : xored)
        b ^= 0xA7;
    const Bytes plain = Compress(input);
    refstream::Setup setup;
    setup.source = xored;
    setup.xorKey = 0xA7;
    EXPECT_TRUE(Run(setup, true, 30000).out == plain);
    EXPECT_EQ(StreamXorKey, 0);
}

TEST_F(StreamTest, ShortWritesStillSucceedAndShowTheShortfall)
{
    const Bytes input = samples::EnglishText(30000, 8);
    const Bytes stream = Compress(input);
    refstream::Setup setup;
    setup.source = input;
    setup.writeCap = 1000;
    refstream::Outcome compressed = Run(setup, true, 30000);
    EXPECT_EQ(compressed.result, 1);
    EXPECT_LT(StreamBytesWritten, StreamBytesOffered);
    EXPECT_EQ(StreamBytesOffered, stream.size());
    setup.source = stream;
    refstream::Outcome decompressed = Run(setup, false);
    EXPECT_EQ(decompressed.result, 1);
    EXPECT_EQ(StreamBytesWritten, 3000u);  // blocks of 10240, 10240 and 9520 bytes, 1000 of each
    EXPECT_EQ(StreamBytesOffered, 30000u);
}

TEST_F(StreamTest, MemoryDestinationIsBounded)
{
    const Bytes input = samples::EnglishText(30000, 9);
    const Bytes stream = Compress(input);
    for (std::uint32_t limit : {0u, 1u, 10239u, 10240u, 10241u, 29999u, 30000u, 40000u}) {
        Bytes memory(limit + 64, 0xC3);
        HANDLE in = OpenSource(stream, "stream");
        StreamMemoryDestination = memory.data();
        StreamMemoryLimit = limit;
        EXPECT_EQ(DecompressStream(in, nullptr), 1) << limit;
        CloseHandle(in);
        const std::uint32_t expected = std::min<std::uint32_t>(limit, 30000);
        EXPECT_EQ(StreamBytesWritten, expected) << limit;
        EXPECT_EQ(StreamBytesOffered, 30000u) << limit;
        EXPECT_TRUE(Bytes(memory.begin(), memory.begin() + expected) ==
                    Bytes(input.begin(), input.begin() + expected))
            << limit;
        for (std::size_t i = expected; i < memory.size(); ++i)
            ASSERT_EQ(memory[i], 0xC3) << limit << " at " << i;
        EXPECT_EQ(StreamMemoryDestination, nullptr);
        EXPECT_EQ(StreamMemoryLimit, 0u);
    }
    // Compressing into memory, bounded the same way.
    Bytes memory(stream.size() + 8, 0xC3);
    HANDLE in = OpenSource(input);
    StreamMemoryDestination = memory.data();
    StreamMemoryLimit = static_cast<std::uint32_t>(stream.size());
    EXPECT_EQ(CompressStream(in, nullptr, 30000), 1);
    CloseHandle(in);
    EXPECT_TRUE(Bytes(memory.begin(), memory.begin() + static_cast<std::ptrdiff_t>(stream.size())) == stream);
    EXPECT_EQ(Bytes(memory.end() - 8, memory.end()), Bytes(8, 0xC3));
}

TEST_F(StreamTest, StreamThatDeclaresMoreThanItCodesFails)
{
    // A size block that declares 1 MiB and a header-only last block: the
    // decoder runs out of code bits at once, the stream fails instead of
    // writing a megabyte decoded from zero bits, and a small memory
    // destination is never overrun.
    Bytes stream = FromHex("52 43 B5 68 0A 00 00 00 10 00 52 43 A5 68 06 00");
    Bytes memory(4096 + 64, 0x11);
    HANDLE in = OpenSource(stream, "stream");
    StreamMemoryDestination = memory.data();
    StreamMemoryLimit = 4096;
    EXPECT_EQ(DecompressStream(in, nullptr), 0);
    CloseHandle(in);
    EXPECT_LT(StreamBytesOffered, 200u);
    EXPECT_EQ(StreamBytesWritten, StreamBytesOffered);
    for (std::size_t i = StreamBytesWritten; i < memory.size(); ++i)
        ASSERT_EQ(memory[i], 0x11) << i;
    refstream::Setup setup;
    setup.source = stream;
    ExpectSameAsPlain(setup, false, 0, "declares 1 MiB");
}

TEST_F(StreamTest, SettingsAreClearedAfterEveryStreamAndHooksStay)
{
    for (bool compress : {true, false}) {
        HANDLE in = OpenSource(compress ? Text("hello") : Compress(Text("hello")), "src");
        HANDLE out = CreateTarget("dst");
        DataHookOnInput = DataHookOnOutput = true;
        StreamXorKey = compress ? 0x11 : 0;
        ProgressHook = RecordProgress;
        std::vector<Event> events;
        Events = &events;
        int result = compress ? CompressStream(in, out, 5) : DecompressStream(in, out);
        EXPECT_EQ(result, 1);
        CloseHandle(in);
        CloseHandle(out);
        EXPECT_FALSE(DataHookOnInput);
        EXPECT_FALSE(DataHookOnOutput);
        EXPECT_EQ(StreamXorKey, 0);
        EXPECT_EQ(ProgressHook, RecordProgress);
        ProgressHook = nullptr;
        Events = nullptr;
    }
}

// The transfer engine's compressed rows go through the stream.
TEST_F(StreamTest, TransferEngineCompressesAndDecompresses)
{
    const Bytes input = samples::EnglishText(50000, 13);
    const Bytes stream = Compress(input);
    struct Row {
        const char* name;
        TransferFlags flags;
        Bytes source;
        Bytes expected;
    };
    Bytes xored = input;
    for (auto& b : xored)
        b ^= 0x3C;
    const Row rows[] = {
        {"compress", XFER_COMPRESS, input, stream},
        {"compress takes the key off first", XFER_COMPRESS | 0x3C, xored, stream},
        {"decompress", XFER_DECOMPRESS, stream, input},
        {"decompress wins over compress", XFER_COMPRESS | XFER_DECOMPRESS, stream, input},
    };
    for (const Row& row : rows) {
        HANDLE in = OpenSource(row.source, "src");
        HANDLE out = CreateTarget("dst");
        std::int32_t size = static_cast<std::int32_t>(row.source.size());
        EXPECT_EQ(TransferData(in, out, size, row.flags), 1) << row.name;
        CloseHandle(in);
        CloseHandle(out);
        EXPECT_EQ(size, static_cast<std::int32_t>(row.expected.size())) << row.name;
        EXPECT_TRUE(ReadBack("dst") == row.expected) << row.name;
    }
    // Decompressing into memory through the stream's memory destination.
    Bytes memory(60000, 0);
    HANDLE in = OpenSource(stream, "src");
    StreamMemoryDestination = memory.data();
    StreamMemoryLimit = 50000;
    std::int32_t size = 0;
    EXPECT_EQ(TransferData(in, memory.data(), size, XFER_DECOMPRESS | XFER_TO_MEMORY), 1);
    CloseHandle(in);
    EXPECT_EQ(size, 50000);
    EXPECT_TRUE(Bytes(memory.begin(), memory.begin() + 50000) == input);
    // A damaged stream fails the transfer; the bytes decoded still count.
    Bytes damaged = stream;
    damaged[10 + 10240 + 50] ^= 1;
    in = OpenSource(damaged, "src");
    HANDLE out = CreateTarget("dst");
    size = 0;
    EXPECT_EQ(TransferData(in, out, size, XFER_DECOMPRESS), 0);
    CloseHandle(in);
    CloseHandle(out);
    EXPECT_GT(size, 0);
    EXPECT_EQ(static_cast<std::size_t>(size), ReadBack("dst").size());
}

TEST_F(StreamTest, TransferEnginePatchesWhileDecompressing)
{
    Bytes program = samples::MachineCode(30000, 14);
    std::copy(std::begin(PATCH_MARKER), std::end(PATCH_MARKER), program.begin() + 12000);
    const Bytes stream = Compress(program);
    Bytes payload = Text("PATCHED!record");
    for (bool withPatch : {true, false}) {
        HANDLE in = OpenSource(withPatch ? stream : Compress(samples::MachineCode(30000, 15)), "src");
        HANDLE out = CreateTarget("dst");
        SetPatchSource(payload.data(), static_cast<std::int32_t>(payload.size()), 0, PATCH_KEEP_MARKER);
        std::int32_t size = 0;
        int result = TransferData(in, out, size, XFER_DECOMPRESS | XFER_PATCH);
        CloseHandle(in);
        CloseHandle(out);
        EXPECT_EQ(size, 30000);
        if (!withPatch) {
            EXPECT_EQ(result, 0) << "no marker: no patch completed";
            continue;
        }
        EXPECT_EQ(result, 1);
        Bytes got = ReadBack("dst");
        ASSERT_EQ(got.size(), program.size());
        EXPECT_TRUE(std::search(got.begin(), got.end(), payload.begin(), payload.end()) != got.end());
    }
}

}  // namespace
