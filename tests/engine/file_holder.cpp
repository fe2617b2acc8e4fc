// Holds a file as another program would for a while (an antivirus scanner, an indexer, an
// editor): opened for reading, with the sharing given, so that no one may delete or rename it.
//   file_holder PATH MILLISECONDS read|none
// Prints "holding" once the file is open, holds it that long, then exits. Windows only.

#include <QCoreApplication>
#include <QDir>
#include <QThread>

#include <cstdio>
#include <windows.h>

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 4)
        return 2;
    const DWORD sharing = arguments.at(3) == QLatin1String("read") ? FILE_SHARE_READ : 0;
    const HANDLE file = CreateFileW(
        reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(arguments.at(1)).utf16()),
        GENERIC_READ, sharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::printf("cannot open: error %lu\n", GetLastError());
        return 1;
    }
    std::printf("holding\n");
    std::fflush(stdout);
    QThread::msleep(arguments.at(2).toULong());
    CloseHandle(file);
    return 0;
}
