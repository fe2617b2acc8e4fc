#include "source_file.h"

#include <QDir>
#include <QFileInfo>

#include <utility>

#ifdef Q_OS_WIN
#include "win32_long_path.h"
#include "win32_retry.h"

#include <fcntl.h>
#include <io.h>
#include <string>
#include <windows.h>
#else
#include "unique_descriptor.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace virellock {

namespace {

const QString kNotRegular = QStringLiteral("not a regular file");

SourceOpening failed(QString why, FailureCause cause = {})
{
    return {false, std::move(why), cause};
}

SourceOpening notRegular()
{
    return failed(kNotRegular, FailureReason::NotRegularFile);
}

// Hands an open descriptor to file, which closes it from then on.
SourceOpening adopt(QFile& file, int descriptor, QIODevice::OpenMode extra)
{
    if (file.open(descriptor, QIODevice::ReadOnly | extra, QFileDevice::AutoCloseHandle))
        return {true, {}, {}};
        // A failed open leaves the descriptor to its caller.
#ifdef Q_OS_WIN
    ::_close(descriptor);
#else
    ::close(descriptor);
#endif
    return failed(file.errorString());
}

#ifdef Q_OS_WIN

class Handle
{
public:
    explicit Handle(HANDLE handle) : m_handle(handle) {}
    ~Handle()
    {
        if (valid())
            CloseHandle(m_handle);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    bool valid() const { return m_handle != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return m_handle; }
    HANDLE release() { return std::exchange(m_handle, INVALID_HANDLE_VALUE); }
    void reset(HANDLE handle)
    {
        if (valid())
            CloseHandle(m_handle);
        m_handle = handle;
    }

private:
    HANDLE m_handle;
};

SourceOpening openOnSystem(QFile& file, QIODevice::OpenMode extra)
{
    const std::wstring path = longPath(file.fileName());
    // The sharing Qt's own open() asks for. A folder cannot be opened this way at all. A
    // program that holds the file for a moment is waited for.
    Handle handle(INVALID_HANDLE_VALUE);
    const DWORD error = retryWhileHeld([&] {
        handle.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (handle.valid())
            return DWORD(ERROR_SUCCESS);
        const DWORD code = GetLastError();
        // A folder answers access denied, for good.
        const DWORD attributes = GetFileAttributesW(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
                   ? DWORD(ERROR_DIRECTORY)
                   : code;
    });
    if (error == ERROR_DIRECTORY)
        return notRegular();
    if (!handle.valid())
        return failed(qt_error_string(int(error)), reasonOfWin32Error(error));
    // Pipes, consoles and other character devices are not disk files.
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileType(handle.get()) != FILE_TYPE_DISK)
        return notRegular();
    if (!GetFileInformationByHandle(handle.get(), &information))
        return failed(qt_error_string(int(GetLastError())));
    if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return notRegular();
    const int descriptor =
        ::_open_osfhandle(reinterpret_cast<intptr_t>(handle.get()), _O_RDONLY | _O_BINARY);
    if (descriptor < 0)
        return failed(qt_error_string(int(GetLastError())));
    // The descriptor owns the handle now.
    handle.release();
    return adopt(file, descriptor, extra);
}

#else

SourceOpening openOnSystem(QFile& file, QIODevice::OpenMode extra)
{
    // Without waiting: opening a FIFO for reading would otherwise wait for a writer. No
    // terminal becomes the program's controlling one by being named.
    UniqueDescriptor descriptor(::open(QFile::encodeName(file.fileName()).constData(),
                                       O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!descriptor.isValid())
        return failed(qt_error_string(errno), errno == EACCES || errno == EPERM
                                                  ? FailureReason::AccessDenied
                                                  : FailureReason::None);
    struct stat status;
    if (::fstat(descriptor.get(), &status) != 0)
        return failed(qt_error_string(errno));
    if (!S_ISREG(status.st_mode))
        return notRegular();
    // Reads of a regular file wait for the disk, as everyone expects.
    const int flags = ::fcntl(descriptor.get(), F_GETFL);
    if (flags < 0 || ::fcntl(descriptor.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        return failed(qt_error_string(errno));
    return adopt(file, descriptor.release(), extra);
}

#endif

} // namespace

SourceOpening openSourceFile(QFile& file, QIODevice::OpenMode extra)
{
    Q_ASSERT(!file.isOpen() && !file.fileName().isEmpty());
    if (file.isOpen() || file.fileName().isEmpty())
        return failed(QStringLiteral("no file name, or the file is open already"));
    return openOnSystem(file, extra);
}

} // namespace virellock
