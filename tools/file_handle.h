// A Win32 file handle for the commands that move data through the library:
// closed on destruction, or earlier by Close.
#pragma once

#include "platform/win32.h"
#include "tools/cli.h"

#include <string>

struct FileHandle32 {
    HANDLE value = INVALID_HANDLE_VALUE;

    FileHandle32() = default;
    FileHandle32(const FileHandle32&) = delete;
    FileHandle32& operator=(const FileHandle32&) = delete;
    ~FileHandle32() { Close(); }
    void Close()
    {
        if (value != INVALID_HANDLE_VALUE)
            CloseHandle(value);
        value = INVALID_HANDLE_VALUE;
    }
};

// Opens path for reading (sharing reading and writing); shown as name in
// errors. Throws ToolError when it does not open.
inline void OpenForReading(FileHandle32& file, const std::string& path, const std::string& name)
{
    file.value = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file.value == INVALID_HANDLE_VALUE)
        throw ToolError{name, "cannot open (error " + std::to_string(GetLastError()) + ")"};
}

// Creates (or replaces) path for writing; shown as name in errors.
inline void CreateForWriting(FileHandle32& file, const std::string& path, const std::string& name)
{
    file.value =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file.value == INVALID_HANDLE_VALUE)
        throw ToolError{name, "cannot create (error " + std::to_string(GetLastError()) + ")"};
}
