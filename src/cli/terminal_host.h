#pragma once

// The HostServices of the command line: the engine's encrypt and decrypt commands run as they
// do behind the window, with their dialogs answered here. The decrypt command's question is
// answered Yes and its password prompt from the password supply (the file comes with the
// command's inputs); its progress goes to a line on the terminal, and its one message is kept
// for the caller to report.

#include "cli/password_supply.h"
#include "host/host_services/host_services.h"
#include "host/host_services/progress_text.h"

#include <QElapsedTimer>
#include <QString>

namespace virellock::cli {

// One line on standard error, redrawn in place, in the words of the window's progress dialog:
// which file of how many is at work, the share of it done, the MiB done, the speed and the time
// left. Shows nothing
// when it is off (standard error is no terminal, or -q).
class ProgressLine
{
public:
    explicit ProgressLine(bool on);
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;
    ~ProgressLine() { clear(); }

    // name: as the user gave it.
    void beginFile(const QString& name, int index, int count);
    // Redraws the line, a few times a second at most.
    void update(qint64 done, qint64 total);
    // Takes the line away, before anything else is written.
    void clear();

private:
    bool m_on;
    ProgressState m_file;
    ProgressEstimate m_estimate;
    QElapsedTimer m_clock;
    QElapsedTimer m_sinceDrawn;
    int m_drawnColumns = 0;
};

// What a command run on one file said, besides its outcome.
struct FileReport
{
    QString failure;         // the error message it ended with, if any
    QString reason;          // what the file job logged about that failure, if anything
    bool noPassword = false; // the password could not be had
};

class TerminalHost final : public HostServices
{
public:
    TerminalHost(PasswordSupply& passwords, ProgressLine& progress);
    ~TerminalHost() override;
    TerminalHost(const TerminalHost&) = delete;
    TerminalHost& operator=(const TerminalHost&) = delete;

    // Before a command runs: the full path of the file it is given.
    void beginFile(const QString& path);
    // After it has run.
    FileReport endFile();

    Answer ShowMessageBox(const QString& text, MessageStyle style, const QString& title) override;
    std::optional<QString> InputBox(const QString& prompt, const QString& title,
                                    const QString& initialText, InputMode mode) override;
    std::optional<QStringList> ChooseFiles(const FileDialogOptions& dialog) override;
    void RunWithProgress(const QString& title,
                         const std::function<void(const ProgressReport&)>& work) override;

private:
    PasswordSupply& m_passwords;
    ProgressLine& m_progress;
    QString m_path;
    FileReport m_report;
};

} // namespace virellock::cli
