// A path that names no regular file (a FIFO, a device, a folder) is refused before anything
// waits on it or reads it, by every command, with the reason in the log and nothing written.

#include "engine/decrypt_command.h"
#include "engine/decrypted_file.h"
#include "engine/encrypt_command.h"
#include "engine/encrypted_file.h"
#include "support/command_inputs.h"
#include "support/file_helpers.h"
#include "support/job_log.h"
#include "support/scripted_host_services.h"

#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <functional>
#include <future>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace virellock;
using namespace virellock::test;

namespace {

const QString kPassword = QStringLiteral("not a file 文件");
const QString kNotRegular = QStringLiteral("not a regular file");

enum class Operation
{
    Encrypt,
    Decrypt,
    Verify, // decrypting with checkOnly
    ReadRecord,
};

// What the path in the test's folder names; a device is the system's own.
enum class Kind
{
    Fifo,
    Device,
    Folder,
};

// Long enough for the slowest machine to open a file and give up on it, short enough that a
// call that blocks fails the test rather than hanging it.
constexpr auto kPatience = std::chrono::seconds(10);

// Runs call on a thread of its own and waits for it with patience; a reader blocked in opening
// a FIFO is let go by a writer that comes and goes. Nothing when the call blocked.
template <typename Result>
std::optional<Result> unlessBlocked(std::function<Result()> call, const QString& fifo)
{
    std::future<Result> running = std::async(std::launch::async, std::move(call));
    if (running.wait_for(kPatience) == std::future_status::ready)
        return running.get();
#ifndef Q_OS_WIN
    if (!fifo.isEmpty()) {
        const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            ::close(writer);
    }
#else
    Q_UNUSED(fifo);
#endif
    running.wait();
    return std::nullopt;
}

} // namespace

Q_DECLARE_METATYPE(Operation)
Q_DECLARE_METATYPE(Kind)

class TestNonRegularFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void refusedBeforeOpening_data();
    void refusedBeforeOpening();
    void commandsSayWhy_data();
    void commandsSayWhy();

private:
    void addKindRows(const std::function<void(const char* kind, Kind)>& add);
    // The path of that kind, made in the test's folder where it is not the system's.
    QString pathOf(Kind kind);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::optional<EnhancedRecord> m_records[5]; // of a genuine file of each enhanced method
};

void TestNonRegularFiles::initTestCase()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("genuine"));
    for (int method = 2; method < 5; ++method) {
        QVERIFY(writeFile(file, "a genuine file"));
        QCOMPARE(encryptFile(file, method, kPassword, QStringLiteral("hint")), JobOutcome::Done);
        m_records[method] = readEnhancedRecordFile(file);
        QVERIFY(m_records[method]);
    }
}

void TestNonRegularFiles::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestNonRegularFiles::addKindRows(const std::function<void(const char*, Kind)>& add)
{
#ifndef Q_OS_WIN
    add("FIFO", Kind::Fifo);
    add("/dev/zero", Kind::Device);
#else
    add("NUL", Kind::Device);
#endif
    add("folder", Kind::Folder);
}

QString TestNonRegularFiles::pathOf(Kind kind)
{
    switch (kind) {
    case Kind::Fifo: {
        const QString path = m_dir->filePath(QStringLiteral("fifo"));
#ifndef Q_OS_WIN
        if (::mkfifo(QFile::encodeName(path).constData(), 0600) != 0)
            return {};
#endif
        return path;
    }
    case Kind::Device:
#ifdef Q_OS_WIN
        return QStringLiteral("\\\\.\\NUL");
#else
        return QStringLiteral("/dev/zero");
#endif
    case Kind::Folder: {
        const QString path = m_dir->filePath(QStringLiteral("folder"));
        return QDir().mkdir(path) ? path : QString();
    }
    }
    return {};
}

void TestNonRegularFiles::refusedBeforeOpening_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<int>("method");
    addKindRows([](const char* kind, Kind k) {
        for (int method = 0; method < 5; ++method) {
            QTest::addRow("%s, encrypt, method %d", kind, method)
                << k << Operation::Encrypt << method;
            QTest::addRow("%s, decrypt, method %d", kind, method)
                << k << Operation::Decrypt << method;
            QTest::addRow("%s, verify, method %d", kind, method)
                << k << Operation::Verify << method;
        }
        QTest::addRow("%s, read the record", kind) << k << Operation::ReadRecord << 4;
    });
}

// Every way the engine opens a user's file refuses a path that names no regular file, at
// once, saying so, and writes nothing; an enhanced file's record was read from a genuine file
// that the path named before.
void TestNonRegularFiles::refusedBeforeOpening()
{
    QFETCH(Kind, kind);
    QFETCH(Operation, operation);
    QFETCH(int, method);
    const QString path = pathOf(kind);
    QVERIFY(!path.isEmpty());
    const QStringList entries = folderEntries(m_dir->path());
    const std::optional<EnhancedRecord> record = m_records[method];

    const std::optional<JobResult> result = unlessBlocked<JobResult>(
        [&]() -> JobResult {
            JobOptions options;
            options.checkOnly = operation == Operation::Verify;
            switch (operation) {
            case Operation::Encrypt:
                return encryptFile(path, method, kPassword, QStringLiteral("hint"));
            case Operation::ReadRecord:
                return readEnhancedRecordOrFailure(path).failure;
            case Operation::Decrypt:
            case Operation::Verify:
                break;
            }
            const Method m = *methodFromIndex(method);
            if (!isEnhanced(m))
                return decryptStandardFile(path, *cipherOf(m), kPassword, options);
            return restoreEnhancedFile(path, m, *record, kPassword, options);
        },
        kind == Kind::Fifo ? path : QString());
    QVERIFY2(result, "the call blocked");
    QCOMPARE(result->outcome, JobOutcome::SourceUnreadable);
    QCOMPARE(result->step, JobStep::OpenFile);
    QCOMPARE(result->detail, kNotRegular);
    QCOMPARE(folderEntries(m_dir->path()), entries);
}

void TestNonRegularFiles::commandsSayWhy_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<bool>("encrypting");
    QTest::addColumn<int>("method");
    addKindRows([](const char* kind, Kind k) {
        for (int method = 0; method < 5; ++method) {
            for (bool encrypting : {true, false})
                QTest::addRow("%s, %s, method %d", kind, encrypting ? "encrypt" : "decrypt", method)
                    << k << encrypting << method;
        }
    });
}

// The commands end with their failure message, as for any file they cannot read; the log says
// why. The enhanced methods find out as they look for the record, before any prompt.
void TestNonRegularFiles::commandsSayWhy()
{
    QFETCH(Kind, kind);
    QFETCH(bool, encrypting);
    QFETCH(int, method);
    const QString path = pathOf(kind);
    QVERIFY(!path.isEmpty());
    const QStringList entries = folderEntries(m_dir->path());

    const JobLog log;
    ScriptedHostServices host;
    const std::optional<CommandOutcome> outcome = unlessBlocked<CommandOutcome>(
        [&] {
            if (encrypting)
                return runEncryptCommand(encryptInputs(method, kPassword, {}, {path}), host);
            host.answers = {Answer::Yes};
            if (method < 2)
                host.typedTexts = {kPassword};
            return runDecryptCommand(decryptInputs(method, {path}), host);
        },
        kind == Kind::Fifo ? path : QString());
    QVERIFY2(outcome, "the command blocked");
    QCOMPARE(*outcome, CommandOutcome::Failed);
    QCOMPARE(host.unexpectedCalls, 0);
    QVERIFY(!host.messages.isEmpty());
    QCOMPARE(host.messages.constLast().style, MessageStyle::Error);
    QVERIFY2(log.has({path, QStringLiteral("failed: opening the file"), kNotRegular}),
             qPrintable(log.lines.join(u'\n')));
    QCOMPARE(folderEntries(m_dir->path()), entries);
}

QTEST_GUILESS_MAIN(TestNonRegularFiles)
#include "tst_non_regular_files.moc"
