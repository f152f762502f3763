// A fresh folder per test under the system's temporary folder, named after
// the process and the running test, with whole-file helpers. Tests run in
// parallel processes, so every test gets a folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

// size bytes of a fixed pseudo-random sequence; seeds give other sequences.
inline std::vector<std::uint8_t> Pattern(std::size_t size, unsigned seed = 1)
{
    std::vector<std::uint8_t> data(size);
    unsigned x = seed * 2654435761u + 1;
    for (std::uint8_t& b : data) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return data;
}

class ScratchFolder {
public:
    using Bytes = std::vector<std::uint8_t>;

    // Makes the folder afresh; prefix tells the suites apart.
    void Make(const std::string& prefix)
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        for (char& c : name) {
            if (c == '/')
                c = '_';
        }
        folder_ = std::filesystem::temp_directory_path() /
                  (prefix + std::to_string(getpid()) + "_" + name);
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
    }

    void Remove() { std::filesystem::remove_all(folder_); }

    const std::filesystem::path& Folder() const { return folder_; }

    std::string Path(const std::string& name) const { return (folder_ / name).string(); }

    void Write(const std::string& name, const Bytes& data) const
    {
        std::ofstream out(Path(name), std::ios::binary);
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    }

    Bytes Read(const std::string& name) const
    {
        std::ifstream in(Path(name), std::ios::binary);
        return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    bool Exists(const std::string& name) const { return std::filesystem::exists(Path(name)); }

    // Every file and folder below the folder, as relative paths.
    std::set<std::string> Files() const
    {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder_))
            names.insert(std::filesystem::relative(entry.path(), folder_).string());
        return names;
    }

private:
    std::filesystem::path folder_;
};
