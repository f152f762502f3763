// Scratch folders for tests, and whole-file helpers. Tests run in parallel
// processes, so every folder is made afresh with a unique name under the
// system's temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

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

// A fresh folder, removed with the object.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& prefix = "saverpack-test-")
    {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        path_ = mkdtemp(buffer.data());
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

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

// A scratch folder for a fixture: made afresh by Make for the running test
// (named after it), removed by Remove, with byte-vector file helpers.
class ScratchFolder {
public:
    using Bytes = std::vector<std::uint8_t>;

    // Makes the folder afresh; prefix tells the suites apart.
    void Make(const std::string& prefix)
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = prefix + info->test_suite_name() + "_" + info->name() + "-";
        std::replace(name.begin(), name.end(), '/', '_');
        dir_.reset();
        dir_.emplace(name);
    }

    void Remove() { dir_.reset(); }

    const std::filesystem::path& Folder() const { return dir_->Path(); }

    std::string Path(const std::string& name) const { return (*dir_ / name).string(); }

    void Write(const std::string& name, const Bytes& data) const
    {
        WriteFileText(Path(name), std::string(data.begin(), data.end()));
    }

    Bytes Read(const std::string& name) const
    {
        std::string text = ReadFileText(Path(name));
        return Bytes(text.begin(), text.end());
    }

    bool Exists(const std::string& name) const { return std::filesystem::exists(Path(name)); }

    // Every file and folder below the folder, as relative paths.
    std::set<std::string> Files() const
    {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(Folder()))
            names.insert(std::filesystem::relative(entry.path(), Folder()).string());
        return names;
    }

private:
    std::optional<ScratchDir> dir_;
};
