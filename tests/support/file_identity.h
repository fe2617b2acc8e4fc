#pragma once

// What makes a file this file to the people who may open it, on POSIX: its owner, group,
// permission bits and extended attributes (a POSIX access list among them), read whole so that
// a test can compare them before and after a rewrite.

#include <QByteArray>
#include <QFile>
#include <QMap>
#include <QString>
#include <QTest>

#include <optional>
#include <sys/stat.h>
#include <sys/xattr.h>

namespace virellock::test {

struct FileIdentity
{
    mode_t mode = 0; // the permission bits with setuid, setgid and sticky
    uid_t owner = 0;
    gid_t group = 0;
    QMap<QByteArray, QByteArray> attributes;

    bool operator==(const FileIdentity&) const = default;
};

inline std::optional<FileIdentity> identityOf(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat status;
    if (::stat(name.constData(), &status) != 0)
        return std::nullopt;
    FileIdentity identity{status.st_mode & 07777, status.st_uid, status.st_gid, {}};
    QByteArray names(64 * 1024, '\0');
    const ssize_t length = ::listxattr(name.constData(), names.data(), std::size_t(names.size()));
    if (length < 0)
        return errno == ENOTSUP ? std::optional(identity) : std::nullopt;
    for (const QByteArray& attribute : names.first(length).split('\0')) {
        if (attribute.isEmpty())
            continue;
        QByteArray value(64 * 1024, '\0');
        const ssize_t size = ::getxattr(name.constData(), attribute.constData(), value.data(),
                                        std::size_t(value.size()));
        if (size < 0)
            return std::nullopt;
        identity.attributes.insert(attribute, value.first(size));
    }
    return identity;
}

// How QCOMPARE prints an identity when a check fails.
inline char* toString(const FileIdentity& identity)
{
    QByteArray text = "mode " + QByteArray::number(identity.mode, 8) + " owner " +
                      QByteArray::number(identity.owner) + ':' + QByteArray::number(identity.group);
    for (auto it = identity.attributes.begin(); it != identity.attributes.end(); ++it)
        text += ' ' + it.key() + '=' + it.value().toHex();
    return qstrdup(text.constData());
}

// A POSIX access list as the kernel keeps it in system.posix_acl_access: version 2, then
// entries of tag, permissions and id, little-endian, in the order of tag and id. This one gives
// the owner and the others the bits of mode, the owning group nothing, and reader read access,
// as "setfacl -m u:reader:r" on a file of that mode with the group bits off would.
inline QByteArray accessListGrantingRead(mode_t mode, uid_t reader)
{
    QByteArray list;
    const auto append = [&list](quint32 value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            list.append(char((value >> (8 * i)) & 0xff));
    };
    const auto entry = [&append](quint16 tag, quint16 permissions, quint32 id) {
        append(tag, 2);
        append(permissions, 2);
        append(id, 4);
    };
    constexpr quint32 kNoId = 0xffffffff;
    append(2, 4);
    entry(0x01, (mode >> 6) & 7, kNoId); // the owner
    entry(0x02, 4, reader);              // the named user
    entry(0x04, 0, kNoId);               // the owning group
    entry(0x10, 4, kNoId);               // the mask
    entry(0x20, mode & 7, kNoId);        // the others
    return list;
}

} // namespace virellock::test
