#pragma once

#include <QApplication>
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

} // namespace virellock::test
