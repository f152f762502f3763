// The host system calls behind hostwin, routed through one table so that
// tests can make a chosen call fail or come up short (fault injection).
// Every member starts as the real call; ResetHostSyscalls puts them back.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

struct HostSyscalls {
    int (*open)(const char* path, int flags, mode_t mode);
    ssize_t (*read)(int fd, void* buffer, size_t count);
    ssize_t (*write)(int fd, const void* buffer, size_t count);
    off_t (*lseek)(int fd, off_t offset, int whence);
    int (*close)(int fd);
    int (*fstat)(int fd, struct stat* info);
    int (*ftruncate)(int fd, off_t length);
    int (*unlink)(const char* path);
};

extern HostSyscalls HostSys;

void ResetHostSyscalls();
