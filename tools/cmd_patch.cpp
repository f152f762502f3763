// saverpack patch: copies a file through the transfer engine's raw copy
// with the patch hook, writing a payload in place of the first patch marker.
#include "archive/transfer.h"
#include "platform/win32.h"
#include "scrambler/patch.h"
#include "tools/commands.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace {

struct Handle {
    HANDLE value = INVALID_HANDLE_VALUE;
    ~Handle()
    {
        if (value != INVALID_HANDLE_VALUE)
            CloseHandle(value);
    }
    void Close()
    {
        if (value != INVALID_HANDLE_VALUE)
            CloseHandle(value);
        value = INVALID_HANDLE_VALUE;
    }
};

// Why a copy completed no patch, told from the data itself: the hook only
// finds a marker with at least one byte after it in its own chunk.
std::string WhyNotPatched(const std::string& inPath, std::int32_t markerSeen, std::size_t payloadSize)
{
    std::vector<std::uint8_t> data = ReadWholeInput(inPath);
    auto found = std::search(data.begin(), data.end(), std::begin(PATCH_MARKER), std::end(PATCH_MARKER));
    if (found == data.end())
        return "no patch marker in the data";
    auto offset = static_cast<std::size_t>(found - data.begin());
    if (markerSeen < 0 || static_cast<std::size_t>(markerSeen) >= data.size()) {
        return "the patch marker at offset " + std::to_string(offset) +
               " crosses or ends a " + std::to_string(TRANSFER_CHUNK_SIZE) +
               "-byte chunk, where it cannot be patched";
    }
    std::size_t room = data.size() - static_cast<std::size_t>(markerSeen) - PATCH_MARKER_SIZE;
    return "the payload of " + std::to_string(payloadSize) + " bytes does not fit after the marker at offset " +
           std::to_string(markerSeen) + " (" + std::to_string(room) + " bytes follow it)";
}

}  // namespace

int RunPatch(Args& args)
{
    std::string payloadPath;
    if (!TakeValueOption(args, "payload", payloadPath))
        throw UsageError{"--payload=FILE is required"};
    PatchOptions options = 0;
    int scramble = TakeFlag(args, "scramble") ? 1 : 0;
    if (TakeFlag(args, "keep-marker"))
        options |= PATCH_KEEP_MARKER;
    if (TakeFlag(args, "store-offset"))
        options |= PATCH_STORE_OFFSET;
    ExpectOperands(args, 2, 2);
    const std::string& inPath = args[0];
    const std::string& outPath = args[1];
    if (inPath == "-" && payloadPath == "-")
        throw UsageError{"IN and --payload cannot both be standard input"};

    std::vector<std::uint8_t> payload = ReadWholeInput(payloadPath);
    if (payload.empty())
        throw ToolError{payloadPath, "the payload is empty"};
    if ((options & PATCH_STORE_OFFSET) && payload.size() < 4)
        throw ToolError{payloadPath, "--store-offset needs a payload of at least 4 bytes"};
    if (payload.size() > 0x7FFFFFFF)
        throw ToolError{payloadPath, "the payload is too large"};

    InputFile input(inPath);
    Handle in;
    in.value = CreateFileA(input.Path().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (in.value == INVALID_HANDLE_VALUE)
        throw ToolError{inPath, "cannot open (error " + std::to_string(GetLastError()) + ")"};
    DWORD high = 0;
    DWORD size = GetFileSize(in.value, &high);
    if (high != 0 || size > 0x7FFFFFFF)
        throw ToolError{inPath, "the file is too large"};

    OutputFile output(outPath);
    Handle out;
    out.value = CreateFileA(output.Path().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out.value == INVALID_HANDLE_VALUE)
        throw ToolError{outPath, "cannot create (error " + std::to_string(GetLastError()) + ")"};

    SetPatchSource(payload.data(), static_cast<std::int32_t>(payload.size()), scramble, options);
    auto moved = static_cast<std::int32_t>(size);
    int result = TransferData(in.value, out.value, moved, XFER_PATCH);
    std::int32_t marker = PatchPosition();
    out.Close();
    in.Close();
    if (moved != static_cast<std::int32_t>(size))
        throw ToolError{outPath, "write failed"};
    if (!result)
        throw ToolError{inPath, "not patched: " + WhyNotPatched(input.Path(), marker, payload.size())};
    output.Commit();
    std::fprintf(outPath == "-" ? stderr : stdout, "patched: marker at offset %ld, payload at %ld\n",
                 static_cast<long>(marker), static_cast<long>(marker) + PATCH_MARKER_SIZE);
    return 0;
}
