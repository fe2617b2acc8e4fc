#pragma once

// Every text the commands show, exactly as the user sees it.

#include "host/data_ops/cipher_backend.h"
#include "host/host_services/failure_reason.h"

#include <QString>

#include <utility>

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

// A size as a person reads it, in GiB, MiB or KiB with one decimal, rounded up or down. Bytes
// below one KiB.
inline QString sizeText(qint64 bytes, bool roundUp)
{
    constexpr qint64 KiB = 1024;
    for (const auto& [unit, name] :
         {std::pair{KiB * KiB * KiB, "GiB"}, std::pair{KiB * KiB, "MiB"}, std::pair{KiB, "KiB"}}) {
        if (bytes < unit)
            continue;
        // Tenths of the unit; a size this large does not overflow them.
        const qint64 tenths =
            (bytes / unit) * 10 + ((bytes % unit) * 10 + (roundUp ? unit - 1 : 0)) / unit;
        return QStringLiteral("%1.%2 %3")
            .arg(tenths / 10)
            .arg(tenths % 10)
            .arg(QLatin1String(name));
    }
    return QStringLiteral("%1 字节").arg(bytes);
}

// What is needed beside what there is. Needed rounds up and what there is rounds down, so the
// need never looks met.
inline QString neededAndAvailable(const FailureCause& cause, const QString& availableWord)
{
    return QStringLiteral(":需要 ") + sizeText(cause.bytesNeeded, true) + u',' + availableWord +
           u' ' + sizeText(cause.bytesAvailable, false);
}

// Why a file could not be rewritten, shown beneath the command's failure text; empty when
// there is nothing the person could act on.
inline QString failureReason(const FailureCause& cause)
{
    const bool sized = cause.bytesNeeded > 0 && cause.bytesAvailable >= 0;
    switch (cause.reason) {
    case FailureReason::None:
        break;
    case FailureReason::ReadOnly:
        return QStringLiteral("该文件是只读的");
    case FailureReason::SeveralNames:
        return QStringLiteral("该文件有多个硬链接,加密后其他链接仍会保留原内容");
    case FailureReason::NotRegularFile:
        return QStringLiteral("这不是一个普通文件");
    case FailureReason::FileInUse:
        return QStringLiteral("另一个程序正在使用该文件");
    case FailureReason::AccessDenied:
        return QStringLiteral("拒绝访问");
    case FailureReason::NoSpace:
        return QStringLiteral("磁盘空间不足") +
               (sized ? neededAndAvailable(cause, QStringLiteral("只有")) : QString());
    case FailureReason::FileTooLarge:
        return QStringLiteral("文件系统无法容纳这么大的文件") +
               (sized ? neededAndAvailable(cause, QStringLiteral("最大")) : QString());
    case FailureReason::FileChanged:
        return QStringLiteral("读取期间文件被修改");
    case FailureReason::PermissionsNotKept:
        return QStringLiteral("无法保留文件的权限(所有者、组或访问控制列表)");
    case FailureReason::DiskError:
        return QStringLiteral("写入磁盘时出错");
    }
    return {};
}

// Shown beneath the success text when the file was replaced but the folder could not be synced.
inline QString folderNotSynced()
{
    return QStringLiteral(
        "注意:未能确认文件夹的更改已写入磁盘,若此时断电,文件可能恢复为原来的内容");
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
