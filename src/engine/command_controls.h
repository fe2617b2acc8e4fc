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

} // namespace virellock
