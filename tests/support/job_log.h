#pragma once

#include <QStringList>
#include <QtGlobal>

namespace virellock::test {

// Collects what the file jobs log (category virellock.files) while it lives, so that a test
// can assert why a job failed and not only the message the user saw. Other messages go on to
// the handler that was there before.
class JobLog
{
public:
    JobLog() : m_previous(qInstallMessageHandler(&JobLog::handle)) { current() = this; }
    ~JobLog()
    {
        current() = nullptr;
        qInstallMessageHandler(m_previous);
    }
    JobLog(const JobLog&) = delete;
    JobLog& operator=(const JobLog&) = delete;

    QStringList lines;

    // True when a line contains every one of the parts.
    bool has(std::initializer_list<QString> parts) const
    {
        for (const QString& line : lines) {
            if (std::all_of(parts.begin(), parts.end(),
                            [&line](const QString& part) { return line.contains(part); }))
                return true;
        }
        return false;
    }

private:
    static JobLog*& current()
    {
        static JobLog* log = nullptr;
        return log;
    }
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        JobLog* log = current();
        if (log && context.category && qstrcmp(context.category, "virellock.files") == 0) {
            log->lines << text;
            return;
        }
        if (log && log->m_previous)
            log->m_previous(type, context, text);
    }

    QtMessageHandler m_previous;
};

} // namespace virellock::test
