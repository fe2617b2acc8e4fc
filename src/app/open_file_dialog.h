#pragma once

#include "host/host_services/host_services.h"

#include <QObject>

namespace virellock {

// An open-file dialog as the main window holds it, under its control name: what the dialog
// shows, and that it takes several files at once. It draws nothing and keeps no choice;
// HostServices::ChooseFiles() shows the dialog it describes and returns the choice.
class OpenFileDialog final : public QObject
{
    Q_OBJECT

public:
    OpenFileDialog(const QString& objectName, const QString& title, QObject* parent);

    const FileDialogOptions& options() const { return m_options; }

private:
    FileDialogOptions m_options;
};

} // namespace virellock
