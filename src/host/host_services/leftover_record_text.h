#pragma once

// What a record of a temporary file in use says, how it is written down, and how the files in
// the records folder are named.

#include <QByteArray>
#include <QString>

#include <optional>

namespace virellock {

// The system's name for one file, which another file under the same path does not share.
struct FileIdentity
{
    quint64 volume = 0;
    quint64 file = 0;
    bool operator==(const FileIdentity&) const = default;
};

struct LeftoverFields
{
    qint64 processId = 0;
    FileIdentity identity;
    // The most bytes the temporary file may hold: a bigger file is not the one recorded.
    qint64 maxSize = 0;
    // The file the temporary file was to replace; the temporary file is named after it.
    QString targetPath;
    QString temporaryPath;
};

QByteArray serialiseLeftover(const LeftoverFields& fields);
// Nothing for text that is not a whole record of the current version.
std::optional<LeftoverFields> parseLeftover(const QByteArray& text);

// A name in the records folder: "<process id>-<16 hex digits>.record" for a record, and that
// name with a further suffix for a record being written.
struct RecordEntryName
{
    qint64 processId = 0;
    bool partial = false;
};

// A fresh name for a record of processId.
QString makeRecordName(qint64 processId);
// The name a record has while it is written.
QString partialRecordName(const QString& recordName);
// Nothing for a name this program does not give.
std::optional<RecordEntryName> parseRecordName(const QString& name);

} // namespace virellock
