// Runs the built saverpack tool as a separate process and captures its
// exit status and output, for tests of the command line.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
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

inline std::string ReadFileText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteFileText(const std::filesystem::path& path, const std::string& data)
{
    std::ofstream out(path, std::ios::binary);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

// A fresh folder for one test, removed with it.
class ScratchDir {
public:
    ScratchDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "saverpack-test-XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        path_ = mkdtemp(buffer.data());
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    // The names in the folder, sorted, to show that nothing was left behind.
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::filesystem::path path_;
};

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
