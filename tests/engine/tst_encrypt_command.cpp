#include "engine/encrypt_command.h"
#include "engine/encrypted_file.h"
#include "host/data_ops/data_ops.h"
#include "host/data_ops/password_check.h"
#include "host/file_format/typed_data.h"
#include "support/command_inputs.h"
#include "support/file_helpers.h"
#include "support/job_log.h"
#include "support/scripted_host_services.h"
#include "support/test_bytes.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <zstd.h>

#include <memory>

using namespace virellock;
using namespace virellock::test;

namespace {

const QString kPassword = QStringLiteral("pass 密码");

ShownMessage error(const char* text)
{
    return {QString::fromUtf8(text), MessageStyle::Error, QStringLiteral("错误:")};
}

const ShownMessage kSuccess{QStringLiteral("对该文件加密成功,请牢记你的密码!"),
                            MessageStyle::Information, QStringLiteral("恭喜:")};
const ShownMessage kFailure = error("对该文件加密失败!");

struct Record
{
    QByteArray check;
    QString hint;
    QByteArray payload;
};

std::optional<Record> readRecord(const QString& path)
{
    QFile file(path);
    Record record;
    if (!file.open(QIODevice::ReadOnly) ||
        !ReadTypedData(file, record.check, record.hint, record.payload))
        return std::nullopt;
    return record;
}

// Whatever zstd itself can decompress from any frame start in the data, frame after frame,
// cut short where it fails: more than the program would accept.
QByteArray everythingDecompressible(const QByteArray& data)
{
    struct Free
    {
        void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
    };
    QByteArray out;
    QByteArray buffer(qsizetype(ZSTD_DStreamOutSize()), Qt::Uninitialized);
    const QByteArray magic = QByteArray::fromHex("28b52ffd");
    for (qsizetype at = data.indexOf(magic); at >= 0; at = data.indexOf(magic, at + 1)) {
        const std::unique_ptr<ZSTD_DCtx, Free> context(ZSTD_createDCtx());
        ZSTD_inBuffer in{data.constData() + at, std::size_t(data.size() - at), 0};
        for (bool outputFull = false; in.pos < in.size || outputFull;) {
            ZSTD_outBuffer piece{buffer.data(), std::size_t(buffer.size()), 0};
            const std::size_t result = ZSTD_decompressStream(context.get(), &piece, &in);
            out.append(buffer.constData(), qsizetype(piece.pos));
            if (ZSTD_isError(result) || (piece.pos == 0 && in.pos == in.size))
                break;
            outputFull = piece.pos == piece.size;
        }
    }
    return out;
}

} // namespace

class TestEncryptCommand : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void checks_data();
    void checks();
    void cancelledDialogChangesNothing();
    void methodsWriteTheirLayout_data();
    void methodsWriteTheirLayout();
    void md5PayloadIgnoresThePassword();
    void passwordAppearsNowhere_data();
    void passwordAppearsNowhere();
    void fileCases_data();
    void fileCases();
    void encryptingTwiceNestsLayers();
    void readBackCatchesABadWrite_data();
    void readBackCatchesABadWrite();
    void preparedKeysServeOneFile_data();
    void preparedKeysServeOneFile();
    void keysOfAnotherMethodAreNotUsed();

private:
    QString path(const QString& name) const { return m_dir->filePath(name); }
    ShownMessage encrypt(const QString& file, int method, const JobOptions& options = {});

    std::unique_ptr<QTemporaryDir> m_dir;
    EncryptInputs m_inputs;
    ScriptedHostServices m_host;
};

void TestEncryptCommand::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_inputs = encryptInputs(4, kPassword, QStringLiteral("提示 hint"));
    m_host = {};
}

// Runs the command on file with the method; returns its one message.
ShownMessage TestEncryptCommand::encrypt(const QString& file, int method, const JobOptions& options)
{
    m_host = {};
    m_host.chosenFiles = {file};
    m_inputs.methodIndex = method;
    runEncryptCommand(m_inputs, m_host, options);
    if (m_host.messages.size() != 1 || m_host.unexpectedCalls != 0)
        return {QStringLiteral("expected one message and no unexpected call"), {}, {}};
    return m_host.messages.first();
}

void TestEncryptCommand::checks_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("confirmation");
    QTest::addColumn<QString>("message"); // empty: the checks pass

    QTest::newRow("no method, empty boxes") << -1 << ""
                                            << ""
                                            << "请先选择一种加密方式!";
    QTest::newRow("both empty") << 0 << ""
                                << ""
                                << "请将密码输入完整!";
    QTest::newRow("password of blanks only") << 1 << "  \u3000 "
                                             << "  \u3000 "
                                             << "请将密码输入完整!";
    QTest::newRow("blank confirmation") << 2 << "secret"
                                        << "   "
                                        << "请将密码输入完整!";
    QTest::newRow("empty confirmation") << 3 << "secret"
                                        << ""
                                        << "请将密码输入完整!";
    QTest::newRow("leading blank differs") << 4 << " secret"
                                           << "secret"
                                           << "两次密码不一致,请重新输入!";
    QTest::newRow("case differs") << 0 << "Secret"
                                  << "secret"
                                  << "两次密码不一致,请重新输入!";
    QTest::newRow("inner blank typed the same") << 0 << "sec ret"
                                                << "sec ret"
                                                << "";
}

void TestEncryptCommand::checks()
{
    QFETCH(int, index);
    QFETCH(QString, password);
    QFETCH(QString, confirmation);
    QFETCH(QString, message);

    const QString file = path(QStringLiteral("plain.txt"));
    QVERIFY(writeFile(file, "some plain text"));
    m_inputs.methodIndex = index;
    m_inputs.password = password;
    m_inputs.confirmation = confirmation;
    m_host.chosenFiles = {file};
    runEncryptCommand(m_inputs, m_host);

    QCOMPARE(m_host.messages.size(), 1);
    if (!message.isEmpty()) {
        QCOMPARE(m_host.messages.first(), error(message.toUtf8().constData()));
        QVERIFY(m_host.dialogTitles.isEmpty());
        QCOMPARE(readFile(file), QByteArray("some plain text"));
        return;
    }
    QCOMPARE(m_host.messages.first(), kSuccess);
    QCOMPARE(m_host.dialogTitles, QStringList{QStringLiteral("打开欲加密的文件:")});
    // Encrypted with the password exactly as typed, inner blank included.
    QCOMPARE(DecryptData(readFile(file), password, 1), QByteArray("some plain text"));
    QVERIFY(!DecryptData(readFile(file), QStringLiteral("secret"), 1));
}

void TestEncryptCommand::cancelledDialogChangesNothing()
{
    const QString file = path(QStringLiteral("plain.txt"));
    QVERIFY(writeFile(file, "unchanged"));
    m_host.chosenFiles = {std::nullopt};
    runEncryptCommand(m_inputs, m_host);
    QVERIFY(m_host.messages.isEmpty());
    QCOMPARE(m_host.dialogTitles.size(), 1);
    QCOMPARE(readFile(file), QByteArray("unchanged"));
    QCOMPARE(folderEntries(m_dir->path()), QStringList{QStringLiteral("plain.txt")});
}

void TestEncryptCommand::methodsWriteTheirLayout_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<QString>("hint");
    QTest::newRow("DES standard") << 0 << "";
    QTest::newRow("RC4 standard") << 1 << "";
    QTest::newRow("DES enhanced") << 2 << "生日";
    QTest::newRow("RC4 enhanced, empty hint") << 3 << "";
    QTest::newRow("MD5 enhanced") << 4 << " hint with blanks ";
}

void TestEncryptCommand::methodsWriteTheirLayout()
{
    QFETCH(int, method);
    QFETCH(QString, hint);

    const QByteArray plain = patternBytes(3 * 1024 * 1024 + 5, 1) + QByteArray(100000, 'a');
    const QString file = path(QStringLiteral("data.bin"));
    QVERIFY(writeFile(file, plain));
    m_inputs.hint = hint;
    QCOMPARE(encrypt(file, method), kSuccess);
    QCOMPARE(folderEntries(m_dir->path()), QStringList{QStringLiteral("data.bin")});

    const QByteArray content = readFile(file);
    if (method < 2) {
        // Bare cipher output and nothing else.
        QCOMPARE(DecryptData(content, kPassword, method + 1), plain);
        QVERIFY(!readRecord(file));
        return;
    }
    const std::optional<Record> record = readRecord(file);
    QVERIFY(record);
    QVERIFY(dataops::verifyPasswordCheck(record->check, kPassword));
    QCOMPARE(record->hint, hint);
    if (method == 4)
        QCOMPARE(DecompressData(record->payload), plain);
    else
        QCOMPARE(DecryptData(record->payload, kPassword, method - 1), plain);
}

void TestEncryptCommand::md5PayloadIgnoresThePassword()
{
    const QByteArray plain = QByteArray("same content\n").repeated(1000);
    QByteArray payloads[2];
    const QString passwords[2] = {QStringLiteral("first"), QStringLiteral("second")};
    for (int i = 0; i < 2; ++i) {
        const QString file = path(QStringLiteral("file%1").arg(i));
        QVERIFY(writeFile(file, plain));
        m_inputs.password = m_inputs.confirmation = passwords[i];
        QCOMPARE(encrypt(file, 4), kSuccess);
        const auto record = readRecord(file);
        QVERIFY(record);
        QVERIFY(dataops::verifyPasswordCheck(record->check, passwords[i]));
        payloads[i] = record->payload;
    }
    QCOMPARE(payloads[0], payloads[1]);
}

void TestEncryptCommand::passwordAppearsNowhere_data()
{
    QTest::addColumn<int>("method");
    QTest::newRow("DES enhanced") << 2;
    QTest::newRow("RC4 enhanced") << 3;
    QTest::newRow("MD5 enhanced") << 4;
}

void TestEncryptCommand::passwordAppearsNowhere()
{
    QFETCH(int, method);
    const QString password = QStringLiteral("Unmistakable口令");
    const QString file = path(QStringLiteral("doc.txt"));
    QVERIFY(writeFile(file, "a document that does not contain the password"));
    m_inputs.password = m_inputs.confirmation = password;
    QCOMPARE(encrypt(file, method), kSuccess);

    const QByteArray content = readFile(file);
    const QByteArray decompressed = everythingDecompressible(content);
    for (const QByteArray& form :
         {password.toUtf8(), password.toLocal8Bit(),
          QByteArray(reinterpret_cast<const char*>(password.utf16()), password.size() * 2)}) {
        QVERIFY(!content.contains(form));
        QVERIFY(!decompressed.contains(form));
    }
    if (method == 4) // the payload decompressed: the check above looked at real output
        QVERIFY(decompressed.contains("a document"));
}

void TestEncryptCommand::fileCases_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<QString>("reason");  // in the log
    QTest::addColumn<QString>("beneath"); // beneath the failure text; empty for nothing
    QTest::newRow("empty file") << "empty" << QByteArray() << false << true << QString()
                                << QString();
    QTest::newRow("read-only file")
        << "locked" << QByteArray("keep") << true << false
        << QStringLiteral("the file may not be rewritten (the file is read-only)")
        << QStringLiteral("该文件是只读的");
    QTest::newRow("missing file") << "missing" << QByteArray() << false << false
                                  << QStringLiteral("opening the file") << QString();
    QTest::newRow("a folder") << "folder" << QByteArray() << false << false
                              << QStringLiteral("opening the file")
                              << QStringLiteral("这不是一个普通文件");
    QTest::newRow("blanks, Chinese and a leading dash")
        << "-文件 名.txt" << QByteArray("x") << false << true << QString() << QString();
}

void TestEncryptCommand::fileCases()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(bool, readOnly);
    QFETCH(bool, succeeds);
    QFETCH(QString, reason);
    QFETCH(QString, beneath);
    ShownMessage failure = kFailure;
    if (!beneath.isEmpty())
        failure.text += u'\n' + beneath;

    const QString file = path(name);
    if (name == QLatin1String("folder"))
        QVERIFY(QDir().mkdir(file));
    else if (name != QLatin1String("missing"))
        QVERIFY(writeFile(file, content));
    if (readOnly)
        makeReadOnly(file);
    const QStringList before = folderEntries(m_dir->path());

    for (int method = 0; method < 5; ++method) {
        const JobLog log;
        QCOMPARE(encrypt(file, method), succeeds ? kSuccess : failure);
        QCOMPARE(folderEntries(m_dir->path()), before);
        if (!succeeds) {
            QVERIFY2(log.has({file, QStringLiteral("failed: ") + reason}),
                     qPrintable(log.lines.join(u'\n')));
            if (QFileInfo(file).isFile())
                QCOMPARE(readFile(file), content);
            continue;
        }
        // Restore it for the next method, checking it on the way.
        const QByteArray encrypted = readFile(file);
        std::optional<QByteArray> plain;
        if (method < 2) {
            plain = DecryptData(encrypted, kPassword, method + 1);
        } else {
            const auto record = readRecord(file);
            QVERIFY(record);
            plain = method == 4 ? DecompressData(record->payload)
                                : DecryptData(record->payload, kPassword, method - 1);
        }
        QCOMPARE(plain, content);
        QVERIFY(writeFile(file, content));
    }
}

void TestEncryptCommand::encryptingTwiceNestsLayers()
{
    const QString file = path(QStringLiteral("twice"));
    QVERIFY(writeFile(file, "inner"));
    QCOMPARE(encrypt(file, 1), kSuccess);
    const QByteArray once = readFile(file);
    QCOMPARE(encrypt(file, 1), kSuccess);
    const auto outer = DecryptData(readFile(file), kPassword, 2);
    QVERIFY(outer);
    QCOMPARE(*outer, once);
    QCOMPARE(DecryptData(*outer, kPassword, 2), QByteArray("inner"));
}

void TestEncryptCommand::readBackCatchesABadWrite_data()
{
    QTest::addColumn<int>("method");
    for (int method = 0; method < 5; ++method)
        QTest::addRow("method %d", method) << method;
}

// A byte changed on its way to the disk is caught before the file is replaced.
void TestEncryptCommand::readBackCatchesABadWrite()
{
    QFETCH(int, method);
    const QString file = path(QStringLiteral("precious"));
    const QByteArray plain = patternBytes(200000, 9);
    QVERIFY(writeFile(file, plain));
    JobOptions options;
    options.beforeVerify = [](QIODevice& temporary) {
        const qint64 end = temporary.pos();
        temporary.seek(end - 40);
        temporary.write(badWrite());
        temporary.seek(end);
    };
    const JobLog log;
    QCOMPARE(encrypt(file, method, options), kFailure);
    QVERIFY2(log.has({QStringLiteral("failed: reading the temporary file back")}),
             qPrintable(log.lines.join(u'\n')));
    QCOMPARE(readFile(file), plain);
    QCOMPARE(folderEntries(m_dir->path()), QStringList{QStringLiteral("precious")});
}

void TestEncryptCommand::preparedKeysServeOneFile_data()
{
    QTest::addColumn<int>("method");
    for (int method = 0; method < 5; ++method)
        QTest::addRow("method %d", method) << method;
}

// The keys derived while the dialog is shown go to the first file only: two files of one run
// each get salts of their own (for RC4, one salt for two files would reuse the key stream), and
// both decrypt.
void TestEncryptCommand::preparedKeysServeOneFile()
{
    QFETCH(int, method);
    const QStringList files = {path(QStringLiteral("one")), path(QStringLiteral("two"))};
    const QByteArray plain = patternBytes(100000, 3);
    for (const QString& file : files)
        QVERIFY(writeFile(file, plain));
    m_host = {};
    m_host.chosenFiles = {files};
    m_inputs.methodIndex = method;
    runEncryptCommand(m_inputs, m_host);
    QCOMPARE(m_host.messages, QList<ShownMessage>{kSuccess});

    QList<QByteArray> salts; // of the payload and, for the enhanced methods, of the check
    for (const QString& file : files) {
        const QByteArray content = readFile(file);
        if (method < 2) {
            QCOMPARE(DecryptData(content, kPassword, method + 1), plain);
            salts.append(content.first(16));
            continue;
        }
        const std::optional<Record> record = readRecord(file);
        QVERIFY(record);
        QVERIFY(dataops::verifyPasswordCheck(record->check, kPassword));
        salts.append(record->check.first(16));
        if (method == 4) {
            QCOMPARE(DecompressData(record->payload), plain);
        } else {
            QCOMPARE(DecryptData(record->payload, kPassword, method - 1), plain);
            salts.append(record->payload.first(16));
        }
    }
    for (qsizetype i = 0; i < salts.size(); ++i)
        QCOMPARE(salts.count(salts.at(i)), qsizetype(1));
}

// Keys prepared for one method never encrypt with another: the file is written with the method
// it was asked for, under keys derived anew.
void TestEncryptCommand::keysOfAnotherMethodAreNotUsed()
{
    const QString file = path(QStringLiteral("plain"));
    const QByteArray plain("prepared for DES, written with RC4");
    QVERIFY(writeFile(file, plain));
    std::optional<EncryptionKeys> desKeys = deriveEncryptionKeys(Method::DesStandard, kPassword);
    QVERIFY(desKeys);
    const QByteArray desSalt = desKeys->salt;
    QCOMPARE(encryptFile(file, 1, kPassword, QString(), {}, std::move(desKeys)), JobOutcome::Done);
    const QByteArray content = readFile(file);
    QCOMPARE(DecryptData(content, kPassword, 2), plain);
    QVERIFY(content.first(16) != desSalt);
}

QTEST_GUILESS_MAIN(TestEncryptCommand)
#include "tst_encrypt_command.moc"
