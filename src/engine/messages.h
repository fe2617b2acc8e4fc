#pragma once

// Every text the commands show, exactly as the user sees it.

#include "host/data_ops/cipher_backend.h"

#include <QString>

namespace virellock::messages {

inline QString errorTitle()
{
    return QStringLiteral("错误:");
}
inline QString successTitle()
{
    return QStringLiteral("恭喜:");
}
inline QString questionTitle()
{
    return QStringLiteral("询问:");
}
inline QString decryptPromptTitle()
{
    return QStringLiteral("解密:");
}

inline QString chooseEncryptMethod()
{
    return QStringLiteral("请先选择一种加密方式!");
}
inline QString enterPasswordInFull()
{
    return QStringLiteral("请将密码输入完整!");
}
inline QString passwordsDiffer()
{
    return QStringLiteral("两次密码不一致,请重新输入!");
}
inline QString encryptSucceeded()
{
    return QStringLiteral("对该文件加密成功,请牢记你的密码!");
}
inline QString encryptFailed()
{
    return QStringLiteral("对该文件加密失败!");
}

inline QString chooseDecryptMethod()
{
    return QStringLiteral("请先选择一种解密方式!");
}
inline QString confirmDecrypt(const QString& method)
{
    return QStringLiteral("您确认要使用:") + method + QStringLiteral("来解密文件吗?");
}
inline QString notOurFile()
{
    return QStringLiteral("该文件不是由此软件加密而成的!");
}
inline QString wrongPassword()
{
    return QStringLiteral("密码错误,无法解密码!");
}
inline QString decryptSucceeded()
{
    return QStringLiteral("该文件解密成功!");
}
inline QString decryptFailed()
{
    return QStringLiteral("该文件解密失败!");
}

inline QString standardPrompt()
{
    return QStringLiteral(
        "请输入密码:\r\n警告:由于这是标准加密法,因此不具有密码效验,请输入正确的密码,"
        "否则解密会失败,建议您使用该解密法之前请备份文件!");
}
inline QString hintPrompt(const QString& hint)
{
    return QStringLiteral("请输入密码:\r\n\r\n") + hint;
}

// DES and RC4 come from OpenSSL; these say which of them cannot run here and why.
inline QString unavailableCiphers(const dataops::CipherBackendStatus& backend)
{
    if (!backend.des && !backend.rc4)
        return QStringLiteral("DES和RC4");
    return backend.des ? QStringLiteral("RC4") : QStringLiteral("DES");
}
inline QString cipherFaultReason(dataops::CipherBackendFault fault)
{
    switch (fault) {
    case dataops::CipherBackendFault::LegacyProviderMissing:
        return QStringLiteral("未能加载OpenSSL的legacy组件");
    case dataops::CipherBackendFault::AlgorithmMissing:
        return QStringLiteral("OpenSSL未提供该算法");
    case dataops::CipherBackendFault::WrongResult:
    case dataops::CipherBackendFault::None:
        break;
    }
    return QStringLiteral("OpenSSL的运算结果不正确");
}
// A command whose method needs a cipher that cannot run.
inline QString cipherUnavailable(const dataops::CipherBackendStatus& backend)
{
    return QStringLiteral("无法使用") + unavailableCiphers(backend) + QStringLiteral("加密算法:") +
           cipherFaultReason(backend.fault) + u'!';
}
// At start, when DES or RC4 cannot run: which methods still work, and OpenSSL's own words.
inline QString cipherUnavailableAtStart(const dataops::CipherBackendStatus& backend)
{
    QString text = cipherUnavailable(backend) + u'\n';
    if (!backend.des && !backend.rc4) {
        text += QStringLiteral("使用DES或RC4的四种方式都不可用,MD5增强加密法仍可使用!");
    } else {
        const QString cipher = unavailableCiphers(backend);
        text += cipher + QStringLiteral("标准加密法和") + cipher +
                QStringLiteral("增强加密法不可用,其他方式仍可使用!");
    }
    if (!backend.openSslError.isEmpty())
        text += QStringLiteral("\n\nOpenSSL: ") + backend.openSslError;
    return text;
}

} // namespace virellock::messages
