// Fault injection for tests: a disk that fills up. After the given number
// of bytes every host write fails with ENOSPC, so WriteFile comes up short.
// ResetHostSyscalls() gives the real disk back.
#pragma once

#include "hostwin/syscalls.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <unistd.h>

inline std::size_t DiskRoomLeft = 0;

inline void FillDiskAfter(std::size_t bytes)
{
    DiskRoomLeft = bytes;
    HostSys.write = [](int fd, const void* buffer, size_t count) -> ssize_t {
        if (DiskRoomLeft == 0) {
            errno = ENOSPC;
            return -1;
        }
        std::size_t n = std::min(count, DiskRoomLeft);
        DiskRoomLeft -= n;
        return ::write(fd, buffer, n);
    };
}
