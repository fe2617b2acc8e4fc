#include "terminal.h"

#include <QFile>
#include <QScopeGuard>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace virellock::cli {

namespace {

// The signal that came, 0 for none. Written from a signal handler (or, on Windows, the console's
// control thread), so lock-free.
std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

// A password of kMaxPasswordLength UTF-16 code units takes at most three bytes a unit in UTF-8.
constexpr qsizetype kMaxLineBytes = 3 * kMaxPasswordLength;

// Makes a password of the bytes of a line, which must be UTF-8. A leading U+FEFF stays part of
// the password, as the password is the text as typed.
SecretLine fromUtf8(QByteArrayView bytes, const QString& what)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        dataops::wipe(text);
        return {std::nullopt, what + QStringLiteral(" does not hold UTF-8 text")};
    }
    if (text.size() > kMaxPasswordLength) {
        dataops::wipe(text);
        return {std::nullopt, what + QStringLiteral(" holds a password of more than %1 characters")
                                         .arg(kMaxPasswordLength)};
    }
    return {dataops::SecretString(std::move(text)), QString()};
}

// The line in buffer[0, size): ended tells whether a line feed ended it, else the input did.
// A carriage return just before either end belongs to the line end (Windows ends lines so);
// one anywhere else may be a line end of an old Mac or a typing mistake, and is refused rather
// than kept in the password unseen.
SecretLine lineOf(const QByteArray& buffer, qsizetype size, bool ended, const QString& what)
{
    if (!ended && size == 0)
        return {std::nullopt, what + QStringLiteral(" gives no line")};
    if (!ended && size == buffer.size())
        return {std::nullopt, what + QStringLiteral(" gives a line longer than a password")};
    if (size > 0 && buffer.at(size - 1) == '\r')
        --size;
    const QByteArrayView line = QByteArrayView(buffer).first(size);
    if (line.contains('\r'))
        return {std::nullopt,
                what + QStringLiteral(" gives a carriage return inside the password line")};
    return fromUtf8(line, what);
}

// The first line of a descriptor, as readFirstLine() reads it; stopped(), when given, ends the
// wait with no line as soon as it turns true.
SecretLine readLine(int descriptor, const QString& what, bool (*stopped)())
{
    QByteArray buffer(kMaxLineBytes, Qt::Uninitialized);
    const auto wipeBuffer = qScopeGuard([&buffer] { dataops::wipe(buffer); });
#ifdef Q_OS_WIN
    // Not text mode: it would end the line at a Ctrl-Z and take the carriage return away.
    if (_setmode(descriptor, _O_BINARY) == -1)
        return {std::nullopt, what + QStringLiteral(" cannot be read: ") +
                                  QString::fromLocal8Bit(std::strerror(errno))};
#endif
    qsizetype size = 0;
    bool ended = false;
    while (size < buffer.size()) {
        if (stopped && stopped())
            return {std::nullopt, what + QStringLiteral(" was left")};
#ifdef Q_OS_WIN
        const int got = _read(descriptor, buffer.data() + size, 1);
#else
        const ssize_t got = ::read(descriptor, buffer.data() + size, 1);
#endif
        if (got < 0) {
            if (errno == EINTR && !interrupted())
                continue;
            return {std::nullopt, what + QStringLiteral(" cannot be read: ") +
                                      QString::fromLocal8Bit(std::strerror(errno))};
        }
        if (got == 0)
            break;
        if (buffer.at(size) == '\n') {
            ended = true;
            break;
        }
        ++size;
    }
    return lineOf(buffer, size, ended, what);
}

#ifndef Q_OS_WIN
// The descriptors the process was started with, sorted; nothing when they could not be told.
std::optional<std::vector<int>> g_descriptorsAtStart;

void noteDescriptorsAtStart()
{
    // Linux lists them, the descriptor that reads the list among them.
    const std::unique_ptr<DIR, int (*)(DIR*)> list(::opendir("/proc/self/fd"), ::closedir);
    if (!list)
        return;
    std::vector<int> open;
    while (const dirent* entry = ::readdir(list.get())) {
        char* end = nullptr;
        const long number = std::strtol(entry->d_name, &end, 10);
        if (end != entry->d_name && *end == '\0' && number != ::dirfd(list.get()))
            open.push_back(int(number));
    }
    std::sort(open.begin(), open.end());
    g_descriptorsAtStart = std::move(open);
}

// A stop signal (Ctrl-Z; SIGTTIN and SIGTTOU for a prompt in the background) that came while
// the hidden prompt waited; 0 for none.
std::atomic<int> g_stopSignal{0};

extern "C" void onStopSignal(int number)
{
    g_stopSignal.store(number);
}

bool stopRequested()
{
    return g_stopSignal.load() != 0;
}

// While it lives, a stop signal only ends the wait for input (no SA_RESTART), so that the
// terminal is put back before the process stops; then each does again what it did before. One
// that was ignored stays ignored.
class CatchStops
{
public:
    CatchStops()
    {
        struct sigaction action = {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < kSignals.size(); ++i) {
            sigaction(kSignals[i], &action, &m_previous[i]);
            if (m_previous[i].sa_handler == SIG_IGN)
                sigaction(kSignals[i], &m_previous[i], nullptr);
        }
    }
    ~CatchStops()
    {
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            sigaction(kSignals[i], &m_previous[i], nullptr);
    }
    CatchStops(const CatchStops&) = delete;
    CatchStops& operator=(const CatchStops&) = delete;

private:
    static constexpr std::array<int, 3> kSignals{SIGTSTP, SIGTTIN, SIGTTOU};
    std::array<struct sigaction, 3> m_previous = {};
};
#endif

// Whether what a descriptor reads is a file on the disk or a pipe.
bool isFileOrPipe(int descriptor)
{
#ifdef Q_OS_WIN
    const DWORD type = GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(descriptor)));
    return type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE;
#else
    struct stat status = {};
    return ::fstat(descriptor, &status) == 0 &&
           (S_ISREG(status.st_mode) || S_ISFIFO(status.st_mode));
#endif
}

#ifdef Q_OS_WIN
HANDLE standardHandle(DWORD which)
{
    return GetStdHandle(which);
}

bool isConsole(HANDLE handle)
{
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode);
}

// The C runtime's calls then fail with EBADF, which the caller reports.
void ignoreInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int, uintptr_t)
{}

BOOL WINAPI onConsoleControl(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        return FALSE;
    int none = 0;
    // The first one is ours; the next goes to the default handler, which ends the process.
    return g_signal.compare_exchange_strong(none, SIGINT) ? TRUE : FALSE;
}
#else
extern "C" void onSignal(int number)
{
    int none = 0;
    g_signal.compare_exchange_strong(none, number);
}
#endif

void writeTo(FILE* stream, QStringView text)
{
#ifdef Q_OS_WIN
    const HANDLE handle = standardHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (isConsole(handle)) {
        std::fflush(stream);
        DWORD written = 0;
        WriteConsoleW(handle, reinterpret_cast<const wchar_t*>(text.utf16()), DWORD(text.size()),
                      &written, nullptr);
        return;
    }
#endif
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

void prepareStandardStreams()
{
#ifdef Q_OS_WIN
    _set_invalid_parameter_handler(ignoreInvalidParameter);
#else
    noteDescriptorsAtStart();
    for (int descriptor : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        // open() takes the lowest free number, which is this one.
        if (fcntl(descriptor, F_GETFD) == -1 && errno == EBADF)
            ::open("/dev/null", O_RDWR);
    }
#endif
}

bool openAtStart(int descriptor)
{
#ifdef Q_OS_WIN
    Q_UNUSED(descriptor);
    return true;
#else
    return !g_descriptorsAtStart || std::binary_search(g_descriptorsAtStart->begin(),
                                                       g_descriptorsAtStart->end(), descriptor);
#endif
}

bool isTerminal(int descriptor)
{
#ifdef Q_OS_WIN
    return isConsole(reinterpret_cast<HANDLE>(_get_osfhandle(descriptor)));
#else
    return ::isatty(descriptor) == 1;
#endif
}

bool standardInputIsTerminal()
{
#ifdef Q_OS_WIN
    return isConsole(standardHandle(STD_INPUT_HANDLE));
#else
    return isTerminal(STDIN_FILENO);
#endif
}

bool standardErrorIsTerminal()
{
#ifdef Q_OS_WIN
    return isConsole(standardHandle(STD_ERROR_HANDLE));
#else
    return isTerminal(STDERR_FILENO);
#endif
}

int terminalColumns()
{
#ifdef Q_OS_WIN
    CONSOLE_SCREEN_BUFFER_INFO info = {};
    if (GetConsoleScreenBufferInfo(standardHandle(STD_ERROR_HANDLE), &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
#else
    winsize size = {};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
#endif
    return 80;
}

void writeOut(QStringView text)
{
    writeTo(stdout, text);
}

void writeErr(QStringView text)
{
    writeTo(stderr, text);
}

void catchInterrupts()
{
#ifdef Q_OS_WIN
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
#else
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Once: a second signal ends the process. No SA_RESTART: a read of the terminal or of a
    // pipe returns at once, so that a prompt does not wait for its line.
    action.sa_flags = SA_RESETHAND;
    for (int number : {SIGINT, SIGTERM, SIGHUP})
        sigaction(number, &action, nullptr);
#endif
}

bool interrupted()
{
    return g_signal.load() != 0;
}

int interruptedExitStatus()
{
    return 128 + g_signal.load();
}

SecretLine readFirstLine(int descriptor, const QString& what)
{
    return readLine(descriptor, what, nullptr);
}

SecretLine readFirstLineOfFile(const QString& path)
{
    const QString what = QStringLiteral("the password file");
    // Read unbuffered, one byte at a time, into memory that is wiped: no copy of the password
    // stays behind.
#ifdef Q_OS_WIN
    const int descriptor = _wopen(reinterpret_cast<const wchar_t*>(path.utf16()),
                                  _O_RDONLY | _O_BINARY | _O_NOINHERIT);
#else
    // Blocking: a pipe waits for its writer. A terminal named here does not become the
    // process's controlling terminal.
    const int descriptor =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
#endif
    if (descriptor < 0)
        return {std::nullopt, what + QStringLiteral(" cannot be opened: ") +
                                  QString::fromLocal8Bit(std::strerror(errno))};
    const auto closeAtEnd = qScopeGuard([descriptor] {
#ifdef Q_OS_WIN
        _close(descriptor);
#else
        ::close(descriptor);
#endif
    });
    // What is typed there would show: leave --password-file out to be asked without echo.
    if (isTerminal(descriptor))
        return {std::nullopt, what + QStringLiteral(" is a terminal")};
    if (!isFileOrPipe(descriptor))
        return {std::nullopt, what + QStringLiteral(" is not a regular file or a pipe")};
    return readFirstLine(descriptor, what);
}

SecretLine readHiddenLine(QStringView prompt)
{
    const QString what = QStringLiteral("the terminal");
#ifdef Q_OS_WIN
    const HANDLE input = standardHandle(STD_INPUT_HANDLE);
    DWORD saved = 0;
    if (!GetConsoleMode(input, &saved))
        return {std::nullopt, what + QStringLiteral(" cannot be read")};
    SetConsoleMode(input, (saved | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) &
                              ~DWORD(ENABLE_ECHO_INPUT));
    const auto restore = qScopeGuard([input, saved] { SetConsoleMode(input, saved); });
    writeErr(prompt);
    // The line and its end ("\r\n"), read as UTF-16 and wiped when done.
    std::vector<wchar_t> buffer(std::size_t(kMaxPasswordLength) + 2);
    const auto wipe = qScopeGuard(
        [&buffer] { dataops::secureWipe(buffer.data(), buffer.size() * sizeof(wchar_t)); });
    std::size_t size = 0;
    bool ended = false;
    while (size < buffer.size()) {
        DWORD got = 0;
        if (!ReadConsoleW(input, buffer.data() + size, DWORD(buffer.size() - size), &got,
                          nullptr) ||
            got == 0 || interrupted())
            break;
        size += got;
        if (buffer[size - 1] == L'\n') {
            ended = true;
            break;
        }
    }
    writeErr(u"\n");
    SecretLine line;
    if (!ended) {
        line.error = size == buffer.size()
                         ? what + QStringLiteral(" gives a line longer than a password")
                         : what + QStringLiteral(" gives no line");
    } else {
        size -= (size >= 2 && buffer[size - 2] == L'\r') ? 2 : 1;
        QString text(reinterpret_cast<const QChar*>(buffer.data()), qsizetype(size));
        line.text = dataops::SecretString(std::move(text));
    }
    return line;
#else
    for (;;) {
        SecretLine line;
        {
            const CatchStops catchStops;
            termios saved = {};
            const bool terminal = tcgetattr(STDIN_FILENO, &saved) == 0;
            if (terminal) {
                termios quiet = saved;
                // No echo, but the line end the user types still moves to the next line.
                quiet.c_lflag &= ~tcflag_t(ECHO);
                quiet.c_lflag |= tcflag_t(ECHONL);
                tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
            }
            const auto restore = qScopeGuard([terminal, &saved] {
                if (terminal)
                    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
            });
            writeErr(prompt);
            line = readLine(STDIN_FILENO, what, stopRequested);
            if (interrupted() || stopRequested())
                writeErr(u"\n");
        }
        // The terminal is as the user had it: the process stops here, where it would have
        // stopped, and goes on when continued (fg).
        const int stop = g_stopSignal.exchange(0);
        if (stop != 0)
            ::raise(stop);
        if (stop == 0 || line.text || interrupted())
            return line;
        // Continued: asked anew, with echo off again and what was typed meanwhile dropped.
    }
#endif
}

} // namespace virellock::cli
