#include "engine/parallel_frame_job.h"
#include "host/data_ops/data_ops.h"
#include "host/file_format/zstd_frames.h"
#include "support/crafted_frames.h"
#include "support/test_bytes.h"

#include <QBuffer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <zstd.h>

#include <algorithm>
#include <limits>

using namespace virellock;
using namespace virellock::dataops;
using namespace virellock::test;

namespace {

constexpr qsizetype MiB = 1 << 20;
constexpr qsizetype F = kFrameContentSize;

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

// One frame made by zstd directly, whatever its size; with the checksum and the content size
// unless told otherwise, and zstd's own choice of window unless one is given.
QByteArray zstdFrame(const QByteArray& data, bool checksum, bool contentSize = true,
                     int windowLog = 0)
{
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, checksum ? 1 : 0);
    ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, contentSize ? 1 : 0);
    ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, windowLog);
    QByteArray frame(qsizetype(ZSTD_compressBound(std::size_t(data.size()))), '\0');
    const std::size_t size = ZSTD_compress2(context, frame.data(), std::size_t(frame.size()),
                                            data.constData(), std::size_t(data.size()));
    ZSTD_freeCCtx(context);
    frame.resize(ZSTD_isError(size) ? 0 : qsizetype(size));
    return frame;
}

// zstd's own frame of plain, its blocks replaced by the given ones, which must hold plain:
// the header and the checksum stay good, so that zstd itself decodes what the rules refuse.
QByteArray reblocked(const QByteArray& plain, const QByteArray& blocks)
{
    const QByteArray frame = zstdFrame(plain, true);
    const FrameHeader header = readFrameHeader(frame);
    Q_ASSERT(header.status == FrameHeader::Good);
    return frame.first(qsizetype(header.headerSize)) + blocks + frame.last(4);
}

// plain in raw blocks of one byte each.
QByteArray oneByteBlocks(const QByteArray& plain)
{
    QByteArray blocks;
    for (qsizetype i = 0; i < plain.size(); ++i)
        blocks += rawBlock(plain.sliced(i, 1), i + 1 == plain.size());
    return reblocked(plain, blocks);
}

// The frames of a compressed output, by the walk the file job uses.
FrameSequence walk(const QByteArray& compressed)
{
    return walkFrames(
        [&compressed](qint64 offset, char* data, qint64 size) {
            if (offset < 0 || offset + size > compressed.size())
                return false;
            std::copy_n(compressed.constData() + offset, size, data);
            return true;
        },
        compressed.size(), std::numeric_limits<qint64>::max());
}

// The way a file's payload is restored: read from a device a frame at a time, each walked
// again by the rules and decompressed on the frame job's workers; the output goes nowhere.
JobOutcome restoredAsFile(QByteArray compressed)
{
    QBuffer source(&compressed);
    if (!source.open(QIODevice::ReadOnly))
        return JobOutcome::SourceUnreadable;
    FrameJob job;
    job.compress = false;
    job.source = &source;
    job.length = compressed.size();
    return runFrameJob(job, {}).outcome;
}

} // namespace

Q_DECLARE_METATYPE(FrameSequence::Status)

class TestCompression : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void refusals_data();
    void refusals();
    void payloadsRestoreAsFiles_data();
    void payloadsRestoreAsFiles();
    void framesDeclareTheirContent_data();
    void framesDeclareTheirContent();
    void walkStopsAtTheLimit();
    void blockRules_data();
    void blockRules();
    void walkReadsInLargePieces_data();
    void walkReadsInLargePieces();
    void zstdToolReadsTheOutput();
};

void TestCompression::roundTrip_data()
{
    QTest::addColumn<QByteArray>("plain");
    for (qsizetype size :
         {qsizetype(0), qsizetype(1), MiB - 1, MiB, MiB + 1, 5 * MiB + 3, F - 1, F, 2 * F + 1})
        QTest::addRow("text %lld", static_cast<long long>(size)) << textBytes(size);
    for (qsizetype size : {qsizetype(1), qsizetype(4097), 3 * MiB + 1, F + 1})
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
    const QByteArray twoFrames = *CompressData(textBytes(F + 300000));
    const qsizetype secondFrame = twoFrames.size() - frame.size();
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
    QTest::newRow("frame without content size") << zstdFrame(plain, true, false);
    // The file job reads one frame at a time into memory: no frame may hold more than a full one.
    QTest::newRow("frame of more than 4 MiB") << zstdFrame(textBytes(F + 1), true);
    // A frame of 3 MiB in a 2 MiB window (zstd's own choice at level 3), its window descriptor
    // (the byte after the frame header descriptor) raised to 8 MiB, which still decodes the
    // same: a reader caps the window at the writer's 4 MiB.
    QByteArray wideWindow = zstdFrame(textBytes(3 * MiB), true, true, 21);
    QCOMPARE(DecompressData(wideWindow), textBytes(3 * MiB));
    wideWindow[5] = char(13 << 3); // exponent 13: 2^(10 + 13) bytes
    QTest::newRow("window of 8 MiB") << wideWindow;
    // An empty frame whose header names dictionary 7 (descriptor 0x25: single segment,
    // checksum, a 1-byte dictionary ID), which no reader here has.
    QTest::newRow("dictionary") << QByteArray::fromHex("28b52ffd25" // magic, descriptor
                                                       "07"         // dictionary ID
                                                       "00010000"   // content size, block
                                                       "99e9d851"   // checksum
    );
    // Every frame but the last holds exactly 4 MiB, and the last holds less.
    QTest::newRow("full frame at the end") << CompressData(textBytes(F))->chopped(13);
    QTest::newRow("short frame first") << frame + twoFrames.first(secondFrame);
    QTest::newRow("frames swapped into the wrong order")
        << twoFrames.sliced(secondFrame) + twoFrames.first(secondFrame);
    QTest::newRow("second frame cut") << twoFrames.chopped(1);
    QTest::newRow("second frame missing") << twoFrames.first(secondFrame);
    QTest::newRow("trailing byte after two frames") << twoFrames + '\0';
    QTest::newRow("skippable frame between frames")
        << twoFrames.first(secondFrame) + QByteArray::fromHex("502a4d180400000001020304") +
               twoFrames.sliced(secondFrame);
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
    // The same as a file's payload, which is never held whole.
    QCOMPARE(restoredAsFile(input), JobOutcome::BadInput);
}

void TestCompression::payloadsRestoreAsFiles_data()
{
    QTest::addColumn<QByteArray>("compressed");
    QTest::addColumn<QByteArray>("plain");
    const QByteArray twoFrames = textBytes(F + 17);
    QTest::newRow("two frames, the second of 17 bytes") << *CompressData(twoFrames) << twoFrames;
    // Any frame by the rules reads back, whoever made it: zstd's own window and a checksum.
    const QByteArray shortText = textBytes(3 * MiB + 17);
    QTest::newRow("zstd's own frame") << zstdFrame(shortText, true) << shortText;
}

// What decodes in memory restores as a file's payload too.
void TestCompression::payloadsRestoreAsFiles()
{
    QFETCH(QByteArray, compressed);
    QFETCH(QByteArray, plain);
    QCOMPARE(DecompressData(compressed), plain);
    QCOMPARE(restoredAsFile(compressed), JobOutcome::Done);
}

void TestCompression::framesDeclareTheirContent_data()
{
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<qint64>("frames");
    QTest::newRow("empty") << QByteArray() << qint64(1);
    QTest::newRow("one byte short of a frame") << textBytes(F - 1) << qint64(1);
    // A multiple of the frame size ends with an empty frame, as the cipher output ends with an
    // empty chunk.
    QTest::newRow("one frame exactly") << textBytes(F) << qint64(2);
    QTest::newRow("two frames and a byte") << patternBytes(2 * F + 1, 3) << qint64(3);
}

// Each frame's header declares exactly the content it holds: full frames, then a short last
// one, and the sum is the plain text's size.
void TestCompression::framesDeclareTheirContent()
{
    QFETCH(QByteArray, plain);
    QFETCH(qint64, frames);
    const auto compressed = CompressData(plain);
    QVERIFY(compressed);
    QCOMPARE(frameCount(plain.size()), frames);
    const FrameSequence sequence = walk(*compressed);
    QCOMPARE(sequence.status, FrameSequence::Good);
    QCOMPARE(sequence.frames, frames);
    QCOMPARE(sequence.contentSize, qint64(plain.size()));
    // The frames one by one, as zstd itself sees them.
    qsizetype at = 0;
    for (qint64 index = 0; index < frames; ++index) {
        const QByteArrayView rest = QByteArrayView(*compressed).sliced(at);
        const std::size_t size =
            ZSTD_findFrameCompressedSize(rest.data(), std::size_t(rest.size()));
        QVERIFY(!ZSTD_isError(size));
        const qint64 expected = index + 1 == frames ? plain.size() % F : F;
        QCOMPARE(qint64(ZSTD_getFrameContentSize(rest.data(), size)), expected);
        at += qsizetype(size);
    }
    QCOMPARE(at, compressed->size());
}

// The walk stops once the declared content passes the limit, and says so, without reading
// further: a few bytes that declare gigabytes cost a few reads.
void TestCompression::walkStopsAtTheLimit()
{
    const QByteArray compressed = *CompressData(textBytes(3 * F + 5));
    qint64 lastRead = 0;
    const ReadAt read = [&](qint64 offset, char* data, qint64 size) {
        lastRead = std::max(lastRead, offset + size);
        std::copy_n(compressed.constData() + offset, size, data);
        return true;
    };
    QCOMPARE(walkFrames(read, compressed.size(), 3 * F + 5).status, FrameSequence::Good);
    QCOMPARE(lastRead, qint64(compressed.size()));
    lastRead = 0;
    const FrameSequence limited = walkFrames(read, compressed.size(), 2 * F - 1);
    QCOMPARE(limited.status, FrameSequence::TooLarge);
    QCOMPARE(limited.frames, qint64(2));
    // It read into the second frame (its block headers), and nothing after it.
    const auto frameSize = [&compressed](qsizetype at) {
        return qsizetype(ZSTD_findFrameCompressedSize(compressed.constData() + at,
                                                      std::size_t(compressed.size() - at)));
    };
    const qsizetype firstEnd = frameSize(0);
    QVERIFY(lastRead > firstEnd);
    QVERIFY(lastRead <= firstEnd + frameSize(firstEnd));
}

void TestCompression::blockRules_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("plain"); // what it holds
    QTest::addColumn<bool>("accepted");
    const QByteArray plain = patternBytes(kMaxBlocksPerFrame + 1, 8);
    const QByteArray abc("abc");
    const QByteArray runs("abbbbc");
    QTest::newRow("zstd's own") << zstdFrame(abc, true) << abc << true;
    QTest::newRow("raw and RLE blocks")
        << reblocked(runs, rawBlock("a") + rleBlock('b', 4) + rawBlock("c", true)) << runs << true;
    // How a zstd stream ends a frame when its input ended after a flush.
    QTest::newRow("empty last block")
        << reblocked(abc, rawBlock(abc) + rawBlock({}, true)) << abc << true;
    QTest::newRow("as many blocks as a frame may hold")
        << oneByteBlocks(plain.first(kMaxBlocksPerFrame)) << plain.first(kMaxBlocksPerFrame)
        << true;
    // zstd decodes these, but never writes them: a reader would walk them by the million.
    QTest::newRow("empty raw block before the last")
        << reblocked(abc, rawBlock({}) + rawBlock(abc, true)) << abc << false;
    QTest::newRow("empty RLE block before the last")
        << reblocked(abc, rleBlock('x', 0) + rawBlock(abc, true)) << abc << false;
    QTest::newRow("one block more than a frame may hold") << oneByteBlocks(plain) << plain << false;
}

// The rules on a frame's blocks hold alike for the walk, the whole output in memory and a
// file's payload; what breaks none of them decodes.
void TestCompression::blockRules()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, plain);
    QFETCH(bool, accepted);
    // zstd itself reads every one of them.
    QByteArray decoded(plain.size(), '\0');
    QCOMPARE(ZSTD_decompress(decoded.data(), std::size_t(decoded.size()), frame.constData(),
                             std::size_t(frame.size())),
             std::size_t(plain.size()));
    QCOMPARE(decoded, plain);

    QCOMPARE(walk(frame).status, accepted ? FrameSequence::Good : FrameSequence::Refused);
    QCOMPARE(DecompressData(frame), accepted ? std::optional(plain) : std::nullopt);
    QCOMPARE(restoredAsFile(frame), accepted ? JobOutcome::Done : JobOutcome::BadInput);
}

void TestCompression::walkReadsInLargePieces_data()
{
    QTest::addColumn<QByteArray>("compressed");
    QTest::addColumn<FrameSequence::Status>("status");
    QTest::addColumn<qint64>("maxReads");
    QTest::addColumn<qint64>("maxBytesRead");
    constexpr qint64 kRead = 64 << 10;
    // Reads grow to their largest size within a few reads.
    constexpr qint64 kGrowing = 16;
    const QByteArray last = *CompressData("the end");

    // Several MiB of empty raw blocks after headers that declare 4 MiB, each frame as long as a
    // frame may be: a read for every 3 bytes.
    const QByteArray empty = emptyRawBlockFrames(kMaxFrameSize, 3) + last;
    QTest::newRow("empty raw blocks")
        << empty << FrameSequence::Refused << empty.size() / kRead + 4 + kGrowing
        << qint64(empty.size());

    // Within the rules until decoded: full frames of one-byte blocks, as many as a frame may
    // hold, across several MiB.
    const QByteArray oneByte = fullFramesOf(oneByteRawBlocks(kMaxBlocksPerFrame - 1), 100) + last;
    QTest::newRow("one-byte raw blocks")
        << oneByte << FrameSequence::Good << oneByte.size() / kRead + 101 + kGrowing
        << 2 * qint64(oneByte.size());

    // Random bytes: zstd stores them in raw blocks of 128 KiB, which the walk skips, a read
    // for each header and hardly a byte more.
    const QByteArray random = *CompressData(patternBytes(2 * F + 12345, 9));
    QTest::newRow("zstd's own blocks of random bytes")
        << random << FrameSequence::Good << random.size() / (128 << 10) + 2 * 3
        << qint64(random.size() / 100);
}

// A payload of tiny blocks is walked a large piece at a time, not a read per block header; the
// walk of large blocks reads little beyond their headers.
void TestCompression::walkReadsInLargePieces()
{
    QFETCH(QByteArray, compressed);
    QFETCH(FrameSequence::Status, status);
    QFETCH(qint64, maxReads);
    QFETCH(qint64, maxBytesRead);
    qint64 reads = 0;
    qint64 bytesRead = 0;
    const ReadAt read = [&](qint64 offset, char* data, qint64 size) {
        if (offset < 0 || size < 0 || offset + size > compressed.size())
            return false;
        ++reads;
        bytesRead += size;
        std::copy_n(compressed.constData() + offset, size, data);
        return true;
    };
    QCOMPARE(walkFrames(read, compressed.size(), std::numeric_limits<qint64>::max()).status,
             status);
    QVERIFY2(reads <= maxReads, qPrintable(QStringLiteral("%1 reads").arg(reads)));
    QVERIFY2(bytesRead <= maxBytesRead, qPrintable(QStringLiteral("%1 bytes").arg(bytesRead)));
}

// The output is one zstd stream for zstd's own command-line tool, frames and all.
void TestCompression::zstdToolReadsTheOutput()
{
    const QString zstd = QStandardPaths::findExecutable(QStringLiteral("zstd"));
    if (zstd.isEmpty())
        QSKIP("the zstd command-line tool is not installed (apt-get install zstd)");
    const QByteArray plain = textBytes(2 * F + 12345) + patternBytes(F / 2, 4);
    const auto compressed = CompressData(plain);
    QVERIFY(compressed);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("out.zst"));
    {
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        QCOMPARE(out.write(*compressed), compressed->size());
    }
    QProcess process;
    process.start(zstd, {QStringLiteral("-d"), QStringLiteral("-c"), QStringLiteral("-q"), file});
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(process.readAllStandardOutput() == plain);
}

QTEST_GUILESS_MAIN(TestCompression)
#include "tst_compression.moc"
