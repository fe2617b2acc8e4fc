// Context-menu entries for the Linux file managers, standing in for the registry: the folder
// entry, and the entries for files.

#include "entry_writer.h"
#include "file_entries.h"
#include "registry.h"

#include <QRegularExpression>
#include <QStandardPaths>

#include <optional>

namespace virellock {

namespace {

// Both file managers run only entries that are executable.
constexpr mode_t kEntryMode = 0755;

// "Folder\shell\<Name>\command\" names the menu entry <Name>, which names a file too.
std::optional<QString> folderCommandName(const QString& keyPath)
{
    static const QRegularExpression pattern(
        QStringLiteral(R"(^Folder\\shell\\([^\\/]+)\\command\\$)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(keyPath);
    const QString name = match.captured(1);
    if (!match.hasMatch() || name == QLatin1String(".") || name == QLatin1String(".."))
        return std::nullopt;
    return name;
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

bool hasControlCharacters(const QString& text)
{
    static const QRegularExpression controlCharacters(QStringLiteral("[\\x00-\\x1f\\x7f]"));
    return text.contains(controlCharacters);
}

} // namespace

// Every entry ends the program's options with "--": what a file manager adds after it is a
// file, whatever it looks like.
bool WriteRegistryValue(int root, const QString& keyPath, const QString& value)
{
    const std::optional<QString> name = folderCommandName(keyPath);
    if (root != kRegistryClassesRoot || !name || value.isEmpty() || hasControlCharacters(value))
        return false;
    const EntryWriter entries(
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    if (!entries.isOpen())
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
                                                  "Exec=%3 --\n")
                                       .arg(id, *name, desktopExecArgument(value));
    const QString gnomeScript = QStringLiteral("#!/bin/sh\nexec %1 --\n").arg(shellArgument(value));

    const bool kde =
        entries.write(QStringLiteral("kio/servicemenus"), id + QStringLiteral(".desktop"),
                      kdeServiceMenu.toUtf8(), kEntryMode);
    const bool gnome =
        entries.write(QStringLiteral("nautilus/scripts"), *name, gnomeScript.toUtf8(), kEntryMode);
    return kde && gnome;
}

bool writeFileEntries(const QString& programPath)
{
    if (programPath.isEmpty() || hasControlCharacters(programPath))
        return false;
    const EntryWriter entries(
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    if (!entries.isOpen())
        return false;

    // all/allfiles: every file, and no folder (those have the folder entry). %F: the chosen
    // files as local paths, each one argument, all to one program.
    const QString kdeServiceMenu = QStringLiteral("[Desktop Entry]\n"
                                                  "Type=Service\n"
                                                  "MimeType=all/allfiles;\n"
                                                  "Actions=virellock-files;\n"
                                                  "X-KDE-ServiceTypes=KonqPopupMenu/Plugin\n"
                                                  "\n"
                                                  "[Desktop Action virellock-files]\n"
                                                  "Name=Virellock\n"
                                                  "Icon=virellock\n"
                                                  "Exec=%1 -- %F\n")
                                       .arg(desktopExecArgument(programPath));
    // GNOME Files passes the chosen files as arguments, relative to the folder it runs the script
    // in. Its list of paths in NAUTILUS_SCRIPT_SELECTED_FILE_PATHS is left alone: it ends each
    // path with a line break, which a file name may hold too.
    const QString gnomeScript =
        QStringLiteral("#!/bin/sh\n"
                       "# Starts Virellock with the files chosen in GNOME Files.\n"
                       "case $PWD in\n"
                       "/*) ;;\n"
                       "*) exit 1 ;;\n"
                       "esac\n"
                       "for file do\n"
                       "    case $file in\n"
                       "    /*) ;;\n"
                       "    *) file=$PWD/$file ;;\n"
                       "    esac\n"
                       "    set -- \"$@\" \"$file\"\n"
                       "    shift\n"
                       "done\n"
                       "exec %1 -- \"$@\"\n")
            .arg(shellArgument(programPath));

    const bool kde =
        entries.write(QStringLiteral("kio/servicemenus"), QStringLiteral("virellock-files.desktop"),
                      kdeServiceMenu.toUtf8(), kEntryMode);
    const bool gnome = entries.write(QStringLiteral("nautilus/scripts"), kFileScriptName,
                                     gnomeScript.toUtf8(), kEntryMode);
    return kde && gnome;
}

} // namespace virellock
