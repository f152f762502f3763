// Behaviour of the kernel32 file calls that the archive, transfer and
// stream code rely on. Runs against hostwin natively and against real
// Win32 under Wine; both must pass alike.
#include "platform/win32.h"
#include "tests/win32/check.h"

#include <cstring>

namespace {

constexpr DWORD SHARE_RW = FILE_SHARE_READ | FILE_SHARE_WRITE;

HANDLE Create(const char* path, DWORD disposition)
{
    return CreateFileA(path, GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE OpenRead(const char* path)
{
    return CreateFileA(path, GENERIC_READ, SHARE_RW, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

void WriteText(const char* path, const char* text)
{
    HANDLE file = Create(path, CREATE_ALWAYS);
    CHECK(file != INVALID_HANDLE_VALUE);
    DWORD written = 0;
    CHECK(WriteFile(file, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr));
    CHECK_EQ(written, std::strlen(text));
    CloseHandle(file);
}

DWORD SizeOf(const char* path)
{
    HANDLE file = OpenRead(path);
    if (file == INVALID_HANDLE_VALUE)
        return INVALID_FILE_SIZE;
    DWORD size = GetFileSize(file, nullptr);
    CloseHandle(file);
    return size;
}

}  // namespace

CASE(create_new_refuses_an_existing_file)
{
    const char* path = "C:\\sp_create_new.bin";
    DeleteFileA(path);
    HANDLE first = Create(path, CREATE_NEW);
    CHECK(first != INVALID_HANDLE_VALUE);
    CloseHandle(first);
    SetLastError(0);
    HANDLE second = Create(path, CREATE_NEW);
    CHECK(second == INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_FILE_EXISTS);
    CHECK(DeleteFileA(path));
}

CASE(create_always_replaces_and_reports_it)
{
    const char* path = "C:\\sp_create_always.bin";
    DeleteFileA(path);
    HANDLE created = Create(path, CREATE_ALWAYS);
    CHECK(created != INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_SUCCESS);
    DWORD written = 0;
    CHECK(WriteFile(created, "0123456789", 10, &written, nullptr));
    CloseHandle(created);
    CHECK_EQ(SizeOf(path), 10u);

    HANDLE replaced = Create(path, CREATE_ALWAYS);
    CHECK(replaced != INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(replaced);
    CHECK_EQ(SizeOf(path), 0u);
    DeleteFileA(path);
}

CASE(read_returns_what_was_written_then_zero_at_the_end)
{
    const char* path = "C:\\sp_round_trip.bin";
    unsigned char data[300];
    for (int i = 0; i < 300; ++i)
        data[i] = static_cast<unsigned char>(i * 7);
    HANDLE out = Create(path, CREATE_ALWAYS);
    DWORD count = 0;
    CHECK(WriteFile(out, data, sizeof data, &count, nullptr));
    CHECK_EQ(count, 300u);
    CHECK(WriteFile(out, data, 0, &count, nullptr));
    CHECK_EQ(count, 0u);
    CloseHandle(out);

    HANDLE in = OpenRead(path);
    CHECK(in != INVALID_HANDLE_VALUE);
    unsigned char back[400] = {};
    CHECK(ReadFile(in, back, 200, &count, nullptr));
    CHECK_EQ(count, 200u);
    CHECK(ReadFile(in, back + 200, 200, &count, nullptr));
    CHECK_EQ(count, 100u);
    CHECK(std::memcmp(back, data, 300) == 0);
    CHECK(ReadFile(in, back, 10, &count, nullptr));
    CHECK_EQ(count, 0u);
    CloseHandle(in);
    DeleteFileA(path);
}

CASE(missing_files_and_folders_are_told_apart)
{
    SetLastError(0);
    CHECK(OpenRead("C:\\sp_no_such_file.bin") == INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    SetLastError(0);
    CHECK(OpenRead("C:\\sp_no_such_folder\\file.bin") == INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    SetLastError(0);
    CHECK(Create("C:\\sp_no_such_folder\\file.bin", CREATE_ALWAYS) == INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

CASE(a_folder_does_not_open_as_a_file)
{
    SetLastError(0);
    CHECK(OpenRead("C:\\") == INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

CASE(file_pointer_moves_from_start_current_and_end)
{
    const char* path = "C:\\sp_seek.bin";
    WriteText(path, "abcdefghij");
    HANDLE in = OpenRead(path);
    CHECK_EQ(GetFileSize(in, nullptr), 10u);
    DWORD high = 5;
    CHECK_EQ(GetFileSize(in, &high), 10u);
    CHECK_EQ(high, 0u);
    CHECK_EQ(SetFilePointer(in, -4, nullptr, FILE_END), 6u);
    char c[4] = {};
    DWORD count = 0;
    CHECK(ReadFile(in, c, 1, &count, nullptr));
    CHECK_EQ(c[0], 'g');
    CHECK_EQ(SetFilePointer(in, 2, nullptr, FILE_CURRENT), 9u);
    CHECK_EQ(SetFilePointer(in, 3, nullptr, FILE_BEGIN), 3u);
    CHECK(ReadFile(in, c, 2, &count, nullptr));
    CHECK(c[0] == 'd' && c[1] == 'e');
    // Past the end is a valid position; reading there brings nothing.
    CHECK_EQ(SetFilePointer(in, 100, nullptr, FILE_BEGIN), 100u);
    CHECK(ReadFile(in, c, 2, &count, nullptr));
    CHECK_EQ(count, 0u);
    // Before the start is refused and the position stays.
    SetFilePointer(in, 4, nullptr, FILE_BEGIN);
    SetLastError(0);
    CHECK_EQ(SetFilePointer(in, -11, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
    CHECK_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
    CHECK_EQ(SetFilePointer(in, 0, nullptr, FILE_CURRENT), 4u);
    LONG distanceHigh = 0;
    CHECK_EQ(SetFilePointer(in, 1, &distanceHigh, FILE_BEGIN), 1u);
    CHECK_EQ(distanceHigh, 0);
    CloseHandle(in);
    DeleteFileA(path);
}

CASE(names_are_looked_up_without_regard_to_case)
{
    WriteText("C:\\Sp_MixedCase.TXT", "case");
    CHECK_EQ(SizeOf("c:\\sp_mixedcase.txt"), 4u);
    CHECK_EQ(SizeOf("C:/SP_MIXEDCASE.txt"), 4u);
    // Replacing through another spelling keeps one file.
    WriteText("c:\\SP_MIXEDCASE.TXT", "replaced");
    CHECK_EQ(SizeOf("C:\\Sp_MixedCase.TXT"), 8u);
    CHECK(DeleteFileA("C:\\sp_mixedcase.txt"));
    CHECK_EQ(SizeOf("C:\\Sp_MixedCase.TXT"), INVALID_FILE_SIZE);
}

CASE(relative_names_are_in_the_current_folder)
{
    WriteText("sp_relative.bin", "here");
    CHECK_EQ(SizeOf("sp_relative.bin"), 4u);
    CHECK_EQ(SizeOf(".\\SP_RELATIVE.BIN"), 4u);
    CHECK(DeleteFileA("sp_relative.bin"));
}

CASE(sharing_keeps_a_writer_without_sharing_to_itself)
{
    const char* path = "C:\\sp_sharing.bin";
    WriteText(path, "shared");
    HANDLE writer = Create(path, OPEN_EXISTING);
    CHECK(writer != INVALID_HANDLE_VALUE);
    SetLastError(0);
    CHECK(OpenRead(path) == INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    CloseHandle(writer);

    HANDLE reader = OpenRead(path);
    HANDLE second = OpenRead(path);
    CHECK(reader != INVALID_HANDLE_VALUE && second != INVALID_HANDLE_VALUE);
    // A writer that shares nothing cannot join readers, and a refused
    // CREATE_ALWAYS does not empty the file.
    SetLastError(0);
    CHECK(Create(path, CREATE_ALWAYS) == INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    CHECK_EQ(GetFileSize(reader, nullptr), 6u);
    HANDLE sharingWriter =
        CreateFileA(path, GENERIC_WRITE, SHARE_RW, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    CHECK(sharingWriter != INVALID_HANDLE_VALUE);
    CloseHandle(sharingWriter);
    // An open file cannot be deleted.
    CHECK(!DeleteFileA(path));
    CloseHandle(second);
    CloseHandle(reader);
    CHECK(DeleteFileA(path));
}

CASE(access_rights_limit_reads_and_writes)
{
    const char* path = "C:\\sp_access.bin";
    HANDLE writer = Create(path, CREATE_ALWAYS);
    char byte = 0;
    DWORD count = 7;
    SetLastError(0);
    CHECK(!ReadFile(writer, &byte, 1, &count, nullptr));
    CHECK_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CHECK_EQ(count, 0u);
    CloseHandle(writer);
    HANDLE reader = OpenRead(path);
    count = 7;
    SetLastError(0);
    CHECK(!WriteFile(reader, "x", 1, &count, nullptr));
    CHECK_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CHECK_EQ(count, 0u);
    CloseHandle(reader);
    DeleteFileA(path);
}

CASE(delete_reports_a_missing_file)
{
    SetLastError(0);
    CHECK(!DeleteFileA("C:\\sp_never_there.bin"));
    CHECK_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

CASE(the_running_program_names_and_opens_its_own_file)
{
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    CHECK(length > 3);
    CHECK_EQ(length, std::strlen(path));
    CHECK(path[1] == ':' && path[2] == '\\');
    HANDLE self = OpenRead(path);
    CHECK(self != INVALID_HANDLE_VALUE);
    CHECK(GetFileSize(self, nullptr) > 1000);
    CloseHandle(self);

    // A name that does not fit is cut and reported with the buffer's size.
    // Whether the last byte then holds a terminator differs between Windows
    // versions, so callers give room for a whole path.
    char small[5] = {'#', '#', '#', '#', '#'};
    SetLastError(0);
    CHECK_EQ(GetModuleFileNameA(nullptr, small, sizeof small), 5u);
    CHECK_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    CHECK(std::memcmp(small, path, 4) == 0);
}

int main()
{
    return check::RunAll("file_calls", PLATFORM_NAME);
}
