// saverpack scramble: runs a file through the keyed scrambler as one stream.
#include "scrambler/scrambler.h"
#include "tools/commands.h"

#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const
    {
        if (file != stdin && file != stdout)
            std::fclose(file);
    }
};

using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

int RunScramble(Args& args)
{
    std::string key;
    bool keyGiven = TakeValueOption(args, "key", key);
    bool unscramble = TakeFlag(args, "unscramble");
    ExpectOperands(args, 2, 2);
    const std::string& inPath = args[0];
    const std::string& outPath = args[1];

    FileHandle in(inPath == "-" ? stdin : std::fopen(inPath.c_str(), "rb"));
    if (!in)
        throw ToolError{inPath, DescribeErrno()};
    OutputFile output(outPath);
    FileHandle out(std::fopen(output.Path().c_str(), "wb"));
    if (!out)
        throw ToolError{outPath, DescribeErrno()};

    // The scrambler continues its stream across calls, so the file can go
    // through in pieces.
    ScramblerReset(keyGiven ? key.c_str() : nullptr);
    std::vector<std::uint8_t> buffer(1 << 16);
    for (;;) {
        std::size_t n = std::fread(buffer.data(), 1, buffer.size(), in.get());
        ScrambleBytes(buffer.data(), static_cast<std::int32_t>(n), unscramble ? UNSCRAMBLE : SCRAMBLE);
        if (n > 0 && std::fwrite(buffer.data(), 1, n, out.get()) != n)
            throw ToolError{outPath, "write failed: " + DescribeErrno()};
        if (n < buffer.size())
            break;
    }
    if (std::ferror(in.get()))
        throw ToolError{inPath, "read failed: " + DescribeErrno()};
    if (std::fclose(out.release()) != 0)
        throw ToolError{outPath, "write failed: " + DescribeErrno()};
    output.Commit();
    return 0;
}
