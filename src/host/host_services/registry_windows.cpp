#include "registry.h"
#include "win32_registry.h"

namespace virellock {

bool WriteRegistryValue(int root, const QString& keyPath, const QString& value)
{
    if (root != kRegistryClassesRoot || !keyPath.endsWith(u'\\'))
        return false;
    QString key = keyPath.chopped(1);
    // A command line is quoted: unquoted, "C:\Program Files\x.exe" could start C:\Program.exe.
    QString data = value;
    if (key.endsWith(QStringLiteral("\\command"), Qt::CaseInsensitive) && !value.startsWith(u'"'))
        data = u'"' + value + u'"';
    return virellockSetClassesDefaultValue(reinterpret_cast<const wchar_t*>(key.utf16()),
                                           reinterpret_cast<const wchar_t*>(data.utf16())) !=
           VIRELLOCK_REGISTRY_FAILED;
}

} // namespace virellock
