#pragma once

#include "engine/decrypt_command.h"
#include "engine/encrypt_command.h"

#include <QStringList>

namespace virellock::test {

// The commands' inputs as the main window hands them over, for a method index and the texts
// typed into its boxes.
inline const FileDialogOptions kEncryptDialog{QStringLiteral("打开欲加密的文件:"),
                                              QStringLiteral("所有文件"), true};
inline const FileDialogOptions kDecryptDialog{QStringLiteral("打开欲解密的文件:"),
                                              QStringLiteral("所有文件"), true};

// The method list's text for an index; empty for none.
inline QString methodListText(int index)
{
    static const QStringList texts = {"DES标准加密法", "RC4标准加密法", "DES增强加密法",
                                      "RC4增强加密法", "MD5增强加密法"};
    return texts.value(index);
}

// The password typed the same into both boxes; files given, or none to choose in the dialog.
inline EncryptInputs encryptInputs(int method, const QString& password,
                                   const QString& hint = QString(), const QStringList& files = {})
{
    return {method, password, password, hint, kEncryptDialog, files};
}

inline DecryptInputs decryptInputs(int method, const QStringList& files = {})
{
    return {method, methodListText(method), kDecryptDialog, files};
}

} // namespace virellock::test
