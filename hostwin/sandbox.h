// How hostwin maps Windows paths onto the host.
//
// A run sees a Windows machine whose drives are folders of one sandbox
// directory, named by the environment variable HOSTWIN_SANDBOX:
//   C:\WINDOWS\x      ->  <sandbox>/c/WINDOWS/x
//   Z:\usr\bin\x      ->  /usr/bin/x          (Z: is the host's root, as in Wine)
//   \dir\x  or /dir/x ->  /dir/x              (the current drive is Z:)
//   dir\x             ->  dir/x               (relative to the current directory)
// Name lookup ignores the case of ASCII letters, as on Windows: each path
// component that does not exist as written is matched against the entries
// of its directory without regard to case. A drive letter other than Z:
// with no sandbox set does not exist.
#pragma once

#include <cstddef>

// Writes the host path for windowsPath into out (capacity bytes). Returns 1
// on success, 0 when the path cannot be mapped (no such drive, too long); the
// Win32 error code for the failure is then in *error.
int MapWindowsPath(const char* windowsPath, char* out, std::size_t capacity, unsigned* error);

// Writes the Windows form of an absolute host path: a path inside
// <sandbox>/<letter>/ becomes <LETTER>:\..., anything else Z:\...
// Returns the length written, or 0 when it does not fit.
std::size_t HostToWindowsPath(const char* hostPath, char* out, std::size_t capacity);
