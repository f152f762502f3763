// A plain framed block stream for tests only: every step of reading,
// checking, writing and hook calling done one byte at a time, over
// the step-by-step reference codec, with vectors for files. The production
// stream must make the same hook calls in the same order and write the same
// bytes. It follows the same end-of-stream rule as the production stream:
// after the size block, a block shorter than 10240 bytes is the last one,
// only a block's own payload is handed out, a header-only last block ends
// the input at once, and a third byte asked for past the last block fails
// the stream (the code ran out before the declared size).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace refstream {

// One hook call: 'Y' YieldHook, 'P' ProgressHook(n), 'R' BlockReadHook(n),
// 'D' DataHook(n), 'A' the abort made from a hook.
struct Event {
    char kind;
    std::int32_t value;
    bool operator==(const Event&) const = default;
};
std::string Describe(const std::vector<Event>& events);

struct Setup {
    std::vector<std::uint8_t> source;  // the source file, read from its start
    std::uint8_t xorKey = 0;
    bool hookOnInput = false;
    bool hookOnOutput = false;
    int hookAnswer = 1;                   // what DataHook answers
    int abortAtYield = 0;                 // call AbortStream at this YieldHook call (1-based), 0 never
    // The YieldHook is set by the ProgressHook call with this number
    // (1-based), 0 for set from the start; until then yields pass unseen.
    int yieldFromProgress = 0;
    std::uint32_t writeCap = 0xFFFFFFFF;  // a write takes at most this many bytes
};

struct Outcome {
    int result = 0;
    std::vector<std::uint8_t> out;  // what reached the destination
    std::uint32_t bytesWritten = 0;
    std::vector<Event> events;
    std::vector<std::int32_t> readSizes;  // bytes asked for by each read
};

Outcome Compress(const Setup& setup, std::int32_t size);
Outcome Decompress(const Setup& setup);

}  // namespace refstream
