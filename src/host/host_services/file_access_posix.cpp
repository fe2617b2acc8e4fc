#include "file_access_posix.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <sys/xattr.h>

namespace virellock {

namespace {

constexpr mode_t kPermissionBits = 07777;

// The extended attribute calls on a descriptor; an O_PATH descriptor takes none of them, but
// the path of its /proc entry leads to the file.
class AttributeAccess
{
public:
    explicit AttributeAccess(int descriptor)
        : m_descriptor(descriptor),
          m_procPath(QByteArrayLiteral("/proc/self/fd/") + QByteArray::number(descriptor))
    {}

    ssize_t list(char* names, std::size_t size) const
    {
        const ssize_t result = ::flistxattr(m_descriptor, names, size);
        if (result < 0 && errno == EBADF)
            return ::listxattr(m_procPath.constData(), names, size);
        return result;
    }
    ssize_t get(const char* name, void* value, std::size_t size) const
    {
        const ssize_t result = ::fgetxattr(m_descriptor, name, value, size);
        if (result < 0 && errno == EBADF)
            return ::getxattr(m_procPath.constData(), name, value, size);
        return result;
    }

private:
    int m_descriptor;
    QByteArray m_procPath;
};

// Asks with no room to learn the size, then with that room; again when it grew meanwhile.
template <typename Call> std::optional<QByteArray> readSized(Call call)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        const ssize_t size = call(nullptr, 0);
        if (size < 0)
            return std::nullopt;
        QByteArray bytes(qsizetype(size), Qt::Uninitialized);
        const ssize_t read = call(bytes.data(), std::size_t(bytes.size()));
        if (read >= 0) {
            bytes.truncate(read);
            return bytes;
        }
        if (errno != ERANGE)
            return std::nullopt;
    }
    errno = ERANGE;
    return std::nullopt;
}

QString systemError(const char* what, int error)
{
    return QString::fromLatin1(what) + QStringLiteral(" (") + qt_error_string(error) + u')';
}

QString attributeError(const char* what, const QByteArray& name, int error)
{
    return QString::fromLatin1(what).arg(QString::fromUtf8(name)) + QStringLiteral(" (") +
           qt_error_string(error) + u')';
}

// Every attribute name of the file; nothing when they cannot be listed. A file system without
// extended attributes has none.
std::optional<QList<QByteArray>> attributeNames(const AttributeAccess& file, int* error)
{
    const std::optional<QByteArray> names =
        readSized([&file](char* data, std::size_t size) { return file.list(data, size); });
    if (!names) {
        if (errno == ENOTSUP)
            return QList<QByteArray>();
        *error = errno;
        return std::nullopt;
    }
    QList<QByteArray> list = names->split('\0');
    list.removeAll(QByteArray());
    std::sort(list.begin(), list.end());
    return list;
}

std::optional<QByteArray> attributeValue(const AttributeAccess& file, const QByteArray& name)
{
    return readSized([&file, &name](char* data, std::size_t size) {
        return file.get(name.constData(), data, size);
    });
}

const ExtendedAttribute* findAttribute(const QList<ExtendedAttribute>& attributes,
                                       const QByteArray& name)
{
    const auto found = std::find_if(
        attributes.begin(), attributes.end(),
        [&name](const ExtendedAttribute& attribute) { return attribute.name == name; });
    return found == attributes.end() ? nullptr : &*found;
}

// Makes the file's attributes those wanted: sets what is missing or different, removes what
// is not wanted. The names of those left out go to given.leftOut; one that guards access
// refuses.
void matchAttributes(int descriptor, const QList<ExtendedAttribute>& wanted, GivenAccess& given,
                     QList<QByteArray>& leftOutNames)
{
    const AttributeAccess file(descriptor);
    int error = 0;
    const std::optional<QList<QByteArray>> present = attributeNames(file, &error);
    if (!present) {
        given.refusal = systemError("the new file's extended attributes cannot be listed", error);
        return;
    }
    const auto leaveOut = [&](const char* what, const QByteArray& name, int why) {
        if (guardsAccess(name)) {
            given.refusal = attributeError(what, name, why);
            return;
        }
        if (!leftOutNames.contains(name)) {
            leftOutNames.append(name);
            given.leftOut.append(attributeError(what, name, why));
        }
    };
    for (const ExtendedAttribute& attribute : wanted) {
        if (present->contains(attribute.name) &&
            attributeValue(file, attribute.name) == attribute.value)
            continue;
        if (::fsetxattr(descriptor, attribute.name.constData(), attribute.value.constData(),
                        std::size_t(attribute.value.size()), 0) != 0) {
            leaveOut("the attribute %1 could not be set", attribute.name, errno);
            if (!given.refusal.isEmpty())
                return;
        }
    }
    for (const QByteArray& name : *present) {
        if (findAttribute(wanted, name))
            continue;
        if (::fremovexattr(descriptor, name.constData()) != 0 && errno != ENODATA) {
            leaveOut("the attribute %1 could not be removed", name, errno);
            if (!given.refusal.isEmpty())
                return;
        }
    }
}

} // namespace

bool guardsAccess(const QByteArray& name)
{
    return name.startsWith("system.") || name.startsWith("security.");
}

std::optional<FileAccess> readFileAccess(int descriptor, QString* error, QStringList* leftOut)
{
    struct stat status;
    if (::fstat(descriptor, &status) != 0) {
        *error = systemError("the file's owner and permissions cannot be read", errno);
        return std::nullopt;
    }
    FileAccess access;
    access.owner = status.st_uid;
    access.group = status.st_gid;
    access.mode = status.st_mode & kPermissionBits;
    const AttributeAccess file(descriptor);
    int listError = 0;
    const std::optional<QList<QByteArray>> names = attributeNames(file, &listError);
    if (!names) {
        *error = systemError("the file's extended attributes cannot be listed", listError);
        return std::nullopt;
    }
    for (const QByteArray& name : *names) {
        const std::optional<QByteArray> value = attributeValue(file, name);
        if (value) {
            access.attributes.append({name, *value});
            continue;
        }
        // Removed since it was listed: nothing to carry over.
        if (errno == ENODATA)
            continue;
        if (guardsAccess(name)) {
            *error = attributeError("the attribute %1 cannot be read", name, errno);
            return std::nullopt;
        }
        leftOut->append(attributeError("the attribute %1 cannot be read", name, errno));
    }
    return access;
}

GivenAccess giveFileAccess(int descriptor, const FileAccess& access)
{
    GivenAccess given;
    struct stat status;
    if (::fstat(descriptor, &status) != 0) {
        given.refusal = systemError("the new file's owner cannot be read", errno);
        return given;
    }
    // Only what differs: a change of owner the process may not make is refused even when it
    // would change nothing, and a group may be set by an owner who belongs to it.
    if (status.st_uid != access.owner || status.st_gid != access.group) {
        if (::fchown(descriptor, status.st_uid != access.owner ? access.owner : uid_t(-1),
                     status.st_gid != access.group ? access.group : gid_t(-1)) != 0) {
            given.refusal = systemError("the file's owner or group could not be kept", errno);
            return given;
        }
    }
    if (::fchmod(descriptor, access.mode) != 0) {
        given.refusal = systemError("the file's permission bits could not be kept", errno);
        return given;
    }
    QList<QByteArray> leftOutNames;
    matchAttributes(descriptor, access.attributes, given, leftOutNames);
    if (!given.refusal.isEmpty())
        return given;

    // What the system made of it: it may drop a bit it was asked for (setgid, when the process
    // is not in the group) without saying so.
    if (::fstat(descriptor, &status) != 0) {
        given.refusal = systemError("the new file's owner cannot be read", errno);
        return given;
    }
    if (status.st_uid != access.owner || status.st_gid != access.group) {
        given.refusal = QStringLiteral("the file's owner or group could not be kept (%1:%2 "
                                       "became %3:%4)")
                            .arg(access.owner)
                            .arg(access.group)
                            .arg(status.st_uid)
                            .arg(status.st_gid);
        return given;
    }
    if ((status.st_mode & kPermissionBits) != access.mode) {
        given.refusal =
            QStringLiteral("the file's permission bits could not be kept (%1 became %2)")
                .arg(access.mode, 4, 8, QLatin1Char('0'))
                .arg(status.st_mode & kPermissionBits, 4, 8, QLatin1Char('0'));
        return given;
    }
    QString error;
    QStringList unread;
    const std::optional<FileAccess> now = readFileAccess(descriptor, &error, &unread);
    if (!now) {
        given.refusal = error;
        return given;
    }
    for (const ExtendedAttribute& attribute : access.attributes) {
        if (guardsAccess(attribute.name) &&
            findAttribute(now->attributes, attribute.name) == nullptr) {
            given.refusal = QStringLiteral("the attribute %1 did not stay on the new file")
                                .arg(QString::fromUtf8(attribute.name));
            return given;
        }
    }
    for (const ExtendedAttribute& attribute : now->attributes) {
        const ExtendedAttribute* wanted = findAttribute(access.attributes, attribute.name);
        if ((wanted == nullptr || wanted->value != attribute.value) &&
            guardsAccess(attribute.name)) {
            given.refusal = QStringLiteral("the attribute %1 is not the file's on the new file")
                                .arg(QString::fromUtf8(attribute.name));
            return given;
        }
    }
    return given;
}

} // namespace virellock
