#include "progress_runner.h"

#include "progress_text.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QProgressDialog>
#include <QTimer>

#include <atomic>
#include <mutex>
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
        // Files dropped on the window would become its choice while a command works.
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
            break;
        default:
            return false;
        }
        auto* widget = qobject_cast<QWidget*>(watched);
        if (m_dialog && widget && (widget == m_dialog || m_dialog->isAncestorOf(widget)))
            return false;
        if (event->type() == QEvent::Close || event->type() == QEvent::DragEnter ||
            event->type() == QEvent::DragMove || event->type() == QEvent::Drop)
            event->ignore();
        return true;
    }

private:
    QPointer<QProgressDialog>& m_dialog;
};

// The dialog's bar counts in steps of 1/1000, whatever the size.
constexpr int kSteps = 1000;
// A long file name is shortened in its middle to this width, so that the dialog keeps its size.
constexpr int kFileLineWidth = 360;

// What the work last reported, handed from its thread to the dialog's.
class SharedState
{
public:
    void set(const ProgressState& state)
    {
        const std::lock_guard lock(m_mutex);
        m_state = state;
    }
    ProgressState get() const
    {
        const std::lock_guard lock(m_mutex);
        return m_state;
    }

private:
    mutable std::mutex m_mutex;
    ProgressState m_state;
};

} // namespace

void runWithProgressDialog(QWidget* parent, const QString& title, int showDelayMs,
                           const std::function<void(const ProgressReport&)>& work)
{
    SharedState reported;
    std::atomic<bool> cancelled{false};

    QPointer<QProgressDialog> dialog;
    InputBlocker blocker(dialog);
    qApp->installEventFilter(&blocker);

    QEventLoop loop;
    std::thread worker([&] {
        work([&](const ProgressState& state) {
            reported.set(state);
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

    ProgressEstimate estimate;
    QElapsedTimer clock;
    clock.start();
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
        const ProgressState state = reported.get();
        estimate.update(state, clock.elapsed());
        const QString fileLine =
            progress.fontMetrics().elidedText(estimate.fileLine(), Qt::ElideMiddle, kFileLineWidth);
        progress.setLabelText(fileLine.isEmpty() ? estimate.amountLine()
                                                 : fileLine + u'\n' + estimate.amountLine());
        progress.setValue(state.total > 0 ? int(state.done * kSteps / state.total) : 0);
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
