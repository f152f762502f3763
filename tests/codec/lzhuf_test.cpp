// The LZHUF codec: known code streams, agreement with the plain step-by-step
// reference on many generated inputs, round trips, and damaged input.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "codec/lzhuf.h"
#include "tests/codec/codec_helpers.h"
#include "tests/codec/reference_lzhuf.h"
#include "tests/codec/sample_inputs.h"

using namespace codectest;

namespace {

class LzhufTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetLzhufModule();
        reference::ResetAll();
    }

    // Encodes with both codecs, expects the same bytes, and decodes back.
    void ExpectMatchesReference(const Bytes& input, const std::string& what)
    {
        const Bytes expected = reference::Encode(input);
        const Bytes actual = Encode(input);
        ASSERT_EQ(expected.size(), actual.size()) << what;
        ASSERT_TRUE(expected == actual)
            << what << ": first difference at byte " << FirstDifference(expected, actual);
        ASSERT_TRUE(Decode(actual, static_cast<std::uint32_t>(input.size())) == input) << what;
        ASSERT_TRUE(reference::Decode(actual) == input) << what;
    }

    static std::size_t FirstDifference(const Bytes& a, const Bytes& b)
    {
        std::size_t i = 0;
        while (i < a.size() && i < b.size() && a[i] == b[i])
            ++i;
        return i;
    }
};

struct Vector {
    const char* name;
    Bytes input;
    const char* stream;
};

TEST_F(LzhufTest, KnownCodeStreams)
{
    const Vector vectors[] = {
        {"empty input gives the size bytes only", {}, "00 00 00 00"},
        {"abc: three 9-bit literals and five fill bits", Text("abc"), "03 00 00 00 F6 FB BD E0"},
        {"ten a: a literal, then a match of 9 at position 0", Bytes(10, 'a'), "0A 00 00 00 F6 C9 00 00"},
        {"100 spaces: matches of 60 and 40 from the space-filled ring", Bytes(100, ' '),
         "64 00 00 00 C5 1D D8 84 C0"},
    };
    for (const Vector& v : vectors) {
        SCOPED_TRACE(v.name);
        EXPECT_EQ(ToHex(Encode(v.input)), ToHex(FromHex(v.stream)));
        EXPECT_EQ(ToHex(reference::Encode(v.input)), ToHex(FromHex(v.stream)));
        EXPECT_TRUE(Decode(FromHex(v.stream), 1000) == v.input);
    }
}

TEST_F(LzhufTest, ChoosesTheExpectedItems)
{
    using reference::Item;
    struct Case {
        const char* name;
        Bytes input;
        std::vector<Item> items;
    };
    const Case cases[] = {
        {"ten a", Bytes(10, 'a'), {{false, 'a', 0}, {true, 9, 0}}},
        {"abc four times",
         Text("abcabcabcabc"),
         {{false, 'a', 0}, {false, 'b', 0}, {false, 'c', 0}, {true, 9, 2}}},
        {"100 spaces: only the string 60 back is still in its tree",
         Bytes(100, ' '),
         {{true, 60, 59}, {true, 40, 19}}},
        {"two equally long candidates: the nearer one wins",
         Text("abcd1abcd2abcd3"),
         {{false, 'a', 0},
          {false, 'b', 0},
          {false, 'c', 0},
          {false, 'd', 0},
          {false, '1', 0},
          {true, 4, 4},
          {false, '2', 0},
          {true, 4, 4},
          {false, '3', 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reference::Encode(c.input);
        EXPECT_TRUE(reference::LastItems() == c.items);
        ExpectMatchesReference(c.input, c.name);
    }
}

TEST_F(LzhufTest, FreshTreeGivesEightAndNineBitCodes)
{
    // The lowest 116 symbols sit at depth 9, the other 198 at depth 8.
    for (int b : {0, 97, 115})
        EXPECT_EQ(Encode(Bytes{static_cast<std::uint8_t>(b)}).size(), 4u + 2u) << b;
    for (int b : {116, 200, 255})
        EXPECT_EQ(Encode(Bytes{static_cast<std::uint8_t>(b)}).size(), 4u + 1u) << b;
}

TEST_F(LzhufTest, MatchesReferenceOnSmallInputs)
{
    std::mt19937 rng(5);
    for (int size = 0; size <= 70; ++size) {
        for (int alphabet : {1, 2, 3, 16, 256}) {
            Bytes input(static_cast<std::size_t>(size));
            for (auto& b : input)
                b = static_cast<std::uint8_t>('A' + rng() % alphabet);
            ExpectMatchesReference(input,
                                   "size " + std::to_string(size) + " alphabet " + std::to_string(alphabet));
        }
    }
}

TEST_F(LzhufTest, MatchesReferenceOnGeneratedInputs)
{
    struct Case {
        const char* name;
        Bytes input;
    };
    std::mt19937 rng(9);
    Bytes runs;
    while (runs.size() < 300000)
        runs.insert(runs.end(), 1 + rng() % 400, static_cast<std::uint8_t>(rng() % 5));
    Bytes sparse(200000);
    for (auto& b : sparse)
        b = (rng() % 50 == 0) ? static_cast<std::uint8_t>(rng()) : 0;
    Bytes skewed(200000);
    for (auto& b : skewed)
        b = static_cast<std::uint8_t>(std::countl_zero(rng() | 1u));
    const Case cases[] = {
        {"text 4095", samples::EnglishText(4095)},
        {"text 4096", samples::EnglishText(4096)},
        {"text 4097", samples::EnglishText(4097)},
        {"random 4096", samples::RandomBytes(4096)},
        {"random across the first rebuild", samples::RandomBytes(33000)},
        {"text 300 KB, several rebuilds", samples::EnglishText(300000, 7)},
        {"machine code 300 KB", samples::MachineCode(300000, 8)},
        {"long runs of few values", runs},
        {"mostly zeros", sparse},
        {"geometric byte frequencies", skewed},
        {"all 60 lengths and positions",
         [] {
             Bytes b = samples::RandomBytes(5000, 12);
             for (int len = 3; len <= 60; ++len)
                 for (int back = 1; back <= 4096; back += 97) {
                     const std::size_t from = b.size() - static_cast<std::size_t>(back);
                     for (int k = 0; k < len; ++k)
                         b.push_back(b[from + static_cast<std::size_t>(k)]);
                     b.push_back(static_cast<std::uint8_t>(len * 31 + back));
                 }
             return b;
         }()},
    };
    for (const Case& c : cases)
        ExpectMatchesReference(c.input, c.name);
}

TEST_F(LzhufTest, MatchesReferenceOnLargeInputs)
{
    ExpectMatchesReference(samples::EnglishText(3 << 20), "3 MiB of text");
    ExpectMatchesReference(samples::MachineCode(2 << 20), "2 MiB of machine code");
    ExpectMatchesReference(samples::RandomBytes(1 << 20), "1 MiB of random bytes");
}

TEST_F(LzhufTest, CodesLongerThanSixteenBitsRoundTrip)
{
    const Bytes input = samples::DeepTreeBytes(1 << 20);
    const Bytes stream = reference::Encode(input);
    EXPECT_GT(reference::LastMaxCodeLength(), 16);
    ResetLzhufModule();
    reference::ResetAll();
    ExpectMatchesReference(input, "deep tree");
}

TEST_F(LzhufTest, RingPositionsFrom4036CarryOverBetweenStreams)
{
    // Ring positions from 4036 on keep what the previous stream left, in both
    // directions, so a short input after a decode can code differently than in
    // a fresh process; both codecs must agree all along the sequence.
    const Bytes first = samples::EnglishText(5000, 21);
    const Bytes stream = Encode(first);
    reference::Encode(first);
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(Decode(stream, 5000) == first);
        ASSERT_TRUE(reference::Decode(stream) == first);
        for (int size : {1, 5, 30, 59, 61, 200}) {
            const Bytes shortInput = samples::EnglishText(static_cast<std::size_t>(size), 30 + round);
            EXPECT_EQ(ToHex(Encode(shortInput)), ToHex(reference::Encode(shortInput))) << size;
        }
    }
}

TEST_F(LzhufTest, DecodeOfTruncatedStreamWorksOnZeroBits)
{
    const Bytes input = samples::EnglishText(20000, 3);
    Bytes stream = Encode(input);
    stream.resize(stream.size() / 2);
    const Bytes expected = reference::Decode(stream);
    const Bytes actual = Decode(stream, 20000);
    ASSERT_EQ(actual.size(), 20000u);
    EXPECT_TRUE(Bytes(expected.begin(), expected.begin() + 20000) == actual);
    EXPECT_TRUE(Bytes(input.begin(), input.begin() + 1000) == Bytes(actual.begin(), actual.begin() + 1000));
}

TEST_F(LzhufTest, DamagedStreamsNeverWritePastSizeOrCapacity)
{
    std::mt19937 rng(17);
    for (int round = 0; round < 300; ++round) {
        Bytes stream(4 + rng() % 200);
        for (auto& b : stream)
            b = static_cast<std::uint8_t>(rng());
        const std::uint32_t size = 1 + rng() % 3000;
        for (int i = 0; i < 4; ++i)
            stream[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(size >> (8 * i));
        const std::uint32_t capacity = rng() % 2 ? size : static_cast<std::uint32_t>(rng() % (size + 1));

        // A canary region after the room must stay untouched.
        Bytes out(capacity + 64, 0xA5);
        const std::uint32_t produced =
            LzhufDecodeMemory(stream.data(), static_cast<std::uint32_t>(stream.size()), out.data(), capacity);
        EXPECT_EQ(produced, size);
        for (std::size_t i = capacity; i < out.size(); ++i)
            ASSERT_EQ(out[i], 0xA5) << "round " << round;

        // The bytes that are written are the plain decoder's, cut at the size.
        const Bytes expected = reference::Decode(stream);
        ASSERT_GE(expected.size(), size);
        EXPECT_TRUE(Bytes(expected.begin(), expected.begin() + capacity) ==
                    Bytes(out.begin(), out.begin() + capacity))
            << "round " << round;
    }
}

TEST_F(LzhufTest, ShortOrEmptyStreamsDecodeToNothing)
{
    for (const char* hex : {"", "05", "05 00 00", "00 00 00 00", "00 00 00 00 FF FF"}) {
        Bytes out(16, 0xA5);
        const Bytes stream = FromHex(hex);
        EXPECT_EQ(LzhufDecodeMemory(stream.data(), static_cast<std::uint32_t>(stream.size()), out.data(), 16),
                  0u)
            << hex;
        EXPECT_EQ(out, Bytes(16, 0xA5));
    }
}

// A byte source and sink whose windows have random sizes, opened anew at
// every slot call, that logs every slot call with the bytes transferred
// before it (window bytes included). Tiny windows make the decoder take
// bytes one at a time, large ones let it run on; the timing of every slot
// call must be the plain decoder's all the same.
namespace windowed {

struct Call {
    char kind;         // 'R' read slot, 'W' write slot
    std::size_t read;  // bytes taken before the call, the four size bytes included
    std::size_t written;
};

const Bytes* Stream = nullptr;
Bytes Out;
std::size_t Read = 0;
std::size_t Written = 0;
const std::uint8_t* InStart = nullptr;
std::uint8_t* OutStart = nullptr;
std::mt19937 Rng;
std::vector<Call> Calls;
std::size_t StopAtCall = 0;  // set DecodeTarget to 0 at this slot call (1-based), 0 never

std::size_t WindowSize()
{
    switch (Rng() % 4) {
    case 0:
        return 0;
    case 1:
        return Rng() % 24;
    case 2:
        return Rng() % 200;
    default:
        return Rng() % 3000;
    }
}

void Settle()
{
    Read += static_cast<std::size_t>(CodecInNext - InStart);
    Written += static_cast<std::size_t>(CodecOutNext - OutStart);
}

void Open()
{
    const std::size_t inLeft = Read < Stream->size() ? Stream->size() - Read : 0;
    const std::size_t in = std::min(WindowSize(), inLeft);
    const std::size_t out = std::min(WindowSize(), Out.size() - Written);
    InStart = CodecInNext = Stream->data() + (Read < Stream->size() ? Read : Stream->size());
    CodecInEnd = InStart + in;
    OutStart = CodecOutNext = Out.data() + Written;
    CodecOutEnd = OutStart + out;
}

void Log(char kind)
{
    Calls.push_back({kind, Read, Written});
    if (Calls.size() == StopAtCall)
        DecodeTarget = 0;
}

std::int16_t ReadSlot()
{
    Settle();
    Log('R');
    const int b = Read < Stream->size() ? (*Stream)[Read] : -1;
    ++Read;
    Open();
    return static_cast<std::int16_t>(b);
}

void WriteSlot(std::int32_t b)
{
    Settle();
    Log('W');
    Out[Written++] = static_cast<std::uint8_t>(b);
    Open();
}

std::uint32_t SizeSlot()
{
    Read = 4;
    Open();
    return DeclaredSize(*Stream);
}

}  // namespace windowed

TEST_F(LzhufTest, DecoderCallsItsSlotsWhereThePlainDecoderTransfers)
{
    struct Case {
        const char* name;
        Bytes stream;
    };
    Bytes truncated = Encode(samples::EnglishText(30000, 4));
    truncated.resize(truncated.size() - 3000);
    const Case cases[] = {
        {"text", Encode(samples::EnglishText(70000, 2))},
        {"machine code", Encode(samples::MachineCode(60000, 3))},
        {"random bytes", Encode(samples::RandomBytes(40000, 4))},
        {"deep tree", Encode(samples::DeepTreeBytes(100000, 5))},
        {"runs", Encode(Bytes(20000, 'x'))},
        {"stream cut short", truncated},
    };
    for (const Case& c : cases) {
        for (int round = 0; round < 6; ++round) {
            SCOPED_TRACE(std::string(c.name) + " round " + std::to_string(round));
            const std::uint32_t size = DeclaredSize(c.stream);
            const std::size_t stopAt = round < 3 ? 0 : 5 + 37 * static_cast<std::size_t>(round);

            // The plain decoder: the order of its reads and writes, and at
            // which transfer the target goes to 0.
            std::string order;
            Bytes expected;
            std::uint32_t target = size;
            std::size_t pos = 4;
            ResetLzhufModule();
            reference::ResetAll();
            windowed::Rng.seed(static_cast<unsigned>(round));
            windowed::Stream = &c.stream;
            windowed::Out.assign(size + 64, 0);
            windowed::Read = windowed::Written = 0;
            windowed::Calls.clear();
            windowed::StopAtCall = stopAt;
            ResetCodecState();
            CodecReadByte = windowed::ReadSlot;
            CodecWriteByte = windowed::WriteSlot;
            CodecReadSize = windowed::SizeSlot;
            LzhufDecode();
            windowed::Settle();

            // Where the production decoder stopped, the plain one stops too:
            // at the same transfer, found from the production log.
            std::size_t stopIndex = std::string::npos;
            if (stopAt != 0 && windowed::Calls.size() >= stopAt) {
                const windowed::Call& s = windowed::Calls[stopAt - 1];
                stopIndex = (s.read - 4) + s.written;
            }
            reference::DecodeWith(
                [&]() -> int {
                    if (order.size() == stopIndex)
                        target = 0;
                    order += 'R';
                    return pos < c.stream.size() ? c.stream[pos++] : -1;
                },
                [&](int b) {
                    if (order.size() == stopIndex)
                        target = 0;
                    order += 'W';
                    expected.push_back(static_cast<std::uint8_t>(b));
                },
                size, &target);
            if (expected.size() > size)
                expected.resize(size);

            std::vector<std::size_t> readsBefore(order.size() + 1, 0);
            for (std::size_t i = 0; i < order.size(); ++i)
                readsBefore[i + 1] = readsBefore[i] + (order[i] == 'R');
            for (const windowed::Call& call : windowed::Calls) {
                const std::size_t index = (call.read - 4) + call.written;
                ASSERT_LT(index, order.size());
                ASSERT_EQ(order[index], call.kind) << "transfer " << index;
                ASSERT_EQ(readsBefore[index], call.read - 4) << "transfer " << index;
            }
            EXPECT_EQ(windowed::Read - 4, readsBefore[order.size()]);
            EXPECT_TRUE(Bytes(windowed::Out.begin(), windowed::Out.begin() + windowed::Written) == expected);
        }
    }
}

TEST_F(LzhufTest, EncoderDropsWhatDoesNotFitAndReportsTheWholeLength)
{
    const Bytes input = samples::EnglishText(10000);
    const Bytes whole = Encode(input);
    Bytes out(100 + 8, 0xA5);
    EXPECT_EQ(LzhufEncodeMemory(input.data(), 10000, out.data(), 100), whole.size());
    EXPECT_TRUE(Bytes(whole.begin(), whole.begin() + 100) == Bytes(out.begin(), out.begin() + 100));
    EXPECT_EQ(Bytes(out.begin() + 100, out.end()), Bytes(8, 0xA5));
}

}  // namespace
