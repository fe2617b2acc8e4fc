#pragma once

#include "host/host_services/open_file_dialog.h"

#include <QString>

namespace virellock {

// What the commands read from the main window, without depending on its widgets. Values are
// read afresh each time they are needed.
class CommandControls
{
public:
    virtual ~CommandControls() = default;

    // The method list's selected index, -1 when nothing is selected.
    virtual int methodIndex() const = 0;
    // The text of the method list's item at index.
    virtual QString methodText(int index) const = 0;
    virtual QString passwordText() const = 0;          // 编辑框1
    virtual QString confirmationText() const = 0;      // 编辑框2
    virtual QString hintText() const = 0;              // 编辑框3
    virtual OpenFileDialog& encryptDialog() const = 0; // 加密对话框
    virtual OpenFileDialog& decryptDialog() const = 0; // 解密对话框
};

// The controls' values as they were when it was made, for work on another thread, which must
// not touch the widgets. While the work runs the window takes no input, so the values are the
// ones the controls still hold.
class ControlsSnapshot final : public CommandControls
{
public:
    explicit ControlsSnapshot(const CommandControls& controls)
        : m_controls(controls), m_index(controls.methodIndex()),
          m_methodText(controls.methodText(m_index)), m_password(controls.passwordText()),
          m_confirmation(controls.confirmationText()), m_hint(controls.hintText())
    {}

    int methodIndex() const override { return m_index; }
    QString methodText(int index) const override
    {
        return index == m_index ? m_methodText : QString();
    }
    QString passwordText() const override { return m_password; }
    QString confirmationText() const override { return m_confirmation; }
    QString hintText() const override { return m_hint; }
    OpenFileDialog& encryptDialog() const override { return m_controls.encryptDialog(); }
    OpenFileDialog& decryptDialog() const override { return m_controls.decryptDialog(); }

private:
    const CommandControls& m_controls;
    int m_index;
    QString m_methodText;
    QString m_password;
    QString m_confirmation;
    QString m_hint;
};

} // namespace virellock
