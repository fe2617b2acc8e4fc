#include "host/host_services/progress_text.h"

#include <QTest>

using namespace virellock;

namespace {

constexpr qint64 MiB = 1 << 20;

ProgressState at(qint64 done, qint64 total, const QString& name = QStringLiteral("a.bin"),
                 int index = 0, int count = 1)
{
    return {done, total, name, index, count};
}

} // namespace

class TestProgressText : public QObject
{
    Q_OBJECT

private slots:
    void fileLine_data();
    void fileLine();
    void amountLine_data();
    void amountLine();
    void speedIsSmoothed();
    void speedCarriesOverToTheNextFile();
};

void TestProgressText::fileLine_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("line");
    QTest::newRow("one file") << "日记 diary.txt" << 0 << 1 << "正在处理: 日记 diary.txt";
    QTest::newRow("second of five") << "b.bin" << 1 << 5 << "正在处理第 2 个文件, 共 5 个: b.bin";
    QTest::newRow("last of five") << "e" << 4 << 5 << "正在处理第 5 个文件, 共 5 个: e";
    QTest::newRow("no file") << "" << 0 << 1 << "";
}

void TestProgressText::fileLine()
{
    QFETCH(QString, name);
    QFETCH(int, index);
    QFETCH(int, count);
    QFETCH(QString, line);
    ProgressEstimate estimate;
    estimate.update(at(0, 10 * MiB, name, index, count), 0);
    QCOMPARE(estimate.fileLine(), line);
}

void TestProgressText::amountLine_data()
{
    QTest::addColumn<qint64>("doneInOneSecond"); // sets the speed
    QTest::addColumn<qint64>("total");
    QTest::addColumn<QString>("line");
    QTest::newRow("seconds") << 10 * MiB << 40 * MiB << "10.0 / 40.0 MiB, 10.0 MiB/s, 剩余约 3 秒";
    QTest::newRow("under a second left")
        << 10 * MiB << 11 * MiB << "10.0 / 11.0 MiB, 10.0 MiB/s, 剩余约 1 秒";
    QTest::newRow("minutes") << MiB << 91 * MiB << "1.0 / 91.0 MiB, 1.0 MiB/s, 剩余约 1 分 30 秒";
    QTest::newRow("hours") << MiB << 7501 * MiB
                           << "1.0 / 7501.0 MiB, 1.0 MiB/s, 剩余约 2 小时 5 分";
    QTest::newRow("fractions of a MiB")
        << MiB / 2 << 3 * MiB / 2 << "0.5 / 1.5 MiB, 0.5 MiB/s, 剩余约 2 秒";
    // Nothing moved yet (the keys are being derived): no speed to tell.
    QTest::newRow("no bytes yet") << qint64(0) << 40 * MiB << "0.0 / 40.0 MiB";
    // All read: what remains is checking and replacing, whose time the bytes do not tell.
    QTest::newRow("all done") << 40 * MiB << 40 * MiB << "40.0 / 40.0 MiB";
}

void TestProgressText::amountLine()
{
    QFETCH(qint64, doneInOneSecond);
    QFETCH(qint64, total);
    QFETCH(QString, line);
    ProgressEstimate estimate;
    estimate.update(at(0, total), 0);
    estimate.update(at(doneInOneSecond, total), 1000);
    QCOMPARE(estimate.amountLine(), line);
}

// A steady speed is shown as it is; one fast stretch moves it only part of the way, and a
// stall of the work's start (the key derivation) does not count as a slow speed.
void TestProgressText::speedIsSmoothed()
{
    ProgressEstimate estimate;
    const qint64 total = 1000 * MiB;
    qint64 ms = 0;
    estimate.update(at(0, total), ms);
    ms += 2000; // deriving the keys: nothing moves
    estimate.update(at(0, total), ms);
    QVERIFY(!estimate.bytesPerSecond());
    qint64 done = 0;
    for (int step = 0; step < 40; ++step) { // 10 s at 10 MiB/s, a report every 250 ms
        ms += 250;
        done += 10 * MiB / 4;
        estimate.update(at(done, total), ms);
    }
    QVERIFY(estimate.bytesPerSecond());
    QCOMPARE(qRound(*estimate.bytesPerSecond() / MiB * 10), 100);
    QCOMPARE(estimate.amountLine(),
             QStringLiteral("100.0 / 1000.0 MiB, 10.0 MiB/s, 剩余约 1 分 30 秒"));

    ms += 250;
    done += 100 * MiB / 4; // one stretch at 100 MiB/s
    estimate.update(at(done, total), ms);
    const double afterBurst = *estimate.bytesPerSecond() / MiB;
    QVERIFY2(afterBurst > 10.0 && afterBurst < 28.0, qPrintable(QString::number(afterBurst)));

    // Reports closer together than a sample are gathered into one.
    estimate.update(at(done + MiB, total), ms + 10);
    QCOMPARE(*estimate.bytesPerSecond() / MiB, afterBurst);
}

// The next file starts from the last speed; the stretches spent checking the finished file and
// deriving the next one's keys do not slow it down.
void TestProgressText::speedCarriesOverToTheNextFile()
{
    ProgressEstimate estimate;
    estimate.update(at(0, 20 * MiB, QStringLiteral("a"), 0, 2), 0);
    estimate.update(at(10 * MiB, 20 * MiB, QStringLiteral("a"), 0, 2), 1000);
    estimate.update(at(20 * MiB, 20 * MiB, QStringLiteral("a"), 0, 2), 2000);
    estimate.update(at(20 * MiB, 20 * MiB, QStringLiteral("a"), 0, 2), 9000); // checking
    estimate.update(at(0, 30 * MiB, QStringLiteral("b"), 1, 2), 9100);
    estimate.update(at(0, 30 * MiB, QStringLiteral("b"), 1, 2), 11100); // deriving its keys
    QCOMPARE(estimate.fileLine(), QStringLiteral("正在处理第 2 个文件, 共 2 个: b"));
    QCOMPARE(estimate.amountLine(), QStringLiteral("0.0 / 30.0 MiB, 10.0 MiB/s, 剩余约 3 秒"));
}

QTEST_GUILESS_MAIN(TestProgressText)
#include "tst_progress_text.moc"
