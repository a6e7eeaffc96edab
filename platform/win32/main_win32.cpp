// pscsetup.exe: the setup dialog on Win32.
#include "platform/afx/dialog.h"

#include "platform/win32/unicode.h"
#include "platform/win32/win32_api.h"

#include <string>

namespace {

// The executable's path: the framework takes the program's name from it.
std::string ModulePath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0)
            return "pscsetup.exe";
        if (length < path.size()) {
            path.resize(length);
            return platform::win32::WideToUtf8(path);
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace

// The command line is ignored: the program takes no arguments.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    const std::string path = ModulePath();
    return AfxWinMain(path.c_str());
}
