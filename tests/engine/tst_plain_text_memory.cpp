// A file's plain text leaves no copy in this process's memory once the jobs that encrypted and
// decrypted it are done: the buffers the pieces pass through are used again from piece to piece
// and must be wiped when the job ends, as must a piece's buffers when a job fails.
//
// The file is random bytes, so that nothing else in memory matches by chance. What is looked
// for is 64 bytes of it, well inside a piece, taken masked before the test's own copy of the
// content is wiped. Random bytes do not compress: zstd stores them as they are, in blocks of
// 128 KiB, and the frames are walked block header by block header; the bytes looked for lie
// just after such a header, where a buffered read of the header would have copied them.

#include "engine/encrypted_file.h"
#include "host/data_ops/secure_wipe.h"
#include "support/file_helpers.h"
#include "support/memory_scan.h"
#include "support/restore_file.h"
#include "support/sha256.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace virellock;
using namespace virellock::test;

namespace {

const QString kPassword = QStringLiteral("plain text memory");

// Two frames and a piece of a third for zstd, nine chunks and a piece for the ciphers.
constexpr qsizetype kContentSize = (9 << 20) + 12345;
// In the second cipher chunk and the first zstd frame, and in the second frame; each a few KiB
// into a zstd block.
constexpr qsizetype kNeedleOffsets[] = {(1 << 20) + 5000, (4 << 20) + 7000};
constexpr qsizetype kNeedleSize = 64;

QByteArray sha256(QByteArrayView bytes)
{
    Sha256 digest;
    digest.update(bytes);
    return digest.result();
}

// What the process still holds of the needles, for a failure message; empty when nothing.
QString leftovers(const QList<MaskedBytes>& needles)
{
    QStringList found;
    for (qsizetype i = 0; i < needles.size(); ++i) {
        if (const std::optional<MemoryHit> hit = findInMemory(needles[i]))
            found << QStringLiteral("bytes at %1: %2").arg(kNeedleOffsets[i]).arg(hit->describe());
    }
    return found.join(QStringLiteral("; "));
}

} // namespace

class TestPlainTextMemory : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(memoryScanWorks()); }
    void jobsLeaveNoPlainText_data();
    void jobsLeaveNoPlainText();
};

void TestPlainTextMemory::jobsLeaveNoPlainText_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<bool>("damaged");
    QTest::newRow("DES standard") << 0 << false;
    QTest::newRow("RC4 standard") << 1 << false;
    QTest::newRow("DES enhanced") << 2 << false;
    QTest::newRow("RC4 enhanced") << 3 << false;
    QTest::newRow("MD5 enhanced") << 4 << false;
    // Decryption fails on the last chunk, after the others were opened into plain text.
    QTest::newRow("RC4 standard, last chunk damaged") << 1 << true;
    QTest::newRow("MD5 enhanced, last frame damaged") << 4 << true;
}

void TestPlainTextMemory::jobsLeaveNoPlainText()
{
    QFETCH(int, method);
    QFETCH(bool, damaged);
    const QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("random.bin"));

    QList<MaskedBytes> needles;
    QByteArray digest;
    {
        QByteArray content(kContentSize, Qt::Uninitialized);
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(content.data()),
                                              content.size() / sizeof(quint32));
        for (const qsizetype offset : kNeedleOffsets) {
            MaskedBytes& needle = needles.emplaceBack();
            for (qsizetype i = 0; i < kNeedleSize; ++i)
                needle.append(static_cast<unsigned char>(content.at(offset + i)));
        }
        digest = sha256(content);
        QVERIFY(writeFile(path, content));
        QVERIFY(dataops::wipe(content));
    }
    const QString before = leftovers(needles);
    QVERIFY2(before.isEmpty(), qPrintable(before));

    QVERIFY(encryptFile(path, method, kPassword, QStringLiteral("hint")).done());
    if (damaged) {
        // One byte of the last piece, which every method checks when it gets there.
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.seek(file.size() - 10));
        const char byte = file.read(1).at(0);
        QVERIFY(file.seek(file.size() - 10));
        QCOMPARE(file.write(QByteArray(1, char(byte ^ 0x5a))), 1);
        file.close();
        QVERIFY(!restoreFile(path, method, kPassword).done());
    } else {
        QVERIFY(restoreFile(path, method, kPassword).done());
    }

    const QString left = leftovers(needles);
    QVERIFY2(left.isEmpty(), qPrintable(left));
    if (!damaged) {
        QByteArray decrypted = readFile(path);
        QCOMPARE(sha256(decrypted), digest);
        dataops::wipe(decrypted);
    }
}

QTEST_GUILESS_MAIN(TestPlainTextMemory)
#include "tst_plain_text_memory.moc"
