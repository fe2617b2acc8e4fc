#pragma once

// A POSIX file descriptor that closes itself.

#include <unistd.h>
#include <utility>

namespace virellock {

class UniqueDescriptor
{
public:
    UniqueDescriptor() = default;
    explicit UniqueDescriptor(int descriptor) : m_descriptor(descriptor) {}
    UniqueDescriptor(UniqueDescriptor&& other) noexcept
        : m_descriptor(std::exchange(other.m_descriptor, -1))
    {}
    UniqueDescriptor& operator=(UniqueDescriptor&& other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other.m_descriptor, -1));
        return *this;
    }
    UniqueDescriptor(const UniqueDescriptor&) = delete;
    UniqueDescriptor& operator=(const UniqueDescriptor&) = delete;
    ~UniqueDescriptor() { reset(); }

    int get() const { return m_descriptor; }
    bool valid() const { return m_descriptor >= 0; }
    explicit operator bool() const { return valid(); }

    // Closes the one held, if any, and holds descriptor instead.
    void reset(int descriptor = -1)
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
        m_descriptor = descriptor;
    }
    // Gives the descriptor up without closing it.
    int release() { return std::exchange(m_descriptor, -1); }

private:
    int m_descriptor = -1;
};

} // namespace virellock
