// LZHUF codec.
//
// ENCODER. The input runs through a 4096-byte ring; the 60 bytes from the
// current position r on are the look-ahead. Every window position is kept in
// one of 256 binary search trees (one per first byte), ordered by the 60-byte
// string that starts there. Inserting r walks down its tree; every node
// passed is compared with the look-ahead, and the longest agreement seen on
// the way (the nearest one among equally long ones) is the match. A node that
// agrees in all 60 bytes is replaced by r, so the older string is never found
// again. Each step codes either a literal or a (length, position) pair and
// then slides the window by as many bytes, deleting the position that leaves
// the window and inserting each new one.
//
// HUFFMAN. Literals and lengths share one adaptive tree of 314 leaves. Nodes
// 0-626 stand in non-decreasing order of their counts (the sibling property),
// the two children of an internal node at an even index and the odd one after
// it, the root at 626. Counting a symbol walks from its leaf to the root,
// adding one to every node and swapping a node that outgrows its right
// neighbour with the last node of its old count. When the root count reaches
// 0x8000 the tree is rebuilt from the halved leaf counts. Encoder and decoder
// do the same steps, so their trees never differ.
//
// The order of every byte read and written is the observable behaviour of
// this module (the byte source counts traffic and may stop the input at any
// byte), so both sides read and write exactly when the plain step-by-step
// algorithm does: output bytes go out as soon as eight code bits are pending,
// and the decoder reads input bytes only when eight or fewer bits remain.
// Bytes taken from and put into the windows are only counted when a slot is
// called, so both sides work ahead of that rule inside the windows: the
// encoder's match finder takes input bytes before its coder gets to them
// (see the match finder), and the decoder decodes most items from bits it
// has looked at further on in its input window (see LzhufDecode). Before any
// slot call each side stands exactly where the plain one would.
#include "codec/lzhuf.h"

#include <bit>
#include <cstddef>
#include <cstring>

static_assert(std::endian::native == std::endian::little,
              "the word-wise string compare needs a little-endian machine");

CodecByteReader CodecReadByte = nullptr;
CodecByteWriter CodecWriteByte = nullptr;
CodecSizeWriter CodecWriteSize = nullptr;
CodecSizeReader CodecReadSize = nullptr;

const std::uint8_t* CodecInNext = nullptr;
const std::uint8_t* CodecInEnd = nullptr;
std::uint8_t* CodecOutNext = nullptr;
std::uint8_t* CodecOutEnd = nullptr;

std::uint32_t DecodeTarget = 0;

namespace {

// Roots of the 256 match trees: matchTree[TREE_ROOTS + b].link[RIGHT].
constexpr int TREE_ROOTS = RING_SIZE + 1;
constexpr int LEAF_BASE = NODE_COUNT;  // nodeChild of a leaf is 627 + symbol
// The string compare reads whole 8-byte words, a few bytes past the end of a
// 60-byte string; the ring is padded so that those reads stay inside it.
constexpr int RING_BYTES = RING_SIZE + MAX_MATCH - 1 + 8;

// Ring: positions 0-4095 form the window; the encoder mirrors positions 0-58
// at 4096-4154 so that a string starting anywhere reads on without wrapping.
// Positions from RING_START on are never reset between streams.
std::uint8_t ring[RING_BYTES];

// Match trees (encoder only). A node is its two child positions, 16 bits
// each, NO_NODE for an empty link; entries TREE_ROOTS + b are the roots (only
// their right link is used). treeParent[NO_NODE] takes the writes made
// through empty links.
//
// A walk down a tree is a chain of dependent loads, so what matters is where
// those loads are served from. Four bytes a node make the trees 17 KB, and
// with the 8 KB of parents and the 4 KB ring everything a step touches stays
// in the first-level data cache. A step reads the child indices of its node
// and, side by side, the string's bytes 1-8 from the ring at the node's
// position. (Links of 64 bits that also carried bytes 1-6 of the string they
// lead to spared that second load, but made the trees 70 KB, so that steps
// waited on the second-level cache: the encoder took 10-14% longer.)
// A node's links are indexed by side, so that a side that data decide
// picks a link by address rather than by a branch.
constexpr int LEFT = 0;   // the strings that come before the node's
constexpr int RIGHT = 1;  // the strings that come after it, or equal it
struct MatchNode {
    std::uint16_t link[2];
};
static_assert(sizeof(MatchNode) == 4);
MatchNode matchTree[TREE_ROOTS + 256];
std::int16_t treeParent[RING_SIZE + 1];

// The nodes of each tree in string order, as a list linked both ways: a
// node's neighbours are the strings just before and just after its own. The
// root heads its tree's list (its `after` is the first node); NO_NODE ends
// it and takes the writes made past the end. A node with two children is
// replaced, when it leaves, by the node just before it, the rightmost of
// its left subtree: the list names it at once, where a walk down the right
// links would take a chain of loads and end at an unforeseeable depth.
struct TreeOrder {
    std::uint16_t before;
    std::uint16_t after;
};
TreeOrder treeOrder[TREE_ROOTS + 256];

// Huffman tree. nodeCount[627] holds 0xFFFF and stops every upward scan.
// nodeParent[627 + s] is the leaf node of symbol s. Past the sentinel the
// decoder keeps spare count slots (see LookupSpare).
constexpr int LOOKUP_BITS = 5;
std::uint16_t nodeCount[NODE_COUNT + 1 + 2 * LOOKUP_BITS];
std::int16_t nodeChild[NODE_COUNT];
std::int16_t nodeParent[NODE_COUNT + SYMBOL_COUNT];

// Decoder lookup of the top levels of the Huffman tree. Entry b, for the
// next LOOKUP_BITS stream bits b, holds where the walk from the root along
// those bits stands after it has reached a leaf or used all LOOKUP_BITS
// bits: lookupCode = (the nodeChild value reached << 4) | bits used, 0 for
// an entry not yet filled, and lookupCount the nodes walked, in the order in
// which counting the symbol visits them: the deepest first, the root last.
// A walk of fewer than LOOKUP_BITS levels is padded at the front with spare
// count slots, so that every entry lists LOOKUP_BITS + 1 nodes and the
// counting runs the same straight steps whatever the code length.
//
// An entry depends only on nodeChild of the nodes it walks through. Counting
// changes nodeChild only where two nodes change places, and those keep their
// own places in the tree (only what hangs below them moves), so a swap makes
// stale exactly the entries whose bits begin with the code of one of the two
// nodes, when that node is at most LOOKUP_BITS levels deep; the decoder
// empties those entries at each swap (a few in a hundred symbols on text)
// and refills entries when it next meets them. A rebuild empties them all.
//
// Five levels measured best (3 to 8 tried): deeper entries go stale more
// often, and refilling them costs more than walking the levels bit by bit.
constexpr int LOOKUP_SIZE = 1 << LOOKUP_BITS;
constexpr int LOOKUP_PATH = 8;  // LOOKUP_BITS + 1 nodes, padded to a power of two
static_assert(LOOKUP_PATH >= LOOKUP_BITS + 1);
std::uint16_t lookupCode[LOOKUP_SIZE];
std::int16_t lookupCount[LOOKUP_SIZE][LOOKUP_PATH];

// Spare count slot i stands in for a level that a short code does not have.
// Its right neighbour holds 0xFFFF, so counting it never moves anything; each
// padding level has its own slot, so that the counts of one symbol do not
// wait on each other in memory.
constexpr int LookupSpare(int i)
{
    return NODE_COUNT + 1 + 2 * i;
}

// Decoder history: the decoded bytes in a straight line, the last 4096 of
// them being the window. A match copies from w - position - 1 on without
// wrapping, and whole words may be written past w, where nothing is kept
// yet. When w comes near the end, the window moves back to the start. The
// ring itself is loaded from the history at the start of a decode and
// written back at its end; history[j] stands for ring position
// (historyBase + j) mod 4096.
constexpr int HISTORY_SIZE = 16384;
// Room kept after w: a whole match and a word written past it.
constexpr int HISTORY_SLACK = MAX_MATCH + 12;
std::uint8_t history[HISTORY_SIZE];
std::uint32_t historyBase;

// Bit buffers. inBits keeps its valid bits at the top of the word, as does
// outBits; the counts say how many are valid / pending.
std::uint32_t inBits;
std::int32_t inCount;
std::uint64_t outBits;
std::int32_t outCount;

// Position code: u = v >> 6 gets a canonical prefix code, consecutive binary
// numbers in increasing u, lengthened by 0 bits where the length steps up:
// 3 bits for u = 0, 4 for 1-3, 5 for 4-11, 6 for 12-23, 7 for 24-47, 8 for
// 48-63. The encoder keeps each code left-aligned in a byte; the decoder
// looks the next eight stream bits up in two 256-entry tables.
struct PositionTables {
    std::uint8_t encodeLength[64];
    std::uint8_t encodeCode[64];
    std::uint8_t decodeValue[256];
    std::uint8_t decodeLength[256];
};

constexpr int PositionCodeLength(int u)
{
    return u < 1 ? 3 : u < 4 ? 4 : u < 12 ? 5 : u < 24 ? 6 : u < 48 ? 7 : 8;
}

constexpr PositionTables MakePositionTables()
{
    PositionTables t{};
    int code = 0;
    int length = 3;
    for (int u = 0; u < 64; ++u) {
        if (u > 0) {
            const int next = PositionCodeLength(u);
            code = (code + 1) << (next - length);
            length = next;
        }
        t.encodeLength[u] = static_cast<std::uint8_t>(length);
        t.encodeCode[u] = static_cast<std::uint8_t>(code << (8 - length));
        const int first = code << (8 - length);
        for (int i = first; i < first + (1 << (8 - length)); ++i) {
            t.decodeValue[i] = static_cast<std::uint8_t>(u);
            t.decodeLength[i] = static_cast<std::uint8_t>(length);
        }
    }
    return t;
}

constexpr PositionTables positionTables = MakePositionTables();
static_assert(positionTables.encodeCode[11] == 0x88 && positionTables.encodeLength[11] == 5);
static_assert(positionTables.encodeCode[63] == 0xFF && positionTables.decodeValue[0xEF] == 47);

// ---------------------------------------------------------------------------
// The byte windows, cached in locals of the running encoder or decoder. Every
// slot call publishes the cache first and rereads the windows after it,
// because the owner may move them (a new buffer, the end of the input).
// ---------------------------------------------------------------------------
struct Port {
    const std::uint8_t* in;
    const std::uint8_t* inEnd;
    std::uint8_t* out;
    std::uint8_t* outEnd;
};

inline Port LoadPort()
{
    return Port{CodecInNext, CodecInEnd, CodecOutNext, CodecOutEnd};
}

inline void StorePort(const Port& port)
{
    CodecInNext = port.in;
    CodecOutNext = port.out;
}

// The slow paths take the cached positions by value, so that the cache
// itself never has its address taken and stays in registers.
[[gnu::noinline]] int ReadByteSlow(const std::uint8_t* in, std::uint8_t* out)
{
    CodecInNext = in;
    CodecOutNext = out;
    return CodecReadByte();
}

[[gnu::noinline]] void WriteByteSlow(const std::uint8_t* in, std::uint8_t* out, int b)
{
    CodecInNext = in;
    CodecOutNext = out;
    CodecWriteByte(b);
}

[[gnu::always_inline]] inline int ReadByte(Port& port)
{
    if (port.in != port.inEnd) [[likely]]
        return *port.in++;
    const int b = ReadByteSlow(port.in, port.out);
    port = LoadPort();
    return b;
}

[[gnu::always_inline]] inline void WriteByte(Port& port, int b)
{
    if (port.out != port.outEnd) [[likely]] {
        *port.out++ = static_cast<std::uint8_t>(b);
        return;
    }
    WriteByteSlow(port.in, port.out, b);
    port = LoadPort();
}

// ---------------------------------------------------------------------------
// Huffman tree
// ---------------------------------------------------------------------------
void ResetHuffmanTree()
{
    for (int s = 0; s < SYMBOL_COUNT; ++s) {
        nodeCount[s] = 1;
        nodeChild[s] = static_cast<std::int16_t>(LEAF_BASE + s);
        nodeParent[LEAF_BASE + s] = static_cast<std::int16_t>(s);
    }
    int i = 0;
    for (int j = SYMBOL_COUNT; j < NODE_COUNT; ++j) {
        nodeCount[j] = static_cast<std::uint16_t>(nodeCount[i] + nodeCount[i + 1]);
        nodeChild[j] = static_cast<std::int16_t>(i);
        nodeParent[i] = nodeParent[i + 1] = static_cast<std::int16_t>(j);
        i += 2;
    }
    nodeCount[NODE_COUNT] = 0xFFFF;
    nodeParent[ROOT_NODE] = 0;
}

// Halves the leaf counts (rounding up) and builds the internal nodes anew,
// each new node placed after every node whose count does not exceed its own.
[[gnu::noinline]] void RebuildHuffmanTree()
{
    int j = 0;
    for (int i = 0; i < NODE_COUNT; ++i) {
        if (nodeChild[i] >= LEAF_BASE) {
            nodeCount[j] = static_cast<std::uint16_t>((nodeCount[i] + 1) / 2);
            nodeChild[j] = nodeChild[i];
            ++j;
        }
    }
    int i = 0;
    for (j = SYMBOL_COUNT; j < NODE_COUNT; ++j) {
        const std::uint32_t f = static_cast<std::uint32_t>(nodeCount[i]) + nodeCount[i + 1];
        int k = j - 1;
        while (f < nodeCount[k])
            --k;
        ++k;
        const int moved = j - k;
        std::memmove(&nodeCount[k + 1], &nodeCount[k], sizeof nodeCount[0] * moved);
        std::memmove(&nodeChild[k + 1], &nodeChild[k], sizeof nodeChild[0] * moved);
        nodeCount[k] = static_cast<std::uint16_t>(f);
        nodeChild[k] = static_cast<std::int16_t>(i);
        i += 2;
    }
    for (i = 0; i < NODE_COUNT; ++i) {
        const int k = nodeChild[i];
        nodeParent[k] = static_cast<std::int16_t>(i);
        if (k < LEAF_BASE)
            nodeParent[k + 1] = static_cast<std::int16_t>(i);
    }
}

// Empties the lookup entries that walk through node p (see lookupCode): the
// code of p is read off the parity of p and of each node above it.
[[gnu::noinline]] void ForgetLookupThrough(int p)
{
    unsigned code = 0;
    int depth = 0;
    while (p != ROOT_NODE) {
        if (depth == LOOKUP_BITS)
            return;
        code |= static_cast<unsigned>(p & 1) << depth;
        p = nodeParent[p];
        ++depth;
    }
    const int shift = LOOKUP_BITS - depth;
    std::memset(&lookupCode[code << shift], 0, sizeof lookupCode[0] << shift);
}

// Counting one node: x gains one. A node whose new count k exceeds its right
// neighbour's changes places with the last node whose count is still below
// k (all nodes from x up to that one held k - 1). Returns the node where the
// count now stands: x, or the node it changed places with. When decoding, a
// swap also empties the lookup entries that walk through either node; the
// decoder passes Shallow false for a node it knows to lie deeper than the
// lookup reaches, whose own entries there are none to empty.
template <bool Decoding, bool Shallow = true>
[[gnu::always_inline]] inline int CountNode(int x)
{
    const std::uint32_t k = ++nodeCount[x];
    if (k <= nodeCount[x + 1]) [[likely]]
        return x;
    int l = x + 1;
    while (k > nodeCount[l + 1])
        ++l;
    if constexpr (Decoding) {
        if constexpr (Shallow)
            ForgetLookupThrough(x);
        ForgetLookupThrough(l);
    }
    nodeCount[x] = nodeCount[l];
    nodeCount[l] = static_cast<std::uint16_t>(k);
    const int i = nodeChild[x];
    nodeParent[i] = static_cast<std::int16_t>(l);
    if (i < LEAF_BASE)
        nodeParent[i + 1] = static_cast<std::int16_t>(l);
    const int j = nodeChild[l];
    nodeChild[l] = static_cast<std::int16_t>(i);
    nodeParent[j] = static_cast<std::int16_t>(x);
    if (j < LEAF_BASE)
        nodeParent[j + 1] = static_cast<std::int16_t>(x);
    nodeChild[x] = static_cast<std::int16_t>(j);
    return l;
}

// Counts every node from x up to the root, following the parent links.
template <bool Decoding>
inline void CountUpFrom(int x)
{
    do {
        x = nodeParent[CountNode<Decoding>(x)];
    } while (x != 0);
}

// ---------------------------------------------------------------------------
// Match tree
// ---------------------------------------------------------------------------
void InitMatchTree()
{
    for (int i = TREE_ROOTS; i < TREE_ROOTS + 256; ++i) {
        matchTree[i].link[RIGHT] = NO_NODE;
        treeOrder[i].after = NO_NODE;
    }
    for (int i = 0; i < RING_SIZE; ++i)
        treeParent[i] = NO_NODE;
    matchTree[NO_NODE].link[LEFT] = matchTree[NO_NODE].link[RIGHT] = NO_NODE;
}

inline std::uint64_t Load64(const std::uint8_t* p)
{
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void Store64(std::uint8_t* p, std::uint64_t v)
{
    std::memcpy(p, &v, sizeof v);
}

// Comparing two big-endian words as numbers compares their bytes in string
// order: the first differing byte decides, as it does byte by byte.
inline std::uint64_t Word(const std::uint8_t* p)
{
    return __builtin_bswap64(Load64(p));
}

// a when c holds, else b, by a conditional move: for conditions as good as
// random, where a branch would be mispredicted half the time. (GCC turns
// such choices back into branches when several of them meet, even when told
// that they are unpredictable, so on x86 the move is written out.)
[[gnu::always_inline]] inline std::size_t Choose(bool c, std::size_t a, std::size_t b)
{
#if defined(__x86_64__) || defined(__i386__)
    const std::size_t taken = c;
    asm("test %[c], %[c]\n\tcmovnz %[a], %[b]" : [b] "+r"(b) : [c] "r"(taken), [a] "rm"(a) : "cc");
    return b;
#else
    return __builtin_expect_with_probability(c, 1, 0.5) ? a : b;
#endif
}

// The link through which the parent of p reaches it.
inline std::uint16_t& LinkTo(int parent, int p)
{
    return matchTree[parent].link[matchTree[parent].link[RIGHT] == p];
}

// A match as the finder reports it: (length << 12) | position value, with
// length 0 when no agreement is longer than 2 bytes.
constexpr int MatchLengthOf(std::uint32_t match)
{
    return static_cast<int>(match >> 12);
}
constexpr int MatchPositionOf(std::uint32_t match)
{
    return static_cast<int>(match & (RING_SIZE - 1));
}

// One insertion on its way down its tree: the string at r is compared with
// node after node and goes in where the walk leaves the tree.
//
// A step loads the node's two links and its string's bytes 1-8 side by side
// and keeps one link with a conditional move. The length of an agreement
// comes from the leading zero bits of the XOR, and the best match is kept as
// one number with a conditional move, so no step has a branch that data
// decide. Only when those eight bytes all agree (fewer than one step in
// thirty on text) does the compare go on over the ring (StepOnRing). The
// walk keeps only what its next step needs, so that walks side by side stay
// in registers; the side of the last node where r goes in is found again at
// the end. Indices are size_t so that they go into the load addresses as
// they stand.
struct Descent {
    std::uint64_t head;  // bytes 1-8 of the string at r, in string order
    std::size_t r;
    std::size_t node;  // the node last compared (or the root)
    std::size_t next;  // the node to compare next, NO_NODE once the walk has left the tree
    // The best match so far as one number, (length << 12) | (4095 - d),
    // with d the position value: a longer match, or an equally long nearer
    // one, is a larger number. It starts at length 2, so only agreements of
    // 3 bytes or more count. Length 60 means that r has taken the place of a
    // node that agreed in all 60 bytes.
    std::size_t best;
};

// How many of the first 60 bytes of the strings at a and b agree, given that
// the first `from` do, and whether a's comes after b's; the reads past a
// 60-byte string stay in the ring's padding and only ever decide a length
// that counts as 60.
struct Agreement {
    int length;
    bool above;
};

inline Agreement CompareOnFrom(int from, std::size_t a, std::size_t b)
{
    for (int i = from;; i += 8) {
        const std::uint64_t x = Word(ring + a + i);
        const std::uint64_t y = Word(ring + b + i);
        if (x != y) {
            const int length = i + (std::countl_zero(x ^ y) >> 3);
            return {length < MAX_MATCH ? length : MAX_MATCH, x > y};
        }
        if (i + 8 >= MAX_MATCH)
            return {MAX_MATCH, false};
    }
}

// 4095 - d for the match of r with node, d = ((r - node) mod 4096) - 1.
inline std::size_t Nearness(std::size_t node, std::size_t r)
{
    return (node - r) & (RING_SIZE - 1);
}

// Sixty bytes agree: r takes p's place and p leaves the tree, so the older
// string is never found again.
[[gnu::noinline]] void ReplaceMatchNode(int r, int p)
{
    const MatchNode node = matchTree[p];
    treeParent[r] = treeParent[p];
    matchTree[r] = node;
    treeParent[node.link[LEFT]] = static_cast<std::int16_t>(r);
    treeParent[node.link[RIGHT]] = static_cast<std::int16_t>(r);
    LinkTo(treeParent[p], p) = static_cast<std::uint16_t>(r);
    treeParent[p] = NO_NODE;
    const TreeOrder order = treeOrder[p];
    treeOrder[r] = order;
    treeOrder[order.before].after = static_cast<std::uint16_t>(r);
    treeOrder[order.after].before = static_cast<std::uint16_t>(r);
}

// The rest of a step whose first eight bytes after the first agree: the
// agreement's length, and the next node. When all 60 bytes agree, r
// replaces the node and the walk ends (next is NO_NODE).
struct RingStep {
    std::size_t next;
    std::size_t length;
};

[[gnu::noinline]] RingStep StepOnRing(std::size_t r, std::size_t node)
{
    const Agreement agreement = CompareOnFrom(9, r, node);
    if (agreement.length == MAX_MATCH) {
        ReplaceMatchNode(static_cast<int>(r), static_cast<int>(node));
        return {NO_NODE, MAX_MATCH};
    }
    return {matchTree[node].link[agreement.above],
            static_cast<std::size_t>(agreement.length)};
}

[[gnu::always_inline]] inline void BeginDescent(Descent& w, int r)
{
    w.head = Word(ring + r + 1);
    w.r = static_cast<std::size_t>(r);
    w.node = TREE_ROOTS + ring[r];
    w.next = matchTree[w.node].link[RIGHT];
    w.best = (MATCH_THRESHOLD << 12) | (RING_SIZE - 1);
    matchTree[r].link[LEFT] = matchTree[r].link[RIGHT] = NO_NODE;
}

[[gnu::always_inline]] inline void StepDescent(Descent& w)
{
    const std::size_t node = w.next;
    const std::size_t left = matchTree[node].link[LEFT];
    const std::size_t right = matchTree[node].link[RIGHT];
    const std::uint64_t other = Word(ring + 1 + node);
    w.node = node;
    std::size_t length;
    if (w.head != other) [[likely]] {
        length = 1 + static_cast<std::size_t>(std::countl_zero(w.head ^ other) >> 3);
        // Which way the walk goes is as good as random: a conditional move.
        w.next = __builtin_expect_with_probability(w.head > other, 1, 0.5) ? right : left;
    } else {
        const RingStep step = StepOnRing(w.r, node);
        w.next = step.next;
        length = step.length;
    }
    const std::size_t candidate = (length << 12) | Nearness(node, w.r);
    w.best = candidate > w.best ? candidate : w.best;
}

// Hangs r where the walk left the tree and gives the match it found: the
// longest agreement seen on the way down, the nearest of equally long ones.
[[gnu::always_inline]] inline std::uint32_t EndDescent(const Descent& w)
{
    const std::size_t length = w.best >> 12;
    if (length != MAX_MATCH) {
        // The walk came from the root's right link, or from the side of p
        // that the string at r lies on: told by bytes 1-8 again, unless
        // they agree.
        const std::size_t p = w.node;
        const std::uint64_t other = Word(ring + 1 + (p & (RING_SIZE - 1)));
        const bool root = p >= TREE_ROOTS;
        bool above = root | (w.head > other);
        if ((w.head == other) & !root) [[unlikely]]
            above = CompareOnFrom(9, w.r, p).above;
        matchTree[p].link[above] = static_cast<std::uint16_t>(w.r);
        treeParent[w.r] = static_cast<std::int16_t>(p);
        // A new leaf right of p comes just after p, one left of p just
        // before it (the root stands before every string of its tree).
        const std::uint16_t r = static_cast<std::uint16_t>(w.r);
        const TreeOrder near = treeOrder[p];
        const std::size_t before = Choose(above, p, near.before);
        const std::size_t after = Choose(above, near.after, p);
        treeOrder[r] = {static_cast<std::uint16_t>(before), static_cast<std::uint16_t>(after)};
        treeOrder[before].after = r;
        treeOrder[after].before = r;
    }
    const std::size_t position = (RING_SIZE - 1) - (w.best & (RING_SIZE - 1));
    // Whether anything was found is as good as random too: a mask.
    const std::size_t kept = length & -static_cast<std::size_t>(length > MATCH_THRESHOLD);
    return static_cast<std::uint32_t>((kept << 12) | position);
}

// Inserts the string at r into its tree; returns the match found on the way.
std::uint32_t InsertMatchNode(int r)
{
    Descent w;
    BeginDescent(w, r);
    while (w.next != NO_NODE)
        StepDescent(w);
    return EndDescent(w);
}

// Inserts the strings at a and b, which begin with different bytes and so go
// into different trees, walking both trees at once: each walk is a chain of
// dependent loads, and two chains side by side take little longer than one.
[[gnu::noinline]] void InsertTwoMatchNodes(int a, int b, std::uint32_t& matchA, std::uint32_t& matchB)
{
    Descent wa;
    Descent wb;
    BeginDescent(wa, a);
    BeginDescent(wb, b);
    while ((wa.next != NO_NODE) & (wb.next != NO_NODE)) {
        StepDescent(wa);
        StepDescent(wb);
    }
    while (wa.next != NO_NODE)
        StepDescent(wa);
    while (wb.next != NO_NODE)
        StepDescent(wb);
    matchA = EndDescent(wa);
    matchB = EndDescent(wb);
}

// Takes the oldest string out of its tree. Which case a node is in (a leaf,
// one child, two children; the node just before it its left child or deeper)
// is as good as random: a branch on it would be mispredicted in about one
// deletion in three, each time flushing the work behind it. So every case
// runs the same stores: a node q takes p's place (the one child, or the node
// just before p when it has two, or NO_NODE), and each store that a case
// does not need goes where it changes nothing: into p itself, which is
// leaving, into NO_NODE's slots, or a value back where it was. A parent
// written for q early is overwritten at the end. NO_NODE's links stay
// NO_NODE for this.
[[gnu::always_inline]] inline void DeleteMatchNode(int p)
{
    const std::size_t parent = static_cast<std::uint16_t>(treeParent[p]);
    if (parent == NO_NODE)
        return;
    const TreeOrder order = treeOrder[p];
    treeOrder[order.before].after = order.after;
    treeOrder[order.after].before = order.before;
    const std::size_t left = matchTree[p].link[LEFT];
    const std::size_t right = matchTree[p].link[RIGHT];
    const bool both = (left != NO_NODE) & (right != NO_NODE);
    const std::size_t q = Choose(both, order.before, Choose(left == NO_NODE, right, left));
    const std::size_t qParent = static_cast<std::uint16_t>(treeParent[q]);
    const std::size_t qLeft = matchTree[q].link[LEFT];
    const std::size_t qRight = matchTree[q].link[RIGHT];
    const bool deep = both & (q != left);
    matchTree[Choose(deep, qParent, p)].link[RIGHT] = static_cast<std::uint16_t>(qLeft);
    treeParent[qLeft] = static_cast<std::int16_t>(Choose(deep, qParent, q));
    matchTree[q].link[LEFT] = static_cast<std::uint16_t>(Choose(deep, left, qLeft));
    treeParent[left] = static_cast<std::int16_t>(q);
    matchTree[q].link[RIGHT] = static_cast<std::uint16_t>(Choose(both, right, qRight));
    treeParent[right] = static_cast<std::int16_t>(q);
    treeParent[q] = static_cast<std::int16_t>(parent);
    LinkTo(static_cast<int>(parent), p) = static_cast<std::uint16_t>(q);
    treeParent[p] = NO_NODE;
}

// ---------------------------------------------------------------------------
// Match finder
//
// Which positions go into and out of the trees does not depend on what the
// coder makes of the matches: every input byte deletes the oldest position,
// takes its place in the ring and completes the string that goes in next.
// So the finder may take input bytes before the coder gets to them and keep
// the match of every insertion until the coder asks for it. It takes only
// bytes that are already in the input window, and only as many as the coder
// will have taken before its next code byte could meet the end of the output
// window: taking a byte from the window is then seen by nobody before the
// coder takes it too, and every slot call finds the windows where the plain
// step-by-step encoder would have left them.
//
// Taking bytes in batches lets the finder put two strings into their trees at
// once, whenever that gives the trees the plain order gives them: two
// consecutive strings that begin with different bytes go into different
// trees. The second position leaving must leave after the first string goes
// in when it is in that string's tree, and may leave before otherwise; it
// leaves its tree before the second string goes in, as the plain order has
// it, either way, since it is never in both trees. Its new byte may go into
// the ring before it leaves: a node's own first byte is never read while it
// is in its tree (its tree tells it), and no string in a tree reaches it.
// ---------------------------------------------------------------------------

constexpr int FOUND_SIZE = 128;
// The most bytes the finder takes ahead of the coder.
constexpr int MAX_AHEAD = 96;
static_assert(MAX_AHEAD < FOUND_SIZE);
// The code bits of an item: a symbol code has at most 21 bits, a position 14.
// A literal takes one input byte and a match at least three, so items that
// take k input bytes write at most 21 k bits, and the item that takes the
// last of them at most 35.
constexpr int MAX_SYMBOL_BITS = 21;
constexpr int MAX_POSITION_BITS = 14;

// How many input bytes the finder may take ahead of the coder: the coder's
// items until it has taken them all must fit into the room left in the
// output window, together with the bits pending.
inline std::ptrdiff_t AheadRoom(const Port& port)
{
    const std::ptrdiff_t bits = 8 * (port.outEnd - port.out) - outCount - MAX_POSITION_BITS;
    return bits > 0 ? bits / MAX_SYMBOL_BITS : 0;
}

// Matches of the insertions the coder has not reached yet, by position.
std::uint32_t found[FOUND_SIZE];

struct Finder {
    int s;  // the oldest position, the next to leave
    int r;  // the newest string in the trees
};
Finder finder;

inline void EnterByte(int s, int b)
{
    ring[s] = static_cast<std::uint8_t>(b);
    if (s < MAX_MATCH - 1)
        ring[RING_SIZE + s] = static_cast<std::uint8_t>(b);
}

// One input byte: the oldest position leaves, b takes its place, and the
// string at r + 1 goes in.
[[gnu::always_inline]] inline void FeedByte(Finder& f, int b)
{
    DeleteMatchNode(f.s);
    EnterByte(f.s, b);
    f.s = (f.s + 1) & (RING_SIZE - 1);
    f.r = (f.r + 1) & (RING_SIZE - 1);
    found[f.r % FOUND_SIZE] = InsertMatchNode(f.r);
}

// n input bytes, two at a time where the trees allow.
[[gnu::noinline]] void FeedBytes(const std::uint8_t* bytes, int n)
{
    Finder f = finder;
    int i = 0;
    while (i < n) {
        const int a = (f.r + 1) & (RING_SIZE - 1);
        const int b = (f.r + 2) & (RING_SIZE - 1);
        const int next = (f.s + 1) & (RING_SIZE - 1);
        if (i + 1 < n && ring[a] != ring[b]) {
            DeleteMatchNode(f.s);
            EnterByte(f.s, bytes[i]);
            const bool later = treeParent[next] != NO_NODE && ring[next] == ring[a];
            if (!later) [[likely]]
                DeleteMatchNode(next);
            EnterByte(next, bytes[i + 1]);
            std::uint32_t& matchA = found[a % FOUND_SIZE];
            std::uint32_t& matchB = found[b % FOUND_SIZE];
            InsertTwoMatchNodes(a, b, matchA, matchB);
            if (later) [[unlikely]]
                DeleteMatchNode(next);
            f.s = (next + 1) & (RING_SIZE - 1);
            f.r = b;
            i += 2;
        } else {
            FeedByte(f, bytes[i]);
            ++i;
        }
    }
    finder = f;
}

// ---------------------------------------------------------------------------
// Encoder output
// ---------------------------------------------------------------------------

// Appends n code bits (at most 56 - outCount), held left-aligned in code,
// and sends every completed byte at once.
[[gnu::always_inline]] inline void PutCodeBits(Port& port, int n, std::uint64_t code)
{
    outBits |= code >> outCount;
    outCount += n;
    while (outCount >= 8) {
        WriteByte(port, static_cast<int>(outBits >> 56));
        outBits <<= 8;
        outCount -= 8;
    }
}

// The code of a symbol is its path from the root down to its leaf, 1 for the
// second child of a pair. A tree whose counts keep the sibling property and
// whose root stays at or below 0x8000 is at most 21 levels deep (a deeper one
// would need Fibonacci-sized counts), so the whole path fits one 32-bit word;
// codes longer than 16 bits come out whole.
//
// An item goes out as one run of bits, the symbol's code and for a match the
// position's, and so writes its bytes in one go. The code is read off the
// path while the path is counted, which no slot call can tell, as none sees
// the tree: counting a node changes neither the parent links above it nor
// their parities unless the node changes places, and then only below it and
// below the node it changes places with, which is no ancestor of it (every
// ancestor outweighs the nodes it may change places with). So after a swap
// the code goes on up the same links, and the counting from the new place.
[[gnu::always_inline]] inline void EncodeItem(Port& port, int s, bool match, int v)
{
    std::uint32_t code = 0;
    int n = 0;
    int x = nodeParent[LEAF_BASE + s];
    // Where the counting goes on once the code is out, 0 for nowhere.
    int countOn = 0;
    const bool rebuild = nodeCount[ROOT_NODE] == COUNT_LIMIT;
    if (rebuild) [[unlikely]] {
        // The tree is rebuilt before the counting, after the code is read.
        for (; x != ROOT_NODE; x = nodeParent[x], ++n)
            code = (code >> 1) | (static_cast<std::uint32_t>(x & 1) << 31);
    } else {
        for (;;) {
            code = (code >> 1) | (static_cast<std::uint32_t>(x & 1) << 31);
            ++n;
            const int at = CountNode<false>(x);
            const int up = nodeParent[x];
            if (at != x) [[unlikely]] {
                for (int y = up; y != ROOT_NODE; y = nodeParent[y], ++n)
                    code = (code >> 1) | (static_cast<std::uint32_t>(y & 1) << 31);
                countOn = nodeParent[at];
                break;
            }
            x = up;
            if (x == ROOT_NODE) {
                ++nodeCount[ROOT_NODE];  // the root never changes places
                break;
            }
        }
    }
    // The position: its upper 6 bits by the fixed code, then its lower 6.
    const int u = v >> 6;
    const int upper = positionTables.encodeLength[u];
    const std::uint64_t position = (static_cast<std::uint64_t>(positionTables.encodeCode[u]) << 56) |
                                   (static_cast<std::uint64_t>(v & 0x3F) << (58 - upper));
    std::uint64_t bits = static_cast<std::uint64_t>(code) << 32;
    if (match) {
        bits |= position >> n;
        n += upper + 6;
    }
    PutCodeBits(port, n, bits);
    if (rebuild) [[unlikely]] {
        RebuildHuffmanTree();
        CountUpFrom<false>(nodeParent[LEAF_BASE + s]);
    } else if (countOn != 0) [[unlikely]] {
        CountUpFrom<false>(countOn);
    }
}

// ---------------------------------------------------------------------------
// Decoder input
// ---------------------------------------------------------------------------

// Tops the bit buffer up while eight or fewer bits are left, one byte at a
// time; past the end of the input the bytes count as 0.
[[gnu::always_inline]] inline void FillCodeBits(Port& port, std::uint32_t& bits, int& count)
{
    while (count <= 8) {
        int b = ReadByte(port);
        if (b < 0)
            b = 0;
        bits |= static_cast<std::uint32_t>(b) << (24 - count);
        count += 8;
    }
}

[[gnu::always_inline]] inline int GetCodeBit(Port& port, std::uint32_t& bits, int& count)
{
    FillCodeBits(port, bits, count);
    const int bit = static_cast<int>(bits >> 31);
    bits <<= 1;
    --count;
    return bit;
}

[[gnu::always_inline]] inline int GetCodeByte(Port& port, std::uint32_t& bits, int& count)
{
    FillCodeBits(port, bits, count);
    const int byte = static_cast<int>(bits >> 24);
    bits <<= 8;
    count -= 8;
    return byte;
}

// Fills lookup entry b (see lookupCode) by walking down from the root.
[[gnu::noinline]] void FillLookup(int b)
{
    std::int16_t path[LOOKUP_BITS + 1];
    path[0] = ROOT_NODE;
    int x = nodeChild[ROOT_NODE];
    int used = 0;
    do {
        const int node = x + ((b >> (LOOKUP_BITS - 1 - used)) & 1);
        path[++used] = static_cast<std::int16_t>(node);
        x = nodeChild[node];
    } while (x < LEAF_BASE && used < LOOKUP_BITS);
    std::int16_t* up = lookupCount[b];
    int k = 0;
    for (; k < LOOKUP_BITS - used; ++k)
        up[k] = static_cast<std::int16_t>(LookupSpare(k));
    for (int level = used; level >= 0; --level)
        up[k++] = path[level];
    lookupCode[b] = static_cast<std::uint16_t>((x << 4) | used);
}

// CountNode for the decoder, with the rare swap out of line, so that the
// straight counting steps of a symbol stay short.
template <bool Shallow>
[[gnu::noinline]] int CountNodeOutOfLine(int x)
{
    return CountNode<true, Shallow>(x);
}

template <bool Shallow>
[[gnu::always_inline]] inline int CountDecodedNode(int x)
{
    if (nodeCount[x] + 1u <= nodeCount[x + 1]) [[likely]] {
        ++nodeCount[x];
        return x;
    }
    return CountNodeOutOfLine<Shallow>(x);
}

// Counts decoded symbol s, the tree rebuilt first when the root has reached
// 0x8000. The nodes walked are deep[0 .. n - 1] below the levels of lookup
// entry b (top down), and the entry's nodes. As long as no node changes
// places, the next node up is the one the walk passed, so the counting need
// not wait for the parent links. Swaps are rare (a few in a hundred symbols
// on text); after one the path above is another, and the counting goes on
// through the parent links. A rebuild invalidates the whole path.
[[gnu::always_inline]] inline void CountDecodedSymbol(int s, const std::int16_t* deep, int n, int b)
{
    if (nodeCount[ROOT_NODE] == COUNT_LIMIT) [[unlikely]] {
        RebuildHuffmanTree();
        std::memset(lookupCode, 0, sizeof lookupCode);
        CountUpFrom<true>(nodeParent[LEAF_BASE + s]);
        return;
    }
    int x = 0;
    int at = 0;
    for (int i = n - 1; i >= 0; --i) {
        x = deep[i];
        at = CountDecodedNode<false>(x);
        if (at != x) [[unlikely]]
            goto swapped;
    }
    {
        const std::int16_t* up = lookupCount[b];
#pragma GCC unroll 8
        for (int i = 0; i < LOOKUP_BITS; ++i) {
            x = up[i];
            at = CountDecodedNode<true>(x);
            if (at != x) [[unlikely]]
                goto swapped;
        }
        // The root has the 0xFFFF sentinel on its right: it never moves.
        ++nodeCount[ROOT_NODE];
        return;
    }
swapped:
    const int parent = nodeParent[at];
    if (parent != 0)
        CountUpFrom<true>(parent);
}

inline std::uint64_t LoadBig64(const std::uint8_t* p)
{
    return __builtin_bswap64(Load64(p));
}

// Moves the window (the last 4096 decoded bytes) back to the start of the
// history.
[[gnu::noinline]] void SlideHistory(int& w)
{
    std::memmove(history, history + w - RING_SIZE, RING_SIZE);
    historyBase += static_cast<std::uint32_t>(w - RING_SIZE);
    w = RING_SIZE;
}

// ---------------------------------------------------------------------------
// Memory helpers' source and sink
// ---------------------------------------------------------------------------
std::uint32_t MemoryDeclaredSize;
std::uint32_t MemoryDropped;

std::int16_t MemoryReadByte()
{
    return -1;
}

void MemoryWriteByte(std::int32_t)
{
    ++MemoryDropped;
}

std::uint32_t MemoryWriteSize()
{
    for (int shift = 0; shift < 32; shift += 8) {
        const int b = static_cast<int>((MemoryDeclaredSize >> shift) & 0xFF);
        if (CodecOutNext != CodecOutEnd) {
            *CodecOutNext++ = static_cast<std::uint8_t>(b);
        } else {
            MemoryWriteByte(b);
        }
    }
    return MemoryDeclaredSize;
}

std::uint32_t MemoryReadSize()
{
    if (CodecInEnd - CodecInNext < 4) {
        CodecInNext = CodecInEnd;
        return 0;
    }
    std::uint32_t size = 0;
    for (int shift = 0; shift < 32; shift += 8)
        size |= static_cast<std::uint32_t>(*CodecInNext++) << shift;
    return size;
}

void PointAtMemory(const std::uint8_t* in, std::uint32_t inCount, std::uint8_t* out,
                   std::uint32_t outCapacity)
{
    ResetCodecState();
    CodecReadByte = MemoryReadByte;
    CodecWriteByte = MemoryWriteByte;
    CodecWriteSize = MemoryWriteSize;
    CodecReadSize = MemoryReadSize;
    CodecInNext = in;
    CodecInEnd = in + inCount;
    CodecOutNext = out;
    CodecOutEnd = out + outCapacity;
    MemoryDropped = 0;
}

}  // namespace

void ResetCodecState()
{
    inBits = 0;
    inCount = 0;
    outBits = 0;
    outCount = 0;
    DecodeTarget = 0;
    CodecInNext = CodecInEnd = nullptr;
    CodecOutNext = CodecOutEnd = nullptr;
}

void ResetLzhufModule()
{
    std::memset(ring, 0, sizeof ring);
    std::memset(matchTree, 0, sizeof matchTree);
    std::memset(treeParent, 0, sizeof treeParent);
    std::memset(found, 0, sizeof found);
    std::memset(nodeCount, 0, sizeof nodeCount);
    std::memset(nodeChild, 0, sizeof nodeChild);
    std::memset(nodeParent, 0, sizeof nodeParent);
    std::memset(lookupCode, 0, sizeof lookupCode);
    std::memset(lookupCount, 0, sizeof lookupCount);
    std::memset(history, 0, sizeof history);
    historyBase = 0;
    CodecReadByte = nullptr;
    CodecWriteByte = nullptr;
    CodecWriteSize = nullptr;
    CodecReadSize = nullptr;
    MemoryDeclaredSize = MemoryDropped = 0;
    ResetCodecState();
}

void LzhufEncode()
{
    const std::uint32_t size = CodecWriteSize();
    if (size == 0)
        return;
    ResetHuffmanTree();
    InitMatchTree();
    Port port = LoadPort();

    // The coder stands at r, with len bytes of look-ahead; the finder has
    // taken `ahead` input bytes more than the coder (see FeedBytes).
    int r = RING_START;
    std::memset(ring, ' ', RING_START);
    int len = 0;
    while (len < MAX_MATCH) {
        const int b = ReadByte(port);
        if (b < 0)
            break;
        ring[RING_START + len] = static_cast<std::uint8_t>(b);
        ++len;
    }
    // The strings that begin in the space-filled area just before r go in
    // nearest first; only the last insertion's match is used.
    for (int i = 1; i <= MAX_MATCH; ++i)
        InsertMatchNode(r - i);
    const std::uint32_t first = InsertMatchNode(r);
    found[r % FOUND_SIZE] = first;
    finder = Finder{0, r};
    int ahead = 0;

    do {
        const std::uint32_t match = found[r % FOUND_SIZE];
        int length = MatchLengthOf(match);
        if (length > len)
            length = len;
        const bool isMatch = length > MATCH_THRESHOLD;
        const int symbol = isMatch ? 255 - MATCH_THRESHOLD + length : ring[r];
        length = isMatch ? length : 1;
        EncodeItem(port, symbol, isMatch, MatchPositionOf(match));
        int i = 0;
        if (ahead >= length) [[likely]] {
            // The finder has taken all of the item's bytes already: the
            // coder passes them at once instead of one by one.
            port.in += length;
            ahead -= length;
            r = (r + length) & (RING_SIZE - 1);
            i = length;
        }
        while (i < length) {
            if (ahead == 0) {
                // Every byte the windows hold may go to the finder at once,
                // as long as no code byte can meet the end of the output
                // window before the coder has taken them all.
                std::ptrdiff_t n = port.inEnd - port.in;
                const std::ptrdiff_t room = AheadRoom(port);
                n = n < room ? n : room;
                n = n < MAX_AHEAD ? n : MAX_AHEAD;
                if (n == 0) {
                    const int b = ReadByte(port);
                    if (b < 0)
                        break;
                    FeedByte(finder, b);
                    r = (r + 1) & (RING_SIZE - 1);
                    ++i;
                    continue;
                }
                FeedBytes(port.in, static_cast<int>(n));
                ahead = static_cast<int>(n);
            }
            ++port.in;
            --ahead;
            r = (r + 1) & (RING_SIZE - 1);
            ++i;
        }
        // The input has ended: slide on over the look-ahead still held,
        // keeping every match, since the items are now cut to the bytes
        // left.
        while (i < length) {
            ++i;
            DeleteMatchNode(finder.s);
            finder.s = (finder.s + 1) & (RING_SIZE - 1);
            r = (r + 1) & (RING_SIZE - 1);
            finder.r = r;
            if (--len != 0)
                found[r % FOUND_SIZE] = InsertMatchNode(r);
        }
    } while (len > 0);

    if (outCount > 0)
        WriteByte(port, static_cast<int>(outBits >> 56));
    outBits = 0;
    outCount = 0;
    StorePort(port);
}

void LzhufDecode()
{
    DecodeTarget = CodecReadSize();
    if (DecodeTarget == 0)
        return;
    const std::uint32_t size = DecodeTarget;
    ResetHuffmanTree();
    for (int i = 0; i < LOOKUP_BITS; ++i)
        nodeCount[LookupSpare(i) + 1] = 0xFFFF;
    std::memset(lookupCode, 0, sizeof lookupCode);
    // The window before the first byte: ring positions 4036-4095, which the
    // last stream left, then 0-4035, filled with spaces.
    std::memcpy(history, ring + RING_START, RING_SIZE - RING_START);
    std::memset(history + (RING_SIZE - RING_START), ' ', RING_START);
    historyBase = RING_START;
    int w = RING_SIZE;

    Port port = LoadPort();
    std::uint32_t bits = inBits;
    int count = inCount;
    std::uint32_t produced = 0;
    std::int16_t deep[NODE_COUNT];
    while (produced < DecodeTarget) {
        if (w > HISTORY_SIZE - HISTORY_SLACK) [[unlikely]]
            SlideHistory(w);

        // FAST ITEMS. The bits come from a 64-bit word, topped up from the
        // input window before each item to at least 56 bits (an item takes
        // at most 21 + 8 + 6), and the bytes go to the history only; they
        // are copied to the output window when the fast items stop. An item
        // is decoded first without changing anything; it is kept only when
        // it lies wholly inside both windows (and the size), so that no slot
        // can fall due within it. Otherwise the bits go back and the item is
        // decoded the plain way below, which calls the slots where they fall.
        //
        // The bytes that the plain decoder has read only matter when a slot
        // is called, and it reads them by a fixed rule: before taking a bit
        // or a byte at bit offset t of the code it has read (t >> 3) + 2
        // bytes. Every item ends with a bit, so after an item that ended at
        // offset t, (t + 15) >> 3 bytes are read and 8-15 bits are in hand:
        // with `have` bits in the word and the word topped up to byte `in`,
        // that is byte in - ((have - 8) >> 3).
        //
        // The top-up reads eight bytes, which near the end of the input
        // window would lie beyond it; there the rest of the window is first
        // copied to `tail`, followed by zeros, and decoded from there.
        if (port.inEnd - port.in >= 2 && port.out != port.outEnd) {
            std::uint8_t tail[32];
            const std::uint8_t* in = port.in;
            const std::uint8_t* inEnd = port.inEnd;
            const std::uint8_t* loadLimit = port.inEnd - 8;
            if (port.inEnd - port.in < 16) {
                const auto left = static_cast<std::size_t>(port.inEnd - port.in);
                std::memset(tail, 0, sizeof tail);
                std::memcpy(tail, port.in, left);
                in = tail;
                inEnd = tail + left;
                loadLimit = tail + 16;
            }
            const std::uint8_t* const start = in;
            std::uint64_t word = static_cast<std::uint64_t>(bits) << 32;
            int have = count;
            const int w0 = w;
            std::int64_t room = port.outEnd - port.out;
            if (room > DecodeTarget - produced)
                room = DecodeTarget - produced;
            if (room > HISTORY_SIZE - 8 - w)
                room = HISTORY_SIZE - 8 - w;
            const int wEnd = w0 + static_cast<int>(room);
            bool stopped = false;
            do {
                word |= LoadBig64(in) >> have;
                in += (63 - have) >> 3;
                have |= 56;
                const std::uint64_t wordBefore = word;
                const int haveBefore = have;
                const int b = static_cast<int>(word >> (64 - LOOKUP_BITS));
                if (lookupCode[b] == 0) [[unlikely]]
                    FillLookup(b);
                const int entry = lookupCode[b];
                const int used = entry & 0xF;
                int x = entry >> 4;
                word <<= used;
                have -= used;
                int n = 0;
                while (x < LEAF_BASE) {
                    const int node = x + static_cast<int>(word >> 63);
                    word <<= 1;
                    --have;
                    deep[n++] = static_cast<std::int16_t>(node);
                    x = nodeChild[node];
                }
                const int symbol = x - LEAF_BASE;
                // Literal and match take the same steps, so that the
                // decoder need not guess which comes: the position is read
                // off the next bits either way, and a literal takes none of
                // them and writes a word that holds its byte.
                const bool match = symbol >= 256;
                const int top = static_cast<int>(word >> 56);
                const int prefix = positionTables.decodeLength[top];
                const int position =
                    (positionTables.decodeValue[top] << 6) | static_cast<int>((word << prefix) >> 58);
                // All ones for a match, 0 for a literal: chosen by masks, not
                // by a branch.
                const int matchMask = -static_cast<int>(match);
                const int taken = (prefix + 6) & matchMask;
                const int length = 1 + ((symbol - 256 + MATCH_THRESHOLD) & matchMask);
                word <<= taken;
                have -= taken;
                if (w + length > wEnd || in - ((have - 8) >> 3) > inEnd) [[unlikely]] {
                    word = wordBefore;
                    have = haveBefore;
                    stopped = true;
                    break;
                }
                CountDecodedSymbol(symbol, deep, n, b);
                std::uint8_t* to = history + w;
                const std::uint8_t* from = to - position - 1;
                w += length;
                // A match of up to eight bytes whose bytes are all older than
                // it is one word; what the word writes past it is not kept.
                const std::uint64_t copied = Load64(from);
                const auto wordMask = static_cast<std::uint64_t>(static_cast<std::int64_t>(matchMask));
                Store64(to, (copied & wordMask) | (static_cast<std::uint64_t>(symbol) & ~wordMask));
                if (match && (length > 8 || position + 1 < length)) [[unlikely]] {
                    if (position >= 7) {
                        // Every word read lies at least eight bytes back, so it
                        // holds only bytes already in place.
                        for (int k = 8; k < length; k += 8)
                            Store64(to + k, Load64(from + k));
                    } else {
                        // The match overlaps the bytes it makes: it repeats them.
                        for (int k = 0; k < length; ++k)
                            to[k] = from[k];
                    }
                }
            } while (in <= loadLimit);
            const std::uint8_t* next = in - ((have - 8) >> 3);
            count = have - 8 * static_cast<int>(in - next);
            bits = static_cast<std::uint32_t>(word >> 32) & ~(~std::uint32_t{0} >> count);
            port.in += next - start;
            const int made = w - w0;
            std::memcpy(port.out, history + w0, static_cast<std::size_t>(made));
            port.out += made;
            produced += static_cast<std::uint32_t>(made);
            // An item that did not fit goes on the plain way at once; when
            // only the top-up reached the end of the window, the rest of it
            // is decoded from the tail.
            if (!stopped)
                continue;
            if (w > HISTORY_SIZE - HISTORY_SLACK)
                SlideHistory(w);
            if (produced >= DecodeTarget)
                break;
        }

        // ONE ITEM the plain way, every byte through ReadByte and WriteByte.
        // The first levels from the lookup. The refill before the first bit
        // leaves at least nine bits in hand, so the next LOOKUP_BITS bits are
        // there to look at. Taken one by one, the bits used would have read
        // one byte on the way exactly when fewer than eight are left after
        // them (one is enough: it brings the count to eight or more), and
        // nothing else happens in between, so that byte is read here.
        FillCodeBits(port, bits, count);
        const int b = static_cast<int>(bits >> (32 - LOOKUP_BITS));
        if (lookupCode[b] == 0) [[unlikely]]
            FillLookup(b);
        const int entry = lookupCode[b];
        const int used = entry & 0xF;
        int x = entry >> 4;
        bits <<= used;
        count -= used;
        if (count < 8) {
            int next = ReadByte(port);
            if (next < 0)
                next = 0;
            bits |= static_cast<std::uint32_t>(next) << (24 - count);
            count += 8;
        }
        // Longer codes go on one code bit per level, keeping the path.
        int n = 0;
        while (x < LEAF_BASE) {
            const int node = x + GetCodeBit(port, bits, count);
            deep[n++] = static_cast<std::int16_t>(node);
            x = nodeChild[node];
        }
        const int symbol = x - LEAF_BASE;
        CountDecodedSymbol(symbol, deep, n, b);

        if (symbol < 256) {
            WriteByte(port, symbol);
            history[w++] = static_cast<std::uint8_t>(symbol);
            ++produced;
            continue;
        }

        int i = GetCodeByte(port, bits, count);
        const int u = positionTables.decodeValue[i];
        const int extra = positionTables.decodeLength[i] - 2;
        for (int e = extra; e > 0; --e)
            i = (i << 1) + GetCodeBit(port, bits, count);
        const int position = (u << 6) | (i & 0x3F);
        const int length = symbol - 255 + MATCH_THRESHOLD;
        // Damaged data may hold a match that runs past the size: its bytes up to
        // the size reach the output, the rest still enter the window.
        const std::uint32_t room = size - produced;
        const int emitted = static_cast<std::uint32_t>(length) < room ? length : static_cast<int>(room);
        const int from = w - position - 1;
        for (int k = 0; k < length; ++k) {
            const std::uint8_t c = history[from + k];
            if (k < emitted)
                WriteByte(port, c);
            history[w + k] = c;
        }
        w += length;
        produced += static_cast<std::uint32_t>(emitted);
    }
    // The window goes back into the ring, at the positions the plain decoder
    // would have written it to.
    const int start = w - RING_SIZE;
    const int at = static_cast<int>((historyBase + static_cast<std::uint32_t>(start)) & (RING_SIZE - 1));
    std::memcpy(ring + at, history + start, static_cast<std::size_t>(RING_SIZE - at));
    std::memcpy(ring, history + start + (RING_SIZE - at), static_cast<std::size_t>(at));
    inBits = bits;
    inCount = count;
    StorePort(port);
}

std::uint32_t LzhufEncodeMemory(const std::uint8_t* in, std::uint32_t inCount, std::uint8_t* out,
                                std::uint32_t outCapacity)
{
    PointAtMemory(in, inCount, out, outCapacity);
    MemoryDeclaredSize = inCount;
    LzhufEncode();
    return static_cast<std::uint32_t>(CodecOutNext - out) + MemoryDropped;
}

std::uint32_t LzhufDecodeMemory(const std::uint8_t* in, std::uint32_t inCount, std::uint8_t* out,
                                std::uint32_t outCapacity)
{
    PointAtMemory(in, inCount, out, outCapacity);
    LzhufDecode();
    return static_cast<std::uint32_t>(CodecOutNext - out) + MemoryDropped;
}
