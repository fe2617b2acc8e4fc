#pragma once

// A file handle of the system's (a descriptor on POSIX, a HANDLE on Windows) that is closed
// when its owner is dropped.

#include <QtGlobal>

#include <utility>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace virellock {

class OwnedHandle
{
public:
#ifdef Q_OS_WIN
    using Native = HANDLE;
    static inline const Native kNone = INVALID_HANDLE_VALUE;
#else
    using Native = int;
    static constexpr Native kNone = -1;
#endif

    OwnedHandle() = default;
    // Takes over handle; kNone (or a null HANDLE) owns nothing.
    explicit OwnedHandle(Native handle) : m_handle(handle) {}
    OwnedHandle(OwnedHandle&& other) noexcept : m_handle(std::exchange(other.m_handle, kNone)) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept
    {
        if (this != &other) {
            close();
            m_handle = std::exchange(other.m_handle, kNone);
        }
        return *this;
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    ~OwnedHandle()
    {
        close();
    }

    bool isValid() const
    {
#ifdef Q_OS_WIN
        return m_handle != kNone && m_handle != nullptr;
#else
        return m_handle != kNone;
#endif
    }
    Native get() const
    {
        return m_handle;
    }

    void close()
    {
        if (isValid()) {
#ifdef Q_OS_WIN
            CloseHandle(m_handle);
#else
            ::close(m_handle);
#endif
        }
        m_handle = kNone;
    }

private:
    Native m_handle = kNone;
};

} // namespace virellock
