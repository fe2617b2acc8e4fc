#include "win32_file_checks.h"

#include "owned_handle.h"

#include <QByteArray>
#include <QDir>

#include <aclapi.h>
#include <memory>

namespace virellock {

namespace {

QByteArray tokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind)
{
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    if (size == 0)
        return {};
    QByteArray information(qsizetype(size), '\0');
    if (!GetTokenInformation(token, kind, information.data(), size, &size))
        return {};
    return information;
}

struct LocalFreeDeleter
{
    void operator()(void* memory) const { LocalFree(memory); }
};

} // namespace

std::wstring win32Path(const QString& path)
{
    QString native = QDir::toNativeSeparators(QDir::cleanPath(path));
    if (native.startsWith(QLatin1String("\\\\?\\")))
        return native.toStdWString();
    if (native.startsWith(QLatin1String("\\\\")))
        native = QLatin1String("\\\\?\\UNC\\") + native.mid(2);
    else if (native.size() >= 3 && native.at(1) == u':' && native.at(2) == u'\\')
        native = QLatin1String("\\\\?\\") + native;
    return native.toStdWString();
}

bool isOwnedByCurrentUser(HANDLE file)
{
    DWORD flags = 0;
    if (GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
        (flags & FILE_PERSISTENT_ACLS) == 0)
        return true;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                        nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    const std::unique_ptr<void, LocalFreeDeleter> ownedDescriptor(descriptor);
    HANDLE token = nullptr;
    if (!owner || !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    const OwnedHandle ownedToken(token);
    const QByteArray user = tokenInformation(token, TokenUser);
    const QByteArray defaultOwner = tokenInformation(token, TokenOwner);
    return (!user.isEmpty() &&
            EqualSid(owner, reinterpret_cast<const TOKEN_USER*>(user.constData())->User.Sid)) ||
           (!defaultOwner.isEmpty() &&
            EqualSid(owner, reinterpret_cast<const TOKEN_OWNER*>(defaultOwner.constData())->Owner));
}

} // namespace virellock
