#include "start_up.h"

#include "host/host_services/leftover_files.h"
#include "host/host_services/program_location.h"
#include "host/host_services/registry.h"

#include <QThreadPool>

namespace virellock {

bool writeFolderEntry()
{
    return WriteRegistryValue(kRegistryClassesRoot,
                              QStringLiteral("Folder\\shell\\Virellock\\command\\"),
                              programFullPath());
}

void startUp()
{
    writeFolderEntry();
    QThreadPool::globalInstance()->start([] { removeLeftoverFiles(); });
}

} // namespace virellock
