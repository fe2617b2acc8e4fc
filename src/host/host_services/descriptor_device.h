#pragma once

// A POSIX file descriptor as a QIODevice, for the temporary file of a rewrite.

#include <QIODevice>

namespace virellock {

// Unbuffered and random access: every write goes to the system at once, at the device's
// position, with pwrite(), and reading back with pread() from other threads moves nothing.
// Keeps the system's error number of the last failure, which tells a full disk from a
// failing one. Does not own the descriptor.
class DescriptorDevice final : public QIODevice
{
public:
    DescriptorDevice() = default;
    ~DescriptorDevice() override;

    // Named apart from QIODevice::open(), which has no descriptor to take.
    [[nodiscard]] bool openDescriptor(int descriptor, OpenMode mode);
    void close() override;

    bool isSequential() const override { return false; }
    qint64 size() const override;

    // errno of the last failed read or write; 0 when none failed.
    int lastError() const { return m_lastError; }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 maxSize) override;

private:
    void fail(int error);

    int m_descriptor = -1;
    int m_lastError = 0;
};

} // namespace virellock
