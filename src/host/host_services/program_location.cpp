#include "program_location.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace virellock {

QString GetProgramDirectory()
{
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}

QString GetProgramFileName()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName();
}

QString programFullPath()
{
    return GetProgramDirectory() + QDir::separator() + GetProgramFileName();
}

} // namespace virellock
