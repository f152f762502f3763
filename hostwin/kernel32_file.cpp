// kernel32 file calls over POSIX descriptors, with Windows semantics for
// dispositions, sharing, error codes and file positions.
#include "hostwin/handles.h"
#include "hostwin/hostwin.h"
#include "hostwin/sandbox.h"
#include "hostwin/syscalls.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

DWORD LastError = ERROR_SUCCESS;

char HostPath[PATH_MAX];

DWORD ErrorFromErrno(int error)
{
    switch (error) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG: return ERROR_INVALID_NAME;
    case EBADF: return ERROR_INVALID_HANDLE;
    default: return ERROR_GEN_FAILURE;
    }
}

// A missing file reports "path not found" when its directory is missing too.
DWORD MissingFileError(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr || slash == path)
        return ERROR_FILE_NOT_FOUND;
    char parent[PATH_MAX];
    std::size_t length = static_cast<std::size_t>(slash - path);
    std::memcpy(parent, path, length);
    parent[length] = '\0';
    struct stat info;
    if (stat(parent, &info) != 0 || !S_ISDIR(info.st_mode))
        return ERROR_PATH_NOT_FOUND;
    return ERROR_FILE_NOT_FOUND;
}

// Two opens of one file conflict when either asks for an access that the
// other's share mode does not grant.
bool SharingConflict(const HandleSlot& open, DWORD access, DWORD share)
{
    bool wantRead = (access & GENERIC_READ) != 0;
    bool wantWrite = (access & GENERIC_WRITE) != 0;
    bool hasRead = (open.access & GENERIC_READ) != 0;
    bool hasWrite = (open.access & GENERIC_WRITE) != 0;
    return (wantRead && !(open.share & FILE_SHARE_READ)) ||
           (wantWrite && !(open.share & FILE_SHARE_WRITE)) ||
           (hasRead && !(share & FILE_SHARE_READ)) || (hasWrite && !(share & FILE_SHARE_WRITE));
}

HandleSlot* FileSlot(HANDLE file)
{
    HandleSlot* slot = LookupHandle(file, HandleKind::File);
    if (slot == nullptr)
        LastError = ERROR_INVALID_HANDLE;
    return slot;
}

}  // namespace

DWORD WINAPI GetLastError()
{
    return LastError;
}

void WINAPI SetLastError(DWORD error)
{
    LastError = error;
}

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                          DWORD disposition, DWORD, HANDLE)
{
    unsigned mapError = 0;
    if (!MapWindowsPath(fileName, HostPath, sizeof HostPath, &mapError)) {
        LastError = mapError;
        return INVALID_HANDLE_VALUE;
    }
    int flags = 0;
    bool read = (access & GENERIC_READ) != 0;
    bool write = (access & GENERIC_WRITE) != 0;
    flags = (read && write) ? O_RDWR : write ? O_WRONLY : O_RDONLY;
    switch (disposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS:
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case OPEN_EXISTING:
    case TRUNCATE_EXISTING: break;
    default: LastError = ERROR_INVALID_PARAMETER; return INVALID_HANDLE_VALUE;
    }
    if (disposition == TRUNCATE_EXISTING && !write) {
        LastError = ERROR_INVALID_PARAMETER;
        return INVALID_HANDLE_VALUE;
    }

    struct stat before;
    bool existed = stat(HostPath, &before) == 0;
    if (existed && S_ISDIR(before.st_mode)) {
        LastError = (disposition == CREATE_NEW) ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    if (!existed && (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING)) {
        LastError = MissingFileError(HostPath);
        return INVALID_HANDLE_VALUE;
    }

    HANDLE handle = INVALID_HANDLE_VALUE;
    HandleSlot* slot = AllocateHandle(HandleKind::File, &handle);
    if (slot == nullptr) {
        LastError = ERROR_TOO_MANY_OPEN_FILES;
        return INVALID_HANDLE_VALUE;
    }
    int fd = HostSys.open(HostPath, flags, 0666);
    if (fd < 0) {
        FreeHandle(slot);
        LastError = (errno == ENOENT) ? MissingFileError(HostPath) : ErrorFromErrno(errno);
        return INVALID_HANDLE_VALUE;
    }
    struct stat info;
    if (HostSys.fstat(fd, &info) != 0) {
        HostSys.close(fd);
        FreeHandle(slot);
        LastError = ErrorFromErrno(errno);
        return INVALID_HANDLE_VALUE;
    }
    // Sharing is checked before anything is truncated, so a refused open
    // leaves the file as it was.
    bool conflict = AnyOpenFileSlot(info.st_dev, info.st_ino, [&](const HandleSlot& open) {
        return &open != slot && SharingConflict(open, access, shareMode);
    });
    if (conflict) {
        HostSys.close(fd);
        FreeHandle(slot);
        LastError = ERROR_SHARING_VIOLATION;
        return INVALID_HANDLE_VALUE;
    }
    bool truncate = disposition == TRUNCATE_EXISTING || (disposition == CREATE_ALWAYS && existed);
    if (truncate && HostSys.ftruncate(fd, 0) != 0) {
        HostSys.close(fd);
        FreeHandle(slot);
        LastError = ErrorFromErrno(errno);
        return INVALID_HANDLE_VALUE;
    }
    *slot = HandleSlot{HandleKind::File, fd, access, shareMode, info.st_dev, info.st_ino};
    bool reportExisting = existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS);
    LastError = reportExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
    return handle;
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED)
{
    if (bytesRead != nullptr)
        *bytesRead = 0;
    HandleSlot* slot = FileSlot(file);
    if (slot == nullptr)
        return FALSE;
    if (!(slot->access & GENERIC_READ)) {
        LastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    auto* out = static_cast<char*>(buffer);
    DWORD total = 0;
    while (total < bytesToRead) {
        ssize_t n = HostSys.read(slot->fd, out + total, bytesToRead - total);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            LastError = ErrorFromErrno(errno);
            if (bytesRead != nullptr)
                *bytesRead = total;
            return FALSE;
        }
        if (n == 0)
            break;
        total += static_cast<DWORD>(n);
    }
    if (bytesRead != nullptr)
        *bytesRead = total;
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
                      LPOVERLAPPED)
{
    if (bytesWritten != nullptr)
        *bytesWritten = 0;
    HandleSlot* slot = FileSlot(file);
    if (slot == nullptr)
        return FALSE;
    if (!(slot->access & GENERIC_WRITE)) {
        LastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    auto* in = static_cast<const char*>(buffer);
    DWORD total = 0;
    while (total < bytesToWrite) {
        ssize_t n = HostSys.write(slot->fd, in + total, bytesToWrite - total);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            LastError = (n == 0) ? ERROR_DISK_FULL : ErrorFromErrno(errno);
            if (bytesWritten != nullptr)
                *bytesWritten = total;
            return FALSE;
        }
        total += static_cast<DWORD>(n);
    }
    if (bytesWritten != nullptr)
        *bytesWritten = total;
    return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD moveMethod)
{
    HandleSlot* slot = FileSlot(file);
    if (slot == nullptr)
        return INVALID_SET_FILE_POINTER;
    // With a high part the distance is one signed 64-bit value; without it
    // the low part alone is a signed 32-bit distance.
    long long move = distanceHigh != nullptr
                         ? static_cast<long long>((static_cast<unsigned long long>(
                                                       static_cast<std::uint32_t>(*distanceHigh))
                                                   << 32) |
                                                  static_cast<std::uint32_t>(distance))
                         : static_cast<long long>(distance);
    long long base = 0;
    if (moveMethod == FILE_CURRENT) {
        base = HostSys.lseek(slot->fd, 0, SEEK_CUR);
    } else if (moveMethod == FILE_END) {
        struct stat info;
        if (HostSys.fstat(slot->fd, &info) != 0) {
            LastError = ErrorFromErrno(errno);
            return INVALID_SET_FILE_POINTER;
        }
        base = info.st_size;
    } else if (moveMethod != FILE_BEGIN) {
        LastError = ERROR_INVALID_PARAMETER;
        return INVALID_SET_FILE_POINTER;
    }
    long long target = base + move;
    if (base < 0 || target < 0) {
        LastError = ERROR_NEGATIVE_SEEK;
        return INVALID_SET_FILE_POINTER;
    }
    if (HostSys.lseek(slot->fd, static_cast<off_t>(target), SEEK_SET) < 0) {
        LastError = ErrorFromErrno(errno);
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh != nullptr)
        *distanceHigh = static_cast<LONG>(static_cast<unsigned long long>(target) >> 32);
    LastError = ERROR_SUCCESS;
    return static_cast<DWORD>(target);
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD sizeHigh)
{
    HandleSlot* slot = FileSlot(file);
    if (slot == nullptr)
        return INVALID_FILE_SIZE;
    struct stat info;
    if (HostSys.fstat(slot->fd, &info) != 0) {
        LastError = ErrorFromErrno(errno);
        return INVALID_FILE_SIZE;
    }
    auto size = static_cast<unsigned long long>(info.st_size);
    if (sizeHigh != nullptr)
        *sizeHigh = static_cast<DWORD>(size >> 32);
    LastError = ERROR_SUCCESS;
    return static_cast<DWORD>(size);
}

BOOL WINAPI CloseHandle(HANDLE object)
{
    HandleSlot* slot = FileSlot(object);
    if (slot == nullptr)
        return FALSE;
    HostSys.close(slot->fd);
    FreeHandle(slot);
    return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR fileName)
{
    unsigned mapError = 0;
    if (!MapWindowsPath(fileName, HostPath, sizeof HostPath, &mapError)) {
        LastError = mapError;
        return FALSE;
    }
    struct stat info;
    if (lstat(HostPath, &info) != 0) {
        LastError = (errno == ENOENT) ? MissingFileError(HostPath) : ErrorFromErrno(errno);
        return FALSE;
    }
    if (S_ISDIR(info.st_mode)) {
        LastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    // A file that is open without delete sharing cannot be deleted.
    bool inUse = AnyOpenFileSlot(info.st_dev, info.st_ino, [](const HandleSlot& open) {
        return !(open.share & FILE_SHARE_DELETE);
    });
    if (inUse) {
        LastError = ERROR_SHARING_VIOLATION;
        return FALSE;
    }
    if (HostSys.unlink(HostPath) != 0) {
        LastError = ErrorFromErrno(errno);
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size)
{
    if (module != nullptr) {
        LastError = ERROR_MOD_NOT_FOUND;
        return 0;
    }
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n < 0) {
        LastError = ErrorFromErrno(errno);
        return 0;
    }
    self[n] = '\0';
    char windows[PATH_MAX + 3];
    std::size_t length = HostToWindowsPath(self, windows, sizeof windows);
    if (size == 0) {
        LastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    // A name that does not fit is cut to size - 1 characters and its
    // terminator; the result is then size.
    if (length >= size) {
        std::memcpy(fileName, windows, size - 1);
        fileName[size - 1] = '\0';
        LastError = ERROR_INSUFFICIENT_BUFFER;
        return size;
    }
    std::memcpy(fileName, windows, length + 1);
    LastError = ERROR_SUCCESS;
    return static_cast<DWORD>(length);
}
