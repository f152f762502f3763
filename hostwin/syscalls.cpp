#include "hostwin/syscalls.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

int RealOpen(const char* path, int flags, mode_t mode)
{
    return ::open(path, flags | O_CLOEXEC, mode);
}

HostSyscalls RealSyscalls()
{
    return HostSyscalls{RealOpen, ::read, ::write, ::lseek, ::close, ::fstat, ::ftruncate, ::unlink};
}

}  // namespace

HostSyscalls HostSys = RealSyscalls();

void ResetHostSyscalls()
{
    HostSys = RealSyscalls();
}
