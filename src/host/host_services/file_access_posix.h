#pragma once

// Who may do what with a file on POSIX: its owner, group, permission bits and extended
// attributes (a POSIX access list is one of them, system.posix_acl_access), read from one file
// and given to another. A rewrite gives them to its temporary file, so that the new file is the
// same file to everyone who could open the old one.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <sys/types.h>

namespace virellock {

struct ExtendedAttribute
{
    QByteArray name;
    QByteArray value;
    bool operator==(const ExtendedAttribute&) const = default;
};

struct FileAccess
{
    uid_t owner = 0;
    gid_t group = 0;
    // The permission bits with setuid, setgid and sticky.
    mode_t mode = 0;
    // Every one this process can read, by name.
    QList<ExtendedAttribute> attributes;
};

// Whether losing the attribute could let others reach the file, or reach more through it:
// the system.* (access lists) and security.* (labels, capabilities) namespaces.
[[nodiscard]] bool guardsAccess(const QByteArray& name);

// What the file open under descriptor has (an O_PATH descriptor will do). Nothing, with why in
// error, when it cannot be told or an attribute that guards access cannot be read; another
// attribute that cannot be read is left out, and said in leftOut.
[[nodiscard]] std::optional<FileAccess> readFileAccess(int descriptor, QString* error,
                                                       QStringList* leftOut);

// What giving access to a file came to.
struct GivenAccess
{
    // Why the file could not be given what guards access; empty when it was.
    QString refusal;
    // Attributes that guard nothing and could not be set or removed, with the system's words.
    QStringList leftOut;
};

// Gives the file open for writing under descriptor exactly access: the owner and group where
// they differ, then the permission bits (a change of owner clears setuid and setgid), then the
// attributes (setting an access list sets the group bits to its mask), removing those access
// lacks; a default access list of the folder gives a new file one of its own. Then reads it
// all back and compares.
[[nodiscard]] GivenAccess giveFileAccess(int descriptor, const FileAccess& access);

} // namespace virellock
