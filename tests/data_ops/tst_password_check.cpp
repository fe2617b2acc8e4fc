#include "host/data_ops/key_derivation.h"
#include "host/data_ops/password_check.h"

#include <QTest>

using namespace virellock::dataops;

class TestPasswordCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void acceptsTheExactPasswordOnly_data();
    void acceptsTheExactPasswordOnly();
    void checksAreSaltedAndOneWay();
    void passwordBytesAreFormCInUtf8_data();
    void passwordBytesAreFormCInUtf8();

private:
    const QString m_password = QStringLiteral(" 空格 Pass word ");
    QByteArray m_check;
};

void TestPasswordCheck::initTestCase()
{
    const auto check = makePasswordCheck(m_password);
    QVERIFY(check);
    m_check = *check;
    QCOMPARE(m_check.size(), kSaltSize + kPasswordCheckHashSize);
}

void TestPasswordCheck::acceptsTheExactPasswordOnly_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("exact") << m_password << true;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("trailing blank dropped") << m_password.chopped(1) << false;
    QTest::newRow("leading blank dropped") << m_password.sliced(1) << false;
    QTest::newRow("extra trailing blank") << m_password + u' ' << false;
    QTest::newRow("case differs") << QStringLiteral(" 空格 pass word ") << false;
    QTest::newRow("inner blank removed") << QStringLiteral(" 空格 Password ") << false;
    QTest::newRow("ideographic blank for a space")
        << QStringLiteral(" 空格\u3000Pass word ") << false;
}

void TestPasswordCheck::acceptsTheExactPasswordOnly()
{
    QFETCH(QString, typed);
    QFETCH(bool, accepted);
    QCOMPARE(verifyPasswordCheck(m_check, typed), accepted);
}

void TestPasswordCheck::checksAreSaltedAndOneWay()
{
    const auto again = makePasswordCheck(m_password);
    QVERIFY(again);
    QVERIFY(*again != m_check);
    QVERIFY(verifyPasswordCheck(*again, m_password));
    QVERIFY(!m_check.contains(passwordToBytes(m_password)));
    QVERIFY(!verifyPasswordCheck(m_check.chopped(1), m_password));
    QVERIFY(!verifyPasswordCheck(m_check + 'x', m_password));

    // Normal form C: "é" typed as one code point or as e + combining accent is one password.
    const auto composed = makePasswordCheck(QStringLiteral("caf\u00e9"));
    QVERIFY(composed);
    QVERIFY(verifyPasswordCheck(*composed, QStringLiteral("cafe\u0301")));
}

void TestPasswordCheck::passwordBytesAreFormCInUtf8_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("ASCII, blanks kept")
        << QStringLiteral(" Pass word ") << QByteArray(" Pass word ");
    QTest::newRow("composed") << QStringLiteral("caf\u00e9") << QByteArray("caf\xc3\xa9");
    QTest::newRow("combining acute") << QStringLiteral("cafe\u0301") << QByteArray("caf\xc3\xa9");
    QTest::newRow("decomposes longer, composes again")
        << QStringLiteral("\u1eb9\u0302") << QByteArray("\xe1\xbb\x87");
    QTest::newRow("marks out of order")
        << QStringLiteral("e\u0301\u0323") << QByteArray("\xe1\xba\xb9\xcc\x81");
    QTest::newRow("Angstrom sign") << QStringLiteral("\u212b") << QByteArray("\xc3\x85");
    QTest::newRow("Hangul jamo") << QStringLiteral("\u1100\u1161") << QByteArray("\xea\xb0\x80");
    QTest::newRow("outside the BMP, never composed")
        << QStringLiteral("\U0001D160")
        << QByteArray("\xf0\x9d\x85\x98\xf0\x9d\x85\xa5\xf0\x9d\x85\xae");
}

void TestPasswordCheck::passwordBytesAreFormCInUtf8()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, bytes);
    QCOMPARE(passwordToBytes(typed), bytes);
}

QTEST_GUILESS_MAIN(TestPasswordCheck)
#include "tst_password_check.moc"
