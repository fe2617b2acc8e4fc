#pragma once

// The dialogs and message boxes that the encrypt and decrypt commands use, behind one small
// interface: the application passes the Qt implementation, tests a scripted double.

#include "host/host_services/open_file_dialog.h"

#include <QString>

#include <functional>
#include <optional>

namespace virellock {

// Message-box styles, as Windows' message-box bits: the low nibble picks the buttons, the next
// one the icon.
namespace message_style {
inline constexpr int Ok = 0x00;
inline constexpr int YesNo = 0x04;
inline constexpr int ErrorIcon = 0x10;
inline constexpr int QuestionIcon = 0x20;
inline constexpr int WarningIcon = 0x30;
inline constexpr int InformationIcon = 0x40;
inline constexpr int Error = ErrorIcon | Ok;             // 0x10
inline constexpr int Information = InformationIcon | Ok; // 0x40
inline constexpr int Question = QuestionIcon | YesNo;    // 0x24
} // namespace message_style

// The button a message box was closed with.
namespace answer {
inline constexpr int Ok = 1;
inline constexpr int Yes = 5;
inline constexpr int No = 6;
} // namespace answer

enum class InputMode
{
    Plain = 0,
    Password = 4, // typed characters masked
};

// Told the bytes done out of the total as long work goes on; returns false once the user has
// cancelled.
using ProgressReport = std::function<bool(qint64 done, qint64 total)>;

class HostServices
{
public:
    virtual ~HostServices() = default;

    // Modal; returns the answer code of the button pressed.
    virtual int ShowMessageBox(const QString& text, int style, const QString& title) = 0;

    // Modal one-line prompt; "\r\n" in the prompt breaks the line. The typed text (possibly
    // empty) on OK, nothing on Cancel.
    virtual std::optional<QString> InputBox(const QString& prompt, const QString& title,
                                            const QString& initialText, InputMode mode) = 0;

    // Runs the open-file dialog modally. On a choice, stores the full path in the dialog and
    // returns true; false when cancelled.
    virtual bool RunFileDialog(OpenFileDialog& dialog) = 0;

    // Runs work on another thread and returns when it has finished. Meanwhile the window
    // keeps painting but takes no input, and a modal progress dialog with the given title
    // shows once the work lasts more than about half a second; its Cancel makes the report
    // return false, and the work is expected to stop soon after.
    virtual void RunWithProgress(const QString& title,
                                 const std::function<void(const ProgressReport&)>& work) = 0;
};

} // namespace virellock
