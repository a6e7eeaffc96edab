// The Windows API as the Win32 backend includes it. The program's own headers come
// first in every source file: windows.h defines IDOK and IDCANCEL as macros.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
