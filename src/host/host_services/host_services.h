#pragma once

// The dialogs and message boxes that the encrypt and decrypt commands use, behind one small
// interface: the application passes the Qt implementation, tests a scripted double.

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace virellock {

// Message-box styles, valued as Windows' message-box bits: the low nibble picks the buttons
// (0 OK, 4 Yes and No), the next one the icon.
enum class MessageStyle
{
    Error = 0x10,       // error icon, OK
    Information = 0x40, // information icon, OK
    Question = 0x24,    // question icon, Yes and No
};

// The button a message box was closed with, valued as Windows' answer codes.
enum class Answer
{
    Ok = 1,
    Yes = 5,
    No = 6,
};

enum class InputMode
{
    Plain = 0,
    Password = 4, // typed characters masked
};

// An open-file dialog: its title and its one filter, which lists every file.
struct FileDialogOptions
{
    QString title;
    QString filterDescription;
    // Whether the user may choose several files at once; otherwise exactly one.
    bool multipleFiles = false;

    // The filter as Qt writes it: the description and the pattern it lists.
    QString filter() const { return filterDescription + QStringLiteral(" (*)"); }

    bool operator==(const FileDialogOptions&) const = default;
};

// Where long work stands: the bytes of the current file done out of its size, and which file
// that is among the files of the run.
struct ProgressState
{
    qint64 done = 0;
    qint64 total = 0;
    // The file's name without its folder; empty for work on no file.
    QString fileName;
    int fileIndex = 0; // from 0
    int fileCount = 1;
};

// Told where the work stands as it goes on; returns false once the user has cancelled.
using ProgressReport = std::function<bool(const ProgressState& state)>;

class HostServices
{
public:
    virtual ~HostServices() = default;

    // Modal; returns the button pressed.
    virtual Answer ShowMessageBox(const QString& text, MessageStyle style,
                                  const QString& title) = 0;

    // Modal one-line prompt; "\r\n" in the prompt breaks the line. The typed text (possibly
    // empty) on OK, nothing on Cancel.
    virtual std::optional<QString> InputBox(const QString& prompt, const QString& title,
                                            const QString& initialText, InputMode mode) = 0;

    // Runs the open-file dialog modally. The full native paths of the chosen files (one unless
    // the dialog allows several, never none); nothing when cancelled.
    virtual std::optional<QStringList> ChooseFiles(const FileDialogOptions& dialog) = 0;

    // Runs work on another thread and returns when it has finished. Meanwhile the window
    // keeps painting but takes no input, and a modal progress dialog with the given title
    // shows once the work lasts more than about half a second, with what the work last
    // reported: the file, which of how many, the bytes done, the speed and the time left. Its
    // Cancel makes the report return false, and the work is expected to stop soon after.
    virtual void RunWithProgress(const QString& title,
                                 const std::function<void(const ProgressReport&)>& work) = 0;
};

} // namespace virellock
