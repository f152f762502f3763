// Shared plumbing of the saverpack commands: errors, arguments, and input
// and output files that never leave partial results behind.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A failure of the command: printed as "saverpack: <what>: <why>", exit 1.
struct ToolError {
    std::string what;
    std::string why;
};

// A wrong command line: printed with the command's usage line, exit 2.
struct UsageError {
    std::string message;
};

using Args = std::vector<std::string>;

struct Command {
    const char* name;
    int (*run)(Args& args);
    const char* usage;    // the arguments after "saverpack <name>"
    const char* summary;  // one line for --help
};

// Takes "--name=VALUE" out of args when present; returns whether it was.
bool TakeValueOption(Args& args, const std::string& name, std::string& value);
// Takes "--name" out of args when present; returns whether it was.
bool TakeFlag(Args& args, const std::string& name);
// Fails with a usage error when an unknown option is left (anything that
// starts with "-" and is not "-" itself), or when the count of the remaining
// operands is outside [least, most].
void ExpectOperands(const Args& args, std::size_t least, std::size_t most);

// The whole content of a file, or of standard input for "-".
std::vector<std::uint8_t> ReadWholeInput(const std::string& path);

// An output written under a temporary name beside the target and renamed
// into place by Commit. Destroyed without Commit, it removes the temporary
// file, so a failed command leaves nothing behind. For "-" the temporary
// file lives in the system's temporary folder and Commit copies it to
// standard output.
class OutputFile {
public:
    explicit OutputFile(std::string target);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // The path to write to (the temporary file).
    const std::string& Path() const { return temporary_; }
    void Commit();

private:
    std::string target_;
    std::string temporary_;
    bool committed_ = false;
};

// A file path for an input named on the command line; for "-" standard
// input is first copied to a temporary file, removed again on destruction.
class InputFile {
public:
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    const std::string& Path() const { return path_; }

private:
    std::string path_;
    bool temporary_ = false;
};

std::string DescribeErrno();
