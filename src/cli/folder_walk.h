#pragma once

#include <QList>
#include <QString>

namespace virellock::cli {

// What -r finds under a folder: a regular file to work on, or something it cannot take, with
// why.
struct FolderEntry
{
    QString path;    // the folder's path as given, then the names under it
    QString refusal; // empty for a regular file
};

// Everything under folder, in its subfolders too, hidden entries included, sorted by path.
// Symbolic links are left out, and not followed. Each entry that is not a regular file, each
// name that is not UTF-8 (isUndecodableName) and each folder that cannot be read comes with
// its refusal, so that nothing is left out unsaid.
QList<FolderEntry> entriesUnder(const QString& folder);

} // namespace virellock::cli
