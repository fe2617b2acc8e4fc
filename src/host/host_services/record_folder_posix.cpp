#include "leftover_files.h"
#include "leftover_record_text.h"
#include "record_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcLeftoverRecords, "virellock.leftovers")

namespace virellock {

namespace {

// Far more than any record holds.
constexpr off_t kMaxRecordSize = 64 * 1024;

QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Root started with another user's environment (as sudo -E does) would otherwise act on
// records that user could have planted, and leave folders of root's in that user's home.
bool isRootInForeignHome(const QString& folder)
{
    if (::geteuid() != 0)
        return false;
    struct stat status;
    if (::stat(native(QDir::homePath()).constData(), &status) == 0 && status.st_uid != 0)
        return true;
    // The nearest folder that is there: another user's when XDG_DATA_HOME points into their
    // home.
    for (QString path = QDir::cleanPath(folder);;) {
        if (::stat(native(path).constData(), &status) == 0)
            return status.st_uid != 0;
        if (errno != ENOENT)
            return true;
        const QString parent = QFileInfo(path).path();
        if (parent == path)
            return false;
        path = parent;
    }
}

// Makes folder and its missing parents, each private to the user.
bool makeFolders(const QString& folder)
{
    const QString clean = QDir::cleanPath(folder);
    for (qsizetype end = clean.indexOf(u'/', 1);; end = clean.indexOf(u'/', end + 1)) {
        const QByteArray path = native(end < 0 ? clean : clean.left(end));
        struct stat status;
        if (::mkdir(path.constData(), 0700) != 0 &&
            (::stat(path.constData(), &status) != 0 || !S_ISDIR(status.st_mode)))
            return false;
        if (end < 0)
            return true;
    }
}

bool writeAll(int descriptor, const QByteArray& content)
{
    for (qsizetype done = 0; done < content.size();) {
        const ssize_t written =
            ::write(descriptor, content.constData() + done, std::size_t(content.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += written;
    }
    return true;
}

} // namespace

RecordFolder::RecordFolder(QString path, OwnedHandle handle)
    : m_path(std::move(path)), m_handle(std::move(handle))
{}

std::optional<RecordFolder> RecordFolder::open(Opening opening)
{
    const QString path = leftoverRecordFolder();
    if (isRootInForeignHome(path)) {
        qCWarning(lcLeftoverRecords).noquote()
            << "running as root with another user's home or data folder: temporary files are "
               "neither recorded nor removed";
        return std::nullopt;
    }
    if (opening == Opening::CreateIfMissing && !makeFolders(path)) {
        qCWarning(lcLeftoverRecords).noquote() << "cannot make" << path << systemError();
        return std::nullopt;
    }
    OwnedHandle folder(
        ::open(native(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.isValid()) {
        if (errno == ENOTDIR || errno == ELOOP)
            qCWarning(lcLeftoverRecords).noquote() << path << "is not a folder and is not used";
        else if (errno != ENOENT)
            qCWarning(lcLeftoverRecords).noquote() << "cannot open" << path << systemError();
        return std::nullopt;
    }
    struct stat status;
    if (::fstat(folder.get(), &status) != 0)
        return std::nullopt;
    if (status.st_uid != ::geteuid()) {
        qCWarning(lcLeftoverRecords).noquote()
            << path << "belongs to user" << status.st_uid << "and is not used";
        return std::nullopt;
    }
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        qCWarning(lcLeftoverRecords).noquote()
            << path << "may be written by other users and is not used";
        return std::nullopt;
    }
    // Earlier versions left it readable to all: which files are being rewritten is no one
    // else's business.
    if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        ::fchmod(folder.get(), status.st_mode & S_IRWXU);
    return RecordFolder(path, std::move(folder));
}

QStringList RecordFolder::entryNames() const
{
    // A descriptor of its own: the listing reads from it to its end.
    const int listing = ::openat(m_handle.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0)
        return {};
    const std::unique_ptr<DIR, int (*)(DIR*)> folder(::fdopendir(listing), &::closedir);
    if (!folder) {
        ::close(listing);
        return {};
    }
    QStringList names;
    while (const dirent* entry = ::readdir(folder.get())) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names << QFile::decodeName(entry->d_name);
    }
    return names;
}

std::optional<QByteArray> RecordFolder::readRecord(const QString& name) const
{
    // Non-blocking: a FIFO planted under a record's name must not hold the start up.
    const OwnedHandle file(::openat(m_handle.get(), native(name).constData(),
                                    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat status;
    if (!file.isValid() || ::fstat(file.get(), &status) != 0)
        return std::nullopt;
    if (!S_ISREG(status.st_mode) || status.st_uid != ::geteuid() ||
        (status.st_mode & (S_IRWXG | S_IRWXO)) != 0 || status.st_nlink != 1 ||
        status.st_size > kMaxRecordSize)
        return std::nullopt;
    QByteArray content(qsizetype(status.st_size) + 1, Qt::Uninitialized);
    qsizetype done = 0;
    while (done < content.size()) {
        const ssize_t read =
            ::pread(file.get(), content.data() + done, std::size_t(content.size() - done), done);
        if (read < 0 && errno == EINTR)
            continue;
        if (read < 0)
            return std::nullopt;
        if (read == 0)
            break;
        done += read;
    }
    content.truncate(done);
    return content;
}

bool RecordFolder::writeRecord(const QString& name, const QByteArray& content) const
{
    const QByteArray finalName = native(name);
    const QByteArray partialName = native(partialRecordName(name));
    OwnedHandle file(::openat(m_handle.get(), partialName.constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file.isValid())
        return false;
    bool written = writeAll(file.get(), content) && ::fsync(file.get()) == 0;
    file.close();
    written = written && ::renameat(m_handle.get(), partialName.constData(), m_handle.get(),
                                    finalName.constData()) == 0;
    if (written && ::fsync(m_handle.get()) != 0) {
        ::unlinkat(m_handle.get(), finalName.constData(), 0);
        written = false;
    }
    if (!written)
        ::unlinkat(m_handle.get(), partialName.constData(), 0);
    return written;
}

bool RecordFolder::remove(const QString& name) const
{
    return ::unlinkat(m_handle.get(), native(name).constData(), 0) == 0;
}

} // namespace virellock
