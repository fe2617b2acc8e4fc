#include "win32_long_path.h"

#include <QDir>
#include <QFileInfo>

namespace virellock {

std::wstring longPath(const QString& path)
{
    const QString native =
        QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    if (native.startsWith(QLatin1String("\\\\?\\")) || native.startsWith(QLatin1String("\\\\.\\")))
        return native.toStdWString();
    if (native.startsWith(QLatin1String("\\\\")))
        return (QLatin1String("\\\\?\\UNC\\") + native.mid(2)).toStdWString();
    return (QLatin1String("\\\\?\\") + native).toStdWString();
}

} // namespace virellock
