// UTF-8 (the program's texts) <-> UTF-16 (the Windows wide-character interfaces).
#pragma once

#include <string>

namespace platform::win32 {

// Invalid sequences become U+FFFD rather than failing: a text is always shown.
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

}  // namespace platform::win32
