#include "file_entries.h"
#include "registry.h"
#include "win32_registry.h"
#include "win32_shell_link.h"

namespace virellock {

namespace {

const wchar_t* wide(const QString& text)
{
    return reinterpret_cast<const wchar_t*>(text.utf16());
}

} // namespace

bool WriteRegistryValue(int root, const QString& keyPath, const QString& value)
{
    if (root != kRegistryClassesRoot || !keyPath.endsWith(u'\\'))
        return false;
    QString key = keyPath.chopped(1);
    // A command line is quoted: unquoted, "C:\Program Files\x.exe" could start C:\Program.exe.
    QString data = value;
    if (key.endsWith(QStringLiteral("\\command"), Qt::CaseInsensitive) && !value.startsWith(u'"'))
        data = u'"' + value + u'"';
    return virellockSetClassesDefaultValue(wide(key), wide(data)) != VIRELLOCK_REGISTRY_FAILED;
}

bool writeFileEntries(const QString& programPath)
{
    // Quoted, the path and the file name each stay one argument whatever blanks they hold;
    // neither can hold a double quote. After "--" the file is a file, whatever it looks like.
    const QString command = u'"' + programPath + QStringLiteral("\" -- \"%1\"");
    const bool menu =
        virellockSetUserClassesDefaultValue(L"*\\shell\\Virellock\\command", wide(command)) != 0;
    // Send To puts the files after the shortcut's own arguments.
    const bool sendTo = virellockWriteSendToShortcut(L"Virellock", wide(programPath), L"--") != 0;
    return menu && sendTo;
}

} // namespace virellock
