#pragma once

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace virellock::test {

// Runs action on the next modal widget once it is showing, from inside its event loop; for
// driving real dialogs on the offscreen platform. The watch ends after one action; delete the
// returned timer to end it before.
inline QTimer* whenModalShows(std::function<void(QWidget*)> action)
{
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, action = std::move(action)] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        action(modal);
        // A failed check inside action() must not leave the test waiting on the dialog.
        if (modal->isVisible())
            modal->close();
    });
    timer->start();
    return timer;
}

// Chooses path in Qt's own open-file dialog as a person typing it would. (selectFile() leaves
// the name box alone while it has the focus, which it may or may not have yet.)
inline void chooseInFileDialog(QFileDialog* dialog, const QString& path)
{
    if (auto* nameBox = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        nameBox->setText(path);
    QMetaObject::invokeMethod(dialog, "accept");
}

} // namespace virellock::test
