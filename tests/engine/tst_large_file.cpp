#include "engine/decrypt_command.h"
#include "engine/encrypt_command.h"
#include "support/command_inputs.h"
#include "support/file_helpers.h"
#include "support/scripted_host_services.h"
#include "support/sha256.h"

#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace virellock;
using namespace virellock::test;

namespace {

constexpr qint64 k4GiB = qint64(1) << 32;
// Past 4 GiB, so that no 32-bit size or offset survives.
constexpr qint64 kSize = k4GiB + 3 * 4096 + 17;

// Marks at the start, around the 2 GiB and 4 GiB boundaries and at the end; zeros elsewhere,
// which the file system keeps sparse.
const QList<std::pair<qint64, QByteArray>> kMarks = {
    {0, "start of the file"},
    {(qint64(1) << 31) - 5, "across 2 GiB"},
    {k4GiB - 7, "across 4 GiB"},
    {kSize - 12, "end of file!"},
};

QByteArray digestOfExpected()
{
    Sha256 digest;
    const QByteArray zeros(1 << 20, '\0');
    qint64 at = 0;
    for (const auto& [offset, mark] : kMarks) {
        for (; at < offset; at += std::min<qint64>(zeros.size(), offset - at))
            digest.update(QByteArrayView(zeros).first(
                qsizetype(std::min<qint64>(zeros.size(), offset - at))));
        digest.update(mark);
        at += mark.size();
    }
    return digest.result();
}

QByteArray digestOfFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    Sha256 digest;
    QByteArray buffer(8 << 20, Qt::Uninitialized);
    for (qint64 read; (read = file.read(buffer.data(), buffer.size())) > 0;)
        digest.update(QByteArrayView(buffer).first(qsizetype(read)));
    return digest.result();
}

} // namespace

// A file of a little over 4 GiB goes through the MD5 method, the fastest one for mostly empty
// data, and comes back byte for byte.
class TestLargeFile : public QObject
{
    Q_OBJECT

private slots:
    void roundTripPast4GiB();
};

void TestLargeFile::roundTripPast4GiB()
{
    QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/large-XXXXXX"));
    QVERIFY(dir.isValid());
    if (QStorageInfo(dir.path()).bytesAvailable() < 2 * kSize)
        QSKIP("not enough free disk space for a 4 GiB file");
    const QString path = dir.filePath(QStringLiteral("big.bin"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(kSize));
        for (const auto& [offset, mark] : kMarks) {
            QVERIFY(file.seek(offset));
            QCOMPARE(file.write(mark), mark.size());
        }
    }
    const QByteArray expected = digestOfExpected();
    QCOMPARE(digestOfFile(path), expected);

    ScriptedHostServices encryptHost;
    encryptHost.chosenFiles = {path};
    runEncryptCommand(encryptInputs(4, QStringLiteral("large")), encryptHost);
    QCOMPARE(encryptHost.messages.size(), 1);
    QCOMPARE(encryptHost.messages.first().style, MessageStyle::Information);
    QVERIFY(QFileInfo(path).size() < kSize / 1000);

    ScriptedHostServices decryptHost;
    decryptHost.answers = {Answer::Yes};
    decryptHost.chosenFiles = {path};
    decryptHost.typedTexts = {QStringLiteral("large")};
    runDecryptCommand(decryptInputs(4), decryptHost);
    QCOMPARE(decryptHost.messages.last().text, QStringLiteral("该文件解密成功!"));
    QCOMPARE(QFileInfo(path).size(), kSize);
    QCOMPARE(digestOfFile(path), expected);
}

QTEST_GUILESS_MAIN(TestLargeFile)
#include "tst_large_file.moc"
