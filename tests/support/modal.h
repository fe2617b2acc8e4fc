#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace virellock::test {

// Runs action on the next modal widget once it is showing, from inside its event loop; for
// driving real dialogs on the offscreen platform.
inline void whenModalShows(std::function<void(QWidget*)> action)
{
    auto* timer = new QTimer;
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
}

} // namespace virellock::test
