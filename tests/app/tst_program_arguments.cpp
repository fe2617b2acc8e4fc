#include "app/program_arguments.h"
#include "support/command_line.h"

#include <QTest>

using namespace virellock;

class TestProgramArguments : public QObject
{
    Q_OBJECT

private slots:
    void splitAtTheSeparator_data();
    void splitAtTheSeparator();
};

void TestProgramArguments::splitAtTheSeparator_data()
{
    QTest::addColumn<QList<QByteArray>>("arguments"); // after the program's name
    QTest::addColumn<QList<QByteArray>>("forQt");     // the program's name first
    QTest::addColumn<QList<int>>("takenByQt");        // the places in forQt of Qt's options
    QTest::addColumn<QStringList>("files");

    QTest::newRow("none") << QList<QByteArray>{} << QList<QByteArray>{"virellock"} << QList<int>{}
                          << QStringList{};
    QTest::newRow("files without a separator")
        << QList<QByteArray>{"a.txt", "-dash.txt"}
        << QList<QByteArray>{"virellock", "a.txt", "-dash.txt"} << QList<int>{}
        << QStringList{"a.txt", "-dash.txt"};
    QTest::newRow("Qt's options before the separator, files after")
        << QList<QByteArray>{"-platform", "offscreen", "--", "-style", "fusion"}
        << QList<QByteArray>{"virellock", "-platform", "offscreen"} << QList<int>{1, 2}
        << QStringList{"-style", "fusion"};
    QTest::newRow("Qt's options among files before the separator")
        << QList<QByteArray>{"a.txt", "-reverse", "b.txt", "--", "c.txt"}
        << QList<QByteArray>{"virellock", "a.txt", "-reverse", "b.txt"} << QList<int>{2}
        << QStringList{"a.txt", "b.txt", "c.txt"};
    QTest::newRow("files named like Qt's options")
        << QList<QByteArray>{"--", "-platformpluginpath", ".", "-qwindowgeometry", "1x1", "-style"}
        << QList<QByteArray>{"virellock"} << QList<int>{}
        << QStringList{"-platformpluginpath", ".", "-qwindowgeometry", "1x1", "-style"};
    QTest::newRow("a second separator is a file")
        << QList<QByteArray>{"--", "a", "--", "b"} << QList<QByteArray>{"virellock"} << QList<int>{}
        << QStringList{"a", "--", "b"};
    QTest::newRow("separators inside names")
        << QList<QByteArray>{"--x", "a--b", "---", "--", "-- c"}
        << QList<QByteArray>{"virellock", "--x", "a--b", "---"} << QList<int>{}
        << QStringList{"--x", "a--b", "---", "-- c"};
    QTest::newRow("a separator at the end")
        << QList<QByteArray>{"a.txt", "--"} << QList<QByteArray>{"virellock", "a.txt"}
        << QList<int>{} << QStringList{"a.txt"};
#ifndef Q_OS_WIN
    // Windows hands the program its arguments as UTF-16, not as these bytes.
    QTest::newRow("Chinese") << QList<QByteArray>{"--", "日记 diary.txt"}
                             << QList<QByteArray>{"virellock"} << QList<int>{}
                             << QStringList{QStringLiteral("日记 diary.txt")};
    QTest::newRow("bytes that are no text")
        << QList<QByteArray>{"--", "ok.txt", "bad\xff.txt", "b.txt"}
        << QList<QByteArray>{"virellock"} << QList<int>{} << QStringList{"ok.txt", "b.txt"};
#endif
}

// Qt is given only what stands before the first "--", and is left to take its options out of
// it (here as QApplication would); the files are what it left, and everything after "--".
void TestProgramArguments::splitAtTheSeparator()
{
    QFETCH(QList<QByteArray>, arguments);
    QFETCH(QList<QByteArray>, forQt);
    QFETCH(QList<int>, takenByQt);
    QFETCH(QStringList, files);

    test::CommandLine commandLine(QList<QByteArray>{"virellock"} + arguments);
    ProgramArguments split(commandLine.argc(), commandLine.argv());

    int& count = split.qtArgumentCount();
    char** qt = split.qtArguments();
    QList<QByteArray> givenToQt;
    for (int index = 0; index < count; ++index)
        givenToQt << QByteArray(qt[index]);
    QCOMPARE(givenToQt, forQt);
    QCOMPARE(qt[count], nullptr);

    int kept = 0;
    for (int index = 0; index < count; ++index) {
        if (!takenByQt.contains(index))
            qt[kept++] = qt[index];
    }
    qt[kept] = nullptr;
    count = kept;
    QCOMPARE(split.files(), files);
}

QTEST_GUILESS_MAIN(TestProgramArguments)
#include "tst_program_arguments.moc"
