#include "atomic_file_writer.h"

#include <QFileInfo>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <unistd.h>
#endif

namespace virellock {

namespace {

constexpr qint64 kReadBackPieceSize = qint64(1) << 20;

// QSaveFile opens its temporary file for reading and writing at the system level, although it
// only offers writing; reading through the handle at an offset leaves the writer untouched.
qint64 readFromHandle(int handle, qint64 offset, char* data, qint64 size)
{
#ifdef Q_OS_WIN
    const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(handle));
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    OVERLAPPED position{};
    position.Offset = DWORD(quint64(offset) & 0xffffffffu);
    position.OffsetHigh = DWORD(quint64(offset) >> 32);
    DWORD read = 0;
    if (!ReadFile(file, data, DWORD(size), &read, &position))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return qint64(read);
#else
    for (;;) {
        const ssize_t read = ::pread(handle, data, std::size_t(size), off_t(offset));
        if (read >= 0 || errno != EINTR)
            return qint64(read);
    }
#endif
}

} // namespace

AtomicFileWriter::AtomicFileWriter(const QString& path) : m_file(path)
{
    // Never write in place, even where the folder forbids creating the temporary file.
    m_file.setDirectWriteFallback(false);
}

AtomicFileWriter::~AtomicFileWriter()
{
    cancel();
}

bool AtomicFileWriter::open()
{
    if (isReadOnlyFile(m_file.fileName()))
        return false;
    return m_file.open(QIODevice::WriteOnly);
}

bool AtomicFileWriter::readBack(const std::function<bool(QByteArrayView)>& sink)
{
    if (!m_file.isOpen() || !m_file.flush())
        return false;
    const int handle = m_file.handle();
    const qint64 size = m_file.size();
    if (handle < 0 || size < 0)
        return false;
    QByteArray buffer(qsizetype(std::min(size, kReadBackPieceSize)), Qt::Uninitialized);
    for (qint64 offset = 0; offset < size;) {
        const qint64 wanted = std::min<qint64>(buffer.size(), size - offset);
        const qint64 read = readFromHandle(handle, offset, buffer.data(), wanted);
        if (read <= 0 || !sink(QByteArrayView(buffer).first(qsizetype(read))))
            return false;
        offset += read;
    }
    return true;
}

bool AtomicFileWriter::readAt(qint64 offset, char* data, qint64 size) const
{
    const int handle = m_file.handle();
    while (handle >= 0 && size > 0) {
        const qint64 read = readFromHandle(handle, offset, data, size);
        if (read <= 0)
            return false;
        offset += read;
        data += read;
        size -= read;
    }
    return handle >= 0 && size == 0;
}

bool AtomicFileWriter::commit()
{
    return m_file.isOpen() && m_file.commit();
}

void AtomicFileWriter::cancel()
{
    if (!m_file.isOpen())
        return;
    // After cancelWriting(), commit() removes the temporary file instead of renaming it.
    m_file.cancelWriting();
    m_file.commit();
}

bool isReadOnlyFile(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return false;
    // Not WriteUser: that says whether this process may write, and root always may.
    constexpr auto writeBits =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    return (info.permissions() & writeBits) == 0;
}

} // namespace virellock
