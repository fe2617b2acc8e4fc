#pragma once

// A Win32 file handle as a QIODevice, for the temporary file of a rewrite. Windows only.

#include <QIODevice>

#include <windows.h>

namespace virellock {

// Unbuffered and random access: every write goes to the system at once, at the device's
// position, given to WriteFile with the offset. Keeps the system's error code of the last
// failure, which tells a full disk from a failing one. Does not own the handle.
class HandleDevice final : public QIODevice
{
public:
    HandleDevice() = default;
    ~HandleDevice() override;

    [[nodiscard]] bool open(HANDLE handle, OpenMode mode);
    void close() override;

    bool isSequential() const override { return false; }
    qint64 size() const override;

    // GetLastError() of the last failed read or write; 0 when none failed.
    DWORD lastError() const { return m_lastError; }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 maxSize) override;

private:
    void fail(DWORD error);

    HANDLE m_handle = INVALID_HANDLE_VALUE;
    DWORD m_lastError = 0;
};

// Reads size bytes at offset through handle, whatever its file position; false at the end of
// the file or on an error, with GetLastError() set.
bool readAtOffset(HANDLE handle, qint64 offset, char* data, qint64 size);

} // namespace virellock
