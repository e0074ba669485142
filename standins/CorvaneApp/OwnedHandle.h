#pragma once

// The stand-in's owner for kernel handles. The stand-in shares no code with the service, so it carries
// this small owner of its own: null and INVALID_HANDLE_VALUE both mean "none" and are never closed.

#include <windows.h>

class OwnedHandle {
public:
    OwnedHandle() noexcept = default;
    explicit OwnedHandle(HANDLE handle) noexcept : m_handle(handle) {}
    ~OwnedHandle() { reset(); }

    OwnedHandle(OwnedHandle&& other) noexcept : m_handle(other.release()) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept
    {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;

    HANDLE get() const noexcept { return m_handle; }
    bool valid() const noexcept { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }

    HANDLE release() noexcept
    {
        HANDLE handle = m_handle;
        m_handle = nullptr;
        return handle;
    }

    void reset(HANDLE handle = nullptr) noexcept
    {
        HANDLE old = m_handle;
        m_handle = handle;
        if (old != nullptr && old != INVALID_HANDLE_VALUE) {
            ::CloseHandle(old);
        }
    }

private:
    HANDLE m_handle = nullptr;
};
