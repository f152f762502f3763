// saverpack create, list, extract and verify: glue archives through the
// archive module's writer and reader.
//
// The archive module keeps one process-wide state; each command runs once
// per process, so it uses that state directly and puts it back with
// ResetArchiveModule when it ends, which also closes any file still open
// (before an OutputFile removes its temporary file).
#include "archive/archive.h"
#include "tools/commands.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

namespace fs = std::filesystem;

namespace {

struct ArchiveModuleScope {
    ArchiveModuleScope() { ResetArchiveModule(); }
    ~ArchiveModuleScope() { ResetArchiveModule(); }
    ArchiveModuleScope(const ArchiveModuleScope&) = delete;
    ArchiveModuleScope& operator=(const ArchiveModuleScope&) = delete;
};

char FoldAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameNameNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    }
    return true;
}

std::string RecordNameOf(const std::uint8_t* record)
{
    return std::string(reinterpret_cast<const char*>(record + RECORD_NAME),
                       static_cast<std::size_t>(RecordNameLength(record)));
}

// A name as printed: bytes that are not visible ASCII, and the backslash,
// as \xNN, so that every line stays one line and names with spaces stay
// one field.
std::string PrintableName(const std::string& name)
{
    std::string out;
    char escape[8];
    for (char ch : name) {
        auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F || c == '\\') {
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        } else {
            out += ch;
        }
    }
    return out.empty() ? std::string("\"\"") : out;
}

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    char escape[8];
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c >= 0x7F) {
            // Names are 8-bit ANSI text; each byte stands for the code
            // point of the same value.
            std::snprintf(escape, sizeof escape, "\\u%04X", c);
            out += escape;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string Hex(const std::uint8_t* bytes, std::int32_t count)
{
    std::string out;
    char digits[3];
    for (std::int32_t i = 0; i < count; ++i) {
        std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
        out += digits;
    }
    return out;
}

std::string StorageOf(const std::uint8_t* record)
{
    if (RecordIsInline(record))
        return "inline";
    if (RecordIsCompressed(record))
        return "compressed";
    if (RecordKey(record) != 0)
        return "xor " + std::to_string(RecordKey(record));
    return "stored";
}

std::string DescribeOpenError()
{
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return "no such file";
    case ERROR_ACCESS_DENIED: return "permission denied";
    case ERROR_SHARING_VIOLATION: return "the file is in use";
    default: return "cannot open the file (error " + std::to_string(GetLastError()) + ")";
    }
}

// The archive named on the command line, opened as the input archive.
// "-" reads standard input through a temporary file.
class InputArchive {
public:
    explicit InputArchive(const std::string& name) : name_(name), file_(name)
    {
        EnableFailureLatch(0);
        handle_ = OpenInputArchive(file_.Path().c_str());
        if (handle_ != INVALID_HANDLE_VALUE) {
            std::error_code error;
            size_ = fs::file_size(file_.Path(), error);
            return;
        }
        switch (InputOpenStage()) {
        case 1: throw ToolError{name, DescribeOpenError()};
        case 2: throw ToolError{name, "the end of the file could not be read"};
        default: throw ToolError{name, "no glue archive directory found"};
        }
    }

    // Closed before a temporary copy of standard input is removed.
    ~InputArchive() { CloseArchive(handle_); }
    InputArchive(const InputArchive&) = delete;
    InputArchive& operator=(const InputArchive&) = delete;

    const std::string& Name() const { return name_; }
    std::uintmax_t Size() const { return size_; }

private:
    std::string name_;
    InputFile file_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::uintmax_t size_ = 0;
};

// The records that a lookup by name reaches: the first of each name. A
// later record of a name already seen is hidden behind it, since the
// reader always answers with the first.
std::vector<std::int32_t> ReachableRecords()
{
    std::vector<std::int32_t> reachable;
    std::vector<std::string> seen;
    for (std::int32_t k = 0; k < InputEntryCount(); ++k) {
        std::string name = RecordNameOf(InputEntryRecord(k));
        bool hidden = false;
        for (const std::string& other : seen)
            hidden = hidden || SameNameNoCase(other, name);
        if (hidden)
            continue;
        seen.push_back(name);
        reachable.push_back(k);
    }
    return reachable;
}

// What is wrong with a record before any of its data is read; empty when
// nothing is.
std::string RecordProblem(const std::uint8_t* record, std::uintmax_t fileSize)
{
    if (RecordIsInline(record)) {
        auto length = static_cast<std::int8_t>(record[RECORD_COUNT_OR_LENGTH]);
        if (length < 0 || length > INLINE_MAX_LENGTH)
            return "inline length " + std::to_string(length) + " is outside 0 to 16";
        return {};
    }
    std::int32_t offset = RecordDataOffset(record);
    std::int32_t stored = RecordStoredSize(record);
    std::int32_t original = RecordOriginalSize(record);
    if (offset < 0)
        return "negative data offset " + std::to_string(offset);
    if (stored < 0)
        return "negative stored size " + std::to_string(stored);
    if (original < 0)
        return "negative original size " + std::to_string(original);
    auto end = static_cast<std::uintmax_t>(offset) + static_cast<std::uintmax_t>(stored);
    if (end > fileSize)
        return "its data (" + std::to_string(stored) + " bytes at offset " +
               std::to_string(offset) + ") lies past the end of the file (" +
               std::to_string(fileSize) + " bytes)";
    return {};
}

// Restores the entry of record index into the file at path. Returns what
// went wrong, or an empty text when the entry came out whole.
std::string RestoreEntry(const InputArchive& archive, std::int32_t index, const std::string& path)
{
    const std::uint8_t* record = InputEntryRecord(index);
    std::string problem = RecordProblem(record, archive.Size());
    if (!problem.empty())
        return problem;
    std::string name = RecordNameOf(record);
    EnableFailureLatch(0);
    if (!ExtractEntry(name.c_str(), path.c_str())) {
        if (RecordIsCompressed(record))
            return "the compressed data could not be decompressed";
        return "its data could not be read or written";
    }
    std::int32_t expected =
        RecordIsInline(record) ? RecordInlineLength(record) : RecordOriginalSize(record);
    std::error_code error;
    std::uintmax_t restored = fs::file_size(path, error);
    if (error)
        return "the restored data could not be measured: " + error.message();
    if (restored != static_cast<std::uintmax_t>(expected))
        return "restored " + std::to_string(restored) + " bytes, but the record says " +
               std::to_string(expected);
    return {};
}

// ---- create -------------------------------------------------------------

enum class StepKind { File, Inline, Alias };

struct CreateStep {
    StepKind kind;
    std::string name;
    std::string path;       // File: the source; Alias: the existing name
    TransferFlags flags = 0;
    std::vector<std::uint8_t> bytes;
};

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = FoldAscii(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::vector<std::uint8_t> ParseHex(const std::string& text, const std::string& option)
{
    if (text.size() % 2 != 0)
        throw UsageError{option + ": odd number of hex digits"};
    if (text.size() > 2 * INLINE_MAX_LENGTH)
        throw UsageError{option + ": an inline entry holds at most 16 bytes"};
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        int high = HexDigit(text[i]);
        int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0)
            throw UsageError{option + ": not a hex digit in '" + text + "'"};
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return bytes;
}

TransferFlags ParseXorKey(const std::string& text)
{
    std::size_t used = 0;
    unsigned long value = 0;
    try {
        value = std::stoul(text, &used, 0);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || value < 1 || value > 255)
        throw UsageError{"--xor=" + text + ": the key must be a number from 1 to 255"};
    return static_cast<TransferFlags>(value);
}

// Splits "LEFT=RIGHT" at its first '='.
bool SplitAtEquals(const std::string& text, std::string& left, std::string& right)
{
    std::size_t at = text.find('=');
    if (at == std::string::npos)
        return false;
    left = text.substr(0, at);
    right = text.substr(at + 1);
    return true;
}

void CheckEntryName(const std::string& name, const std::string& where)
{
    if (name.empty())
        throw UsageError{where + ": empty entry name"};
    if (name.size() > static_cast<std::size_t>(ENTRY_NAME_SIZE))
        throw ToolError{name, "entry names have at most 16 characters"};
}

std::vector<CreateStep> ParseCreateSteps(const Args& args, std::string& archive)
{
    std::vector<CreateStep> steps;
    TransferFlags storage = 0;
    bool archiveGiven = false;
    std::string left, right, value;
    for (const std::string& a : args) {
        if (a == "--stored") {
            storage = 0;
        } else if (a == "--compress") {
            storage = XFER_COMPRESS;
        } else if (a.rfind("--xor=", 0) == 0) {
            storage = ParseXorKey(a.substr(6));
        } else if (a.rfind("--inline=", 0) == 0) {
            if (!SplitAtEquals(a.substr(9), left, right))
                throw UsageError{a + ": expected --inline=NAME=HEX"};
            CheckEntryName(left, a);
            steps.push_back({StepKind::Inline, left, {}, 0, ParseHex(right, a)});
        } else if (a.rfind("--alias=", 0) == 0) {
            if (!SplitAtEquals(a.substr(8), left, right))
                throw UsageError{a + ": expected --alias=NEW=EXISTING"};
            CheckEntryName(left, a);
            steps.push_back({StepKind::Alias, left, right, 0, {}});
        } else if (a.size() > 1 && a[0] == '-') {
            throw UsageError{"unknown option '" + a + "'"};
        } else if (!archiveGiven) {
            archive = a;
            archiveGiven = true;
        } else {
            if (!SplitAtEquals(a, left, right) || right.empty())
                throw UsageError{"'" + a + "': an entry is NAME=PATH"};
            CheckEntryName(left, a);
            steps.push_back({StepKind::File, left, right, storage, {}});
        }
    }
    if (!archiveGiven || steps.empty())
        throw UsageError{"missing operand"};
    return steps;
}

// Everything that can be known to fail is refused before a byte is written.
void CheckCreateSteps(const std::vector<CreateStep>& steps, const std::string& archive)
{
    if (steps.size() > static_cast<std::size_t>(MAX_RECORDS))
        throw ToolError{archive, std::to_string(steps.size()) +
                                     " records: a glue archive holds at most 31"};
    if (steps.front().kind == StepKind::Inline)
        throw ToolError{steps.front().name,
                        "the first record cannot be inline: its first byte holds the record count"};
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const CreateStep& step = steps[i];
        bool existingFound = false;
        for (std::size_t j = 0; j < i; ++j) {
            if (SameNameNoCase(steps[j].name, step.name))
                throw ToolError{step.name, "entry name given twice"};
            existingFound = existingFound || SameNameNoCase(steps[j].name, step.path);
        }
        if (step.kind == StepKind::Alias && !existingFound)
            throw ToolError{step.name, "alias of '" + step.path + "', which is not an earlier entry"};
        if (step.kind == StepKind::File) {
            std::FILE* probe = std::fopen(step.path.c_str(), "rb");
            if (probe == nullptr)
                throw ToolError{step.path, DescribeErrno()};
            std::fclose(probe);
            std::error_code error;
            if (!fs::is_regular_file(step.path, error))
                throw ToolError{step.path, "not a regular file"};
        }
    }
}

std::string FileStepFailure(const CreateStep& step)
{
    if (step.flags & XFER_COMPRESS)
        return "compressing it failed: the compressed stream could not be written";
    return "its data could not be read or written";
}

// ---- extract ------------------------------------------------------------

// Takes "OPTION VALUE" out of args when present; returns whether it was.
bool TakeSeparateValue(Args& args, const std::string& option, std::string& value)
{
    for (auto it = args.begin(); it != args.end(); ++it) {
        if (*it != option)
            continue;
        if (it + 1 == args.end())
            throw UsageError{option + " needs a value"};
        value = *(it + 1);
        args.erase(it, it + 2);
        return true;
    }
    return false;
}

bool IsDeviceName(const std::string& name)
{
    std::string base = name.substr(0, name.find('.'));
    for (char& c : base)
        c = FoldAscii(c);
    if (base == "con" || base == "prn" || base == "aux" || base == "nul")
        return true;
    return base.size() == 4 && (base.rfind("com", 0) == 0 || base.rfind("lpt", 0) == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

// Why an entry name cannot be a file name inside the target folder, or
// an empty text when it can.
std::string UnsafeFileName(const std::string& name)
{
    if (name.empty() || name == "." || name == "..")
        return "not a file name";
    for (char ch : name) {
        auto c = static_cast<unsigned char>(ch);
        if (c == '/' || c == '\\')
            return "a name with a path separator would leave the folder";
        if (c == ':')
            return "a name with a drive letter or colon would leave the folder";
        if (c < 0x20)
            return "a name with control characters is not a file name";
    }
    if (IsDeviceName(name))
        return "the name of a Windows device is not a file name";
    return {};
}

int ExtractOne(const InputArchive& archive, const std::string& name, const std::string& target)
{
    const std::uint8_t* found = FindEntry(name.c_str(), FIND_ORDINARY | FIND_INLINE);
    std::int32_t index = -1;
    for (std::int32_t k = 0; k < InputEntryCount(); ++k) {
        if (InputEntryRecord(k) == found)
            index = k;
    }
    if (index < 0)
        throw ToolError{archive.Name(), "no entry named '" + name + "'"};
    OutputFile output(target);
    std::string problem = RestoreEntry(archive, index, output.Path());
    if (!problem.empty())
        throw ToolError{archive.Name() + ": " + PrintableName(name), problem};
    output.Commit();
    return 0;
}

int ExtractAll(const InputArchive& archive, const std::string& folder)
{
    std::vector<std::int32_t> records = ReachableRecords();
    for (std::int32_t k : records) {
        std::string name = RecordNameOf(InputEntryRecord(k));
        std::string why = UnsafeFileName(name);
        if (!why.empty())
            throw ToolError{archive.Name() + ": " + PrintableName(name), why};
    }
    std::error_code error;
    fs::create_directories(folder, error);
    if (error)
        throw ToolError{folder, error.message()};
    // Every entry goes to a temporary file first; only when all came out
    // whole are they renamed into place.
    std::vector<std::unique_ptr<OutputFile>> outputs;
    for (std::int32_t k : records) {
        std::string name = RecordNameOf(InputEntryRecord(k));
        outputs.push_back(std::make_unique<OutputFile>((fs::path(folder) / name).string()));
        std::string problem = RestoreEntry(archive, k, outputs.back()->Path());
        if (!problem.empty())
            throw ToolError{archive.Name() + ": " + PrintableName(name), problem};
    }
    for (auto& output : outputs)
        output->Commit();
    for (std::int32_t k = 0; k < InputEntryCount(); ++k) {
        if (std::find(records.begin(), records.end(), k) == records.end())
            std::fprintf(stderr, "saverpack: %s: record %d has the name of an earlier record and "
                                 "cannot be reached by name; not extracted\n",
                         archive.Name().c_str(), static_cast<int>(k));
    }
    return 0;
}

}  // namespace

int RunCreate(Args& args)
{
    std::string archive;
    std::vector<CreateStep> steps = ParseCreateSteps(args, archive);
    CheckCreateSteps(steps, archive);

    OutputFile output(archive);
    ArchiveModuleScope scope;
    EnableFailureLatch(1);
    HANDLE file = CreateOutputArchive(output.Path().c_str());
    if (file == INVALID_HANDLE_VALUE)
        throw ToolError{archive, "cannot create the file"};
    for (const CreateStep& step : steps) {
        switch (step.kind) {
        case StepKind::File:
            if (!AddFileEntry(step.path.c_str(), step.name.c_str(), step.flags))
                throw ToolError{step.name + "=" + step.path, FileStepFailure(step)};
            break;
        case StepKind::Inline:
            if (!AddInlineEntry(step.name.c_str(), step.bytes.data(),
                                static_cast<std::int32_t>(step.bytes.size())))
                throw ToolError{step.name, "the inline record could not be added"};
            break;
        case StepKind::Alias:
            if (!AddAliasEntry(step.name.c_str(), step.path.c_str()))
                throw ToolError{step.name, "the alias could not be added"};
            break;
        }
    }
    CloseArchive(file);
    if (ArchiveFailed())
        throw ToolError{archive, "the directory could not be written"};
    output.Commit();
    return 0;
}

int RunList(Args& args)
{
    bool json = TakeFlag(args, "json");
    ExpectOperands(args, 1, 1);
    ArchiveModuleScope scope;
    InputArchive archive(args[0]);
    std::int32_t count = InputEntryCount();
    if (json)
        std::printf("[");
    for (std::int32_t k = 0; k < count; ++k) {
        const std::uint8_t* r = InputEntryRecord(k);
        std::string name = RecordNameOf(r);
        if (json) {
            std::printf("%s\n  {\"index\": %d, \"name\": %s, \"kind\": %u, \"key\": %u, "
                        "\"dataOffset\": %d, \"storedSize\": %d, \"originalSize\": %d, "
                        "\"patchPosition\": %d",
                        k == 0 ? "" : ",", static_cast<int>(k), JsonString(name).c_str(),
                        RecordKind(r), RecordKey(r), RecordDataOffset(r), RecordStoredSize(r),
                        RecordOriginalSize(r), RecordPatchPosition(r));
            if (RecordIsInline(r)) {
                std::int32_t n = RecordInlineLength(r);
                std::printf(", \"inlineLength\": %d, \"inlineHex\": \"%s\"", static_cast<int>(n),
                            Hex(r + RECORD_INLINE_DATA, n).c_str());
            }
            std::printf("}");
            continue;
        }
        std::printf("%-3d %-18s %-10s", static_cast<int>(k), PrintableName(name).c_str(),
                    StorageOf(r).c_str());
        if (RecordIsInline(r)) {
            std::int32_t n = RecordInlineLength(r);
            std::printf(" length=%d data=%s\n", static_cast<int>(n),
                        Hex(r + RECORD_INLINE_DATA, n).c_str());
            continue;
        }
        std::printf(" dataOffset=%d storedSize=%d originalSize=%d patchPosition=%d",
                    RecordDataOffset(r), RecordStoredSize(r), RecordOriginalSize(r),
                    RecordPatchPosition(r));
        std::string shares;
        for (std::int32_t j = 0; j < count; ++j) {
            const std::uint8_t* other = InputEntryRecord(j);
            if (j == k || RecordIsInline(other) || RecordDataOffset(other) != RecordDataOffset(r))
                continue;
            if (!shares.empty())
                shares += ',';
            shares += std::to_string(j);
        }
        if (!shares.empty())
            std::printf(" shares=%s", shares.c_str());
        std::printf("\n");
    }
    if (json)
        std::printf("%s]\n", count == 0 ? "" : "\n");
    return 0;
}

int RunExtract(Args& args)
{
    std::string target, folder;
    bool hasTarget = TakeSeparateValue(args, "-o", target);
    bool hasFolder = TakeSeparateValue(args, "-C", folder);
    bool all = TakeFlag(args, "all");
    if (all) {
        ExpectOperands(args, 1, 1);
        if (!hasFolder || hasTarget)
            throw UsageError{"--all writes into a folder: give -C DIR, not -o"};
    } else {
        ExpectOperands(args, 2, 2);
        if (hasFolder)
            throw UsageError{"-C DIR goes with --all"};
    }
    ArchiveModuleScope scope;
    InputArchive archive(args[0]);
    if (all)
        return ExtractAll(archive, folder);
    return ExtractOne(archive, args[1], hasTarget ? target : "-");
}

int RunVerify(Args& args)
{
    ExpectOperands(args, 1, 1);
    ArchiveModuleScope scope;
    InputArchive archive(args[0]);
    int damaged = 0;
    std::vector<std::int32_t> records = ReachableRecords();
    for (std::int32_t k : records) {
        // A standard-output OutputFile is a temporary file that is removed
        // again unless committed: the restored data is not kept.
        OutputFile scratch("-");
        std::string problem = RestoreEntry(archive, k, scratch.Path());
        if (problem.empty())
            continue;
        ++damaged;
        std::printf("%d %s: %s\n", static_cast<int>(k),
                    PrintableName(RecordNameOf(InputEntryRecord(k))).c_str(), problem.c_str());
    }
    if (damaged > 0)
        throw ToolError{archive.Name(), std::to_string(damaged) + " of " +
                                            std::to_string(records.size()) +
                                            " entries damaged or unreadable"};
    std::printf("%s: all %d entries sound\n", archive.Name().c_str(),
                static_cast<int>(records.size()));
    return 0;
}
