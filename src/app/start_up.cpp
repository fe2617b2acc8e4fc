#include "start_up.h"

#include "engine/messages.h"
#include "host/host_services/file_entries.h"
#include "host/host_services/leftover_files.h"
#include "host/host_services/program_location.h"
#include "host/host_services/registry.h"
#include "main_window.h"

#include <QThreadPool>

namespace virellock {

bool writeFolderEntry()
{
    return WriteRegistryValue(kRegistryClassesRoot,
                              QStringLiteral("Folder\\shell\\Virellock\\command\\"),
                              programFullPath());
}

void chooseArgumentFiles(MainWindow& window, const ProgramArguments& arguments)
{
    window.setChosenFiles(arguments.files());
}

void startUp(HostServices& host)
{
    startUp(host, dataops::cipherBackendAvailable());
}

void startUp(HostServices& host, const dataops::CipherBackendStatus& backend)
{
    writeFolderEntry();
    writeFileEntries(programFullPath());
    QThreadPool::globalInstance()->start([] { removeLeftoverFiles(); });
    // DES and RC4 come from OpenSSL's legacy provider, which a system may lack. Told once here;
    // each command that needs one of them tells it again.
    if (!backend.allWork())
        host.ShowMessageBox(messages::cipherUnavailableAtStart(backend), MessageStyle::Error,
                            messages::errorTitle());
}

} // namespace virellock
