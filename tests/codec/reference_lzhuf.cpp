// Step-by-step LZHUF, one procedure per step of the algorithm, 16-bit words.
#include "tests/codec/reference_lzhuf.h"

#include <algorithm>
#include <functional>

namespace reference {
namespace {

constexpr int N = 4096;
constexpr int F = 60;
constexpr int THRESHOLD = 2;
constexpr int NIL = 4096;
constexpr int T = 627;
constexpr int R = 626;

std::uint8_t ring[4096 + 59];
std::int16_t treeLeft[4097];
std::int16_t treeRight[4353];
std::int16_t treeParent[4097];
std::int16_t matchLength;
std::int16_t matchPosition;
std::uint16_t nodeCount[628];
std::int16_t nodeChild[627];
std::int16_t nodeParent[941];
std::uint16_t inBits;
std::uint8_t inCount;
std::uint16_t outBits;
std::uint8_t outCount;
std::uint32_t decodeTarget;
int maxCodeLength;
std::vector<Item> items;

std::function<int()> readByte;
std::function<void(int)> writeByte;

std::int16_t ReadStreamByte()
{
    return static_cast<std::int16_t>(readByte());
}
void WriteStreamByte(int b)
{
    writeByte(b);
}

std::uint32_t* decodeTargetSlot = &decodeTarget;

// The position tables as LZHUF publishes them, built from the length rule.
std::uint8_t pLen[64], pCode[64], dCode[256], dLen[256];
void MakeTables()
{
    int lens[64];
    for (int u = 0; u < 64; ++u)
        lens[u] = u == 0 ? 3 : u <= 3 ? 4 : u <= 11 ? 5 : u <= 23 ? 6 : u <= 47 ? 7 : 8;
    int code = 0;
    for (int u = 0; u < 64; ++u) {
        if (u > 0)
            code = (code + 1) << (lens[u] - lens[u - 1]);
        pLen[u] = static_cast<std::uint8_t>(lens[u]);
        pCode[u] = static_cast<std::uint8_t>(code << (8 - lens[u]));
    }
    for (int i = 0; i < 256; ++i) {
        for (int u = 0; u < 64; ++u) {
            if ((i >> (8 - pLen[u])) == (pCode[u] >> (8 - pLen[u]))) {
                dCode[i] = static_cast<std::uint8_t>(u);
                dLen[i] = pLen[u];
            }
        }
    }
}

void InitMatchTree()
{
    for (int i = N + 1; i <= N + 256; i++)
        treeRight[i] = NIL;
    for (int i = 0; i < N; i++)
        treeParent[i] = NIL;
}

void InsertMatchNode(int r)
{
    int i, p, cmp;
    std::uint8_t* key;
    cmp = 1;
    key = &ring[r];
    p = N + 1 + key[0];
    treeRight[r] = treeLeft[r] = NIL;
    matchLength = 0;
    for (;;) {
        if (cmp >= 0) {
            if (treeRight[p] != NIL) {
                p = treeRight[p];
            } else {
                treeRight[p] = static_cast<std::int16_t>(r);
                treeParent[r] = static_cast<std::int16_t>(p);
                return;
            }
        } else {
            if (treeLeft[p] != NIL) {
                p = treeLeft[p];
            } else {
                treeLeft[p] = static_cast<std::int16_t>(r);
                treeParent[r] = static_cast<std::int16_t>(p);
                return;
            }
        }
        for (i = 1; i < F; i++) {
            cmp = static_cast<int>(key[i]) - static_cast<int>(ring[p + i]);
            if (cmp != 0)
                break;
        }
        if (i > THRESHOLD) {
            if (i > matchLength) {
                matchPosition = static_cast<std::int16_t>(((r - p) & (N - 1)) - 1);
                matchLength = static_cast<std::int16_t>(i);
                if (matchLength >= F)
                    break;
            }
            if (i == matchLength) {
                int c = ((r - p) & (N - 1)) - 1;
                if (c < matchPosition)
                    matchPosition = static_cast<std::int16_t>(c);
            }
        }
    }
    treeParent[r] = treeParent[p];
    treeLeft[r] = treeLeft[p];
    treeRight[r] = treeRight[p];
    treeParent[treeLeft[p]] = static_cast<std::int16_t>(r);
    treeParent[treeRight[p]] = static_cast<std::int16_t>(r);
    if (treeRight[treeParent[p]] == p)
        treeRight[treeParent[p]] = static_cast<std::int16_t>(r);
    else
        treeLeft[treeParent[p]] = static_cast<std::int16_t>(r);
    treeParent[p] = NIL;
}

void DeleteMatchNode(int p)
{
    int q;
    if (treeParent[p] == NIL)
        return;
    if (treeRight[p] == NIL) {
        q = treeLeft[p];
    } else if (treeLeft[p] == NIL) {
        q = treeRight[p];
    } else {
        q = treeLeft[p];
        if (treeRight[q] != NIL) {
            do {
                q = treeRight[q];
            } while (treeRight[q] != NIL);
            treeRight[treeParent[q]] = treeLeft[q];
            treeParent[treeLeft[q]] = treeParent[q];
            treeLeft[q] = treeLeft[p];
            treeParent[treeLeft[p]] = static_cast<std::int16_t>(q);
        }
        treeRight[q] = treeRight[p];
        treeParent[treeRight[p]] = static_cast<std::int16_t>(q);
    }
    treeParent[q] = treeParent[p];
    if (treeRight[treeParent[p]] == p)
        treeRight[treeParent[p]] = static_cast<std::int16_t>(q);
    else
        treeLeft[treeParent[p]] = static_cast<std::int16_t>(q);
    treeParent[p] = NIL;
}

void ResetHuffmanTree()
{
    int i, j;
    for (i = 0; i < 314; i++) {
        nodeCount[i] = 1;
        nodeChild[i] = static_cast<std::int16_t>(i + T);
        nodeParent[i + T] = static_cast<std::int16_t>(i);
    }
    i = 0;
    j = 314;
    while (j <= R) {
        nodeCount[j] = static_cast<std::uint16_t>(nodeCount[i] + nodeCount[i + 1]);
        nodeChild[j] = static_cast<std::int16_t>(i);
        nodeParent[i] = nodeParent[i + 1] = static_cast<std::int16_t>(j);
        i += 2;
        j++;
    }
    nodeCount[T] = 0xffff;
    nodeParent[R] = 0;
}

void RebuildHuffmanTree()
{
    int i, j, k;
    unsigned f, l;
    j = 0;
    for (i = 0; i < T; i++) {
        if (nodeChild[i] >= T) {
            nodeCount[j] = static_cast<std::uint16_t>((nodeCount[i] + 1) / 2);
            nodeChild[j] = nodeChild[i];
            j++;
        }
    }
    for (i = 0, j = 314; j < T; i += 2, j++) {
        k = i + 1;
        f = nodeCount[j] = static_cast<std::uint16_t>(nodeCount[i] + nodeCount[k]);
        for (k = j - 1; f < nodeCount[k]; k--) {
        }
        k++;
        l = static_cast<unsigned>(j - k);
        for (unsigned m = l; m > 0; m--) {
            nodeCount[k + m] = nodeCount[k + m - 1];
            nodeChild[k + m] = nodeChild[k + m - 1];
        }
        nodeCount[k] = static_cast<std::uint16_t>(f);
        nodeChild[k] = static_cast<std::int16_t>(i);
    }
    for (i = 0; i < T; i++) {
        if ((k = nodeChild[i]) >= T) {
            nodeParent[k] = static_cast<std::int16_t>(i);
        } else {
            nodeParent[k] = nodeParent[k + 1] = static_cast<std::int16_t>(i);
        }
    }
}

void UpdateHuffmanTree(int c)
{
    int i, j, k, l;
    if (nodeCount[R] == 0x8000)
        RebuildHuffmanTree();
    c = nodeParent[c + T];
    do {
        k = ++nodeCount[c];
        if (k > nodeCount[l = c + 1]) {
            while (k > nodeCount[++l]) {
            }
            l--;
            nodeCount[c] = nodeCount[l];
            nodeCount[l] = static_cast<std::uint16_t>(k);
            i = nodeChild[c];
            nodeParent[i] = static_cast<std::int16_t>(l);
            if (i < T)
                nodeParent[i + 1] = static_cast<std::int16_t>(l);
            j = nodeChild[l];
            nodeChild[l] = static_cast<std::int16_t>(i);
            nodeParent[j] = static_cast<std::int16_t>(c);
            if (j < T)
                nodeParent[j + 1] = static_cast<std::int16_t>(c);
            nodeChild[c] = static_cast<std::int16_t>(j);
            c = l;
        }
    } while ((c = nodeParent[c]) != 0);
}

void PutCodeBits(int n, std::uint16_t c)
{
    outBits = static_cast<std::uint16_t>(outBits | (c >> outCount));
    outCount = static_cast<std::uint8_t>(outCount + n);
    if (outCount >= 8) {
        WriteStreamByte(outBits >> 8);
        outCount = static_cast<std::uint8_t>(outCount - 8);
        if (outCount >= 8) {
            WriteStreamByte(outBits & 0xFF);
            outCount = static_cast<std::uint8_t>(outCount - 8);
            outBits = static_cast<std::uint16_t>(c << (n - outCount));
        } else {
            outBits = static_cast<std::uint16_t>(outBits << 8);
        }
    }
}

void EncodeSymbol(int c)
{
    // The path from the leaf up, collected bit by bit; the first 16 bits (next
    // to the root) go out as one word, any deeper ones after them.
    std::vector<int> path;
    int k = nodeParent[c + T];
    do {
        path.push_back(k & 1);
        k = nodeParent[k];
    } while (k != R);
    std::reverse(path.begin(), path.end());
    const int n = static_cast<int>(path.size());
    maxCodeLength = std::max(maxCodeLength, n);
    std::uint16_t code = 0;
    const int first = std::min(n, 16);
    for (int i = 0; i < first; ++i)
        code = static_cast<std::uint16_t>(code | (path[i] << (15 - i)));
    PutCodeBits(first, code);
    if (n > 16) {
        std::uint16_t rest = 0;
        for (int i = 16; i < n; ++i)
            rest = static_cast<std::uint16_t>(rest | (path[i] << (31 - i)));
        PutCodeBits(n - 16, rest);
    }
    UpdateHuffmanTree(c);
}

void EncodeMatchPosition(unsigned c)
{
    unsigned i = c >> 6;
    PutCodeBits(pLen[i], static_cast<std::uint16_t>(pCode[i] << 8));
    PutCodeBits(6, static_cast<std::uint16_t>((c & 0x3f) << 10));
}

void FlushCodeBits()
{
    if (outCount > 0)
        WriteStreamByte(outBits >> 8);
}

int GetCodeBit()
{
    int i;
    while (inCount <= 8) {
        if ((i = ReadStreamByte()) < 0)
            i = 0;
        inBits = static_cast<std::uint16_t>(inBits | (i << (8 - inCount)));
        inCount = static_cast<std::uint8_t>(inCount + 8);
    }
    i = inBits;
    inBits = static_cast<std::uint16_t>(inBits << 1);
    inCount--;
    return (i & 0x8000) ? 1 : 0;
}

int GetCodeByte()
{
    unsigned i;
    while (inCount <= 8) {
        int b;
        if ((b = ReadStreamByte()) < 0)
            b = 0;
        inBits = static_cast<std::uint16_t>(inBits | (b << (8 - inCount)));
        inCount = static_cast<std::uint8_t>(inCount + 8);
    }
    i = inBits;
    inBits = static_cast<std::uint16_t>(inBits << 8);
    inCount = static_cast<std::uint8_t>(inCount - 8);
    return static_cast<int>(i >> 8);
}

int DecodeSymbol()
{
    int c = nodeChild[R];
    while (c < T) {
        c += GetCodeBit();
        c = nodeChild[c];
    }
    c -= T;
    UpdateHuffmanTree(c);
    return c;
}

int DecodeMatchPosition()
{
    unsigned i, j, c;
    i = static_cast<unsigned>(GetCodeByte());
    c = static_cast<unsigned>(dCode[i]) << 6;
    j = dLen[i];
    j -= 2;
    while (j--)
        i = (i << 1) + static_cast<unsigned>(GetCodeBit());
    return static_cast<int>(c | (i & 0x3f));
}

void Reset()
{
    inBits = 0;
    inCount = 0;
    outBits = 0;
    outCount = 0;
    decodeTarget = 0;
}

}  // namespace

void EncodeWith(std::function<int()> read, std::function<void(int)> write, std::uint32_t size)
{
    MakeTables();
    Reset();
    maxCodeLength = 0;
    items.clear();
    readByte = std::move(read);
    writeByte = std::move(write);
    if (size == 0)
        return;

    int i, c, len, r, s, last_match_length;
    ResetHuffmanTree();
    InitMatchTree();
    s = 0;
    r = N - F;
    for (i = s; i < r; i++)
        ring[i] = ' ';
    for (len = 0; len < F && (c = ReadStreamByte()) != -1; len++)
        ring[r + len] = static_cast<std::uint8_t>(c);
    for (i = 1; i <= F; i++)
        InsertMatchNode(r - i);
    InsertMatchNode(r);
    do {
        if (matchLength > len)
            matchLength = static_cast<std::int16_t>(len);
        if (matchLength <= THRESHOLD) {
            matchLength = 1;
            items.push_back({false, ring[r], 0});
            EncodeSymbol(ring[r]);
        } else {
            items.push_back({true, matchLength, matchPosition});
            EncodeSymbol(255 - THRESHOLD + matchLength);
            EncodeMatchPosition(static_cast<unsigned>(matchPosition));
        }
        last_match_length = matchLength;
        for (i = 0; i < last_match_length && (c = ReadStreamByte()) != -1; i++) {
            DeleteMatchNode(s);
            ring[s] = static_cast<std::uint8_t>(c);
            if (s < F - 1)
                ring[s + N] = static_cast<std::uint8_t>(c);
            s = (s + 1) & (N - 1);
            r = (r + 1) & (N - 1);
            InsertMatchNode(r);
        }
        while (i++ < last_match_length) {
            DeleteMatchNode(s);
            s = (s + 1) & (N - 1);
            r = (r + 1) & (N - 1);
            if (--len)
                InsertMatchNode(r);
        }
    } while (len > 0);
    FlushCodeBits();
}

std::vector<std::uint8_t> Encode(const std::vector<std::uint8_t>& input)
{
    std::vector<std::uint8_t> out;
    std::size_t pos = 0;
    const std::uint32_t size = static_cast<std::uint32_t>(input.size());
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>((size >> (8 * i)) & 0xFF));
    EncodeWith([&]() -> int { return pos < input.size() ? input[pos++] : -1; },
               [&](int b) { out.push_back(static_cast<std::uint8_t>(b)); }, size);
    return out;
}

void DecodeWith(std::function<int()> read, std::function<void(int)> write, std::uint32_t size,
                std::uint32_t* target)
{
    MakeTables();
    Reset();
    readByte = std::move(read);
    writeByte = std::move(write);
    decodeTargetSlot = target != nullptr ? target : &decodeTarget;
    *decodeTargetSlot = size;
    if (*decodeTargetSlot == 0)
        return;

    int i, j, k, r, c;
    std::uint32_t count;
    ResetHuffmanTree();
    for (i = 0; i < N - F; i++)
        ring[i] = ' ';
    r = N - F;
    for (count = 0; count < *decodeTargetSlot;) {
        c = DecodeSymbol();
        if (c < 256) {
            WriteStreamByte(c);
            ring[r++] = static_cast<std::uint8_t>(c);
            r &= (N - 1);
            count++;
        } else {
            i = (r - DecodeMatchPosition() - 1) & (N - 1);
            j = c - 255 + THRESHOLD;
            for (k = 0; k < j; k++) {
                c = ring[(i + k) & (N - 1)];
                WriteStreamByte(c);
                ring[r++] = static_cast<std::uint8_t>(c);
                r &= (N - 1);
                count++;
            }
        }
    }
}

std::vector<std::uint8_t> Decode(const std::vector<std::uint8_t>& stream)
{
    std::vector<std::uint8_t> out;
    if (stream.size() < 4)
        return out;
    std::size_t pos = 4;
    const std::uint32_t size =
        stream[0] | (stream[1] << 8) | (stream[2] << 16) | (static_cast<std::uint32_t>(stream[3]) << 24);
    DecodeWith([&]() -> int { return pos < stream.size() ? stream[pos++] : -1; },
               [&](int b) { out.push_back(static_cast<std::uint8_t>(b)); }, size, nullptr);
    return out;
}

std::vector<Item> LastItems()
{
    return items;
}

int LastMaxCodeLength()
{
    return maxCodeLength;
}

void ResetAll()
{
    std::fill(std::begin(ring), std::end(ring), 0);
    Reset();
}

}  // namespace reference
