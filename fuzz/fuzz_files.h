// The stream reads files only, so its fuzz targets hand it their input as a
// file: one scratch file per process in the temporary folder, rewritten for
// every input.
#pragma once

#include "platform/win32.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

inline std::string FuzzScratchPath(const char* name)
{
    return (std::filesystem::temp_directory_path() /
            ("saverpack-fuzz-" + std::to_string(getpid()) + "-" + name))
        .string();
}

inline HANDLE FuzzWriteAndOpen(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

inline HANDLE FuzzCreate(const std::string& path)
{
    return CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

inline std::vector<std::uint8_t> FuzzReadBack(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
