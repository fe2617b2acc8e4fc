#include "handle_device.h"

#include <algorithm>

namespace virellock {

namespace {

// The most bytes one ReadFile or WriteFile call moves.
constexpr qint64 kLargestPiece = qint64(1) << 30;

OVERLAPPED at(qint64 offset)
{
    OVERLAPPED overlapped{};
    overlapped.Offset = DWORD(quint64(offset) & 0xffffffffu);
    overlapped.OffsetHigh = DWORD(quint64(offset) >> 32);
    return overlapped;
}

} // namespace

HandleDevice::~HandleDevice()
{
    close();
}

bool HandleDevice::open(HANDLE handle, OpenMode mode)
{
    if (isOpen() || handle == INVALID_HANDLE_VALUE || handle == nullptr)
        return false;
    m_handle = handle;
    m_lastError = 0;
    return QIODevice::open(mode | Unbuffered);
}

void HandleDevice::close()
{
    if (!isOpen())
        return;
    QIODevice::close();
    m_handle = INVALID_HANDLE_VALUE;
}

qint64 HandleDevice::size() const
{
    LARGE_INTEGER size;
    if (m_handle == INVALID_HANDLE_VALUE || !GetFileSizeEx(m_handle, &size))
        return 0;
    return qint64(size.QuadPart);
}

qint64 HandleDevice::readData(char* data, qint64 maxSize)
{
    OVERLAPPED overlapped = at(pos());
    DWORD read = 0;
    if (!ReadFile(m_handle, data, DWORD(std::min(maxSize, kLargestPiece)), &read, &overlapped)) {
        const DWORD error = GetLastError();
        if (error == ERROR_HANDLE_EOF)
            return 0;
        fail(error);
        return -1;
    }
    return qint64(read);
}

qint64 HandleDevice::writeData(const char* data, qint64 maxSize)
{
    qint64 written = 0;
    while (written < maxSize) {
        OVERLAPPED overlapped = at(pos() + written);
        DWORD piece = 0;
        const bool wrote =
            WriteFile(m_handle, data + written, DWORD(std::min(maxSize - written, kLargestPiece)),
                      &piece, &overlapped);
        if (!wrote || piece == 0) {
            // A write that takes nothing would be tried for ever.
            fail(wrote ? ERROR_WRITE_FAULT : GetLastError());
            // What did land counts; QIODevice moves the position past it.
            return written > 0 ? written : -1;
        }
        written += piece;
    }
    return written;
}

void HandleDevice::fail(DWORD error)
{
    m_lastError = error;
    setErrorString(qt_error_string(int(error)));
}

bool readAtOffset(HANDLE handle, qint64 offset, char* data, qint64 size)
{
    while (size > 0) {
        OVERLAPPED overlapped = at(offset);
        DWORD read = 0;
        if (!ReadFile(handle, data, DWORD(std::min(size, kLargestPiece)), &read, &overlapped))
            return false;
        if (read == 0) {
            SetLastError(ERROR_HANDLE_EOF);
            return false;
        }
        offset += read;
        data += read;
        size -= read;
    }
    return true;
}

} // namespace virellock
