// Deterministic inputs for the codec and stream tests and benchmarks.
//
// Each generator draws from its own std::mt19937 with a fixed seed and maps
// the raw 32-bit draws itself (the standard distributions differ between
// libraries), so the bytes are the same on every machine and build.
//
// - EnglishText: words drawn from a fixed list of common English words with
//   Zipf-like weights (rank r has weight 1/r), an invented longer word now and
//   then, sentences of 4 to 20 words with capitals, commas and full stops,
//   lines wrapped at 72 columns, a blank line between paragraphs.
// - MachineCode: a synthetic 32-bit x86-like program: functions with the usual
//   prologue and epilogue, moves between registers and stack slots, calls with
//   relative targets, short and near jumps, pushes of constants from a small
//   pool of addresses, and int3 padding to 16-byte boundaries.
// - RandomBytes: uniform bytes.
// - DeepTreeBytes: coded symbols in Fibonacci proportions, which drives the
//   adaptive Huffman tree deeper than 16 levels (see below).
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace samples {

inline std::vector<std::uint8_t> EnglishText(std::size_t size, std::uint32_t seed = 1)
{
    static const char* const kWords[] = {
        "the",     "of",      "and",      "to",        "a",         "in",        "is",      "that",
        "it",      "was",     "for",      "on",        "are",       "as",        "with",    "his",
        "they",    "at",      "be",       "this",      "from",      "have",      "or",      "by",
        "one",     "had",     "not",      "but",       "what",      "all",       "were",    "when",
        "we",      "there",   "can",      "an",        "your",      "which",     "their",   "said",
        "if",      "do",      "will",     "each",      "about",     "how",       "up",      "out",
        "them",    "then",    "she",      "many",      "some",      "so",        "these",   "would",
        "other",   "into",    "has",      "more",      "her",       "two",       "like",    "him",
        "see",     "time",    "could",    "no",        "make",      "than",      "first",   "been",
        "its",     "who",     "now",      "people",    "my",        "made",      "over",    "did",
        "down",    "only",    "way",      "find",      "use",       "may",       "water",   "long",
        "little",  "very",    "after",    "words",     "called",    "just",      "where",   "most",
        "know",    "get",     "through",  "back",      "much",      "before",    "go",      "good",
        "new",     "write",   "our",      "used",      "me",        "man",       "too",     "any",
        "day",     "same",    "right",    "look",      "think",     "also",      "around",  "another",
        "came",    "come",    "work",     "three",     "word",      "must",      "because", "does",
        "part",    "even",    "place",    "well",      "such",      "here",      "take",    "why",
        "things",  "help",    "put",      "years",     "different", "away",      "again",   "off",
        "went",    "old",     "number",   "great",     "tell",      "men",       "say",     "small",
        "every",   "found",   "still",    "between",   "name",      "should",    "home",    "big",
        "give",    "air",     "line",     "set",       "own",       "under",     "read",    "last",
        "never",   "us",      "left",     "end",       "along",     "while",     "might",   "next",
        "sound",   "below",   "saw",      "something", "thought",   "both",      "few",     "those",
        "always",  "looked",  "show",     "large",     "often",     "together",  "asked",   "house",
        "don't",   "world",   "going",    "want",      "school",    "important", "until",   "form",
        "food",    "keep",    "children", "feet",      "land",      "side",      "without", "boy",
        "once",    "animals", "life",     "enough",    "took",      "sometimes", "four",    "head",
        "above",   "kind",    "began",    "almost",    "live",      "page",      "got",     "earth",
        "need",    "far",     "hand",     "high",      "year",      "mother",    "light",   "parts",
        "country", "father",  "let",      "night",     "following", "picture",   "being",   "study",
        "second",  "eyes",    "soon",     "times",     "story",     "boys",      "since",   "white",
        "days",    "ever",    "paper",    "hard",      "near",      "sentence",  "better",  "best",
        "across",  "during",  "today",    "others",    "however",   "sure",      "means",   "knew",
        "it's",    "try",     "told",     "young",     "miles",     "sun",       "ways",    "thing",
        "whole",   "hear",    "example",  "heard",     "several",   "change",    "answer",  "room",
        "sea",     "against", "top",      "turned",    "learn",     "point",     "city",    "play",
        "toward",  "five",    "using",    "himself",   "usually",   "money",     "seen",    "didn't",
        "car",     "morning", "given",    "river",     "window",    "garden",    "winter",  "letter",
        "voice"};
    constexpr std::size_t kCount = sizeof kWords / sizeof kWords[0];
    std::vector<double> cumulative(kCount);
    double total = 0;
    for (std::size_t i = 0; i < kCount; ++i)
        cumulative[i] = total += 1.0 / static_cast<double>(i + 1);

    std::mt19937 rng(seed);
    auto unit = [&] {
        return static_cast<double>(rng()) / 4294967296.0;
    };
    auto below = [&](std::uint32_t n) {
        return static_cast<std::uint32_t>(unit() * n);
    };

    std::string text;
    std::size_t column = 0;
    int sentencesLeft = 3 + static_cast<int>(below(6));
    while (text.size() < size) {
        const int words = 4 + static_cast<int>(below(17));
        for (int w = 0; w < words; ++w) {
            std::string word;
            if (unit() < 0.04) {
                const int letters = 5 + static_cast<int>(below(8));
                for (int l = 0; l < letters; ++l)
                    word += static_cast<char>('a' + below(26));
            } else {
                const double pick = unit() * total;
                std::size_t lo = 0;
                while (cumulative[lo] < pick && lo + 1 < kCount)
                    ++lo;
                word = kWords[lo];
            }
            if (w == 0)
                word[0] = static_cast<char>(word[0] >= 'a' && word[0] <= 'z' ? word[0] - 32 : word[0]);
            if (w == words - 1) {
                word += unit() < 0.1 ? "?" : ".";
            } else if (unit() < 0.08) {
                word += ",";
            }
            if (column > 0 && column + 1 + word.size() > 72) {
                text += '\n';
                column = 0;
            } else if (column > 0) {
                text += ' ';
                ++column;
            }
            text += word;
            column += word.size();
        }
        if (--sentencesLeft == 0) {
            text += "\n\n";
            column = 0;
            sentencesLeft = 3 + static_cast<int>(below(6));
        }
    }
    text.resize(size);
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

inline std::vector<std::uint8_t> MachineCode(std::size_t size, std::uint32_t seed = 2)
{
    std::mt19937 rng(seed);
    auto below = [&](std::uint32_t n) {
        return static_cast<std::uint32_t>((static_cast<std::uint64_t>(rng()) * n) >> 32);
    };
    std::vector<std::uint8_t> code;
    auto put = [&](std::initializer_list<int> bytes) {
        for (int b : bytes)
            code.push_back(static_cast<std::uint8_t>(b));
    };
    auto put32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            code.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    std::vector<std::uint32_t> functions;
    std::uint32_t constants[24];
    for (auto& c : constants)
        c = 0x00401000u + (below(0x8000) & ~3u);
    while (code.size() < size) {
        const std::uint32_t start = static_cast<std::uint32_t>(code.size());
        functions.push_back(start);
        put({0x55, 0x8B, 0xEC});
        if (below(2))
            put({0x83, 0xEC, static_cast<int>(4 * (1 + below(16)))});
        if (below(2))
            put({0x53, 0x56, 0x57});
        const int body = 4 + static_cast<int>(below(40));
        for (int n = 0; n < body; ++n) {
            switch (below(10)) {
            case 0:
            case 1:  // mov r32, [ebp+disp8]
                put({0x8B, 0x45 + 8 * static_cast<int>(below(4)),
                     static_cast<int>(below(2) ? 8 + 4 * below(4) : 0x100 - 4 * (1 + below(8)))});
                break;
            case 2:  // mov [ebp-disp8], r32
                put({0x89, 0x45 + 8 * static_cast<int>(below(4)),
                     static_cast<int>(0x100 - 4 * (1 + below(8)))});
                break;
            case 3: {  // call rel32 to an earlier function
                const std::uint32_t target = functions[below(static_cast<std::uint32_t>(functions.size()))];
                put({0xE8});
                put32(target - static_cast<std::uint32_t>(code.size() + 4));
                break;
            }
            case 4:  // push imm32 from the pool
                put({0x68});
                put32(constants[below(24)]);
                break;
            case 5:  // test / cmp then a short conditional jump
                put({0x85, 0xC0, 0x74 + static_cast<int>(below(2)), static_cast<int>(2 + below(30))});
                break;
            case 6:  // add esp, imm8 after a call
                put({0x83, 0xC4, static_cast<int>(4 * (1 + below(4)))});
                break;
            case 7:  // mov eax, [imm32]
                put({0xA1});
                put32(constants[below(24)]);
                break;
            case 8:  // xor / mov between registers
                put({below(2) ? 0x33 : 0x8B, 0xC0 + static_cast<int>(below(64))});
                break;
            default:  // lea r32, [ebp+disp8]
                put({0x8D, 0x45 + 8 * static_cast<int>(below(4)),
                     static_cast<int>(0x100 - 4 * (1 + below(16)))});
                break;
            }
        }
        if (code.size() & 1)
            put({0x5F, 0x5E, 0x5B});
        put({0x8B, 0xE5, 0x5D, 0xC3});
        while (code.size() % 16 != 0)
            put({0xCC});
    }
    code.resize(size);
    return code;
}

inline std::vector<std::uint8_t> RandomBytes(std::size_t size, std::uint32_t seed = 3)
{
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(rng() >> 24);
    return bytes;
}

// Input that drives the adaptive Huffman tree deeper than 16 levels.
//
// A tree with the sibling property is deepest when its weights follow the
// Fibonacci numbers. This input makes the coded symbols do that: after a
// short base of 300 random bytes (0x80-0xFF), it is a sequence of copies of
// earlier window bytes whose lengths 12 to 20 come in Fibonacci proportions
// (34 copies of length 12 for every 21 of 13, 13 of 14, ..., 1 of 20), each
// source chosen so that no earlier occurrence of the previous copy is followed
// by the new copy's first byte, so every copy is coded as exactly one match of
// its length. Every 500th copy is followed by a single rare byte (0x01-0x7F),
// so that symbols from the bottom of the deep tree do get coded. From about
// 900 KB on this writes codes of 18 bits.
inline std::vector<std::uint8_t> DeepTreeBytes(std::size_t size, std::uint32_t seed = 11)
{
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> in;
    in.reserve(size + 64);
    for (int i = 0; i < 300; ++i)
        in.push_back(static_cast<std::uint8_t>(0x80 | (rng() >> 25)));
    std::vector<int> block;
    int a = 1, b = 1;
    for (int k = 0; k < 9; ++k) {
        for (int j = 0; j < a; ++j)
            block.push_back(20 - k);
        const int c = a + b;
        a = b;
        b = c;
    }
    std::size_t previousStart = 0;
    int previousLength = 0;
    long copies = 0;
    int rare = 1;
    while (in.size() < size) {
        for (std::size_t i = block.size(); i > 1; --i)
            std::swap(block[i - 1], block[rng() % i]);
        for (int length : block) {
            const std::size_t current = in.size();
            for (;;) {
                const std::size_t low = current > 4000 ? current - 4000 : 0;
                const std::size_t source = low + rng() % (current - static_cast<std::size_t>(length) - low);
                bool extends = false;
                if (previousLength != 0) {
                    const std::size_t from = previousStart > 4096 ? previousStart - 4096 : 0;
                    for (std::size_t o = from; o < previousStart && !extends; ++o) {
                        if (in[o] == in[previousStart] &&
                            std::equal(in.begin() + static_cast<std::ptrdiff_t>(o),
                                       in.begin() + static_cast<std::ptrdiff_t>(o) + previousLength,
                                       in.begin() + static_cast<std::ptrdiff_t>(previousStart))) {
                            const std::size_t after = o + static_cast<std::size_t>(previousLength);
                            const std::uint8_t next =
                                after < current ? in[after] : in[source + (after - current)];
                            extends = next == in[source];
                        }
                    }
                }
                if (!extends) {
                    for (int k = 0; k < length; ++k)
                        in.push_back(in[source + static_cast<std::size_t>(k)]);
                    break;
                }
            }
            previousStart = current;
            previousLength = length;
            if (++copies % 500 == 0) {
                in.push_back(static_cast<std::uint8_t>(rare));
                rare = rare % 127 + 1;
                previousLength = 0;
            }
        }
    }
    in.resize(size);
    return in;
}

}  // namespace samples
