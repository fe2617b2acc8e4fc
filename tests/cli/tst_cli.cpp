// virellock-cli as scripts run it: the real program in a child process, its files checked
// against the engine's own commands.

#include "engine/decrypted_file.h"
#include "host/host_services/leftover_files.h"
#include "host/host_services/temporary_name.h"
#include "support/command_inputs.h"
#include "support/file_helpers.h"
#include "support/scripted_host_services.h"
#include "support/test_bytes.h"
#include "support/traced_environment.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>
#endif

using namespace virellock;
using namespace virellock::test;

namespace {

constexpr qsizetype MiB = 1 << 20;
// Blanks at both ends: they are part of the password.
const QString kPassword = QStringLiteral(" cli 密码 ");
const QString kHint = QStringLiteral("提示: the usual");
const QString kNotOurs = QStringLiteral("该文件不是由此软件加密而成的!");
const QString kWrongPassword = QStringLiteral("密码错误,无法解密码!");
const QString kEncryptFailed = QStringLiteral("对该文件加密失败!");
const QString kPasswordsDiffer = QStringLiteral("两次密码不一致,请重新输入!");
const QString kPasswordInFull = QStringLiteral("请将密码输入完整!");
const QString kPrompt = QStringLiteral("请输入密码:");
const QString kPromptAgain = QStringLiteral("请再次输入密码:");

// How the child's standard input is set up.
enum class Input
{
    Pipe,       // a pipe that gives the bytes, then ends
    NullDevice, // /dev/null, NUL on Windows
    Closed,     // no standard input at all (POSIX)
    Terminal,   // a terminal, which is standard error too (POSIX)
};

struct CliRun
{
    bool finished = false;
    int exitCode = -1; // -1 when it crashed or was killed
    QString out;
    QString err;

    QStringList errLines() const { return err.split(u'\n', Qt::SkipEmptyParts); }
};

struct CliStart
{
    QStringList arguments;
    QString workingDirectory;
    Input input = Input::Pipe;
    QByteArray inputBytes;
    // POSIX: a file the child gets as its descriptor 3; without one, descriptor 3 is closed.
    QString descriptor3 = {};
    // POSIX, with Input::Terminal: the terminal device. The program runs in a process group of
    // its own there, as a shell starts a job, so that a stop signal stops it.
    QByteArray terminal = {};
    // POSIX: the arguments as bytes, in place of arguments, which QProcess could only give as
    // UTF-8 text.
    QByteArrayList byteArguments = {};
    // POSIX: as root, the program runs as the user nobody, for whom permission bits count.
    bool unprivileged = false;
    // A program that runs virellock-cli, and its arguments before it: strace.
    QStringList wrapper = {};
};

void startCli(QProcess& process, const CliStart& start)
{
    process.setProgram(start.wrapper.isEmpty() ? QStringLiteral(VIRELLOCK_CLI)
                                               : start.wrapper.first());
    process.setArguments(start.wrapper.isEmpty()
                             ? start.arguments
                             : start.wrapper.mid(1) + QStringList{QStringLiteral(VIRELLOCK_CLI)} +
                                   start.arguments);
    process.setWorkingDirectory(start.workingDirectory);
    if (!start.wrapper.isEmpty())
        process.setProcessEnvironment(tracedEnvironment());
    if (start.input == Input::NullDevice)
        process.setStandardInputFile(QProcess::nullDevice());
#ifdef Q_OS_UNIX
    const int descriptor3 =
        start.descriptor3.isEmpty()
            ? -1
            : ::open(QFile::encodeName(start.descriptor3).constData(), O_RDONLY | O_CLOEXEC);
    const QByteArray terminal = start.input == Input::Terminal ? start.terminal : QByteArray();
    // Made before the fork: the child may only call what is safe after it.
    QByteArrayList argumentBytes{QByteArrayLiteral(VIRELLOCK_CLI)};
    argumentBytes += start.byteArguments;
    std::vector<char*> argv;
    for (QByteArray& argument : argumentBytes)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    char** const byteArgv = start.byteArguments.isEmpty() ? nullptr : argv.data();
    process.setChildProcessModifier([descriptor3, closed = start.input == Input::Closed, terminal,
                                     byteArgv, unprivileged = start.unprivileged] {
        if (closed)
            ::close(STDIN_FILENO);
        if (!terminal.isEmpty()) {
            ::setpgid(0, 0);
            const int device = ::open(terminal.constData(), O_RDWR | O_NOCTTY);
            ::dup2(device, STDIN_FILENO);
            ::dup2(device, STDERR_FILENO);
            ::close(device);
        }
        if (descriptor3 == 3)
            ::fcntl(3, F_SETFD, 0);
        else if (descriptor3 >= 0)
            ::dup2(descriptor3, 3);
        else
            ::close(3);
        if (unprivileged && ::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(125);
        if (byteArgv) {
            ::execv(byteArgv[0], byteArgv);
            ::_exit(127);
        }
    });
#endif
    process.start();
#ifdef Q_OS_UNIX
    if (descriptor3 >= 0)
        ::close(descriptor3);
#endif
    if (process.waitForStarted() && start.input == Input::Pipe) {
        process.write(start.inputBytes);
        process.closeWriteChannel();
    }
}

// Runs the program to its end. One that hangs is killed after two minutes and reported as not
// finished, so that a hang fails its test instead of stopping the suite.
CliRun runProgram(const CliStart& start)
{
    QProcess process;
    startCli(process, start);
    CliRun run;
    run.finished = process.waitForFinished(120000);
    if (!run.finished) {
        process.kill();
        process.waitForFinished();
    }
    if (process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    // Windows writes its line ends as "\r\n".
    run.out = QString::fromUtf8(process.readAllStandardOutput())
                  .replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    run.err = QString::fromUtf8(process.readAllStandardError())
                  .replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return run;
}

// The password as a script pipes it in.
CliRun runCli(const QStringList& arguments, const QString& directory,
              const QString& password = kPassword)
{
    return runProgram({arguments, directory, Input::Pipe, password.toUtf8() + '\n', {}});
}

// Encrypts through the engine's command, as the window does; true on its success message.
bool encryptWithCommand(const QString& path, int method, const QString& password,
                        const QString& hint = QString())
{
    ScriptedHostServices host;
    host.chosenFiles = {path};
    runEncryptCommand(encryptInputs(method, password, hint), host);
    return host.messages.size() == 1 && host.messages.first().style == MessageStyle::Information;
}

// Decrypts through the engine's command; true on its success message. prompt: what the
// password prompt said.
bool decryptWithCommand(const QString& path, int method, const QString& password,
                        QString* prompt = nullptr)
{
    ScriptedHostServices host;
    host.answers = {Answer::Yes};
    host.chosenFiles = {path};
    host.typedTexts = {password};
    runDecryptCommand(decryptInputs(method), host);
    if (prompt && !host.prompts.isEmpty())
        *prompt = host.prompts.first().prompt;
    return !host.messages.isEmpty() && host.messages.last().style == MessageStyle::Information;
}

// Some text and some random bytes, over a chunk boundary.
QByteArray content(quint32 seed)
{
    return QByteArray("plain text, 明文\n").repeated(1000) + patternBytes(MiB + 5, seed);
}

const char* const kMethodNames[] = {"des", "rc4", "des-enhanced", "rc4-enhanced", "md5-enhanced"};

// What a line of a list of options or methods names: "-m --method" for an option, "4
// md5-enhanced" for a method; nothing for any other line.
std::optional<QString> listedName(const QString& line)
{
    static const QRegularExpression option(QStringLiteral("^\\s*(?:(-[A-Za-z]), )?(--[a-z-]+)"));
    static const QRegularExpression method(QStringLiteral("^\\s*([0-4]),?\\s+([a-z0-9-]+)"));
    for (const QRegularExpression* pattern : {&option, &method}) {
        const QRegularExpressionMatch match = pattern->match(line);
        if (match.hasMatch())
            return (match.captured(1) + u' ' + match.captured(2)).trimmed();
    }
    return std::nullopt;
}

#ifdef Q_OS_WIN
// Keeps a file open without sharing it, so that no other process can open it.
class HeldOpen
{
public:
    explicit HeldOpen(const QString& path)
        : m_handle(
              CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()),
                          GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))
    {}
    ~HeldOpen()
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            CloseHandle(m_handle);
    }
    bool held() const { return m_handle != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_handle;
};
#endif

#ifdef Q_OS_UNIX
// A pseudo-terminal in place of a person's: the program's standard input and standard error are
// its other end. What the program shows there is collected, and lines are typed into it.
class PseudoTerminal
{
public:
    PseudoTerminal() : m_master(::posix_openpt(O_RDWR | O_NOCTTY))
    {
        if (m_master >= 0 && ::fcntl(m_master, F_SETFD, FD_CLOEXEC) == 0 &&
            ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0)
            m_device = QByteArray(::ptsname(m_master));
    }
    ~PseudoTerminal()
    {
        if (m_master >= 0)
            ::close(m_master);
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Empty when no pseudo-terminal could be had.
    const QByteArray& device() const { return m_device; }

    // Collects what is shown until text appears after what the last call found; false when the
    // program closed the terminal or nothing came for two minutes before that.
    bool waitFor(const QString& text)
    {
        for (;;) {
            const qsizetype at = shown().indexOf(text, m_from);
            if (at >= 0) {
                m_from = at + text.size();
                return true;
            }
            if (!readSome())
                return false;
        }
    }
    // Collects what is shown until the program closes the terminal.
    void readToEnd()
    {
        while (readSome()) {
        }
    }
    void type(const QString& line)
    {
        const QByteArray bytes = line.toUtf8() + '\n';
        QCOMPARE(::write(m_master, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    }
    // The terminal ends its lines with "\r\n"; the carriage returns are left out, those of the
    // redrawn progress line too.
    QString shown() const { return QString::fromUtf8(m_shown).remove(u'\r'); }
    // Whether the terminal shows what is typed, as the program on it has set it.
    bool echoes() const
    {
        const int device = ::open(m_device.constData(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
        termios settings = {};
        const bool read = device >= 0 && ::tcgetattr(device, &settings) == 0;
        if (device >= 0)
            ::close(device);
        return read && (settings.c_lflag & ECHO) != 0;
    }

private:
    bool readSome()
    {
        pollfd ready{m_master, POLLIN, 0};
        if (::poll(&ready, 1, 120000) <= 0)
            return false;
        char buffer[4096];
        const ssize_t got = ::read(m_master, buffer, sizeof buffer);
        // Linux gives EIO once no process has the terminal open any more.
        if (got <= 0)
            return false;
        m_shown.append(buffer, got);
        return true;
    }

    int m_master;
    QByteArray m_device;
    QByteArray m_shown;
    qsizetype m_from = 0;
};
#endif

#ifdef Q_OS_LINUX
// How far a process has read the file at path, by its descriptor's position; -1 while it has
// the file not open.
qint64 readPosition(qint64 pid, const QString& path)
{
    const QString folder = QStringLiteral("/proc/%1/").arg(pid);
    const QStringList descriptors =
        QDir(folder + QStringLiteral("fd"))
            .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& descriptor : descriptors) {
        if (QFile::symLinkTarget(folder + QStringLiteral("fd/") + descriptor) != path)
            continue;
        QFile info(folder + QStringLiteral("fdinfo/") + descriptor);
        if (!info.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = info.readAll();
        const qsizetype at = text.indexOf("pos:");
        if (at >= 0)
            return text.mid(at + 4, text.indexOf('\n', at) - at - 4).trimmed().toLongLong();
    }
    return -1;
}

// The child of a process that runs program, 0 while it has none.
qint64 childRunning(qint64 pid, const QString& program)
{
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    if (!children.open(QIODevice::ReadOnly))
        return 0;
    const QString canonical = QFileInfo(program).canonicalFilePath();
    for (const QByteArray& child : children.readAll().split(' ')) {
        if (QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(child.trimmed())) == canonical)
            return child.trimmed().toLongLong();
    }
    return 0;
}

// The files that the threads of a process are about to sync (fsync, fdatasync): strace holds
// them at the start of the call, where /proc shows it and its descriptor.
QStringList filesBeingSynced(qint64 pid)
{
    QStringList files;
    const QString process = QStringLiteral("/proc/%1/").arg(pid);
    const QStringList tasks =
        QDir(process + QStringLiteral("task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& task : tasks) {
        QFile call(process + QStringLiteral("task/") + task + QStringLiteral("/syscall"));
        if (!call.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> fields = call.readAll().split(' ');
        bool number = false;
        const long called = fields.first().trimmed().toLong(&number);
        if (!number || fields.size() < 2 || (called != SYS_fsync && called != SYS_fdatasync))
            continue;
        const qlonglong descriptor = fields.at(1).toLongLong(&number, 0);
        if (number)
            files.append(QFile::symLinkTarget(process + QStringLiteral("fd/") +
                                              QString::number(descriptor)));
    }
    return files;
}

// The state /proc gives a process: 'T' while it is stopped; 0 once it is gone.
char processState(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // "pid (name) S ...": the name may hold anything, the state follows its last ')'.
    const qsizetype end = text.lastIndexOf(')');
    return end >= 0 && end + 2 < text.size() ? text.at(end + 2) : 0;
}
#endif

#ifdef Q_OS_UNIX
// Files whose names are bytes, which need not be UTF-8, made in a folder with the folders they
// need; removed again when this goes, as QTemporaryDir cannot remove a name that is not UTF-8.
class BytesNamedFiles
{
public:
    explicit BytesNamedFiles(const QString& folder) : m_folder(QFile::encodeName(folder) + '/') {}
    ~BytesNamedFiles()
    {
        for (const QByteArray& file : std::as_const(m_files))
            ::unlink((m_folder + file).constData());
        for (auto folder = m_folders.crbegin(); folder != m_folders.crend(); ++folder)
            ::rmdir((m_folder + *folder).constData());
    }
    BytesNamedFiles(const BytesNamedFiles&) = delete;
    BytesNamedFiles& operator=(const BytesNamedFiles&) = delete;

    bool write(const QByteArray& file, const QByteArray& content)
    {
        for (qsizetype slash = file.indexOf('/'); slash > 0; slash = file.indexOf('/', slash + 1)) {
            if (::mkdir((m_folder + file.first(slash)).constData(), 0755) == 0)
                m_folders.append(file.first(slash));
            else if (errno != EEXIST)
                return false;
        }
        const int descriptor =
            ::open((m_folder + file).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (descriptor < 0)
            return false;
        m_files.append(file);
        const bool written = ::write(descriptor, content.constData(), size_t(content.size())) ==
                             ssize_t(content.size());
        return ::close(descriptor) == 0 && written;
    }

    QByteArray read(const QByteArray& file) const
    {
        const int descriptor = ::open((m_folder + file).constData(), O_RDONLY | O_CLOEXEC);
        if (descriptor < 0)
            return "<unreadable>";
        QByteArray content;
        char buffer[65536];
        ssize_t got = 0;
        while ((got = ::read(descriptor, buffer, sizeof buffer)) > 0)
            content.append(buffer, got);
        ::close(descriptor);
        return content;
    }

    // The name Qt's file functions take for it, when it is UTF-8.
    QString path(const QByteArray& file) const { return QFile::decodeName(m_folder + file); }

private:
    QByteArray m_folder;
    QByteArrayList m_files;
    QByteArrayList m_folders;
};
#endif

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void roundTrip_data();
    void roundTrip();
    void passwordSources_data();
    void passwordSources();
    void noPassword_data();
    void noPassword();
    void terminal_data();
    void terminal();
    void decryptAndVerify_data();
    void decryptAndVerify();
    void batchKeepsGoing_data();
    void batchKeepsGoing();
    void recursive();
    void longNestedPath();
    void recursiveReportsWhatItLeavesOut_data();
    void recursiveReportsWhatItLeavesOut();
    void namesNotUtf8_data();
    void namesNotUtf8();
    void formatCharactersShownReplaced_data();
    void formatCharactersShownReplaced();
    void stopAtThePrompt();
    void interruptLeavesTheFile_data();
    void interruptLeavesTheFile();
    void lateInterruptReportsTheFileDone();
    void usage_data();
    void usage();
    void helpMatchesManualPage();
    void leftoversRemovedOnlyByRewrites_data();
    void leftoversRemovedOnlyByRewrites();

private:
    QString path(const QString& name) const { return m_dir->filePath(name); }
    // A file holding the password and a line end, outside the folder the files are in.
    QString passwordFile(const QByteArray& bytes);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QTemporaryDir> m_secrets;
};

void TestCli::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_secrets = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid() && m_secrets->isValid());
}

QString TestCli::passwordFile(const QByteArray& bytes)
{
    const QString file = m_secrets->filePath(QStringLiteral("password"));
    return writeFile(file, bytes) ? file : QString();
}

void TestCli::roundTrip_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<QString>("methodArgument");
    QTest::addColumn<bool>("cliEncrypts");
    for (int method = 0; method < 5; ++method) {
        QTest::addRow("method %d: encrypted by the program, decrypted by the command", method)
            << method << QString::fromLatin1(kMethodNames[method]) << true;
        QTest::addRow("method %d: encrypted by the command, decrypted by the program", method)
            << method << QString::number(method) << false;
    }
}

// What the program writes the window reads, and the other way round; the enhanced methods keep
// the hint given.
void TestCli::roundTrip()
{
    QFETCH(int, method);
    QFETCH(QString, methodArgument);
    QFETCH(bool, cliEncrypts);
    const QString file = path(QStringLiteral("文件 one.txt"));
    const QByteArray plain = content(method);
    QVERIFY(writeFile(file, plain));
    const QString secret = passwordFile(kPassword.toUtf8() + '\n');

    if (cliEncrypts) {
        const CliRun run = runProgram(
            {{QStringLiteral("encrypt"), QStringLiteral("-m"), methodArgument,
              QStringLiteral("--hint"), kHint, QStringLiteral("--password-file"), secret, file},
             m_dir->path(),
             Input::NullDevice,
             {},
             {}});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.err, QStringLiteral("1 done, 0 failed\n"));
        QVERIFY(readFile(file) != plain);
        QString prompt;
        QVERIFY(decryptWithCommand(file, method, kPassword, &prompt));
        if (method >= 2)
            QCOMPARE(prompt, QStringLiteral("请输入密码:\r\n\r\n") + kHint);
    } else {
        QVERIFY(encryptWithCommand(file, method, kPassword, kHint));
        QVERIFY(readFile(file) != plain);
        const CliRun run =
            runProgram({{QStringLiteral("decrypt"), QStringLiteral("--method"), methodArgument,
                         QStringLiteral("--password-file"), secret, file},
                        m_dir->path(),
                        Input::NullDevice,
                        {},
                        {}});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.err, QStringLiteral("1 done, 0 failed\n"));
    }
    QVERIFY(readFile(file) == plain);
    QCOMPARE(folderEntries(m_dir->path()), QStringList{QStringLiteral("文件 one.txt")});
}

void TestCli::passwordSources_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("password");
    const QByteArray utf8 = kPassword.toUtf8();
    QTest::newRow("file, line feed, more lines") << "file" << utf8 + "\nsecond line\n" << kPassword;
    QTest::newRow("file, carriage return and line feed") << "file" << utf8 + "\r\n" << kPassword;
    QTest::newRow("file, carriage return at its end, no line feed")
        << "file" << utf8 + "\r" << kPassword;
    QTest::newRow("file, no line end") << "file" << utf8 << kPassword;
    // The password is the text as typed: a byte-order mark is part of it.
    QTest::newRow("file, leading U+FEFF") << "file"
                                          << "\xEF\xBB\xBF" + utf8 + "\n"
                                          << QChar(0xFEFF) + kPassword;
    QTest::newRow("standard input, line feed") << "stdin" << utf8 + "\nmore\n" << kPassword;
    QTest::newRow("standard input, carriage return and line feed") << "stdin" << utf8 + "\r\n"
                                                                   << kPassword;
    QTest::newRow("standard input, carriage return at the end of input")
        << "stdin" << utf8 + "\r" << kPassword;
    QTest::newRow("--password-fd 0, a pipe") << "fd 0" << utf8 + "\n" << kPassword;
#ifdef Q_OS_UNIX
    QTest::newRow("--password-fd 3, a file") << "fd 3" << utf8 + "\r\n" << kPassword;
#endif
}

// Each source gives exactly its first line as the password: the file encrypted with it
// decrypts with that password through the command.
void TestCli::passwordSources()
{
    QFETCH(QString, source);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, password);
    const QString file = path(QStringLiteral("notes.txt"));
    const QByteArray plain = content(7);
    QVERIFY(writeFile(file, plain));

    CliStart start{{QStringLiteral("encrypt"), QStringLiteral("-m"), QStringLiteral("3")},
                   m_dir->path(),
                   Input::NullDevice,
                   {},
                   {}};
    if (source == QLatin1String("file")) {
        start.arguments << QStringLiteral("--password-file") << passwordFile(bytes);
    } else if (source == QLatin1String("fd 3")) {
        start.arguments << QStringLiteral("--password-fd") << QStringLiteral("3");
        start.descriptor3 = passwordFile(bytes);
    } else {
        if (source == QLatin1String("fd 0"))
            start.arguments << QStringLiteral("--password-fd") << QStringLiteral("0");
        start.input = Input::Pipe;
        start.inputBytes = bytes;
    }
    start.arguments << file;
    const CliRun run = runProgram(start);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QVERIFY(readFile(file) != plain);
    QVERIFY(decryptWithCommand(file, 3, password));
    QVERIFY(readFile(file) == plain);
}

void TestCli::noPassword_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("arguments"); // "TERMINAL": a terminal where it was typed
    QTest::addColumn<int>("input");
    QTest::addColumn<QString>("reason");
    const QStringList none;
    const QString noLine = QStringLiteral("standard input (not a terminal) gives no line");
    const QStringList missingFile{QStringLiteral("--password-file"), QStringLiteral("missing")};
    const QStringList closedDescriptor{QStringLiteral("--password-fd"), QStringLiteral("9")};
    for (const char* command : {"encrypt", "decrypt"}) {
        QTest::addRow("%s, standard input an empty pipe", command)
            << command << none << int(Input::Pipe) << noLine;
        QTest::addRow("%s, standard input the null device", command)
            << command << none << int(Input::NullDevice) << noLine;
#ifdef Q_OS_UNIX
        QTest::addRow("%s, standard input closed", command)
            << command << none << int(Input::Closed) << noLine;
#endif
        QTest::addRow("%s, a password file that does not exist", command)
            << command << missingFile << int(Input::Pipe)
            << QStringLiteral("the password file cannot be opened");
        QTest::addRow("%s, an empty password file", command)
            << command << QStringList{QStringLiteral("--password-file"), QStringLiteral("empty")}
            << int(Input::Pipe) << QStringLiteral("the password file gives no line");
        QTest::addRow("%s, a carriage return inside the password line", command)
            << command
            << QStringList{QStringLiteral("--password-file"), QStringLiteral("carriage return")}
            << int(Input::Pipe)
            << QStringLiteral("the password file gives a carriage return inside the password "
                              "line");
#ifdef Q_OS_UNIX
        QTest::addRow("%s, a descriptor that is not open", command)
            << command << closedDescriptor << int(Input::Pipe)
            << QStringLiteral("descriptor 9 was not open when virellock-cli started");
        // Closed when the program starts, it is the first the program opens for itself.
        QTest::addRow("%s, a descriptor the program opened itself", command)
            << command << QStringList{QStringLiteral("--password-fd"), QStringLiteral("3")}
            << int(Input::Pipe)
            << QStringLiteral("descriptor 3 was not open when virellock-cli started");
        QTest::addRow("%s, a password file that is a terminal", command)
            << command << QStringList{QStringLiteral("--password-file"), QStringLiteral("TERMINAL")}
            << int(Input::Pipe) << QStringLiteral("the password file is a terminal");
        QTest::addRow("%s, a password file that is a device", command)
            << command << QStringList{QStringLiteral("--password-file"), QProcess::nullDevice()}
            << int(Input::Pipe)
            << QStringLiteral("the password file is not a regular file or a pipe");
#else
        QTest::addRow("%s, a descriptor that is not open", command)
            << command << closedDescriptor << int(Input::Pipe)
            << QStringLiteral("descriptor 9 cannot be read");
#endif
    }
}

// No terminal and no password: an error at once that says why, nothing touched; never a wait
// for a password that cannot come, nor a password from a source that would show it or that
// the caller never gave.
void TestCli::noPassword()
{
    QFETCH(QString, command);
    QFETCH(QStringList, arguments);
    QFETCH(int, input);
    QFETCH(QString, reason);
    const QString file = path(QStringLiteral("notes.txt"));
    const QByteArray plain = content(3);
    QVERIFY(writeFile(file, plain));
    if (command == QLatin1String("decrypt"))
        QVERIFY(encryptWithCommand(file, 0, kPassword));
    const QByteArray before = readFile(file);
    QVERIFY(writeFile(m_secrets->filePath(QStringLiteral("empty")), {}));
    QVERIFY(writeFile(m_secrets->filePath(QStringLiteral("carriage return")),
                      kPassword.toUtf8() + "\r" + kPassword.toUtf8() + '\n'));
#ifdef Q_OS_UNIX
    // Read from there, the password would show as it is typed.
    PseudoTerminal tty;
    if (arguments.contains(QStringLiteral("TERMINAL"))) {
        QVERIFY(!tty.device().isEmpty());
        arguments.replace(arguments.indexOf(QStringLiteral("TERMINAL")),
                          QString::fromLocal8Bit(tty.device()));
    }
#endif

    const CliRun run = runProgram({QStringList{command, QStringLiteral("-m"), QStringLiteral("0")} +
                                       arguments + QStringList{file},
                                   m_secrets->path(),
                                   Input(input),
                                   {},
                                   {}});
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.startsWith(QStringLiteral("virellock-cli: no password: ") + reason),
             qPrintable(run.err));
    QVERIFY(readFile(file) == before);
    QCOMPARE(folderEntries(m_dir->path()), QStringList{QStringLiteral("notes.txt")});
}

void TestCli::terminal_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("method");
    QTest::addColumn<QStringList>("typings");
    QTest::addColumn<QString>("failure"); // empty: success
    QTest::newRow("encrypt: typed twice")
        << "encrypt" << 3 << QStringList{kPassword, kPassword} << QString();
    QTest::newRow("encrypt: the second typing differs")
        << "encrypt" << 3 << QStringList{kPassword, kPassword + u'x'} << kPasswordsDiffer;
    QTest::newRow("encrypt: blanks alone")
        << "encrypt" << 0 << QStringList{QStringLiteral("   "), QStringLiteral("   ")}
        << kPasswordInFull;
    QTest::newRow("decrypt an enhanced method: the hint, then one prompt for both files")
        << "decrypt" << 3 << QStringList{kPassword} << QString();
    QTest::newRow("verify a standard method: one prompt for both files")
        << "verify" << 0 << QStringList{kPassword} << QString();
}

// On a terminal the password is asked without echo, twice to encrypt and once for all the
// files; an enhanced file's hint is shown above the prompt; the encrypt command's checks of the
// typings apply before any file is touched; the progress names each file of the batch.
void TestCli::terminal()
{
#ifndef Q_OS_UNIX
    QSKIP("the terminal here is a POSIX pseudo-terminal; the tests drive no Windows console");
#else
    QFETCH(QString, command);
    QFETCH(int, method);
    QFETCH(QStringList, typings);
    QFETCH(QString, failure);
    const QStringList names{QStringLiteral("a.txt"), QStringLiteral("b.txt")};
    QByteArray plain[2];
    QByteArray before[2];
    for (int i = 0; i < 2; ++i) {
        plain[i] = content(60 + i);
        QVERIFY(writeFile(path(names[i]), plain[i]));
        if (command != QLatin1String("encrypt"))
            QVERIFY(encryptWithCommand(path(names[i]), method, kPassword, kHint));
        before[i] = readFile(path(names[i]));
    }

    PseudoTerminal tty;
    QVERIFY(!tty.device().isEmpty());
    QProcess process;
    startCli(process, {QStringList{command, QStringLiteral("-m"), QString::number(method)} + names,
                       m_dir->path(),
                       Input::Terminal,
                       {},
                       {},
                       tty.device()});
    QVERIFY(process.waitForStarted());
    const QStringList prompts{kPrompt, kPromptAgain};
    for (qsizetype i = 0; i < typings.size(); ++i) {
        QVERIFY2(tty.waitFor(prompts.at(i)), qPrintable(tty.shown()));
        tty.type(typings.at(i));
    }
    tty.readToEnd();
    QVERIFY(process.waitForFinished(120000));
    const QString shown = tty.shown();

    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == (failure.isEmpty() ? 0 : 1), qPrintable(shown));
    for (const QString& typed : typings)
        QVERIFY2(typed.trimmed().isEmpty() || !shown.contains(typed.trimmed()), qPrintable(shown));
    QCOMPARE(shown.count(kPrompt), 1);
    QCOMPARE(shown.count(kPromptAgain), command == QLatin1String("encrypt") ? 1 : 0);
    const qsizetype hintAt = shown.indexOf(kHint);
    if (command != QLatin1String("encrypt") && method >= 2)
        QVERIFY2(hintAt >= 0 && hintAt < shown.indexOf(kPrompt), qPrintable(shown));
    else
        QCOMPARE(hintAt, -1);

    if (!failure.isEmpty()) {
        QVERIFY2(shown.contains(QStringLiteral("virellock-cli: ") + failure), qPrintable(shown));
        for (int i = 0; i < 2; ++i)
            QVERIFY(readFile(path(names[i])) == before[i]);
        return;
    }
    QVERIFY2(shown.endsWith(QStringLiteral("2 done, 0 failed\n")), qPrintable(shown));
    for (int i = 0; i < 2; ++i) {
        const QString progress =
            QStringLiteral("正在处理第 %1 个文件, 共 2 个: %2  ").arg(i + 1).arg(names[i]);
        QVERIFY2(shown.contains(progress), qPrintable(shown));
        if (command == QLatin1String("encrypt")) {
            QVERIFY(readFile(path(names[i])) != plain[i]);
            QVERIFY(decryptWithCommand(path(names[i]), method, kPassword));
        }
        QVERIFY(readFile(path(names[i])) ==
                (command == QLatin1String("verify") ? before[i] : plain[i]));
    }
#endif
}

void TestCli::decryptAndVerify_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QString>("failure"); // empty: success
    for (int method = 0; method < 5; ++method) {
        const QString wrong = method >= 2 ? kWrongPassword : kNotOurs;
        for (const char* command : {"decrypt", "verify"}) {
            QTest::addRow("method %d, %s", method, command)
                << method << command << kPassword << false << QString();
            QTest::addRow("method %d, %s, wrong password", method, command)
                << method << command << kPassword.trimmed() << false << wrong;
        }
        QTest::addRow("method %d, verify, read-only file", method)
            << method << "verify" << kPassword << true << QString();
    }
}

// Decrypting restores the file; verifying says the same and leaves it as it is. A wrong
// password changes nothing and says so with the window's message, naming the file.
void TestCli::decryptAndVerify()
{
    QFETCH(int, method);
    QFETCH(QString, command);
    QFETCH(QString, typed);
    QFETCH(bool, readOnly);
    QFETCH(QString, failure);
    const QString file = path(QStringLiteral("notes.txt"));
    const QByteArray plain = content(method + 20);
    QVERIFY(writeFile(file, plain));
    QVERIFY(encryptWithCommand(file, method, kPassword, kHint));
    if (readOnly)
        makeReadOnly(file);
    const QByteArray encrypted = readFile(file);

    const CliRun run = runCli(
        {command, QStringLiteral("-m"), QString::number(method), QStringLiteral("notes.txt")},
        m_dir->path(), typed);
    if (failure.isEmpty()) {
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.err, QStringLiteral("1 done, 0 failed\n"));
        QVERIFY(readFile(file) == (command == QLatin1String("decrypt") ? plain : encrypted));
    } else {
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.errLines().size(), 2);
        QVERIFY2(run.errLines().first().startsWith(QStringLiteral("notes.txt: ") + failure),
                 qPrintable(run.err));
        QCOMPARE(run.errLines().last(), QStringLiteral("0 done, 1 failed"));
        QVERIFY(readFile(file) == encrypted);
    }
    QCOMPARE(folderEntries(m_dir->path()), QStringList{QStringLiteral("notes.txt")});
}

void TestCli::batchKeepsGoing_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("otherBadFile"); // beside the one that cannot be read
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("reason"); // the other bad file's, beside the failure
    QTest::newRow("decrypt: an unreadable and a foreign file")
        << "decrypt"
        << "foreign" << kNotOurs << QString();
    QTest::newRow("encrypt: an unreadable and a read-only file")
        << "encrypt"
        << "read-only" << kEncryptFailed << QStringLiteral("该文件是只读的");
}

// Among good files, one that cannot be read and one the method refuses: those two stay as they
// were and are named on standard error with the window's message, the others are done, and the
// exit status says that something failed.
void TestCli::batchKeepsGoing()
{
    QFETCH(QString, command);
    QFETCH(QString, otherBadFile);
    QFETCH(QString, failure);
    QFETCH(QString, reason);
    const bool decrypting = command == QLatin1String("decrypt");
    const QStringList good{QStringLiteral("a good.txt"), QStringLiteral("z good.txt")};
    const QString unreadable = QStringLiteral("m unreadable");
    const QString bad = QStringLiteral("n ") + otherBadFile;
    QByteArray plain[2];
    for (int i = 0; i < 2; ++i) {
        plain[i] = content(30 + i);
        QVERIFY(writeFile(path(good[i]), plain[i]));
        if (decrypting)
            QVERIFY(encryptWithCommand(path(good[i]), 1, kPassword));
    }
    const QByteArray badBytes = patternBytes(5000, 33);
    QVERIFY(writeFile(path(bad), badBytes));
    if (otherBadFile == QLatin1String("read-only"))
        makeReadOnly(path(bad));
#ifdef Q_OS_WIN
    QVERIFY(writeFile(path(unreadable), badBytes));
    CliRun run;
    {
        const HeldOpen held(path(unreadable));
        QVERIFY(held.held());
        run = runCli({command, QStringLiteral("-m"), QStringLiteral("rc4"), good[0], unreadable,
                      bad, good[1]},
                     m_dir->path());
    }
    QVERIFY(readFile(path(unreadable)) == badBytes);
#else
    // A name whose file cannot be opened, for root too.
    QVERIFY(QFile::link(path(QStringLiteral("nowhere")), path(unreadable)));
    const CliRun run = runCli(
        {command, QStringLiteral("-m"), QStringLiteral("rc4"), good[0], unreadable, bad, good[1]},
        m_dir->path());
    QCOMPARE(QFile::symLinkTarget(path(unreadable)), path(QStringLiteral("nowhere")));
#endif
    QCOMPARE(run.exitCode, 1);
    const QStringList lines = run.errLines();
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines.at(0).startsWith(unreadable + QStringLiteral(": ") + failure + u' '),
             qPrintable(run.err));
    QVERIFY2(lines.at(1).startsWith(bad + QStringLiteral(": ") + failure), qPrintable(run.err));
    if (!reason.isEmpty())
        QVERIFY2(lines.at(1).startsWith(bad + QStringLiteral(": ") + failure + u' ' + reason),
                 qPrintable(run.err));
    QCOMPARE(lines.at(2), QStringLiteral("2 done, 2 failed"));
    QVERIFY(readFile(path(bad)) == badBytes);
    for (int i = 0; i < 2; ++i) {
        if (!decrypting)
            QVERIFY(decryptWithCommand(path(good[i]), 1, kPassword));
        QVERIFY(readFile(path(good[i])) == plain[i]);
    }
}

// A file some 300 characters down nested folders of Chinese and Latin names, past Windows'
// MAX_PATH of 260: encrypted and decrypted in place, with nothing left beside it.
void TestCli::longNestedPath()
{
    QString folder = m_dir->path();
    for (int level = 0; folder.size() < 270; ++level)
        folder += QStringLiteral("/嵌套的文件夹 nested folder %1 深层").arg(level);
    QVERIFY(QDir().mkpath(folder));
    const QString file = folder + QStringLiteral("/长文件名 long file name.txt");
    QVERIFY2(file.size() >= 290, qPrintable(QString::number(file.size())));
    const QByteArray plain = content(21);
    QVERIFY(writeFile(file, plain));
    const QString secret = passwordFile(kPassword.toUtf8() + '\n');

    for (const QString& command : {QStringLiteral("encrypt"), QStringLiteral("decrypt")}) {
        const CliRun run =
            runProgram({{command, QStringLiteral("-m"), QStringLiteral("rc4-enhanced"),
                         QStringLiteral("--password-file"), secret, file},
                        m_dir->path(),
                        Input::NullDevice,
                        {},
                        {}});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.err, QStringLiteral("1 done, 0 failed\n"));
        QCOMPARE(readFile(file) == plain, command == QLatin1String("decrypt"));
        QCOMPARE(folderEntries(folder), QStringList{QFileInfo(file).fileName()});
    }
}

// -r takes the regular files under a folder, hidden ones and those in subfolders, each once
// even when named again, and leaves out symbolic links; a folder without -r is a usage error.
void TestCli::recursive()
{
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("tree/sub/deeper")));
    const QStringList files{QStringLiteral("tree/a.txt"), QStringLiteral("tree/.hidden"),
                            QStringLiteral("tree/sub/b.txt"),
                            QStringLiteral("tree/sub/deeper/c.txt")};
    for (const QString& file : files)
        QVERIFY(writeFile(path(file), file.toUtf8().repeated(100)));
    const QString outside = m_secrets->filePath(QStringLiteral("outside.txt"));
    QVERIFY(writeFile(outside, "not in the tree"));
#ifdef Q_OS_UNIX
    QVERIFY(QFile::link(outside, path(QStringLiteral("tree/sub/link.txt"))));
#endif

    const CliRun withoutR =
        runCli({QStringLiteral("encrypt"), QStringLiteral("tree")}, m_dir->path());
    QCOMPARE(withoutR.exitCode, 2);
    QVERIFY(withoutR.err.contains(QStringLiteral("tree is a folder")));
    for (const QString& file : files)
        QVERIFY(readFile(path(file)) == file.toUtf8().repeated(100));

    const CliRun run =
        runCli({QStringLiteral("encrypt"), QStringLiteral("-qrm"), QStringLiteral("rc4-enhanced"),
                QStringLiteral("tree"), QStringLiteral("tree/a.txt")},
               m_dir->path());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QString()); // -q: no summary
    QVERIFY(readFile(outside) == "not in the tree");
    for (const QString& file : files) {
        QVERIFY2(readFile(path(file)) != file.toUtf8().repeated(100), qPrintable(file));
        QVERIFY2(decryptWithCommand(path(file), 3, kPassword), qPrintable(file));
        QVERIFY2(readFile(path(file)) == file.toUtf8().repeated(100), qPrintable(file));
    }
}

void TestCli::recursiveReportsWhatItLeavesOut_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("line");
    QTest::newRow("a FIFO") << "fifo"
                            << "tree/fifo: not a regular file";
    QTest::newRow("a folder that cannot be read")
        << "locked"
        << "tree/locked: the folder cannot be read [Permission denied]";
}

// What -r finds and does not take, besides symbolic links, is named with why and counted as
// failed: nothing under the folder is left out without a word.
void TestCli::recursiveReportsWhatItLeavesOut()
{
#ifndef Q_OS_UNIX
    QSKIP("a FIFO and a folder that its owner cannot read are POSIX fixtures");
#else
    QFETCH(QString, entry);
    QFETCH(QString, line);
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("tree")));
    const QString good = path(QStringLiteral("tree/good.txt"));
    QVERIFY(writeFile(good, content(70)));
    QVERIFY(encryptWithCommand(good, 1, kPassword));
    const QString planted = path(QStringLiteral("tree/") + entry);
    if (entry == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(planted).constData(), 0644), 0);
    } else {
        QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("tree/locked")));
        QVERIFY(writeFile(planted + QStringLiteral("/inside.txt"), "inside"));
        QCOMPARE(::chmod(QFile::encodeName(planted).constData(), 0), 0);
    }
    // The program runs as another user where the tests run as root, who reads any folder.
    QCOMPARE(::chmod(QFile::encodeName(m_dir->path()).constData(), 0755), 0);

    CliStart start{{QStringLiteral("verify"), QStringLiteral("-r"), QStringLiteral("-m"),
                    QStringLiteral("1"), QStringLiteral("tree")},
                   m_dir->path(),
                   Input::Pipe,
                   kPassword.toUtf8() + '\n'};
    start.unprivileged = true;
    const CliRun run = runProgram(start);
    ::chmod(QFile::encodeName(planted).constData(), 0755);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.errLines(), (QStringList{line, QStringLiteral("1 done, 1 failed")}));
#endif
}

void TestCli::namesNotUtf8_data()
{
    QTest::addColumn<QByteArrayList>("arguments"); // after the command, the method and password
    QTest::addColumn<QByteArrayList>("refused");   // files that must stay as they are
    QTest::addColumn<QByteArrayList>("encrypted"); // files that must be encrypted
    QTest::addColumn<QStringList>("lines");        // the failure lines, in order
    const QByteArray bad("bad\xff");
    // What Qt decodes bad to: the name of another file.
    const QByteArray lookalike("bad\xef\xbf\xbd");
    const QString shown = QStringLiteral("bad") + QChar(QChar::ReplacementCharacter);
    const QString refusal =
        QStringLiteral(": the name is not valid UTF-8, which this program cannot handle");
    QTest::newRow("named, beside the file its decoding names")
        << QByteArrayList{bad, "good"} << QByteArrayList{bad, lookalike} << QByteArrayList{"good"}
        << QStringList{shown + refusal};
    QTest::newRow("two named that decode alike")
        << QByteArrayList{bad, "bad\xfe", "good"} << QByteArrayList{bad, "bad\xfe"}
        << QByteArrayList{"good"} << QStringList{shown + refusal, shown + refusal};
    QTest::newRow("-r: a file beside the file its decoding names")
        << QByteArrayList{"-r", "tree"} << QByteArrayList{"tree/" + bad}
        << QByteArrayList{"tree/" + lookalike, "tree/good"}
        << QStringList{QStringLiteral("tree/") + shown + refusal};
    QTest::newRow("-r: a folder, and what is in it")
        << QByteArrayList{"-r", "tree"} << QByteArrayList{"tree/folder\xff/inside"}
        << QByteArrayList{"tree/good"}
        << QStringList{QStringLiteral("tree/folder") + QChar(QChar::ReplacementCharacter) +
                       refusal};
}

// A name that is not UTF-8 reaches the program as bytes: it is refused with a line that says
// why and counted as failed, never taken for the file whose name its lossy decoding gives, and
// the other files go on.
void TestCli::namesNotUtf8()
{
#ifndef Q_OS_UNIX
    QSKIP("names are UTF-16 on Windows, and reach the program as they are");
#else
    QFETCH(QByteArrayList, arguments);
    QFETCH(QByteArrayList, refused);
    QFETCH(QByteArrayList, encrypted);
    QFETCH(QStringList, lines);
    BytesNamedFiles files(m_dir->path());
    QHash<QByteArray, QByteArray> plain;
    for (const QByteArray& file : refused + encrypted) {
        plain.insert(file, file + QByteArray(" plain text\n").repeated(1000));
        QVERIFY2(files.write(file, plain.value(file)), file.constData());
    }

    CliStart start{{}, m_dir->path(), Input::NullDevice, {}};
    start.byteArguments =
        QByteArrayList{"encrypt", "-m", "1", "--password-file",
                       QFile::encodeName(passwordFile(kPassword.toUtf8() + '\n'))} +
        arguments;
    const CliRun run = runProgram(start);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.errLines(),
             lines +
                 QStringList{
                     QStringLiteral("%1 done, %2 failed").arg(encrypted.size()).arg(lines.size())});
    for (const QByteArray& file : refused)
        QVERIFY2(files.read(file) == plain.value(file), file.constData());
    for (const QByteArray& file : encrypted) {
        QVERIFY2(files.read(file) != plain.value(file), file.constData());
        QVERIFY2(decryptWithCommand(files.path(file), 1, kPassword), file.constData());
        QVERIFY2(files.read(file) == plain.value(file), file.constData());
    }
#endif
}

void TestCli::formatCharactersShownReplaced_data()
{
    QTest::addColumn<QString>("text"); // the file's name and its hint
    QTest::addColumn<QString>("shown");
    const QString r(QChar::ReplacementCharacter);
    QTest::newRow("a right-to-left override")
        << QStringLiteral("invoice\u202Etxt.exe")
        << QStringLiteral("invoice") + r + QStringLiteral("txt.exe");
    QTest::newRow("isolates") << QStringLiteral("a\u2066b\u2067c\u2068d\u2069")
                              << QStringLiteral("a") + r + u'b' + r + u'c' + r + u'd' + r;
    QTest::newRow("invisible marks") << QStringLiteral("a\u200Bb\u200Fc\u00ADd")
                                     << QStringLiteral("a") + r + u'b' + r + u'c' + r + u'd';
    QTest::newRow("a format character beyond the first plane")
        << QStringLiteral("tag") + QString::fromUcs4(U"\U000E0041", 1) + QStringLiteral("ged")
        << QStringLiteral("tag") + r + QStringLiteral("ged");
    QTest::newRow("an escape sequence")
        << QStringLiteral("\x1b[31mred") << r + QStringLiteral("[31mred");
}

// A name and a hint are anyone's choice: what would act on the terminal, or on how the text
// around it shows (a right-to-left override makes one name look like another), is shown as
// U+FFFD, in the hint above the prompt and in the name of the line that reports the file.
void TestCli::formatCharactersShownReplaced()
{
#ifndef Q_OS_UNIX
    QSKIP("the hint shows on the terminal, here a POSIX pseudo-terminal");
#else
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QVERIFY(writeFile(path(text), content(80)));
    QVERIFY(encryptWithCommand(path(text), 3, kPassword, text));

    PseudoTerminal tty;
    QVERIFY(!tty.device().isEmpty());
    QProcess process;
    startCli(process, {{QStringLiteral("decrypt"), QStringLiteral("-m"), QStringLiteral("3"), text},
                       m_dir->path(),
                       Input::Terminal,
                       {},
                       {},
                       tty.device()});
    QVERIFY(process.waitForStarted());
    QVERIFY2(tty.waitFor(kPrompt), qPrintable(tty.shown()));
    tty.type(kPassword + u'x');
    tty.readToEnd();
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitCode(), 1);
    const QString terminal = tty.shown();
    QVERIFY2(terminal.contains(shown + u'\n' + kPrompt), qPrintable(terminal));
    QVERIFY2(terminal.contains(shown + QStringLiteral(": ") + kWrongPassword),
             qPrintable(terminal));
    for (const QChar c : text) {
        if (!shown.contains(c))
            QVERIFY2(!terminal.contains(c), qPrintable(QString::number(c.unicode(), 16)));
    }
#endif
}

// Ctrl-Z at the hidden prompt: while the program is stopped the terminal echoes again, as the
// shell and the user need it; when it goes on, echo is off again before the prompt shows anew,
// and the password typed then is taken and not shown.
void TestCli::stopAtThePrompt()
{
#ifndef Q_OS_LINUX
    QSKIP("whether the program is stopped is told from Linux's /proc");
#else
    const QString file = path(QStringLiteral("a.txt"));
    const QByteArray plain = content(90);
    QVERIFY(writeFile(file, plain));
    PseudoTerminal tty;
    QVERIFY(!tty.device().isEmpty());
    QProcess process;
    startCli(process, {{QStringLiteral("encrypt"), QStringLiteral("-m"), QStringLiteral("3"),
                        QStringLiteral("a.txt")},
                       m_dir->path(),
                       Input::Terminal,
                       {},
                       {},
                       tty.device()});
    QVERIFY(process.waitForStarted());
    const pid_t pid = pid_t(process.processId());
    QVERIFY2(tty.waitFor(kPrompt), qPrintable(tty.shown()));
    QVERIFY(!tty.echoes());

    QCOMPARE(::kill(pid, SIGTSTP), 0);
    QTRY_COMPARE_WITH_TIMEOUT(processState(pid), 'T', 120000);
    QVERIFY(tty.echoes());
    QCOMPARE(::kill(pid, SIGCONT), 0);
    QVERIFY2(tty.waitFor(kPrompt), qPrintable(tty.shown()));
    QVERIFY(!tty.echoes());

    tty.type(kPassword);
    QVERIFY2(tty.waitFor(kPromptAgain), qPrintable(tty.shown()));
    tty.type(kPassword);
    tty.readToEnd();
    QVERIFY(process.waitForFinished(120000));
    const QString shown = tty.shown();
    QCOMPARE(process.exitCode(), 0);
    QVERIFY2(!shown.contains(kPassword.trimmed()), qPrintable(shown));
    QVERIFY2(shown.endsWith(QStringLiteral("1 done, 0 failed\n")), qPrintable(shown));
    QVERIFY(decryptWithCommand(file, 3, kPassword));
    QVERIFY(readFile(file) == plain);
#endif
}

void TestCli::interruptLeavesTheFile_data()
{
    QTest::addColumn<bool>("encrypt");
    QTest::newRow("encrypt") << true;
    QTest::newRow("decrypt") << false;
}

// Ctrl-C in the middle of a large file: the program stops at the next chunk, discards what it
// wrote, leaves the file as it was and exits with 130.
void TestCli::interruptLeavesTheFile()
{
#ifndef Q_OS_LINUX
    QSKIP("Ctrl-C reaches a Windows program only through its console (GenerateConsoleCtrlEvent), "
          "which the tests under Wine do not have; how far the program has read is told from "
          "Linux's /proc");
#else
    QFETCH(bool, encrypt);
    const QString file = path(QStringLiteral("large.bin"));
    QVERIFY(writeFile(file, patternBytes(MiB, 40).repeated(96)));
    if (!encrypt)
        QVERIFY(encryptFile(file, 0, kPassword, QString()).done());
    const QByteArray before = readFile(file);
    const QString secret = passwordFile(kPassword.toUtf8());

    QProcess process;
    startCli(process, {{encrypt ? QStringLiteral("encrypt") : QStringLiteral("decrypt"),
                        QStringLiteral("-m"), QStringLiteral("des"),
                        QStringLiteral("--password-file"), secret, file},
                       m_dir->path(),
                       Input::NullDevice,
                       {},
                       {}});
    QVERIFY(process.waitForStarted());
    bool sent = false;
    while (!sent && process.state() == QProcess::Running) {
        if (readPosition(process.processId(), file) >= before.size() / 4) {
            ::kill(pid_t(process.processId()), SIGINT);
            sent = true;
        }
        QThread::msleep(5);
    }
    QVERIFY(process.waitForFinished(120000));
    QVERIFY2(sent, "the program ended before it had read a quarter of the file");
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 130);
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(err.startsWith(file + QStringLiteral(": interrupted")), qPrintable(err));
    QVERIFY(readFile(file) == before);
    QCOMPARE(folderEntries(m_dir->path()), QStringList{QStringLiteral("large.bin")});
#endif
}

// A Ctrl-C that comes after the new content has replaced the file, while the system still
// syncs it, does not make the file "as it was": what is reported is what the file is, the
// files after it are not started, and the exit status tells of the signal.
void TestCli::lateInterruptReportsTheFileDone()
{
#ifndef Q_OS_LINUX
    QSKIP("strace holds the program at its sync, which Linux's /proc shows");
#else
    const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    if (strace.isEmpty())
        QSKIP("strace is not installed: scripts/ensure-packages.sh installs it");
    const QStringList names{QStringLiteral("a.bin"), QStringLiteral("b.bin")};
    QByteArray plain[2];
    for (int i = 0; i < 2; ++i) {
        plain[i] = content(100 + i);
        QVERIFY(writeFile(path(names[i]), plain[i]));
    }
    CliStart start{{QStringLiteral("encrypt"), QStringLiteral("-m"), QStringLiteral("rc4"),
                    QStringLiteral("--password-file"), passwordFile(kPassword.toUtf8() + '\n')},
                   m_dir->path(),
                   Input::NullDevice,
                   {}};
    start.arguments += names;
    // Every sync waits three seconds at its start, time enough for the signal to come within.
    start.wrapper = QStringList{strace,
                                QStringLiteral("-f"),
                                QStringLiteral("-o"),
                                QStringLiteral("/dev/null"),
                                QStringLiteral("-e"),
                                QStringLiteral("inject=fdatasync,fsync:delay_enter=3000000")};
    QProcess process;
    startCli(process, start);
    QVERIFY(process.waitForStarted());

    // The new content of a.bin is written beside it, and synced before it replaces a.bin.
    const QString folder = QDir(m_dir->path()).canonicalPath() + u'/';
    qint64 cli = 0;
    bool sent = false;
    while (!sent && !process.waitForFinished(5)) {
        // strace starts other children of its own first.
        if (cli == 0)
            cli = childRunning(process.processId(), QStringLiteral(VIRELLOCK_CLI));
        const QStringList synced = cli == 0 ? QStringList() : filesBeingSynced(cli);
        if (std::any_of(synced.begin(), synced.end(),
                        [&folder](const QString& file) { return file.startsWith(folder); })) {
            ::kill(pid_t(cli), SIGINT);
            sent = true;
        }
    }
    QVERIFY(process.waitForFinished(120000));
    QVERIFY2(sent, "the program was never seen syncing a file of the folder");
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 130);
    const QStringList lines =
        QString::fromUtf8(process.readAllStandardError()).split(u'\n', Qt::SkipEmptyParts);
    if (readFile(path(names[0])) == plain[0]) {
        QCOMPARE(lines,
                 (QStringList{QStringLiteral("a.bin: interrupted, the file is as it was"),
                              QStringLiteral("interrupted: 0 done, 0 failed, 2 not started")}));
    } else {
        QCOMPARE(lines,
                 QStringList{QStringLiteral("interrupted: 1 done, 0 failed, 1 not started")});
        QVERIFY(decryptWithCommand(path(names[0]), 1, kPassword));
        QVERIFY(readFile(path(names[0])) == plain[0]);
    }
    QVERIFY(readFile(path(names[1])) == plain[1]);
    QCOMPARE(folderEntries(m_dir->path()), names);
#endif
}

void TestCli::usage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("expected"); // the start of standard output, or of standard error
    const QString x = QStringLiteral("x.txt");
    QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << 0
                            << "Usage: virellock-cli encrypt [-m METHOD]";
    QTest::newRow("-h after a command")
        << QStringList{QStringLiteral("decrypt"), QStringLiteral("-h")} << 0
        << "Usage: virellock-cli encrypt [-m METHOD]";
    QTest::newRow("--version") << QStringList{QStringLiteral("--version")} << 0
                               << "virellock-cli " VIRELLOCK_VERSION_TEXT "\n";
    QTest::newRow("nothing") << QStringList{} << 2
                             << "virellock-cli: no command: encrypt, decrypt or verify\n"
                                "Try 'virellock-cli --help'.\n";
    QTest::newRow("unknown command") << QStringList{QStringLiteral("scramble"), x} << 2
                                     << "virellock-cli: unknown command 'scramble'";
    QTest::newRow("unknown option")
        << QStringList{QStringLiteral("encrypt"), QStringLiteral("--password"), x} << 2
        << "virellock-cli: Unknown option 'password'";
    QTest::newRow("unknown method")
        << QStringList{QStringLiteral("encrypt"), QStringLiteral("-m"), QStringLiteral("5"), x} << 2
        << "virellock-cli: unknown method '5'";
    QTest::newRow("no file") << QStringList{QStringLiteral("verify")} << 2
                             << "virellock-cli: no FILE given";
    QTest::newRow("--hint to decrypt")
        << QStringList{QStringLiteral("decrypt"), QStringLiteral("--hint"), QStringLiteral("h"), x}
        << 2 << "virellock-cli: --hint goes with encrypt only";
    // A Windows command line holds 32767 characters in all: such a hint cannot be given there.
#ifndef Q_OS_WIN
    QTest::newRow("a hint longer than the window's box")
        << QStringList{QStringLiteral("encrypt"), QStringLiteral("--hint"), QString(32768, u'h'), x}
        << 2 << "virellock-cli: the hint is longer than 32767 characters";
#endif
    QTest::newRow("two password sources")
        << QStringList{QStringLiteral("encrypt"),
                       QStringLiteral("--password-file"),
                       x,
                       QStringLiteral("--password-fd"),
                       QStringLiteral("0"),
                       x}
        << 2 << "virellock-cli: --password-file and --password-fd exclude each other";
    QTest::newRow("a descriptor that is no number")
        << QStringList{QStringLiteral("encrypt"), QStringLiteral("--password-fd"),
                       QStringLiteral("stdin"), x}
        << 2 << "virellock-cli: --password-fd takes a file descriptor number";
    QTest::newRow("-m twice") << QStringList{QStringLiteral("encrypt"), QStringLiteral("-m1"),
                                             QStringLiteral("-m2"), x}
                              << 2 << "virellock-cli: --method given more than once";
}

// Help and version on standard output with 0; a usage error on standard error with 2, before
// any password is read or any file touched.
void TestCli::usage()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, expected);
    const QByteArray plain = content(50);
    QVERIFY(writeFile(path(QStringLiteral("x.txt")), plain));
    const CliRun run = runCli(arguments, m_dir->path());
    QCOMPARE(run.exitCode, exitCode);
    const QString& shown = exitCode == 0 ? run.out : run.err;
    QVERIFY2(shown.startsWith(expected), qPrintable(shown));
    QVERIFY((exitCode == 0 ? run.err : run.out).isEmpty());
    QVERIFY(readFile(path(QStringLiteral("x.txt"))) == plain);
}

// The options and the methods that --help lists are those the manual page describes.
void TestCli::helpMatchesManualPage()
{
    const CliRun help = runCli({QStringLiteral("--help")}, m_dir->path());
    QCOMPARE(help.exitCode, 0);
    QStringList fromHelp;
    bool inList = false;
    for (const QString& line : help.out.split(u'\n')) {
        if (line.startsWith(QLatin1String("Options:")) || line.startsWith(QLatin1String("Methods")))
            inList = true;
        else if (line.isEmpty())
            inList = false;
        else if (const std::optional<QString> name = listedName(line); inList && name)
            fromHelp.append(*name);
    }

    QFile manual(QStringLiteral(VIRELLOCK_CLI_MANUAL));
    QVERIFY(manual.open(QIODevice::ReadOnly));
    QStringList fromManual;
    QString section;
    bool tag = false; // the line after .TP: the paragraph's tag
    for (QString line : QString::fromUtf8(manual.readAll()).split(u'\n')) {
        if (line.startsWith(QLatin1String(".SH ")))
            section = line.mid(4);
        if (tag && (section == QLatin1String("OPTIONS") || section == QLatin1String("METHODS"))) {
            // roff: "\fB\-m\fR, \fB\-\-method\fR \fIMETHOD\fR"
            line.remove(QRegularExpression(QStringLiteral("\\\\f[BIRP]")));
            line.replace(QStringLiteral("\\-"), QStringLiteral("-"));
            fromManual.append(listedName(line).value_or(QStringLiteral("unreadable tag: ") + line));
        }
        tag = line == QLatin1String(".TP");
    }

    QVERIFY(fromHelp.contains(QStringLiteral("--password-file")));
    QVERIFY(fromHelp.contains(QStringLiteral("4 md5-enhanced")));
    fromHelp.sort();
    fromManual.sort();
    QCOMPARE(fromHelp, fromManual);
}

void TestCli::leftoversRemovedOnlyByRewrites_data()
{
    QTest::addColumn<QStringList>("arguments"); // FILE stands for a file to work on
    QTest::addColumn<bool>("removes");
    const QString file = QStringLiteral("FILE");
    QTest::newRow("verify") << QStringList{QStringLiteral("verify"), QStringLiteral("-m1"), file}
                            << false;
    QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << false;
    QTest::newRow("--version") << QStringList{QStringLiteral("--version")} << false;
    QTest::newRow("usage error") << QStringList{QStringLiteral("encrypt")} << false;
    QTest::newRow("encrypt") << QStringList{QStringLiteral("encrypt"), QStringLiteral("-m1"), file}
                             << true;
    QTest::newRow("decrypt") << QStringList{QStringLiteral("decrypt"), QStringLiteral("-m1"), file}
                             << true;
}

// What killed rewrites left is removed before a command that rewrites files, and only then.
void TestCli::leftoversRemovedOnlyByRewrites()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, removes);
    const QString target = path(QStringLiteral("report.txt"));
    const QString leftover = temporaryPathFor(target);
    QVERIFY(writeFile(target, "encrypted bytes"));
    QVERIFY(writeFile(leftover, "plain text a killed run left"));
    QProcess ended;
    ended.start(QCoreApplication::applicationFilePath(), {QStringLiteral("-no-such-option")});
    QVERIFY(ended.waitForStarted());
    const qint64 endedId = ended.processId();
    QVERIFY(ended.waitForFinished());
    QVERIFY(detail::writeLeftoverRecord(target, leftover, endedId, 100));
    QVERIFY(writeFile(path(QStringLiteral("other.txt")), "some text"));
    arguments.replaceInStrings(QStringLiteral("FILE"), path(QStringLiteral("other.txt")));
    if (arguments.size() > 1)
        arguments << QStringLiteral("--password-file") << passwordFile(kPassword.toUtf8() + '\n');

    const CliRun run = runProgram({arguments, m_dir->path(), Input::NullDevice, {}, {}});
    QVERIFY(run.finished);
    if (removes) {
        QVERIFY(!QFileInfo::exists(leftover));
    } else {
        QCOMPARE(readFile(leftover), QByteArray("plain text a killed run left"));
        removeLeftoverFiles();
    }
    QCOMPARE(readFile(target), QByteArray("encrypted bytes"));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
