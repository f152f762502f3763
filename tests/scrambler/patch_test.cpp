#include "archive/transfer.h"
#include "scrambler/patch.h"
#include "scrambler/scrambler.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes Marker = {0x31, 0x55, 0x4C, 0x47, 0x32, 0x55, 0x4C, 0x47};

Bytes Filler(std::size_t n)
{
    Bytes data(n);
    for (std::size_t i = 0; i < n; ++i)
        data[i] = static_cast<std::uint8_t>(0x80 | (i % 97));
    return data;
}

Bytes WithMarkers(std::size_t n, std::initializer_list<std::size_t> at)
{
    Bytes data = Filler(n);
    for (std::size_t m : at)
        std::copy(Marker.begin(), Marker.end(), data.begin() + static_cast<std::ptrdiff_t>(m));
    return data;
}

Bytes Patch20()
{
    Bytes patch(20);
    for (int i = 0; i < 20; ++i)
        patch[i] = static_cast<std::uint8_t>(0x10 + i);
    return patch;
}

struct PatchRun {
    int result;
    Bytes out;
    std::int32_t position;
};

// Copies data from memory to memory with XFER_PATCH after naming patch as
// the patch source. A guard region after the output shows nothing is
// written past it.
PatchRun Patched(const Bytes& data, Bytes& patch, PatchOptions options, int scramble = 0,
            TransferFlags flags = 0, bool setSource = true)
{
    if (setSource)
        SetPatchSource(patch.data(), static_cast<std::int32_t>(patch.size()), scramble, options);
    Bytes out(data.size() + 64, 0xEE);
    std::int32_t size = static_cast<std::int32_t>(data.size());
    int result = TransferData(const_cast<std::uint8_t*>(data.data()), out.data(), size,
                              flags | XFER_PATCH | XFER_FROM_MEMORY | XFER_TO_MEMORY);
    for (std::size_t i = data.size(); i < out.size(); ++i)
        EXPECT_EQ(out[i], 0xEE) << "written past the data at " << i;
    out.resize(data.size());
    return PatchRun{result, out, PatchPosition()};
}

Bytes Block(const Bytes& payload)
{
    Bytes block = {0x33, 0x55, 0x33, 0x47};
    auto n = static_cast<std::uint32_t>(payload.size());
    for (int i = 0; i < 4; ++i)
        block.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
    block.insert(block.end(), payload.begin(), payload.end());
    return block;
}

Bytes Scrambled(Bytes payload)
{
    ScramblerReset(nullptr);
    ScrambleBytes(payload.data(), static_cast<std::int32_t>(payload.size()), SCRAMBLE);
    return payload;
}

// The data expected after patching block in at offset m.
Bytes Expect(Bytes data, std::size_t m, const Bytes& block)
{
    std::copy(block.begin(), block.end(), data.begin() + static_cast<std::ptrdiff_t>(m));
    return data;
}

}  // namespace

TEST(Patch, WritesAParameterBlockInPlaceOfTheMarker)
{
    struct Case {
        const char* name;
        std::size_t size;
        std::size_t marker;
        int scramble;
    };
    // 16371 leaves 5 bytes of room in the first 16384-byte chunk: the
    // payload is cut in two and the rest starts the next chunk.
    const Case cases[] = {
        {"plain, room in its chunk", 1000, 100, 0},
        {"scrambled, room in its chunk", 1000, 100, 1},
        {"plain, cut at a chunk's end", 20000, 16371, 0},
        {"scrambled, cut at a chunk's end", 20000, 16371, 1},
        {"plain, exactly the room it needs", 128, 100, 0},
        {"marker at offset 0", 100, 0, 0},
        {"one byte of room, scrambled", 16384 + 30, 16384 - 9, 1},
    };
    for (const Case& c : cases) {
        Bytes patch = Patch20();
        Bytes data = WithMarkers(c.size, {c.marker});
        PatchRun run = Patched(data, patch, 0, c.scramble);
        EXPECT_EQ(run.result, 1) << c.name;
        EXPECT_EQ(run.position, static_cast<std::int32_t>(c.marker)) << c.name;
        Bytes block = Block(c.scramble ? Scrambled(Patch20()) : Patch20());
        EXPECT_EQ(run.out, Expect(data, c.marker, block)) << c.name;
        if (c.scramble) {
            Bytes read(run.out.begin() + static_cast<std::ptrdiff_t>(c.marker),
                       run.out.begin() + static_cast<std::ptrdiff_t>(c.marker) + 28);
            ASSERT_EQ(ReadParamBlock(read.data()), 1) << c.name;
            EXPECT_EQ(Bytes(read.begin() + 8, read.end()), Patch20()) << c.name;
        }
    }
}

TEST(Patch, FailsWithoutACompletedPatch)
{
    struct Case {
        const char* name;
        std::size_t size;
        std::vector<std::size_t> markers;
    };
    const Case cases[] = {
        {"no marker", 30000, {}},
        {"marker's last byte ends its chunk", 20000, {16376}},
        {"marker split across chunks", 20000, {16380}},
        {"marker ends the data", 100, {92}},
        {"data of 8 bytes is never searched", 8, {0}},
        {"rest of the payload longer than the last chunk", 16384 + 10, {16371}},
    };
    for (const Case& c : cases) {
        Bytes patch = Patch20();
        Bytes data = Filler(c.size);
        for (std::size_t m : c.markers)
            std::copy(Marker.begin(), Marker.end(), data.begin() + static_cast<std::ptrdiff_t>(m));
        PatchRun run = Patched(data, patch, 0);
        EXPECT_EQ(run.result, 0) << c.name;
        EXPECT_EQ(run.out.size(), data.size()) << c.name;
    }
}

TEST(Patch, OnlyTheFirstMarkerIsPatchedAndOnlyWithAPendingPatch)
{
    Bytes patch = Patch20();
    Bytes data = WithMarkers(500, {50, 300});
    PatchRun run = Patched(data, patch, 0);
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.out, Expect(data, 50, Block(Patch20())));

    // The patch source served that copy; the next one finds the marker but
    // has nothing to write, leaves it and fails.
    run = Patched(data, patch, 0, 0, 0, false);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.out, data);
    EXPECT_EQ(run.position, 50);
}

TEST(Patch, OptionsKeepTheMarkerOrStoreTheOffset)
{
    Bytes data = WithMarkers(2000, {1000});
    Bytes patch = Patch20();
    PatchRun kept = Patched(data, patch, PATCH_KEEP_MARKER);
    EXPECT_EQ(kept.result, 1);
    Bytes expected = Expect(data, 1008, Patch20());
    EXPECT_EQ(kept.out, expected);

    // Scrambling implies the header, whatever PATCH_KEEP_MARKER says.
    PatchRun scrambled = Patched(data, patch, PATCH_KEEP_MARKER, 1);
    EXPECT_EQ(scrambled.out, Expect(data, 1000, Block(Scrambled(Patch20()))));

    PatchRun stored = Patched(data, patch, PATCH_STORE_OFFSET);
    Bytes withOffset = Patch20();
    withOffset[0] = 1008 & 0xFF, withOffset[1] = 1008 >> 8, withOffset[2] = 0, withOffset[3] = 0;
    EXPECT_EQ(stored.result, 1);
    EXPECT_EQ(stored.out, Expect(data, 1000, Block(withOffset)));
    EXPECT_EQ(patch, withOffset);  // the caller's bytes hold the offset too
}

TEST(Patch, ReadsThePatchBytesWhenTheMarkerPasses)
{
    Bytes data = WithMarkers(100, {10});
    Bytes patch = Patch20();
    SetPatchSource(patch.data(), 20, 0, 0);
    patch[0] = 0x99;
    PatchRun run = Patched(data, patch, 0, 0, 0, false);
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.out[18], 0x99);
}

TEST(Patch, NeverWritesPastThePatchSourceOrTheChunk)
{
    // A store-offset patch shorter than its offset is not accepted.
    Bytes data = WithMarkers(100, {10});
    Bytes tiny = {1, 2, 3};
    PatchRun run = Patched(data, tiny, PATCH_STORE_OFFSET);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(tiny, (Bytes{1, 2, 3}));
    EXPECT_EQ(run.out, data);

    // A payload longer than a chunk goes on into as many chunks as it needs.
    Bytes big(40000);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i * 3);
    Bytes longData = WithMarkers(50000, {5});
    PatchRun longRun = Patched(longData, big, 0, 1);
    EXPECT_EQ(longRun.result, 1);
    EXPECT_EQ(longRun.out, Expect(longData, 5, Block(Scrambled(big))));
}

TEST(Patch, XorFlagsDecideWhetherTheHookSeesPlainBytes)
{
    const std::uint8_t k = 0x3C;
    Bytes plain = WithMarkers(300, {40});
    Bytes stored = plain;
    for (auto& b : stored)
        b ^= k;
    Bytes patched = Expect(plain, 40, Block(Patch20()));
    Bytes patchedXored = patched;
    for (auto& b : patchedXored)
        b ^= k;
    struct Row {
        const char* name;
        TransferFlags flags;
        int result;
        const Bytes* out;
    };
    const Row rows[] = {
        {"unxor: plain out", k | XFER_UNXOR, 1, &patched},
        {"around the patch: stays scrambled", k | XFER_XOR_AROUND_PATCH, 1, &patchedXored},
        {"both: plain out", k | XFER_UNXOR | XFER_XOR_AROUND_PATCH, 1, &patched},
        {"key alone: the hook sees scrambled bytes", k, 0, &plain},
    };
    for (const Row& row : rows) {
        Bytes patch = Patch20();
        PatchRun run = Patched(stored, patch, 0, 0, row.flags);
        EXPECT_EQ(run.result, row.result) << row.name;
        EXPECT_EQ(run.out, *row.out) << row.name;
    }
}
