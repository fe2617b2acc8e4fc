#pragma once

#include <QDir>
#include <QFile>
#include <QStringList>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace virellock::test {

inline bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Every entry of a folder, hidden ones included: a temporary file left behind shows here.
inline QStringList folderEntries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

inline void makeReadOnly(const QString& path)
{
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadUser |
                                    QFileDevice::ReadGroup | QFileDevice::ReadOther);
}

// A second name for the same file.
inline bool makeHardLink(const QString& existing, const QString& newName)
{
#ifdef Q_OS_WIN
    return CreateHardLinkW(
        reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(newName).utf16()),
        reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(existing).utf16()), nullptr);
#else
    return ::link(QFile::encodeName(existing).constData(),
                  QFile::encodeName(newName).constData()) == 0;
#endif
}

} // namespace virellock::test
