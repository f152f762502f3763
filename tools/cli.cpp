#include "tools/cli.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::atomic<int> TemporaryCounter{0};

std::string TemporaryNameBeside(const fs::path& target)
{
    fs::path folder = target.parent_path();
    std::string name(".");
    name += target.filename().string();
    name += ".saverpack-";
    name += std::to_string(getpid());
    name += '-';
    name += std::to_string(TemporaryCounter++);
    name += ".tmp";
    return (folder.empty() ? fs::path(name) : folder / name).string();
}

std::string TemporaryInSystemFolder()
{
    std::error_code error;
    fs::path folder = fs::temp_directory_path(error);
    if (error)
        folder = ".";
    return TemporaryNameBeside(folder / "stdio");
}

void CopyStream(std::FILE* from, std::FILE* to, const std::string& what)
{
    std::vector<char> buffer(1 << 16);
    for (;;) {
        std::size_t n = std::fread(buffer.data(), 1, buffer.size(), from);
        if (n > 0 && std::fwrite(buffer.data(), 1, n, to) != n)
            throw ToolError{what, "write failed: " + DescribeErrno()};
        if (n < buffer.size()) {
            if (std::ferror(from))
                throw ToolError{what, "read failed: " + DescribeErrno()};
            break;
        }
    }
}

}  // namespace

std::string DescribeErrno()
{
    return std::strerror(errno);
}

bool TakeValueOption(Args& args, const std::string& name, std::string& value)
{
    std::string prefix = "--" + name + "=";
    auto found = std::find_if(args.begin(), args.end(),
                              [&](const std::string& a) { return a.rfind(prefix, 0) == 0; });
    if (found == args.end())
        return false;
    value = found->substr(prefix.size());
    args.erase(found);
    return true;
}

bool TakeFlag(Args& args, const std::string& name)
{
    auto found = std::find(args.begin(), args.end(), "--" + name);
    if (found == args.end())
        return false;
    args.erase(found);
    return true;
}

void ExpectOperands(const Args& args, std::size_t least, std::size_t most)
{
    for (const std::string& a : args) {
        if (a.size() > 1 && a[0] == '-')
            throw UsageError{"unknown option '" + a + "'"};
    }
    if (args.size() < least)
        throw UsageError{"missing operand"};
    if (args.size() > most)
        throw UsageError{"too many operands"};
}

std::vector<std::uint8_t> ReadWholeInput(const std::string& path)
{
    std::FILE* in = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (in == nullptr)
        throw ToolError{path, DescribeErrno()};
    std::vector<std::uint8_t> data;
    std::vector<std::uint8_t> buffer(1 << 16);
    for (;;) {
        std::size_t n = std::fread(buffer.data(), 1, buffer.size(), in);
        data.insert(data.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
        if (n < buffer.size())
            break;
    }
    bool failed = std::ferror(in) != 0;
    if (in != stdin)
        std::fclose(in);
    if (failed)
        throw ToolError{path, "read failed: " + DescribeErrno()};
    return data;
}

OutputFile::OutputFile(std::string target)
    : target_(std::move(target)),
      temporary_(target_ == "-" ? TemporaryInSystemFolder() : TemporaryNameBeside(target_))
{
}

OutputFile::~OutputFile()
{
    if (!committed_) {
        std::error_code ignored;
        fs::remove(temporary_, ignored);
    }
}

void OutputFile::Commit()
{
    if (target_ == "-") {
        std::FILE* in = std::fopen(temporary_.c_str(), "rb");
        if (in == nullptr)
            throw ToolError{"standard output", DescribeErrno()};
        try {
            CopyStream(in, stdout, "standard output");
        } catch (...) {
            std::fclose(in);
            throw;
        }
        std::fclose(in);
        if (std::fflush(stdout) != 0)
            throw ToolError{"standard output", "write failed: " + DescribeErrno()};
        return;  // the destructor removes the temporary file
    }
    std::error_code error;
    fs::rename(temporary_, target_, error);
    if (error)
        throw ToolError{target_, error.message()};
    committed_ = true;
}

InputFile::InputFile(const std::string& path) : path_(path)
{
    if (path != "-")
        return;
    path_ = TemporaryInSystemFolder();
    temporary_ = true;
    std::FILE* out = std::fopen(path_.c_str(), "wb");
    if (out == nullptr)
        throw ToolError{"standard input", DescribeErrno()};
    bool closed = false;
    try {
        CopyStream(stdin, out, "standard input");
        closed = true;
        if (std::fclose(out) != 0)
            throw ToolError{"standard input", DescribeErrno()};
    } catch (...) {
        if (!closed)
            std::fclose(out);
        std::error_code ignored;
        fs::remove(path_, ignored);
        throw;
    }
}

InputFile::~InputFile()
{
    if (temporary_) {
        std::error_code ignored;
        fs::remove(path_, ignored);
    }
}
