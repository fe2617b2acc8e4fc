#include "descriptor_device.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace virellock {

DescriptorDevice::~DescriptorDevice()
{
    close();
}

bool DescriptorDevice::openDescriptor(int descriptor, OpenMode mode)
{
    if (isOpen() || descriptor < 0)
        return false;
    m_descriptor = descriptor;
    m_lastError = 0;
    return QIODevice::open(mode | Unbuffered);
}

void DescriptorDevice::close()
{
    if (!isOpen())
        return;
    QIODevice::close();
    m_descriptor = -1;
}

qint64 DescriptorDevice::size() const
{
    struct stat status;
    if (m_descriptor < 0 || ::fstat(m_descriptor, &status) != 0)
        return 0;
    return qint64(status.st_size);
}

qint64 DescriptorDevice::readData(char* data, qint64 maxSize)
{
    for (;;) {
        const ssize_t read = ::pread(m_descriptor, data, std::size_t(maxSize), off_t(pos()));
        if (read >= 0)
            return read;
        if (errno != EINTR) {
            fail(errno);
            return -1;
        }
    }
}

qint64 DescriptorDevice::writeData(const char* data, qint64 maxSize)
{
    qint64 written = 0;
    while (written < maxSize) {
        const ssize_t piece = ::pwrite(m_descriptor, data + written, std::size_t(maxSize - written),
                                       off_t(pos() + written));
        if (piece > 0) {
            written += piece;
        } else if (piece < 0 && errno == EINTR) {
            continue;
        } else {
            // A write that takes nothing would be tried for ever.
            fail(piece < 0 ? errno : EIO);
            // What did land counts; QIODevice moves the position past it.
            return written > 0 ? written : -1;
        }
    }
    return written;
}

void DescriptorDevice::fail(int error)
{
    m_lastError = error;
    setErrorString(qt_error_string(error));
}

} // namespace virellock
