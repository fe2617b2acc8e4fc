#include "host/data_ops/data_ops.h"
#include "host/data_ops/zstd_stream.h"
#include "support/test_bytes.h"

#include <QTest>

#include <zstd.h>

using namespace virellock;
using namespace virellock::dataops;
using virellock::test::flipBit;
using virellock::test::patternBytes;

namespace {

constexpr qsizetype MiB = 1 << 20;

// Text-like data that compresses, unlike the random pattern.
QByteArray textBytes(qsizetype size)
{
    QByteArray text;
    text.reserve(size);
    for (int line = 0; text.size() < size; ++line)
        text += "第" + QByteArray::number(line) + "行: the quick brown fox 跳过 the lazy dog\n";
    text.truncate(size);
    return text;
}

QByteArray zstdFrame(const QByteArray& data, bool checksum)
{
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, checksum ? 1 : 0);
    QByteArray frame(qsizetype(ZSTD_compressBound(std::size_t(data.size()))), '\0');
    const std::size_t size = ZSTD_compress2(context, frame.data(), std::size_t(frame.size()),
                                            data.constData(), std::size_t(data.size()));
    ZSTD_freeCCtx(context);
    frame.resize(ZSTD_isError(size) ? 0 : qsizetype(size));
    return frame;
}

} // namespace

class TestCompression : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void refusals_data();
    void refusals();
    void streamsInPieces();
    void pledgedSizeMismatchFails();
};

void TestCompression::roundTrip_data()
{
    QTest::addColumn<QByteArray>("plain");
    for (qsizetype size : {qsizetype(0), qsizetype(1), MiB - 1, MiB, MiB + 1, 5 * MiB + 3})
        QTest::addRow("text %lld", static_cast<long long>(size)) << textBytes(size);
    for (qsizetype size : {qsizetype(1), qsizetype(4097), 3 * MiB + 1})
        QTest::addRow("random %lld", static_cast<long long>(size)) << patternBytes(size, 11);
}

void TestCompression::roundTrip()
{
    QFETCH(QByteArray, plain);
    const auto compressed = CompressData(plain);
    QVERIFY(compressed);
    QVERIFY(!compressed->isEmpty());
    if (plain.size() > 1000 && plain.at(0) == "第"[0])
        QVERIFY(compressed->size() < plain.size() / 4);
    QCOMPARE(DecompressData(*compressed), plain);
}

void TestCompression::refusals_data()
{
    QTest::addColumn<QByteArray>("input");

    const QByteArray plain = textBytes(300000);
    const QByteArray frame = *CompressData(plain);
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("random") << patternBytes(5000, 5);
    QTest::newRow("magic only") << frame.first(4);
    QTest::newRow("cut in the header") << frame.first(6);
    QTest::newRow("cut in the middle") << frame.first(frame.size() / 2);
    QTest::newRow("checksum cut") << frame.first(frame.size() - 1);
    QTest::newRow("trailing byte") << frame + '\0';
    QTest::newRow("two frames") << frame + frame;
    QTest::newRow("checksum damaged") << flipBit(frame, frame.size() - 2);
    QTest::newRow("body damaged") << flipBit(frame, frame.size() / 2);
    QTest::newRow("frame without checksum") << zstdFrame(plain, false);
    // Declares 18 bytes of content but holds none: zstd lets it pass when it comes in pieces.
    QTest::newRow("declared size not met")
        << QByteArray::fromHex("28b52ffd2412010000") + QByteArray::fromHex("99e9d851");
    // A skippable frame: magic 0x184D2A50, length 4, four bytes of content.
    QTest::newRow("skippable frame") << QByteArray::fromHex("502a4d180400000001020304");
}

void TestCompression::refusals()
{
    QFETCH(QByteArray, input);
    QVERIFY(!DecompressData(input).has_value());
    // The same in pieces, the way files are read.
    for (qsizetype pieceSize : {1, 6}) {
        const auto stream = makeDecompressStream();
        const ByteSink ignore = [](QByteArrayView) { return true; };
        bool ok = true;
        for (qsizetype at = 0; ok && at < input.size(); at += pieceSize)
            ok = stream->update(
                QByteArrayView(input).sliced(at, std::min(pieceSize, input.size() - at)), ignore);
        QVERIFY(!(ok && stream->finish(ignore)));
    }
}

void TestCompression::streamsInPieces()
{
    const QByteArray plain = textBytes(3 * MiB + 17);
    const QByteArray frame = *CompressData(plain);
    // Any valid frame of ours with a checksum reads back, whoever cut it into pieces.
    QCOMPARE(DecompressData(zstdFrame(plain, true)), plain);

    for (qsizetype pieceSize : {qsizetype(1), qsizetype(5), qsizetype(65536)}) {
        const auto stream = makeDecompressStream();
        QByteArray out;
        const ByteSink sink = [&out](QByteArrayView piece) {
            out.append(piece);
            return true;
        };
        for (qsizetype at = 0; at < frame.size(); at += pieceSize)
            QVERIFY(stream->update(
                QByteArrayView(frame).sliced(at, std::min(pieceSize, frame.size() - at)), sink));
        QVERIFY(stream->finish(sink));
        QCOMPARE(out, plain);
    }
}

void TestCompression::pledgedSizeMismatchFails()
{
    const auto stream = makeCompressStream(100);
    QVERIFY(stream);
    const ByteSink sink = [](QByteArrayView) { return true; };
    const bool ok = stream->update(QByteArray(50, 'x'), sink) && stream->finish(sink);
    QVERIFY(!ok);
}

QTEST_GUILESS_MAIN(TestCompression)
#include "tst_compression.moc"
