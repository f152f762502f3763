// saverpack compress / decompress: a file to or from a framed block stream
// of LZHUF code, through the transfer engine as the archive code uses it.
#include "archive/transfer.h"
#include "base/bytes.h"
#include "codec/stream.h"
#include "platform/tool_stdio.h"
#include "platform/win32.h"
#include "tools/commands.h"
#include "tools/file_handle.h"

#include <cstdio>
#include <fstream>

namespace {

// A progress bar on standard error for large work on a terminal, redrawn
// from the stream's ProgressHook. When compressing, the stream reports the
// framed bytes it writes, which say nothing of how far the source is, so
// the bar follows the source bytes that BlockReadHook reports.
struct ProgressBar {
    const char* verb = "";
    double total = 0;
    double done = 0;
    int shown = -1;
    bool countReads = false;
};
ProgressBar Bar;

void DrawBar()
{
    int percent = Bar.total > 0 ? static_cast<int>(100.0 * Bar.done / Bar.total) : 100;
    if (percent > 100)
        percent = 100;
    if (percent == Bar.shown)
        return;
    Bar.shown = percent;
    char line[40];
    int filled = percent * 30 / 100;
    for (int i = 0; i < 30; ++i)
        line[i] = i < filled ? '#' : '.';
    line[30] = '\0';
    std::fprintf(stderr, "\rsaverpack: %s [%s] %3d%%", Bar.verb, line, percent);
    std::fflush(stderr);
}

void OnProgress(std::int32_t bytes)
{
    if (!Bar.countReads)
        Bar.done += bytes;
    DrawBar();
}

void OnBlockRead(std::int32_t bytes)
{
    if (Bar.countReads)
        Bar.done += bytes;
}

// Offset and size of every read of the source, to tell where a stream broke.
std::uint32_t ReadOffset = 0;
std::uint32_t LastReadOffset = 0;
std::int32_t LastReadSize = 0;

void TrackRead(std::int32_t bytes)
{
    LastReadOffset = ReadOffset;
    LastReadSize = bytes;
    ReadOffset += static_cast<std::uint32_t>(bytes);
    OnBlockRead(bytes);
}

constexpr double LARGE_WORK = 1 << 20;

// Sets the hooks for one transfer and takes them down again, also when the
// command fails.
struct StreamHooks {
    StreamHooks(const char* verb, double total, bool countReads)
    {
        Bar = ProgressBar{verb, total, 0, -1, countReads};
        ReadOffset = LastReadOffset = 0;
        LastReadSize = 0;
        bar = StderrIsTerminal() && total >= LARGE_WORK;
        ProgressHook = bar ? OnProgress : nullptr;
        BlockReadHook = TrackRead;
    }
    ~StreamHooks()
    {
        ProgressHook = nullptr;
        BlockReadHook = nullptr;
        if (bar && Bar.shown >= 0)
            std::fprintf(stderr, "\r%60s\r", "");
    }
    bool bar = false;
};

std::int32_t SourceSize(HANDLE file, const std::string& name)
{
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    if (high != 0 || size > 0x7FFFFFFF)
        throw ToolError{name, "the file is too large (2 GiB at most)"};
    return static_cast<std::int32_t>(size);
}

// Why the read at offset of a failed stream did not pass as a block.
std::string WhyDamaged(const std::string& path, std::uint32_t offset, std::int32_t got, bool sizeBlock)
{
    std::string at = "at offset " + std::to_string(offset);
    if (got == 0)
        return "the stream ends " + at + " before its last block";
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> block(static_cast<std::size_t>(got));
    in.seekg(offset);
    in.read(reinterpret_cast<char*>(block.data()), got);
    std::string what = sizeBlock ? "the size block " : "the block ";
    if (got < BLOCK_HEADER_SIZE)
        return what + at + " is cut short (" + std::to_string(got) + " bytes)";
    if (ReadLe16(block.data()) != RC_MAGIC)
        return "no block " + at + " (no \"RC\" mark)";
    std::uint32_t length = ReadLe16(block.data() + 4);
    if (length < static_cast<std::uint32_t>(BLOCK_HEADER_SIZE))
        return what + at + " has a bad length (" + std::to_string(length) + ")";
    if (length > static_cast<std::uint32_t>(got))
        return what + at + " is cut short (" + std::to_string(got) + " of " + std::to_string(length) +
               " bytes)";
    return what + at + " fails its checksum";
}

// The size a stream declares in its size block, for the progress bar only
// (the stream reads it again); 0 when there is no whole size block.
double DeclaredSize(HANDLE file)
{
    std::uint8_t head[SIZE_BLOCK_SIZE] = {};
    DWORD got = 0;
    if (!ReadFile(file, head, SIZE_BLOCK_SIZE, &got, nullptr))
        got = 0;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    return got == static_cast<DWORD>(SIZE_BLOCK_SIZE) ? ReadLe32(head + BLOCK_HEADER_SIZE) : 0;
}

int RunStream(Args& args, bool compress)
{
    ExpectOperands(args, 2, 2);
    const std::string& inPath = args[0];
    const std::string& outPath = args[1];
    InputFile input(inPath);
    FileHandle32 in;
    OpenForReading(in, input.Path(), inPath);
    std::int32_t size = SourceSize(in.value, inPath);
    double total = compress ? size : DeclaredSize(in.value);
    OutputFile output(outPath);
    FileHandle32 out;
    CreateForWriting(out, output.Path(), outPath);

    std::int32_t moved = compress ? size : 0;
    int result;
    {
        StreamHooks hooks(compress ? "compressing" : "decompressing", total, compress);
        result = TransferData(in.value, out.value, moved, compress ? XFER_COMPRESS : XFER_DECOMPRESS);
    }
    if (!result && compress)
        throw ToolError{inPath, "compression stopped"};
    if (!result) {
        throw ToolError{inPath,
                        "damaged compressed stream: " +
                            WhyDamaged(input.Path(), LastReadOffset, LastReadSize, LastReadOffset == 0)};
    }
    if (StreamBytesWritten != StreamBytesOffered)
        throw ToolError{outPath, "write failed"};
    out.Close();
    in.Close();
    output.Commit();
    return 0;
}

}  // namespace

int RunCompress(Args& args)
{
    return RunStream(args, true);
}

int RunDecompress(Args& args)
{
    return RunStream(args, false);
}
