// Context-menu entries for the Linux file managers, standing in for the registry: the folder
// entry, and the entries for files.

#include "file_entries.h"
#include "file_services.h"
#include "registry.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>

#include <optional>

namespace virellock {

namespace {

// "Folder\shell\<Name>\command\" names the menu entry <Name>.
std::optional<QString> folderCommandName(const QString& keyPath)
{
    static const QRegularExpression pattern(
        QStringLiteral(R"(^Folder\\shell\\([^\\]+)\\command\\$)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(keyPath);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1);
}

// A quoted argument of a desktop entry's Exec key: inside the quotes, ", `, $ and \ take a
// backslash; then the value's own escaping doubles every backslash, and % is doubled so that
// it is not read as a field code.
QString desktopExecArgument(const QString& path)
{
    QString quoted;
    for (QChar c : path) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted.replace(u'\\', QStringLiteral("\\\\"));
    quoted.replace(u'%', QStringLiteral("%%"));
    return u'"' + quoted + u'"';
}

QString shellArgument(const QString& path)
{
    QString quoted = path;
    quoted.replace(u'\'', QStringLiteral("'\\''"));
    return u'\'' + quoted + u'\'';
}

QString actionId(const QString& name)
{
    QString id = name.toLower();
    id.replace(QRegularExpression(QStringLiteral("[^a-z0-9-]")), QStringLiteral("-"));
    return id;
}

// Both file managers run only entries that are executable.
bool writeExecutable(const QString& path, const QString& content)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()) || !WriteWholeFile(path, content.toUtf8()))
        return false;
    QFile file(path);
    return file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser |
                               QFileDevice::ExeGroup | QFileDevice::ExeOther);
}

} // namespace

bool WriteRegistryValue(int root, const QString& keyPath, const QString& value)
{
    const std::optional<QString> name = folderCommandName(keyPath);
    static const QRegularExpression controlCharacters(QStringLiteral("[\\x00-\\x1f\\x7f]"));
    if (root != kRegistryClassesRoot || !name || value.isEmpty() ||
        value.contains(controlCharacters))
        return false;
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataHome.isEmpty())
        return false;

    const QString id = actionId(*name);
    const QString kdeServiceMenu = QStringLiteral("[Desktop Entry]\n"
                                                  "Type=Service\n"
                                                  "MimeType=inode/directory;\n"
                                                  "Actions=%1;\n"
                                                  "X-KDE-ServiceTypes=KonqPopupMenu/Plugin\n"
                                                  "\n"
                                                  "[Desktop Action %1]\n"
                                                  "Name=%2\n"
                                                  "Icon=virellock\n"
                                                  "Exec=%3\n")
                                       .arg(id, *name, desktopExecArgument(value));
    const QString gnomeScript = QStringLiteral("#!/bin/sh\nexec %1\n").arg(shellArgument(value));

    const bool kde = writeExecutable(
        dataHome + QStringLiteral("/kio/servicemenus/%1.desktop").arg(id), kdeServiceMenu);
    const bool gnome =
        writeExecutable(dataHome + QStringLiteral("/nautilus/scripts/") + *name, gnomeScript);
    return kde && gnome;
}

bool writeFileEntries(const QString& programPath)
{
    static const QRegularExpression controlCharacters(QStringLiteral("[\\x00-\\x1f\\x7f]"));
    if (programPath.isEmpty() || programPath.contains(controlCharacters))
        return false;
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataHome.isEmpty())
        return false;

    // all/allfiles: every file, and no folder (those have the folder entry). %F: the chosen
    // files as local paths, all to one program.
    const QString kdeServiceMenu = QStringLiteral("[Desktop Entry]\n"
                                                  "Type=Service\n"
                                                  "MimeType=all/allfiles;\n"
                                                  "Actions=virellock-files;\n"
                                                  "X-KDE-ServiceTypes=KonqPopupMenu/Plugin\n"
                                                  "\n"
                                                  "[Desktop Action virellock-files]\n"
                                                  "Name=Virellock\n"
                                                  "Icon=virellock\n"
                                                  "Exec=%1 %F\n")
                                       .arg(desktopExecArgument(programPath));
    // GNOME Files lists the chosen files' full paths one a line, each line ended: split at line
    // ends only, with no file-name patterns expanded, every path is one argument as it is.
    const QString gnomeScript =
        QStringLiteral("#!/bin/sh\n"
                       "# Starts Virellock with the files chosen in GNOME Files.\n"
                       "IFS='\n'\n"
                       "set -f\n"
                       "exec %1 $NAUTILUS_SCRIPT_SELECTED_FILE_PATHS\n")
            .arg(shellArgument(programPath));

    const bool kde = writeExecutable(
        dataHome + QStringLiteral("/kio/servicemenus/virellock-files.desktop"), kdeServiceMenu);
    const bool gnome = writeExecutable(
        dataHome + QStringLiteral("/nautilus/scripts/") + kFileScriptName, gnomeScript);
    return kde && gnome;
}

} // namespace virellock
