// Runs the built saverpack tool as a separate process and captures its
// exit status and output, for tests of the command line.
#pragma once

#include "tests/support/scratch_folder.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

inline std::string ShellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

// Runs saverpack with args in folder dir, feeding input on standard input.
inline ToolRun RunTool(const std::vector<std::string>& args, const std::string& input = "",
                       const std::filesystem::path& dir = std::filesystem::current_path())
{
    ScratchDir io;
    WriteFileText(io / "in", input);
    std::string command = "cd " + ShellQuote(dir.string()) + " && " + ShellQuote(SAVERPACK_TOOL);
    for (const std::string& a : args)
        command += " " + ShellQuote(a);
    command += " < " + ShellQuote((io / "in").string()) + " > " + ShellQuote((io / "out").string()) +
               " 2> " + ShellQuote((io / "err").string());
    int raw = std::system(command.c_str());
    int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return ToolRun{status, ReadFileText(io / "out"), ReadFileText(io / "err")};
}
