// Ownership of a kernel handle: closed exactly once, by its owner.
#pragma once

#include "platform/win32/win32_api.h"

namespace platform::win32 {

class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : m_handle(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other) {
            Reset();
            m_handle = other.Release();
        }
        return *this;
    }
    ~UniqueHandle() { Reset(); }

    HANDLE Get() const { return m_handle; }
    bool Valid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }

    HANDLE Release()
    {
        HANDLE handle = m_handle;
        m_handle = nullptr;
        return handle;
    }

    // Closes the handle; returns 0 or the system's error code.
    DWORD Close()
    {
        if (!Valid()) {
            m_handle = nullptr;
            return 0;
        }
        HANDLE handle = Release();
        return ::CloseHandle(handle) ? 0 : ::GetLastError();
    }

    void Reset() { (void)Close(); }

private:
    HANDLE m_handle = nullptr;
};

}  // namespace platform::win32
