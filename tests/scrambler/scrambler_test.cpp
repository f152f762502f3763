#include "scrambler/scrambler.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes FromHex(const std::string& hex)
{
    Bytes out;
    if (hex == ".")
        return out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes Scrambled(const char* key, Bytes data, int direction = SCRAMBLE)
{
    ScramblerReset(key);
    ScrambleBytes(data.data(), static_cast<std::int32_t>(data.size()), direction);
    return data;
}

Bytes Counting(std::size_t n)
{
    Bytes data(n);
    for (std::size_t i = 0; i < n; ++i)
        data[i] = static_cast<std::uint8_t>(i * 31 + 7);
    return data;
}

struct Vector {
    bool defaultKey;
    std::string key;
    Bytes plain;
    Bytes scrambled;
};

// Vectors made by an independent implementation (tests/vectors/pc1_ref.py).
std::vector<Vector> LoadVectors()
{
    std::ifstream in(SAVERPACK_SOURCE_DIR "/tests/vectors/pc1.txt");
    std::vector<Vector> vectors;
    std::string keyHex, plainHex, scrambledHex;
    while (in >> keyHex >> plainHex >> scrambledHex) {
        Vector v{keyHex == "-", "", FromHex(plainHex), FromHex(scrambledHex)};
        if (!v.defaultKey && keyHex != "empty") {
            Bytes key = FromHex(keyHex);
            v.key.assign(key.begin(), key.end());
        }
        vectors.push_back(v);
    }
    return vectors;
}

}  // namespace

TEST(Scrambler, MatchesIndependentVectorsBothWays)
{
    std::vector<Vector> vectors = LoadVectors();
    ASSERT_EQ(vectors.size(), 90u);
    for (const Vector& v : vectors) {
        const char* key = v.defaultKey ? nullptr : v.key.c_str();
        EXPECT_EQ(Scrambled(key, v.plain), v.scrambled) << "key " << v.key;
        EXPECT_EQ(Scrambled(key, v.scrambled, UNSCRAMBLE), v.plain) << "key " << v.key;
    }
}

TEST(Scrambler, KeysAreLoadedAsDescribed)
{
    Bytes data = Counting(64);
    // No key is the default key; an empty key is ten zero bytes.
    EXPECT_EQ(Scrambled(nullptr, data), Scrambled("MoonPike", data));
    EXPECT_NE(Scrambled(nullptr, data), Scrambled("", data));
    EXPECT_EQ(Scrambled("", data), Scrambled("\0\0\0", data));
    // Only the first ten characters count.
    EXPECT_EQ(Scrambled("0123456789A", data), Scrambled("0123456789B", data));
    EXPECT_NE(Scrambled("012345678A", data), Scrambled("012345678B", data));
}

TEST(Scrambler, AStreamCutIntoPiecesGivesTheSameBytes)
{
    Bytes data = Counting(1000);
    Bytes whole = Scrambled("KNOT", data);
    for (std::int32_t piece : {1, 3, 40, 999}) {
        Bytes cut = data;
        ScramblerReset("KNOT");
        for (std::int32_t at = 0; at < 1000; at += piece)
            ScrambleBytes(cut.data() + at, std::min(piece, 1000 - at), SCRAMBLE);
        EXPECT_EQ(cut, whole) << "pieces of " << piece;
    }
}

TEST(Scrambler, ZeroAndNegativeLengthsChangeNothing)
{
    Bytes data = Counting(16);
    ScramblerReset("KNOT");
    ScrambleBytes(data.data(), 0, SCRAMBLE);
    ScrambleBytes(data.data(), -5, SCRAMBLE);
    EXPECT_EQ(data, Counting(16));
    ScrambleBytes(data.data(), 16, SCRAMBLE);
    EXPECT_EQ(data, Scrambled("KNOT", Counting(16)));
}

TEST(Scrambler, UnscrambleThenScrambleRestoresTheInput)
{
    // The archive reader relies on this to put back the bytes it tried.
    Bytes original = Counting(120);
    Bytes plain = Scrambled("KNOT", original, UNSCRAMBLE);
    EXPECT_EQ(Scrambled("KNOT", plain, SCRAMBLE), original);
}

TEST(ParamBlock, AcceptsOnlyMagicAndLengthsFrom1To2047)
{
    struct Case {
        const char* what;
        std::uint8_t magic[4];
        std::int32_t length;
        int accepted;
    };
    const Case cases[] = {
        {"length 1", {0x33, 0x55, 0x33, 0x47}, 1, 1},
        {"length 2047", {0x33, 0x55, 0x33, 0x47}, 2047, 1},
        {"length 872", {0x33, 0x55, 0x33, 0x47}, 872, 1},
        {"length 0", {0x33, 0x55, 0x33, 0x47}, 0, 0},
        {"length 2048", {0x33, 0x55, 0x33, 0x47}, 2048, 0},
        {"negative length", {0x33, 0x55, 0x33, 0x47}, -1, 0},
        {"most negative length", {0x33, 0x55, 0x33, 0x47}, INT32_MIN, 0},
        {"magic in the other byte order", {0x47, 0x33, 0x55, 0x33}, 20, 0},
        {"one magic byte off", {0x33, 0x55, 0x33, 0x48}, 20, 0},
    };
    for (const Case& c : cases) {
        // One byte in front of the block: it may start at any offset.
        Bytes storage(1 + 8 + 2100, 0xA5);
        std::uint8_t* block = storage.data() + 1;
        std::memcpy(block, c.magic, 4);
        auto length = static_cast<std::uint32_t>(c.length);
        for (int i = 0; i < 4; ++i)
            block[4 + i] = static_cast<std::uint8_t>(length >> (8 * i));
        Bytes payload = Counting(2100);
        Bytes scrambled = Scrambled(nullptr, payload);
        std::memcpy(block + 8, scrambled.data(), scrambled.size());
        Bytes before = storage;

        EXPECT_EQ(ReadParamBlock(block), c.accepted) << c.what;
        if (c.accepted) {
            EXPECT_TRUE(std::equal(block + 8, block + 8 + c.length, payload.begin())) << c.what;
            // Bytes after the payload and the header stay as they were.
            EXPECT_TRUE(std::equal(block + 8 + c.length, block + 8 + 2100,
                                   before.begin() + 9 + c.length))
                << c.what;
            EXPECT_TRUE(std::equal(storage.begin(), storage.begin() + 9, before.begin())) << c.what;
        } else {
            EXPECT_EQ(storage, before) << c.what;
        }
    }
}

TEST(ParamBlock, ReadsWithAFreshResetWhateverCameBefore)
{
    Bytes block = {0x33, 0x55, 0x33, 0x47, 3, 0, 0, 0};
    Bytes payload = Scrambled(nullptr, {'a', 'b', 'c'});
    block.insert(block.end(), payload.begin(), payload.end());
    ScramblerReset("something else");
    Bytes junk = Counting(5);
    ScrambleBytes(junk.data(), 5, SCRAMBLE);
    ASSERT_EQ(ReadParamBlock(block.data()), 1);
    EXPECT_EQ(Bytes(block.begin() + 8, block.end()), (Bytes{'a', 'b', 'c'}));
}
