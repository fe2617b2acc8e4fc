#include "folder_walk.h"

#include "cli/system_names.h"

#include <algorithm>

#ifdef Q_OS_WIN
#include <QDirIterator>
#include <QFileInfo>
#else
#include <QFile>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace virellock::cli {

namespace {

QString notRegular()
{
    return QStringLiteral("not a regular file");
}

#ifndef Q_OS_WIN
QString unreadableFolder(int error)
{
    return QStringLiteral("the folder cannot be read [%1]")
        .arg(QString::fromLocal8Bit(std::strerror(error)));
}

struct CloseFolder
{
    void operator()(DIR* folder) const { ::closedir(folder); }
};
using Folder = std::unique_ptr<DIR, CloseFolder>;

// The folder name inside parent (AT_FDCWD: a path); with O_NOFOLLOW in flags, never the folder a
// link points to. Null with errno set when it cannot be opened.
Folder openFolder(int parent, const char* name, int flags)
{
    const int descriptor = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | flags);
    if (descriptor < 0)
        return nullptr;
    Folder folder(::fdopendir(descriptor));
    if (!folder) {
        const int error = errno;
        ::close(descriptor);
        errno = error;
    }
    return folder;
}

// Subfolders are opened through their parent's descriptor, so that a folder swapped for a
// link while the walk goes on is not followed.
void walk(const Folder& folder, const QString& path, QList<FolderEntry>& found)
{
    const QString prefix = path.endsWith(u'/') ? path : path + u'/';
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(folder.get());
        if (!entry) {
            if (errno != 0)
                found.append({path, unreadableFolder(errno)});
            return;
        }
        const QByteArrayView bytes(entry->d_name);
        if (bytes == "." || bytes == "..")
            continue;
        const QString name = nameFromBytes(bytes);
        const QString entryPath = prefix + name;
        struct stat status = {};
        if (::fstatat(::dirfd(folder.get()), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
            found.append({entryPath, QString::fromLocal8Bit(std::strerror(errno))});
            continue;
        }
        if (S_ISLNK(status.st_mode))
            continue;
        if (isUndecodableName(name)) {
            found.append({entryPath, undecodableNameRefusal()});
            continue;
        }
        if (S_ISDIR(status.st_mode)) {
            const Folder subfolder = openFolder(::dirfd(folder.get()), entry->d_name, O_NOFOLLOW);
            if (subfolder)
                walk(subfolder, entryPath, found);
            else
                found.append({entryPath, unreadableFolder(errno)});
        } else if (S_ISREG(status.st_mode)) {
            found.append({entryPath, QString()});
        } else {
            found.append({entryPath, notRegular()});
        }
    }
}
#endif

} // namespace

QList<FolderEntry> entriesUnder(const QString& folder)
{
    QList<FolderEntry> found;
#ifdef Q_OS_WIN
    QDirIterator walk(folder,
                      QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoSymLinks |
                          QDir::NoDotAndDotDot,
                      QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        const QFileInfo entry(walk.next());
        if (entry.isFile())
            found.append({entry.filePath(), QString()});
        else if (!entry.isDir())
            found.append({entry.filePath(), notRegular()});
    }
#else
    // The folder named is followed when it is a link, as any name given is.
    const Folder top = openFolder(AT_FDCWD, QFile::encodeName(folder).constData(), 0);
    if (!top)
        return {{folder, unreadableFolder(errno)}};
    walk(top, folder, found);
#endif
    std::sort(found.begin(), found.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.path < b.path; });
    return found;
}

} // namespace virellock::cli
