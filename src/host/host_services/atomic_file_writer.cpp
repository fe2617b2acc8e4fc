#include "atomic_file_writer.h"

#include <QFileInfo>

namespace virellock {

namespace {

constexpr qint64 kReadBackPieceSize = qint64(1) << 20;

} // namespace

bool AtomicFileWriter::readBack(const std::function<bool(QByteArrayView)>& sink)
{
    if (!flush())
        return false;
    const qint64 size = systemSize();
    if (size < 0)
        return false;
    QByteArray buffer(qsizetype(std::min(size, kReadBackPieceSize)), Qt::Uninitialized);
    for (qint64 offset = 0; offset < size;) {
        const qint64 wanted = std::min<qint64>(buffer.size(), size - offset);
        if (!readAt(offset, buffer.data(), wanted) ||
            !sink(QByteArrayView(buffer).first(qsizetype(wanted))))
            return false;
        offset += wanted;
    }
    return true;
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
