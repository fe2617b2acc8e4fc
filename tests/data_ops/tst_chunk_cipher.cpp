#include "host/file_format/chunk_cipher.h"
#include "host/data_ops/data_ops.h"
#include "host/data_ops/key_derivation.h"
#include "support/test_bytes.h"

#include <QTest>

using namespace virellock;
using namespace virellock::dataops;
using virellock::test::flipBit;
using virellock::test::patternBytes;

namespace {

constexpr qsizetype P = kChunkSize;
const QString kPassword = QStringLiteral("Secret pass");

} // namespace

class TestChunkCipher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void roundTrip_data();
    void roundTrip();
    void refusals_data();
    void refusals();
    void encryptionsDiffer();
    void chunkLayout_data();
    void chunkLayout();
    void wholeSetsAppend();
    void chunksOpenIndependently();

private:
    // Salt, two full chunks and a partial last chunk, per selector.
    QByteArray m_plain;
    QByteArray m_sealed[3];
};

void TestChunkCipher::initTestCase()
{
    m_plain = patternBytes(2 * P + 1000, 7);
    for (int selector : {1, 2}) {
        const auto sealed = EncryptData(m_plain, kPassword, selector);
        QVERIFY(sealed);
        m_sealed[selector] = *sealed;
        // The damage rows below are meaningful only if the intact output decrypts.
        QCOMPARE(DecryptData(m_sealed[selector], kPassword, selector), m_plain);
    }
}

void TestChunkCipher::roundTrip_data()
{
    QTest::addColumn<int>("selector");
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<QString>("password");

    const QList<QString> passwords = {
        QStringLiteral("password"),
        QStringLiteral(" leading blank"),
        QStringLiteral("in ner"),
        QStringLiteral("trailing blank "),
        QStringLiteral("中文密码"),
        QStringLiteral("混合 Mixed 密码 "),
        QString(),
    };
    const QList<qsizetype> sizes = {0, 1, 7, 8, 9, 4095, P - 1, P, P + 1, 2 * P + 13, 3 * P};
    int row = 0;
    for (int selector : {1, 2}) {
        for (qsizetype size : sizes) {
            const QString& password = passwords.at(row++ % passwords.size());
            QTest::addRow("%s size %lld password '%s'", selector == 1 ? "DES" : "RC4",
                          static_cast<long long>(size), qPrintable(password))
                << selector << size << password;
        }
    }
}

void TestChunkCipher::roundTrip()
{
    QFETCH(int, selector);
    QFETCH(qsizetype, size);
    QFETCH(QString, password);

    const QByteArray plain = patternBytes(size, quint32(size));
    const auto sealed = EncryptData(plain, password, selector);
    QVERIFY(sealed);
    QCOMPARE(sealed->size(), sealedSize(*cipherAlgorithmFromSelector(selector), size));
    if (size >= 64)
        QVERIFY(!sealed->contains(plain.first(64)));
    const auto opened = DecryptData(*sealed, password, selector);
    QVERIFY(opened);
    QCOMPARE(*opened, plain);
}

void TestChunkCipher::refusals_data()
{
    QTest::addColumn<int>("selector");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("input");

    for (int selector : {1, 2}) {
        const QByteArray& sealed = m_sealed[selector];
        const qsizetype lastChunk = kSaltSize + 2 * kSealedChunkSize;
        const char* name = selector == 1 ? "DES" : "RC4";
        auto row = [&](const char* what, const QString& password, const QByteArray& input) {
            QTest::addRow("%s %s", name, what) << selector << password << input;
        };
        row("wrong password", QStringLiteral("Secret pas"), sealed);
        row("case differs", QStringLiteral("secret pass"), sealed);
        row("trailing blank", kPassword + u' ', sealed);
        QTest::addRow("%s read as the other algorithm", name)
            << 3 - selector << kPassword << sealed;
        row("bit flipped in salt", kPassword, flipBit(sealed, 3));
        row("bit flipped in first body", kPassword, flipBit(sealed, kSaltSize + 100));
        row("bit flipped in first tag", kPassword, flipBit(sealed, kSaltSize + P + 5));
        row("bit flipped in last body", kPassword, flipBit(sealed, lastChunk + 2));
        row("bit flipped in last tag", kPassword, flipBit(sealed, sealed.size() - 1));
        row("last chunk dropped", kPassword, sealed.first(lastChunk));
        row("cut at the first chunk boundary", kPassword,
            sealed.first(kSaltSize + kSealedChunkSize));
        row("cut inside a full chunk", kPassword, sealed.first(kSaltSize + P / 2));
        row("cut by one byte", kPassword, sealed.first(sealed.size() - 1));
        row("cut by one block", kPassword, sealed.first(sealed.size() - 8));
        row("cut to the salt", kPassword, sealed.first(kSaltSize));
        row("cut inside the salt", kPassword, sealed.first(kSaltSize - 6));
        row("one byte appended", kPassword, sealed + QByteArray(1, '\0'));
        row("a tag's length appended", kPassword, sealed + sealed.last(kTagSize));
        row("a full chunk appended", kPassword,
            sealed + sealed.sliced(kSaltSize, kSealedChunkSize));
        QByteArray swapped = sealed;
        swapped.replace(kSaltSize, kSealedChunkSize,
                        sealed.sliced(kSaltSize + kSealedChunkSize, kSealedChunkSize));
        swapped.replace(kSaltSize + kSealedChunkSize, kSealedChunkSize,
                        sealed.sliced(kSaltSize, kSealedChunkSize));
        row("two chunks swapped", kPassword, swapped);
        row("empty input", kPassword, QByteArray());
        row("random input", kPassword, patternBytes(sealed.size(), 99));
        row("short random input", kPassword, patternBytes(kSaltSize + kTagSize + 8, 98));
    }
}

void TestChunkCipher::refusals()
{
    QFETCH(int, selector);
    QFETCH(QString, password);
    QFETCH(QByteArray, input);

    QVERIFY(!DecryptData(input, password, selector).has_value());
}

void TestChunkCipher::encryptionsDiffer()
{
    const QByteArray plain("the same data twice");
    for (int selector : {1, 2}) {
        const auto first = EncryptData(plain, kPassword, selector);
        const auto second = EncryptData(plain, kPassword, selector);
        QVERIFY(first && second);
        QVERIFY(first->first(kSaltSize) != second->first(kSaltSize));
        QVERIFY(first->sliced(kSaltSize) != second->sliced(kSaltSize));
    }
    QVERIFY(!EncryptData(plain, kPassword, 0));
    QVERIFY(!EncryptData(plain, kPassword, 3));
}

void TestChunkCipher::chunkLayout_data()
{
    QTest::addColumn<qint64>("length");
    QTest::addColumn<bool>("sealed");
    QTest::addColumn<qint64>("expected"); // -1: no output has this length

    constexpr qint64 S = kSealedChunkSize;
    const auto row = [](const char* name, qint64 length, bool sealed, qint64 expected) {
        QTest::newRow(name) << length << sealed << expected;
    };
    // A plain text ends with a chunk shorter than P, empty when its size is a multiple of P.
    row("plain, empty", 0, false, 1);
    row("plain, one byte", 1, false, 1);
    row("plain, P - 1", P - 1, false, 1);
    row("plain, P", P, false, 2);
    row("plain, P + 1", P + 1, false, 2);
    row("plain, 3 P", 3 * P, false, 4);
    row("plain, negative", -1, false, -1);
    // After the salt: full sealed chunks while more than one remains, then the rest.
    row("sealed, empty", 0, true, -1);
    row("sealed, one byte", 1, true, 1);
    row("sealed, S - 1", S - 1, true, 1);
    row("sealed, S", S, true, 1);
    row("sealed, S + 1", S + 1, true, 2);
    row("sealed, 2 S", 2 * S, true, 2);
    row("sealed, 2 S + 1", 2 * S + 1, true, 3);
}

// The file job and the whole-set functions both cut by this; a mistake here would leave them
// agreeing with each other and disagreeing with every other reader of the format.
void TestChunkCipher::chunkLayout()
{
    QFETCH(qint64, length);
    QFETCH(bool, sealed);
    QFETCH(qint64, expected);

    QCOMPARE(chunkCount(length, sealed).value_or(-1), expected);
}

// The whole-set calls append to what out holds, and leave it as it was when they fail.
void TestChunkCipher::wholeSetsAppend()
{
    const QByteArray prefix("kept");
    for (int selector : {1, 2}) {
        const QByteArrayView sealed = QByteArrayView(m_sealed[selector]).sliced(kSaltSize);
        const auto cipher =
            ChunkCipher::derive(*cipherAlgorithmFromSelector(selector), passwordToBytes(kPassword),
                                m_sealed[selector].first(kSaltSize));
        QVERIFY(cipher);

        QByteArray out = prefix;
        QVERIFY(cipher->sealAll(m_plain, out));
        QCOMPARE(out, prefix + sealed.toByteArray());
        out = prefix;
        QVERIFY(cipher->openAll(sealed, out));
        QCOMPARE(out, prefix + m_plain);

        // Damage in the last chunk: the two full chunks before it open, yet nothing is kept.
        out = prefix;
        QVERIFY(!cipher->openAll(flipBit(sealed.toByteArray(), sealed.size() - 1), out));
        QCOMPARE(out, prefix);
        QVERIFY(!cipher->openAll(sealed.first(2 * kSealedChunkSize), out));
        QCOMPARE(out, prefix);
    }
}

// Any chunk opens on its own, in any order: what lets the file code spread chunks over cores.
void TestChunkCipher::chunksOpenIndependently()
{
    for (int selector : {1, 2}) {
        const QByteArray& sealed = m_sealed[selector];
        const auto cipher =
            ChunkCipher::derive(*cipherAlgorithmFromSelector(selector), passwordToBytes(kPassword),
                                sealed.first(kSaltSize));
        QVERIFY(cipher);
        const qsizetype lastStart = kSaltSize + 2 * kSealedChunkSize;
        QByteArray last, first, second;
        QVERIFY(cipher->open(2, true, QByteArrayView(sealed).sliced(lastStart), last));
        QVERIFY(cipher->open(
            1, false, QByteArrayView(sealed).sliced(kSaltSize + kSealedChunkSize, kSealedChunkSize),
            second));
        QVERIFY(cipher->open(0, false, QByteArrayView(sealed).sliced(kSaltSize, kSealedChunkSize),
                             first));
        QCOMPARE(first + second + last, m_plain);
        QByteArray ignored;
        QVERIFY(!cipher->open(0, true, QByteArrayView(sealed).sliced(lastStart), ignored));
        QVERIFY(!cipher->open(2, false, QByteArrayView(sealed).sliced(lastStart), ignored));
        QVERIFY(ignored.isEmpty());
    }
}

QTEST_GUILESS_MAIN(TestChunkCipher)
#include "tst_chunk_cipher.moc"
