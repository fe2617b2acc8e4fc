#pragma once

#include "host/host_services/host_services.h"

#include <QPointer>
#include <QWidget>

namespace virellock {

// The host services as Qt dialogs, modal to the given window.
class QtHostServices final : public HostServices
{
public:
    explicit QtHostServices(QWidget* dialogParent) : m_dialogParent(dialogParent) {}

    Answer ShowMessageBox(const QString& text, MessageStyle style, const QString& title) override;
    std::optional<QString> InputBox(const QString& prompt, const QString& title,
                                    const QString& initialText, InputMode mode) override;
    std::optional<QStringList> ChooseFiles(const FileDialogOptions& options) override;
    void RunWithProgress(const QString& title,
                         const std::function<void(const ProgressReport&)>& work) override;

private:
    QPointer<QWidget> m_dialogParent;
};

} // namespace virellock
