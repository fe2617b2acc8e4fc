#include "entry_writer.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace virellock {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool runsAsRoot()
{
    return ::geteuid() == 0;
}

bool ownedByRoot(int descriptor)
{
    struct stat status;
    return ::fstat(descriptor, &status) == 0 && status.st_uid == 0;
}

// One name inside a folder: no path, and neither "." nor "..".
bool isPlainName(const QByteArray& name)
{
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/') &&
           !name.contains('\0');
}

// The folder name inside parent, made when missing, opened without following a link. As root,
// only a folder that belongs to root.
UniqueDescriptor openSubfolder(int parent, const QByteArray& name)
{
    if (!isPlainName(name))
        return {};
    if (::mkdirat(parent, name.constData(), 0755) != 0 && errno != EEXIST)
        return {};
    UniqueDescriptor folder(::openat(parent, name.constData(), kFolderFlags));
    if (folder.isValid() && runsAsRoot() && !ownedByRoot(folder.get()))
        return {};
    return folder;
}

// The folder path (names joined by '/') below start, each level as openSubfolder() opens it.
UniqueDescriptor openFolders(int start, const QByteArray& path)
{
    UniqueDescriptor folder(::fcntl(start, F_DUPFD_CLOEXEC, 0));
    for (const QByteArray& name : path.split('/')) {
        if (!folder.isValid())
            break;
        if (!name.isEmpty())
            folder = openSubfolder(folder.get(), name);
    }
    return folder;
}

UniqueDescriptor openDataHome(const QString& dataHome)
{
    if (dataHome.isEmpty() || !QDir::isAbsolutePath(dataHome))
        return {};
    if (!runsAsRoot()) {
        // The user's own folders, links and all.
        if (!QDir().mkpath(dataHome))
            return {};
        return UniqueDescriptor(
            ::open(QFile::encodeName(dataHome).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    // Root started with a user's HOME (sudo keeps it): that user could steer every write there.
    const UniqueDescriptor home(::open(QFile::encodeName(QDir::homePath()).constData(),
                                       O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const UniqueDescriptor top(::open("/", kFolderFlags));
    if (!home.isValid() || !ownedByRoot(home.get()) || !top.isValid() || !ownedByRoot(top.get()))
        return {};
    return openFolders(top.get(), QFile::encodeName(QDir::cleanPath(dataHome)));
}

// Whether name in folder is already this process's own regular file holding content with mode.
bool holds(int folder, const QByteArray& name, QByteArrayView content, mode_t mode)
{
    // Non-blocking: a fifo planted at the name must not stall the start.
    const UniqueDescriptor file(
        ::openat(folder, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat status;
    if (!file.isValid() || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_uid != ::geteuid() || status.st_nlink != 1 || (status.st_mode & 07777) != mode ||
        status.st_size != content.size())
        return false;
    // One byte more than expected, to see a file that grew meanwhile.
    QByteArray existing(content.size() + 1, Qt::Uninitialized);
    qsizetype filled = 0;
    while (filled < existing.size()) {
        const ssize_t got =
            ::read(file.get(), existing.data() + filled, std::size_t(existing.size() - filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        filled += got;
    }
    return QByteArrayView(existing.constData(), filled) == content;
}

bool writeAll(int descriptor, QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const ssize_t written = ::write(descriptor, bytes.data(), std::size_t(bytes.size()));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes = bytes.sliced(written);
    }
    return true;
}

QByteArray randomSuffix()
{
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray suffix(8, Qt::Uninitialized);
    for (char& letter : suffix)
        letter = kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters - 1))];
    return suffix;
}

// Writes a new file beside name and renames it over name, which replaces whatever name is (a
// planted link included) without opening it.
bool replace(int folder, const QByteArray& name, QByteArrayView content, mode_t mode)
{
    // A fresh name for each try: what is already there is left alone.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const QByteArray temporary = '.' + name + '.' + randomSuffix();
        const UniqueDescriptor file(::openat(folder, temporary.constData(),
                                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                             mode));
        if (!file.isValid() && errno == EEXIST)
            continue;
        if (!file.isValid())
            return false;
        // The umask must not take away the bits the file managers look for.
        if (writeAll(file.get(), content) && ::fchmod(file.get(), mode) == 0 &&
            ::fsync(file.get()) == 0 &&
            ::renameat(folder, temporary.constData(), folder, name.constData()) == 0)
            return true;
        ::unlinkat(folder, temporary.constData(), 0);
        return false;
    }
    return false;
}

} // namespace

EntryWriter::EntryWriter(const QString& dataHome) : m_dataHome(openDataHome(dataHome)) {}

bool EntryWriter::write(const QString& folder, const QString& name, QByteArrayView content,
                        mode_t mode) const
{
    const QByteArray entryName = QFile::encodeName(name);
    if (!isOpen() || !isPlainName(entryName))
        return false;
    const UniqueDescriptor entryFolder = openFolders(m_dataHome.get(), QFile::encodeName(folder));
    return entryFolder.isValid() && (holds(entryFolder.get(), entryName, content, mode) ||
                                     replace(entryFolder.get(), entryName, content, mode));
}

} // namespace virellock
