// The one place that chooses the platform. Every subsystem includes this
// header for the Win32 ANSI API: the real one when building for Windows,
// our own host layer everywhere else.
#pragma once

#if defined(_WIN32)
#include <windows.h>
inline constexpr char PLATFORM_NAME[] = "win32";
#else
#include "hostwin/hostwin.h"
inline constexpr char PLATFORM_NAME[] = "hostwin";
#endif
