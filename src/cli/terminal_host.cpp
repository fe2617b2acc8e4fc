#include "terminal_host.h"

#include "cli/terminal.h"

#include <QMutex>
#include <QStringList>

#include <algorithm>

namespace virellock::cli {

namespace {

// The file jobs' log (category virellock.files), where a failed job says which step failed and
// why: the last failure is kept for the report instead of being printed; other messages go on
// to the handler that was there before.
struct JobLog
{
    QMutex mutex;
    QString lastFailure;
    QtMessageHandler previous = nullptr;
};

JobLog& jobLog()
{
    static JobLog log;
    return log;
}

void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    JobLog& log = jobLog();
    if (context.category && qstrcmp(context.category, "virellock.files") == 0) {
        if (type == QtWarningMsg) {
            const QMutexLocker lock(&log.mutex);
            log.lastFailure = text;
        }
        return;
    }
    if (log.previous)
        log.previous(type, context, text);
}

// The columns a text takes on a terminal: two for the wide East Asian characters.
int columnsOf(QStringView text)
{
    int columns = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool wide = (u >= 0x1100 && u <= 0x115F) || (u >= 0x2E80 && u <= 0xA4CF) ||
                          (u >= 0xAC00 && u <= 0xD7A3) || (u >= 0xF900 && u <= 0xFAFF) ||
                          (u >= 0xFE30 && u <= 0xFE4F) || (u >= 0xFF00 && u <= 0xFF60) ||
                          (u >= 0xFFE0 && u <= 0xFFE6);
        columns += wide ? 2 : 1;
    }
    return columns;
}

// The name cut in the middle to fit the columns.
QString elided(const QString& name, int columns)
{
    if (columnsOf(name) <= columns)
        return name;
    const QString dots = QStringLiteral("...");
    QString head, tail;
    qsizetype front = 0, back = name.size();
    bool fromFront = true;
    while (front < back) {
        const QChar next = fromFront ? name.at(front) : name.at(back - 1);
        if (columnsOf(head) + columnsOf(tail) + columnsOf(QStringView(&next, 1)) + 3 > columns)
            break;
        if (fromFront)
            head += name.at(front++);
        else
            tail.prepend(name.at(--back));
        fromFront = !fromFront;
    }
    return head + dots + tail;
}

} // namespace

ProgressLine::ProgressLine(bool on) : m_on(on)
{
    m_clock.start();
}

void ProgressLine::beginFile(const QString& name, int index, int count)
{
    m_file = {};
    m_file.fileName = printable(name);
    m_file.fileIndex = index;
    m_file.fileCount = count;
    m_sinceDrawn.invalidate();
}

void ProgressLine::update(qint64 done, qint64 total)
{
    if (!m_on)
        return;
    ProgressState state = m_file;
    state.done = done;
    state.total = total;
    m_estimate.update(state, m_clock.elapsed());
    if (m_sinceDrawn.isValid() && m_sinceDrawn.elapsed() < 200 && done < total)
        return;
    m_sinceDrawn.start();
    // "正在处理第 2 个文件, 共 5 个: name  4%  12.0 / 256.0 MiB, 85.3 MiB/s, 剩余约 3 秒", the name
    // cut to fit the terminal's width: a line that wraps cannot be redrawn in place.
    const QString fileLine = m_estimate.fileLine();
    const QString head = fileLine.left(fileLine.size() - m_file.fileName.size());
    const qint64 percent = total > 0 ? done * 100 / total : 100;
    const QString amount = QStringLiteral("  %1%  ").arg(percent) + m_estimate.amountLine();
    const int room = std::max(8, terminalColumns() - 1 - columnsOf(head) - columnsOf(amount));
    const QString text = head + elided(m_file.fileName, room) + amount;
    const int columns = columnsOf(text);
    writeErr(u'\r' + text + QString(std::max(0, m_drawnColumns - columns), u' '));
    m_drawnColumns = std::max(m_drawnColumns, columns);
}

void ProgressLine::clear()
{
    if (m_drawnColumns == 0)
        return;
    writeErr(u'\r' + QString(m_drawnColumns, u' ') + u'\r');
    m_drawnColumns = 0;
}

TerminalHost::TerminalHost(PasswordSupply& passwords, ProgressLine& progress)
    : m_passwords(passwords), m_progress(progress)
{
    jobLog().previous = qInstallMessageHandler(handleMessage);
}

TerminalHost::~TerminalHost()
{
    qInstallMessageHandler(jobLog().previous);
}

void TerminalHost::beginFile(const QString& path)
{
    m_path = path;
    m_report = {};
    const QMutexLocker lock(&jobLog().mutex);
    jobLog().lastFailure.clear();
}

FileReport TerminalHost::endFile()
{
    FileReport report = std::move(m_report);
    m_report = {};
    if (!report.failure.isEmpty()) {
        QString logged;
        {
            const QMutexLocker lock(&jobLog().mutex);
            logged = std::exchange(jobLog().lastFailure, QString());
        }
        // "<command> <path> failed: <step> (<detail>)": the part after the path.
        const QString marker = m_path + QStringLiteral(" failed: ");
        const qsizetype at = logged.indexOf(marker);
        report.reason = (at >= 0 ? logged.mid(at + marker.size()) : logged).trimmed();
    }
    return report;
}

Answer TerminalHost::ShowMessageBox(const QString& text, MessageStyle style, const QString&)
{
    switch (style) {
    case MessageStyle::Question:
        // The decrypt command asks whether to decrypt with the method: the command line said so.
        return Answer::Yes;
    case MessageStyle::Information:
        return Answer::Ok;
    case MessageStyle::Error:
        m_report.failure = text;
        return Answer::Ok;
    }
    return Answer::Ok;
}

std::optional<QString> TerminalHost::InputBox(const QString& prompt, const QString&, const QString&,
                                              InputMode)
{
    m_progress.clear();
    const dataops::SecretString* password = m_passwords.password(prompt);
    if (!password) {
        m_report.noPassword = true;
        return std::nullopt;
    }
    // The characters are shared, not copied: the supply wipes them when the run is over.
    return password->text();
}

std::optional<QStringList> TerminalHost::ChooseFiles(const FileDialogOptions&)
{
    // The command line gives the command its file: there is nothing to choose.
    return std::nullopt;
}

void TerminalHost::RunWithProgress(const QString&,
                                   const std::function<void(const ProgressReport&)>& work)
{
    work([this](const ProgressState& state) {
        if (interrupted())
            return false;
        m_progress.update(state.done, state.total);
        return true;
    });
    m_progress.clear();
}

} // namespace virellock::cli
