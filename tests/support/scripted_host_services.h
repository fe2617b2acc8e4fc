#pragma once

#include "host/host_services/host_services.h"

#include <QList>
#include <QMetaType>
#include <QString>

#include <optional>

namespace virellock::test {

struct ShownMessage
{
    QString text;
    MessageStyle style{}; // 0: no message box style
    QString title;

    bool operator==(const ShownMessage&) const = default;
};

// How QCOMPARE prints a message when a check fails.
inline char* toString(const ShownMessage& message)
{
    return qstrdup(QStringLiteral("\"%1\" style 0x%2 title \"%3\"")
                       .arg(message.text, QString::number(int(message.style), 16), message.title)
                       .toUtf8()
                       .constData());
}

// What the user chooses in one open-file dialog: one file, several, or nothing (cancelled).
struct DialogChoice
{
    DialogChoice(std::nullopt_t) {}
    DialogChoice(const QString& file) : files(QStringList{file}) {}
    DialogChoice(const std::optional<QString>& file)
    {
        if (file)
            files = QStringList{*file};
    }
    DialogChoice(const QStringList& several) : files(several) {}

    std::optional<QStringList> files;
};

struct ShownPrompt
{
    QString prompt;
    QString title;
    QString initialText;
    InputMode mode = InputMode::Plain;
};

// A stand-in for the dialogs: records every message box and prompt, and answers questions,
// file dialogs and prompts from scripts. A script that runs out answers No or Cancel and counts
// the call as unexpected.
class ScriptedHostServices final : public HostServices
{
public:
    QList<Answer> answers;                    // for Yes/No questions
    QList<DialogChoice> chosenFiles;          // nothing: the dialog is cancelled
    QList<std::optional<QString>> typedTexts; // nothing: the prompt is cancelled

    QList<ShownMessage> messages;
    QList<ShownPrompt> prompts;
    QStringList dialogTitles;
    QList<FileDialogOptions> fileDialogs;
    QStringList progressTitles;
    // Each file the progress reports named, as first reported: "2/3 name".
    QStringList progressFiles;
    int unexpectedCalls = 0;
    // When set, the progress report says "cancel" once this share of the work on the file of
    // index cancelInFile is done.
    std::optional<double> cancelAt;
    int cancelInFile = 0;
    bool cancelled = false;
    // Runs while a prompt is open, as other programs may act while the user types.
    std::function<void()> whilePrompting;

    Answer ShowMessageBox(const QString& text, MessageStyle style, const QString& title) override
    {
        messages.append({text, style, title});
        if (style != MessageStyle::Question)
            return Answer::Ok;
        if (answers.isEmpty()) {
            ++unexpectedCalls;
            return Answer::No;
        }
        return answers.takeFirst();
    }

    std::optional<QString> InputBox(const QString& prompt, const QString& title,
                                    const QString& initialText, InputMode mode) override
    {
        prompts.append({prompt, title, initialText, mode});
        if (whilePrompting)
            whilePrompting();
        if (typedTexts.isEmpty()) {
            ++unexpectedCalls;
            return std::nullopt;
        }
        return typedTexts.takeFirst();
    }

    std::optional<QStringList> ChooseFiles(const FileDialogOptions& dialog) override
    {
        dialogTitles.append(dialog.title);
        fileDialogs.append(dialog);
        if (chosenFiles.isEmpty()) {
            ++unexpectedCalls;
            return std::nullopt;
        }
        return chosenFiles.takeFirst().files;
    }

    // Runs the work here and now, reporting like the real dialog would.
    void RunWithProgress(const QString& title,
                         const std::function<void(const ProgressReport&)>& work) override
    {
        progressTitles.append(title);
        work([this](const ProgressState& state) {
            const QString file = QStringLiteral("%1/%2 %3")
                                     .arg(state.fileIndex + 1)
                                     .arg(state.fileCount)
                                     .arg(state.fileName);
            if (progressFiles.isEmpty() || progressFiles.constLast() != file)
                progressFiles.append(file);
            if (cancelAt && state.fileIndex == cancelInFile && state.total > 0 &&
                double(state.done) >= *cancelAt * double(state.total))
                cancelled = true;
            return !cancelled;
        });
    }
};

} // namespace virellock::test

Q_DECLARE_METATYPE(virellock::test::ShownMessage)
