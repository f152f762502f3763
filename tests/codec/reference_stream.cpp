#include "tests/codec/reference_stream.h"

#include "tests/codec/reference_lzhuf.h"

namespace refstream {

std::string Describe(const std::vector<Event>& events)
{
    std::string text;
    for (const Event& e : events) {
        if (!text.empty())
            text += ' ';
        text += e.kind;
        if (e.kind != 'Y' && e.kind != 'A')
            text += std::to_string(e.value);
    }
    return text;
}

namespace {

struct Stream {
    const Setup* setup;
    Outcome* outcome;
    bool compressing;
    std::size_t sourcePos = 0;
    std::uint8_t input[16384] = {};
    std::int32_t readPos = 0;
    std::int32_t endMark = 0;
    std::int32_t readSize = 10240;
    std::uint8_t output[10240] = {};
    std::int32_t writePos = 0;
    std::int32_t limit = 10240;
    bool inputEnded = false;
    bool failed = false;
    bool lastBlockRead = false;
    int readsPastEnd = 0;
    std::int32_t remaining = 0;
    int traffic = 0;
    int yields = 0;
    int progressCalls = 0;
    bool hookOnInput = false;
    bool hookOnOutput = false;
    std::uint32_t declared = 0;
    std::uint32_t decodeTarget = 0;

    void Abort()
    {
        outcome->events.push_back({'A', 0});
        inputEnded = failed = true;
        decodeTarget = 0;
        remaining = 0;
    }
    void Yield()
    {
        if (progressCalls < setup->yieldFromProgress)
            return;
        outcome->events.push_back({'Y', 0});
        if (++yields == setup->abortAtYield)
            Abort();
    }
    int DataHook(std::int32_t n)
    {
        outcome->events.push_back({'D', n});
        return setup->hookAnswer;
    }
    void Count()
    {
        if (++traffic == 1024) {
            traffic = 0;
            Yield();
        }
    }
    static std::uint16_t Le16(const std::uint8_t* p)
    {
        return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
    }
    static std::uint16_t Sum(const std::uint8_t* p, std::int32_t n)
    {
        std::uint16_t s = 0x68A5;
        for (std::int32_t i = 0; i < n; ++i)
            s = static_cast<std::uint16_t>(s + p[i]);
        return s;
    }
    std::int32_t Check(std::int32_t n)
    {
        std::int32_t length = n;
        bool ok = true;
        if (!compressing) {
            ok = n >= 6;
            length = ok ? Le16(input + 4) : 0;
            ok = ok && Le16(input) == 0x4352 && length >= 6 && length <= n &&
                 Sum(input + 6, length - 6) == Le16(input + 2);
        }
        Yield();
        return ok ? length : -1;
    }
    void ReadBlock()
    {
        if (!compressing && lastBlockRead) {
            inputEnded = true;
            return;
        }
        if (remaining <= 0) {
            inputEnded = true;
            return;
        }
        outcome->readSizes.push_back(readSize);
        std::int32_t n = 0;
        while (n < readSize && sourcePos < setup->source.size())
            input[n++] = setup->source[sourcePos++];
        if (setup->xorKey != 0)
            for (std::int32_t i = 0; i < n; ++i)
                input[i] ^= setup->xorKey;
        readPos = 0;
        endMark = n;
        if (compressing) {
            if (n > remaining)
                endMark = remaining;
            remaining -= n;
        }
        if (hookOnInput)
            hookOnInput = DataHook(n) != 0;
        outcome->events.push_back({'R', n});
        std::int32_t length = Check(n);
        if (length < 0) {
            failed = true;
            remaining = 0;
            decodeTarget = 0;
        } else if (n == 0) {
            remaining = 0;
            inputEnded = true;
        }
        if (!compressing) {
            readPos = 6;
            if (length >= 0) {
                endMark = length;
                if (readSize == 10240 && length < 10240) {
                    lastBlockRead = true;
                    if (length == 6)
                        inputEnded = true;
                }
            }
        }
    }
    int ReadByte()
    {
        if (readPos >= endMark)
            ReadBlock();
        else
            Count();
        // More than two bytes past the last block: the code ran out.
        if (inputEnded && !failed && !compressing && ++readsPastEnd > 2) {
            failed = true;
            remaining = 0;
            decodeTarget = 0;
        }
        if (inputEnded || failed)
            return -1;
        return input[readPos++];
    }
    void WriteBlock()
    {
        if (compressing) {
            output[0] = 0x52;
            output[1] = 0x43;
            std::uint16_t sum = Sum(output + 6, writePos - 6);
            output[2] = static_cast<std::uint8_t>(sum);
            output[3] = static_cast<std::uint8_t>(sum >> 8);
            output[4] = static_cast<std::uint8_t>(writePos);
            output[5] = static_cast<std::uint8_t>(writePos >> 8);
        }
        Yield();
        std::int32_t n = writePos;
        if (hookOnOutput)
            hookOnOutput = DataHook(n) != 0;
        std::uint32_t take =
            static_cast<std::uint32_t>(n) < setup->writeCap ? static_cast<std::uint32_t>(n) : setup->writeCap;
        outcome->out.insert(outcome->out.end(), output, output + take);
        n = static_cast<std::int32_t>(take);
        outcome->bytesWritten += static_cast<std::uint32_t>(n);
        outcome->events.push_back({'P', n});
        ++progressCalls;
    }
    void WriteByte(int b)
    {
        output[writePos++] = static_cast<std::uint8_t>(b);
        if (writePos == limit) {
            WriteBlock();
            writePos = compressing ? 6 : 0;
        } else {
            Count();
        }
    }
};

}  // namespace

Outcome Compress(const Setup& setup, std::int32_t size)
{
    Outcome outcome;
    Stream s{&setup, &outcome, true};
    s.remaining = size;
    s.declared = static_cast<std::uint32_t>(size);
    s.writePos = 6;
    s.limit = 10;
    s.hookOnInput = setup.hookOnInput;
    for (int i = 0; i < 4; ++i)
        s.WriteByte(static_cast<int>((s.declared >> (8 * i)) & 0xFF));
    s.limit = 10240;
    reference::EncodeWith([&] { return s.ReadByte(); }, [&](int b) { s.WriteByte(b); }, s.declared);
    s.WriteBlock();
    outcome.result = s.failed ? 0 : 1;
    return outcome;
}

Outcome Decompress(const Setup& setup)
{
    Outcome outcome;
    Stream s{&setup, &outcome, false};
    s.remaining = 0x7FFFFFFF;
    s.readSize = 10;
    s.hookOnOutput = setup.hookOnOutput;
    std::uint32_t size = 0;
    for (int i = 0; i < 4; ++i)
        size |= static_cast<std::uint32_t>(s.ReadByte() & 0xFF) << (8 * i);
    if (s.failed)
        size = 0;
    s.readSize = 10240;
    s.decodeTarget = size;
    // The decoder rereads the target before every item, so a failed block
    // or an abort stops it after the item it is in.
    // Bytes of a damaged last match beyond the size are dropped, as the
    // production decoder cuts such a match.
    std::uint32_t target = size;
    std::uint32_t produced = 0;
    reference::DecodeWith(
        [&] {
            int b = s.ReadByte();
            target = s.decodeTarget;
            return b;
        },
        [&](int b) {
            if (produced++ < size)
                s.WriteByte(b);
            target = s.decodeTarget;
        },
        size, &target);
    s.WriteBlock();
    outcome.result = s.failed ? 0 : 1;
    return outcome;
}

}  // namespace refstream
