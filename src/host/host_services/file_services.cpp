#include "file_services.h"

#include "atomic_file_writer.h"

#include <QFile>

namespace virellock {

std::optional<QByteArray> ReadWholeFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return content;
}

bool WriteWholeFile(const QString& path, QByteArrayView bytes)
{
    AtomicFileWriter writer(path);
    if (!writer.open() || writer.device().write(bytes.data(), bytes.size()) != bytes.size())
        return false;
    qsizetype checked = 0;
    const bool same = writer.readBack([&](QByteArrayView piece) {
        if (piece != bytes.sliced(checked, std::min(piece.size(), bytes.size() - checked)))
            return false;
        checked += piece.size();
        return true;
    });
    return same && checked == bytes.size() && writer.commit();
}

} // namespace virellock
