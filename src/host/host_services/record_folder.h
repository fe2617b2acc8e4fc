#pragma once

// The folder that holds the records of temporary files in use, used only while it is the
// user's own: a record there makes a later start overwrite and delete a file, so nothing that
// another user could have planted or read is trusted. POSIX: owned by the effective user and
// writable by no one else (made 0700, its records 0600), and, for root, never inside another
// user's home. Windows: owned by the user's SID, where the file system keeps owners.

#include "owned_handle.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace virellock {

class RecordFolder
{
public:
    enum class Opening
    {
        Existing,        // nothing when it is not there
        CreateIfMissing, // made, with its parents, when it is not there
    };

    // Nothing when the folder is missing (and not to be made) or not to be trusted; the
    // reason for the latter is logged.
    static std::optional<RecordFolder> open(Opening opening);

    QString path() const { return m_path; }
    QStringList entryNames() const;

    // The content of the record called name when it is the user's own regular file, private
    // to them; nothing otherwise.
    std::optional<QByteArray> readRecord(const QString& name) const;
    // Writes the record called name so that a kill leaves it whole or not at all; until it
    // is whole it is called partialRecordName(name).
    bool writeRecord(const QString& name, const QByteArray& content) const;
    bool remove(const QString& name) const;

private:
    RecordFolder(QString path, OwnedHandle handle);

    QString m_path;
    // POSIX: the folder as it was checked, which every access goes through. Windows: none.
    OwnedHandle m_handle;
};

} // namespace virellock
