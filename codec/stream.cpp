// The framed block stream.
//
// READING. A read fills the input buffer from its start: 10 bytes for the
// size block of a decompression, 10240 bytes otherwise. When decompressing,
// every read is checked as one RC block (magic, 6 <= length <= bytes read,
// checksum over the payload) and its payload is handed to the decoder; when
// compressing, the chunks read are the plain source bytes.
//
// End of a compressed stream. Every block after the size block is exactly
// 10240 bytes long except the last one, which is shorter (only its header
// when the code bytes filled the block before it). So a data block whose
// length field is below 10240 is the last block: its payload is handed out
// and then the input ends, without another read; a header-only last block
// ends the input at once. Only a block's own payload is handed to the
// decoder, never the bytes that the same read brought after it, so whatever
// follows the stream in its file (another entry, the directory) never
// reaches the decoder and can never fail the stream. The decoder's bit
// reader looks up to two bytes past its last code bit; past the last block
// it gets -1, which it takes as 0 bits. A decoder that asks for a third byte
// past the last block has run out of code bits before its size: the stream
// is damaged (a declared size larger than its code, say), and it fails
// there instead of decoding on over zero bits. A stream whose decoder
// reaches its size before the header-only last block is simply never read
// to its end.
//
// TRAFFIC. Byte reads and writes that start no block operation are counted,
// and every 1024th calls YieldHook. The codec takes most bytes straight from
// byte windows over the two buffers (see codec/lzhuf.h); a window never
// reaches a byte whose transfer would start a block operation, nor, while a
// YieldHook is set, the 1024th counted one, so those always come through
// ReadStreamByte and WriteStreamByte, which first count what the windows
// handed over since they were opened ("settle"), then do the byte one at a
// time as below, then open new windows. YieldHook is thus called at exactly
// the transfers where a byte-by-byte stream calls it.
#include "codec/stream.h"

#include "archive/transfer.h"
#include "base/bytes.h"
#include "codec/lzhuf.h"

#include <cstring>

ProgressHookFn ProgressHook = nullptr;
YieldHookFn YieldHook = nullptr;
BlockReadHookFn BlockReadHook = nullptr;
std::uint8_t StreamXorKey = 0;
std::uint8_t* StreamMemoryDestination = nullptr;
std::uint32_t StreamMemoryLimit = 0;
bool DataHookOnInput = false;
bool DataHookOnOutput = false;
std::uint32_t StreamBytesWritten = 0;
std::uint32_t StreamBytesOffered = 0;

namespace {

constexpr std::int32_t INPUT_BUFFER_SIZE = 16384;

bool Compressing = false;
HANDLE SourceFile = INVALID_HANDLE_VALUE;
void* DestinationFile = nullptr;

std::uint8_t InputBuffer[INPUT_BUFFER_SIZE];
std::int32_t ReadPosition = 0;
std::int32_t EndMark = 0;
std::int32_t ReadSize = BLOCK_SIZE;

std::uint8_t OutputBuffer[BLOCK_SIZE];
std::int32_t WritePosition = 0;
std::int32_t WriteLimit = BLOCK_SIZE;

bool InputEnded = false;
bool StreamFailed = false;
bool LastBlockRead = false;
// Bytes asked for past the last block of a decompression; the third fails.
std::int32_t ReadsPastEnd = 0;
constexpr std::int32_t LOOK_AHEAD = 2;
std::int32_t RemainingInput = 0;
std::int32_t TrafficCounter = 0;
// Bytes the codec took from and put into the windows in this stream, to
// share the budget of the next windows in the same proportion.
std::uint32_t WindowInBytes = 0;
std::uint32_t WindowOutBytes = 0;
std::uint32_t DeclaredSize = 0;
// Room left at StreamMemoryDestination.
std::uint32_t MemoryRoom = 0;

// Counts the bytes the codec took from or put into the windows since they
// were opened, and moves the read and write positions past them. While a
// YieldHook is set the windows never hold a 1024th counted transfer, so no
// yield falls due here; without one the count just goes on modulo 1024.
void SettleWindows()
{
    if (CodecInNext != nullptr) {
        auto used = static_cast<std::int32_t>(CodecInNext - (InputBuffer + ReadPosition));
        ReadPosition += used;
        TrafficCounter += used;
        WindowInBytes += static_cast<std::uint32_t>(used);
    }
    if (CodecOutNext != nullptr) {
        auto used = static_cast<std::int32_t>(CodecOutNext - (OutputBuffer + WritePosition));
        WritePosition += used;
        TrafficCounter += used;
        WindowOutBytes += static_cast<std::uint32_t>(used);
    }
    TrafficCounter %= YIELD_INTERVAL;
}

// Opens windows over the bytes that may be transferred without starting a
// block operation and, while a YieldHook is set, without counting to the
// next yield: input up to the end mark (none once the input has ended or
// failed), output up to the byte before the limit. The counted transfers
// left before the next yield are shared between them as suits the codec's
// side that is running (below).
// How large the windows are is never seen outside: only the transfers that
// fall due outside them are.
void OpenWindows()
{
    std::int32_t inAvailable = (InputEnded || StreamFailed) ? 0 : EndMark - ReadPosition;
    std::int32_t outAvailable = WriteLimit - 1 - WritePosition;
    if (YieldHook == nullptr) {
        // Nobody is called at a yield, and nothing outside the codec runs
        // while it works inside the windows (so nothing can set a hook
        // meanwhile): the windows reach as far as the buffers allow.
        CodecInNext = InputBuffer + ReadPosition;
        CodecInEnd = CodecInNext + (inAvailable > 0 ? inAvailable : 0);
        CodecOutNext = OutputBuffer + WritePosition;
        CodecOutEnd = CodecOutNext + (outAvailable > 0 ? outAvailable : 0);
        return;
    }
    std::int32_t budget = YIELD_INTERVAL - 1 - TrafficCounter;
    // The encoder takes input bytes ahead of its coder only as long as the
    // output window has room for the code its items may write meanwhile (up
    // to 21 bits per byte taken ahead), so compressing gives the input window
    // three eighths of the budget, which keeps the output window roomy until
    // the input window is used up.
    std::int32_t inShare = Compressing ? budget * 3 / 8 : budget / 4;
    if (!Compressing && WindowInBytes + WindowOutBytes >= 4096) {
        // How many code bytes a decoded byte takes depends on the data, so
        // the shares follow what the windows have carried so far, the input
        // getting an eighth more (measured a little better than the plain
        // proportion). Windows that run out together need fewer slot calls,
        // and each slot call ends a run of fast items in the decoder.
        const std::uint64_t total = std::uint64_t{WindowInBytes} + WindowOutBytes;
        inShare = static_cast<std::int32_t>(static_cast<std::uint64_t>(budget) * WindowInBytes / total);
        inShare += inShare / 8;
    }
    std::int32_t in = inAvailable < inShare ? inAvailable : inShare;
    if (in < 0)
        in = 0;
    std::int32_t out = budget - in;
    if (outAvailable < out)
        out = outAvailable;
    if (out < 0)
        out = 0;
    CodecInNext = InputBuffer + ReadPosition;
    CodecInEnd = CodecInNext + in;
    CodecOutNext = OutputBuffer + WritePosition;
    CodecOutEnd = CodecOutNext + out;
}

void CountTransfer()
{
    if (++TrafficCounter == YIELD_INTERVAL) {
        TrafficCounter = 0;
        if (YieldHook != nullptr)
            YieldHook();
    }
}

void CallYieldHook()
{
    if (YieldHook != nullptr)
        YieldHook();
}

// The sum of the bytes, eight at a time: each word's bytes are added in
// pairs into four 16-bit lanes (at most 510 a word per lane), and the lanes
// are gathered into the sum before 128 words could make one overflow. Only the sum modulo 65536
// counts, and the order of the additions does not change it.
std::uint16_t BlockChecksum(const std::uint8_t* bytes, std::int32_t count)
{
    constexpr std::uint64_t LOW_BYTES = 0x00FF00FF00FF00FFu;
    std::uint32_t sum = CHECKSUM_SEED;
    std::int32_t i = 0;
    while (count - i >= 8) {
        std::uint64_t lanes = 0;
        const std::int32_t words = (count - i) / 8 < 128 ? (count - i) / 8 : 128;
        for (std::int32_t k = 0; k < words; ++k, i += 8) {
            std::uint64_t v;
            std::memcpy(&v, bytes + i, sizeof v);
            lanes += (v & LOW_BYTES) + ((v >> 8) & LOW_BYTES);
        }
        for (int lane = 0; lane < 64; lane += 16)
            sum += static_cast<std::uint32_t>((lanes >> lane) & 0xFFFF);
    }
    for (; i < count; ++i)
        sum += bytes[i];
    return static_cast<std::uint16_t>(sum);
}

// The block length of the read just made, when it passes the check.
std::int32_t CheckStreamBlock(std::int32_t n)
{
    std::int32_t length = n;
    bool ok = true;
    if (!Compressing) {
        length = n >= BLOCK_HEADER_SIZE ? ReadLe16(InputBuffer + 4) : 0;
        ok = n >= BLOCK_HEADER_SIZE && ReadLe16(InputBuffer) == RC_MAGIC && length >= BLOCK_HEADER_SIZE &&
             length <= n &&
             BlockChecksum(InputBuffer + BLOCK_HEADER_SIZE, length - BLOCK_HEADER_SIZE) ==
                 ReadLe16(InputBuffer + 2);
    }
    CallYieldHook();
    return ok ? length : -1;
}

void ReadStreamBlock()
{
    if (!Compressing && LastBlockRead) {
        InputEnded = true;
        return;
    }
    if (RemainingInput <= 0) {
        InputEnded = true;
        return;
    }
    DWORD got = 0;
    if (!ReadFile(SourceFile, InputBuffer, static_cast<DWORD>(ReadSize), &got, nullptr) ||
        got > static_cast<DWORD>(ReadSize))
        got = 0;
    auto n = static_cast<std::int32_t>(got);
    if (StreamXorKey != 0)
        XorBytes(InputBuffer, n, StreamXorKey);
    ReadPosition = 0;
    EndMark = n;
    if (Compressing) {
        if (n > RemainingInput)
            EndMark = RemainingInput;
        RemainingInput -= n;
    }
    if (DataHookOnInput && DataHook != nullptr)
        DataHookOnInput = DataHook(InputBuffer, n) != 0;
    if (BlockReadHook != nullptr)
        BlockReadHook(n);
    std::int32_t length = CheckStreamBlock(n);
    if (length < 0) {
        StreamFailed = true;
        RemainingInput = 0;
        DecodeTarget = 0;
    } else if (n == 0) {
        RemainingInput = 0;
        InputEnded = true;
    }
    if (!Compressing) {
        ReadPosition = BLOCK_HEADER_SIZE;
        if (length >= 0) {
            EndMark = length;
            if (ReadSize == BLOCK_SIZE && length < BLOCK_SIZE) {
                LastBlockRead = true;
                if (length == BLOCK_HEADER_SIZE)
                    InputEnded = true;
            }
        }
    }
}

// One byte read: a read position at the end mark reads the
// next block (not counted), any other read counts.
std::int16_t ReadByteNow()
{
    if (ReadPosition >= EndMark)
        ReadStreamBlock();
    else
        CountTransfer();
    if (InputEnded && !StreamFailed && !Compressing && ++ReadsPastEnd > LOOK_AHEAD) {
        StreamFailed = true;
        RemainingInput = 0;
        DecodeTarget = 0;
    }
    if (InputEnded || StreamFailed)
        return -1;
    return InputBuffer[ReadPosition++];
}

void WriteStreamBlock()
{
    if (Compressing) {
        WriteLe16(OutputBuffer, RC_MAGIC);
        WriteLe16(OutputBuffer + 4, static_cast<std::uint32_t>(WritePosition));
        WriteLe16(OutputBuffer + 2,
                  BlockChecksum(OutputBuffer + BLOCK_HEADER_SIZE, WritePosition - BLOCK_HEADER_SIZE));
    }
    CallYieldHook();
    std::int32_t n = WritePosition;
    if (DataHookOnOutput && DataHook != nullptr)
        DataHookOnOutput = DataHook(OutputBuffer, n) != 0;
    StreamBytesOffered += static_cast<std::uint32_t>(n);
    if (StreamMemoryDestination != nullptr) {
        // The memory destination takes no more than its room; the rest of
        // the block is dropped as a short write would drop it.
        std::uint32_t take =
            static_cast<std::uint32_t>(n) < MemoryRoom ? static_cast<std::uint32_t>(n) : MemoryRoom;
        std::memcpy(StreamMemoryDestination, OutputBuffer, take);
        StreamMemoryDestination += take;
        MemoryRoom -= take;
        n = static_cast<std::int32_t>(take);
    } else {
        DWORD put = 0;
        if (!WriteFile(static_cast<HANDLE>(DestinationFile), OutputBuffer, static_cast<DWORD>(n), &put,
                       nullptr) &&
            put > static_cast<DWORD>(n))
            put = 0;
        n = put > static_cast<DWORD>(n) ? n : static_cast<std::int32_t>(put);
    }
    StreamBytesWritten += static_cast<std::uint32_t>(n);
    if (ProgressHook != nullptr)
        ProgressHook(n);
}

// One byte written: the byte that reaches the limit sends
// the block (not counted), any other write counts.
void WriteByteNow(std::int32_t b)
{
    OutputBuffer[WritePosition++] = static_cast<std::uint8_t>(b);
    if (WritePosition >= WriteLimit) {
        WriteStreamBlock();
        WritePosition = Compressing ? BLOCK_HEADER_SIZE : 0;
    } else {
        CountTransfer();
    }
}

// The codec's four slots.

std::int16_t ReadStreamByte()
{
    SettleWindows();
    std::int16_t b = ReadByteNow();
    OpenWindows();
    return b;
}

void WriteStreamByte(std::int32_t b)
{
    SettleWindows();
    WriteByteNow(b);
    OpenWindows();
}

// The fourth size byte reaches the limit of 10 and so goes out as the size
// block; data blocks then take 10240 bytes.
std::uint32_t WriteStreamSize()
{
    SettleWindows();
    for (int shift = 0; shift < 32; shift += 8)
        WriteByteNow(static_cast<std::int32_t>((DeclaredSize >> shift) & 0xFF));
    WriteLimit = BLOCK_SIZE;
    OpenWindows();
    return DeclaredSize;
}

std::uint32_t ReadStreamSize()
{
    SettleWindows();
    std::uint32_t size = 0;
    for (int shift = 0; shift < 32; shift += 8)
        size |= static_cast<std::uint32_t>(ReadByteNow() & 0xFF) << shift;
    if (StreamFailed)
        size = 0;
    ReadSize = BLOCK_SIZE;
    OpenWindows();
    return size;
}

void StartStream(bool compressing, HANDLE source, void* destination)
{
    ResetCodecState();
    CodecReadByte = ReadStreamByte;
    CodecWriteByte = WriteStreamByte;
    CodecWriteSize = WriteStreamSize;
    CodecReadSize = ReadStreamSize;
    Compressing = compressing;
    SourceFile = source;
    DestinationFile = destination;
    StreamBytesWritten = 0;
    StreamBytesOffered = 0;
    ReadPosition = EndMark = 0;
    InputEnded = StreamFailed = LastBlockRead = false;
    ReadsPastEnd = 0;
    TrafficCounter = 0;
    WindowInBytes = WindowOutBytes = 0;
    MemoryRoom = StreamMemoryDestination != nullptr ? StreamMemoryLimit : 0;
}

int EndStream()
{
    SettleWindows();
    WriteStreamBlock();
    CodecInNext = CodecInEnd = nullptr;
    CodecOutNext = CodecOutEnd = nullptr;
    DataHookOnInput = false;
    DataHookOnOutput = false;
    StreamXorKey = 0;
    StreamMemoryDestination = nullptr;
    StreamMemoryLimit = 0;
    return StreamFailed ? 0 : 1;
}

}  // namespace

int CompressStream(HANDLE source, void* destination, std::int32_t size)
{
    StartStream(true, source, destination);
    RemainingInput = size;
    DeclaredSize = static_cast<std::uint32_t>(size);
    WritePosition = BLOCK_HEADER_SIZE;
    WriteLimit = SIZE_BLOCK_SIZE;
    ReadSize = BLOCK_SIZE;
    DataHookOnOutput = false;
    OpenWindows();
    LzhufEncode();
    return EndStream();
}

int DecompressStream(HANDLE source, void* destination)
{
    StartStream(false, source, destination);
    RemainingInput = 0x7FFFFFFF;
    WritePosition = 0;
    WriteLimit = BLOCK_SIZE;
    ReadSize = SIZE_BLOCK_SIZE;
    DataHookOnInput = false;
    OpenWindows();
    LzhufDecode();
    return EndStream();
}

void AbortStream()
{
    InputEnded = true;
    StreamFailed = true;
    DecodeTarget = 0;
    RemainingInput = 0;
    CodecInEnd = CodecInNext;
}
