#include "engine/decrypt_command.h"
#include "engine/decrypted_file.h"
#include "engine/encrypt_command.h"
#include "engine/encrypted_file.h"
#include "engine/parallel_cipher_job.h"
#include "engine/parallel_frame_job.h"
#include "host/data_ops/data_ops.h"
#include "host/data_ops/key_derivation.h"
#include "support/command_inputs.h"
#include "support/file_helpers.h"
#include "support/scripted_host_services.h"
#include "support/test_bytes.h"

#include <QTemporaryDir>
#include <QTest>

using namespace virellock;
using namespace virellock::test;

namespace {

constexpr qsizetype MiB = 1 << 20;
const QString kPassword = QStringLiteral("cancel me");

} // namespace

class TestCancelAndThreads : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cancelLeavesTheFile_data();
    void cancelLeavesTheFile();
    void cancelAtTheEnd_data();
    void cancelAtTheEnd();
    void threadsDoNotChangeTheOutput_data();
    void threadsDoNotChangeTheOutput();
    void threadsDoNotChangeTheFrames_data();
    void threadsDoNotChangeTheFrames();
    void rewriteWithThreads_data();
    void rewriteWithThreads();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestCancelAndThreads::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestCancelAndThreads::cancelLeavesTheFile_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<bool>("decrypting");
    for (int method = 0; method < 5; ++method) {
        QTest::addRow("encrypt, method %d", method) << method << false;
        QTest::addRow("decrypt, method %d", method) << method << true;
    }
}

// Cancelled halfway through a file of several chunks: silence, the file as it was, nothing
// left beside it.
void TestCancelAndThreads::cancelLeavesTheFile()
{
    QFETCH(int, method);
    QFETCH(bool, decrypting);
    const QString file = m_dir->filePath(QStringLiteral("large.bin"));
    QVERIFY(writeFile(file, patternBytes(6 * MiB + 123, 5)));
    const EncryptInputs encryptAs = encryptInputs(method, kPassword);

    if (decrypting) {
        ScriptedHostServices encryptHost;
        encryptHost.chosenFiles = {file};
        runEncryptCommand(encryptAs, encryptHost);
        QCOMPARE(encryptHost.messages.size(), 1);
        QCOMPARE(encryptHost.messages.first().style, MessageStyle::Information);
    }
    const QByteArray before = readFile(file);

    ScriptedHostServices host;
    host.chosenFiles = {file};
    host.answers = {Answer::Yes};
    host.typedTexts = {kPassword};
    host.cancelAt = 0.5;
    if (decrypting)
        runDecryptCommand(decryptInputs(method), host);
    else
        runEncryptCommand(encryptAs, host);

    QVERIFY(host.cancelled);
    QCOMPARE(host.progressTitles,
             QStringList{decrypting ? QStringLiteral("解密文件") : QStringLiteral("加密文件")});
    // Only the decrypt command's question; no outcome is reported.
    QCOMPARE(host.messages.size(), decrypting ? 1 : 0);
    QCOMPARE(readFile(file), before);
    QCOMPARE(folderEntries(m_dir->path()), QStringList{QStringLiteral("large.bin")});
}

void TestCancelAndThreads::cancelAtTheEnd_data()
{
    cancelLeavesTheFile_data();
}

// Cancelled at the last moment, once every piece has been written and read back and before the
// file is replaced: silence, and the file as it was.
void TestCancelAndThreads::cancelAtTheEnd()
{
    QFETCH(int, method);
    QFETCH(bool, decrypting);
    const QString file = m_dir->filePath(QStringLiteral("large.bin"));
    const QByteArray plain = patternBytes(6 * MiB, 8);
    QVERIFY(writeFile(file, plain));
    if (decrypting) {
        ScriptedHostServices encryptHost;
        encryptHost.chosenFiles = {file};
        runEncryptCommand(encryptInputs(method, kPassword), encryptHost);
        QCOMPARE(encryptHost.messages.first().style, MessageStyle::Information);
    }
    const QByteArray before = readFile(file);

    ScriptedHostServices host;
    host.chosenFiles = {file};
    host.answers = {Answer::Yes};
    host.typedTexts = {kPassword};
    bool cancelledAtTheEnd = false;
    JobOptions options;
    options.progress = [&cancelledAtTheEnd](qint64 done, qint64 total) {
        cancelledAtTheEnd = done == total;
        return !cancelledAtTheEnd;
    };
    if (decrypting)
        runDecryptCommand(decryptInputs(method), host, options);
    else
        runEncryptCommand(encryptInputs(method, kPassword), host, options);
    QVERIFY(cancelledAtTheEnd);
    // Only the decrypt command's question; no outcome is reported.
    QCOMPARE(host.messages.size(), decrypting ? 1 : 0);
    QVERIFY(readFile(file) == before);
    QCOMPARE(folderEntries(m_dir->path()), QStringList{QStringLiteral("large.bin")});
}

void TestCancelAndThreads::threadsDoNotChangeTheOutput_data()
{
    QTest::addColumn<int>("selector");
    QTest::addColumn<qsizetype>("size");
    for (int selector : {1, 2}) {
        for (qsizetype size : {qsizetype(0), 5 * MiB + 77, 4 * MiB}) {
            QTest::addRow("%s, %lld bytes", selector == 1 ? "DES" : "RC4",
                          static_cast<long long>(size))
                << selector << size;
        }
    }
}

// The parallel file path and the one-chunk-at-a-time path of EncryptData give the same bytes
// for the same salt, whatever the number of threads, and the parallel path opens them again.
void TestCancelAndThreads::threadsDoNotChangeTheOutput()
{
    QFETCH(int, selector);
    QFETCH(qsizetype, size);
    const auto algorithm = *dataops::cipherAlgorithmFromSelector(selector);
    const QByteArray plain = patternBytes(size, 6);
    const QByteArray salt = patternBytes(dataops::kSaltSize, 7);

    const auto cipher =
        dataops::ChunkCipher::derive(algorithm, dataops::passwordToBytes(kPassword), salt);
    QVERIFY(cipher);
    QByteArray expected;
    QVERIFY(cipher->sealAll(plain, expected));
    const QString plainFile = m_dir->filePath(QStringLiteral("plain"));
    QVERIFY(writeFile(plainFile, plain));
    for (int threads : {1, 2, 5}) {
        for (bool encrypt : {true, false}) {
            const QString source = encrypt ? plainFile : m_dir->filePath(QStringLiteral("sealed"));
            const QString target = m_dir->filePath(QStringLiteral("out"));
            if (!encrypt)
                QVERIFY(writeFile(source, expected));
            QFile input(source);
            QVERIFY(input.open(QIODevice::ReadOnly));
            AtomicFileWriter writer(target);
            QVERIFY(writer.open(std::max(expected.size(), plain.size())));
            CipherJob job;
            job.cipher = &*cipher;
            job.encrypt = encrypt;
            job.source = &input;
            job.length = input.size();
            job.writer = &writer;
            job.threads = threads;
            QCOMPARE(runCipherJob(job, {}), JobOutcome::Done);
            QVERIFY(writer.commit());
            QCOMPARE(readFile(target), encrypt ? expected : plain);
        }
    }
}

void TestCancelAndThreads::threadsDoNotChangeTheFrames_data()
{
    QTest::addColumn<QByteArray>("plain");
    const qsizetype F = dataops::kFrameContentSize;
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("one frame exactly, then an empty one") << textThenRandom(F, 12);
    QTest::newRow("two frames and a part") << textThenRandom(2 * F + 77, 12);
}

// The file job compresses its frames on any number of threads into the same bytes as
// CompressData, one frame after another, and decompresses them back.
void TestCancelAndThreads::threadsDoNotChangeTheFrames()
{
    QFETCH(QByteArray, plain);
    const std::optional<QByteArray> expected = CompressData(plain);
    QVERIFY(expected);
    const QString plainFile = m_dir->filePath(QStringLiteral("plain"));
    const QString compressedFile = m_dir->filePath(QStringLiteral("compressed"));
    QVERIFY(writeFile(plainFile, plain));
    QVERIFY(writeFile(compressedFile, *expected));
    for (int threads : {1, 2, 5}) {
        for (bool compress : {true, false}) {
            const QString target = m_dir->filePath(QStringLiteral("out"));
            QFile input(compress ? plainFile : compressedFile);
            QVERIFY(input.open(QIODevice::ReadOnly));
            AtomicFileWriter writer(target);
            QVERIFY(writer.open(std::max(expected->size(), plain.size())));
            FrameJob job;
            job.compress = compress;
            job.source = &input;
            job.length = input.size();
            job.writer = &writer;
            JobOptions options;
            options.threads = threads;
            QCOMPARE(runFrameJob(job, options), JobOutcome::Done);
            QVERIFY(writer.commit());
            QVERIFY(readFile(target) == (compress ? *expected : plain));
        }
    }
}

void TestCancelAndThreads::rewriteWithThreads_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<bool>("encrypt");
    QTest::addColumn<int>("threads");
    QTest::addColumn<QByteArray>("plain");
    const QByteArray random = patternBytes(9 * MiB + 5, 9);
    const QByteArray zeros(9 * MiB, '\0');
    const char* names[] = {"DES", "RC4", "", "", "MD5"};
    for (int method : {0, 1, 4}) {
        for (bool encrypt : {true, false}) {
            for (int threads : {1, 2, 8}) {
                const char* command = encrypt ? "encrypt" : "decrypt";
                QTest::addRow("%s %s, %d threads, random", names[method], command, threads)
                    << method << encrypt << threads << random;
                QTest::addRow("%s %s, %d threads, zeros", names[method], command, threads)
                    << method << encrypt << threads << zeros;
            }
        }
    }
}

// Files of several chunks or frames rewritten in place with pieces checked on other threads
// while the next ones are written: the result has exactly the size its format says, and
// round-trips.
void TestCancelAndThreads::rewriteWithThreads()
{
    QFETCH(int, method);
    QFETCH(bool, encrypt);
    QFETCH(int, threads);
    QFETCH(QByteArray, plain);
    const QString file = m_dir->filePath(QStringLiteral("file.bin"));
    QVERIFY(writeFile(file, plain));
    JobOptions options;
    options.threads = threads;

    QCOMPARE(encryptFile(file, method, kPassword, QString(), encrypt ? options : JobOptions()),
             JobOutcome::Done);
    if (const std::optional<dataops::CipherAlgorithm> algorithm = cipherOf(Method(method))) {
        QCOMPARE(QFileInfo(file).size(), dataops::sealedSize(*algorithm, plain.size()));
        QCOMPARE(decryptStandardFile(file, *algorithm, kPassword, encrypt ? JobOptions() : options),
                 JobOutcome::Done);
    } else {
        const std::optional<EnhancedRecord> record = readEnhancedRecordFile(file);
        QVERIFY(record);
        // The payload is what CompressData makes of the plain text.
        QFile encrypted(file);
        QVERIFY(encrypted.open(QIODevice::ReadOnly) && encrypted.seek(record->payload.offset));
        QVERIFY(encrypted.readAll() == CompressData(plain));
        encrypted.close();
        QCOMPARE(restoreEnhancedFile(file, Method(method), *record, kPassword,
                                     encrypt ? JobOptions() : options),
                 JobOutcome::Done);
    }
    QCOMPARE(QFileInfo(file).size(), plain.size());
    QVERIFY(readFile(file) == plain);
    QCOMPARE(folderEntries(m_dir->path()), QStringList{QStringLiteral("file.bin")});
}

QTEST_GUILESS_MAIN(TestCancelAndThreads)
#include "tst_cancel_and_threads.moc"
