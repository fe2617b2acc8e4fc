#include "host/host_services/text_services.h"
#include "host/file_format/typed_data.h"

#include <QBuffer>
#include <QTest>
#include <QtEndian>

using namespace virellock;

namespace {

QByteArray lengthBytes(quint64 length)
{
    QByteArray bytes(8, Qt::Uninitialized);
    qToLittleEndian(length, bytes.data());
    return bytes;
}

} // namespace

class TestTypedData : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void layoutIsLengthThenBytes();
    void refusals_data();
    void refusals();
    void removeAllSpaces_data();
    void removeAllSpaces();
};

void TestTypedData::roundTrip_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("last");
    QTest::newRow("all empty") << QByteArray() << QString() << QByteArray();
    QTest::newRow("empty text") << QByteArray("\0\1\2", 3) << QString() << QByteArray("x");
    QTest::newRow("Chinese hint") << QByteArray(48, 's') << QStringLiteral("我的生日 + 猫的名字")
                                  << QByteArray(70000, '\xff');
    QTest::newRow("text starting with U+FEFF")
        << QByteArray("b") << QStringLiteral("\uFEFFhint") << QByteArray("c");
    QTest::newRow("text with blanks and line break")
        << QByteArray("a") << QStringLiteral("  two\r\nlines  ") << QByteArray();
}

void TestTypedData::roundTrip()
{
    QFETCH(QByteArray, first);
    QFETCH(QString, text);
    QFETCH(QByteArray, last);
    QBuffer buffer;
    QVERIFY(buffer.open(QIODevice::ReadWrite));
    QVERIFY(WriteTypedData(buffer, first, text, last));
    QVERIFY(buffer.seek(0));
    QByteArray readFirst("stale"), readLast("stale");
    QString readText(QStringLiteral("stale"));
    QVERIFY(ReadTypedData(buffer, readFirst, readText, readLast));
    QCOMPARE(readFirst, first);
    QCOMPARE(readText, text);
    QCOMPARE(readLast, last);
}

void TestTypedData::layoutIsLengthThenBytes()
{
    QBuffer buffer;
    QVERIFY(buffer.open(QIODevice::WriteOnly));
    QVERIFY(WriteTypedData(buffer, QByteArray("ab"), QStringLiteral("中")));
    QCOMPARE(buffer.data(), lengthBytes(2) + "ab" + lengthBytes(3) + "\xe4\xb8\xad");
}

void TestTypedData::refusals_data()
{
    QTest::addColumn<QByteArray>("input");
    const QByteArray valid = lengthBytes(2) + "ab" + lengthBytes(1) + "h" + lengthBytes(3) + "xyz";
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("short length") << lengthBytes(2).first(5);
    QTest::newRow("cut in the last value") << valid.chopped(1);
    QTest::newRow("third value missing") << valid.first(valid.size() - 11);
    QTest::newRow("trailing byte") << valid + 'x';
    QTest::newRow("length past the end") << lengthBytes(1000) + "ab";
    QTest::newRow("huge length") << lengthBytes(~quint64(0)) + "ab";
    QTest::newRow("length just past the end")
        << lengthBytes(2) + "ab" + lengthBytes(1) + "h" + lengthBytes(4) + "xyz";
    QTest::newRow("text not UTF-8")
        << lengthBytes(2) + "ab" + lengthBytes(1) + "\xff" + lengthBytes(3) + "xyz";
}

void TestTypedData::refusals()
{
    QFETCH(QByteArray, input);
    QBuffer buffer(&input);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QByteArray first, last;
    QString text;
    QVERIFY(!ReadTypedData(buffer, first, text, last));
}

void TestTypedData::removeAllSpaces_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("blanks only") << QStringLiteral("   ") << QString();
    QTest::newRow("tabs and ideographic space") << QStringLiteral("\t\u3000 \t") << QString();
    QTest::newRow("inner and outer")
        << QStringLiteral(" a b\u3000密 码 ") << QStringLiteral("ab密码");
    QTest::newRow("nothing to remove") << QStringLiteral("abc") << QStringLiteral("abc");
}

void TestTypedData::removeAllSpaces()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(RemoveAllSpaces(text), expected);
    QCOMPARE(IsAllSpaces(text), expected.isEmpty());
}

QTEST_GUILESS_MAIN(TestTypedData)
#include "tst_typed_data.moc"
