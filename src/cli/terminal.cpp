#include "terminal.h"

#include <QFile>
#include <QStringDecoder>

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
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace virellock::cli {

namespace {

// Runs an action when the scope ends, however it ends: puts the terminal back as it was.
template <typename Action> class AtScopeEnd
{
public:
    explicit AtScopeEnd(Action action) : m_action(std::move(action)) {}
    AtScopeEnd(const AtScopeEnd&) = delete;
    AtScopeEnd& operator=(const AtScopeEnd&) = delete;
    ~AtScopeEnd() { m_action(); }

private:
    Action m_action;
};

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

// The line in buffer[0, size): ended tells whether a line feed ended it.
SecretLine lineOf(const QByteArray& buffer, qsizetype size, bool ended, const QString& what)
{
    if (!ended && size == 0)
        return {std::nullopt, what + QStringLiteral(" gives no line")};
    if (!ended && size == buffer.size())
        return {std::nullopt, what + QStringLiteral(" gives a line longer than a password")};
    if (ended && size > 0 && buffer.at(size - 1) == '\r')
        --size;
    return fromUtf8(QByteArrayView(buffer).first(size), what);
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
    for (int descriptor : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        // open() takes the lowest free number, which is this one.
        if (fcntl(descriptor, F_GETFD) == -1 && errno == EBADF)
            ::open("/dev/null", O_RDWR);
    }
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
    QByteArray buffer(kMaxLineBytes, Qt::Uninitialized);
    const dataops::WipeAtScopeEnd wipeBuffer(buffer);
#ifdef Q_OS_WIN
    // Not text mode: it would end the line at a Ctrl-Z and take the carriage return away.
    if (_setmode(descriptor, _O_BINARY) == -1)
        return {std::nullopt, what + QStringLiteral(" cannot be read: ") +
                                  QString::fromLocal8Bit(std::strerror(errno))};
#endif
    qsizetype size = 0;
    bool ended = false;
    while (size < buffer.size()) {
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

SecretLine readFirstLineOfFile(const QString& path)
{
    const QString what = QStringLiteral("the password file");
    // Unbuffered, so that no copy of the password stays in QFile's buffer.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return {std::nullopt, what + QStringLiteral(" cannot be opened: ") + file.errorString()};
    QByteArray buffer(kMaxLineBytes, Qt::Uninitialized);
    const dataops::WipeAtScopeEnd wipeBuffer(buffer);
    qsizetype size = 0;
    while (size < buffer.size()) {
        const qint64 got = file.read(buffer.data() + size, buffer.size() - size);
        if (got < 0)
            return {std::nullopt, what + QStringLiteral(" cannot be read: ") + file.errorString()};
        if (got == 0)
            break;
        const qsizetype lineEnd = QByteArrayView(buffer).sliced(size, got).indexOf('\n');
        if (lineEnd >= 0)
            return lineOf(buffer, size + lineEnd, true, what);
        size += got;
    }
    return lineOf(buffer, size, false, what);
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
    const AtScopeEnd restore([input, saved] { SetConsoleMode(input, saved); });
    writeErr(prompt);
    // The line and its end ("\r\n"), read as UTF-16 and wiped when done.
    std::vector<wchar_t> buffer(std::size_t(kMaxPasswordLength) + 2);
    const AtScopeEnd wipe(
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
    termios saved = {};
    const bool terminal = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        // No echo, but the line end the user types still moves to the next line.
        quiet.c_lflag &= ~tcflag_t(ECHO);
        quiet.c_lflag |= tcflag_t(ECHONL);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    const AtScopeEnd restore([terminal, &saved] {
        if (terminal)
            tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    });
    writeErr(prompt);
    SecretLine line = readFirstLine(STDIN_FILENO, what);
    if (interrupted())
        writeErr(u"\n");
    return line;
#endif
}

} // namespace virellock::cli
