#include "engine/decrypted_file.h"
#include "engine/encrypted_file.h"
#include "engine/parallel_frame_job.h"
#include "host/file_format/zstd_frames.h"
#include "support/crafted_frames.h"
#include "support/file_helpers.h"
#include "support/restore_file.h"
#include "support/test_bytes.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

using namespace virellock;
using namespace virellock::test;

namespace {

constexpr qsizetype MiB = 1 << 20;
const QString kPassword = QStringLiteral("checked 检查");

JobResult restore(const QString& file, int method, const JobOptions& options = {},
                  const QString& password = kPassword)
{
    return restoreFile(file, method, password, options);
}

// The payload of an MD5-enhanced file.
QByteArray payloadOf(const QString& file)
{
    const std::optional<EnhancedRecord> record = readEnhancedRecordFile(file);
    return record ? readFile(file).sliced(record->payload.offset) : QByteArray();
}

// An MD5-enhanced file of a few bytes whose payload is replaced by crafted frames before its
// genuine last frame, and by extra after it.
bool craftPayload(const QString& file, const QByteArray& frames, const QByteArray& extra = {})
{
    if (!writeFile(file, "the last frame") ||
        !encryptFile(file, 4, kPassword, QStringLiteral("hint")).done())
        return false;
    const std::optional<EnhancedRecord> genuine = readEnhancedRecordFile(file);
    if (!genuine)
        return false;
    const QByteArray payload = frames + payloadOf(file) + extra;
    return writeFile(
        file, enhancedRecordHead(genuine->password_check, genuine->hint, payload.size()) + payload);
}

// Reads through to another device, counting how often it is asked to.
class CountingDevice final : public QIODevice
{
public:
    explicit CountingDevice(QIODevice& inner) : m_inner(inner) {}

    qint64 reads = 0;

    bool isSequential() const override { return false; }
    qint64 size() const override { return m_inner.size(); }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        ++reads;
        return m_inner.seek(pos()) ? m_inner.read(data, maxSize) : -1;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QIODevice& m_inner;
};

} // namespace

Q_DECLARE_METATYPE(JobOutcome)
Q_DECLARE_METATYPE(JobStep)
Q_DECLARE_METATYPE(dataops::FrameSequence::Status)

// What keeps a rewrite safe beyond the format's own checks: the temporary file is read back
// before it replaces the file, and a decompression that could not fit is refused before it
// writes anything.
class TestRewriteChecks : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void readBackCatchesABadWrite_data();
    void readBackCatchesABadWrite();
    void framesThatDeclareTooMuch_data();
    void framesThatDeclareTooMuch();
    void craftedFramesCostFewReads_data();
    void craftedFramesCostFewReads();
    void walkBeforeWritingCanBeCancelled();
    void md5PayloadIsOneZstdStream();
    void wrongPasswordWritesNothing_data();
    void wrongPasswordWritesNothing();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestRewriteChecks::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestRewriteChecks::readBackCatchesABadWrite_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<bool>("decrypting");
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<qint64>("damageBack"); // before the end of the first piece written
    for (int method = 0; method < 5; ++method) {
        // One piece; and many, the first of which is damaged while the next ones are made.
        QTest::addRow("decrypt, method %d, one piece", method)
            << method << true << qsizetype(200000) << qint64(40);
        for (bool decrypting : {false, true})
            QTest::addRow("%s, method %d, many pieces", decrypting ? "decrypt" : "encrypt", method)
                << method << decrypting << 9 * MiB + 5 << qint64(40);
        // Plain text is compared a block at a time: a byte in a block of its own, well inside
        // the piece, counts as much as one near its end.
        QTest::addRow("decrypt, method %d, inside the piece", method)
            << method << true << 9 * MiB + 5 << qint64(700000);
    }
}

// A byte changed on its way to the disk, before the end of the first piece written (within a
// chunk's ciphertext, a frame or the plain text), is caught before the file is replaced, in
// either direction.
void TestRewriteChecks::readBackCatchesABadWrite()
{
    QFETCH(int, method);
    QFETCH(bool, decrypting);
    QFETCH(qsizetype, size);
    QFETCH(qint64, damageBack);
    const QString file = m_dir->filePath(QStringLiteral("precious"));
    QVERIFY(writeFile(file, textThenRandom(size, 21)));
    if (decrypting)
        QCOMPARE(encryptFile(file, method, kPassword, QStringLiteral("hint")), JobOutcome::Done);
    const QByteArray before = readFile(file);

    JobOptions options;
    options.beforeVerify = [damageBack](QIODevice& temporary) {
        const qint64 end = temporary.pos();
        temporary.seek(end - damageBack);
        temporary.write(badWrite());
        temporary.seek(end);
    };
    const JobResult result = decrypting ? restore(file, method, options)
                                        : encryptFile(file, method, kPassword, QString(), options);
    QCOMPARE(result.outcome, JobOutcome::WriteFailed);
    QCOMPARE(result.step, JobStep::ReadBack);
    QVERIFY(readFile(file) == before);
    QCOMPARE(folderEntries(m_dir->path()), QStringList{QStringLiteral("precious")});
}

void TestRewriteChecks::framesThatDeclareTooMuch_data()
{
    QTest::addColumn<qint64>("lyingFrames");
    QTest::addColumn<JobOutcome>("outcome");
    QTest::addColumn<JobStep>("step");
    // Enough frames that declare 4 MiB each to pass twice the free space of the disk, which
    // other programs change meanwhile.
    const qint64 available = QStorageInfo(QDir::tempPath()).bytesAvailable();
    QVERIFY(available > 0);
    QTest::newRow("more than the disk holds") << 2 * (available / dataops::kFrameContentSize + 1)
                                              << JobOutcome::WriteFailed << JobStep::NoRoom;
    QTest::newRow("little, but more than they hold")
        << qint64(3) << JobOutcome::BadInput << JobStep::Content;
}

// Frames that declare 4 MiB each and hold nothing, before a genuine last frame: a payload of a
// few bytes that could claim the whole disk. The declared total is checked against the free
// space before anything is written, and each frame is held to what it declares.
void TestRewriteChecks::framesThatDeclareTooMuch()
{
    QFETCH(qint64, lyingFrames);
    QFETCH(JobOutcome, outcome);
    QFETCH(JobStep, step);
    const QString file = m_dir->filePath(QStringLiteral("small"));
    QVERIFY(writeFile(file, "the last frame"));
    QCOMPARE(encryptFile(file, 4, kPassword, QStringLiteral("hint")), JobOutcome::Done);
    const std::optional<EnhancedRecord> genuine = readEnhancedRecordFile(file);
    QVERIFY(genuine);
    const QByteArray lying = QByteArray::fromHex("28b52ffd" // magic
                                                 "a4"       // single segment, checksum
                                                 "00004000" // content size: 4 MiB
                                                 "010000"   // the last block: raw, empty
                                                 "00000000" // checksum
    );
    const QByteArray payload = lying.repeated(lyingFrames) + payloadOf(file);
    QVERIFY(
        writeFile(file, enhancedRecordHead(genuine->password_check, genuine->hint, payload.size()) +
                            payload));
    const QByteArray before = readFile(file);

    const JobResult result = restore(file, 4);
    QCOMPARE(result.outcome, outcome);
    QCOMPARE(result.step, step);
    QVERIFY(readFile(file) == before);
    QCOMPARE(folderEntries(m_dir->path()), QStringList{QStringLiteral("small")});
}

void TestRewriteChecks::craftedFramesCostFewReads_data()
{
    using dataops::FrameSequence;
    QTest::addColumn<QByteArray>("frames");
    QTest::addColumn<qint64>("frameCount");
    QTest::addColumn<FrameSequence::Status>("walked");
    // Frames that declare 4 MiB and hold nothing but empty raw blocks, as long as a frame may
    // be: once a read for every 3 bytes, minutes for a file of 60 MiB.
    QTest::newRow("empty raw blocks")
        << emptyRawBlockFrames(dataops::kMaxFrameSize, 3) << qint64(3) << FrameSequence::Refused;
    // Within the rules until the first frame is decoded: as many one-byte blocks as a frame
    // may hold, frame after frame.
    QTest::newRow("one-byte raw blocks")
        << fullFramesOf(oneByteRawBlocks(dataops::kMaxBlocksPerFrame - 1), 100) << qint64(100)
        << FrameSequence::Good;
}

// A payload of tiny blocks in an MD5-enhanced file is walked a large piece at a time, before
// writing and as it is decompressed, and refused with the file untouched.
void TestRewriteChecks::craftedFramesCostFewReads()
{
    QFETCH(QByteArray, frames);
    QFETCH(qint64, frameCount);
    QFETCH(dataops::FrameSequence::Status, walked);
    const QString file = m_dir->filePath(QStringLiteral("crafted"));
    QVERIFY(craftPayload(file, frames));
    const std::optional<EnhancedRecord> record = readEnhancedRecordFile(file);
    QVERIFY(record);
    const qint64 length = record->payload.size;
    // A read per 64 KiB and one more per frame at most, with a few to grow into that size.
    const qint64 fewReads = length / (64 << 10) + frameCount + 16;
    {
        QFile source(file);
        QVERIFY(source.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
        CountingDevice counted(source);
        QVERIFY(counted.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
        QVERIFY(counted.seek(record->payload.offset));
        QCOMPARE(walkFramesOf(counted, length, std::numeric_limits<qint64>::max()).status, walked);
        QVERIFY2(counted.reads <= fewReads, qPrintable(QString::number(counted.reads)));

        // The frame job walks each frame again as it reads it, then reads it whole.
        counted.reads = 0;
        FrameJob job;
        job.compress = false;
        job.source = &counted;
        job.length = length;
        QCOMPARE(runFrameJob(job, {}).outcome, JobOutcome::BadInput);
        QVERIFY2(counted.reads <= fewReads + frameCount,
                 qPrintable(QString::number(counted.reads)));
    }
    const QByteArray before = readFile(file);
    const JobResult result = restore(file, 4);
    QCOMPARE(result.outcome, JobOutcome::BadInput);
    QCOMPARE(result.step, JobStep::Content);
    QVERIFY(readFile(file) == before);
    QCOMPARE(folderEntries(m_dir->path()), QStringList{QStringLiteral("crafted")});
}

// The walk of the frames before anything is written asks the progress callback whether to go
// on, as the work after it does: a long payload is not walked to its end after a cancel.
void TestRewriteChecks::walkBeforeWritingCanBeCancelled()
{
    const QString file = m_dir->filePath(QStringLiteral("cancelled"));
    // Frames of tiny blocks and a byte too many at the end: walked to its end, the payload
    // would be refused before any work that could be cancelled.
    QVERIFY(craftPayload(file, fullFramesOf(oneByteRawBlocks(dataops::kMaxBlocksPerFrame - 1), 20),
                         "!"));
    const QByteArray before = readFile(file);
    int asked = 0;
    JobOptions options;
    options.progress = [&asked](qint64, qint64) {
        ++asked;
        return false;
    };
    const JobResult result = restore(file, 4, options);
    QCOMPARE(result.outcome, JobOutcome::Cancelled);
    QCOMPARE(asked, 1);
    QVERIFY(readFile(file) == before);
    QCOMPARE(folderEntries(m_dir->path()), QStringList{QStringLiteral("cancelled")});
}

// The MD5 method's payload, frames and all, is one stream for zstd's own command-line tool.
void TestRewriteChecks::md5PayloadIsOneZstdStream()
{
    const QString zstd = QStandardPaths::findExecutable(QStringLiteral("zstd"));
    if (zstd.isEmpty())
        QSKIP("the zstd command-line tool is not installed (apt-get install zstd)");
    const QString file = m_dir->filePath(QStringLiteral("notes.txt"));
    const QByteArray plain = textThenRandom(9 * MiB + 5, 21);
    QVERIFY(writeFile(file, plain));
    QCOMPARE(encryptFile(file, 4, kPassword, QStringLiteral("hint")), JobOutcome::Done);
    const QString payload = m_dir->filePath(QStringLiteral("payload.zst"));
    QVERIFY(writeFile(payload, payloadOf(file)));
    QProcess process;
    process.start(zstd,
                  {QStringLiteral("-d"), QStringLiteral("-c"), QStringLiteral("-q"), payload});
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(process.readAllStandardOutput() == plain);
}

void TestRewriteChecks::wrongPasswordWritesNothing_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<qsizetype>("damagedAt"); // from the end of the file; 0 for none
    for (int method = 2; method < 5; ++method) {
        QTest::addRow("method %d", method) << method << qsizetype(0);
        // A payload that would fail anyway: the password is still what is reported.
        QTest::addRow("method %d, payload damaged", method) << method << qsizetype(100);
    }
}

// The password is checked while the keys are derived (DES, RC4) or while the payload is
// restored into the temporary file (MD5); a wrong one is reported as such, the file stays as
// it was and no temporary file is left, however far the restoring got.
void TestRewriteChecks::wrongPasswordWritesNothing()
{
    QFETCH(int, method);
    QFETCH(qsizetype, damagedAt);
    const QString file = m_dir->filePath(QStringLiteral("locked"));
    QVERIFY(writeFile(file, textThenRandom(9 * MiB + 5, 21)));
    QCOMPARE(encryptFile(file, method, kPassword, QStringLiteral("hint")), JobOutcome::Done);
    if (damagedAt > 0) {
        QByteArray content = readFile(file);
        content[content.size() - damagedAt] = char(content.at(content.size() - damagedAt) ^ 1);
        QVERIFY(writeFile(file, content));
    }
    const QByteArray before = readFile(file);

    const JobResult result = restore(file, method, {}, kPassword + u'!');
    QCOMPARE(result.outcome, JobOutcome::BadInput);
    QCOMPARE(result.step, JobStep::PasswordCheck);
    QVERIFY(readFile(file) == before);
    QCOMPARE(folderEntries(m_dir->path()), QStringList{QStringLiteral("locked")});
}

QTEST_GUILESS_MAIN(TestRewriteChecks)
#include "tst_rewrite_checks.moc"
