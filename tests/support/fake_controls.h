#pragma once

#include "engine/command_controls.h"

#include <QStringList>

namespace virellock::test {

// The main window's values as plain fields.
struct FakeControls final : CommandControls
{
    int index = 4;
    QString password;
    QString confirmation;
    QString hint;
    mutable OpenFileDialog encrypt{QStringLiteral("加密对话框"),
                                   QStringLiteral("打开欲加密的文件:"), nullptr};
    mutable OpenFileDialog decrypt{QStringLiteral("解密对话框"),
                                   QStringLiteral("打开欲解密的文件:"), nullptr};

    void setPassword(const QString& text)
    {
        password = text;
        confirmation = text;
    }

    int methodIndex() const override { return index; }
    QString methodText(int i) const override
    {
        static const QStringList texts = {"DES标准加密法", "RC4标准加密法", "DES增强加密法",
                                          "RC4增强加密法", "MD5增强加密法"};
        return texts.value(i);
    }
    QString passwordText() const override { return password; }
    QString confirmationText() const override { return confirmation; }
    QString hintText() const override { return hint; }
    OpenFileDialog& encryptDialog() const override { return encrypt; }
    OpenFileDialog& decryptDialog() const override { return decrypt; }
};

} // namespace virellock::test
