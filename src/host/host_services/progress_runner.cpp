#include "progress_runner.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QPointer>
#include <QProgressDialog>
#include <QTimer>

#include <atomic>
#include <thread>

namespace virellock {

namespace {

// What a modal dialog would block, held back before the dialog shows and outside it after.
class InputBlocker final : public QObject
{
public:
    explicit InputBlocker(QPointer<QProgressDialog>& dialog) : m_dialog(dialog) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
        case QEvent::Close:
            break;
        default:
            return false;
        }
        auto* widget = qobject_cast<QWidget*>(watched);
        if (m_dialog && widget && (widget == m_dialog || m_dialog->isAncestorOf(widget)))
            return false;
        if (event->type() == QEvent::Close)
            event->ignore();
        return true;
    }

private:
    QPointer<QProgressDialog>& m_dialog;
};

// The dialog's bar counts in steps of 1/1000, whatever the size.
constexpr int kSteps = 1000;

} // namespace

void runWithProgressDialog(QWidget* parent, const QString& title, int showDelayMs,
                           const std::function<void(const ProgressReport&)>& work)
{
    std::atomic<qint64> done{0};
    std::atomic<qint64> total{0};
    std::atomic<bool> cancelled{false};

    QPointer<QProgressDialog> dialog;
    InputBlocker blocker(dialog);
    qApp->installEventFilter(&blocker);

    QEventLoop loop;
    std::thread worker([&] {
        work([&](qint64 bytesDone, qint64 bytesTotal) {
            done = bytesDone;
            total = bytesTotal;
            return !cancelled.load();
        });
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });

    QProgressDialog progress(parent);
    dialog = &progress;
    progress.setWindowTitle(title);
    progress.setCancelButtonText(QStringLiteral("取消"));
    progress.setWindowModality(Qt::ApplicationModal);
    progress.setRange(0, kSteps);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    // Shows itself this long after it was made, unless the work has finished by then.
    progress.setMinimumDuration(showDelayMs);

    QTimer updateTimer;
    QObject::connect(&progress, &QProgressDialog::canceled, [&] {
        cancelled = true;
        updateTimer.stop();
    });
    QObject::connect(&updateTimer, &QTimer::timeout, [&] {
        if (progress.wasCanceled()) {
            cancelled = true;
            return;
        }
        const qint64 all = total;
        const qint64 now = done;
        progress.setLabelText(QStringLiteral("%1 / %2 MiB")
                                  .arg(double(now) / (1 << 20), 0, 'f', 1)
                                  .arg(double(all) / (1 << 20), 0, 'f', 1));
        progress.setValue(all > 0 ? int(now * kSteps / all) : 0);
    });
    updateTimer.start(50);

    // The worker's queued quit arrives even when it finished before the loop started.
    loop.exec();
    worker.join();
    updateTimer.stop();
    progress.hide();
    qApp->removeEventFilter(&blocker);
}

} // namespace virellock
