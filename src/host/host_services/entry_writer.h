#pragma once

// The file managers' entries live in the user's data folder, where whoever owns it may plant
// links. POSIX only.

#include "unique_descriptor.h"

#include <QByteArrayView>
#include <QString>

#include <sys/types.h>

namespace virellock {

// Writes entries below one data folder ($XDG_DATA_HOME), never through a symbolic link below it.
class EntryWriter
{
public:
    // Opens dataHome, made first when missing. As root, only a data folder that belongs to root,
    // reached without following a link, in a home folder that belongs to root: root writes
    // nothing where another user could steer it. isOpen() tells whether it could.
    explicit EntryWriter(const QString& dataHome);

    bool isOpen() const { return m_dataHome.isValid(); }

    // Makes the file folder/name below the data folder hold content with the permission bits
    // mode; folder is names joined by '/', each made when missing. A symbolic link among the
    // folders fails the write; one at the entry's name is replaced, never followed: the entry is
    // written beside it and renamed over the name. An entry that already holds content with mode
    // is left as it is. True when the entry is right.
    bool write(const QString& folder, const QString& name, QByteArrayView content,
               mode_t mode) const;

private:
    UniqueDescriptor m_dataHome;
};

} // namespace virellock
